// A unit of the virtual sensor for the acquisition tests: the library on the virtual link with
// its waits replaced, the acquisition pacing on a virtual clock, and a runner that drives one
// scan through an acquisition session (as the program and kalder-cli do) until it ends,
// recording the session's signals.
#ifndef TESTS_ACQUISITION_VIRTUALUNIT_H
#define TESTS_ACQUISITION_VIRTUALUNIT_H

#include <gtest/gtest.h>

#include <QVector>
#include <functional>
#include <memory>

#include "acquisition/scansettings.h"
#include "data/tarvodataset.h"
#include "tempdir.h"
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
    bool hung = false;  // the watchdog ended the run
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

    // Programs the scan in a session, runs it until the session reports its end or a lost
    // sensor, and returns what it reported. `onSignal` runs
    // in the test thread after each recorded signal, with the controller and the record so far
    // (to stop the scan or pull the cable at a chosen moment). A run that has not ended after
    // watchdogMs fails the test; it is then stopped and the cable pulled, so that it ends.
    scanRecord runScan(scanSettings* settings,
                       std::function<void(scanController&, const scanRecord&)> onSignal = {});

    std::unique_ptr<TempDir> dir;
    std::unique_ptr<TolmarCntrl> cntrl;
    std::unique_ptr<tarvoDataSet> dataSet;
    std::unique_ptr<fixedScanSettings> settings;
    QString typeName;
    // Runs after the scan is programmed, right before its thread starts (to connect to the
    // controller directly, in its own thread).
    std::function<void(scanController&)> beforeStart;
    int watchdogMs = 120000;
    // Recovery checkpoints of the run (none when empty) and the passes of multiple scans.
    QString recoveryDirectory;
    int passes = 0;
};

// Threads of this process (from /proc/self/task).
int threadCount();
// Whether the thread count comes back to `count`: a thread that has finished may take a moment
// to leave the process, so this yields up to a generous number of times before it says no.
bool threadsReturnTo(int count);

#endif  // TESTS_ACQUISITION_VIRTUALUNIT_H
