#include "VirtualUnit.h"

#include <QEventLoop>
#include <QThread>
#include <cmath>

#include "VirtualClock.h"
#include "VirtualLink.h"
#include "acquisition/scancontroller.h"
#include "acquisition/scanlauncher.h"
#include "data/tarvodataset.h"
#include "vsensor/VirtualSensor.h"

void VirtualUnit::SetUp() {
    ASSERT_TRUE(useVirtualLink(FIRMWARE_SOURCE_DIR));
    useVirtualClock();
    dir = std::make_unique<TempDir>(true);
}

void VirtualUnit::TearDown() {
    dataSet.reset();
    cntrl.reset();
    settings.reset();
    dir.reset();
    releaseVirtualClock();
    releaseVirtualLink();
}

void VirtualUnit::connectUnit(const char* profile) {
    ASSERT_TRUE(vsensor::loadProfile(profile));
    cntrl = std::make_unique<TolmarCntrl>();
    ASSERT_EQ(cntrl->connectTo(false), 1);
}

fixedScanSettings* VirtualUnit::quickSettings() {
    scanParameters p;
    p.aspectRatioFamily = false;
    p.tracesPerScan = 3;
    p.biasStart = 0.0;
    p.biasEnd = 58.0;
    p.biasStep = 2.0;
    p.collector = -50.0;
    p.supGrid = -50.0;
    p.secElSup = -50.0;
    p.ivAcc = 16;
    p.kalderIvAcc = 16;
    p.firstStepDelay = 1000;
    settings = std::make_unique<fixedScanSettings>(p);
    return settings.get();
}

scanRecord VirtualUnit::runScan(scanSettings* scan,
                                std::function<void(scanController&, const scanRecord&)> onSignal) {
    scanRecord record;
    const scanLaunch launch = prepareScan(cntrl.get(), scan, std::nan(""));
    EXPECT_EQ(launch.outcome, scanLaunch::Ready) << "steps " << launch.steps;
    if (launch.outcome != scanLaunch::Ready) {
        return record;
    }
    writeScanMetadata(launch.dataSet, cntrl.get());
    dataSet.reset(launch.dataSet);
    std::unique_ptr<scanController> controller(launch.controller);
    typeName = controller->typeName();

    QThread thread;
    QEventLoop loop;
    QObject context;  // lives in this thread: every connection below is queued
    auto after = [&] {
        if (onSignal) {
            onSignal(*controller, record);
        }
    };
    scanController* c = controller.get();
    QObject::connect(c, &scanController::scanEnded, &context, [&] {
        record.ended = true;
        loop.quit();
    });
    QObject::connect(c, &scanController::sensorDisconnected, &context, [&](int code) {
        record.disconnectedCode = code;
        loop.quit();
    });
    QObject::connect(c, &scanController::scanProgress, &context, [&](int p) {
        record.progress << p;
        after();
    });
    QObject::connect(c, &scanController::scanCounter, &context, [&](int n) {
        record.counters << n;
        after();
    });
    QObject::connect(c, &scanController::ARCounter, &context, [&](double a) {
        record.aspectRatios << a;
        after();
    });
    QObject::connect(c, &scanController::evUpdate, &context, [&](double ev, double, bool) {
        record.electrodeVoltages << ev;
        after();
    });
    QObject::connect(c, &scanController::scanDuration, &context,
                     [&](double d) { record.durations << d; });
    QObject::connect(c, &scanController::estimatedDelay, &context,
                     [&](double) { ++record.estimates; });
    c->moveToThread(&thread);
    QObject::connect(&thread, &QThread::started, c, &scanController::startScan);
    thread.start();
    loop.exec();
    thread.quit();
    thread.wait();
    return record;
}
