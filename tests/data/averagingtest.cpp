// Averaging of a scan's sweeps with outlier rejection, and its incremental upkeep.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "data/ivtrace.h"
#include "data/tarvoscans.h"

namespace {

constexpr int kPoints = 12;
constexpr int kRows = 4;

// One current row scaled by `scale`, three rising voltage rows.
ivTrace* makeTrace(double scale, double noise = 0.0, int points = kPoints) {
    std::vector<double> block(kRows * points);
    for (int j = 0; j < points; ++j) {
        block[j] = scale * (50.0 - j) + noise * ((j * 7) % 5);
        block[points + j] = j;
        block[2 * points + j] = 10.0 + j;
        block[3 * points + j] = 2.0 * j;
    }
    return new ivTrace(block.data(), points, kRows, 0, false, false, false);
}

// Rejection starts at ten traces: with nine the outlier is averaged in, with ten left out.
TEST(RejectionTest, OutlierLeftOutFromTenTraces) {
    for (const auto& [normalTraces, outlierUsed] : {std::pair{8, true}, {9, false}}) {
        QList<ivTrace*> traces;
        for (int i = 0; i < normalTraces; ++i) traces.append(makeTrace(1.0));
        traces.append(makeTrace(3.0));  // maximum current far above the mean
        ivTrace average(kPoints, kRows, false, false, 0);
        average.averageTraces(traces);
        const int n = traces.size();
        const double expectedScale = outlierUsed ? (n - 1 + 3.0) / n : 1.0;
        for (int j = 0; j < kPoints; ++j)
            EXPECT_DOUBLE_EQ(average.currents[0][j], expectedScale * (50.0 - j)) << n << " " << j;
        qDeleteAll(traces);
    }
}

bool sameValue(double a, double b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}

void expectSameRows(const ivTrace& a, const ivTrace& b, int step) {
    ASSERT_EQ(a.nRows, b.nRows) << step;
    ASSERT_EQ(a.nPoints, b.nPoints) << step;
    for (unsigned r = 0; r < a.nRows; ++r) {
        for (unsigned j = 0; j < a.nPoints; ++j) {
            // Exactly the sums of a full recomputation, not merely close to them (NaN where
            // every trace was left out).
            ASSERT_TRUE(sameValue(a.currents[r][j], b.currents[r][j])) << step << " row " << r;
            ASSERT_TRUE(sameValue(a.dIdERow(r)[j], b.dIdERow(r)[j])) << step << " row " << r;
        }
    }
}

// The scan keeps its average up to date trace by trace; after every trace it must equal the
// average computed from scratch over the whole list, also when outliers come and go.
TEST(IncrementalAverageTest, EqualsFullRecomputationAfterEveryTrace) {
    std::mt19937 random(1234);
    std::uniform_real_distribution<double> jitter(0.9, 1.1);
    std::uniform_int_distribution<int> kind(0, 19);
    tarvoScan scan(new QList<ivTrace*>, new ivTrace(kPoints, kRows, false, false, 0), 0.0);
    for (int step = 0; step < 120; ++step) {
        const int k = kind(random);
        double scale = jitter(random);
        if (k == 0)
            scale *= 2.5;  // clear outlier
        if (k == 1)
            scale *= 1.32;  // close to the rejection limit
        if (k == 2)
            scale = -scale;                                           // sign change moves the means
        ivTrace* trace = k == 3 ? makeTrace(scale, 0.0, kPoints + 1)  // other shape
                                : makeTrace(scale, jitter(random));
        scan.appendTrace(trace);
        ivTrace reference(kPoints, kRows, false, false, 0);
        reference.averageTraces(*scan.traces);
        expectSameRows(*scan.average, reference, step);
        if (step == 60) {
            // A crop changes every statistic; the next trace recomputes them.
            for (ivTrace* t : *scan.traces) t->setCrop(2, 1);
            scan.cropChanged();
        }
    }
}

}  // namespace
