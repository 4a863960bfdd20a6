#include "acquisition/electrodevoltagescanner.h"

#include <limits>

#include "tolmar2/TolmarCntrl.h"

electrodeVoltageScanner::electrodeVoltageScanner(TolmarCntrl* cntrl, std::mutex* deviceMutex,
                                                 QObject* parent)
    : QObject(parent), cntrl(cntrl), deviceMutex(deviceMutex) {}

void electrodeVoltageScanner::start() {
    // `active` is not set here: a stop() that comes before the thread starts still counts.
    bool querySync = true;
    int status = 0;
    double freq = 0.0;
    std::unique_lock<std::mutex> waitLock(waitMutex);
    while (active) {
        // A wake-up counts even when it arrived while the previous reading was under way.
        waitCondition.wait(waitLock, [this] { return wakeups > 0 || !active; });
        if (!active) {
            break;
        }
        wakeups = 0;
        waitLock.unlock();

        double ev = 0.0, second = 0.0;
        std::unique_lock<std::mutex> device(*deviceMutex);
        const bool ok = cntrl->getElectrodeVoltage(&ev, &second);
        if (cntrl->nAdcChannels == 2) {
            // A two-value unit has no voltage monitors: there is no electrode voltage to show.
            ev = second = std::numeric_limits<double>::quiet_NaN();
        }
        if (querySync) {
            status = cntrl->getSyncFreq(&freq, syncReset);
            device.unlock();
            querySync = status > 0;
            syncReset = status > 0;
        } else {
            // One cycle without a query after a failed one; the next query restarts the
            // measurement.
            device.unlock();
            querySync = true;
            syncReset = true;
        }
        if (ok) {
            emit evRefreshed(ev, second, freq > 0.0);
        }
        if (status == 0) {
            emit sensorDisconnected(0);
            return;
        }
        emit syncFreqRefreshed(freq, status);
        waitLock.lock();
    }
}

void electrodeVoltageScanner::resetSyncSignal() {
    syncReset = true;
}

void electrodeVoltageScanner::wake() {
    {
        std::lock_guard<std::mutex> lock(waitMutex);
        ++wakeups;
    }
    waitCondition.notify_all();
}

void electrodeVoltageScanner::stop() {
    {
        std::lock_guard<std::mutex> lock(waitMutex);
        active = false;
    }
    waitCondition.notify_all();
}
