#include "acquisition/kalderscancontroller.h"

#include <QDebug>
#include <algorithm>
#include <cmath>

#include "data/ivtrace.h"
#include "data/tarvodataset.h"
#include "tolmar2/TolmarCntrl.h"

QString kalderScanController::typeName() const {
    return QStringLiteral("Kalder");
}

int kalderScanController::sweep(const electrodeVoltages& start, const electrodeVoltages& end,
                                double step, double*& data, unsigned& nPoints, int& nChannels) {
    programBiasSweep(*cntrl, start, end, step);
    if (!cntrl->startScan()) {
        return -1;
    }
    unsigned nScans = 0, acqStart = 0, status = 0;
    double timeRes = 0.0;
    const bool read = cntrl->getDataFromOneScan(data, nScans, nPoints, nChannels, timeRes, acqStart,
                                                status, true) == 1;
    if (!cntrl->stopScan()) {
        return -1;
    }
    return read ? 1 : 0;
}

double kalderScanController::referenceCurrent(int i) const {
    // The first probe's collector current in µA, the row every unit of this family has. Ion
    // current reads negative at the collector, so its size is what scales the third electrode.
    const QVector<double>& row = reference->currents[0];
    if (row.isEmpty()) {
        return 0.0;
    }
    return std::fabs(row[std::min(i, row.size() - 1)]) * 1e6;
}

void kalderScanController::measureRatio(double key, double aspectRatio, bool& lost) {
    emit ARCounter(aspectRatio);
    const double c = settings.collector;
    const int referencePoints = static_cast<int>(reference->nPoints);
    double b = settings.biasStart;
    for (int i = 0; b < settings.biasEnd && !stopRequested; ++i, b += settings.biasStep) {
        const double r = referenceCurrent(i) / (aspectRatio * aspectRatio);
        if (r < MIN_SCALED_CURRENT) {
            qDebug() << "FAiled : " << b;
        } else {
            const double top = std::max(c, b + POINT_SWEEP_WIDTH - r);
            applyIdleVoltages(*cntrl, {b, c, top});
            double* data = nullptr;
            unsigned nPoints = 0;
            int nChannels = 0;
            const int result = sweep({b, c, top}, {b + POINT_SWEEP_WIDTH, c, top},
                                     POINT_SWEEP_WIDTH, data, nPoints, nChannels);
            if (result < 0) {
                lost = true;
                return;
            }
            if (result == 1) {
                dataSet->addAspectRatioTrace(data, key, aspectRatio, b, r,
                                             static_cast<int>(nPoints), nChannels, 0);
            }
        }
        emit scanProgress(percentOf(i, referencePoints));
    }
    dataSet->completeGroup(key, aspectRatio);
}

void kalderScanController::startScan() {
    moreScans = false;
    running = !stopRequested;
    key += 1.0;

    // Reference sweep over the whole bias range.
    double* data = nullptr;
    unsigned nPoints = 0;
    int nChannels = 0;
    if (sweep({settings.biasStart, settings.collector, settings.supGrid},
              {settings.biasEnd, settings.collector, settings.supGrid}, settings.biasStep, data,
              nPoints, nChannels) != 1) {
        emit sensorDisconnected(0);
        return;
    }
    reference = dataSet->addReferenceTrace(data, key, static_cast<int>(nPoints), nChannels, 0, 0);

    cntrl->setSettlingDelays(10, settings.kalderFirstStep, settings.kalderNextStep, 6);
    cntrl->setAverageHW(settings.kalderIvAcc, settings.kalderIvAcc);
    bool lost = false;
    for (double aspectRatio : settings.aspectRatios) {
        measureRatio(key, aspectRatio, lost);
        if (lost) {
            emit sensorDisconnected(0);
            return;
        }
        if (stopRequested) {
            break;
        }
    }
    running = false;
    dataSet->announceUpdate(0, 0);
    emit scanEnded();
}
