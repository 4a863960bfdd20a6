// Conversion of ADC codes to amperes and volts, the monitor results (electrode and base
// voltages) and two least-squares helpers.
#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "ScanSupport.h"
#include "tolmar2/MsgLogger.h"
#include "tolmar2/TolmarCntrl.h"

namespace {

constexpr int kMonitors = 4;

// Short measurement of the electrode voltage between scans.
constexpr int32_t kShortSamples = 4000;
constexpr uint32_t kShortDelayUs = 10;
constexpr uint8_t kShortIvDelayUs = 10;
constexpr uint32_t kShortAverages = 10;

// The fields the short electrode-voltage measurement sets for itself.
struct ShortMeasurement {
    uint16_t vaStart, vbStart, vcStart;
    int16_t vaInc, vbInc;
    int32_t vcInc;
    uint16_t steps, steps2;
    int32_t samples, samples2;
    uint32_t zsDelay, fsDelay, nsDelay;
    uint8_t ivDelay;
    uint32_t averages;

    void exchange(TolmarCntrl& c) {
        std::swap(vaStart, c.v_a_start);
        std::swap(vbStart, c.v_b_start);
        std::swap(vcStart, c.v_c_start);
        std::swap(vaInc, c.v_a_inc);
        std::swap(vbInc, c.v_b_inc);
        std::swap(vcInc, c.v_c_inc);
        std::swap(steps, c.iv_steps);
        std::swap(steps2, c.iv_steps2);
        std::swap(samples, c.iv_samples);
        std::swap(samples2, c.iv_samples2);
        std::swap(zsDelay, c.setup_zs_delay);
        std::swap(fsDelay, c.setup_fs_delay);
        std::swap(nsDelay, c.setup_ns_delay);
        std::swap(ivDelay, c.setup_iv_delay);
        std::swap(averages, c.averageCount);
    }
};

void applyCalibration(double* values, size_t n, const double pair[2]) {
    for (size_t i = 0; i < n; ++i) values[i] = pair[1] * values[i] + pair[0];
}

}  // namespace

int TolmarCntrl::toPhysicalUnits(double* data, unsigned nScans, unsigned nPoints) {
    if (nScans == 0 || !data)
        return 0;
    const size_t len = nPoints;
    double sum = 0;
    double minMean = std::numeric_limits<double>::infinity();

    if (nAdcChannels == 2) {
        // Array 0 becomes the programmed voltage (the return sweep mirrored), array 1 the current
        // in the measuring range set by the relay and the gain.
        const int range = (gain ? 0 : 1) + ((relays & 1) ? 2 : 0);
        const int64_t steps = std::min<int64_t>(iv_steps, monitorVoltagesCapacity);
        for (unsigned s = 0; s < nScans; ++s) {
            double* frame = data + size_t(s) * 2 * len;
            for (size_t i = 0; i < len; ++i) {
                const int64_t at = int64_t(i) < steps ? int64_t(i) : 2 * steps - 1 - int64_t(i);
                frame[i] = (steps > 0 && monitorVoltages)
                               ? monitorVoltages[std::clamp<int64_t>(at, 0, steps - 1)]
                               : 0.0;
            }
            applyCalibration(frame + len, len, cal_adc_i[range]);
        }
        minMean = 0;
    } else {
        // Probe currents, then the monitor rows. Boards with 16 or 20 values per step have room
        // for three monitor rows only: there the fourth monitor reads as 0, except on units
        // with the alternate row order, where monitor 3 senses the swept grid as monitor 2 does
        // and takes its value, so that their energy axis (monitor 3 less monitor 1) still
        // follows the sweep.
        const bool sweptOnMonitor3 = alternateRows || kalderSensor;
        const int g = gain ? 0 : 1;
        const int channels = std::clamp(nAdcChannels, 0, MAX_CHANNELS);
        const int probes =
            std::clamp(nProbes, 0, std::min(channels, static_cast<int>(MAX_CAL_ROWS)));
        const int monitors = std::min(kMonitors, channels - probes);
        for (unsigned s = 0; s < nScans; ++s) {
            double* frame = data + size_t(s) * channels * len;
            for (int k = 0; k < probes; ++k) applyCalibration(frame + k * len, len, cal_adc[k][g]);
            double* rows = frame + size_t(probes) * len;
            for (int m = 0; m < monitors; ++m) applyCalibration(rows + m * len, len, cal_vmon[m]);
            double frameSum = 0;
            for (size_t i = 0; i < len; ++i) {
                double v[kMonitors] = {0, 0, 0, 0};
                for (int m = 0; m < monitors; ++m) v[m] = rows[m * len + i];
                if (i == 0)
                    std::copy(v, v + kMonitors, baseVoltages);
                if (monitors == 3 && sweptOnMonitor3)
                    v[3] = v[2];
                // Rows from the last: swept voltage, electrode voltage, M0 + M3, M0.
                const double derived[kMonitors] = {v[0], v[0] + v[3], v[0] + v[1], v[2] - v[1]};
                for (int m = 0; m < monitors; ++m)
                    rows[m * len + i] = derived[kMonitors - monitors + m];
                frameSum += derived[2];
            }
            sum += frameSum;
            minMean = std::min(minMean, len ? frameSum / len : 0.0);
        }
    }
    electrodeVoltageMean = len ? sum / (double(nScans) * len) : 0;
    if (nScans > 1)
        electrodeVoltageMinScan = minMean;
    return 1;
}

bool TolmarCntrl::getElectrodeVoltage(double* mean, double* minScanMean) {
    auto handOut = [&] {
        if (mean)
            *mean = electrodeVoltageMean;
        if (minScanMean)
            *minScanMean = electrodeVoltageMinScan;
    };
    if (!connected || run_en || nAdcChannels == 2) {
        handOut();
        return true;
    }

    // A one-step scan at the idle voltages: its settings are exchanged with the scan's, and
    // exchanged back afterwards.
    ShortMeasurement settings{v_a_def,
                              v_b_def,
                              v_c_def,
                              0,
                              0,
                              0,
                              1,
                              1,
                              kShortSamples,
                              kShortSamples,
                              kShortDelayUs,
                              kShortDelayUs,
                              kShortDelayUs,
                              kShortIvDelayUs,
                              kShortAverages};
    settings.exchange(*this);

    const bool locked = sync_frq_locked && sync_frq8 != 0;
    const bool savedSyncMode = sync_mode;
    if (locked) {
        setScanType(false, true, false);
        const double frequency = tolmar2::scan::syncInputHz(sync_frq8);
        const unsigned period = static_cast<unsigned>(1e6 / frequency + 1);
        double timeRes = period / 10;
        unsigned acqStart = 0, window = period, phase = 0;
        setSyncScanParameters(timeRes, acqStart, window, phase, true);
    }

    bool ok = false;
    if (!startScan()) {
        TOLMAR_LOG_ERROR("Failed to start scan\n");
    } else {
        double* data = nullptr;
        unsigned nScans = 1, nPoints = 0, status = 0;
        const int code = locked ? readFpgaFifoDataTRM(data, nScans, nPoints, status)
                                : readFpgaFifoData(data, true, nPoints, status);
        ok = code == 1 && data && toPhysicalUnits(data, nScans, nPoints) == 1;
    }
    stopScan();
    settings.exchange(*this);
    handOut();
    if (locked)
        setScanType(false, savedSyncMode, false);
    return ok;
}

int TolmarCntrl::getBaseVoltages(double* m0, double* m1, double* m2, double* m3) {
    double* out[kMonitors] = {m0, m1, m2, m3};
    for (int m = 0; m < kMonitors; ++m) {
        if (out[m])
            *out[m] = baseVoltages[m];
    }
    return 1;
}

int TolmarCntrl::getPrecalVals(double* out, int /*size*/) {
    if (out)
        std::copy(precalVals, precalVals + MAX_CHANNELS, out);
    return 0;
}

namespace {

// Least-squares line by running means, x from xAt(i).
template <class X>
void fitRunning(X xAt, const double* y, unsigned n, double* intercept, double* slope) {
    double mx = 0, my = 0;
    for (unsigned i = 0; i < n; ++i) {
        mx += (xAt(i) - mx) / (i + 1);
        my += (y[i] - my) / (i + 1);
    }
    double var = 0, cov = 0;
    for (unsigned i = 0; i < n; ++i) {
        const double dx = xAt(i) - mx;
        var += (dx * dx - var) / (i + 1);
        cov += (dx * (y[i] - my) - cov) / (i + 1);
    }
    const double b = n ? cov / var : 0.0 / 0.0;
    if (slope)
        *slope = b;
    if (intercept)
        *intercept = n ? my - mx * b : 0.0 / 0.0;
}

}  // namespace

void TolmarCntrl::fitLinear(const double* x, const double* y, unsigned n, double* intercept,
                            double* slope) {
    fitRunning([x](unsigned i) { return x[i]; }, y, n, intercept, slope);
}

void TolmarCntrl::fitLinear(double x0, double dx, double* y, unsigned n, double* intercept,
                            double* slope) {
    fitRunning([x0, dx](unsigned i) { return x0 + i * dx; }, y, n, intercept, slope);
}

void TolmarCntrl::findLinearRange(double* y, int& n, int& start) {
    start = 0;
    if (!y || n < 9)
        return;
    const double mid = (y[0] + y[n - 1]) / 2;
    int i = 1;
    for (; i <= n - 2; ++i) {
        if ((y[i - 1] < mid && mid < y[i + 1]) || (y[i - 1] > mid && mid > y[i + 1]))
            break;
    }
    if (i < 5 || i >= n - 5)
        return;
    double a = 0, b = 0;
    fitLinear(i - 5, 1, y + i - 5, 10, &a, &b);
    auto residual2 = [&](int j) {
        const double r = y[j] - (b * j + a);
        return r * r;
    };
    double e = 0;
    for (int j = i - 5; j < i + 5; ++j) e = std::max(e, residual2(j));
    auto fits = [&](int j) { return std::fabs(e - residual2(j)) / e <= 1000; };
    int end = i + 5;
    while (end < n && fits(end)) ++end;
    int lower = 0;
    for (int k = i - 6; k >= 0; --k) {
        if (!fits(k)) {
            if (k < n - 1) {
                lower = k;
                start = k;
            }
            break;
        }
    }
    const int length = end - lower + 1;
    if (length < 11 || lower + length > n) {
        start = 0;
        return;
    }
    n = length;
}

int TolmarCntrl::calibrate() {
    return 0;
}

int TolmarCntrl::getCalibrationProgress() const {
    return calibrationProgress;
}
