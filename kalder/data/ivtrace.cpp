#include "ivtrace.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <vector>

#include "linearfit.h"
#include "traceaverager.h"

namespace {

std::atomic<int> processDerivativeMethod{1};

constexpr double kNoMinimum = 1e35;
constexpr double kNoMaximum = -1e35;

// Voltage rows must rise along the sweep; a sample below its predecessor is a glitch of the
// read-back and is replaced from its neighbours, first walking forwards, then once more from
// the start for glitches that only show against the following point.
void smoothVoltageRow(double* v, int n) {
    for (int u = 1; u < n; ++u) {
        if (v[u] < v[u - 1]) {
            v[u] = (u == n - 1) ? v[u] + std::fabs(v[u - 1] - v[u - 2]) : (v[u - 1] + v[u + 1]) / 2;
        }
    }
    for (int u = 0; u < n - 1; ++u) {
        if (v[u + 1] < v[u]) {
            v[u] = (u == 0) ? v[0] + std::fabs(v[1] - v[2]) : (v[u + 1] + v[u - 1]) / 2;
        }
    }
}

}  // namespace

int voltageRowsFor(int totalRows) {
    switch (totalRows) {
        case 2:
            return 1;
        case 4:
        case 16:
        case 20:
            return 3;
        default:
            return 4;
    }
}

ivTrace::ivTrace(int points, int rows, bool collectorDiscriminator, bool unfilteredEnergy, int)
    : derivative(derivatives::routineFor(processDerivativeMethod)),
      useCollectorDiscriminator(collectorDiscriminator),
      useUnfilteredEnergy(unfilteredEnergy) {
    // Without rows there is nothing to hold: no arrays, whatever the point count.
    if (points < 0 || rows <= 0 || rows > MAX_ROWS) {
        points = 0;
        rows = 0;
    }
    reshape(points, rows);
}

ivTrace::ivTrace(const double* block, int points, int rows, int, bool collectorDiscriminator,
                 bool unfilteredEnergy, bool alternate)
    : ivTrace(points, rows, collectorDiscriminator, unfilteredEnergy, 0) {
    alternateRows = alternate;
    const int n = static_cast<int>(nPoints);
    const int r = static_cast<int>(nRows);
    if (n == 0 || block == nullptr) {
        return;
    }
    for (int row = 0; row < r; ++row) {
        // A 2-row block arrives voltage first; the trace keeps currents first.
        const int source = (r == 2) ? 1 - row : row;
        const double* in = block + static_cast<long>(source) * n;
        double* out = currents[row].data();
        for (int j = 0; j < n; ++j) {
            out[j] = std::isnan(in[j]) ? 0.0 : in[j];
        }
    }
    if (n >= 4 && r >= 4) {
        for (int row = r - std::min<int>(4, nVoltageRows); row < r; ++row) {
            smoothVoltageRow(currents[row].data(), n);
        }
    }
    rebuildCurves();
}

void ivTrace::reshape(int points, int rows) {
    nPoints = static_cast<unsigned>(points);
    nRows = static_cast<unsigned>(rows);
    nVoltageRows = static_cast<unsigned>(voltageRowsFor(rows));
    voltageRowIndex = rows > 0 ? nRows - 1 : 0;
    allocated = points > 0;
    // A new vector of `points` values is zero already; filling it again would write every
    // value twice.
    const auto zeros = [points](QVector<double>& row) {
        if (row.size() == points) {
            row.fill(0.0);
        } else {
            row = QVector<double>(points);
        }
    };
    for (int r = 0; r < MAX_ROWS; ++r) {
        if (allocated && r < rows) {
            zeros(currents[r]);
            // dI/dE already made keeps its storage (views stay valid) and is refreshed below.
            if (!dIdE[r].isEmpty()) {
                zeros(dIdE[r]);
            }
        } else {
            currents[r].clear();
            dIdE[r].clear();
        }
    }
    derivativesCurrent = false;
    if (allocated) {
        zeros(energy);
    } else {
        energy.clear();
    }
    fluxValues.fill(0.0);
}

int ivTrace::derivativeMethod() {
    return processDerivativeMethod;
}

void ivTrace::selectDerivativeMethod(int method) {
    processDerivativeMethod = method;
}

void ivTrace::setDerivativeMethod(int method, int voltageRow) {
    processDerivativeMethod = method;
    derivative = derivatives::routineFor(method);
    derivativeVoltageRow = voltageRow;
    derivativesChanged();
}

void ivTrace::derivativesChanged() {
    derivativesCurrent = false;
    if (allocated && nRows > 0 && !dIdE[0].isEmpty()) {
        ensureDerivatives();
    }
}

void ivTrace::computeDerivatives(std::vector<double>& rows) const {
    const int n = static_cast<int>(nPoints);
    const int r = static_cast<int>(nRows);
    rows.assign(static_cast<size_t>(r) * n, 0.0);
    if (!allocated || r == 0) {
        return;
    }
    // The routine sees the current and voltage rows with the energy axis in place of the swept
    // voltage, so the curves are dI/dE rather than dI/dV. Rows it does not produce stay 0.
    const int outRows = derivatives::outputRows(r);
    // Scratch array of the calling thread, reused so that a trace costs no allocation here.
    thread_local std::vector<double> in;
    in.resize(static_cast<size_t>(r) * n);
    for (int row = 0; row < r - 1; ++row) {
        std::copy(currents[row].cbegin(), currents[row].cend(), in.begin() + long(row) * n);
    }
    std::copy(energy.cbegin(), energy.cend(), in.begin() + long(r - 1) * n);
    if (outRows > 0) {
        derivative(in.data(), rows.data(), n, r, 1, derivativeVoltageRow);
    }
}

void ivTrace::ensureDerivatives() const {
    if (derivativesCurrent) {
        return;
    }
    derivativesCurrent = true;
    const int n = static_cast<int>(nPoints);
    const int r = static_cast<int>(nRows);
    if (!allocated || r == 0) {
        return;
    }
    thread_local std::vector<double> out;
    computeDerivatives(out);
    for (int row = 0; row < r; ++row) {
        if (dIdE[row].size() != n) {
            dIdE[row] = QVector<double>(n);
        }
        std::copy(out.cbegin() + long(row) * n, out.cbegin() + long(row + 1) * n, dIdE[row].data());
    }
}

const QVector<double>& ivTrace::dIdERow(int row) const {
    static const QVector<double> none;
    if (row < 0 || row >= MAX_ROWS) {
        return none;
    }
    ensureDerivatives();
    return dIdE[row];
}

void ivTrace::rebuildCurves() {
    buildEnergyAxis();
    derivative = derivatives::routineFor(processDerivativeMethod);
    derivativesChanged();
}

void ivTrace::buildEnergyAxis() {
    const int n = static_cast<int>(nPoints);
    const int r = static_cast<int>(nRows);
    if (!allocated || r == 0) {
        return;
    }
    if (r == 2) {
        energy = currents[1];
        return;
    }
    const double* minuend = currents[r - 1].constData();
    const double* subtrahend = nullptr;
    if (useCollectorDiscriminator && r >= 4) {
        minuend = currents[r - 4].constData();
        subtrahend = currents[r - 2].constData();
    } else if (alternateRows && r >= 3) {
        minuend = currents[r - 3].constData();
        subtrahend = currents[r - 2].constData();
    }
    double* e = energy.data();
    for (int i = 0; i < n; ++i) {
        e[i] = subtrahend ? minuend[i] - subtrahend[i] : minuend[i];
    }
    if (useUnfilteredEnergy) {
        return;
    }
    LinearFit fit;
    for (int i = 0; i < n; ++i) {
        fit.add(i, e[i]);
    }
    const double slope = fit.slope();
    const double intercept = fit.intercept();
    for (int i = 0; i < n; ++i) {
        e[i] = i * slope + intercept;
    }
}

bool ivTrace::setCrop(unsigned start, unsigned end) {
    if (static_cast<unsigned long long>(start) + end > nPoints) {
        return false;
    }
    cropStart = start;
    cropEnd = end;
    return true;
}

int ivTrace::croppedLength() const {
    return static_cast<int>(nPoints) - static_cast<int>(cropStart + cropEnd);
}

int ivTrace::derivativeLength() const {
    return croppedLength() - 6;
}

int ivTrace::currentRows() const {
    return std::max(0, int(nRows) - int(nVoltageRows));
}

const double* ivTrace::rowAt(const QVector<double>& row, long offset) const {
    if (row.isEmpty()) {
        return nullptr;
    }
    return row.constData() + std::min<long>(offset, row.size());
}

const double* ivTrace::energyView() const {
    return rowAt(energy, cropStart);
}

const double* ivTrace::currentView(int row) const {
    return (row >= 0 && row < MAX_ROWS) ? rowAt(currents[row], cropStart) : nullptr;
}

const double* ivTrace::dIdEView(int row) const {
    return (row >= 0 && row < MAX_ROWS) ? rowAt(dIdERow(row), long(cropStart) + 3) : nullptr;
}

const double* ivTrace::sweptVoltageView() const {
    return nRows > 0 ? rowAt(currents[nRows - 1], long(cropStart) + 3) : nullptr;
}

const double* ivTrace::electrodeVoltageView() const {
    return nRows > 1 ? rowAt(currents[nRows - 2], cropStart) : nullptr;
}

namespace {

// Smallest and largest of n values, widened into lo and hi. Four independent lanes keep the
// comparisons from waiting on each other; min and max ignore NaN values and do not depend on
// the order, so the result is the same as a plain walk.
void widenRange(const double* v, int n, double& lo, double& hi) {
    double l[4] = {lo, lo, lo, lo};
    double h[4] = {hi, hi, hi, hi};
    int j = 0;
    for (; j + 4 <= n; j += 4) {
        for (int k = 0; k < 4; ++k) {
            l[k] = std::min(l[k], v[j + k]);
            h[k] = std::max(h[k], v[j + k]);
        }
    }
    for (; j < n; ++j) {
        l[0] = std::min(l[0], v[j]);
        h[0] = std::max(h[0], v[j]);
    }
    lo = std::min(std::min(l[0], l[1]), std::min(l[2], l[3]));
    hi = std::max(std::max(h[0], h[1]), std::max(h[2], h[3]));
}

}  // namespace

std::pair<double, double> ivTrace::currentRange(bool cropped) const {
    double lo = kNoMinimum;
    double hi = kNoMaximum;
    const int from = cropped ? static_cast<int>(cropStart) : 0;
    const int to = static_cast<int>(nPoints) - (cropped ? static_cast<int>(cropEnd) : 0);
    for (int r = 0; allocated && r < currentRows() && to > from; ++r) {
        widenRange(currents[r].constData() + from, to - from, lo, hi);
    }
    return {lo, hi};
}

double ivTrace::minCurrent(bool cropped) const {
    return currentRange(cropped).first;
}

double ivTrace::maxCurrent(bool cropped) const {
    return currentRange(cropped).second;
}

std::pair<double, double> ivTrace::energyRange() const {
    double lo = kNoMinimum;
    double hi = kNoMaximum;
    const int from = static_cast<int>(cropStart);
    const int to = static_cast<int>(nPoints) - static_cast<int>(cropEnd);
    if (allocated && to > from) {
        widenRange(energy.constData() + from, to - from, lo, hi);
    }
    return {lo, hi};
}

double ivTrace::minEnergy() const {
    return energyRange().first;
}

double ivTrace::maxEnergy() const {
    return energyRange().second;
}

double ivTrace::ionFlux(int channel) const {
    return (channel >= 0 && channel < MAX_ROWS) ? fluxValues[channel] : 0.0;
}

void ivTrace::computeIonFlux(const FluxFactors& factors) {
    fluxValues.fill(0.0);
    const int m = derivativeLength();
    const double* v = sweptVoltageView();
    for (int c = 0; c < static_cast<int>(nRows); ++c) {
        double sum = 0.0;
        if (m > 3 && allocated) {
            const double* d = dIdEView(c);
            for (int i = 1; i < m; ++i) {
                sum += (d[i] + d[i - 1]) * (v[i] - v[i - 1]);
            }
        }
        fluxValues[c] = sum * factors[c] * 0.5;
    }
}

double ivTrace::averageEnergy(int channel) const {
    const int m = derivativeLength();
    if (m < 1 || channel < 0 || channel >= static_cast<int>(nRows) || !allocated) {
        return 0.0;
    }
    const double* d = dIdEView(channel);
    const double* v = sweptVoltageView();
    double weighted = 0.0;
    double total = 0.0;
    for (int i = 0; i < m; ++i) {
        if (!std::isnan(d[i])) {
            weighted += v[i] * d[i];
            total += d[i];
        }
    }
    return total == 0.0 ? 0.0 : weighted / total;
}

double ivTrace::averageElectrodeVoltage() const {
    if (!hasElectrodeVoltage()) {
        return 0.0;
    }
    const int len = std::max(0, croppedLength());
    const double* v = electrodeVoltageView();
    double sum = 0.0;
    for (int i = 0; i < len && v; ++i) {
        sum += v[i];
    }
    return sum / len;
}

void ivTrace::averageTraces(const QList<ivTrace*>& traces) {
    TraceAverager averager;
    averager.rebuild(*this, traces);
}
