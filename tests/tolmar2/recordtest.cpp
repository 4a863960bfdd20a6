// The configuration record: layouts read from and written to files, checked against images built
// field by field at their byte offsets (independent of the library's layout code), and the record
// in the virtual sensor's I2C memory: result codes, chunked verified writes and retries.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "Platform.h"
#include "RecordLayout.h"
#include "UsbLink.h"
#include "tempdir.h"
#include "tolmar2/TolmarCntrl.h"
#include "vsensor/VirtualSensor.h"

namespace {

using Bytes = std::vector<uint8_t>;
using vsensor::Fault;

// A little-endian record image written at explicit offsets.
struct Image {
    explicit Image(size_t size) : bytes(size, 0) {}
    void u8(size_t at, uint8_t v) { bytes.at(at) = v; }
    void u32(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) u8(at + i, static_cast<uint8_t>(v >> (8 * i)));
    }
    // Writes n doubles from `at`; returns the offset after them.
    size_t f64s(size_t at, const double* v, size_t n) {
        for (size_t i = 0; i < 8 * n; ++i) {
            uint64_t bits;
            std::memcpy(&bits, &v[i / 8], sizeof bits);
            u8(at + i, static_cast<uint8_t>(bits >> (8 * (i % 8))));
        }
        return at + 8 * n;
    }
    void text(size_t at, const std::string& s, size_t width) {
        for (size_t i = 0; i < width && i < s.size(); ++i) u8(at + i, static_cast<uint8_t>(s[i]));
    }
    Bytes bytes;
};

// Sets bytes given as "offset:hex" pairs.
Bytes patched(Bytes image, const std::string& pairs) {
    std::istringstream in(pairs);
    for (std::string pair; in >> pair;) {
        const size_t colon = pair.find(':');
        image.at(std::stoul(pair.substr(0, colon))) =
            static_cast<uint8_t>(std::stoul(pair.substr(colon + 1), nullptr, 16));
    }
    return image;
}

// Distinct values for every field of a record.
struct Sample {
    std::string serial = "QM759-2403-017";
    uint32_t options = 0x202, createTime = 1700000000, calTime = 1700100000;
    double vRange[3][2], iRange[4], rCurrent[2], rFilter, cal_dac[4][2], cal_adc_v[2];
    double cal_adc_i[4][2], calAuxA[3], calAuxB[3];
    uint32_t calAuxWord = 0x00010003;
    uint8_t rows = 3, ranges = 2, vchan = 2;
    uint32_t ext = 3;
    double cal_adc[40][2][2];  // rows x ranges up to 40 pairs: 40 rows of one range
    double cal_vmon[4][2], tempCoef[20][4], rangeValue[2], vSettling[3][2][2];
    uint32_t extWord = 7;
};

Sample makeSample(double next = 0.5) {
    Sample s;
    const std::pair<double*, size_t> fields[] = {
        {&s.vRange[0][0], 6},    {s.iRange, 4},
        {s.rCurrent, 2},         {&s.rFilter, 1},
        {&s.cal_dac[0][0], 8},   {s.cal_adc_v, 2},
        {&s.cal_adc_i[0][0], 8}, {s.calAuxA, 3},
        {s.calAuxB, 3},          {&s.cal_adc[0][0][0], 160},
        {&s.cal_vmon[0][0], 8},  {&s.tempCoef[0][0], 80},
        {s.rangeValue, 2},       {&s.vSettling[0][0][0], 12}};
    for (const auto& [v, n] : fields)
        for (size_t i = 0; i < n; ++i) v[i] = (next += 1.25);
    return s;
}

// The image of format 12 to 16 (16 if not given): bytes 0-143 are common, then each format's
// own layout.
Bytes imageOf(const Sample& s, int32_t version = 16) {
    Image im(version == 12 ? 368 : version == 13 ? 816 : 2048);
    im.u32(0, 0xB070AAA0u);
    im.u32(4, static_cast<uint32_t>(version));
    im.text(8, s.serial, 20);
    im.u32(28, s.options);
    im.u32(32, s.createTime);
    im.u32(36, s.calTime);
    im.f64s(40, &s.vRange[0][0], 6);
    im.f64s(88, s.iRange, 4);
    im.f64s(120, s.rCurrent, 2);
    im.f64s(136, &s.rFilter, 1);
    if (version == 12) {
        im.f64s(144, &s.cal_dac[0][0], 6);
        im.f64s(192, s.cal_adc_v, 2);
        im.f64s(208, &s.cal_adc_i[0][0], 8);
        im.f64s(272, &s.vSettling[0][0][0], 12);
        return im.bytes;
    }
    im.f64s(144, &s.cal_dac[0][0], 8);
    if (version == 13) {
        im.f64s(208, &s.cal_adc[0][0][0], 64);
        im.f64s(720, &s.vSettling[0][0][0], 12);
        return im.bytes;
    }
    // Formats 14 to 16: the counts, then their tables; format 16 has the extended probe count
    // before the tables, 14 and 15 after them (with option 0x10 only).
    im.f64s(208, &s.cal_adc_i[0][0], 8);
    im.f64s(272, s.calAuxA, 3);
    im.u32(296, s.calAuxWord);
    im.f64s(300, s.calAuxB, 3);
    im.u8(324, s.rows);
    im.u8(325, s.ranges);
    im.u8(326, s.vchan);
    if (version == 16)
        im.u8(327, static_cast<uint8_t>(s.ext));
    size_t at = version == 16 ? 328 : 327;
    // Rows without ranges take no bytes (and may be more than the sample has room for).
    for (int r = 0; s.ranges > 0 && r < s.rows; ++r)
        at = im.f64s(at, &s.cal_adc[r][0][0], 2 * s.ranges);
    at = im.f64s(at, &s.cal_vmon[0][0], 2 * s.vchan);
    if (version == 16) {
        at = im.f64s(at, &s.tempCoef[0][0], 80);
        at = im.f64s(at, s.rangeValue, s.ranges);
        im.u32(at, 0x80);
        im.u32(at + 4, s.extWord);
    } else if (s.options & 0x10) {
        im.u32(at, s.ext);
        im.f64s(at + 4, &s.tempCoef[0][0], 80);
    }
    return im.bytes;
}

int sleepsOf500 = 0;

// A controller on the virtual sensor, in UTC, with no real waits and the log on standard error.
class Record : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TOLMAR_LINK", "virtual", 1);
        setenv("TZ", "UTC", 1);
        tzset();
        tolmar2::link::reselect();
        tolmar2::link::setI2cPause(std::chrono::milliseconds(0));
        sleepsOf500 = 0;
        tolmar2::platform::setSleepFunction([](unsigned ms) { sleepsOf500 += ms == 500; });
        TolmarCntrl::setLogging(0);
        vsensor::reset();
        cntrl = std::make_unique<TolmarCntrl>();
    }
    void TearDown() override {
        cntrl.reset();
        vsensor::clearFaults();
        tolmar2::platform::setSleepFunction(nullptr);
        tolmar2::link::setI2cPause(std::chrono::milliseconds(10));
    }
    // Reads the record from a file holding `bytes`.
    int readImage(const Bytes& bytes) {
        const std::string path = dir.file("in.rec");
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return cntrl->readTolmarConfigParameters(const_cast<char*>(path.c_str()));
    }
    // The mirror as the library encodes it.
    Bytes encoded() {
        const std::string path = dir.file("out.rec");
        EXPECT_EQ(1, cntrl->writeTolmarConfigParameters(nullptr, const_cast<char*>(path.c_str())));
        const std::string text = readWholeFile(path);
        return Bytes(text.begin(), text.end());
    }

    TempDir dir;
    std::unique_ptr<TolmarCntrl> cntrl;
};

// Every format up to the largest counts each allows: decoding the image (after a record of
// other values, so every field is overwritten) and encoding the mirror gives it back byte for
// byte. Formats 14 and 15 read an extended probe count above 100 as 0 (and write the 0);
// without option 0x10 the count is the number of rows. Format 13 is written in a 2048-byte file
// with zeros after the record, format 12 at its own size.
TEST_F(Record, EveryFormatReadsEveryFieldAndWritesTheSameImage) {
    const struct {
        const char* what;
        int32_t version;
        uint32_t options;
        uint8_t rows, ranges, vchan;
        uint32_t ext, extRead;
    } cases[] = {
        {"16: the sample", 16, 0x252, 3, 2, 2, 3, 3},
        {"14: the sample, extended", 14, 0x012, 3, 2, 2, 3, 3},
        {"15: the sample, plain", 15, 0x00A, 3, 2, 2, 0, 3},
        {"16: 40 rows of 1 range, 255 probes", 16, 0x252, 40, 1, 4, 255, 255},
        {"16: 255 rows without ranges", 16, 0x252, 255, 0, 0, 100, 100},
        {"14: 100 extended probes", 14, 0x012, 20, 2, 4, 100, 100},
        {"14: 101 extended probes", 14, 0x012, 20, 2, 4, 101, 0},
        {"13", 13, 0x002, 3, 2, 2, 3, 3},
        {"12", 12, 0x000, 3, 2, 2, 3, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(1, readImage(imageOf(makeSample(1000.25))));
        Sample s = makeSample();
        s.options = c.options;
        s.rows = c.rows, s.ranges = c.ranges, s.vchan = c.vchan, s.ext = c.ext;
        const Bytes image = imageOf(s, c.version);
        ASSERT_EQ(1, readImage(image));
        // Every field the image holds is checked by writing the mirror back below (the earlier
        // record's values would show); here the values that are not written back.
        const TolmarCntrl& m = *cntrl;
        EXPECT_EQ(c.version, m.i2cFormatVersion);
        EXPECT_STREQ(s.serial.c_str(), m.devName);
        EXPECT_TRUE(m.recordLoaded);
        if (c.version >= 14) {
            EXPECT_EQ(c.extRead, m.nExtProbes);
        }
        if (c.version <= 13) {  // format 13 has no voltage ADC pair, 12 no fourth DAC pair
            const double* unity = c.version == 13 ? m.cal_adc_v : m.cal_dac[3];
            EXPECT_EQ(std::make_pair(0.0, 1.0), std::make_pair(unity[0], unity[1]));
        }
        Sample back = s;
        back.ext = c.extRead;
        Bytes want = imageOf(back, c.version);
        want.resize(c.version >= 13 ? 2048 : want.size());
        EXPECT_EQ(want, encoded());
    }
}

// Bits 2-4 of the options decide the channel counts; bit 4 also marks extended probes. A serial
// filling all 20 bytes is cut to 19 characters so that it stays a terminated string.
TEST_F(Record, DerivesChannelCountsAndTerminatesTheSerial) {
    const struct {
        uint32_t options;
        int adc, probes;
    } cases[] = {{0x000, 2, 1}, {0x004, 16, 13}, {0x00C, 20, 17}, {0x01C, 24, 20}};
    for (const auto& c : cases) {
        Sample s = makeSample();
        s.options = c.options;
        s.serial = "QM759-ABCDEFGHIJKLMNOPQ";
        ASSERT_EQ(1, readImage(imageOf(s)));
        EXPECT_STREQ("QM759-ABCDEFGHIJKLM", cntrl->devName);
        EXPECT_EQ(c.adc, cntrl->nAdcChannels) << c.options;
        EXPECT_EQ(c.probes, cntrl->nProbes) << c.options;
        EXPECT_EQ(c.options == 0x01C, cntrl->extendedProbes) << c.options;
    }
}

// Records whose counts exceed the mirror's tables, or files shorter than their format, are
// refused and leave the mirror as it was. Each case patches the sample's format 16 image.
TEST_F(Record, RefusesRecordsThatDoNotFitAndKeepsTheMirror) {
    ASSERT_EQ(1, readImage(imageOf(makeSample())));
    const Bytes before = encoded();
    const struct {
        const char* what;
        const char* patch;  // "offset:hex" pairs
        size_t size;        // cut to this size; 0: whole
        int result;
    } cases[] = {
        {"21 rows", "324:15", 0, -8},    {"3 ranges", "325:03", 0, -8},
        {"5 monitors", "326:05", 0, -8}, {"short format 16", "", 2047, -7},
        {"no header", "", 7, -4},        {"format 9", "4:09", 0, -5},
    };
    for (const auto& c : cases) {
        Bytes image = patched(imageOf(makeSample()), c.patch);
        image.resize(c.size ? c.size : image.size());
        EXPECT_EQ(c.result, readImage(image)) << c.what;
        EXPECT_EQ(before, encoded()) << c.what;
    }
}

// ---- Legacy formats 10 and 11 ----

// A legacy image: R[k] = 1 + k/4 for the 48 raw sums except the entries the averaging uses,
// which get numbers whose results are worked out by hand below.
Bytes legacyImage(int32_t version, const char* serial, uint32_t options) {
    const bool eleven = version == 11;
    Image im(eleven ? 600 : 584);
    im.u32(0, 0xB070AAA0u);
    im.u32(4, static_cast<uint32_t>(version));
    im.text(8, serial, 20);
    im.u32(28, options);
    const double vRange[6] = {-100, 100, 200, -200, -60, 60};
    im.f64s(32, vRange, 6);
    im.u32(96, 1234567890);
    double R[48];
    for (int k = 0; k < 48; ++k) R[k] = 1 + k / 4.0;
    for (int g = 0; g < 4; ++g) {
        R[6 * g] = 1000 + g;  // gain sums: (1000+g) + (1010+g)
        R[6 * g + 24] = 1010 + g;
        R[6 * g + 1] = -g;  // offset sums: -g + (2-g)
        R[6 * g + 25] = 2 - g;
        R[6 * g + 3] = 3 * (g + 1);  // current offset numerators
        R[6 * g + 27] = g + 1;
        R[6 * g + 5] = 4 * (g + 1);  // scale: 4(g+1) + 6(g+1) = 10(g+1)
        R[6 * g + 29] = 6 * (g + 1);
    }
    im.f64s(104, R, 48);
    const double dac[8] = {10, 20, 11, 21, 12, 22, 13, 23};
    const size_t settling = im.f64s(488, dac, eleven ? 8 : 6);
    const double models[6] = {1.1, 0.1, 2.2, 0.2, 3.3, 0.3};
    for (int i = 0; i < 3; ++i) im.f64s(settling + 16 * i, models + 2 * i, 2);
    return im.bytes;
}

// The calibration is converted from the raw sums; option bit 0 lowers the top current range.
// Written back in its own format, a legacy record reads back to the same calibration.
TEST_F(Record, LegacyFormatsConvertTheirCalibration) {
    for (int32_t version : {10, 11}) {
        SCOPED_TRACE(version);
        const uint32_t options = version == 10 ? 0x001 : 0x000;
        setenv("TZ", version == 10 ? "EST5" : "UTC", 1);
        tzset();
        ASSERT_EQ(1, readImage(legacyImage(version, "QM745-1907-009", options)));
        EXPECT_STREQ("QM745-1907-009", cntrl->devName);
        EXPECT_EQ(1234567890u, cntrl->calTime);
        // From the serial's year and month: day 1 at the local time of second 0 (19:00 in EST5).
        EXPECT_EQ(version == 10 ? 1562025600u : 1561939200u, cntrl->createTime);
        EXPECT_EQ(-200, cntrl->vRange[1][0]);  // stored upper first, swapped
        EXPECT_EQ(options ? 1e-5 : 0.0024, cntrl->iRange[3]);
        // gain: mean of 1000+g and 1010+g over g = 0..3 = 1006.5; offset: mean of -g, 2-g = -0.5
        EXPECT_DOUBLE_EQ(1006.5, cntrl->cal_adc_v[1]);
        EXPECT_DOUBLE_EQ(-0.5, cntrl->cal_adc_v[0]);
        for (int g = 0; g < 4; ++g) {
            EXPECT_DOUBLE_EQ(0.4, cntrl->cal_adc_i[g][0]);            // 4(g+1) / 10(g+1)
            EXPECT_DOUBLE_EQ(2.0 / (g + 1), cntrl->cal_adc_i[g][1]);  // 20 / 10(g+1)
        }
        EXPECT_EQ(12, cntrl->cal_dac[2][0]);
        EXPECT_EQ(version == 11 ? 13.0 : 0.0, cntrl->cal_dac[3][0]);
        EXPECT_EQ(version == 11 ? 23.0 : 1.0, cntrl->cal_dac[3][1]);
        EXPECT_DOUBLE_EQ(3.3, cntrl->vSettling[2][0][0]);
        EXPECT_DOUBLE_EQ(3.3, cntrl->vSettling[2][1][0]);
        EXPECT_DOUBLE_EQ(0.3, cntrl->vSettling[2][1][1]);
        const Bytes written = encoded();
        ASSERT_EQ(version == 10 ? 584u : 600u, written.size());
        ASSERT_EQ(1, readImage(written));
        EXPECT_DOUBLE_EQ(1006.5, cntrl->cal_adc_v[1]);
        EXPECT_DOUBLE_EQ(2.0 / 3, cntrl->cal_adc_i[2][1]);
    }
}

// ---- The record in the board's I2C memory ----

class RecordI2c : public Record {
protected:
    void SetUp() override {
        Record::SetUp();
        char name[] = "QUSB-0";
        ASSERT_NE(0, tolmar2::link::call::QuickUsbOpen(&cntrl->qusbHandle, name));
    }
    static void store(const Bytes& image) { vsensor::writeMemory(vsensor::kRecordAddress, image); }
};

// Failures of the read leave the mirror at its defaults; short reads are continued where they
// stopped.
TEST_F(RecordI2c, ReadResultCodes) {
    struct Case {
        const char* what;
        std::function<void()> arrange;
        int result;
    } cases[] = {
        {"blank memory", [] { vsensor::fillMemory(0xFF); }, -1},
        {"format 9", [] { store(patched(imageOf(makeSample()), "4:09")); }, -5},
        {"address write fails", [] { vsensor::scheduleFault(Fault::I2cWriteFail, 1); }, -3},
        {"header read fails", [] { vsensor::scheduleFault(Fault::I2cReadFail, 1); }, -4},
        {"body read fails", [] { vsensor::scheduleFault(Fault::I2cReadFail, 5); }, -7},
        // Halved again and again, the reads dwindle to nothing instead of looping forever.
        {"body reads keep coming short",
         [] { vsensor::scheduleFault(Fault::I2cShortRead, 2, 1000); }, -7},
        {"too many rows", [] { store(patched(imageOf(makeSample()), "324:28")); }, -8},
        {"three body reads short", [] { vsensor::scheduleFault(Fault::I2cShortRead, 2, 3); }, 1},
    };
    const vsensor::UnitProfile& single = *vsensor::findProfile("single");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        vsensor::loadProfile("single");
        vsensor::clearFaults();
        c.arrange();
        EXPECT_EQ(c.result, cntrl->readTolmarConfigParameters(nullptr));
        EXPECT_EQ(c.result == 1, cntrl->recordLoaded);
        EXPECT_STREQ(c.result == 1 ? single.devName.c_str() : "-", cntrl->devName);
    }
    EXPECT_EQ(single.cal_adc[0][1][1], cntrl->cal_adc[0][1][1]);
}

// A record goes out in verified chunks of 32 bytes from 0x2000 (write, set the pointer, read
// back: three transfers) up to its size: 64 chunks for 2048 bytes, twelve for format 12's 368. A
// failed chunk is retried after a pause; the fifth failure in a row gives up.
TEST_F(RecordI2c, WritesRecordInVerifiedChunks) {
    const struct {
        int32_t version;
        int nth, repeat;  // failed transfers from the nth on; repeat 0: none
        int result, pauses;
        size_t transfers;  // 0: not counted
    } cases[] = {{16, 0, 0, 1, 0, 64 * 3},
                 {12, 0, 0, 1, 0, 12 * 3},
                 {16, 1, 4, 1, 4, 0},
                 {16, 4, 5, -3, 4, 0}};
    cntrl->connected = true;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.version) + ", fault " + std::to_string(c.repeat));
        ASSERT_EQ(1, readImage(imageOf(makeSample(), c.version)));
        const Bytes image = encoded();
        vsensor::fillMemory(0xFF);
        vsensor::clearFaults();
        vsensor::clearI2cLog();
        sleepsOf500 = 0;
        if (c.repeat)
            vsensor::scheduleFault(Fault::I2cWriteFail, c.nth, c.repeat);
        EXPECT_EQ(c.result, cntrl->writeTolmarConfigParameters());
        EXPECT_EQ(c.pauses, sleepsOf500);
        EXPECT_EQ(c.result == 1,
                  image == vsensor::readMemory(vsensor::kRecordAddress, image.size()));
        if (c.transfers) {
            EXPECT_EQ(c.transfers, vsensor::i2cLog().size());
        }
    }
}

}  // namespace
