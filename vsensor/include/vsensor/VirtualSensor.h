// Control interface of the virtual sensor, for tests and tools. The virtual sensor itself is
// reached through the QuickUSB C calls it exports (tolmar2/QuickUsbApi.h).
//
// Environment (read by reset()):
//   TOLMAR_VSENSOR_PROFILE  unit profile: single (default), disc13, ar, legacy, unusable, blank
//   TOLMAR_VSENSOR_MODULES  number of modules listed (default 1: "QUSB-0")
//   TOLMAR_VSENSOR_FAULTS   scheduled faults, comma separated, e.g. "i2c-write-fail@3,i2c-short-read@5"
#ifndef VSENSOR_VIRTUALSENSOR_H
#define VSENSOR_VIRTUALSENSOR_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vsensor {

// Memory address of the calibration record in the I2C memory (device 0x51).
constexpr uint16_t kRecordAddress = 0x2000;
constexpr uint16_t kI2cDevice = 0x51;
constexpr size_t kI2cMemorySize = 65536;
constexpr size_t kI2cPageSize = 64;

// Names of the unit profiles.
std::vector<std::string> profileNames();

// Returns the emulation to power-on state with the profile and faults from the environment.
// Closes every open module.
void reset();

// Loads a unit profile (memory contents and identity); false for an unknown name.
bool loadProfile(const std::string& name);
std::string currentProfile();

// Number of modules the module list shows ("QUSB-0", "QUSB-1", ...).
void setModuleCount(int count);

// Direct access to the I2C memory, bypassing the bus (no faults, no log).
std::vector<uint8_t> readMemory(uint16_t address, size_t length);
void writeMemory(uint16_t address, const std::vector<uint8_t>& bytes);
void fillMemory(uint8_t value);

// Faults. The counter of a kind counts the transfers of that kind from the moment of
// scheduling: nth = 1 is the next one. `repeat` consecutive transfers from there are hit.
enum class Fault {
    I2cWriteFail,  // the I2C write fails (nothing stored)
    I2cReadFail,   // the I2C read fails (nothing returned)
    I2cShortRead,  // the I2C read returns fewer bytes than asked
};
void scheduleFault(Fault fault, int nth, int repeat = 1);
void clearFaults();
// Parses a TOLMAR_VSENSOR_FAULTS text; false (nothing scheduled) on a syntax error.
bool scheduleFaults(const std::string& spec);

// Every I2C transfer on the bus, in order, for tests.
struct I2cTransfer {
    bool write = false;
    uint16_t device = 0;
    uint16_t memoryAddress = 0;  // where the transfer started
    size_t dataLength = 0;       // data bytes moved (writes: excluding the two address bytes)
    bool ok = false;
};
std::vector<I2cTransfer> i2cLog();
void clearI2cLog();

}  // namespace vsensor

#endif  // VSENSOR_VIRTUALSENSOR_H
