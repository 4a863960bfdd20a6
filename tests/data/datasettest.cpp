// The data set: scans by time stamp, current scan, crop, flux factors, prescan, aspect-ratio
// path.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <vector>

#include "data/tarvodataset.h"

namespace {

// A block of `rows` rows: current rows level - j (channel c adds c), voltage rows rising.
std::vector<double> sweep(int rows, int points, double level, int currentRows) {
    std::vector<double> block(rows * points);
    for (int r = 0; r < rows; ++r) {
        for (int j = 0; j < points; ++j)
            block[r * points + j] = r < currentRows ? level + r - j : 10.0 * r + j;
    }
    return block;
}

TEST(DataSetTest, SweepsGroupByTimeStamp) {
    tarvoDataSet set(1, 3, 7);
    QSignalSpy spy(&set, &tarvoDataSet::dataUpdated);
    // Empty, and blocks with more rows than exist are refused.
    std::vector<double> tooMany(25 * 4);
    set.addTrace(tooMany.data(), 0.0, 4, 25, 0, 0, false);
    EXPECT_FALSE(set.hasData);
    EXPECT_EQ(set.currentTrace(0), nullptr) << "no scan, no trace";
    const auto block = sweep(4, 10, 100.0, 1);
    set.addTrace(block.data(), 1.0, 10, 4, 0, 0, false);
    set.addTrace(block.data(), 1.0, 10, 4, 0, 0, true);
    EXPECT_EQ(set.scanCount(), 1);
    EXPECT_EQ(set.traceCount(), 2);
    set.addTrace(block.data(), 2.5, 10, 4, 0, 0, false);
    EXPECT_EQ(set.scanCount(), 2);
    EXPECT_EQ(set.currentScan()->time, 2.5);
    EXPECT_EQ(set.currentTrace(1), nullptr) << "the newest scan holds one trace";
    EXPECT_EQ(set.currentTrace(-1), nullptr);
    ASSERT_EQ(spy.count(), 3);
    EXPECT_TRUE(spy.at(0).at(0).toBool() && !spy.at(1).at(0).toBool()) << "new data set, new scan";
    // Choosing the last scan follows the newest; an older one stays chosen.
    set.setMainScan(1);
    EXPECT_EQ(set.mainScanIndex, -1);
    set.setMainScan(0);
    EXPECT_EQ(set.mainScanIndex, 0);
    EXPECT_EQ(set.currentScan()->time, 1.0);
}

TEST(DataSetTest, CropAppliesToEveryTraceAndToNewOnes) {
    tarvoDataSet set(1, 3, 0);
    const auto block = sweep(4, 12, 100.0, 1);
    set.addTrace(block.data(), 1.0, 12, 4, 0, 0, false);
    EXPECT_TRUE(set.setCrop(2, 3));
    set.addTrace(block.data(), 1.0, 12, 4, 0, 0, false);
    EXPECT_EQ(set.currentTrace(0)->cropEnd, 3u);
    EXPECT_EQ(set.currentTrace(1)->cropStart, 2u);
    EXPECT_EQ(set.currentAverage()->cropStart, 2u);
    // Current 100 - j: over all points 89 .. 100, inside the crop (points 2 .. 8) 92 .. 98.
    EXPECT_EQ(set.ranges[0], 92.0);
    EXPECT_EQ(set.ranges[1], 89.0);
    EXPECT_EQ(set.ranges[2], 98.0);
    EXPECT_EQ(set.ranges[3], 100.0);
}

// Row counts of the known units and of none (the announced split stays).
TEST(DataSetTest, InitChannelsSplitsRows) {
    const int cases[][3] = {{2, 1, 1}, {4, 1, 3}, {17, 13, 4}, {20, 17, 3}, {7, 20, 4}};
    for (const auto& [total, currents, voltages] : cases) {
        tarvoDataSet set(0, 0, 0);
        set.initChannels(total);
        EXPECT_EQ(set.nChannels, currents) << total;
        EXPECT_EQ(set.nVoltageChannels, voltages) << total;
    }
}

TEST(DataSetTest, PrescanOffsets) {
    tarvoDataSet set(3, 1, 0);
    // Channel 0 turns non-negative at step 2, channel 1 at once, channel 2 never.
    const double steps[][3] = {{-1, 0.5, -1}, {-0.5, 1, -2}, {0.2, 2, -3}, {0.3, 3, -4}};
    const double voltages[] = {4, 6, 10, 12};
    for (int k = 0; k < 4; ++k) set.addPrescanPoint(voltages[k], 5.0, steps[k], 3);
    set.analysePrescan(5.0);
    tarvoScan* scan = set.sweepScans.at(0);
    EXPECT_DOUBLE_EQ(scan->prescanOffset(0), 8.0);  // 10 - (10 - 6) / 2
    EXPECT_DOUBLE_EQ(scan->prescanOffset(1), 2.0);  // first step: 4 / 2
    EXPECT_DOUBLE_EQ(scan->prescanOffset(2), 0.0);
    // The prescan's scan then takes the sweeps of its time stamp and shifts their energy.
    const auto block = sweep(4, 10, 100.0, 3);
    set.addTrace(block.data(), 5.0, 10, 4, 0, 0, false);
    const double* shifted = set.energyAxisFor(0);
    EXPECT_NEAR(shifted[0], set.currentAverage()->energy[0] - 8.0, 1e-12);
}

}  // namespace
