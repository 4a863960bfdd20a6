// The records a data set holds: time-averaged IV scans, aspect-ratio scans and temperature
// records. Each record owns what it points to.
#ifndef KALDER_DATA_TARVOSCANS_H
#define KALDER_DATA_TARVOSCANS_H

#include <QList>
#include <QVector>
#include <memory>

#include "data/ivtrace.h"
#include "data/traceaverager.h"

// One time-averaged IV scan: the sweeps that arrived with one time stamp and their average.
class tarvoScan {
public:
    tarvoScan(QList<ivTrace*>* traces, ivTrace* average, double time);
    ~tarvoScan();
    tarvoScan(const tarvoScan&) = delete;
    tarvoScan& operator=(const tarvoScan&) = delete;

    // Appends a sweep and brings the average up to date (cost independent of the number of
    // sweeps already held, unless the set of rejected sweeps changes). Without
    // `updateAverage` the average is made later by updateAverage(), once for many sweeps.
    void appendTrace(ivTrace* trace, bool updateAverage = true);
    void updateAverage();
    // Recomputes the average from all sweeps (after a crop or derivative method change).
    void reaverage();
    // The sweeps' crop changed: their statistics must be taken again on the next sweep.
    void cropChanged() { averager.invalidate(); }

    void addPrescanTrace(double voltage, const double* currents, unsigned count);
    void analysePrescan();
    double prescanOffset(int channel) const;
    bool prescanAnalysed() const { return prescanDone; }
    int prescanCount() const { return prescanVoltages.size(); }

    QList<ivTrace*>* traces;
    ivTrace* average;
    double time;
    QVector<double> prescanVoltages;
    std::unique_ptr<QVector<double>[]> prescanCurrents;
    QVector<double> prescanOffsets;
    unsigned prescanChannelCount = 0;

private:
    bool prescanDone = false;
    TraceAverager averager;
};

// One measured point of an aspect-ratio group: the 2-point sweeps taken at one voltage.
class arPoint {
public:
    explicit arPoint(double voltage, double secondValue = 0.0, bool altVoltageRow = false);
    ~arPoint();
    arPoint(const arPoint&) = delete;
    arPoint& operator=(const arPoint&) = delete;

    // Mean start voltage and mean slope over the traces for channel ch (cached per channel).
    double meanVoltageFor(int ch);
    double meanSlopeFor(int ch);
    void invalidate() { cacheValid = false; }

    QList<ivTrace*> traces;
    double voltage;
    double secondValue;
    double meanVoltage = 0.0;
    double meanSlope = 0.0;
    bool cacheValid = false;
    int cacheChannel = -1;
    bool altVoltageRow;

private:
    void update(int ch);
};

// All points measured at one aspect ratio.
class arGroup {
public:
    explicit arGroup(double aspectRatio, bool altVoltageRow = false);
    ~arGroup();
    arGroup(const arGroup&) = delete;
    arGroup& operator=(const arGroup&) = delete;

    // The curve (mean voltage, mean slope) of the points for channel ch, cached per channel.
    const QVector<double>& curveX(int ch);
    const QVector<double>& curveY(int ch);
    double ionFlux(int channel);
    double getAverageEnergy(int channel);
    void invalidate() { cacheValid = false; }

    QList<arPoint*> points;
    QVector<double> x;
    QVector<double> y;
    double aspectRatio;
    bool cacheValid = false;
    int cacheChannel = -1;
    bool complete = false;
    bool altVoltageRow;

private:
    void update(int ch);
};

class kalderAspectRatioScan {
public:
    explicit kalderAspectRatioScan(double key = 0.0);
    ~kalderAspectRatioScan();
    kalderAspectRatioScan(const kalderAspectRatioScan&) = delete;
    kalderAspectRatioScan& operator=(const kalderAspectRatioScan&) = delete;

    double key;
    int nChannels = 17;
    bool reserved = false;
    double electrodeVoltage = 0.0;
    ivTrace* reference = nullptr;
    QList<arGroup*> groups;
    bool altVoltageRow = false;
};

class temperatureRecord {
public:
    explicit temperatureRecord(double time = 0.0) : time(time) {}
    void addRow(const QVector<double>& row);
    // Column-wise mean of the rows; as wide as the first row.
    void recomputeAverage();

    QVector<double> average;
    QVector<QVector<double>> rows;
    double time;
};

#endif  // KALDER_DATA_TARVOSCANS_H
