#include "acquisition/scancontroller.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cmath>

#include "data/hdf5export.h"
#include "data/tarvodataset.h"
#include "tolmar2/TolmarCntrl.h"

namespace {

// Creates the directory that is to hold path; false with a message when that fails.
bool prepareDirectory(const QString& path, QString* error) {
    const QString dir = QFileInfo(path).absolutePath();
    if (QDir().mkpath(dir)) {
        return true;
    }
    if (error) {
        *error = QStringLiteral("Cannot create the directory \"%1\" for \"%2\".").arg(dir, path);
    }
    return false;
}

}  // namespace

scanController::scanController(tarvoDataSet* dataSet, TolmarCntrl* cntrl, scanSettings* wizard,
                               QObject* parent)
    : QObject(parent),
      dataSet(dataSet),
      cntrl(cntrl),
      wizard(wizard),
      settings(wizard->snapshot()) {
    // The data set asks the settings whether this is a multi-scan run.
    connect(dataSet, &tarvoDataSet::checkMultiScan, wizard, &scanSettings::checkIfMultiScan);
    connect(wizard, &scanSettings::isMultiScan, dataSet,
            qOverload<bool>(&tarvoDataSet::isMultiScan));
}

scanController::~scanController() = default;

QString scanController::typeName() const {
    return QStringLiteral("IV_TimeAveraged");
}

bool scanController::saveDataSet(const QString& path, QString* error) {
    if (!prepareDirectory(path, error)) {
        return false;
    }
    if (dataSet->save(path)) {
        return true;
    }
    if (error) {
        *error = QStringLiteral("Cannot write the data file \"%1\".").arg(path);
    }
    return false;
}

bool scanController::exportDataSet(const QString& path, const exportChoices& choices,
                                   QString* error) {
    if (!prepareDirectory(path, error)) {
        return false;
    }
    if (dataSet->toCSV(path, choices)) {
        return true;
    }
    if (error) {
        *error = QStringLiteral("Cannot write the export file \"%1\".").arg(path);
    }
    return false;
}

bool scanController::exportHdf5(const QString& path, QString* error) {
    QString why;
    if (!prepareDirectory(path, error)) {
        return false;
    }
    if (toHdf5(*dataSet, path, &why)) {
        return true;
    }
    if (error) {
        *error = QStringLiteral("Cannot write the export file \"%1\": %2").arg(path, why);
    }
    return false;
}

void scanController::stopScan() {
    stopRequested = true;
    running = false;
    cntrl->abortAll();
    moreScans = false;
}

int scanController::percentOf(double part, double whole) {
    if (!(whole > 0.0)) {
        return 100;
    }
    const double percent = part / whole * 100.0;
    return percent >= 100.0 ? 100 : static_cast<int>(std::lround(percent));
}

double scanController::electrodeVoltageOf(const double* block, unsigned nPoints, int nRows) {
    const int row = nRows - 2;
    if (nRows < 4 || nPoints == 0) {
        return std::nan("");
    }
    double sum = 0.0;
    for (unsigned i = 0; i < nPoints; ++i) {
        sum += block[static_cast<size_t>(row) * nPoints + i];
    }
    return sum / nPoints;
}

bool scanController::alternateRows() const {
    return cntrl->kalderSensor ? true : cntrl->alternateRows;
}

void scanController::waitForInterval(const pacing::stopwatch& pass) const {
    while (!stopRequested && pass.elapsed() < settings.intervalMs) {
        pacing::pause(100);
    }
}

int scanController::applyChannelEnables(bool all) {
    bool enables[TolmarCntrl::MAX_CHANNELS];
    for (int c = 0; c < TolmarCntrl::MAX_CHANNELS; ++c) {
        enables[c] = all || c >= settings.enabledChannels.size() || settings.enabledChannels[c];
    }
    return cntrl->setEnabledChannels(enables);
}

void scanController::startScan() {
    // stopRequested is not cleared here: a stop that arrives before the thread runs still
    // counts.
    moreScans = !stopRequested;
    pacing::stopwatch run;
    run.start();
    qDebug() << "ENABLED CHANNELS ::" << applyChannelEnables(false);
    emit scanProgress(0);

    const bool alternate = alternateRows();
    int passes = 0;
    bool lost = false;
    while (moreScans) {
        if (!settings.multipleScans) {
            moreScans = false;
        }
        emit scanCounter(++passes);
        pacing::stopwatch pass;
        pass.start();
        const double stamp = static_cast<double>(run.elapsed());

        programBiasSweep(*cntrl, {settings.biasStart, settings.collector, settings.secElSup},
                         {settings.biasEnd, settings.collector, settings.secElSup},
                         settings.biasStep);
        cntrl->setSettlingDelays(10, settings.firstStepDelay, settings.nextStepDelay, 6);
        cntrl->setAverageHW(settings.ivAcc, settings.ivAcc);

        if (!cntrl->startScan()) {
            qDebug() << "FAiled to start scan";
            lost = true;
            break;
        }
        running = !stopRequested;
        int traces = 0;
        double* data = nullptr;
        unsigned nScans = 0, nPoints = 0, acqStart = 0, status = 0;
        int nChannels = 0;
        double timeRes = 0.0;
        while (running && cntrl->getDataFromOneScan(data, nScans, nPoints, nChannels, timeRes,
                                                    acqStart, status, true) == 1) {
            dataSet->addTrace(data, stamp / 1000.0, static_cast<int>(nPoints), nChannels,
                              static_cast<int>(status), 1, alternate);
            if (nPoints != 0) {
                emit evUpdate(electrodeVoltageOf(data, nPoints, nChannels), 0.0, false);
            }
            ++traces;
            if (settings.multipleScans) {
                if (settings.intervalMs != 0.0 && pass.elapsed() >= settings.intervalMs) {
                    running = false;
                }
                emit scanProgress(percentOf(run.elapsed(), settings.scanLengthMs));
            } else if (settings.tracesPerScan != 0) {
                if (traces >= settings.tracesPerScan) {
                    running = false;
                }
                emit scanDuration(run.elapsed() / 1000.0);
                emit scanProgress(percentOf(traces, settings.tracesPerScan));
            }
        }
        running = false;
        if (!cntrl->stopScan()) {
            lost = true;
            break;
        }
        if (stopRequested) {
            break;
        }
        waitForInterval(pass);
        if (settings.multipleScans && run.elapsed() > settings.scanLengthMs) {
            moreScans = false;
        }
    }
    if (lost) {
        emit sensorDisconnected(0);
        return;
    }
    // Leave the instrument with every channel enabled before the owner takes it back.
    applyChannelEnables(true);
    dataSet->announceUpdate(0, 0);
    emit scanEnded();
}
