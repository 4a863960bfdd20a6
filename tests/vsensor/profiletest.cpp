// The calibration records of the unit profiles, read over the bus and decoded here from the
// record's byte layout (a reader of its own, sharing nothing with the sensor's writer).
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "vsensorfixture.h"

namespace {

constexpr size_t kRecordSize = 2048;

uint32_t u32At(const std::vector<uint8_t>& b, size_t off) {
    return uint32_t(b[off]) | uint32_t(b[off + 1]) << 8 | uint32_t(b[off + 2]) << 16 |
           uint32_t(b[off + 3]) << 24;
}

double f64At(const std::vector<uint8_t>& b, size_t off) {
    uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = bits << 8 | b[off + i];
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

// Reads the record the way the library does: address 0x2000, the 8-byte header, then chunks
// of at most 64 bytes, each continuing where the last stopped.
std::vector<uint8_t> readRecordOverBus(QHANDLE handle) {
    QBYTE address[] = {0x20, 0x00};
    EXPECT_NE(QuickUsbWriteI2C(handle, 0x51, address, 2), 0);
    std::vector<uint8_t> record(kRecordSize);
    size_t done = 0;
    for (size_t chunk = 8; done < kRecordSize; chunk = std::min<size_t>(64, kRecordSize - done)) {
        QWORD n = static_cast<QWORD>(chunk);
        EXPECT_NE(QuickUsbReadI2C(handle, 0x51, record.data() + done, &n), 0);
        EXPECT_EQ(n, chunk);
        done += chunk;
    }
    return record;
}

class ProfileCases : public VsensorTest, public ::testing::WithParamInterface<std::string> {
protected:
    std::vector<uint8_t> loadAndRead() {
        EXPECT_TRUE(vsensor::loadProfile(GetParam()));
        return readRecordOverBus(handle);
    }
};

// Every field at its offset holds the number the profile table publishes.
TEST_P(ProfileCases, RecordBytesMatchThePublishedNumbers) {
    const vsensor::UnitProfile* p = vsensor::findProfile(GetParam());
    ASSERT_NE(p, nullptr);
    const std::vector<uint8_t> r = loadAndRead();
    if (p->blank) {
        EXPECT_EQ(r, std::vector<uint8_t>(kRecordSize, 0xFF));
        return;
    }
    EXPECT_EQ(u32At(r, 0), 0xB070AAA0u);
    EXPECT_EQ(u32At(r, 4), 16u);
    const std::string devName(reinterpret_cast<const char*>(&r[8]),
                              strnlen(reinterpret_cast<const char*>(&r[8]), 20));
    EXPECT_EQ(devName, p->devName);
    EXPECT_LT(devName.size(), 20u);
    EXPECT_EQ(u32At(r, 28), p->deviceOptions);
    EXPECT_EQ(u32At(r, 32), p->createTime);
    EXPECT_EQ(u32At(r, 36), p->calTime);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(f64At(r, 40 + 8 * i), (&p->vRange[0][0])[i]) << i;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(f64At(r, 88 + 8 * i), p->iRange[i]) << i;
    EXPECT_EQ(f64At(r, 120), p->rCurrent[0]);
    EXPECT_EQ(f64At(r, 128), p->rCurrent[1]);
    EXPECT_EQ(f64At(r, 136), p->rFilter);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(f64At(r, 144 + 8 * i), (&p->cal_dac[0][0])[i]) << i;
    for (int i = 0; i < 8; ++i) EXPECT_EQ(f64At(r, 208 + 8 * i), (&p->cal_adc_i[0][0])[i]) << i;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(f64At(r, 272 + 8 * i), p->calAuxA[i]) << i;
    EXPECT_EQ(u32At(r, 296), p->calAuxWord);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(f64At(r, 300 + 8 * i), p->calAuxB[i]) << i;
    const unsigned rows = r[324], ranges = r[325], vchan = r[326];
    EXPECT_EQ(rows, p->nCalRows);
    EXPECT_EQ(ranges, p->nCalRanges);
    EXPECT_EQ(vchan, p->nVchan);
    EXPECT_EQ(r[327], p->nExtProbes);
    size_t off = 328;
    for (unsigned k = 0; k < rows; ++k) {
        for (unsigned g = 0; g < ranges; ++g, off += 16) {
            EXPECT_EQ(f64At(r, off), p->cal_adc[k][g][0]) << k << "/" << g;
            EXPECT_EQ(f64At(r, off + 8), p->cal_adc[k][g][1]) << k << "/" << g;
        }
    }
    for (unsigned m = 0; m < vchan; ++m, off += 16) {
        EXPECT_EQ(f64At(r, off), p->cal_vmon[m][0]) << m;
        EXPECT_EQ(f64At(r, off + 8), p->cal_vmon[m][1]) << m;
    }
    for (int i = 0; i < 80; ++i, off += 8) EXPECT_EQ(f64At(r, off), (&p->tempCoef[0][0])[i]) << i;
    for (unsigned g = 0; g < ranges; ++g, off += 8) EXPECT_EQ(f64At(r, off), p->rangeValue[g]);
    EXPECT_EQ(u32At(r, off), p->extTag);
    EXPECT_EQ(u32At(r, off + 4), p->extWord);
    off += 8;
    ASSERT_LE(off, kRecordSize);
    EXPECT_EQ(std::vector<uint8_t>(r.begin() + off, r.end()),
              std::vector<uint8_t>(r.size() - off, 0))
        << "bytes after the last field";
}

// Outside the record the memory is erased.
TEST_P(ProfileCases, RestOfMemoryIsErased) {
    ASSERT_TRUE(vsensor::loadProfile(GetParam()));
    const std::vector<uint8_t> all = vsensor::readMemory(0, vsensor::kI2cMemorySize);
    for (size_t a = 0; a < all.size(); ++a) {
        if (a >= vsensor::kRecordAddress && a < vsensor::kRecordAddress + kRecordSize)
            continue;
        ASSERT_EQ(all[a], 0xFF) << "address " << a;
    }
}

INSTANTIATE_TEST_SUITE_P(Vsensor, ProfileCases,
                         ::testing::Values("single", "disc13", "ar", "legacy", "unusable",
                                           "blank"));

// What each profile is meant to be, stated independently of the table.
TEST(VsensorProfiles, OptionBitsAndCountsPerProfile) {
    const struct {
        const char* name;
        uint32_t set;    // option bits that must be set
        uint32_t clear;  // option bits that must be clear
        unsigned extProbes, vchan;
        bool sensorCode;
        uint32_t code;
    } expected[] = {
        {"single", 0x202, 0x11C, 1, 0, false, 0},   {"disc13", 0x252, 0x100, 13, 4, true, 2},
        {"ar", 0x200, 0x100, 13, 3, true, 3},       {"legacy", 0x000, 0x300, 1, 0, false, 0},
        {"unusable", 0x100, 0x200, 1, 0, false, 0},
    };
    for (const auto& e : expected) {
        SCOPED_TRACE(e.name);
        const vsensor::UnitProfile* p = vsensor::findProfile(e.name);
        ASSERT_NE(p, nullptr);
        EXPECT_FALSE(p->blank);
        EXPECT_EQ(p->deviceOptions & e.set, e.set);
        EXPECT_EQ(p->deviceOptions & e.clear, 0u);
        EXPECT_EQ(p->nExtProbes, e.extProbes);
        EXPECT_EQ(p->nVchan, e.vchan);
        EXPECT_EQ(p->extTag == 0x80, e.sensorCode);
        if (e.sensorCode) {
            EXPECT_EQ(p->extWord, e.code);
        }
        EXPECT_EQ(p->devName.substr(0, 3), "QM7");
        EXPECT_LE(p->nCalRows, 20);
        EXPECT_LE(p->nCalRanges, 2);
        EXPECT_LE(p->nVchan, 4);
        EXPECT_LE(p->createTime, p->calTime);
    }
    ASSERT_NE(vsensor::findProfile("blank"), nullptr);
    EXPECT_TRUE(vsensor::findProfile("blank")->blank);
    EXPECT_EQ(vsensor::findProfile("nonsense"), nullptr);
    EXPECT_EQ(vsensor::profileNames(),
              (std::vector<std::string>{"single", "disc13", "ar", "legacy", "unusable", "blank"}));
}

// The calibration numbers describe working hardware: every output's range maps onto valid
// DAC codes (12 bits for outputs A and B, 16 for C), probe slopes give the range's full scale at
// the top ADC code, temperature constants are near their nominal values.
TEST(VsensorProfiles, CalibrationIsPlausible) {
    for (const vsensor::UnitProfile& p : vsensor::unitProfiles()) {
        if (p.blank)
            continue;
        SCOPED_TRACE(p.name);
        const bool scannable = p.deviceOptions & 0x02;
        for (int k = 0; k < (scannable ? 3 : 2); ++k) {
            EXPECT_LT(p.vRange[k][0], p.vRange[k][1]);
            for (double v : p.vRange[k]) {
                const double code = p.cal_dac[k][1] * v + p.cal_dac[k][0];
                EXPECT_GE(code, 0.0) << "output " << k << " at " << v;
                EXPECT_LE(code, k < 2 ? 4095.0 : 65535.0) << "output " << k << " at " << v;
            }
        }
        for (int r = 0; r < 4; ++r) {
            EXPECT_NEAR(p.cal_adc_i[r][1] * 32768, p.iRange[r], 0.01 * p.iRange[r]);
            EXPECT_LT(std::fabs(p.cal_adc_i[r][0]), 0.01 * p.iRange[r]);
        }
        for (int k = 0; k < p.nCalRows; ++k) {
            for (int g = 0; g < p.nCalRanges; ++g) {
                EXPECT_NEAR(p.cal_adc[k][g][1] * 32768, p.rangeValue[g], 0.02 * p.rangeValue[g]);
            }
        }
        for (int m = 0; m < p.nVchan; ++m) EXPECT_GT(p.cal_vmon[m][1], 0.0);
        EXPECT_EQ(p.rangeValue[0], 6e-6);
        EXPECT_EQ(p.rangeValue[1], 2e-6);
        for (const auto& row : p.tempCoef) {
            EXPECT_EQ(row[0], 2461);
            EXPECT_EQ(row[1], 1e6);
            EXPECT_NEAR(row[2], 49900, 500);
            EXPECT_EQ(row[3], 860000);
        }
    }
    // The fixed high-voltage supply of the legacy unit: negative side through cal_dac[2],
    // positive through cal_dac[3], each reaching the range limit within the DAC.
    const vsensor::UnitProfile* legacy = vsensor::findProfile("legacy");
    ASSERT_NE(legacy, nullptr);
    const double neg = legacy->cal_dac[2][1] * legacy->vRange[2][0] + legacy->cal_dac[2][0];
    const double pos = legacy->cal_dac[3][1] * legacy->vRange[2][1] + legacy->cal_dac[3][0];
    EXPECT_GT(neg, 60000.0);
    EXPECT_LE(neg, 65535.0);
    EXPECT_GT(pos, 60000.0);
    EXPECT_LE(pos, 65535.0);
}

TEST(VsensorProfiles, ProfileFromEnvironment) {
    const struct {
        const char* value;
        const char* expected;
    } cases[] = {{"disc13", "disc13"}, {"blank", "blank"}, {"nope", "single"}, {"", "single"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        setenv("TOLMAR_VSENSOR_PROFILE", c.value, 1);
        vsensor::reset();
        EXPECT_EQ(vsensor::currentProfile(), c.expected);
    }
    unsetenv("TOLMAR_VSENSOR_PROFILE");
    vsensor::reset();
    EXPECT_EQ(vsensor::currentProfile(), "single");
    EXPECT_FALSE(vsensor::loadProfile("nope"));
    EXPECT_EQ(vsensor::currentProfile(), "single");
}

// A profile goes into every module, and reset() restores it over whatever was written.
TEST(VsensorProfiles, ResetRestoresTheRecord) {
    resetWithCleanEnvironment();
    vsensor::setModuleCount(2);
    ASSERT_TRUE(vsensor::loadProfile("disc13"));
    const std::vector<uint8_t> record = vsensor::readMemory(vsensor::kRecordAddress, kRecordSize);
    EXPECT_EQ(vsensor::readMemory(vsensor::kRecordAddress, kRecordSize, 1), record);
    vsensor::fillMemory(0x00);
    EXPECT_EQ(vsensor::readMemory(vsensor::kRecordAddress, 4), std::vector<uint8_t>(4, 0));
    setenv("TOLMAR_VSENSOR_PROFILE", "disc13", 1);
    vsensor::reset();
    EXPECT_EQ(vsensor::readMemory(vsensor::kRecordAddress, kRecordSize), record);
    resetWithCleanEnvironment();
}

}  // namespace
