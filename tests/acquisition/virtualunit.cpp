#include "virtualunit.h"

#include <QDir>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <cmath>

#include "acquisition/acquisitionsession.h"
#include "acquisition/scancontroller.h"
#include "acquisition/scanlauncher.h"
#include "data/tarvodataset.h"
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
    const scanParameters p = quickScanParameters();
    settings = std::make_unique<fixedScanSettings>(p);
    return settings.get();
}

scanRecord VirtualUnit::runScan(scanSettings* scan,
                                std::function<void(scanController&, const scanRecord&)> onSignal) {
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
    scanController* c = session.runningController();
    typeName = c->typeName();
    if (beforeStart) {
        beforeStart(*c);
    }

    QEventLoop loop;
    auto after = [&] {
        if (onSignal && session.runningController()) {
            onSignal(*session.runningController(), record);
        }
    };
    QObject::connect(&session, &acquisitionSession::runEnded, [&] {
        record.ended = true;
        loop.quit();
    });
    QObject::connect(&session, &acquisitionSession::runAbandoned, [&](int code) {
        record.disconnectedCode = code;
        loop.quit();
    });
    QObject::connect(&session, &acquisitionSession::progress, [&](int p) {
        record.progress << p;
        after();
    });
    QObject::connect(&session, &acquisitionSession::passStarted, [&](int n) {
        record.counters << n;
        after();
    });
    QObject::connect(&session, &acquisitionSession::aspectRatio, [&](double a) {
        record.aspectRatios << a;
        after();
    });
    QObject::connect(&session, &acquisitionSession::electrodeVoltage, [&](double ev, double, bool) {
        record.electrodeVoltages << ev;
        after();
    });
    QObject::connect(&session, &acquisitionSession::elapsed,
                     [&](double d) { record.durations << d; });
    QObject::connect(&session, &acquisitionSession::estimatedDuration,
                     [&](double) { ++record.estimates; });
    // A hung run fails the test; stopping it and pulling the cable then ends it, so that the
    // remaining tests still run.
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        ADD_FAILURE() << "the scan did not end within " << watchdogMs << " ms";
        record.hung = true;
        session.stopRun();
        vsensor::unplug();
    });
    acquisitionSession::runPlan plan;
    plan.recoveryDirectory = recoveryDirectory;
    plan.passes = passes;
    session.launchRun(plan);
    watchdog.start(watchdogMs);
    loop.exec();
    watchdog.stop();
    return record;
}

int threadCount() {
    return static_cast<int>(QDir(QStringLiteral("/proc/self/task"))
                                .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                                .size());
}

bool threadsReturnTo(int count) {
    for (int i = 0; i < 100000; ++i) {
        if (threadCount() <= count) {
            return true;
        }
        QThread::yieldCurrentThread();
    }
    return false;
}
