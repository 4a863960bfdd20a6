// The calibration records of the unit profiles, read over the bus and decoded here from the
// record's byte layout (a reader of its own, sharing nothing with the sensor's writer).
#include <stdlib.h>

#include <cstring>
#include <string>

#include "vsensorfixture.h"

namespace {

constexpr size_t kRecordSize = 2048;

uint32_t u32At(const Bytes& b, size_t off) {
    return b[off] | b[off + 1] << 8 | b[off + 2] << 16 | uint32_t(b[off + 3]) << 24;
}

double f64At(const Bytes& b, size_t off) {
    uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = bits << 8 | b[off + i];
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

// Every field at its offset holds the number the profile table publishes; the rest of the
// memory is erased.
TEST_F(VsensorTest, RecordBytesMatchThePublishedNumbers) {
    for (const vsensor::UnitProfile& p : vsensor::unitProfiles()) {
        SCOPED_TRACE(p.name);
        ASSERT_TRUE(vsensor::loadProfile(p.name));
        // Read as the library does: address 0x2000, the 8-byte header, then chunks of at most
        // 64 bytes, each continuing where the last stopped.
        ASSERT_TRUE(busWrite({0x20, 0x00}));
        Bytes r = busRead(8);
        while (r.size() < kRecordSize) {
            const Bytes chunk = busRead(std::min<size_t>(64, kRecordSize - r.size()));
            ASSERT_FALSE(chunk.empty());
            r.insert(r.end(), chunk.begin(), chunk.end());
        }
        Bytes all = vsensor::readMemory(0, vsensor::kI2cMemorySize);
        all.erase(all.begin() + vsensor::kRecordAddress, all.begin() + 0x2000 + kRecordSize);
        EXPECT_EQ(all, Bytes(all.size(), 0xFF));
        if (p.blank) {
            EXPECT_EQ(r, Bytes(kRecordSize, 0xFF));
            continue;
        }
        EXPECT_EQ(u32At(r, 0), 0xB070AAA0u);
        EXPECT_EQ(u32At(r, 4), 16u);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&r[8])), p.devName);
        EXPECT_LT(p.devName.size(), 20u);
        EXPECT_EQ(u32At(r, 28), p.deviceOptions);
        EXPECT_EQ(u32At(r, 32), p.createTime);
        EXPECT_EQ(u32At(r, 36), p.calTime);
        // Runs of doubles: offset, first value, count.
        const std::tuple<size_t, const double*, int> runs[] = {
            {40, &p.vRange[0][0], 6}, {88, p.iRange, 4},          {120, p.rCurrent, 2},
            {136, &p.rFilter, 1},     {144, &p.cal_dac[0][0], 8}, {208, &p.cal_adc_i[0][0], 8},
            {272, p.calAuxA, 3},      {300, p.calAuxB, 3}};
        for (const auto& [offset, first, count] : runs) {
            for (int i = 0; i < count; ++i) EXPECT_EQ(f64At(r, offset + 8 * i), first[i]) << offset;
        }
        EXPECT_EQ(u32At(r, 296), p.calAuxWord);
        EXPECT_EQ(Bytes(&r[324], &r[328]),
                  (Bytes{p.nCalRows, p.nCalRanges, p.nVchan, p.nExtProbes}));
        // Then the counted tables one after the other.
        size_t off = 328;
        const auto next = [&](double want) {
            EXPECT_EQ(f64At(r, off), want) << "at " << off;
            off += 8;
        };
        for (int k = 0; k < p.nCalRows; ++k) {
            for (int g = 0; g < p.nCalRanges; ++g) {
                next(p.cal_adc[k][g][0]);
                next(p.cal_adc[k][g][1]);
            }
        }
        for (int m = 0; m < p.nVchan; ++m) {
            next(p.cal_vmon[m][0]);
            next(p.cal_vmon[m][1]);
        }
        for (int i = 0; i < 80; ++i) next((&p.tempCoef[0][0])[i]);
        for (int g = 0; g < p.nCalRanges; ++g) next(p.rangeValue[g]);
        EXPECT_EQ(u32At(r, off), p.extTag);
        EXPECT_EQ(u32At(r, off + 4), p.extWord);
        EXPECT_EQ(Bytes(r.begin() + off + 8, r.end()), Bytes(r.size() - off - 8, 0));
    }
}

// What each profile is meant to be, stated independently of the table.
TEST(VsensorProfiles, OptionBitsAndCountsPerProfile) {
    const struct {
        const char* name;
        uint32_t set;    // option bits that must be set
        uint32_t clear;  // option bits that must be clear
        unsigned extProbes, vchan;
        uint32_t sensorCode;  // 0: no configuration entry
    } expected[] = {{"single", 0x202, 0x11C, 1, 0, 0},
                    {"disc13", 0x252, 0x100, 13, 4, 2},
                    {"ar", 0x200, 0x100, 13, 3, 3},
                    {"legacy", 0x000, 0x300, 1, 0, 0},
                    {"unusable", 0x100, 0x200, 1, 0, 0}};
    for (const auto& e : expected) {
        SCOPED_TRACE(e.name);
        const vsensor::UnitProfile* p = vsensor::findProfile(e.name);
        ASSERT_NE(p, nullptr);
        EXPECT_FALSE(p->blank);
        EXPECT_EQ(p->deviceOptions & (e.set | e.clear), e.set);
        EXPECT_EQ(p->nExtProbes, e.extProbes);
        EXPECT_EQ(p->nVchan, e.vchan);
        EXPECT_EQ(p->extTag, e.sensorCode ? 0x80u : 0u);
        EXPECT_EQ(p->extWord, e.sensorCode);
        EXPECT_EQ(p->devName.substr(0, 3), "QM7");
        EXPECT_LE(p->nCalRows, 20);
        EXPECT_LE(p->nCalRanges, 2);
        EXPECT_LE(p->createTime, p->calTime);
    }
    EXPECT_TRUE(vsensor::findProfile("blank")->blank);
    EXPECT_EQ(vsensor::findProfile("nonsense"), nullptr);
    EXPECT_EQ(vsensor::profileNames(),
              (std::vector<std::string>{"single", "disc13", "ar", "legacy", "unusable", "blank"}));
}

// The calibration numbers describe working hardware: every output's range maps onto valid
// DAC codes (12 bits for outputs A and B, 16 for C), probe slopes give the range's full scale at
// the top ADC code.
TEST(VsensorProfiles, CalibrationIsPlausible) {
    for (const vsensor::UnitProfile& p : vsensor::unitProfiles()) {
        SCOPED_TRACE(p.name);
        const int outputs = p.blank ? 0 : p.deviceOptions & 0x02 ? 3 : 2;
        for (int k = 0; k < outputs; ++k) {
            EXPECT_LT(p.vRange[k][0], p.vRange[k][1]);
            for (double v : p.vRange[k]) {
                const double code = p.cal_dac[k][1] * v + p.cal_dac[k][0];
                EXPECT_TRUE(code >= 0 && code <= (k < 2 ? 4095 : 65535)) << k << " at " << v;
            }
        }
        for (int r = 0; r < 4 && !p.blank; ++r)
            EXPECT_NEAR(p.cal_adc_i[r][1] * 32768, p.iRange[r], 0.01 * p.iRange[r]);
        for (int k = 0; k < p.nCalRows; ++k) {
            for (int g = 0; g < p.nCalRanges; ++g)
                EXPECT_NEAR(p.cal_adc[k][g][1] * 32768, p.rangeValue[g], 0.02 * p.rangeValue[g]);
        }
    }
    // The legacy unit's fixed supply: negative side through cal_dac[2], positive through
    // cal_dac[3], each reaching the range limit within the DAC.
    const vsensor::UnitProfile* legacy = vsensor::findProfile("legacy");
    for (const auto& [dac, v] : {std::pair{2, legacy->vRange[2][0]}, {3, legacy->vRange[2][1]}}) {
        const double code = legacy->cal_dac[dac][1] * v + legacy->cal_dac[dac][0];
        EXPECT_TRUE(code > 60000 && code <= 65535) << dac;
    }
}

// TOLMAR_VSENSOR_PROFILE picks the profile on reset (unknown: "single"); every module gets the
// record, and reset() restores it over whatever was written.
TEST(VsensorProfiles, ProfileFromEnvironment) {
    for (const auto& [text, name] :
         {std::pair{"disc13", "disc13"}, {"blank", "blank"}, {"nope", "single"}, {"", "single"}}) {
        setenv("TOLMAR_VSENSOR_PROFILE", text, 1);
        vsensor::reset();
        EXPECT_EQ(vsensor::currentProfile(), name) << text;
    }
    EXPECT_FALSE(vsensor::loadProfile("nope"));
    EXPECT_EQ(vsensor::currentProfile(), "single");
    setenv("TOLMAR_VSENSOR_PROFILE", "disc13", 1);
    vsensor::reset();
    vsensor::setModuleCount(2);
    const Bytes record = vsensor::readMemory(vsensor::kRecordAddress, kRecordSize);
    EXPECT_EQ(vsensor::readMemory(vsensor::kRecordAddress, kRecordSize, 1), record);
    vsensor::fillMemory(0x00);
    vsensor::reset();
    EXPECT_EQ(vsensor::readMemory(vsensor::kRecordAddress, kRecordSize), record);
    resetWithCleanEnvironment();
}

}  // namespace
