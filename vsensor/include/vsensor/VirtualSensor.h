// Control interface of the virtual sensor, for tests and tools. The virtual sensor itself is
// reached through the QuickUSB C calls it exports (quickusb/QuickUsbApi.h).
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
//                           "i2c-write-fail@3x2,i2c-short-read@1,unplug@40"; stream faults
//                           short-block, stream-stop, sync-loss, sync-period-change count blocks.
//   TOLMAR_VSENSOR_SPEED    pace of the FIFO stream: 1 (default) real time as the scan timing
//                           gives it, 2 twice as fast, 0 as fast as it is read.
//   TOLMAR_VSENSOR_SYNC_HZ  frequency of the signal at every board's sync input in Hz, over the
//                           profile's own (0: no signal)
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

// A unit with the named profile is plugged in again: reset() and loadProfile() in one step, so
// a program polling for the unit never meets the power-on profile in between.
bool replug(const std::string& name);

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
    // FIFO stream faults; each counts the measured data blocks the board starts.
    ShortBlock,        // the block's last packet comes one sample early
    StreamStop,        // instead of the block, a header with count 0 and bit 14 clear; the
                       // board then sends nothing until the scan is started again
    SyncLoss,          // the block breaks off with a last packet whose bit 14 is clear, then
                       // nothing until the scan is started again
    SyncPeriodChange,  // the sync period grows by one count from this block on
};
void scheduleFault(Fault fault, int nth, int repeat = 1);
// Pulls the cable at once (as Unplug does when its call comes).
void unplug();
void clearFaults();
// Parses a TOLMAR_VSENSOR_FAULTS text and schedules its entries; false (nothing scheduled) on a
// syntax error.
bool scheduleFaults(const std::string& text);

// The I2C transfers on the bus, oldest first, for tests (since the last reset or clear; the
// oldest are dropped beyond kI2cLogSize, so a long session does not grow without end).
struct I2cTransfer {
    bool write = false;
    uint16_t device = 0;
    uint16_t memoryAddress = 0;  // where the transfer started
    size_t dataLength = 0;       // data bytes moved (writes: excluding the two address bytes)
    bool ok = false;
};
constexpr size_t kI2cLogSize = 4096;
std::vector<I2cTransfer> i2cLog();
void clearI2cLog();

// The sync input. The detector runs once a block with the init flag or with sync_mode set
// arrives, and locks after a short settling time (two read-backs of the block). It follows signals
// from kSyncMinHz to kSyncMaxHz; outside that it still locks but flags the frequency too low or
// too high. The period is counted at kSyncClockHz on every firmware.
constexpr double kSyncClockHz = 192e6;
constexpr double kSyncMinHz = 10;
constexpr double kSyncMaxHz = 250e3;
// Sets the signal at the sync input of one module, or of all with module -1 (0: no signal).
// Loading a profile sets its default again (or TOLMAR_VSENSOR_SYNC_HZ when given).
void setSyncFrequency(double hz, int module = -1);
double syncFrequency(int module = 0);

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
// The outputs' voltages follow the DAC codes through the unit's own calibration (outputs A and
// B from 12-bit codes; a fixed output C supply from the side aux_sw1 or aux_sw2 selects, 0 V
// with neither).
struct BoardState {
    bool configured = false;
    uint16_t firmwareId = 0;
    size_t blockWrites = 0;  // register blocks taken since the last configuration
    bool initFlag = false;   // flags of the last block taken
    bool clearFifo = false;
    BoardRegisters registers;
    double idleVolts[3] = {};   // outputs A, B and C at their idle codes
    double startVolts[3] = {};  // at the first step of the sweep
    double stepVolts[3] = {};   // change per step
    // Output k's voltage at step i of the sweep.
    double sweepVolts(int k, int i) const { return startVolts[k] + i * stepVolts[k]; }
};
BoardState boardState(int module = 0);

// The register blocks a board took, oldest first (since its configuration or the last clear;
// the oldest are dropped beyond kBlockWriteLogSize).
struct BlockWrite {
    BoardRegisters registers;
    bool initFlag = false;
    bool clearFifo = false;
};
constexpr size_t kBlockWriteLogSize = 4096;
std::vector<BlockWrite> blockWriteLog(int module = 0);
void clearBlockWriteLog(int module = 0);

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
    double syncHz = 0;     // signal at the sync input (0: none wired)
};
const std::vector<UnitProfile>& unitProfiles();
// nullptr for an unknown name.
const UnitProfile* findProfile(const std::string& name);

// ---- The FIFO stream and the plasma model behind it ----
// While run_en is set the board streams measured data blocks: a normal scan gives step by step,
// channel by channel (the enabled ones on boards with channel enables), iv_samples samples each,
// twice the steps with up_down_scan; with run_aux every value is iv_samples two-word entries (high
// half first), all zero but the last, which carries the 32-bit sum. A synchronised scan sends a
// period packet (the sync period, low half first) and then, per step and channel, the sampling
// phases one after the other, each over the slots of the sync period. A temperature scan sends 13
// channels of four phases of 40 samples. Packets hold at most 8191 words after the header; the
// last packet of a block ends with two status words.
//
// The samples come from a plasma model: each sensor of the disc sees an ion energy distribution
// of Gaussian peaks; the collector current is the flux above the retarding energy of the step,
// the voltage of the bias grid. Output A drives the bias grid, B the collector, C the
// secondary-electron suppression; a two-value board with a scanned output C (option bit 1) has
// its bias grid on C instead. The flux and the peak energies fall off towards the edge of the
// disc. The monitor channels sense the electrode and the bias grid (below).

struct IonPeak {
    double energy;  // eV
    double width;   // eV, standard deviation
    double weight;  // share of the flux
};

struct PlasmaModel {
    static constexpr int kThermistors = 13;
    double flux = 1e-6;  // A at the collector without retarding field, disc centre
    // Both peaks and their flanks lie inside the sweep every unit makes by default: -10 to
    // 100 V, which ends at 60 V where the bias grid's output does (the two-value unit).
    IonPeak peaks[2] = {{20, 3, 0.5}, {40, 3, 0.5}};
    double edgeFluxDrop = 0.3;     // the disc edge sees (1 - edgeFluxDrop) of the centre's flux
    double edgeEnergyDrop = 0.1;   // and peak energies lower by this share
    double noise = 2e-9;           // A rms on every current sample
    double saturatedShare = 1e-4;  // share of current samples sent saturated (0x8000)
    double electrodeVoltage = 75;  // V
    double monitorReference = 5;   // V on monitor 1 (monitor 0 = electrode - reference,
                                   // monitor 2 = bias grid + reference)
    double monitorAux = 1;         // V on monitor 3 (on units with the alternate row order
                                   // monitor 3 senses the bias grid + reference too)
    double monitorNoise = 0.002;   // V rms
    // Pulsed plasma, seen by synchronised scans: during the first pulseDuty of each sync period
    // the distribution above; in the rest the flux drops to pulseOffFlux of it and only the
    // first peak remains.
    double pulseDuty = 0.5;
    double pulseOffFlux = 0.3;
    double thermistors[kThermistors] = {25.0, 25.0, 25.0, 27.5, 25.0, 25.0, 30.0,
                                        25.0, 25.0, 22.5, 25.0, 25.0, 25.0};  // deg C
    uint32_t seed = 1;  // noise and saturation are pseudo-random from this seed
};

// The model every board uses (reset() restores the default).
PlasmaModel plasmaModel();
void setPlasmaModel(const PlasmaModel& model);

// Radial position (0 centre .. 1 edge) of sensor k of n on the disc: for 13 sensors where the
// carrier disc places them (sensor 2 in the centre, 5 to 12 on the edge), otherwise k / (n - 1).
double sensorRadius(int sensor, int sensors);
// Collector current (A, negative: ions arriving) of a sensor at a retarding voltage; syncPhase in
// [0, 1) for a synchronised scan, negative for the time average over the sync period.
double collectorCurrent(const PlasmaModel& model, int sensor, int sensors, double retardingVolts,
                        double syncPhase = -1);
// Resistance of thermistor k of the unit at the model's temperature (B-parameter equation with
// the profile's tempCoef row: B, R25, series resistance).
double thermistorResistance(const PlasmaModel& model, const UnitProfile& profile, int k);

// Pace of the stream (see TOLMAR_VSENSOR_SPEED); reset() reads the environment again.
void setStreamSpeed(double speed);
// ---- end of the FIFO stream ----

}  // namespace vsensor

#endif  // VSENSOR_VIRTUALSENSOR_H
