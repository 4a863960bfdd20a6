// Record layouts read from and written to files, checked against images built field by field.
#include <cstring>
#include <functional>

#include "RecordLayout.h"
#include "recordimage.h"

namespace {

void expectPairs(const double* got, const double* want, size_t n, const char* what) {
    for (size_t i = 0; i < n; ++i) EXPECT_EQ(want[i], got[i]) << what << " [" << i << "]";
}

// Bytes 0-143 of formats 12 and later.
void expectIdentity(const TolmarCntrl& c, const Sample& s, int32_t version) {
    EXPECT_EQ(0xB070AAA0u, c.i2cMagicString);
    EXPECT_EQ(version, c.i2cFormatVersion);
    EXPECT_STREQ(s.serial.c_str(), c.devName);
    EXPECT_EQ(s.options, c.deviceOptions);
    EXPECT_EQ(s.createTime, c.createTime);
    EXPECT_EQ(s.calTime, c.calTime);
    expectPairs(&c.vRange[0][0], &s.vRange[0][0], 6, "vRange");
    expectPairs(c.iRange, s.iRange, 4, "iRange");
    expectPairs(c.rCurrent, s.rCurrent, 2, "rCurrent");
    EXPECT_EQ(s.rFilter, c.rFilter);
    EXPECT_TRUE(c.recordLoaded);
}

void expectCounted(const TolmarCntrl& c, const Sample& s) {
    expectPairs(&c.cal_dac[0][0], &s.cal_dac[0][0], 8, "cal_dac");
    expectPairs(&c.cal_adc_i[0][0], &s.cal_adc_i[0][0], 8, "cal_adc_i");
    expectPairs(c.calAuxA, s.calAuxA, 3, "calAuxA");
    expectPairs(c.calAuxB, s.calAuxB, 3, "calAuxB");
    EXPECT_EQ(s.calAuxWord, c.calAuxWord);
    EXPECT_EQ(s.rows, c.nCalRows);
    EXPECT_EQ(s.ranges, c.nCalRanges);
    EXPECT_EQ(s.vchan, c.nVchan);
    for (int r = 0; s.ranges > 0 && r < s.rows; ++r)
        expectPairs(&c.cal_adc[r][0][0], &s.cal_adc[r][0][0], 2 * s.ranges, "cal_adc");
    expectPairs(&c.cal_vmon[0][0], &s.cal_vmon[0][0], 2 * s.vchan, "cal_vmon");
}

const double kDefaultTempRow[4] = {2461, 1e6, 49900, 860000};

struct LayoutCase {
    const char* name;
    int32_t version;
    uint32_t options;
    std::function<std::vector<uint8_t>(const Sample&)> image;
    std::function<void(const TolmarCntrl&, const Sample&)> expect;
};

class RecordLayout : public RecordFixture, public ::testing::WithParamInterface<LayoutCase> {};

// Decoding an image gives the sample's values; encoding the mirror gives the image back.
TEST_P(RecordLayout, ReadsEveryFieldAndWritesTheSameImage) {
    const LayoutCase& tc = GetParam();
    Sample s = makeSample();
    s.options = tc.options;
    const std::vector<uint8_t> image = tc.image(s);
    ASSERT_EQ(1, readImage(image));
    expectIdentity(*cntrl, s, tc.version);
    tc.expect(*cntrl, s);

    std::vector<uint8_t> written = encoded();
    ASSERT_EQ(tc.version >= 13 ? 2048u : image.size(), written.size());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), written.begin()));
    EXPECT_TRUE(std::all_of(written.begin() + image.size(), written.end(),
                            [](uint8_t b) { return b == 0; }));
}

INSTANTIATE_TEST_SUITE_P(
    Formats, RecordLayout,
    ::testing::Values(
        // Formats 14 to 16: CountsTheRecordCanHoldAreReadAndWrittenBack.
        LayoutCase{"Format13", 13, 0x002, image13,
                   [](const TolmarCntrl& c, const Sample& s) {
                       expectPairs(&c.cal_dac[0][0], &s.cal_dac[0][0], 8, "cal_dac");
                       expectPairs(&c.cal_adc[0][0][0], &s.cal_adc[0][0][0], 64, "cal_adc");
                       expectPairs(&c.vSettling[0][0][0], &s.vSettling[0][0][0], 12, "vSettling");
                       const double unity[2] = {0, 1};
                       expectPairs(c.cal_adc_v, unity, 2, "cal_adc_v");
                   }},
        LayoutCase{"Format12", 12, 0x000, image12,
                   [](const TolmarCntrl& c, const Sample& s) {
                       expectPairs(&c.cal_dac[0][0], &s.cal_dac[0][0], 6, "cal_dac");
                       EXPECT_EQ(0.0, c.cal_dac[3][0]);
                       EXPECT_EQ(1.0, c.cal_dac[3][1]);
                       expectPairs(c.cal_adc_v, s.cal_adc_v, 2, "cal_adc_v");
                       expectPairs(&c.cal_adc_i[0][0], &s.cal_adc_i[0][0], 8, "cal_adc_i");
                       expectPairs(&c.vSettling[0][0][0], &s.vSettling[0][0][0], 12, "vSettling");
                       const double unity[2] = {0, 1};
                       expectPairs(c.cal_vmon[0], unity, 2, "cal_vmon");
                       expectPairs(c.tempCoef[0], kDefaultTempRow, 4, "tempCoef");
                   }}),
    [](const ::testing::TestParamInfo<LayoutCase>& info) { return info.param.name; });

// Format 12 has no fourth DAC pair: a value left by an earlier record is replaced by [0, 1].
TEST_F(RecordFixture, Format12ResetsFourthDacPair) {
    Sample s = makeSample();
    ASSERT_EQ(1, readImage(image16(s)));
    ASSERT_NE(1.0, cntrl->cal_dac[3][1]);
    ASSERT_EQ(1, readImage(image12(s)));
    EXPECT_EQ(0.0, cntrl->cal_dac[3][0]);
    EXPECT_EQ(1.0, cntrl->cal_dac[3][1]);
}

// The option word decides the flags and the channel counts.
TEST_F(RecordFixture, DerivesOptionFlagsAndChannelCounts) {
    struct Case {
        uint32_t options;
        int adc, probes;
        bool low, vc, ext, enables, alternate, kalder;
    } cases[] = {
        {0x000, 2, 1, false, false, false, false, false, false},
        {0x001, 2, 1, true, false, false, false, false, false},
        {0x002, 2, 1, false, true, false, false, false, false},
        {0x004, 16, 13, false, false, false, false, false, false},
        {0x00C, 20, 17, false, false, false, false, false, false},
        {0x01C, 24, 20, false, false, true, false, false, false},
        {0x040, 2, 1, false, false, false, true, false, false},
        {0x100, 2, 1, false, false, false, false, true, false},
        {0x200, 2, 1, false, false, false, false, false, true},
    };
    for (const Case& c : cases) {
        Sample s = makeSample();
        s.options = c.options;
        ASSERT_EQ(1, readImage(image16(s)));
        SCOPED_TRACE(c.options);
        EXPECT_EQ(c.adc, cntrl->nAdcChannels);
        EXPECT_EQ(c.probes, cntrl->nProbes);
        EXPECT_EQ(c.low, cntrl->lowTopCurrentRange);
        EXPECT_EQ(c.vc, cntrl->vcScannable);
        EXPECT_EQ(c.ext, cntrl->extendedProbes);
        EXPECT_EQ(c.enables, cntrl->channelEnableHw);
        EXPECT_EQ(c.alternate, cntrl->alternateRows);
        EXPECT_EQ(c.kalder, cntrl->kalderSensor);
    }
}

TEST_F(RecordFixture, SwapsVoltageRangeStoredUpperFirst) {
    Sample s = makeSample();
    s.vRange[1][0] = 50;
    s.vRange[1][1] = -50;
    ASSERT_EQ(1, readImage(image16(s)));
    EXPECT_EQ(-50, cntrl->vRange[1][0]);
    EXPECT_EQ(50, cntrl->vRange[1][1]);
    EXPECT_EQ(s.vRange[0][0], cntrl->vRange[0][0]);
}

TEST_F(RecordFixture, Format16WithoutTagKeepsExtWord) {
    Sample s = makeSample();
    std::vector<uint8_t> image = image16(s);
    const size_t tagAt = 328 + (s.rows * s.ranges + s.vchan) * 16 + 640 + s.ranges * 8;
    image[tagAt] = 0x81;
    ASSERT_EQ(1, readImage(image));
    EXPECT_EQ(0xFFFFFFFFu, cntrl->extWord);
}

// Records whose counts exceed the mirror's tables, or files shorter than their format, are
// refused and leave the mirror as it was.
TEST_F(RecordFixture, RefusesRecordsThatDoNotFitAndKeepsTheMirror) {
    const Sample good = makeSample();
    ASSERT_EQ(1, readImage(image16(good)));
    const std::vector<uint8_t> before = encoded();

    struct Case {
        const char* what;
        std::function<std::vector<uint8_t>()> image;
        int result;
    } cases[] = {
        {"21 rows",
         [&] {
             auto im = image16(good);
             im[324] = 21;
             return im;
         },
         -8},
        {"41 rows of one range",
         [&] {
             Sample s = good;
             s.rows = 40;
             s.ranges = 1;
             auto im = image16(s);
             im[324] = 41;
             return im;
         },
         -8},
        {"3 ranges",
         [&] {
             Sample s = good;
             s.ranges = 3;
             return image16(s);
         },
         -8},
        {"5 monitors",
         [&] {
             Sample s = good;
             s.vchan = 5;
             return image16(s);
         },
         -8},
        {"255 rows of 255",
         [&] {
             Sample s = good;
             s.rows = 20;
             s.ranges = 2;
             auto im = image16(s);
             im[324] = im[325] = 255;
             return im;
         },
         -8},
        {"format 14 without option, 21 rows",
         [&] {
             Sample s = good;
             s.options = 0;
             auto im = image14(s, 14);
             im[324] = 21;
             return im;
         },
         -8},
        {"short format 16",
         [&] {
             auto im = image16(good);
             im.resize(2047);
             return im;
         },
         -7},
        {"short format 12",
         [&] {
             auto im = image12(good);
             im.resize(300);
             return im;
         },
         -7},
        {"header only",
         [&] {
             auto im = image16(good);
             im.resize(8);
             return im;
         },
         -7},
        {"no header",
         [&] {
             auto im = image16(good);
             im.resize(7);
             return im;
         },
         -4},
        {"format 9",
         [&] {
             auto im = image16(good);
             im[4] = 9;
             return im;
         },
         -5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.result, readImage(c.image()));
        EXPECT_EQ(before, encoded());
    }
}

// A serial filling all 20 bytes is cut to 19 characters so that it stays a terminated string.
TEST_F(RecordFixture, SerialWithoutTerminatorIsCut) {
    Sample s = makeSample();
    s.serial = "QM759-ABCDEFGHIJKLMNOPQ";
    ASSERT_EQ(1, readImage(image16(s)));
    EXPECT_STREQ("QM759-ABCDEFGHIJKLM", cntrl->devName);
}

// Formats 14 to 16 up to the largest counts each allows: the mirror holds them all and writes
// the record back byte for byte. Formats 14 and 15 read an extended probe count above 100 as 0
// (and write the 0); without option 0x10 the count is the number of rows.
TEST_F(RecordFixture, CountsTheRecordCanHoldAreReadAndWrittenBack) {
    const struct {
        const char* what;
        int32_t version;
        uint32_t options;
        uint8_t rows, ranges, vchan;
        uint32_t ext;
        uint32_t extRead;
    } cases[] = {
        {"16: the sample", 16, 0x252, 3, 2, 2, 3, 3},
        {"14: the sample, extended", 14, 0x012, 3, 2, 2, 3, 3},
        {"15: the sample, plain", 15, 0x00A, 3, 2, 2, 0, 3},
        {"16: 20 rows of 2 ranges", 16, 0x252, 20, 2, 4, 20, 20},
        {"16: 40 rows of 1 range, 255 probes", 16, 0x252, 40, 1, 4, 255, 255},
        {"16: 255 rows without ranges", 16, 0x252, 255, 0, 0, 100, 100},
        {"14: 100 extended probes", 14, 0x012, 20, 2, 4, 100, 100},
        {"14: 101 extended probes", 14, 0x012, 20, 2, 4, 101, 0},
        {"15: 40 rows of 1 range, 50 probes", 15, 0x01A, 40, 1, 3, 50, 50},
        {"14: 40 rows, probes as rows", 14, 0x002, 40, 1, 0, 0, 40},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Sample s = makeSample();
        s.options = c.options;
        s.rows = c.rows;
        s.ranges = c.ranges;
        s.vchan = c.vchan;
        s.ext = c.ext;
        const auto image = [&](const Sample& x) {
            return c.version == 16 ? image16(x) : image14(x, c.version);
        };
        ASSERT_EQ(1, readImage(image(s)));
        expectIdentity(*cntrl, s, c.version);
        expectCounted(*cntrl, s);
        EXPECT_EQ(c.extRead, cntrl->nExtProbes);
        expectPairs(&cntrl->tempCoef[0][0], &s.tempCoef[0][0], c.options & 0x10 ? 80 : 0,
                    "tempCoef");
        if (c.version == 16) {
            expectPairs(cntrl->rangeValue, s.rangeValue, c.ranges, "rangeValue");
            EXPECT_EQ(s.extWord, cntrl->extWord);
        }
        Sample back = s;
        back.ext = c.extRead;
        EXPECT_EQ(image(back), encoded());
    }
}

// A mirror whose counts were changed beyond the tables is not written.
TEST_F(RecordFixture, RefusesToWriteMirrorThatDoesNotFit) {
    ASSERT_EQ(1, readImage(image16(makeSample())));
    cntrl->nVchan = 9;
    std::string path = dir.file("bad.rec");
    EXPECT_EQ(-8, cntrl->writeTolmarConfigParameters(nullptr, path.data()));
    EXPECT_TRUE(readFile(path).empty());
}

TEST_F(RecordFixture, WriteRefusesUnknownFormatAndKeepsExistingFile) {
    std::string path = dir.file("keep.rec");
    writeFile(path, {1, 2, 3});
    cntrl->i2cFormatVersion = 9;
    EXPECT_EQ(-4, cntrl->writeTolmarConfigParameters(nullptr, path.data()));
    cntrl->i2cFormatVersion = 16;
    std::string unwritable = dir.file("missing-dir/x.rec");
    EXPECT_EQ(-7, cntrl->writeTolmarConfigParameters(nullptr, unwritable.data()));
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 3}), readFile(path));
}

// ---- Legacy formats 10 and 11 ----

// A legacy image: R[k] = 1 + k/4 for the 48 raw sums except the entries the averaging uses,
// which get numbers whose results are worked out by hand below.
std::vector<uint8_t> legacyImage(int32_t version, const char* serial, uint32_t options) {
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

TEST_F(RecordFixture, LegacyFormatsConvertTheirCalibration) {
    for (int32_t version : {10, 11}) {
        SCOPED_TRACE(version);
        ASSERT_EQ(1, readImage(legacyImage(version, "QM745-1907-009", 0x000)));
        EXPECT_STREQ("QM745-1907-009", cntrl->devName);
        EXPECT_EQ(1234567890u, cntrl->calTime);
        EXPECT_EQ(1561939200u, cntrl->createTime);  // 2019-07-01 00:00:00 UTC
        EXPECT_EQ(-200, cntrl->vRange[1][0]);       // stored upper first, swapped
        EXPECT_EQ(6e-6, cntrl->iRange[0]);
        EXPECT_EQ(0.0024, cntrl->iRange[3]);
        EXPECT_EQ(470, cntrl->rCurrent[0]);
        EXPECT_EQ(22000, cntrl->rCurrent[1]);
        EXPECT_EQ(180000, cntrl->rFilter);
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
        for (int i = 0; i < 3; ++i) {
            EXPECT_DOUBLE_EQ(1.1 * (i + 1), cntrl->vSettling[i][0][0]);
            EXPECT_DOUBLE_EQ(1.1 * (i + 1), cntrl->vSettling[i][1][0]);
            EXPECT_DOUBLE_EQ(0.1 * (i + 1), cntrl->vSettling[i][1][1]);
        }
    }
}

TEST_F(RecordFixture, LegacyOptionBit0LowersTopCurrentRange) {
    ASSERT_EQ(1, readImage(legacyImage(10, "QM745-1907-009", 0x001)));
    EXPECT_EQ(1e-5, cntrl->iRange[3]);
    EXPECT_EQ(0.00024, cntrl->iRange[2]);
}

TEST_F(RecordFixture, LegacyCreateTimeFromSerialDigits) {
    struct Case {
        const char* serial;
        const char* tz;
        uint32_t expected;
    } cases[] = {
        {"QM745-1907-009", "UTC", 1561939200u},  // 2019-07-01 00:00 UTC
        {"QM745-0012", "UTC", 975628800u},       // 2000-12-01
        // Second 0 shows 19:00 in EST5: 2019-07-01 19:00 EST = 2019-07-02 00:00 UTC.
        {"QM745-1907-009", "EST5", 1562025600u},
        {"QM745-1913-009", "UTC", 0},  // month 13
        {"QM745-1900-009", "UTC", 0},  // month 0
        {"QM745-19x7-009", "UTC", 0},  // not a digit
        {"QM745-190", "UTC", 0},       // too short
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.serial);
        setenv("TZ", c.tz, 1);
        tzset();
        ASSERT_EQ(1, readImage(legacyImage(11, c.serial, 0)));
        EXPECT_EQ(c.expected, cntrl->createTime);
    }
}

// Written back in its own format, a legacy record reads back to the same calibration.
TEST_F(RecordFixture, LegacyRecordWrittenBackReadsTheSame) {
    for (int32_t version : {10, 11}) {
        ASSERT_EQ(1, readImage(legacyImage(version, "QM745-1907-009", 0x001)));
        const std::vector<uint8_t> first = encoded();
        ASSERT_EQ(version == 10 ? 584u : 600u, first.size());
        ASSERT_EQ(1, readImage(first));
        EXPECT_DOUBLE_EQ(1006.5, cntrl->cal_adc_v[1]);
        EXPECT_DOUBLE_EQ(2.0 / 3, cntrl->cal_adc_i[2][1]);
    }
}

TEST_F(RecordFixture, PrintsMirrorToStandardOutput) {
    ASSERT_EQ(1, readImage(image16(makeSample())));
    cntrl->createTime = 0;
    ::testing::internal::CaptureStdout();
    cntrl->printI2cMem();
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(0u, out.find("---------- I2C Memory ----------\ni2cMagicString: B070AAA0\n"
                           "i2cFormatVersion: 16\ndevName: QM759-2403-017\n"
                           "createTime: Thu Jan  1 00:00:00 1970\ncalTime: Thu Nov 16 "));
    EXPECT_NE(std::string::npos, out.find("\nrFilter: 16.75\n"));
    EXPECT_NE(std::string::npos, out.find("\ncal_adc[0][1]: ["));
    EXPECT_EQ(std::string::npos, out.find("cal_adc[1][0]"));  // nProbes is 1 for options 0x202
    EXPECT_NE(std::string::npos, out.find("\nvSettling[2][1]: [1.5 0.2228]\n"));
}

}  // namespace

// The decoder is exported: an image too short for its header is refused, not read past.
TEST_F(RecordFixture, DecoderRefusesAnImageShorterThanItsHeader) {
    const std::vector<uint8_t> image = image16(makeSample());
    for (size_t size : {size_t(0), size_t(4), size_t(7)}) {
        std::vector<uint8_t> cut(image.begin(), image.begin() + static_cast<long>(size));
        EXPECT_EQ(-7, tolmar2::record::decode(*cntrl, cut.data(), cut.size())) << size;
    }
}
