// IEDF peaks against analytic distributions, and the disc uniformity figures against a hand
// computation.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "data/iedfanalysis.h"

namespace {

constexpr double FWHM_PER_SIGMA = 2.3548200450309493;  // 2 sqrt(2 ln 2)

struct gaussian {
    double centre, sigma, height;
};

struct peakCase {
    const char* name;
    std::vector<gaussian> peaks;
    double from, to, step;
    double noise;  // peak-to-peak share of the highest peak, deterministic
};

double distribution(const std::vector<gaussian>& peaks, double e) {
    double y = 0.0;
    for (const gaussian& g : peaks)
        y += g.height * std::exp(-0.5 * std::pow((e - g.centre) / g.sigma, 2));
    return y;
}

TEST(IedfPeaks, ComeBackFromAnalyticCurves) {
    const peakCase cases[] = {
        {"bimodal", {{30, 3, 2e-8}, {60, 5, 1e-8}}, -10, 100, 1, 0},
        // Wide peaks on a fine sweep (wider smoothing).
        {"fine", {{40, 6, 3e-8}, {75, 8, 3e-8}}, 0, 120, 0.25, 0},
        {"descending", {{60, 5, 1e-8}}, 100, 0, -1, 0},
        // The sweep ends 2 eV after the maximum: the width comes from the rising flank.
        {"cutAfterTheTop", {{50, 4, 1e-8}}, 0, 52, 0.5, 0},
        {"noisy", {{30, 4, 2e-8}, {60, 4, 1.5e-8}}, 0, 100, 0.5, 0.05}};
    for (const peakCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<double> x, y;
        const double top = c.peaks.front().height;
        const int points = int(std::lround((c.to - c.from) / c.step)) + 1;
        for (int i = 0; i < points; ++i) {
            const double e = c.from + i * c.step;
            x.push_back(e);
            // A fixed pattern of noise, uneven enough to make maxima of its own.
            y.push_back(distribution(c.peaks, e) + c.noise * top * (((i * 37) % 11) / 10.0 - 0.5));
        }
        const iedfPeaks found = findIedfPeaks(x.data(), y.data(), int(x.size()));
        ASSERT_EQ(found.peaks.size(), c.peaks.size());
        const double widthTolerance = c.noise > 0 ? 0.03 : 0.01;
        for (size_t k = 0; k < c.peaks.size(); ++k) {
            const gaussian& g = c.peaks[k];
            const iedfPeak& p = found.peaks[k];
            EXPECT_NEAR(p.energy, g.centre, (c.noise > 0 ? 0.05 : 0.02) * g.sigma) << k;
            EXPECT_NEAR(p.height, g.height, widthTolerance * g.height) << k;
            EXPECT_NEAR(p.fwhm, FWHM_PER_SIGMA * g.sigma, widthTolerance * FWHM_PER_SIGMA * g.sigma)
                << k;
        }
        if (c.peaks.size() == 2) {
            EXPECT_NEAR(found.separation, c.peaks[1].centre - c.peaks[0].centre,
                        c.noise > 0 ? 0.3 : 0.05);
        } else {
            EXPECT_TRUE(std::isnan(found.separation));
        }
    }
}

TEST(IedfPeaks, NoneInNoiseAFlatCurveOrTooFewPoints) {
    std::vector<double> x, noise, flat(100, 0.0);
    for (int i = 0; i < 100; ++i) {
        x.push_back(i);
        noise.push_back(1e-11 * (((i * 37) % 11) / 10.0 - 0.5));
    }
    EXPECT_TRUE(findIedfPeaks(x.data(), noise.data(), 100).peaks.empty());
    EXPECT_TRUE(findIedfPeaks(x.data(), flat.data(), 100).peaks.empty());
    EXPECT_TRUE(findIedfPeaks(x.data(), x.data(), 4).peaks.empty());
}

TEST(DiscUniformity, EqualsAHandComputation) {
    // Five sensors, the fourth switched off, the last without a number.
    // Used: 40, 44, 42 -> mean 42, sample variance (4 + 4 + 0) / 2 = 4, deviation 2,
    // non-uniformity (44 - 40) / (2 * 42) = 0.047619...
    const uniformity u = uniformityOf({40, 44, 42, 100, NAN}, {true, true, true, false});
    EXPECT_EQ(u.sensors, 3);
    EXPECT_DOUBLE_EQ(u.mean, 42.0);
    EXPECT_DOUBLE_EQ(u.standardDeviation, 2.0);
    EXPECT_DOUBLE_EQ(u.nonUniformity, 4.0 / 84.0);
}

}  // namespace
