#include "virtualunit.h"

#include <QEventLoop>
#include <QTimer>
#include <cmath>

#include "acquisition/acquisitionsession.h"
#include "acquisition/scancontroller.h"
#include "quickscan.h"
#include "virtualclock.h"
#include "virtuallink.h"
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
    settings = std::make_unique<fixedScanSettings>(quickScanParameters());
    return settings.get();
}

scanRecord VirtualUnit::runScan(scanSettings* scan) {
    scanRecord record;
    acquisitionSession session;
    session.attach(cntrl.get(), false);
    EXPECT_TRUE(session.lockDevice());
    const scanLaunch launch = session.prepareRun(scan, std::nan(""));
    EXPECT_EQ(launch.outcome, scanLaunch::Ready) << "steps " << launch.steps;
    if (launch.outcome != scanLaunch::Ready) {
        return record;
    }
    dataSet.reset(launch.dataSet);
    typeName = session.runningController()->typeName();
    if (beforeStart) {
        beforeStart(*session.runningController());
    }

    QEventLoop loop;
    QObject::connect(&session, &acquisitionSession::passStarted,
                     [&record](int pass) { record.counters << pass; });
    QObject::connect(&session, &acquisitionSession::runEnded, [&] {
        record.ended = true;
        loop.quit();
    });
    QObject::connect(&session, &acquisitionSession::runAbandoned, [&] {
        record.disconnected = true;
        loop.quit();
    });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        ADD_FAILURE() << "the scan did not end within two minutes";
        record.hung = true;
        session.stopRun();
        vsensor::unplug();
    });
    acquisitionSession::runPlan plan;
    plan.recoveryDirectory = recoveryDirectory;
    plan.passes = passes;
    session.launchRun(plan);
    watchdog.start(120000);
    loop.exec();
    return record;
}
