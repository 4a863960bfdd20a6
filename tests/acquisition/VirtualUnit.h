// A unit of the virtual sensor for the acquisition tests: the library on the virtual link with
// its waits replaced, the acquisition pacing on a virtual clock, and a runner that drives one
// scan controller in a thread of its own until it ends, recording its signals.
#ifndef TESTS_ACQUISITION_VIRTUALUNIT_H
#define TESTS_ACQUISITION_VIRTUALUNIT_H

#include <gtest/gtest.h>

#include <QVector>
#include <functional>
#include <memory>

#include "TempDir.h"
#include "acquisition/scansettings.h"
#include "data/tarvodataset.h"
#include "tolmar2/TolmarCntrl.h"

class scanController;

// What a scan run reported.
struct scanRecord {
    bool ended = false;
    int disconnectedCode = 1;  // 1: no disconnection reported
    QVector<int> progress;
    QVector<int> counters;
    QVector<double> aspectRatios;
    QVector<double> electrodeVoltages;
    QVector<double> durations;
    int estimates = 0;
    bool disconnected() const { return disconnectedCode != 1; }
};

class VirtualUnit : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Loads the profile and connects a new controller object to it.
    void connectUnit(const char* profile);

    // Settings of a short scan on this unit: a bias sweep of a few steps, little averaging.
    fixedScanSettings* quickSettings();

    // Programs the scan as the panel does (prepareScan), runs its controller in a new thread
    // until it reports its end or a lost sensor, and returns what it reported. `onSignal` runs
    // in the test thread after each recorded signal, with the controller and the record so far
    // (to stop the scan or pull the cable at a chosen moment).
    scanRecord runScan(scanSettings* settings,
                       std::function<void(scanController&, const scanRecord&)> onSignal = {});

    std::unique_ptr<TempDir> dir;
    std::unique_ptr<TolmarCntrl> cntrl;
    std::unique_ptr<tarvoDataSet> dataSet;
    std::unique_ptr<fixedScanSettings> settings;
    QString typeName;
};

#endif  // TESTS_ACQUISITION_VIRTUALUNIT_H
