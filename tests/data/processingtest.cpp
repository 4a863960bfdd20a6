// IV processing: derivative routines, energy axis, block clean-up, flux and average energy.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "data/derivatives.h"
#include "data/ivtrace.h"
#include "data/linearfit.h"

namespace {

constexpr double N = std::numeric_limits<double>::quiet_NaN();

struct DerivativeCase {
    const char* name;
    int method;
    std::vector<double> x;
    std::vector<double> y;         // used for both y rows
    std::vector<double> expected;  // second row; NaN marks the points without a value
    bool succeeds;
};

// Each routine on x and y rows by hand: the values, the points without one, too few points.
TEST(DerivativeTest, MatchesHandComputedValues) {
    const std::vector<double> k9 = {0, 1, 2, 3, 4, 5, 6, 7, 8};  // cut to the expected length
    const DerivativeCase cases[] = {
        {"forward", 1, {0, 1, 3, 4, 6}, {0, 2, 4, 10, 10}, {2, 1, 6, 0, 0}, true},
        // Middle x above both ends: the point after the turn repeats the one before it.
        {"forwardTurning", 1, {0, 1, 2, 1, 0}, {0, 1, 3, 6, 10}, {1, 2, 2, -4, -4}, true},
        {"forwardTooShort", 1, {0}, {5}, {0}, false},
        {"central1", 2, {0, 1, 2, 4, 8}, {0, 1, 4, 9, 16}, {N, 2, 8.0 / 3, 2, N}, true},
        {"central1Turning", 2, {0, 1, 2, 3, 2, 1}, {0, 1, 4, 9, 16, 25}, {N, 2, N, N, -8, N}, true},
        {"central2", 3, {0, 1, 2, 3, 5}, {1, 2, 4, 8, 16}, {N, N, 3, N, N}, true},
        {"central3", 4, k9, k9, {N, N, N, 1, N, N, N}, true},
        // Fewer than nine points: the nine-point form gives nothing.
        {"central4TooShort", 5, k9, k9, std::vector<double>(8, 0.0), false},
        {"methodAboveFive", 9, k9, k9, {N, N, N, N, 1, N, N, N, N}, true},
    };
    for (DerivativeCase c : cases) {
        SCOPED_TRACE(c.name);
        c.x.resize(c.expected.size());
        c.y.resize(c.expected.size());
        const int n = static_cast<int>(c.x.size());
        // Block of 5 rows (two y rows, two unused rows, x last) as the routines receive it.
        std::vector<double> block = c.y;
        block.insert(block.end(), c.y.begin(), c.y.end());
        block.insert(block.end(), 2 * n, 99.0);
        block.insert(block.end(), c.x.begin(), c.x.end());
        std::vector<double> out(2 * n, 12345.0);
        EXPECT_EQ(derivatives::routineFor(c.method)(block.data(), out.data(), n, 5, 1, -1),
                  c.succeeds);
        for (int j = 0; j < n; ++j) {
            const double want = c.expected[j];
            // The first row carries 0 where the second has no value.
            EXPECT_DOUBLE_EQ(out[j], std::isnan(want) ? 0.0 : want) << "first row, point " << j;
            if (std::isnan(want)) {
                EXPECT_TRUE(std::isnan(out[n + j])) << "second row, point " << j;
            } else {
                EXPECT_DOUBLE_EQ(out[n + j], want) << "second row, point " << j;
            }
        }
    }
}

// Slope and intercept are checked through the energy axis below; here the degenerate counts
// and r²: (0,0) (1,2) (2,1) (3,3) give r² = 16 / 25.
TEST(LinearFitTest, DegenerateCountsAndRSquared) {
    LinearFit fit;
    EXPECT_EQ(fit.slope(), 0.0);
    fit.add(3.0, 7.0);
    EXPECT_EQ(fit.slope(), 0.0);
    EXPECT_EQ(fit.intercept(), 7.0);
    LinearFit four;
    const double ys[] = {0, 2, 1, 3};
    for (int i = 0; i < 4; ++i) four.add(i, ys[i]);
    EXPECT_NEAR(four.rSquared(), 0.64, 1e-12);
}

// Rows of a 5-row trace: current, A (row R-4), B, electrode, swept.
// Sources: swept = 0 2 1 3; A - electrode = 1 4 2 5; B - electrode = 2 2 3 4; without the
// unfiltered flag, the line fitted to them.
TEST(EnergyAxisTest, UsesTheConfiguredSource) {
    const struct {
        bool collectorDiscriminator, alternateRows, unfiltered;
        std::vector<double> expected;
    } cases[] = {
        {false, false, true, {0, 2, 1, 3}},        {false, false, false, {0.3, 1.1, 1.9, 2.7}},
        {false, true, true, {2, 2, 3, 4}},         {true, false, true, {1, 4, 2, 5}},
        {true, true, false, {1.5, 2.5, 3.5, 4.5}},  // the discriminator wins over alternate rows
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.collectorDiscriminator << c.alternateRows << c.unfiltered);
        ivTrace trace(4, 5, c.collectorDiscriminator, c.unfiltered, 0);
        trace.alternateRows = c.alternateRows;
        trace.currents[1] = {11, 14, 12, 15};
        trace.currents[2] = {12, 12, 13, 14};
        trace.currents[3] = {10, 10, 10, 10};
        trace.currents[4] = {0, 2, 1, 3};
        trace.buildEnergyAxis();
        ASSERT_EQ(trace.energy.size(), 4);
        for (int i = 0; i < 4; ++i) EXPECT_NEAR(trace.energy[i], c.expected[i], 1e-12) << i;
    }
}

// A live block: NaN currents become 0, voltage rows (only) are smoothed of glitches.
TEST(LiveBlockTest, SmoothsVoltageRowsOnlyAndReplacesNaN) {
    // 4 rows: one current and three voltage rows, six points.
    const std::vector<double> current = {10, 9, 12, 7, N, 5};
    const std::vector<double> v1 = {0, 1, 5, 3, 4, 5};    // glitch inside
    const std::vector<double> v2 = {0, 1, 2, 3, 4, 2};    // glitch at the last point
    const std::vector<double> v3 = {5, 1, 2, 3, 3.5, 4};  // glitch at the first point
    std::vector<double> block;
    for (const auto* row : {&current, &v1, &v2, &v3})
        block.insert(block.end(), row->begin(), row->end());
    ivTrace trace(block.data(), 6, 4, 0, false, true, false);
    EXPECT_EQ(trace.currents[0], QVector<double>({10, 9, 12, 7, 0, 5}));
    EXPECT_EQ(trace.currents[1], QVector<double>({0, 1, 2.75, 4.5, 4.75, 5}));
    EXPECT_EQ(trace.currents[2], QVector<double>({0, 1, 2, 3, 3, 3}));
    // Forward pass 5 3.5 3.25 3.375 3.5 4, then the first point is raised and the second
    // replaced by the mean of its neighbours.
    EXPECT_EQ(trace.currents[3], QVector<double>({5.25, 4.25, 3.25, 3.375, 3.5, 4}));
}

// Ions with a Gaussian energy distribution (mean 50 eV, width 5 eV) against a retarding
// voltage from 0 to 100 V: I(V) = I0 * erfc((V - mu) / (sigma * sqrt 2)) / 2.
TEST(GaussianTrace, FluxAndEnergyMatchClosedFormWithEveryMethod) {
    const int n = 401;
    const double mu = 50.0, sigma = 5.0, i0 = 2e-6;
    auto current = [&](double v) {
        return i0 * 0.5 * std::erfc((v - mu) / (sigma * std::sqrt(2.0)));
    };
    std::vector<double> block(5 * n);
    for (int j = 0; j < n; ++j) {
        const double v = 100.0 * j / (n - 1);
        block[j] = current(v);
        block[n + j] = 2 * v + 1;  // other voltage rows, rising
        block[2 * n + j] = v + 3;
        block[3 * n + j] = 7.0;  // electrode voltage
        block[4 * n + j] = v;    // swept voltage
    }
    // The flux integrates dI/dE over the derivative window [3, n - 4].
    const double v0 = 100.0 * 3 / (n - 1), v1 = 100.0 * (n - 4) / (n - 1);
    const double expectedFlux = DEFAULT_FLUX_FACTOR * (current(v1) - current(v0));
    FluxFactors factors;
    factors.fill(DEFAULT_FLUX_FACTOR);
    for (int method = 1; method <= 5; ++method) {
        SCOPED_TRACE(method);
        ivTrace::selectDerivativeMethod(method);
        ivTrace trace(block.data(), n, 5, 0, false, false, false);
        trace.computeIonFlux(factors);
        EXPECT_NEAR(trace.ionFlux(0), expectedFlux, std::fabs(expectedFlux) * 0.005);
        EXPECT_NEAR(trace.averageEnergy(0), mu, mu * 0.005);
        EXPECT_DOUBLE_EQ(trace.averageElectrodeVoltage(), 7.0);
    }
    ivTrace::selectDerivativeMethod(1);
}

TEST(IvTraceTest, CropLimitsFluxEnergyAndRanges) {
    const int n = 12;
    std::vector<double> block(4 * n);
    for (int j = 0; j < n; ++j) {
        block[j] = 100.0 - 3 * j;  // current
        block[n + j] = j;
        block[2 * n + j] = 2.0 + j;  // electrode
        block[3 * n + j] = j;        // swept
    }
    ivTrace trace(block.data(), n, 4, 0, false, false, false);
    EXPECT_TRUE(trace.setCrop(2, 3));
    EXPECT_EQ(trace.derivativeLength(), 1);
    EXPECT_NEAR(trace.minEnergy(), 2.0, 1e-12);
    EXPECT_NEAR(trace.maxEnergy(), 8.0, 1e-12);
    // Electrode voltage 2 + j over points 2 .. 8: mean 7.
    EXPECT_DOUBLE_EQ(trace.averageElectrodeVoltage(), 7.0);
    FluxFactors factors;
    factors.fill(1.0);
    trace.computeIonFlux(factors);
    EXPECT_EQ(trace.ionFlux(0), 0.0) << "three or fewer derivative points give no flux";
    trace.setCrop(0, 0);
    trace.computeIonFlux(factors);
    // dI/dE = -3 everywhere, window of 6 points, voltage step 1: 5 * (-6) * 0.5.
    EXPECT_NEAR(trace.ionFlux(0), -15.0, 1e-9);
    // Energy weights V = 3 .. 8 equally: 5.5.
    EXPECT_NEAR(trace.averageEnergy(0), 5.5, 1e-12);
}

TEST(IvTraceTest, EmptyAndFlatTraces) {
    // Without points or without rows a trace holds nothing, and its energy is 0.
    ivTrace empty(0, 4, false, false, 0);
    EXPECT_FALSE(empty.allocated);
    EXPECT_EQ(empty.averageEnergy(0), 0.0);
    ivTrace noRows(10, 0, false, false, 0);
    EXPECT_FALSE(noRows.allocated);
    EXPECT_EQ(noRows.nPoints, 0u);
    // A flat current has dI/dE summing to exactly 0: energy 0, not a division by zero.
    std::vector<double> block(4 * 10, 1.0);
    for (int j = 0; j < 10; ++j) block[30 + j] = j;
    ivTrace flat(block.data(), 10, 4, 0, false, false, false);
    EXPECT_EQ(flat.averageEnergy(0), 0.0);
}

}  // namespace
