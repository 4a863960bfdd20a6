// Conversion to amperes and volts with the monitor rows, the electrode voltage measurement, and
// compaction of 24-value frames.
#include <vector>

#include "readoutfixture.h"

namespace {

class UnitsTest : public ReadOutFixture {
protected:
    void multiChannel(int adc, int probes) {
        c_->nAdcChannels = adc;
        c_->nProbes = probes;
        for (int m = 0; m < 4; ++m) {
            c_->cal_vmon[m][0] = 0;
            c_->cal_vmon[m][1] = 1;
        }
        for (int k = 0; k < probes; ++k) {
            c_->cal_adc[k][0][0] = 1e-9;
            c_->cal_adc[k][0][1] = 1e-10;
        }
        c_->gain = true;
    }
};

TEST_F(UnitsTest, TwoChannelVoltageFollowsTheMirroredSweep) {
    c_->cal_dac[0][0] = 0;
    c_->cal_dac[0][1] = 1;
    c_->v_a_start = 10;
    c_->v_a_inc = 1;
    c_->iv_steps = 5;
    c_->run_en = false;
    ASSERT_TRUE(c_->startScan());
    c_->gain = false;
    c_->relays = 0x21;  // range 3
    c_->cal_adc_i[3][0] = 0.5;
    c_->cal_adc_i[3][1] = 2;
    std::vector<double> data(20, 1.0);
    ASSERT_EQ(c_->toPhysicalUnits(data.data(), 1, 10), 1);
    EXPECT_EQ(data[7], 12.0);  // monitorVoltages[2]
    EXPECT_EQ(data[0], 10.0);
    EXPECT_EQ(data[9], 10.0);
    EXPECT_EQ(data[10], 2.5);
}

// Monitor rows (M0, M1, M2, M3) = (10, 2, 5, 0) become M0, M0 + M3, M0 + M1, M2 - M1; the
// electrode voltage is M0 + M1. Boards without room for four monitors have no M3 row: it reads
// as 0, but as M2 on units with the alternate row order, where it senses the swept grid and the
// energy axis is M3 less M1 (row 0 less row 1 here).
TEST_F(UnitsTest, MonitorRowsStayInTheFrame) {
    struct boardCase {
        int adc, probes;
        bool alternateRows, kalderSensor;
        std::vector<double> rows;
    };
    const boardCase cases[] = {
        {24, 20, false, false, {10, 10, 12, 3}},
        {20, 17, false, false, {10, 12, 3}},
        {20, 17, true, false, {15, 12, 3}},
        {16, 13, false, true, {15, 12, 3}},
    };
    for (const boardCase& b : cases) {
        multiChannel(b.adc, b.probes);
        c_->alternateRows = b.alternateRows;
        c_->kalderSensor = b.kalderSensor;
        std::vector<double> data(b.adc + 1, 0.0);
        data[b.probes] = 10;
        data[b.probes + 1] = 2;
        data[b.probes + 2] = 5;
        data[b.adc] = 777;  // beyond the frame
        ASSERT_EQ(c_->toPhysicalUnits(data.data(), 1, 1), 1);
        EXPECT_EQ(std::vector<double>(data.begin() + b.probes, data.begin() + b.adc), b.rows)
            << b.adc << " " << b.alternateRows << b.kalderSensor;
        EXPECT_EQ(data[b.adc], 777);
        EXPECT_EQ(c_->electrodeVoltageMean, 12);
        EXPECT_EQ(c_->baseVoltages[3], 0);  // what was read: nothing
    }
}

TEST_F(UnitsTest, TwentyFourValueFramesAreCompacted) {
    multiChannel(24, 20);
    c_->nExtProbes = 13;
    c_->nVchan = 4;
    c_->iv_steps = 2;
    c_->iv_samples = 1;
    Words samples;
    for (int step = 0; step < 2; ++step)
        for (int ch = 0; ch < 24; ++ch) samples.push_back(static_cast<uint16_t>(10 * ch + step));
    board_.addSegment(blockPackets(samples, 0, 0));
    const OneScan s = oneScan();
    ASSERT_EQ(s.code, 1);
    EXPECT_EQ(s.nChannels, 17);
    EXPECT_EQ(s.nScans, 1u);
    EXPECT_EQ(s.nPoints, 2u);
    EXPECT_EQ(s.timeRes, 0.0);
    EXPECT_DOUBLE_EQ(s.data[12 * 2 + 1], 1e-9 + 121 * 1e-10);  // probe 12, step 1
    // Monitors 200+s, 210+s, 220+s, 230+s become M0, M0 + M3, M0 + M1, M2 - M1.
    const double expected[4][2] = {{200, 201}, {430, 432}, {410, 412}, {10, 10}};
    for (int m = 0; m < 4; ++m)
        for (int p = 0; p < 2; ++p) EXPECT_EQ(s.data[(13 + m) * 2 + p], expected[m][p]) << m;
}

TEST_F(UnitsTest, ElectrodeVoltageShortMeasurementRestoresTheScan) {
    multiChannel(24, 20);
    c_->run_en = false;
    c_->iv_steps = 50;
    c_->iv_samples = 32;
    c_->v_a_inc = 64;
    c_->averageCount = 3;
    // Ten averaged one-step blocks of 4000 samples per channel: M0 = 40, M1 = 2.
    Words samples;
    for (int ch = 0; ch < 24; ++ch)
        samples.insert(samples.end(), 4000, ch == 20 ? 40 : ch == 21 ? 2 : 0);
    Words stream;
    for (int i = 0; i < 10; ++i) append(stream, blockPackets(samples, 0, 0));
    board_.addSegment(stream);
    double mean = 0;
    ASSERT_TRUE(c_->getElectrodeVoltage(&mean, nullptr));
    EXPECT_EQ(mean, 42.0);
    EXPECT_EQ(c_->iv_steps, 50);
    EXPECT_EQ(c_->iv_samples, 32);
    EXPECT_EQ(c_->v_a_inc, 64);
    EXPECT_EQ(c_->averageCount, 3u);
    EXPECT_FALSE(c_->run_en);
}

}  // namespace
