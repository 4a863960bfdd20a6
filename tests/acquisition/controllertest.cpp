// The scan controllers, each in its own thread with a real event loop, on the virtual sensor:
// a disc scan gives back the plasma model's energies and flux profile and names its unit, slices
// of a time-resolved scan, passes of multiple scans ended by their count or a stop, the ratios of
// an aspect-ratio scan. (Faults and a pulled cable: the fault matrix.)
#include <gtest/gtest.h>

#include <QDateTime>
#include <QMap>
#include <algorithm>
#include <cmath>

#include "acquisition/scancontroller.h"
#include "data/recovery.h"
#include "data/tarvodataset.h"
#include "virtualunit.h"
#include "vsensor/VirtualSensor.h"

namespace {

using ControllerTest = VirtualUnit;

// The model's time-averaged distribution of disc sensor k, integrated finely: its mean energy
// and its whole flux.
double modelMeanEnergy(const vsensor::PlasmaModel& model, int k) {
    double weighted = 0.0, total = 0.0;
    for (double e = -20.0; e < 200.0; e += 0.01) {
        const double lost = vsensor::collectorCurrent(model, k, 13, e) -
                            vsensor::collectorCurrent(model, k, 13, e + 0.01);
        weighted += (e + 0.005) * lost;
        total += lost;
    }
    return weighted / total;
}

double modelFlux(const vsensor::PlasmaModel& model, int k) {
    return vsensor::collectorCurrent(model, k, 13, -20.0) -
           vsensor::collectorCurrent(model, k, 13, 200.0);
}

// The board's state after a run: scan stopped, every channel enabled.
void expectInstrumentLeftIdle() {
    const vsensor::BoardState board = vsensor::boardState();
    EXPECT_FALSE(board.registers.run_en);
    EXPECT_EQ(board.registers.channels_disabled, 0u);
}

// Known answer: a time-averaged scan of the 13-sensor disc recovers, per sensor, the model's
// mean ion energy and its radial flux profile. A channel switched off for the scan is on again
// afterwards, and the data set names the unit with its thermistor constants.
TEST_F(ControllerTest, TimeAveragedDiscScanRecoversTheModelAndNamesItsUnit) {
    connectUnit("disc13");
    fixedScanSettings* s = quickSettings();
    s->values().biasEnd = 78.0;
    s->values().biasStep = 1.0;
    s->values().ivAcc = 64;
    s->values().tracesPerScan = 4;
    s->values().enabledChannels[23] = false;
    vsensor::clearBlockWriteLog();

    const scanRecord r = runScan(s);

    ASSERT_TRUE(r.ended);
    ASSERT_EQ(dataSet->scanCount(), 1);
    EXPECT_EQ(dataSet->sweepScans[0]->traces->size(), 4);
    const std::vector<vsensor::BlockWrite> log = vsensor::blockWriteLog();
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const vsensor::BlockWrite& b) {
        return b.registers.run_en && b.registers.channels_disabled == (1u << 23);
    }));
    expectInstrumentLeftIdle();

    // The data set's own results: average energy from its energy axis and dI/dE, ion flux from
    // the integral of dI/dE; the model gives both per sensor.
    const vsensor::PlasmaModel model = vsensor::plasmaModel();
    dataSet->lock();
    const ivTrace& average = *dataSet->currentAverage();
    ASSERT_GT(static_cast<int>(average.nPoints), 70);
    for (int k = 0; k < 13; ++k) {
        const double energy = modelMeanEnergy(model, k);
        EXPECT_NEAR(average.averageEnergy(k), energy, 0.02 * energy) << "sensor " << k;
        const double relativeFlux = modelFlux(model, k) / modelFlux(model, 0);
        EXPECT_GT(average.ionFlux(k), 0.0) << "sensor " << k;
        EXPECT_NEAR(average.ionFlux(k) / average.ionFlux(0), relativeFlux, 0.02 * relativeFlux)
            << "sensor " << k;
    }
    dataSet->unlock();

    // The data set names where its data came from, with the unit's thermistor constants.
    const QVariantMap& m = dataSet->settingsMap;
    const vsensor::UnitProfile& unit = *vsensor::findProfile("disc13");
    EXPECT_EQ(m.value("linkBackend").toString(), "virtual");
    EXPECT_EQ(m.value("sensorSerial").toString(), QString::fromStdString(unit.devName));
    EXPECT_EQ(m.value("calibrationDate").toDateTime().toSecsSinceEpoch(), unit.calTime);
    const char* const columns[] = {"tempBeta", "tempRo", "tempRs", "ionFluxFactor"};
    for (int c = 0; c < 4; ++c) {
        const QVariantList values = m.value(columns[c]).toList();
        ASSERT_EQ(values.size(), 13) << columns[c];
        for (int r = 0; r < 13; ++r) {
            EXPECT_EQ(values[r].toDouble(), unit.tempCoef[r][c]) << columns[c] << " " << r;
        }
    }
}

// Multiple scans repeat at their interval until the session's pass count or a stop (asked for
// from the controller's own thread as a pass begins, so that it does not depend on the pace of
// the threads); the end of the run removes its recovery file.
TEST_F(ControllerTest, MultipleScansEndAfterThePassCountOrAStop) {
    const struct {
        double intervalMs;
        int passes, stopAt;
    } cases[] = {{20.0, 3, 0}, {50.0, 0, 2}};
    connectUnit("single");
    recoveryDirectory = QString::fromStdString(dir->path());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.intervalMs);
        fixedScanSettings* s = quickSettings();
        s->values().multipleScans = true;
        s->values().intervalMs = c.intervalMs;
        s->values().scanLengthMs = 1e9;
        passes = c.passes;
        beforeStart = [&c](scanController& ctl) {
            QObject::connect(
                &ctl, &scanController::scanCounter, &ctl,
                [&](int pass) {
                    if (pass == c.stopAt) {
                        ctl.stopScan();
                    }
                },
                Qt::DirectConnection);
        };

        const scanRecord r = runScan(s);

        ASSERT_TRUE(r.ended);
        const int n = dataSet->scanCount();
        EXPECT_EQ(r.counters.size(), c.stopAt != 0 ? c.stopAt : c.passes);
        if (c.stopAt != 0) {
            EXPECT_LE(n, c.stopAt);
        } else {
            EXPECT_EQ(n, c.passes);
        }
        for (int i = 1; i < n; ++i) {
            EXPECT_GE(dataSet->sweepScans[i]->time - dataSet->sweepScans[i - 1]->time,
                      c.intervalMs / 1000.0)
                << i;
        }
        expectInstrumentLeftIdle();
        EXPECT_TRUE(recovery::findUnfinishedRuns({recoveryDirectory}).isEmpty());
    }
}

TEST_F(ControllerTest, TimeResolvedScanStoresEverySliceButTheLast) {
    connectUnit("single");
    fixedScanSettings* s = quickSettings();
    s->values().scanType = TimeResolvedScan;
    s->values().tracesPerScan = 2;
    s->values().trStart = 0;
    s->values().trEnd = 300;
    s->values().trRes = 100.0;

    const scanRecord r = runScan(s);

    ASSERT_TRUE(r.ended);
    EXPECT_EQ(dataSet->timeUnit(), "usec");
    // One scan record per slice delay inside the window, each with one trace per read.
    ASSERT_GE(dataSet->scanCount(), 3);
    for (int i = 0; i < dataSet->scanCount(); ++i) {
        EXPECT_DOUBLE_EQ(dataSet->sweepScans[i]->time, 100.0 * i);
        EXPECT_EQ(dataSet->sweepScans[i]->traces->size(), 2) << i;
    }
    EXPECT_LE(dataSet->sweepScans.last()->time, 300.0);
    EXPECT_FALSE(vsensor::boardState().registers.sync_mode);  // back to a normal scan type
    expectInstrumentLeftIdle();
}

TEST_F(ControllerTest, AspectRatioScanMeasuresEachRatioAboveTheCurrentThreshold) {
    connectUnit("ar");
    fixedScanSettings* s = quickSettings();
    s->values().aspectRatioFamily = true;
    // The size of the centre probe's reference current in microamperes, scaled by 1/A^2, decides
    // which bias voltages are measured: those where it reaches 0.1. At A = 4 it never does.
    const QVector<double> ratios = {1.0, 2.5, 4.0};
    s->values().aspectRatios = ratios;
    const vsensor::PlasmaModel model = vsensor::plasmaModel();
    QMap<double, int> expected;
    for (double a : ratios) {
        for (double b = 0.0; b < 58.0; b += 2.0) {
            const double scaled =
                std::fabs(vsensor::collectorCurrent(model, 0, 13, b)) * 1e6 / (a * a);
            // No voltage lies so close to the threshold that noise could decide it.
            ASSERT_GT(std::abs(scaled - 0.1), 0.005) << a << " " << b;
            expected[a] += scaled >= 0.1 ? 1 : 0;
        }
    }
    ASSERT_EQ(expected[4.0], 0);
    ASSERT_LT(expected[2.5], expected[1.0]);

    const scanRecord r = runScan(s);

    ASSERT_TRUE(r.ended);
    ASSERT_EQ(dataSet->arScans.size(), 1);
    QMap<double, int> points;
    for (const arGroup* g : dataSet->arScans[0]->groups) {
        points[g->aspectRatio] += g->points.size();
    }
    for (double a : ratios) {
        EXPECT_EQ(points.value(a), expected[a]) << a;
    }
    EXPECT_FALSE(vsensor::boardState().registers.run_en);
}

}  // namespace
