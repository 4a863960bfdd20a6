// A run that never ends, for the recovery tests: a time-averaged scan of repeated passes on the
// virtual sensor, checkpointed after every pass into the directory given as the argument.
// Prints "saving N" before and "saved N" after the checkpoint of pass N, so that the test can
// kill it at a chosen moment.
#include <QCoreApplication>
#include <QDir>
#include <QThread>
#include <cmath>
#include <cstdio>
#include <memory>

#include "acquisition/runcheckpoint.h"
#include "acquisition/scancontroller.h"
#include "acquisition/scanlauncher.h"
#include "acquisition/scansettings.h"
#include "data/tarvodataset.h"
#include "quickscan.h"
#include "tolmar2/TolmarCntrl.h"
#include "virtualclock.h"
#include "virtuallink.h"
#include "vsensor/VirtualSensor.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2 || !QDir::setCurrent(QString::fromLocal8Bit(argv[1]))) {
        return 2;
    }
    if (!useVirtualLink(FIRMWARE_SOURCE_DIR)) {
        return 3;
    }
    useVirtualClock();
    vsensor::loadProfile("single");
    TolmarCntrl cntrl;
    if (cntrl.connectTo(false) != 1) {
        return 4;
    }
    scanParameters p = quickScanParameters();
    p.multipleScans = true;
    p.intervalMs = 20.0;
    p.scanLengthMs = 1e15;
    fixedScanSettings settings(p);
    const scanLaunch launch = prepareScan(&cntrl, &settings, std::nan(""));
    if (launch.outcome != scanLaunch::Ready) {
        return 5;
    }
    writeScanMetadata(launch.dataSet, &cntrl);
    std::unique_ptr<tarvoDataSet> dataSet(launch.dataSet);
    scanController* controller = launch.controller;
    runCheckpoint checkpoint(dataSet.get(), QDir::currentPath(), controller->typeName());

    QObject::connect(controller, &scanController::scanCounter, &app, [&](int pass) {
        if (pass > 1) {
            std::printf("saving %d\n", pass - 1);
            std::fflush(stdout);
            checkpoint.passCompleted();
            std::printf("saved %d\n", pass - 1);
            std::fflush(stdout);
        }
    });
    QThread thread;
    controller->moveToThread(&thread);
    QObject::connect(&thread, &QThread::started, controller, &scanController::startScan);
    thread.start();
    return app.exec();  // until killed
}
