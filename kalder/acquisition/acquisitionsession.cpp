#include "acquisition/acquisitionsession.h"

#include <QDebug>
#include <QThread>

#include "acquisition/electrodevoltagescanner.h"
#include "acquisition/runcheckpoint.h"
#include "acquisition/scancontroller.h"
#include "tolmar2/TolmarCntrl.h"

namespace {
constexpr int DEVICE_RETRY_MS = 50;
constexpr int CHECKPOINT_TICK_MS = 1000;
}  // namespace

acquisitionSession::acquisitionSession(QObject* parent) : QObject(parent) {
    deviceRetry.setInterval(DEVICE_RETRY_MS);
    connect(&deviceRetry, &QTimer::timeout, this, &acquisitionSession::retryDevice);
    connect(&checkpointTimer, &QTimer::timeout, this, [this] {
        if (checkpoint) {
            checkpoint->tick();
        }
    });
}

acquisitionSession::~acquisitionSession() {
    if (controller) {
        abandonRun(1);
    }
    stopMonitor();
    unlockDevice();
}

void acquisitionSession::attach(TolmarCntrl* unit, bool monitored) {
    stopMonitor();
    cntrl = unit;
    if (!monitored) {
        return;
    }
    monitor = new electrodeVoltageScanner(cntrl, &deviceMutex);
    monitorThread = new QThread(this);
    connect(monitor, &electrodeVoltageScanner::sensorDisconnected, this,
            &acquisitionSession::sensorLost);
    connect(monitor, &electrodeVoltageScanner::evRefreshed, this, &acquisitionSession::evRefreshed);
    connect(monitor, &electrodeVoltageScanner::syncFreqRefreshed, this,
            &acquisitionSession::syncFreqRefreshed);
    connect(monitorThread, &QThread::started, monitor, &electrodeVoltageScanner::start);
    connect(monitorThread, &QThread::finished, monitor, &QObject::deleteLater);
    monitor->moveToThread(monitorThread);
    monitorThread->start();
}

void acquisitionSession::stopMonitor() {
    if (!monitor) {
        return;
    }
    // The monitor may be waiting for the device: the session must not hold it here, unless a
    // run does (the monitor then waits on its condition, not on the device).
    monitor->stop();
    monitorThread->quit();
    monitorThread->wait();
    delete monitorThread;
    monitor = nullptr;
    monitorThread = nullptr;
}

bool acquisitionSession::lockDevice() {
    if (holding) {
        return false;
    }
    deviceMutex.lock();
    holding = true;
    return true;
}

bool acquisitionSession::tryLockDevice() {
    if (holding || !deviceMutex.try_lock()) {
        return false;
    }
    holding = true;
    return true;
}

void acquisitionSession::unlockDevice() {
    if (holding) {
        holding = false;
        deviceMutex.unlock();
    }
}

void acquisitionSession::requestDevice() {
    if (tryLockDevice()) {
        emit deviceAvailable();
        return;
    }
    emit waitingForDevice();
    deviceRetry.start();
}

void acquisitionSession::cancelDeviceRequest() {
    deviceRetry.stop();
}

void acquisitionSession::retryDevice() {
    if (tryLockDevice()) {
        deviceRetry.stop();
        emit deviceAvailable();
    }
}

void acquisitionSession::wakeMonitor() {
    if (monitor && !controller) {
        monitor->wake();
    }
}

void acquisitionSession::resetSync() {
    if (monitor) {
        monitor->resetSyncSignal();
    }
}

scanLaunch acquisitionSession::prepareRun(scanSettings* settings, double ev) {
    const scanLaunch launch = prepareScan(cntrl, settings, ev);
    if (launch.outcome != scanLaunch::Ready) {
        unlockDevice();
        return launch;
    }
    controller = launch.controller;
    dataSet = launch.dataSet;
    writeScanMetadata(dataSet, cntrl);
    return launch;
}

void acquisitionSession::launchRun(const runPlan& p) {
    plan = p;
    scanController* c = controller;
    scanThread = new QThread(this);
    // The checkpoint of a pass is written before the pass's start is announced.
    startCheckpoints();
    connect(c, &scanController::scanEnded, this, &acquisitionSession::runFinished);
    connect(c, &scanController::sensorDisconnected, this, &acquisitionSession::sensorLost);
    connect(c, &scanController::scanProgress, this, &acquisitionSession::progress);
    connect(c, &scanController::scanCounter, this, &acquisitionSession::passStarted);
    if (plan.passes > 0) {
        // Told in the controller's thread, before it can finish the pass.
        const int passes = plan.passes;
        connect(
            c, &scanController::scanCounter, c,
            [c, passes](int pass) {
                if (pass >= passes) {
                    c->lastPass();
                }
            },
            Qt::DirectConnection);
    }
    connect(c, &scanController::ARCounter, this, &acquisitionSession::aspectRatio);
    connect(c, &scanController::evUpdate, this, &acquisitionSession::electrodeVoltage);
    connect(c, &scanController::estimatedDelay, this, &acquisitionSession::estimatedDuration);
    connect(c, &scanController::scanDuration, this, &acquisitionSession::elapsed);
    connect(scanThread, &QThread::started, c, &scanController::startScan);
    c->moveToThread(scanThread);
    emit runStarted(dataSet);
    scanThread->start();
}

void acquisitionSession::startCheckpoints() {
    if (plan.recoveryDirectory.isEmpty()) {
        return;
    }
    checkpoint =
        std::make_unique<runCheckpoint>(dataSet, plan.recoveryDirectory, controller->typeName());
    // Pass n starting means pass n - 1 is complete.
    connect(controller, &scanController::scanCounter, this, [this](int pass) {
        if (checkpoint && pass > 1) {
            checkpoint->passCompleted();
        }
    });
    connect(controller, &scanController::scanProgress, this, [this] {
        if (checkpoint) {
            checkpoint->tick();
        }
    });
    checkpointTimer.start(CHECKPOINT_TICK_MS);
}

void acquisitionSession::joinController() {
    // The controller's last act is its final signal; its thread ends right after.
    scanThread->quit();
    scanThread->wait();
    checkpointTimer.stop();
}

void acquisitionSession::closeRun(bool dataSafe) {
    if (checkpoint) {
        if (dataSafe) {
            checkpoint->finish();
        } else {
            checkpoint->save();
        }
    }
    checkpoint.reset();
    delete controller;
    delete scanThread;
    controller = nullptr;
    scanThread = nullptr;
    dataSet = nullptr;
}

void acquisitionSession::runFinished() {
    if (!controller) {
        return;  // already abandoned
    }
    joinController();
    closeRun(plan.save ? plan.save(*controller) : true);
    // The idle voltages go out before the device is released, so that the monitor's next
    // reading never overlaps them.
    if (plan.idle) {
        applyIdleVoltages(*cntrl, plan.idle());
    }
    unlockDevice();
    emit runEnded();
}

void acquisitionSession::stopRun() {
    if (controller) {
        controller->stopScan();
    }
}

void acquisitionSession::abandonRun(int code) {
    controller->stopScan();
    joinController();
    // The run did not end: its recovery file, brought up to date, stays unless the data was
    // saved after all.
    closeRun(plan.saveWhenLost && plan.save && plan.save(*controller));
    unlockDevice();
    emit runAbandoned(code);
}

void acquisitionSession::sensorLost(int code) {
    if (!cntrl) {
        return;  // reported twice (monitor and controller)
    }
    qDebug() << "sensor lost, code" << code;
    deviceRetry.stop();
    if (controller) {
        abandonRun(code);
    }
    stopMonitor();
    unlockDevice();
    cntrl = nullptr;
    emit disconnected(code);
}
