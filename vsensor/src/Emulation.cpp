#include "Emulation.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "Profiles.h"

namespace vsensor::detail {
namespace {

constexpr QWORD kChipSetting = 17;

const char* envText(const char* name) {
    const char* v = std::getenv(name);
    return (v && *v) ? v : nullptr;
}

// Copies text into a buffer of `length` bytes, cut to fit, always NUL-terminated.
void copyText(const std::string& text, char* buffer, size_t length) {
    const size_t n = std::min(text.size(), length - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

}  // namespace

Emulation& Emulation::instance() {
    static Emulation emulation;
    return emulation;
}

Emulation::Lock Emulation::lock() {
    Lock l(mutex_);
    if (!initialised_)
        resetLocked();
    return l;
}

void Emulation::warnOnce(const std::string& text) {
    if (warned_.insert(text).second)
        std::fprintf(stderr, "vsensor: %s\n", text.c_str());
}

void Emulation::resetLocked() {
    initialised_ = true;
    lastError_ = kErrorNone;
    highSpeed_ = true;
    log_.clear();
    faults_.clear();
    unplugged_ = false;
    model_ = PlasmaModel();
    streamSpeed_ = FifoStream::speedFromEnvironment();

    profile_ = findProfile("single");
    if (const char* name = envText("TOLMAR_VSENSOR_PROFILE")) {
        if (const UnitProfile* p = findProfile(name)) {
            profile_ = p;
        } else {
            warnOnce(std::string("unknown TOLMAR_VSENSOR_PROFILE \"") + name +
                     "\", using \"single\"");
        }
    }

    int count = 1;
    if (const char* text = envText("TOLMAR_VSENSOR_MODULES")) {
        char* end = nullptr;
        errno = 0;
        const long v = std::strtol(text, &end, 10);
        if (errno == 0 && *end == '\0' && v >= 0 && v <= kMaxModules) {
            count = static_cast<int>(v);
        } else {
            warnOnce(std::string("bad TOLMAR_VSENSOR_MODULES \"") + text + "\", using 1");
        }
    }
    syncOverride_ = -1;
    if (const char* text = envText("TOLMAR_VSENSOR_SYNC_HZ")) {
        char* end = nullptr;
        errno = 0;
        const double hz = std::strtod(text, &end);
        if (errno == 0 && *end == '\0' && hz >= 0 && hz < 1e9) {
            syncOverride_ = hz;
        } else {
            warnOnce(std::string("bad TOLMAR_VSENSOR_SYNC_HZ \"") + text +
                     "\", using the profile's");
        }
    }
    buildModulesLocked(count);

    if (const char* text = envText("TOLMAR_VSENSOR_FAULTS")) {
        if (!faults_.parse(text)) {
            warnOnce(std::string("bad TOLMAR_VSENSOR_FAULTS \"") + text + "\" ignored");
        }
    }
}

void Emulation::buildModulesLocked(int count) {
    count = std::clamp(count, 0, kMaxModules);
    modules_.clear();
    modules_.resize(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) modules_[i].name = "QUSB-" + std::to_string(i);
    loadProfileLocked(*profile_);
}

void Emulation::loadProfileLocked(const UnitProfile& profile) {
    profile_ = &profile;
    const std::vector<uint8_t> record = encodeRecord(profile);
    const DacCalibration dac = dacCalibration(profile);
    for (Module& m : modules_) {
        m.memory.fill(0xFF);
        m.memory.poke(kRecordAddress, record);
        m.board.setCalibration(dac);
        m.board.syncInput().setFrequency(syncOverride_ >= 0 ? syncOverride_ : profile.syncHz);
    }
}

QRETURN Emulation::fail(LastError code) {
    lastError_ = code;
    return 0;
}

bool Emulation::unpluggedLocked() {
    if (!unplugged_ && faults_.onEvent(Fault::Unplug))
        unplugged_ = true;
    if (unplugged_)
        lastError_ = kErrorDeviceRemoved;
    return unplugged_;
}

Module* Emulation::moduleLocked(QHANDLE hDevice) {
    if (unpluggedLocked())
        return nullptr;
    if (hDevice != 0) {
        for (Module& m : modules_) {
            if (m.handle == hDevice)
                return &m;
        }
    }
    lastError_ = kErrorInvalidHandle;
    return nullptr;
}

Module* Emulation::moduleAt(int index) {
    if (index < 0 || index >= static_cast<int>(modules_.size()))
        return nullptr;
    return &modules_[static_cast<size_t>(index)];
}

// ---- QuickUSB calls ----

QRETURN Emulation::findModules(char* nameList, QULONG length) {
    auto l = lock();
    if (unpluggedLocked())
        return 0;
    if (!nameList || length == 0)
        return fail(kErrorInvalidParameter);
    // Whole names only, always followed by the empty name that ends the list.
    size_t pos = 0;
    for (const Module& m : modules_) {
        if (pos + m.name.size() + 1 >= length) {
            nameList[pos] = '\0';
            return fail(kErrorBufferTooSmall);
        }
        std::memcpy(nameList + pos, m.name.c_str(), m.name.size() + 1);
        pos += m.name.size() + 1;
    }
    nameList[pos] = '\0';
    return 1;
}

QRETURN Emulation::open(QHANDLE* hDevice, const char* devName) {
    auto l = lock();
    if (unpluggedLocked())
        return 0;
    if (!hDevice || !devName)
        return fail(kErrorInvalidParameter);
    auto it = std::find_if(modules_.begin(), modules_.end(),
                           [&](const Module& m) { return m.name == devName; });
    if (it == modules_.end())
        return fail(kErrorNoSuchModule);
    if (it->handle != 0)
        return fail(kErrorAlreadyOpen);
    // Handles count up (1..32767) so that a handle closed earlier does not reach a module
    // opened later; handles still in use are skipped.
    auto next = [](QHANDLE h) { return h == 32767 ? QHANDLE{1} : static_cast<QHANDLE>(h + 1); };
    auto inUse = [&](QHANDLE h) {
        return std::any_of(modules_.begin(), modules_.end(),
                           [h](const Module& m) { return m.handle == h; });
    };
    QHANDLE h = nextHandle_;
    while (inUse(h)) h = next(h);
    nextHandle_ = next(h);
    it->handle = h;
    *hDevice = it->handle;
    return 1;
}

QRETURN Emulation::close(QHANDLE hDevice) {
    auto l = lock();
    Module* m = moduleLocked(hDevice);
    if (!m)
        return 0;
    m->handle = 0;
    return 1;
}

QRETURN Emulation::getStringDescriptor(QHANDLE hDevice, QBYTE index, char* buffer, QWORD length) {
    auto l = lock();
    Module* m = moduleLocked(hDevice);
    if (!m)
        return 0;
    if (!buffer || length == 0)
        return fail(kErrorInvalidParameter);
    char serial[16];
    std::snprintf(serial, sizeof serial, "%s%06d", kSerialPrefix,
                  static_cast<int>(m - modules_.data()));
    switch (index) {
        case 1:
            copyText(kMake, buffer, length);
            return 1;
        case 2:
            copyText(kModel, buffer, length);
            return 1;
        case 3:
            copyText(serial, buffer, length);
            return 1;
        default:
            return fail(kErrorInvalidParameter);
    }
}

QRETURN Emulation::readSetting(QHANDLE hDevice, QWORD address, QWORD* value) {
    auto l = lock();
    Module* m = moduleLocked(hDevice);
    if (!m)
        return 0;
    if (!value || address >= kSettingCount)
        return fail(kErrorInvalidParameter);
    if (address == kChipSetting) {
        *value = static_cast<QWORD>((kChipRevision << 8) | (highSpeed_ ? kHighSpeedBit : 0));
    } else {
        *value = m->settings[address];
    }
    return 1;
}

QRETURN Emulation::writeSetting(QHANDLE hDevice, QWORD address, QWORD value) {
    auto l = lock();
    Module* m = moduleLocked(hDevice);
    if (!m)
        return 0;
    if (address >= kSettingCount || address == kChipSetting)
        return fail(kErrorInvalidParameter);
    m->settings[address] = value;
    return 1;
}

QRETURN Emulation::getDriverVersion(QWORD* major, QWORD* minor, QWORD* build) {
    auto l = lock();
    if (!major || !minor || !build)
        return fail(kErrorInvalidParameter);
    *major = kDriverVersion[0];
    *minor = kDriverVersion[1];
    *build = kDriverVersion[2];
    return 1;
}

QRETURN Emulation::getDllVersion(QWORD* major, QWORD* minor, QWORD* build) {
    auto l = lock();
    if (!major || !minor || !build)
        return fail(kErrorInvalidParameter);
    *major = kDllVersion[0];
    *minor = kDllVersion[1];
    *build = kDllVersion[2];
    return 1;
}

QRETURN Emulation::startFpgaConfiguration(QHANDLE hDevice) {
    auto l = lock();
    Module* m = moduleLocked(hDevice);
    if (!m)
        return 0;
    m->board.startConfiguration();
    return 1;
}

QRETURN Emulation::writeFpgaData(QHANDLE hDevice, const QBYTE* data, QULONG length) {
    auto l = lock();
    Module* m = moduleLocked(hDevice);
    if (!m)
        return 0;
    if (!data || length == 0 || length > 64)
        return fail(kErrorInvalidParameter);
    if (faults_.onEvent(Fault::FpgaChunkFail))
        return fail(kErrorTransferFailed);
    if (!m->board.takeConfigurationChunk(data, length))
        return fail(kErrorNotConfigured);
    return 1;
}

QRETURN Emulation::isFpgaConfigured(QHANDLE hDevice, QWORD* isConfigured) {
    auto l = lock();
    Module* m = moduleLocked(hDevice);
    if (!m)
        return 0;
    if (!isConfigured)
        return fail(kErrorInvalidParameter);
    *isConfigured = m->board.configured() ? 1 : 0;
    return 1;
}

QRETURN Emulation::writeData(QHANDLE hDevice, const QBYTE* data, QULONG length) {
    auto l = lock();
    Module* m = moduleLocked(hDevice);
    if (!m)
        return 0;
    if (!data || length != FpgaBoard::kBlockSize)
        return fail(kErrorInvalidParameter);
    if (faults_.onEvent(Fault::DataWriteFail))
        return fail(kErrorTransferFailed);
    const bool wasRunning = m->board.state().registers.run_en;
    m->board.writeBlock(data, length);
    updateStreamLocked(*m, wasRunning);
    return 1;
}

void Emulation::updateStreamLocked(Module& m, bool wasRunning) {
    const BoardState state = m.board.state();
    if (!state.configured)
        return;
    const BoardRegisters& r = state.registers;
    if (state.clearFifo)
        m.fifo.clear();
    if (r.run_en && (!wasRunning || state.clearFifo || !m.fifo.running())) {
        m.fifo.setSpeed(streamSpeed_);
        m.fifo.start(ScanSetup{r, profile_, m.board.syncInput().periodCounts(),
                               m.board.syncInput().frequency(), model_},
                     Clock::now());
    } else if (!r.run_en && m.fifo.running()) {
        m.fifo.stop(Clock::now());
    }
}

QRETURN Emulation::readData(QHANDLE hDevice, QBYTE* data, QULONG* length) {
    auto l = lock();
    Module* m = moduleLocked(hDevice);
    if (!m)
        return 0;
    if (!data || !length)
        return fail(kErrorInvalidParameter);
    const QULONG wanted = *length;
    *length = 0;
    if (faults_.onEvent(Fault::DataReadFail))
        return fail(kErrorTransferFailed);
    if (m->board.readBackMode()) {
        uint8_t image[FpgaBoard::kBlockSize];
        m->board.readBack(image, faults_.onEvent(Fault::TransceiverBusy));
        const size_t n = std::min<size_t>(wanted, sizeof image);
        std::copy_n(image, n, data);
        *length = n;
        return 1;
    }
    // The FIFO: what the board has produced by now. While a scan runs and nothing is ready the
    // read waits a little for it, without holding the lock, as a USB read waits for data.
    constexpr auto kLongestWait = std::chrono::milliseconds(20);
    const Clock::duration wait = m->fifo.wait(Clock::now());
    if (wait > Clock::duration::zero()) {
        l.unlock();
        std::this_thread::sleep_for(std::min<Clock::duration>(wait, kLongestWait));
        l.lock();
        m = moduleLocked(hDevice);
        if (!m)
            return 0;
    }
    const size_t words =
        m->fifo.read(reinterpret_cast<uint16_t*>(data), wanted / 2, Clock::now(), faults_);
    if (words == 0 && !m->fifo.running())
        return fail(kErrorNotConfigured);
    *length = words * 2;
    return 1;
}

QRETURN Emulation::getLastError(QULONG* error) {
    auto l = lock();
    if (!error)
        return 0;
    *error = lastError_;
    return 1;
}

QRETURN Emulation::writeI2c(QHANDLE hDevice, QWORD address, const QBYTE* data, QWORD length) {
    auto l = lock();
    Module* m = moduleLocked(hDevice);
    if (!m)
        return 0;
    if (!data && length > 0)
        return fail(kErrorInvalidParameter);
    I2cTransfer t;
    t.write = true;
    t.device = address;
    t.memoryAddress = length >= 2 ? static_cast<uint16_t>((data[0] << 8) | data[1]) : 0;
    const std::optional<Fault> fault = faults_.onI2cTransfer(true);
    LastError error = kErrorNone;
    if (address != kI2cDevice || fault) {
        error = kErrorI2cNoAcknowledge;
    } else if (!m->memory.write(data, length)) {
        error = kErrorInvalidParameter;
    } else {
        t.dataLength = length - 2u;
        t.ok = true;
    }
    logTransfer(t);
    return t.ok ? 1 : fail(error);
}

QRETURN Emulation::readI2c(QHANDLE hDevice, QWORD address, QBYTE* data, QWORD* length) {
    auto l = lock();
    Module* m = moduleLocked(hDevice);
    if (!m)
        return 0;
    if (!length || (!data && *length > 0))
        return fail(kErrorInvalidParameter);
    I2cTransfer t;
    t.device = address;
    t.memoryAddress = m->memory.pointer();
    const std::optional<Fault> fault = faults_.onI2cTransfer(false);
    LastError error = kErrorNone;
    if (address != kI2cDevice) {
        error = kErrorI2cNoAcknowledge;
    } else if (fault == Fault::I2cReadFail) {
        error = kErrorTransferFailed;
    } else {
        const QWORD n = fault == Fault::I2cShortRead ? static_cast<QWORD>(*length / 2) : *length;
        m->memory.read(data, n);
        t.dataLength = n;
        t.ok = true;
    }
    *length = static_cast<QWORD>(t.dataLength);
    logTransfer(t);
    return t.ok ? 1 : fail(error);
}

QRETURN Emulation::setRs232BaudRate(QHANDLE hDevice, QULONG baudRate) {
    auto l = lock();
    if (!moduleLocked(hDevice))
        return 0;
    return baudRate > 0 ? 1 : fail(kErrorInvalidParameter);
}

QRETURN Emulation::portLocked(QHANDLE hDevice, QBYTE portNum, std::deque<QBYTE>*& port) {
    Module* m = moduleLocked(hDevice);
    if (!m)
        return 0;
    if (portNum >= kRs232Ports)
        return fail(kErrorInvalidParameter);
    port = &m->rs232[portNum];
    return 1;
}

QRETURN Emulation::getNumRs232(QHANDLE hDevice, QBYTE portNum, QWORD* length) {
    auto l = lock();
    std::deque<QBYTE>* port = nullptr;
    if (!portLocked(hDevice, portNum, port))
        return 0;
    if (!length)
        return fail(kErrorInvalidParameter);
    *length = static_cast<QWORD>(std::min<size_t>(port->size(), 0xFFFF));
    return 1;
}

QRETURN Emulation::flushRs232(QHANDLE hDevice, QBYTE portNum) {
    auto l = lock();
    std::deque<QBYTE>* port = nullptr;
    if (!portLocked(hDevice, portNum, port))
        return 0;
    port->clear();
    return 1;
}

QRETURN Emulation::readRs232(QHANDLE hDevice, QBYTE portNum, QBYTE* data, QWORD* length) {
    auto l = lock();
    std::deque<QBYTE>* port = nullptr;
    if (!portLocked(hDevice, portNum, port))
        return 0;
    if (!length || (!data && *length > 0))
        return fail(kErrorInvalidParameter);
    const size_t n = std::min<size_t>(*length, port->size());
    std::copy_n(port->begin(), n, data);
    port->erase(port->begin(), port->begin() + static_cast<std::ptrdiff_t>(n));
    *length = static_cast<QWORD>(n);
    return 1;
}

QRETURN Emulation::writeRs232(QHANDLE hDevice, QBYTE portNum, const QBYTE* data, QWORD length) {
    auto l = lock();
    std::deque<QBYTE>* port = nullptr;
    if (!portLocked(hDevice, portNum, port))
        return 0;
    if (!data && length > 0)
        return fail(kErrorInvalidParameter);
    port->insert(port->end(), data, data + length);
    return 1;
}

// ---- control interface ----

void Emulation::reset() {
    Lock l(mutex_);
    resetLocked();
}

bool Emulation::replug(const std::string& name) {
    Lock l(mutex_);
    const UnitProfile* p = findProfile(name);
    if (!p)
        return false;
    resetLocked();
    loadProfileLocked(*p);
    return true;
}

bool Emulation::loadProfile(const std::string& name) {
    auto l = lock();
    const UnitProfile* p = findProfile(name);
    if (!p)
        return false;
    loadProfileLocked(*p);
    return true;
}

std::string Emulation::currentProfile() {
    auto l = lock();
    return profile_->name;
}

void Emulation::setModuleCount(int count) {
    auto l = lock();
    buildModulesLocked(count);
}

int Emulation::moduleCount() {
    auto l = lock();
    return static_cast<int>(modules_.size());
}

void Emulation::setHighSpeed(bool highSpeed) {
    auto l = lock();
    highSpeed_ = highSpeed;
}

std::vector<uint8_t> Emulation::readMemory(uint16_t address, size_t length, int module) {
    auto l = lock();
    const Module* m = moduleAt(module);
    return m ? m->memory.peek(address, length) : std::vector<uint8_t>{};
}

void Emulation::writeMemory(uint16_t address, const std::vector<uint8_t>& bytes, int module) {
    auto l = lock();
    if (Module* m = moduleAt(module))
        m->memory.poke(address, bytes);
}

void Emulation::fillMemory(uint8_t value, int module) {
    auto l = lock();
    if (Module* m = moduleAt(module))
        m->memory.fill(value);
}

void Emulation::scheduleFault(Fault fault, int nth, int repeat) {
    auto l = lock();
    faults_.schedule(fault, nth, repeat);
}

void Emulation::clearFaults() {
    auto l = lock();
    faults_.clear();
}

bool Emulation::scheduleFaults(const std::string& text) {
    auto l = lock();
    return faults_.parse(text);
}

void Emulation::logTransfer(const I2cTransfer& t) {
    log_.push_back(t);
    if (log_.size() > kI2cLogSize)
        log_.pop_front();
}

std::vector<I2cTransfer> Emulation::i2cLog() {
    auto l = lock();
    return {log_.begin(), log_.end()};
}

void Emulation::clearI2cLog() {
    auto l = lock();
    log_.clear();
}

void Emulation::unplug() {
    auto l = lock();
    unplugged_ = true;
}

PlasmaModel Emulation::plasmaModel() {
    auto l = lock();
    return model_;
}

void Emulation::setPlasmaModel(const PlasmaModel& model) {
    auto l = lock();
    model_ = model;
}

void Emulation::setStreamSpeed(double speed) {
    auto l = lock();
    streamSpeed_ = std::max(speed, 0.0);
    for (Module& m : modules_) m.fifo.setSpeed(streamSpeed_);
}

BoardState Emulation::boardState(int module) {
    auto l = lock();
    const Module* m = moduleAt(module);
    return m ? m->board.state() : BoardState{};
}

void Emulation::setSyncFrequency(double hz, int module) {
    auto l = lock();
    for (int i = 0; i < static_cast<int>(modules_.size()); ++i) {
        if (module < 0 || module == i)
            modules_[i].board.syncInput().setFrequency(hz);
    }
}

double Emulation::syncFrequency(int module) {
    auto l = lock();
    Module* m = moduleAt(module);
    return m ? m->board.syncInput().frequency() : 0;
}

std::vector<BlockWrite> Emulation::blockWriteLog(int module) {
    auto l = lock();
    const Module* m = moduleAt(module);
    return m ? m->board.blockWriteLog() : std::vector<BlockWrite>{};
}

void Emulation::clearBlockWriteLog(int module) {
    auto l = lock();
    if (Module* m = moduleAt(module))
        m->board.clearBlockWriteLog();
}

}  // namespace vsensor::detail
