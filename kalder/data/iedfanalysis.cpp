#include "data/iedfanalysis.h"

#include <algorithm>
#include <cmath>

#include "data/ivtrace.h"
#include "data/tarvodataset.h"

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
// A maximum counts as a peak when it stands out this much: of the highest value, and of the
// noise (robust standard deviation of what the smoothing took away).
constexpr double RELATIVE_PROMINENCE = 0.1;
constexpr double NOISE_PROMINENCE = 5.0;
// Savitzky-Golay half window: 2 points to find the peaks; then this share of the narrowest
// peak's width in points (a quadratic fit over 0.28 FWHM each side changes the width of a
// Gaussian by under 0.5 %), never above 12, and no smoothing when that is under 2 points.
constexpr int MIN_HALF_WINDOW = 2;
constexpr int MAX_HALF_WINDOW = 12;
constexpr double WINDOW_SHARE = 0.28;

// The finite points of a sweep in ascending x; a sweep that turns keeps its first leg.
void ascendingPoints(const double* x, const double* y, int n, std::vector<double>& xs,
                     std::vector<double>& ys) {
    int direction = 0;
    for (int i = 0; i < n; ++i) {
        if (!std::isfinite(x[i]) || !std::isfinite(y[i])) {
            continue;
        }
        if (!xs.empty()) {
            const int step = x[i] > xs.back() ? 1 : x[i] < xs.back() ? -1 : 0;
            if (step == 0) {
                continue;
            }
            if (direction == 0) {
                direction = step;
            } else if (step != direction) {
                break;
            }
        }
        xs.push_back(x[i]);
        ys.push_back(y[i]);
    }
    if (direction < 0) {
        std::reverse(xs.begin(), xs.end());
        std::reverse(ys.begin(), ys.end());
    }
}

// Quadratic Savitzky-Golay smoothing with half window m; near the ends the window shrinks to
// what the data hold on both sides.
std::vector<double> smooth(const std::vector<double>& y, int m) {
    const int n = int(y.size());
    std::vector<double> out(y);
    for (int i = 0; i < n; ++i) {
        const int h = std::min({m, i, n - 1 - i});
        if (h < 2) {
            continue;  // a three-point quadratic passes through the point itself
        }
        const double norm = double(2 * h + 1) * (4.0 * h * h + 4.0 * h - 3.0);
        double sum = 0.0;
        for (int k = -h; k <= h; ++k) {
            sum += (3.0 * (3.0 * h * h + 3.0 * h - 1.0) - 15.0 * k * k) * y[i + k];
        }
        out[i] = sum / norm;
    }
    return out;
}

double median(std::vector<double> v) {
    if (v.empty()) {
        return 0.0;
    }
    auto mid = v.begin() + v.size() / 2;
    std::nth_element(v.begin(), mid, v.end());
    return *mid;
}

// The value at x of the polynomial through the points first .. last of (xs, ys).
double lagrange(const std::vector<double>& xs, const std::vector<double>& ys, int first, int last,
                double x) {
    double sum = 0.0;
    for (int j = first; j <= last; ++j) {
        double term = ys[j];
        for (int k = first; k <= last; ++k) {
            if (k != j) {
                term *= (x - xs[k]) / (xs[j] - xs[k]);
            }
        }
        sum += term;
    }
    return sum;
}

struct curve {
    std::vector<double> x;
    std::vector<double> s;  // smoothed values
};

// Where the curve crosses `level` between points a and a + 1 (s[a] and s[a + 1] on either
// side of it): a cubic through the four points around the interval, solved by bisection.
double crossing(const curve& c, int a, double level) {
    const int n = int(c.x.size());
    const int first = std::max(0, a - 1);
    const int last = std::min(n - 1, a + 2);
    double lo = c.x[a];
    double hi = c.x[a + 1];
    const bool rising = c.s[a] < level;
    for (int i = 0; i < 60; ++i) {
        const double mid = 0.5 * (lo + hi);
        const bool below = lagrange(c.x, c.s, first, last, mid) < level;
        if (below == rising) {
            lo = mid;
        } else {
            hi = mid;
        }
    }
    return 0.5 * (lo + hi);
}

// Energy and height of the maximum at i: the vertex of a Gaussian (a parabola in the logarithm)
// through i and its neighbours, or of a parabola when a value is not positive.
void refineMaximum(const curve& c, int i, iedfPeak& peak) {
    peak.energy = c.x[i];
    peak.height = c.s[i];
    const double x0 = c.x[i - 1], x1 = c.x[i], x2 = c.x[i + 1];
    const bool logarithmic = c.s[i - 1] > 0 && c.s[i + 1] > 0 && c.s[i] > 0;
    auto f = [&](double v) { return logarithmic ? std::log(v) : v; };
    const double l0 = f(c.s[i - 1]), l1 = f(c.s[i]), l2 = f(c.s[i + 1]);
    const double den = (x1 - x0) * (l1 - l2) - (x1 - x2) * (l1 - l0);
    if (den == 0.0) {
        return;
    }
    const double vertex =
        x1 - 0.5 * ((x1 - x0) * (x1 - x0) * (l1 - l2) - (x1 - x2) * (x1 - x2) * (l1 - l0)) / den;
    if (!(vertex >= x0 && vertex <= x2)) {
        return;
    }
    const std::vector<double> xs{x0, x1, x2};
    const std::vector<double> ls{l0, l1, l2};
    const double top = lagrange(xs, ls, 0, 2, vertex);
    peak.energy = vertex;
    peak.height = logarithmic ? std::exp(top) : top;
}

// Half width on one side of the maximum at i, walking towards `bound` (inclusive); NaN when the
// curve stays above half height up to there.
double halfWidth(const curve& c, int i, int bound, double half, double centre) {
    const int step = bound < i ? -1 : 1;
    for (int j = i; j != bound; j += step) {
        const int next = j + step;
        if (c.s[next] < half) {
            return std::fabs(crossing(c, std::min(j, next), half) - centre);
        }
    }
    return NaN;
}

// The interior maxima of the smoothed curve that stand out by `threshold`, as indices; the two
// most prominent, in ascending order.
std::vector<int> prominentMaxima(const std::vector<double>& s, double threshold) {
    const int n = int(s.size());
    std::vector<std::pair<double, int>> found;
    for (int i = 1; i + 1 < n; ++i) {
        if (!(s[i] > s[i - 1] && s[i] >= s[i + 1] && s[i] > 0)) {
            continue;
        }
        // Prominence: how far the curve falls on the way to a higher point (or the end) on
        // each side; the smaller fall counts.
        double leftLow = s[i];
        for (int j = i - 1; j >= 0 && s[j] <= s[i]; --j) {
            leftLow = std::min(leftLow, s[j]);
        }
        double rightLow = s[i];
        for (int j = i + 1; j < n && s[j] <= s[i]; ++j) {
            rightLow = std::min(rightLow, s[j]);
        }
        const double prominence = s[i] - std::max(leftLow, rightLow);
        if (prominence >= threshold) {
            found.push_back({prominence, i});
        }
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a > b; });
    std::vector<int> kept;
    for (size_t k = 0; k < found.size() && k < 2; ++k) {
        kept.push_back(found[k].second);
    }
    std::sort(kept.begin(), kept.end());
    return kept;
}

iedfPeaks analyse(const curve& c, const std::vector<double>& raw) {
    iedfPeaks result;
    const int n = int(c.s.size());
    const double top = *std::max_element(c.s.begin(), c.s.end());
    if (!(top > 0)) {
        return result;
    }
    std::vector<double> residual(n);
    for (int i = 0; i < n; ++i) {
        residual[i] = std::fabs(raw[i] - c.s[i]);
    }
    const double noise = 1.4826 * median(residual);
    const std::vector<int> maxima =
        prominentMaxima(c.s, std::max(RELATIVE_PROMINENCE * top, NOISE_PROMINENCE * noise));
    for (size_t k = 0; k < maxima.size(); ++k) {
        const int i = maxima[k];
        // Each peak's flanks end at the lowest point between it and its neighbour.
        int lower = 0;
        int upper = n - 1;
        if (k > 0) {
            lower =
                int(std::min_element(c.s.begin() + maxima[k - 1], c.s.begin() + i) - c.s.begin());
        }
        if (k + 1 < maxima.size()) {
            upper = int(std::min_element(c.s.begin() + i, c.s.begin() + maxima[k + 1] + 1) -
                        c.s.begin());
        }
        iedfPeak peak;
        refineMaximum(c, i, peak);
        const double half = 0.5 * peak.height;
        const double left = halfWidth(c, i, lower, half, peak.energy);
        const double right = halfWidth(c, i, upper, half, peak.energy);
        peak.fwhm = std::isnan(left) ? 2 * right : std::isnan(right) ? 2 * left : left + right;
        result.peaks.push_back(peak);
    }
    if (result.peaks.size() == 2) {
        result.separation = result.peaks[1].energy - result.peaks[0].energy;
    }
    return result;
}

}  // namespace

iedfPeaks findIedfPeaks(const double* x, const double* y, int n) {
    curve c;
    std::vector<double> raw;
    if (!x || !y || n <= 0) {
        return {};
    }
    ascendingPoints(x, y, n, c.x, raw);
    const int points = int(raw.size());
    if (points < 5) {
        return {};
    }
    // A first look with the narrowest window finds the peaks' widths; the window then grows
    // with the narrowest of them, so wide peaks are smoothed more without being broadened.
    c.s = smooth(raw, MIN_HALF_WINDOW);
    iedfPeaks result = analyse(c, raw);
    double narrowest = HUGE_VAL;
    for (const iedfPeak& p : result.peaks) {
        narrowest = std::min(narrowest, p.fwhm);
    }
    const double spacing = (c.x.back() - c.x.front()) / (points - 1);
    if (std::isfinite(narrowest) && spacing > 0) {
        // Peaks only a few points wide are measured on the points themselves.
        const int window = std::min(int(WINDOW_SHARE * narrowest / spacing), MAX_HALF_WINDOW);
        if (window != MIN_HALF_WINDOW) {
            c.s = smooth(raw, window);
            result = analyse(c, raw);
        }
    }
    return result;
}

iedfPeaks findIedfPeaks(const ivTrace& trace, int channel, double energyOffset) {
    const int m = trace.derivativeLength();
    if (!trace.allocated || channel < 0 || channel >= trace.currentRows() || m <= 0 ||
        !trace.energyView()) {
        return {};
    }
    iedfPeaks result = findIedfPeaks(trace.energyView() + 3, trace.dIdEView(channel), m);
    for (iedfPeak& p : result.peaks) {
        p.energy -= energyOffset;
    }
    return result;
}

iedfPeaks scanIedfPeaks(const tarvoScan& scan, int channel) {
    if (!scan.average) {
        return {};
    }
    const double offset = scan.prescanAnalysed() ? scan.prescanOffset(channel) : 0.0;
    return findIedfPeaks(*scan.average, channel, offset);
}

iedfPeaks currentIedfPeaks(const tarvoDataSet& set, int channel) {
    const tarvoScan* scan = set.currentScan();
    return scan ? scanIedfPeaks(*scan, channel) : iedfPeaks();
}

uniformity uniformityOf(const QVector<double>& values, const QVector<bool>& active) {
    uniformity u;
    double sum = 0.0;
    double lo = HUGE_VAL;
    double hi = -HUGE_VAL;
    std::vector<double> used;
    for (int i = 0; i < values.size(); ++i) {
        if ((i < active.size() && !active[i]) || !std::isfinite(values[i])) {
            continue;
        }
        used.push_back(values[i]);
        sum += values[i];
        lo = std::min(lo, values[i]);
        hi = std::max(hi, values[i]);
    }
    u.sensors = int(used.size());
    if (used.empty()) {
        return u;
    }
    u.mean = sum / u.sensors;
    if (u.sensors > 1) {
        double squares = 0.0;
        for (const double v : used) {
            squares += (v - u.mean) * (v - u.mean);
        }
        u.standardDeviation = std::sqrt(squares / (u.sensors - 1));
    }
    u.nonUniformity = (hi - lo) / (2 * u.mean);
    return u;
}

discUniformity currentDiscUniformity(const tarvoDataSet& set) {
    discUniformity d;
    const ivTrace* average = set.currentAverage();
    if (!average) {
        return d;
    }
    QVector<double> energy, flux;
    for (int c = 0; c < average->currentRows() && c < set.nChannels; ++c) {
        energy << average->averageEnergy(c);
        flux << average->ionFlux(c);
    }
    const QVector<bool> active = set.enabledSensors();
    d.energy = uniformityOf(energy, active);
    d.flux = uniformityOf(flux, active);
    return d;
}
