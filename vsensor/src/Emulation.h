// The emulated QuickUSB module(s) and the board behind them. One instance per process; one lock
// guards all of it, since the program polls the sensor from several threads. The state is set up
// from the environment on first use.
#ifndef VSENSOR_EMULATION_H
#define VSENSOR_EMULATION_H

#include <array>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "FaultSchedule.h"
#include "FifoStream.h"
#include "FpgaBoard.h"
#include "I2cMemory.h"
#include "quickusb/QuickUsbApi.h"
#include "vsensor/VirtualSensor.h"

namespace vsensor::detail {

struct Module {
    std::string name;
    QHANDLE handle = 0;  // 0 while closed
    I2cMemory memory;
    std::array<QWORD, kSettingCount> settings{};
    FpgaBoard board;
    FifoStream fifo;                                   // the board's measured data
    std::array<std::deque<QBYTE>, kRs232Ports> rs232;  // each port loops back to itself
};

class Emulation {
public:
    static Emulation& instance();

    // The QuickUSB calls (see quickusb/QuickUsbApi.h).
    QRETURN findModules(char* nameList, QULONG length);
    QRETURN open(QHANDLE* hDevice, const char* devName);
    QRETURN close(QHANDLE hDevice);
    QRETURN getStringDescriptor(QHANDLE hDevice, QBYTE index, char* buffer, QWORD length);
    QRETURN readSetting(QHANDLE hDevice, QWORD address, QWORD* value);
    QRETURN writeSetting(QHANDLE hDevice, QWORD address, QWORD value);
    QRETURN getDriverVersion(QWORD* major, QWORD* minor, QWORD* build);
    QRETURN getDllVersion(QWORD* major, QWORD* minor, QWORD* build);
    QRETURN startFpgaConfiguration(QHANDLE hDevice);
    QRETURN writeFpgaData(QHANDLE hDevice, const QBYTE* data, QULONG length);
    QRETURN isFpgaConfigured(QHANDLE hDevice, QWORD* isConfigured);
    QRETURN writeData(QHANDLE hDevice, const QBYTE* data, QULONG length);
    QRETURN readData(QHANDLE hDevice, QBYTE* data, QULONG* length);
    QRETURN getLastError(QULONG* error);
    QRETURN writeI2c(QHANDLE hDevice, QWORD address, const QBYTE* data, QWORD length);
    QRETURN readI2c(QHANDLE hDevice, QWORD address, QBYTE* data, QWORD* length);
    QRETURN setRs232BaudRate(QHANDLE hDevice, QULONG baudRate);
    QRETURN getNumRs232(QHANDLE hDevice, QBYTE portNum, QWORD* length);
    QRETURN flushRs232(QHANDLE hDevice, QBYTE portNum);
    QRETURN readRs232(QHANDLE hDevice, QBYTE portNum, QBYTE* data, QWORD* length);
    QRETURN writeRs232(QHANDLE hDevice, QBYTE portNum, const QBYTE* data, QWORD length);

    // The control interface (vsensor/VirtualSensor.h).
    void reset();
    bool loadProfile(const std::string& name);
    bool replug(const std::string& name);
    std::string currentProfile();
    void setModuleCount(int count);
    int moduleCount();
    void setHighSpeed(bool highSpeed);
    std::vector<uint8_t> readMemory(uint16_t address, size_t length, int module);
    void writeMemory(uint16_t address, const std::vector<uint8_t>& bytes, int module);
    void fillMemory(uint8_t value, int module);
    void scheduleFault(Fault fault, int nth, int repeat);
    void clearFaults();
    bool scheduleFaults(const std::string& text);
    std::vector<I2cTransfer> i2cLog();
    void clearI2cLog();
    void unplug();
    BoardState boardState(int module);
    PlasmaModel plasmaModel();
    void setPlasmaModel(const PlasmaModel& model);
    void setStreamSpeed(double speed);
    void setSyncFrequency(double hz, int module);
    double syncFrequency(int module);
    std::vector<BlockWrite> blockWriteLog(int module);
    void clearBlockWriteLog(int module);

private:
    using Lock = std::unique_lock<std::mutex>;
    Lock lock();  // takes the lock and sets up from the environment on first use

    void resetLocked();
    void buildModulesLocked(int count);
    void loadProfileLocked(const UnitProfile& profile);
    QRETURN fail(LastError code);
    // The module with this handle; none (with kErrorInvalidHandle) when there is none, and
    // none (with kErrorDeviceRemoved) once the cable is pulled.
    Module* moduleLocked(QHANDLE hDevice);
    bool unpluggedLocked();  // counts a call reaching the module for a scheduled unplug
    Module* moduleAt(int index);
    QRETURN portLocked(QHANDLE hDevice, QBYTE portNum, std::deque<QBYTE>*& port);
    void warnOnce(const std::string& text);
    void logTransfer(const I2cTransfer& t);  // keeps the newest kI2cLogSize
    // Starts, stops or clears the module's stream after a block write.
    void updateStreamLocked(Module& m, bool wasRunning);

    std::mutex mutex_;
    bool initialised_ = false;
    std::vector<Module> modules_;
    const UnitProfile* profile_ = nullptr;
    bool highSpeed_ = true;
    double syncOverride_ = -1;  // TOLMAR_VSENSOR_SYNC_HZ, over the profile's (-1: not given)
    QULONG lastError_ = kErrorNone;
    QHANDLE nextHandle_ = 1;
    FaultSchedule faults_;
    bool unplugged_ = false;
    std::deque<I2cTransfer> log_;
    std::set<std::string> warned_;
    PlasmaModel model_;
    double streamSpeed_ = 1;
};

}  // namespace vsensor::detail

#endif  // VSENSOR_EMULATION_H
