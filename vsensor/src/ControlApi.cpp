// The control interface: thin entry points onto the one emulation.
#include "Emulation.h"
#include "vsensor/VirtualSensor.h"

namespace vsensor {
namespace {
detail::Emulation& emu() {
    return detail::Emulation::instance();
}
}  // namespace

void reset() {
    emu().reset();
}
bool replug(const std::string& name) {
    return emu().replug(name);
}
bool loadProfile(const std::string& name) {
    return emu().loadProfile(name);
}
std::string currentProfile() {
    return emu().currentProfile();
}
void setModuleCount(int count) {
    emu().setModuleCount(count);
}
int moduleCount() {
    return emu().moduleCount();
}
void setHighSpeed(bool highSpeed) {
    emu().setHighSpeed(highSpeed);
}
std::vector<uint8_t> readMemory(uint16_t address, size_t length, int module) {
    return emu().readMemory(address, length, module);
}
void writeMemory(uint16_t address, const std::vector<uint8_t>& bytes, int module) {
    emu().writeMemory(address, bytes, module);
}
void fillMemory(uint8_t value, int module) {
    emu().fillMemory(value, module);
}
void scheduleFault(Fault fault, int nth, int repeat) {
    emu().scheduleFault(fault, nth, repeat);
}
void clearFaults() {
    emu().clearFaults();
}
bool scheduleFaults(const std::string& text) {
    return emu().scheduleFaults(text);
}
std::vector<I2cTransfer> i2cLog() {
    return emu().i2cLog();
}
void clearI2cLog() {
    emu().clearI2cLog();
}
void unplug() {
    emu().unplug();
}
BoardState boardState(int module) {
    return emu().boardState(module);
}
PlasmaModel plasmaModel() {
    return emu().plasmaModel();
}
void setPlasmaModel(const PlasmaModel& model) {
    emu().setPlasmaModel(model);
}
void setStreamSpeed(double speed) {
    emu().setStreamSpeed(speed);
}
void setSyncFrequency(double hz, int module) {
    emu().setSyncFrequency(hz, module);
}
double syncFrequency(int module) {
    return emu().syncFrequency(module);
}
std::vector<BlockWrite> blockWriteLog(int module) {
    return emu().blockWriteLog(module);
}
void clearBlockWriteLog(int module) {
    emu().clearBlockWriteLog(module);
}

}  // namespace vsensor
