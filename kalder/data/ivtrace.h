// One IV sweep with the curves derived from it: energy axis, dI/dE of every row, ion flux.
#ifndef KALDER_DATA_IVTRACE_H
#define KALDER_DATA_IVTRACE_H

#include <QList>
#include <QVector>
#include <array>
#include <utility>
#include <vector>

#include "data/derivatives.h"

// Number of rows a sweep block can have; every per-row array has this many slots.
constexpr int MAX_ROWS = 24;
// Ion-flux factor of a channel without a configured one.
constexpr double DEFAULT_FLUX_FACTOR = 860000.0;

// One factor per row, always covering every possible row.
using FluxFactors = std::array<double, MAX_ROWS>;

// Number of voltage rows in a block of `totalRows` rows (the last rows of the block).
int voltageRowsFor(int totalRows);

class ivTrace {
public:
    // From a live sweep block of nRows rows of nPoints values (row-major). NaN values become
    // 0, the voltage rows are smoothed, and a 2-row block (voltage first) is stored current
    // first. The caller's block is not changed. nRows must lie in 0 .. MAX_ROWS.
    ivTrace(const double* block, int nPoints, int nRows, int, bool useCollectorDiscriminator,
            bool useUnfilteredEnergy, bool alternateRows);
    // An empty trace of nPoints × nRows zeros (used for averages and by the file reader);
    // with nPoints 0 no arrays are made.
    ivTrace(int nPoints, int nRows, bool useCollectorDiscriminator, bool useUnfilteredEnergy, int);
    ivTrace(const ivTrace&) = delete;
    ivTrace& operator=(const ivTrace&) = delete;

    // The process-wide derivative method shared by every trace (initially 1).
    static int derivativeMethod();
    // Sets the process-wide method without recomputing anything.
    static void selectDerivativeMethod(int method);
    // Sets the process-wide method and recomputes this trace's dI/dE.
    void setDerivativeMethod(int method, int voltageRow = -1);
    // Recomputes energy axis and dI/dE from the rows with the process-wide method.
    void rebuildCurves();
    void buildEnergyAxis();

    bool setCrop(unsigned start, unsigned end);
    int croppedLength() const;
    int derivativeLength() const;
    int currentRows() const;

    // Views into the arrays, starting at the crop.
    const double* energyView() const;
    const double* currentView(int row) const;
    const double* dIdEView(int row) const;
    // dI/dE of one whole row (nPoints values; empty for a row the trace does not have).
    //
    // A sweep's dI/dE is made from its rows when first asked for and then kept, so that the
    // sweeps nobody looks at cost no memory for it; once made, it is brought up to date in
    // place (views stay valid) when the rows or the method change. Like every accessor it is
    // called under the data set's lock.
    const QVector<double>& dIdERow(int row) const;
    // dI/dE of every row into `rows` (nRows rows of nPoints values, row after row), without
    // keeping it: for walks over many sweeps.
    void computeDerivatives(std::vector<double>& rows) const;
    const double* sweptVoltageView() const;
    const double* electrodeVoltageView() const;

    double minCurrent(bool cropped) const;
    double maxCurrent(bool cropped) const;
    double minEnergy() const;
    double maxEnergy() const;
    // Both extremes in one pass: (smallest, largest).
    std::pair<double, double> currentRange(bool cropped) const;
    std::pair<double, double> energyRange() const;

    double ionFlux(int channel) const;
    void computeIonFlux(const FluxFactors& factors);
    double averageEnergy(int channel) const;
    // Whether the trace has an electrode-voltage row: a two-row trace (a current and the swept
    // voltage) has none, and averageElectrodeVoltage() is 0 there.
    bool hasElectrodeVoltage() const { return nRows >= 4; }
    double averageElectrodeVoltage() const;

    // Makes this trace the average of `traces` (outlier rejection from ten traces on).
    void averageTraces(const QList<ivTrace*>& traces);

    // Makes this trace nPoints × nRows of zeros (arrays reallocated only when the shape
    // changes).
    void reshape(int points, int rows);

    derivatives::Routine derivative;
    bool allocated = false;
    std::array<QVector<double>, MAX_ROWS> currents;
    QVector<double> energy;
    unsigned nPoints = 0;
    unsigned nRows = 0;
    unsigned voltageRowIndex = 0;
    unsigned nVoltageRows = 0;
    std::array<double, MAX_ROWS> fluxValues{};
    double fluxConstant = 430000.0;
    double reserved = 0.0;
    unsigned cropStart = 0;
    unsigned cropEnd = 0;
    bool useCollectorDiscriminator = false;
    bool useUnfilteredEnergy = false;
    bool alternateRows = false;

private:
    const double* rowAt(const QVector<double>& row, long offset) const;
    // Makes dIdE current: made on first use, refreshed in place after a change.
    void ensureDerivatives() const;
    // After a change of the rows or the method: refreshed now when it was made already.
    void derivativesChanged();

    mutable std::array<QVector<double>, MAX_ROWS> dIdE;
    mutable bool derivativesCurrent = false;
    int derivativeVoltageRow = -1;
};

#endif  // KALDER_DATA_IVTRACE_H
