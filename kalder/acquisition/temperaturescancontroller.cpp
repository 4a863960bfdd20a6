#include "acquisition/temperaturescancontroller.h"

#include <vector>

#include "data/tarvodataset.h"
#include "tolmar2/TolmarCntrl.h"

QString temperatureScanController::typeName() const {
    return QStringLiteral("Temperature");
}

void temperatureScanController::startScan() {
    pacing::stopwatch run;
    run.start();
    cntrl->setTemperatureScan(true);
    moreScans = !stopRequested;

    std::vector<double> buffer(4096);
    int rows = 0;
    while (moreScans) {
        pacing::stopwatch pass;
        pass.start();
        running = !stopRequested;
        cntrl->startScan();  // a failed start shows as a failed first read
        const double stamp = static_cast<double>(run.elapsed());
        unsigned count = 0, status = 0;
        while (running && cntrl->getDataFromOneTempScan(buffer.data(), count, status) == 1) {
            ++rows;
            dataSet->addTemperatureRow(buffer.data(), stamp / 1000.0, static_cast<int>(count),
                                       static_cast<int>(status));
            pacing::pause(200);
            if (settings.multipleScans && settings.intervalMs != 0.0 &&
                pass.elapsed() >= settings.intervalMs) {
                running = false;
            }
            if (settings.tracesPerScan != 0 && rows >= settings.tracesPerScan) {
                running = false;
            }
            if (!settings.multipleScans && settings.tracesPerScan != 0) {
                emit scanProgress(percentOf(rows, settings.tracesPerScan));
            }
        }
        running = false;
        cntrl->stopScan();
        if (!settings.multipleScans || stopRequested) {
            break;
        }
        waitForInterval(pass);
        emit scanDuration(run.elapsed() / 1000.0);
        emit scanProgress(percentOf(run.elapsed(), settings.scanLengthMs));
        if (run.elapsed() > settings.scanLengthMs) {
            emit scanProgress(100);
            break;
        }
    }
    cntrl->setTemperatureScan(false);
    emit scanEnded();
}
