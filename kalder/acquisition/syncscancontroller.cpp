#include "acquisition/syncscancontroller.h"

#include <QDebug>
#include <cmath>

#include "data/tarvodataset.h"
#include "tolmar2/TolmarCntrl.h"

syncScanController::syncScanController(tarvoDataSet* dataSet, TolmarCntrl* cntrl,
                                       scanSettings* wizard, QObject* parent)
    : scanController(dataSet, cntrl, wizard, parent),
      trStart(settings.trStart),
      trEnd(settings.trEnd),
      trRes(settings.trRes),
      syncDelay(settings.syncDelay) {}

QString syncScanController::typeName() const {
    return QStringLiteral("Time Resolved IV scan");
}

void syncScanController::startScan() {
    double resolution = trRes;
    unsigned start = trStart;
    unsigned end = static_cast<unsigned>(std::lround(trEnd + trRes));
    unsigned delay = syncDelay;
    if (!cntrl->setSyncScanParameters(resolution, start, end, delay, true)) {
        qDebug() << "FAiled to set Sync parameters";
        emit sensorDisconnected(0);
        return;
    }
    cntrl->setAverage(settings.ivAcc);
    cntrl->estimateScanResources();
    if (!cntrl->startScan()) {
        emit sensorDisconnected(0);
        return;
    }

    running = !stopRequested;
    bool readError = false;
    int traces = 0;
    double* data = nullptr;
    unsigned nScans = 0, nPoints = 0, acqStart = 0, status = 0;
    int nChannels = 0;
    double timeRes = 0.0;
    while (running) {
        emit estimatedDelay(cntrl->ScanLimits.scanDuration);
        if (cntrl->getDataFromOneScan(data, nScans, nPoints, nChannels, timeRes, acqStart, status,
                                      true) != 1) {
            readError = true;
            break;
        }
        // The last slice lies beyond the end of the window and is not kept.
        const size_t slice = static_cast<size_t>(nPoints) * static_cast<size_t>(nChannels);
        for (unsigned i = 0; i + 1 < nScans; ++i) {
            dataSet->addTrace(data + i * slice, trStart + i * trRes, static_cast<int>(nPoints),
                              nChannels, static_cast<int>(status), 0, false);
        }
        dataSet->announceNewScan();
        ++traces;
        if (nPoints != 0) {
            emit evUpdate(electrodeVoltageOf(data, nPoints, nChannels), 0.0, true);
        }
        if (settings.tracesPerScan != 0) {
            emit scanProgress(percentOf(traces, settings.tracesPerScan));
            if (traces >= settings.tracesPerScan) {
                running = false;
            }
        }
    }
    running = false;
    if (!cntrl->stopScan()) {
        emit sensorDisconnected(0);
        return;
    }
    cntrl->setScanType(false, false, false);
    if (!readError) {
        dataSet->announceNewScan();
        dataSet->announceUpdate(0, 0);
    }
    cntrl->setAverage(1);
    emit scanEnded();
}
