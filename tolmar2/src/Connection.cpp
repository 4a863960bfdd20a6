// Discovery of the sensor electronics among the QuickUSB modules, connection (record check,
// FPGA firmware, initial block, serial-link test), disconnection, identity and description
// texts, and the RS-232 pass-through.
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "LocalTime.h"
#include "Platform.h"
#include "ScanSupport.h"
#include "UsbLink.h"
#include "tolmar2/MsgLogger.h"
#include "tolmar2/TolmarCntrl.h"

namespace call = tolmar2::link::call;

namespace {

constexpr int kNameListSize = 128;     // module list area at the start of fifoBuffer
constexpr int kDescriptorSize = 128;   // string descriptor buffers
constexpr size_t kModuleNameKept = 8;  // characters of the module name kept in qDevName
constexpr QWORD kChipSetting = 17;
constexpr unsigned kBusyWaitMs = 500;  // longest wait for the serial transceiver
constexpr int kSerialLinkToggles = 4;  // even, so soft_adc ends where it started

template <size_t N>
void setText(char (&field)[N], const char* text) {
    std::snprintf(field, N, "%s", text);
}

const char* chipRevisionText(unsigned code) {
    switch (code) {
        case 1:
            return "CY7C68013A Rev A";
        case 2:
            return "CY7C68013 Rev C/D";
        case 4:
            return "CY7C68013 Rev E";
        default:
            return "CY7C68013 Rev A/B";
    }
}

bool readable(const std::string& path) {
    return access(path.c_str(), R_OK) == 0;
}

// The directory of the library file itself.
std::string libraryDir() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&libraryDir), &info) || !info.dli_fname)
        return {};
    std::string dir = info.dli_fname;
    const size_t slash = dir.rfind('/');
    return slash == std::string::npos ? std::string(".") : dir.substr(0, slash);
}

// Firmware files are looked up in the working directory, then in TOLMAR_FIRMWARE_DIR when it is
// set, otherwise in the library's installed firmware directory, in the same directory reached
// from wherever the library file is (an installation unpacked under another prefix), and in
// "firmware" beside the library file (the build puts the images there, so a library run from its
// build tree finds them without being installed). When none has the file the plain name is
// used, so that the failure to open it names the file the unit needs.
std::string firmwarePath(const char* name) {
    if (readable(name))
        return name;
    const char* dir = std::getenv("TOLMAR_FIRMWARE_DIR");
    std::vector<std::string> dirs;
    if (dir && *dir) {
        dirs = {dir};
    } else {
        const std::string here = libraryDir();
        dirs = {TOLMAR_FIRMWARE_INSTALL_DIR, here + "/" TOLMAR_FIRMWARE_FROM_LIBRARY,
                here + "/firmware"};
    }
    for (const std::string& d : dirs) {
        const std::string path = d + "/" + name;
        if (readable(path))
            return path;
    }
    return name;
}

void appendf(std::string& text, const char* format, ...) __attribute__((format(printf, 2, 3)));
void appendf(std::string& text, const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n > 0)
        text.append(line, std::min(static_cast<size_t>(n), sizeof line - 1));
}

// Copies a description into the caller's buffer when it fits with its NUL; never writes past
// the capacity the caller gave.
bool deliver(const std::string& text, char* buffer, int& size) {
    const int needed =
        std::max(TolmarCntrl::MIN_DESCRIPTION_SIZE, static_cast<int>(text.size()) + 1);
    if (!buffer || size < needed) {
        size = needed;
        return false;
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    size = static_cast<int>(text.size());
    return true;
}

// ---- The steps of a connection (TolmarCntrl::connectTo), in their order ----

void readDriverVersion(TolmarCntrl& c) {
    QWORD version[3] = {0, 0, 0};
    if (call::QuickUsbGetDriverVersion(&version[0], &version[1], &version[2])) {
        std::copy(version, version + 3, c.qusbDriverVer);
    } else {
        TOLMAR_LOG_ERROR("Failed to get driver version\n");
    }
}

bool openModule(TolmarCntrl& c, char* module) {
    if (!module || !call::QuickUsbOpen(&c.qusbHandle, module)) {
        c.qusbHandle = 0;
        setText(c.qDevName, "-");
        TOLMAR_LOG_ERROR("Cannot open device: %s\n", module ? module : "");
        return false;
    }
    std::snprintf(c.qDevName, kModuleNameKept + 1, "%s", module);
    return true;
}

// The module's string descriptors and chip, then the unit's record: unless forced, only a
// recognised unit of a compatible family is connected.
bool identifyUnit(TolmarCntrl& c, const char* module, bool force) {
    struct Descriptor {
        QBYTE index;
        char* field;
        const char* what;
    };
    const Descriptor descriptors[] = {
        {1, c.qusbMake, "Manufacturer"}, {2, c.qusbModel, "Model"}, {3, c.qusbSerial, "Serial"}};
    for (const Descriptor& d : descriptors) {
        if (!call::QuickUsbGetStringDescriptor(c.qusbHandle, d.index, d.field, kDescriptorSize)) {
            TOLMAR_LOG_ERROR("Failed to get device descriptor (%s String) for device: %s\n", d.what,
                             module);
            return false;
        }
        d.field[kDescriptorSize - 1] = '\0';
    }

    QWORD chip = 0;
    if (!call::QuickUsbReadSetting(c.qusbHandle, kChipSetting, &chip)) {
        TOLMAR_LOG_ERROR("Failed to read settings register 17 for device: %s\n", module);
        return false;
    }
    c.qusbHSpeed = (chip & 0x80) != 0;
    setText(c.qusbHWRev, chipRevisionText((chip >> 8) & 0xFF));

    const int record = c.readTolmarConfigParameters();
    if (force)
        return true;
    if (record == 0 || record == -1) {
        TOLMAR_LOG_ERROR("Device on USB is not initialized\n");
        return false;
    }
    if (record == -5) {
        TOLMAR_LOG_ERROR("Device on USB contains unknown memory format version\n");
        return false;
    }
    if (record != 1) {
        TOLMAR_LOG_ERROR("Device on USB is not recognized (0x%08X)\n",
                         static_cast<unsigned>(record));
        return false;
    }
    if (std::strncmp(c.devName, "QM7", 3) != 0) {
        TOLMAR_LOG_ERROR("Device on USB (%s) is not compatible with driver\n", c.devName);
        return false;
    }
    TOLMAR_LOG_MESSAGE("Connecting to Tarvo %s\n", c.devName);
    return true;
}

// The module's data port and FPGA configuration scheme.
bool configureModule(TolmarCntrl& c, const char* module) {
    if (!call::QuickUsbWriteSetting(c.qusbHandle, 1, 1)) {
        TOLMAR_LOG_ERROR("Failed to set High-speed port data width to 16 bits for device: %s\n",
                         module);
        return false;
    }
    if (!call::QuickUsbWriteSetting(c.qusbHandle, 3, 0xFA)) {
        TOLMAR_LOG_ERROR("Failed to set GPIF Master mode for device: %s\n", module);
        return false;
    }
    if (!call::QuickUsbWriteSetting(c.qusbHandle, 4, 0)) {
        TOLMAR_LOG_ERROR(
            "Failed to set FPGA configuration scheme to Altera Passive Serial for device: %s\n",
            module);
        return false;
    }
    return true;
}

// The firmware matches the board: extended boards by their channel-enable option, scanned
// collectors by their channel count, fixed-supply units by the remaining file.
const char* firmwareFile(const TolmarCntrl& c) {
    const uint32_t options = c.deviceOptions;
    if (options & TolmarCntrl::OPTION_EXTENDED)
        return (options & TolmarCntrl::OPTION_CHANNEL_ENABLE) ? "QM759-plus-B.rbf"
                                                              : "QM759-PLUS.rbf";
    if (!(options & TolmarCntrl::OPTION_VC_SCANNABLE))
        return "QM745.rbf";
    if (c.nAdcChannels <= 2)
        return "QM759.rbf";
    TOLMAR_LOG_MESSAGE("right firmware;\n");
    return c.nAdcChannels > 16 ? "QM794-47.rbf" : "QM794-45.rbf";
}

bool loadFirmware(TolmarCntrl& c) {
    TOLMAR_LOG_ERROR("Check this ?: %d\n", c.nAdcChannels);
    if (!c.programFPGA(firmwarePath(firmwareFile(c)).c_str())) {
        TOLMAR_LOG_ERROR("Failed to program FPGA\n");
        return false;
    }
    return true;
}

// FIFO transfer sizes for the link's speed, no scan arrays, the register defaults sent as the
// connection's first block.
bool writeInitialBlock(TolmarCntrl& c) {
    if (c.qusbHSpeed) {
        c.fifoWordsInBuffer = c.fifoReadPos = 16384;
        c.fifoReadBytes = 32768;
    } else {
        c.fifoWordsInBuffer = c.fifoReadPos = TolmarCntrl::FIFO_BUFFER_WORDS;
        c.fifoReadBytes = 2 * TolmarCntrl::FIFO_BUFFER_WORDS;
    }
    tolmar2::scan::freeScanArrays(c);

    c.setDefaultConfigParameters();
    TOLMAR_LOG_MESSAGE("setDFC\n");
    if (!c.writeFpgaConfigParameters(true, true)) {
        TOLMAR_LOG_ERROR("Failed to update initial Tolmar config parameters\n");
        return false;
    }
    TOLMAR_LOG_MESSAGE("Set Default config params : read temp %d , run en %d \n ", c.read_temp,
                       c.run_en.load());
    return true;
}

// Toggles soft_adc and waits each time until the board's serial transceiver is idle.
bool testSerialLink(TolmarCntrl& c) {
    for (int i = 0; i < kSerialLinkToggles; ++i) {
        c.soft_adc = !c.soft_adc;
        if (!c.writeFpgaConfigParameters(false, false)) {
            TOLMAR_LOG_ERROR("Failed to %s soft_adc\n", c.soft_adc ? "set" : "reset");
            return false;
        }
        // The wait is bounded both by the clock and by the pauses taken, so that it also ends
        // when the pauses are shortened.
        const uint64_t start = tolmar2::platform::tickCountMs();
        unsigned paused = 0;
        for (;;) {
            if (!c.readFpgaConfigParameters()) {
                TOLMAR_LOG_ERROR("Failed to read config data from FPGA\n");
                return false;
            }
            if (!c.serialTrasceiverBusy)
                break;
            if (tolmar2::platform::tickCountMs() - start >= kBusyWaitMs || paused >= kBusyWaitMs) {
                TOLMAR_LOG_ERROR("FPGA's serial trasceiver is permanently busy\n");
                return false;
            }
            tolmar2::platform::sleepMs(1);
            ++paused;
        }
    }
    return true;
}

}  // namespace

TolmarCntrl::~TolmarCntrl() {
    // Leave the unit safe: high voltage and scan off. The module itself stays open.
    hvps_en1 = hvps_en2 = 0;
    run_en = false;
    if (qusbHandle != 0)
        writeFpgaConfigParameters(false, false);
}

bool TolmarCntrl::findTarvoDevice(char*& name, bool& recognized) {
    recognized = false;
    char* list = reinterpret_cast<char*>(fifoBuffer);
    std::memset(list, 0, kNameListSize);
    name = list;

    TOLMAR_LOG_WARNING("looking for device\n");
    const bool listed = call::QuickUsbFindModules(list, kNameListSize) != 0;
    TOLMAR_LOG_WARNING("ret : %d, strlength : %d \n", listed ? 1 : 0, kNameListSize);
    if (!listed || list[0] == '\0')
        return false;

    TOLMAR_LOG_WARNING("looking for device1\n");
    char* opened = nullptr;
    const char* const end = list + kNameListSize;
    for (char* module = list; module < end && *module != '\0';) {
        const size_t length = strnlen(module, static_cast<size_t>(end - module));
        if (module + length == end)
            break;  // a name without its NUL is no name
        if (call::QuickUsbOpen(&qusbHandle, module)) {
            opened = module;
            recognized = readTolmarConfigParameters() == 1;
            call::QuickUsbClose(qusbHandle);
            qusbHandle = 0;
            if (recognized)
                break;
        }
        module += length + 1;
    }
    if (!opened)
        return false;
    name = opened;
    return true;
}

int TolmarCntrl::connectTo(bool force) {
    TOLMAR_LOG_ERROR(" Attempting connection\n");
    char* name = nullptr;
    bool recognized = false;
    if (!findTarvoDevice(name, recognized))
        return 0;
    if (!recognized && !force) {
        TOLMAR_LOG_ERROR(
            "Device \"%s\" connected to USB is not recognized as Tarvo compatible device.\n", name);
        return 0;
    }
    const int result = connectTo(name, force, true);
    if (result == 1)
        return 1;
    TOLMAR_LOG_ERROR("Failed to open device %s (error code %d)\n", qDevName, result);
    return result;
}

int TolmarCntrl::connectTo(char* devName, bool force, bool checkSerialLink) {
    readDriverVersion(*this);
    // Each step logs its own failure; any failure ends disconnected.
    if (!openModule(*this, devName) || !identifyUnit(*this, devName, force) ||
        !configureModule(*this, devName) || !loadFirmware(*this) || !writeInitialBlock(*this) ||
        (checkSerialLink && !testSerialLink(*this))) {
        disconnect();
        return 0;
    }
    connected = true;
    return 1;
}

bool TolmarCntrl::programFPGA(const char* path) {
    if (!path)
        path = "";  // fails to open, with its message
    abortRequested = false;
    TOLMAR_LOG_ERROR("Fpga Firmware used :%s\n", path);
    if (!call::QuickUsbStartFpgaConfiguration(qusbHandle)) {
        TOLMAR_LOG_ERROR("Failed to initialize FPGA configuration\n");
        return false;
    }
    FILE* file = std::fopen(path, "rb");
    if (!file) {
        TOLMAR_LOG_ERROR("Failed to open FPGA configuration file: %s\n", path);
        return false;
    }
    while (!abortRequested) {
        const size_t n = std::fread(fpgaTransferBuffer, 1, CONFIG_BLOCK_SIZE, file);
        if (n == 0) {
            if (std::ferror(file)) {
                TOLMAR_LOG_ERROR("Failed to read data from FPGA configuration file: %s\n", path);
                std::fclose(file);
                return false;
            }
            break;
        }
        if (!call::QuickUsbWriteFpgaData(qusbHandle, fpgaTransferBuffer, n)) {
            TOLMAR_LOG_ERROR("Failed to write FPGA configuration data into QuickUSB\n");
            std::fclose(file);
            return false;
        }
    }
    std::fclose(file);
    QWORD configured = 0;
    if (!call::QuickUsbIsFpgaConfigured(qusbHandle, &configured)) {
        TOLMAR_LOG_ERROR("Failed to check if FPGA was configured correctly\n");
        return false;
    }
    return configured != 0;
}

int TolmarCntrl::disconnect() {
    tolmar2::scan::freeScanArrays(*this);
    setText(qDevName, "-");
    setText(qusbMake, "-");
    setText(qusbModel, "-");
    setText(qusbSerial, "-");
    setText(qusbHWRev, "-");
    std::fill(qusbDriverVer, qusbDriverVer + 3, 0);
    std::fill(qusbDllVer, qusbDllVer + 3, 0);
    qusbHSpeed = false;
    connected = false;
    recordLoaded = false;
    setRecordDefaults();

    aux_sw0 = aux_sw1 = aux_sw2 = false;
    hvps_en1 = hvps_en2 = 0;
    // Without an open module there is nothing to switch off or close.
    if (qusbHandle == 0)
        return 1;
    if (!writeFpgaConfigParameters(false, false))
        TOLMAR_LOG_ERROR("Failed to turn off HVPS\n");
    const bool closed = call::QuickUsbClose(qusbHandle) != 0;
    qusbHandle = 0;
    if (!closed) {
        TOLMAR_LOG_ERROR("Failed to properly close QuickUSB connection to Tolmar\n");
        return 0;
    }
    return 1;
}

void TolmarCntrl::print() {
    TOLMAR_LOG_MESSAGE("qDevName:     %s\n", qDevName);
    TOLMAR_LOG_MESSAGE("qusbMake:     %s\n", qusbMake);
    TOLMAR_LOG_MESSAGE("qusbModel:     %s\n", qusbModel);
    TOLMAR_LOG_MESSAGE("qusbSerial:     %s\n", qusbSerial);
    TOLMAR_LOG_MESSAGE("qusbHWRev:     %s\n", qusbHWRev);
    TOLMAR_LOG_MESSAGE("qusbDriverVer:     v%d.%d.%d\n", qusbDriverVer[0], qusbDriverVer[1],
                       qusbDriverVer[2]);
    TOLMAR_LOG_MESSAGE("qusbDllVer:     v%d.%d.%d\n", qusbDllVer[0], qusbDllVer[1], qusbDllVer[2]);
    TOLMAR_LOG_MESSAGE("qusbHSpeed:     %s\n", qusbHSpeed ? "true" : "false");
}

namespace {

std::string shortDescription(const TolmarCntrl& c) {
    const std::string dashes20(20, '-'), dashes21(21, '-'), dashes17(17, '-');
    std::string text;
    appendf(text, "%s Tolmar API %s\n", dashes20.c_str(), dashes20.c_str());
    appendf(text, "API Version: %s\n", TolmarCntrl::API_VERSION);
    appendf(text, "%s QUICK USB %s\n", dashes21.c_str(), dashes21.c_str());
    appendf(text, "DLL Version: %d.%d.%d\n", c.qusbDllVer[0], c.qusbDllVer[1], c.qusbDllVer[2]);
    if (c.connected) {
        appendf(text, "Driver Version: %d.%d.%d\n", c.qusbDriverVer[0], c.qusbDriverVer[1],
                c.qusbDriverVer[2]);
    } else {
        text += "Driver Version: -\n";
    }
    appendf(text, "Device Name: %s\n", c.qDevName);
    appendf(text, "Make: %s\n", c.qusbMake);
    appendf(text, "Model: %s\n", c.qusbModel);
    appendf(text, "Serial: %s\n", c.qusbSerial);
    appendf(text, "HW Revision: %s\n", c.qusbHWRev);
    if (c.connected) {
        appendf(text, "Connection Speed: USB %d.0\n", c.qusbHSpeed ? 2 : 1);
    } else {
        text += "Connection Speed: -\n";
    }
    appendf(text, "%s Tolmar  HARDWARE %s\n", dashes17.c_str(), dashes17.c_str());
    appendf(text, "System SN: %s\n", c.devName);
    return text;
}

}  // namespace

bool TolmarCntrl::getSystemShortDescription(char* buffer, int& size) {
    return deliver(shortDescription(*this), buffer, size);
}

bool TolmarCntrl::getSystemDescription(char* buffer, int& size) {
    std::string text = shortDescription(*this);
    if (!connected) {
        for (const char* label :
             {"Manufacturing date", "Calibration date", "CH1", "CH2", "CH3", "Current ranges",
              "Current measuring resistors", "Filter inline resistor", "Firmware Version"}) {
            appendf(text, "%s: -\n", label);
        }
        return deliver(text, buffer, size);
    }
    text += "Manufacturing date: " + tolmar2::localTimeText(createTime);
    text += "Calibration date: " + tolmar2::localTimeText(calTime);
    for (int k = 0; k < 3; ++k) {
        if (k == 2 && vRange[2][0] == vRange[2][1]) {
            text += "CH3: -\n";
        } else {
            appendf(text, "CH%d: %+6.1f [V] to %+6.1f [V]\n", k + 1, vRange[k][0], vRange[k][1]);
        }
    }
    appendf(text, "Current ranges: [%G %G %G %G] [A]\n", iRange[0], iRange[1], iRange[2],
            iRange[3]);
    appendf(text, "Current measuring resistors: [%G %G] [ohm]\n", rCurrent[0], rCurrent[1]);
    appendf(text, "Filter inline resistor: %G [ohm]\n", rFilter);
    appendf(text, "Firmware Version: %04X\n", fpgaFirmwareID);
    return deliver(text, buffer, size);
}

QRETURN TolmarCntrl::setRS232BaudRate(unsigned long baud) {
    return call::QuickUsbSetRS232BaudRate(qusbHandle, baud);
}

QRETURN TolmarCntrl::getNumRS232(unsigned char port, unsigned short* count) {
    return call::QuickUsbGetNumRS232(qusbHandle, port, count);
}

QRETURN TolmarCntrl::flushRS232(unsigned char port) {
    return call::QuickUsbFlushRS232(qusbHandle, port);
}

QRETURN TolmarCntrl::readRS232(unsigned char port, char* data, unsigned short* length) {
    return call::QuickUsbReadRS232(qusbHandle, port, reinterpret_cast<QBYTE*>(data), length);
}

QRETURN TolmarCntrl::writeRS232(unsigned char port, char* data, unsigned short length) {
    return call::QuickUsbWriteRS232(qusbHandle, port, reinterpret_cast<QBYTE*>(data), length);
}

void TolmarCntrl::setNProbes(int n) {
    // The count indexes the probe-calibration rows, so it is kept within their room.
    nProbes = std::clamp(n, 0, MAX_CAL_ROWS);
    for (int row = 0; row < nProbes; ++row) {
        for (auto& range : cal_adc[row]) {
            range[0] = 0.0;
            range[1] = 1.0;
        }
    }
    for (int v = 0; v < std::min<int>(nVchan, MAX_VCHAN); ++v) {
        cal_vmon[v][0] = 0.0;
        cal_vmon[v][1] = 1.0;
    }
}

int TolmarCntrl::getNProbes() {
    return (deviceOptions & OPTION_EXTENDED) ? static_cast<int>(nExtProbes) : nProbes;
}

int TolmarCntrl::getNVchan() {
    return nVchan;
}
