// TolmarCntrl drives one set of sensor electronics: an FPGA board with a non-volatile memory
// behind a QuickUSB interface module. One object per unit, used by one thread at a time; the
// library takes no locks. Results: 1 (or a count) for success, 0 or a negative code for failure,
// and one message-log line per failure.
#ifndef TOLMAR2_TOLMARCNTRL_H
#define TOLMAR2_TOLMARCNTRL_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "quickusb/QuickUsbApi.h"

class TolmarCntrl {
public:
    static const char* const API_VERSION;  // "2.9.0"
    static constexpr uint32_t I2C_MAGIC_STRING = 0xB070AAA0u;
    static const unsigned char ENCKEY[16];  // key constant offered to cipher clients

    // Room in the record mirror. A record may hold up to MAX_CAL_PAIRS calibration pairs in
    // cal_adc (rows x ranges: 20 rows of 2 ranges, or up to 40 rows of one range).
    static constexpr int MAX_CAL_PAIRS = 40;
    static constexpr int MAX_CAL_ROWS = 40;   // rows of cal_adc
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
    // A record is refused (-8, mirror unchanged) when its calibration rows x ranges exceed
    // MAX_CAL_PAIRS, it has more than MAX_CAL_RANGES ranges or more than MAX_VCHAN voltage
    // monitors: those counts index the fixed tables of the mirror. The extended probe count is
    // only a number (up to 100 in formats 14 and 15, where larger values read as 0; up to 255
    // in format 16); users of it keep to the MAX_TEMP_ROWS rows of tempCoef.
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

    // Bits of deviceOptions.
    static constexpr uint32_t OPTION_LOW_TOP_RANGE = 0x001;   // top current range is 10 uA
    static constexpr uint32_t OPTION_VC_SCANNABLE = 0x002;    // output C is a scanned DAC
    static constexpr uint32_t OPTION_ADC16 = 0x004;           // 16 ADC channels, 13 probes
    static constexpr uint32_t OPTION_ADC20 = 0x008;           // 20 ADC channels, 17 probes
    static constexpr uint32_t OPTION_EXTENDED = 0x010;        // extended board, 24 channels
    static constexpr uint32_t OPTION_CHANNEL_ENABLE = 0x040;  // per-channel enable hardware
    static constexpr uint32_t OPTION_ALTERNATE_ROWS = 0x100;  // probe rows in alternate order
    static constexpr uint32_t OPTION_KALDER = 0x200;          // aspect-ratio sensor

    // Flags derived from deviceOptions after every decode.
    bool lowTopCurrentRange = false;  // OPTION_LOW_TOP_RANGE
    bool vcScannable = false;         // OPTION_VC_SCANNABLE
    bool extendedProbes = false;      // OPTION_EXTENDED
    bool channelEnableHw = false;     // OPTION_CHANNEL_ENABLE
    bool alternateRows = false;       // OPTION_ALTERNATE_ROWS
    bool kalderSensor = false;        // OPTION_KALDER

    // ---- Connection (discovery, firmware, identity texts, RS-232 pass-through) ----
    // Lists the modules, opens each in turn and reads its record; name points at the last module
    // that could be opened (inside fifoBuffer), recognized tells whether its record was read.
    bool findTarvoDevice(char*& name, bool& recognized);
    // Finds a unit and connects to it; force connects to an unrecognised unit as well.
    int connectTo(bool force);
    // Opens module devName, checks its record (unless force), loads the FPGA firmware chosen by
    // the unit's options, writes the initial block and, with checkSerialLink, tests the board's
    // serial link. 1 when connected; every failure ends disconnected and returns 0.
    int connectTo(char* devName, bool force, bool checkSerialLink);
    // Sends the firmware file to the FPGA in chunks of up to 64 bytes; true when the FPGA then
    // reports itself configured.
    bool programFPGA(const char* path);
    // Resets the identity and record mirror, switches the high-voltage outputs off and closes
    // the module; 1 when it closed cleanly (or none was open).
    int disconnect();
    // Writes the identity fields to the log.
    void print();
    // Description texts. size: in, the buffer's capacity; out, the text's length. With too small
    // a buffer (less than 800, or less than the text and its terminating NUL) nothing is written,
    // size is set to the capacity needed and the result is false.
    bool getSystemShortDescription(char* buffer, int& size);
    bool getSystemDescription(char* buffer, int& size);
    static constexpr int MIN_DESCRIPTION_SIZE = 800;
    // RS-232 pass-through to the module's serial ports.
    QRETURN setRS232BaudRate(unsigned long baud);
    QRETURN getNumRS232(unsigned char port, unsigned short* count);
    QRETURN flushRS232(unsigned char port);
    QRETURN readRS232(unsigned char port, char* data, unsigned short* length);
    QRETURN writeRS232(unsigned char port, char* data, unsigned short length);
    // Probe counts: setNProbes (n held to 0..MAX_CAL_ROWS) also resets the first n probe rows
    // and the voltage monitors to offset 0 and gain 1.
    void setNProbes(int n);
    int getNProbes();
    int getNVchan();

    std::atomic<bool> abortRequested{false};  // stops firmware loading and FIFO reads

    // ---- FPGA configuration register block ----
    // Every setting of the measuring electronics lives in one 64-byte block that is always sent
    // as a whole: change a field, then call writeFpgaConfigParameters. readFpgaConfigParameters
    // fetches the block the board holds (with its status fields) into the same fields.
    static constexpr int CONFIG_BLOCK_SIZE = 64;
    static constexpr int MAX_CHANNELS = 24;
    static constexpr int FIFO_BUFFER_WORDS = 65536;

    // Loads the register defaults (DAC idle and start codes from the calibration's zero codes).
    // Sends nothing.
    void setDefaultConfigParameters();
    // Packs the fields and sends the block. clearFifo also discards the words buffered in
    // fifoBuffer; initFlag is set only by the first write of a connection.
    bool writeFpgaConfigParameters(bool clearFifo, bool initFlag);
    // Reads the block back from the board (switching read-back mode on around the read when it
    // was off) and unpacks it. A failed read leaves the fields as they were.
    bool readFpgaConfigParameters();
    // Switches the high-voltage supply enables (only when output A has a nonzero idle code) and
    // sends the block; a failure disconnects.
    bool setHVPSEnabled(bool on);
    // Packing into and unpacking from fpgaTransferBuffer, without any transfer.
    void packFpgaConfigBlock(bool clearFifo, bool initFlag);
    void unpackFpgaConfigBlock();

    uint8_t fpgaTransferBuffer[CONFIG_BLOCK_SIZE] = {};  // block image, sent and read back

    uint16_t fifoBuffer[FIFO_BUFFER_WORDS] = {};
    int fifoWordsInBuffer = FIFO_BUFFER_WORDS;
    int fifoReadBytes = 2 * FIFO_BUFFER_WORDS;
    int fifoReadPos = FIFO_BUFFER_WORDS;  // all words consumed

    uint8_t relays = 0x20;  // 7 bits: relay outputs 6..0
    bool soft_adc = false;  // software ADC control bit
    uint8_t cnvst_pw = 12;  // 5 bits: convert-start pulse width
    bool aux_sw0 = false;
    bool aux_sw1 = false;         // positive high-voltage select of output C
    bool aux_sw2 = false;         // negative high-voltage select of output C
    uint8_t sync_lead_dtime = 3;  // 6 bits
    bool sync_edge_r_f = false;
    bool sync_mode = false;  // synchronised (time-resolved) acquisition
    bool up_down_scan = false;
    bool gain = true;
    std::atomic<bool> run_en{false};  // polled by readers while another thread may clear it
    bool run_aux = false;             // doubles the sample count; not read back
    bool read_csr_md = false;         // the next data read returns the block
    uint16_t iv_steps = 8;            // 12 bits
    int32_t iv_samples = 32;          // 20 bits
    uint32_t sync_samples = 0xFFFFF;  // 20 bits, sent instead of iv_samples in sync_mode
    uint8_t hvps_en0 = 0;             // 3 bits each: high-voltage supply enable groups
    uint8_t hvps_en1 = 0;
    uint8_t hvps_en2 = 0;
    uint32_t setup_zs_delay = 1000;  // 20 bits each
    uint32_t setup_fs_delay = 1000;
    uint32_t setup_ns_delay = 200;
    uint8_t setup_iv_delay = 4;
    uint8_t sync_smpl_div = 0;
    uint8_t sync_smpl_mult = 24;  // 5 bits
    uint32_t sync_f_smpl_d = 0;   // 20 bits
    uint16_t v_a_def = 0;         // 12-bit DAC codes of output A
    int16_t v_a_inc = 64;         // 13-bit signed
    uint16_t v_a_start = 0;
    uint16_t v_b_def = 0;   // 12-bit DAC codes of output B
    int16_t v_b_inc = -64;  // 13-bit signed
    uint16_t v_b_start = 0;
    uint16_t v_c_def = 0;  // 16-bit DAC codes of output C
    int32_t v_c_inc = 0;   // 17-bit signed
    uint16_t v_c_start = 0;
    uint16_t iv_steps2 = 8;  // second scan segment
    int32_t iv_samples2 = 32;
    int16_t v_a_inc2 = 64;
    uint32_t sync_aux_d = 0;  // 20 bits
    bool read_temp = false;   // temperature acquisition mode

    // Status, read back only.
    uint16_t fpgaFirmwareID = 0;
    bool serialTrasceiverBusy = false;
    bool sync_frq_high = false;
    bool sync_frq_low = false;
    bool sync_frq_locked = false;
    uint32_t sync_frq8 = 0;  // sync period in counts of the 192 MHz clock

    // Channel enables; carried by the block only on boards with OPTION_CHANNEL_ENABLE, counted
    // again from every read-back.
    bool channelEnabled[MAX_CHANNELS] = {true, true, true, true, true, true, true, true,
                                         true, true, true, true, true, true, true, true,
                                         true, true, true, true, true, true, true, true};
    int nEnabledChannels = MAX_CHANNELS;
    // ---- end of the FPGA configuration register block ----

    // ---- Scan voltages and ranges ----
    // Voltages become DAC codes through the output's cal_dac pair (code = slope * volts +
    // offset, rounded half away from zero); every voltage handed back is the one its code
    // produces. Each setter changes the fields and sends the block only when connected; a
    // running scan is stopped, rewritten and restarted around the change.
    //
    // Sweep of outputs A, B and C from vs[k] to ve[k] (both clamped into vRange[k], in/out).
    // With leadCh 0..2, step is the lead output's step in volts (in/out, its sign follows the
    // direction of the sweep) and the other outputs follow in as many steps; with any other
    // leadCh, step is a number of points (1..4096) at fixed voltages. Returns iv_steps, or 0
    // when refused (a step that converts to no code change is refused like a zero step).
    int setScanVoltages(double* vs, double* ve, int& leadCh, double& step);
    // Two-segment sweep of output ch (0 = A, 1 = B): start -> mid with step1, mid -> end with
    // step2; a segment with equal ends holds its voltage for |step| points. Output B has no
    // second increment: its second segment keeps the first segment's step.
    bool setScanVoltages(unsigned ch, double start, double step1, double mid, double step2,
                         double end);
    // Outputs A and B swept together (each from its own start, step and end; the scan runs the
    // shorter of the two step counts), output C held at vc. All values in/out.
    bool setScanVoltages(double& vaStart, double& vaStep, double& vaEnd, double& vbStart,
                         double& vbStep, double& vbEnd, double& vc);
    // Idle voltages of outputs A, B and C (in/out). On a board whose output C is a fixed supply,
    // a change of polarity switches the supply off and waits OUTPUT_C_SWITCH_MS first.
    bool setDefVoltages(double* v);
    // Current range 0..3 (above 3 acts as 3): relay bits 0-1 and the gain bit. A relay change
    // waits RELAY_SETTLE_MS before a running scan restarts.
    bool setMeasuringRange(unsigned range);
    // Channel enables (boards with OPTION_CHANNEL_ENABLE only, else -1): 24 flags in; the count
    // of enabled channels as the board reports it, or -1.
    int setEnabledChannels(const bool* en);
    // Copies the 24 flags (read back from the board when connected) to en; -1 when size < 24
    // or the read-back fails.
    int getEnabledChannels(bool* en, int size);
    // Masks of disabled channels 0-15 and 16-23, as the block carries them (0 without
    // OPTION_CHANNEL_ENABLE).
    uint32_t getFirstChannelEnableBitMask();
    uint32_t getSecondChannelEnableBitMask();
    // When connected with a scan running: stop it, write with clearFifo and restart it (below).
    // True when both writes succeeded or nothing needed sending.
    bool rewriteRunningScan(const char* failure, bool clearFifoOnRestart = false);
    // Clears run_en (wasRunning tells what it was) and writes the block with clearFifo; logs
    // `failure` when the write fails.
    bool stopScanForChange(const char* failure, bool& wasRunning);
    // When the scan was running: sets run_en and writes again ("Failed to rerun scan").
    bool restartScanAfterChange(bool wasRunning, bool clearFifo);

    static constexpr unsigned RELAY_SETTLE_MS = 300;
    static constexpr unsigned OUTPUT_C_SWITCH_MS = 1000;
    static constexpr int MAX_SCAN_POINTS = 4096;
    // ---- end of scan voltages and ranges ----

    // ---- Scan timing, synchronisation and resource estimates ----
    // Settling delays in microseconds: zero, first, next step (each at most MAX_SETTLING_DELAY)
    // and per ADC channel (at most 255). In automatic mode only the per-channel delay is taken.
    bool setSettlingDelays(unsigned zsd, unsigned fsd, unsigned nsd, unsigned ivd);
    bool setSettlingDelays();
    bool setSettlingDelaysAuto(bool on);
    void getSettlingDelays(unsigned* zsd, unsigned* fsd, unsigned* nsd, unsigned* ivd);
    // Single or double-ended, normal or synchronised scan; edge selects the sync edge. A
    // synchronised scan needs the sync input to lock.
    bool setScanType(bool doubleEnded, bool synchronized, bool edge);
    // Whole scans averaged in software (0 counts as 1).
    void setAverage(unsigned n);
    // ADC samples per step for the two scan segments (samples2 0: as samples), at most 0xFFFFF.
    bool setAverageHW(unsigned samples, unsigned samples2);
    // Time grid of a synchronised scan: resolution in us (in/out: 1/24 us steps below 1 us,
    // whole us above), acquisition start after the sync edge in us (in/out), window length in
    // us (0: the whole period), phase in us, and averaging of consecutive slots in software.
    bool setSyncScanParameters(double& timeRes, unsigned& acqStart, unsigned& acqWindow,
                               unsigned& phase, bool trmAvg);
    // Temperature acquisition mode; sent with the next block write.
    void setTemperatureScan(bool on);
    // Measures the sync input: 1 with the frequency in *freq (may be null); 0 not connected or a
    // transfer failed; -1 not locked, -2 too low, -3 too high, -4 no period measured. resync
    // restarts the sync detector and waits up to SYNC_LOCK_TIMEOUT_MS for it to lock.
    int getSyncFreq(double* freq, bool resync);
    // Fills ScanLimits from the stored fields; never talks to the board.
    void estimateScanResources();
    // The estimate (refreshed while no scan runs; a synchronised scan reads the board first).
    bool getScanResources(double& rate, double& duration, double& syncFreq, long& values);

    struct ScanLimitsRecord {
        double scanRate = -1;                  // scans per second, or -1
        double scanDuration = -1;              // seconds of the whole averaged acquisition, or -1
        double syncFrequency = -1;             // Hz, or a negative status of the sync input
        uint32_t valuesPerScan = 0xFFFFFFFFu;  // all ones when not estimated
        uint32_t samplesExpected = 0;          // raw samples of the whole averaged acquisition
    };
    ScanLimitsRecord ScanLimits;

    bool settlingAuto = false;  // settling delays chosen automatically
    uint32_t averageCount = 1;  // whole scans averaged in software
    bool trmAvg = false;        // consecutive sync slots averaged in software ...
    uint32_t trmAvgDiv = 0;     // ... this many at a time

    static constexpr uint32_t MAX_SETTLING_DELAY = 1000000;
    static constexpr unsigned SYNC_LOCK_TIMEOUT_MS = 4000;
    static constexpr unsigned SYNC_LOCK_POLL_MS = 10;
    // ---- end of scan timing ----

    int nAdcChannels = 20;
    int nProbes = 17;

    // ---- Scan run, FIFO read-out, physical units and monitors ----
    // While run_en is set the board streams 16-bit words in packets: a header (bit 15 last packet
    // of a block, bit 14 scan running, bits 0-12 count of words that follow), then the words. A
    // block carries one whole scan, step by step, channel by channel, iv_samples samples each; the
    // last two words of its last packet are the status words. 0x8000 and 0x8001 mark saturated
    // samples. Result codes of the readers are listed with each reader in ReadOut.cpp.
    static constexpr int PACKET_BUFFER_WORDS = 65536;
    static constexpr int TEMP_CHANNELS = 13;
    static constexpr int TEMP_BLOCK_SAMPLES = 2080;  // 13 channels x 4 phases x 40 samples

    // Starts a normal or synchronised scan (the latter only once the sync input is locked).
    bool startScan();
    // Stops the scan; returns 1 also when not connected.
    bool stopScan();
    // Asks a reader polling abortRequested to return; never touches the board. Always 1.
    int abortAll();
    // Reads one (software-averaged) normal scan. data points into scanData: averaged, K arrays of
    // nPoints values (channel c, step i at c * nPoints + i); raw, K arrays of every sample. With
    // fewer enabled channels than nAdcChannels the arrays are expanded, disabled ones all zero.
    int readFpgaFifoData(double*& data, bool averaged, unsigned& nPoints, unsigned& status);
    // Self-test readers for two-channel boards: groups of iv_samples samples alternating between
    // a and b, and (readFpgaFifoData2) words alternating, with a parity bit in bit 0.
    int readFpgaFifoData(double*& a, double*& b, bool averaged, unsigned& nPoints,
                         unsigned& status);
    int readFpgaFifoData2(double*& a, double*& b, bool averaged, unsigned& nPoints,
                          unsigned& status);
    // Reads one packet (header bits 0-11 as its length) into samples (room for 4095 words).
    int readPacket(short* samples, int& count, bool& running, bool& last, unsigned& status,
                   bool reserved);
    // Mean of the samples that are not -32768; 0 when there are none.
    double doAverageWithSaturate(short* samples, int n, int* reserved);
    void getScanProgress(int& percent, double& duration, int& elapsed);

    // One complete scan of either kind, converted to amperes and volts; 24-value frames are
    // compacted to nExtProbes probes and nVchan monitors.
    int getDataFromOneScan(double*& data, unsigned& nScans, unsigned& nPoints, int& nChannels,
                           double& timeRes, unsigned& acqStart, unsigned& status, bool averaged);
    // One time-resolved scan: nScans frames (time points) of K arrays of nPoints values.
    int readFpgaFifoDataTRM(double*& data, unsigned& nScans, unsigned& nPoints, unsigned& status);
    // One temperature block converted to 13 temperatures in degrees Celsius.
    int getDataFromOneTempScan(double* data, unsigned& n, unsigned& status);
    int readFpgaFifoDataTEMP(double* data, unsigned& n, unsigned& status);

    // Converts nScans frames of ADC codes in place to amperes and volts and rewrites the monitor
    // rows so that the last row is the swept voltage and the one before it the electrode voltage.
    int toPhysicalUnits(double* data, unsigned nScans, unsigned nPoints);
    // Between scans a short measurement; during a scan (or not connected) the last results.
    bool getElectrodeVoltage(double* mean, double* minScanMean);
    int getBaseVoltages(double* m0, double* m1, double* m2, double* m3);
    int getPrecalVals(double* out, int size);
    static void fitLinear(const double* x, const double* y, unsigned n, double* intercept,
                          double* slope);
    static void fitLinear(double x0, double dx, double* y, unsigned n, double* intercept,
                          double* slope);
    // Finds the linear stretch of a monotonic curve around its midpoint: start and n (in/out).
    static void findLinearRange(double* y, int& n, int& start);
    int calibrate();
    int getCalibrationProgress() const;

    // Result arrays, owned here; the pointer handed out stays valid until the next read.
    std::unique_ptr<double[]> scanData;
    std::unique_ptr<double[]> scanSum;
    size_t scanDataCapacity = 0;  // elements in each of the two
    // Programmed swept voltage per step, built by startScan.
    std::unique_ptr<double[]> monitorVoltages;
    size_t monitorVoltagesCapacity = 0;
    uint16_t packetBuffer[PACKET_BUFFER_WORDS] = {};
    int packetBufferFill = 0;  // words
    uint32_t lastPacketCount = 0;
    std::atomic<uint32_t> samplesRead{0};  // progress, read from another thread
    double scanStartTime = 0;              // seconds (monotonic clock)

    double baseVoltages[4] = {0, 0, 0, 0};
    double electrodeVoltageMean = 0;
    double electrodeVoltageMinScan = 0;
    double precalVals[MAX_CHANNELS] = {};
    int calibrationProgress = 0;
    // ---- end of scan run, read-out and units ----

    bool connected = false;
    bool recordLoaded = false;
};

#endif  // TOLMAR2_TOLMARCNTRL_H
