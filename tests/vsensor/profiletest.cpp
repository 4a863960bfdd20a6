// The calibration records of the unit profiles in the I2C memory, decoded here from the
// record's byte layout (a reader of its own, sharing nothing with the sensor's writer).
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
        const Bytes r = vsensor::readMemory(vsensor::kRecordAddress, kRecordSize);
        Bytes all = vsensor::readMemory(0, vsensor::kI2cMemorySize);
        all.erase(all.begin() + vsensor::kRecordAddress,
                  all.begin() + vsensor::kRecordAddress + kRecordSize);
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

}  // namespace
