// The monitor and the sensor handler in their threads on the virtual sensor: readings on
// request, the sync query's rhythm after a failure, a lost sensor ending the monitor, and the
// handler refusing an unusable unit (its finding a unit again is in the panel tests).
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QThread>
#include <cmath>
#include <mutex>

#include "acquisition/electrodevoltagescanner.h"
#include "acquisition/sensorhandler.h"
#include "virtualunit.h"
#include "vsensor/VirtualSensor.h"

namespace {

class MonitorTest : public VirtualUnit {
protected:
    struct reading {
        double electrodeVoltage = -1.0;  // -1: none reported
        double freq = 0.0;
        int status = 0;
        bool disconnected = false;
    };

    void TearDown() override {
        if (monitor) {
            monitor->stop();
            thread.quit();
            thread.wait();
        }
        VirtualUnit::TearDown();
    }

    // Connects the unit and starts the monitor in its thread.
    void startMonitor(const char* profile) {
        connectUnit(profile);
        monitor = new electrodeVoltageScanner(cntrl.get(), &deviceMutex);
        monitor->moveToThread(&thread);
        QObject::connect(&thread, &QThread::started, monitor, &electrodeVoltageScanner::start);
        QObject::connect(&thread, &QThread::finished, monitor, &QObject::deleteLater);
        thread.start();
    }

    // Wakes the monitor once and collects what the reading reported.
    reading readOnce() {
        reading r;
        QEventLoop loop;
        QObject context;
        QObject::connect(monitor, &electrodeVoltageScanner::evRefreshed, &context,
                         [&](double ev, double, bool) { r.electrodeVoltage = ev; });
        QObject::connect(monitor, &electrodeVoltageScanner::syncFreqRefreshed, &context,
                         [&](double freq, int status) {
                             r.freq = freq;
                             r.status = status;
                             loop.quit();
                         });
        QObject::connect(monitor, &electrodeVoltageScanner::sensorDisconnected, &context,
                         [&](int code) {
                             r.status = code;
                             r.disconnected = true;
                             loop.quit();
                         });
        monitor->wake();
        loop.exec();
        return r;
    }

    std::mutex deviceMutex;
    QThread thread;
    electrodeVoltageScanner* monitor = nullptr;
};

TEST_F(MonitorTest, ReadsElectrodeVoltageAndLocksOnTheSyncSignal) {
    startMonitor("ar");  // 5 kHz at the sync input, monitors for the electrode voltage
    reading r;
    for (int i = 0; i < 8 && r.status <= 0; ++i) {
        r = readOnce();
        ASSERT_FALSE(r.disconnected);
        EXPECT_NEAR(r.electrodeVoltage, vsensor::plasmaModel().electrodeVoltage, 0.5);
    }
    ASSERT_GT(r.status, 0);
    // The library reads the sync input as 384 MHz over the board's 192 MHz count: 38,400 counts
    // for 5 kHz read as 10 kHz.
    EXPECT_NEAR(r.freq, 10000.0, 10.0);
}

// After a failed sync query the next cycle repeats its status without asking, the one after
// asks afresh.
TEST_F(MonitorTest, AfterAFailedSyncQueryOneCycleRepeatsItsStatus) {
    startMonitor("disc13");  // no sync signal wired
    const reading first = readOnce();
    ASSERT_LT(first.status, 0);
    const reading second = readOnce();
    EXPECT_EQ(second.status, first.status);
    EXPECT_NE(second.electrodeVoltage, -1.0);
    EXPECT_LT(readOnce().status, 0);
}

TEST_F(MonitorTest, LostSensorEndsTheMonitor) {
    startMonitor("single");
    EXPECT_TRUE(std::isnan(readOnce().electrodeVoltage));  // no voltage monitors
    vsensor::unplug();
    const reading lost = readOnce();
    EXPECT_TRUE(lost.disconnected);
    EXPECT_EQ(lost.status, 0);
}

using HandlerTest = VirtualUnit;

TEST_F(HandlerTest, UnusableUnitIsReportedOnEveryAttemptAndNeverConnected) {
    ASSERT_TRUE(vsensor::loadProfile("unusable"));
    cntrl = std::make_unique<TolmarCntrl>();
    int reports = 0;
    bool connectedSignal = false;
    {
        sensorHandler handler(cntrl.get());
        QObject::connect(&handler, &sensorHandler::sensorConnection,
                         [&] { connectedSignal = true; });
        QEventLoop loop;
        QObject::connect(&handler, &sensorHandler::invalidSensor, &loop, [&] {
            if (++reports == 3) {
                loop.quit();
            }
        });
        loop.exec();
        EXPECT_FALSE(handler.isConnected());
    }
    // Reports queued before the loop ended may still arrive in its last pass.
    EXPECT_GE(reports, 3);
    EXPECT_FALSE(connectedSignal);
}

}  // namespace
