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
    static const char* const API_VERSION;        // "2.9.0"
    static constexpr uint32_t I2C_MAGIC_STRING = 0xB070AAA0u;
    static const unsigned char ENCKEY[16];       // key constant offered to cipher clients

    // Room in the record mirror.
    static constexpr int MAX_CAL_ROWS = 20;      // rows of cal_adc
    static constexpr int MAX_CAL_RANGES = 2;     // ranges per cal_adc row, entries of rangeValue
    static constexpr int MAX_VCHAN = 4;          // voltage monitor channels
    static constexpr int MAX_TEMP_ROWS = 20;     // rows of tempCoef
    static constexpr uint16_t RECORD_ADDRESS = 0x2000;
    static constexpr uint16_t I2C_DEVICE = 0x51;

    TolmarCntrl();
    ~TolmarCntrl();
    TolmarCntrl(const TolmarCntrl&) = delete;
    TolmarCntrl& operator=(const TolmarCntrl&) = delete;

    // ---- Link, logging (library-wide) ----
    static unsigned long getDevNames(char* names, unsigned long size);
    static void setUsbLink(bool genuine);
    static bool isGenuineUsbLink();
    static void setLogging(int mode);
    static const char* getLogFileName();

    // ---- Non-volatile configuration record ----
    // Reads the record from fileName, or from the I2C memory of the open module when null.
    int readTolmarConfigParameters(char* fileName = nullptr);
    // Writes the mirror to fileName, else to the connected unit, else to module devName opened
    // for the purpose.
    int writeTolmarConfigParameters(char* devName = nullptr, char* fileName = nullptr);
    int eraseI2C(unsigned int address, unsigned int count, char value);
    void printI2cMem();
    // Sets the record mirror back to its defaults.
    void setRecordDefaults();

    // ---- Identity and link ----
    QHANDLE qusbHandle = 0;       // 0 = no module open
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

    // Flags derived from deviceOptions after a decode.
    bool vcScannable = false;     // bit 1: output C is a scanned DAC

    int nAdcChannels = 20;
    int nProbes = 17;

    bool connected = false;
    bool recordLoaded = false;
};

#endif  // TOLMAR2_TOLMARCNTRL_H
