#include "tarvoscans.h"

#include <QDebug>
#include <algorithm>
#include <cmath>
#include <limits>

tarvoScan::tarvoScan(QList<ivTrace*>* list, ivTrace* avg, double t)
    : traces(list), average(avg), time(t) {}

tarvoScan::~tarvoScan() {
    qDeleteAll(*traces);
    delete traces;
    delete average;
}

void tarvoScan::appendTrace(ivTrace* trace, bool updateAverage) {
    traces->append(trace);
    averager.append(*average, *traces, updateAverage);
}

void tarvoScan::updateAverage() {
    if (!traces->isEmpty()) {
        averager.update(*average, *traces);
    }
}

void tarvoScan::reaverage() {
    if (traces->isEmpty()) {
        averager.invalidate();
        return;
    }
    averager.rebuild(*average, *traces);
}

void tarvoScan::addPrescanTrace(double voltage, const double* currents, unsigned count) {
    if (!prescanCurrents) {
        prescanChannelCount = count;
        prescanCurrents.reset(new QVector<double>[count]);
    } else if (count != prescanChannelCount) {
        qDebug() << "we're doing something wrong";
    }
    prescanVoltages.append(voltage);
    // Channels the caller did not deliver are marked missing, so every channel keeps one
    // value per step.
    for (unsigned i = 0; i < prescanChannelCount; ++i) {
        prescanCurrents[i].append(i < count ? currents[i]
                                            : std::numeric_limits<double>::quiet_NaN());
    }
}

void tarvoScan::analysePrescan() {
    prescanOffsets.fill(0.0, static_cast<int>(prescanChannelCount));
    for (unsigned c = 0; c < prescanChannelCount; ++c) {
        const QVector<double>& current = prescanCurrents[c];
        for (int k = 0; k < current.size() && k < prescanVoltages.size(); ++k) {
            if (current[k] >= 0.0) {
                const double previous = k > 0 ? prescanVoltages[k - 1] : 0.0;
                const double offset = prescanVoltages[k] - (prescanVoltages[k] - previous) * 0.5;
                prescanOffsets[c] = std::isnan(offset) ? 0.0 : offset;
                break;
            }
        }
    }
    prescanDone = true;
}

double tarvoScan::prescanOffset(int channel) const {
    return (channel >= 0 && channel < prescanOffsets.size()) ? prescanOffsets[channel] : 0.0;
}

arPoint::arPoint(double v, double second, bool alt)
    : voltage(v), secondValue(second), altVoltageRow(alt) {}

arPoint::~arPoint() {
    qDeleteAll(traces);
}

void arPoint::update(int ch) {
    if (cacheValid && cacheChannel == ch) {
        return;
    }
    double voltageSum = 0.0;
    double slopeSum = 0.0;
    int count = 0;
    for (const ivTrace* t : traces) {
        const int row = static_cast<int>(t->nRows) - (altVoltageRow ? 3 : 1);
        if (row < 0 || ch < 0 || ch >= static_cast<int>(t->nRows) || t->croppedLength() < 2) {
            continue;
        }
        const double* v = t->currentView(row);
        const double* i = t->currentView(ch);
        voltageSum += v[0];
        slopeSum += (i[1] - i[0]) / (v[1] - v[0]);
        ++count;
    }
    meanVoltage = voltageSum / count;
    meanSlope = slopeSum / count;
    cacheChannel = ch;
    cacheValid = true;
}

double arPoint::meanVoltageFor(int ch) {
    update(ch);
    return meanVoltage;
}

double arPoint::meanSlopeFor(int ch) {
    update(ch);
    return meanSlope;
}

arGroup::arGroup(double ratio, bool alt) : aspectRatio(ratio), altVoltageRow(alt) {}

arGroup::~arGroup() {
    qDeleteAll(points);
}

void arGroup::update(int ch) {
    if (cacheValid && cacheChannel == ch) {
        return;
    }
    x.clear();
    y.clear();
    for (arPoint* p : points) {
        x.append(p->meanVoltageFor(ch));
        y.append(p->meanSlopeFor(ch));
    }
    cacheChannel = ch;
    cacheValid = true;
}

const QVector<double>& arGroup::curveX(int ch) {
    update(ch);
    return x;
}

const QVector<double>& arGroup::curveY(int ch) {
    update(ch);
    return y;
}

double arGroup::ionFlux(int channel) {
    update(channel);
    double sum = 0.0;
    for (int i = 1; i < y.size(); ++i) {
        sum += (y[i] + y[i - 1]) * (x[i] - x[i - 1]);
    }
    return 430000.0 * sum;
}

double arGroup::getAverageEnergy(int channel) {
    update(channel);
    qDebug("Display value count : %d", y.size());
    double weighted = 0.0;
    double total = 0.0;
    for (int i = 1; i < y.size(); ++i) {
        const double w = (y[i] + y[i - 1]) * 0.5 * (x[i] - x[i - 1]);
        weighted += x[i] * w;
        total += w;
    }
    return total == 0.0 ? 0.0 : weighted / total;
}

kalderAspectRatioScan::kalderAspectRatioScan(double k) : key(k) {}

kalderAspectRatioScan::~kalderAspectRatioScan() {
    qDeleteAll(groups);
    delete reference;
}

void temperatureRecord::addRow(const QVector<double>& row) {
    rows.append(row);
    recomputeAverage();
}

void temperatureRecord::recomputeAverage() {
    average.clear();
    if (rows.isEmpty()) {
        return;
    }
    average.fill(0.0, rows.first().size());
    for (const QVector<double>& row : rows) {
        const int width = std::min(row.size(), average.size());
        for (int c = 0; c < width; ++c) {
            average[c] += row[c];
        }
    }
    for (double& value : average) {
        value /= rows.size();
    }
}
