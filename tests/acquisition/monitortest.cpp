// The monitor in its thread on the virtual sensor: readings on request, a lost sensor ending the
// monitor.
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QThread>
#include <mutex>

#include "acquisition/electrodevoltagescanner.h"
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

// The electrode voltage is the model's, the sync detector locks; a pulled cable ends the monitor.
TEST_F(MonitorTest, ReadsElectrodeVoltageAndSyncUntilTheSensorIsLost) {
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
    vsensor::unplug();
    const reading lost = readOnce();
    EXPECT_TRUE(lost.disconnected);
    EXPECT_EQ(lost.status, 0);
}

}  // namespace
