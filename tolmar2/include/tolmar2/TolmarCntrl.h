// TolmarCntrl drives one set of sensor electronics: an FPGA board with a non-volatile memory
// behind a QuickUSB interface module. One object per unit, used by one thread at a time; the
// library takes no locks. Results: 1 (or a count) for success, 0 or a negative code for failure,
// and one message-log line per failure.
#ifndef TOLMAR2_TOLMARCNTRL_H
#define TOLMAR2_TOLMARCNTRL_H

#include <cstdint>

#include "tolmar2/QuickUsbApi.h"

class TolmarCntrl {
public:
    static const char* const API_VERSION;  // "2.9.0"
    static constexpr uint32_t I2C_MAGIC_STRING = 0xB070AAA0u;
    static const unsigned char ENCKEY[16];  // key constant offered to cipher clients

    // Room in the record mirror.
    static constexpr int MAX_CAL_ROWS = 20;   // rows of cal_adc
    static constexpr int MAX_CAL_RANGES = 2;  // ranges per cal_adc row, entries of rangeValue
    static constexpr int MAX_VCHAN = 4;       // voltage monitor channels
    static constexpr int MAX_TEMP_ROWS = 20;  // rows of tempCoef
    static constexpr uint16_t RECORD_ADDRESS = 0x2000;
    static constexpr uint16_t I2C_DEVICE = 0x51;

    // Result codes of the record operations (1 = success).
    //   read:  -2 the magic read was 1; -3 address write failed; -4 header could not be read
    //          (also: record file missing or shorter than 8 bytes); -5 unknown format version;
    //          -7 record body could not be read (a failed or empty read; a short read is
    //          continued) or record file shorter than its format's size; -8 the record does not
    //          fit the mirror (see below); any other value is the magic found instead of
    //          I2C_MAGIC_STRING. The record is read into a fixed buffer, so no allocation fails.
    //   write: -3 five failures in a row on one chunk; -4 unknown format version in the mirror;
    //          -5 temporary open failed; -6 not connected and no device name; -7 the record file
    //          could not be written (an existing file is left intact); -8 the mirror's counts do
    //          not fit the record layout.
    // A record is refused (-8, mirror unchanged) when it has more than MAX_CAL_ROWS calibration
    // rows, more than MAX_CAL_RANGES ranges, more than MAX_VCHAN voltage monitors, or more than
    // MAX_TEMP_ROWS extended probes: those counts index the fixed tables of the mirror.
    static constexpr int RECORD_DOES_NOT_FIT = -8;

    TolmarCntrl();
    ~TolmarCntrl();
    TolmarCntrl(const TolmarCntrl&) = delete;
    TolmarCntrl& operator=(const TolmarCntrl&) = delete;

    // ---- Link, logging (library-wide) ----
    // Fills names with the NUL-terminated module names (buffer zeroed first); returns the count.
    static unsigned long getDevNames(char* names, unsigned long size);
    static void setUsbLink(bool genuine);
    static bool isGenuineUsbLink();
    static void setLogging(int mode);
    static const char* getLogFileName();

    // ---- Non-volatile configuration record ----
    // Reads the record from fileName, or from the I2C memory of the open module when null.
    int readTolmarConfigParameters(char* fileName = nullptr);
    // Writes the mirror, in the layout of i2cFormatVersion, to fileName, else to the connected
    // unit, else to the module named moduleName opened for the purpose.
    int writeTolmarConfigParameters(char* moduleName = nullptr, char* fileName = nullptr);
    // Writes `value` to `count` bytes of the I2C memory from `address`, each verified; 1 or -1.
    int eraseI2C(unsigned int address, unsigned int count, char value);
    // Prints the mirror to standard output.
    void printI2cMem();
    // Sets the record mirror back to its defaults.
    void setRecordDefaults();

    // ---- Identity and link ----
    QHANDLE qusbHandle = 0;  // 0 = no module open
    char qDevName[10];
    char qusbMake[128];
    char qusbModel[128];
    char qusbSerial[128];
    char qusbHWRev[20];
    uint16_t qusbDriverVer[3] = {0, 0, 0};
    uint16_t qusbDllVer[3] = {0, 0, 0};
    bool qusbHSpeed = false;

    // ---- Record mirror ----
    uint32_t i2cMagicString;
    int32_t i2cFormatVersion;
    char devName[20];
    uint32_t createTime;
    uint32_t calTime;
    double vRange[3][2];
    double iRange[4];
    double rangeValue[MAX_CAL_RANGES];
    double rCurrent[2];
    double rFilter;
    double cal_dac[4][2];
    double cal_adc_v[2];
    double cal_adc_i[4][2];
    double cal_adc[MAX_CAL_ROWS][MAX_CAL_RANGES][2];
    double cal_vmon[MAX_VCHAN][2];
    double vSettling[3][2][2];
    double calAuxA[3];
    double calAuxB[3];
    uint32_t calAuxWord;
    uint8_t nCalRows;
    uint8_t nCalRanges;
    uint8_t nVchan;
    uint32_t nExtProbes;
    double tempCoef[MAX_TEMP_ROWS][4];
    uint32_t extWord;
    uint32_t deviceOptions;

    // Flags derived from deviceOptions after every decode.
    bool lowTopCurrentRange = false;  // bit 0 (0x001): top current range is 10 uA
    bool vcScannable = false;         // bit 1 (0x002): output C is a scanned DAC
    bool extendedProbes = false;      // bit 4 (0x010): extended board (nExtProbes, tempCoef)
    bool channelEnableHw = false;     // bit 6 (0x040): per-channel enable hardware
    bool alternateRows = false;       // bit 8 (0x100): probe rows in alternate order
    bool kalderSensor = false;        // bit 9 (0x200): aspect-ratio sensor

    int nAdcChannels = 20;
    int nProbes = 17;

    bool connected = false;
    bool recordLoaded = false;
};

#endif  // TOLMAR2_TOLMARCNTRL_H
