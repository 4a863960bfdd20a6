// Control interface of the virtual sensor, for tests and tools. The virtual sensor itself is
// reached through the QuickUSB C calls it exports (tolmar2/QuickUsbApi.h).
//
// The emulation sets itself up from the environment on first use; reset() reads it again.
// Environment:
//   TOLMAR_VSENSOR_PROFILE  unit profile: single (default), disc13, ar, legacy, unusable, blank
//   TOLMAR_VSENSOR_MODULES  number of modules listed (default 1: "QUSB-0"; 0 to kMaxModules)
//   TOLMAR_VSENSOR_FAULTS   scheduled faults, comma separated entries <kind>@<nth>[x<repeat>]:
//                           kinds i2c-write-fail, i2c-read-fail, i2c-short-read, data-write-fail,
//                           data-read-fail, fpga-chunk-fail, transceiver-busy, unplug; nth >= 1
//                           counts the events of that kind (1 = the next one), repeat >= 1
//                           (default 1) consecutive events are hit, e.g.
//                           "i2c-write-fail@3x2,i2c-short-read@1,unplug@40".
// A value that cannot be used is reported once on standard error and the default is taken (a
// fault text with any bad entry schedules nothing).
//
// All functions are thread-safe: one lock guards the emulated hardware.
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
constexpr int kMaxModules = 16;

// What the emulated module reports about itself.
constexpr const char* kMake = "Virtual Sensor";
constexpr const char* kModel = "QuickUSB Module (emulated)";
constexpr const char* kSerialPrefix = "VS";  // serial descriptor: "VS" + 6 digits (module index)
constexpr uint16_t kHighSpeedBit = 0x0080;   // setting 17, bit 7
constexpr uint16_t kChipRevision = 1;        // setting 17, bits 8-15: "CY7C68013A Rev A"
constexpr uint16_t kSettingCount = 32;       // settings 0..31; 17 is read-only
constexpr uint16_t kDriverVersion[3] = {2, 15, 0};
constexpr uint16_t kDllVersion[3] = {2, 15, 2};
constexpr int kRs232Ports = 2;

// Codes returned by QuickUsbGetLastError after a failed call.
enum LastError : unsigned long {
    kErrorNone = 0,
    kErrorInvalidParameter = 1,  // null pointer, bad index, bad length or read-only setting
    kErrorInvalidHandle = 2,     // no open module has this handle
    kErrorNoSuchModule = 3,      // open of a name not in the module list
    kErrorAlreadyOpen = 4,       // open of a module that is open
    kErrorBufferTooSmall = 5,    // the module list did not fit (whole names that fit were written)
    kErrorI2cNoAcknowledge = 6,  // no device at the I2C address, or an injected write failure
    kErrorTransferFailed = 7,    // injected read failure
    kErrorNotConfigured = 8,     // FPGA data outside a configuration, or no data to read
    kErrorDeviceRemoved = 9,     // the cable was pulled (Fault::Unplug, unplug())
};

// Names of the unit profiles.
std::vector<std::string> profileNames();

// Returns the emulation to power-on state with the profile, module count and faults from the
// environment. Closes every open module and clears the I2C log.
void reset();

// Loads a unit profile into the I2C memory of every module; false for an unknown name.
bool loadProfile(const std::string& name);
std::string currentProfile();

// Number of modules the module list shows ("QUSB-0", "QUSB-1", ...), clamped to 0..kMaxModules.
// Rebuilds the modules (closing every open one) with the current profile loaded.
void setModuleCount(int count);
int moduleCount();

// Whether setting 17 reports a high-speed link (default true).
void setHighSpeed(bool highSpeed);

// Direct access to the I2C memory of a module, bypassing the bus (no faults, no log, pointer
// unchanged). Addresses wrap at the end of the memory. An unknown module reads as empty.
std::vector<uint8_t> readMemory(uint16_t address, size_t length, int module = 0);
void writeMemory(uint16_t address, const std::vector<uint8_t>& bytes, int module = 0);
void fillMemory(uint8_t value, int module = 0);

// Faults. The counter of a fault counts the I2C transfers of its direction (writes for
// I2cWriteFail, reads for the two read faults) on any module from the moment of scheduling:
// nth = 1 is the next one. `repeat` consecutive transfers from there are hit.
enum class Fault {
    I2cWriteFail,     // the I2C write fails (nothing stored, pointer unchanged)
    I2cReadFail,      // the I2C read fails (nothing returned, count 0, pointer unchanged)
    I2cShortRead,     // the I2C read succeeds with half the bytes asked for (rounded down)
    DataWriteFail,    // a data write (register block) fails; the board keeps its registers
    DataReadFail,     // a data read fails, nothing returned
    FpgaChunkFail,    // an FPGA configuration chunk is refused (not added to the bit stream)
    TransceiverBusy,  // a read-back reports the serial transceiver busy (counts read-backs)
    Unplug,           // the cable is pulled: this call and every later one that reaches the
                      // module fails (counts such calls: module list, open, and every call
                      // with a handle) until reset()
};
void scheduleFault(Fault fault, int nth, int repeat = 1);
// Pulls the cable at once (as Unplug does when its call comes).
void unplug();
void clearFaults();
// Parses a TOLMAR_VSENSOR_FAULTS text and schedules its entries; false (nothing scheduled) on a
// syntax error.
bool scheduleFaults(const std::string& text);

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

// The FPGA board's registers as it decoded them from the last block it took. Names are those of
// the register fields; `samples` is what the block carried in bytes 6-9 (the sync sample count
// in sync_mode, else the samples per step); `channels_disabled` has bit i set for channel i.
struct BoardRegisters {
    uint8_t relays = 0;
    bool soft_adc = false;
    uint8_t cnvst_pw = 0;
    bool aux_sw0 = false, aux_sw1 = false, aux_sw2 = false;
    uint8_t sync_lead_dtime = 0;
    bool read_temp = false;
    bool sync_edge_r_f = false, sync_mode = false, up_down_scan = false, gain = false;
    bool run_en = false, run_aux = false, read_csr_md = false;
    uint16_t iv_steps = 0;
    uint32_t samples = 0;
    uint8_t hvps_en0 = 0, hvps_en1 = 0, hvps_en2 = 0;
    uint32_t setup_zs_delay = 0, setup_fs_delay = 0, setup_ns_delay = 0;
    uint8_t setup_iv_delay = 0;
    uint8_t sync_smpl_div = 0, sync_smpl_mult = 0;
    uint32_t sync_f_smpl_d = 0;
    uint16_t v_a_def = 0, v_a_start = 0, v_b_def = 0, v_b_start = 0, v_c_def = 0, v_c_start = 0;
    int16_t v_a_inc = 0, v_b_inc = 0, v_a_inc2 = 0;
    int32_t v_c_inc = 0;
    uint16_t iv_steps2 = 0;
    uint32_t iv_samples2 = 0;
    uint32_t sync_aux_d = 0;
    uint32_t channels_disabled = 0;
};

// The board as a whole. The FPGA is configured only by a complete, intact stand-in firmware
// image (tolmar2/firmware); its firmware ID is the one that image carries.
struct BoardState {
    bool configured = false;
    uint16_t firmwareId = 0;
    size_t blockWrites = 0;  // register blocks taken since the last configuration
    bool initFlag = false;   // flags of the last block taken
    bool clearFifo = false;
    BoardRegisters registers;
};
BoardState boardState(int module = 0);

// The calibration record a profile puts at kRecordAddress, with the numbers it encodes (format
// 16 layout; arrays beyond the counts are unused and zero). Tests use these as known inputs.
struct UnitProfile {
    std::string name;
    bool blank = false;  // memory all 0xFF, no record
    int32_t formatVersion = 16;
    std::string devName;  // system serial, at most 19 characters
    uint32_t deviceOptions = 0;
    uint32_t createTime = 0;
    uint32_t calTime = 0;
    double vRange[3][2] = {};     // volts, lower then upper
    double iRange[4] = {};        // amperes
    double rCurrent[2] = {};      // ohms
    double rFilter = 0;           // ohms
    double cal_dac[4][2] = {};    // [0] zero code, [1] codes per volt
    double cal_adc_i[4][2] = {};  // offset (A), slope (A per code) per current range
    double calAuxA[3] = {};
    uint32_t calAuxWord = 0;
    double calAuxB[3] = {};
    uint8_t nCalRows = 0;
    uint8_t nCalRanges = 0;
    uint8_t nVchan = 0;
    uint8_t nExtProbes = 0;
    double cal_adc[20][2][2] = {};  // [row][range] offset (A), slope (A per code)
    double cal_vmon[4][2] = {};     // offset (V), slope (V per code)
    double tempCoef[20][4] = {};
    double rangeValue[2] = {};
    uint32_t extTag = 0;   // 0x80 when the record carries a configuration entry
    uint32_t extWord = 0;  // the entry's value (the sensor code)
};
const std::vector<UnitProfile>& unitProfiles();
// nullptr for an unknown name.
const UnitProfile* findProfile(const std::string& name);

}  // namespace vsensor

#endif  // VSENSOR_VIRTUALSENSOR_H
