// A unit of the virtual sensor on the virtual link and clock, and a runner that drives one scan
// through an acquisition session (as the program and kalder-cli do) until it ends.
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

// What a scan run reported, signal by signal.
struct scanRecord {
    bool ended = false, disconnected = false, hung = false;  // hung: the watchdog ended it
    QVector<int> counters;                                   // the passes begun
};

class VirtualUnit : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Loads the profile and connects a new controller object to it.
    void connectUnit(const char* profile);
    // Settings of a short scan (quickScanParameters()), kept in `settings`.
    fixedScanSettings* quickSettings();

    // Programs the scan in a session and runs it until the session reports its end or a lost
    // sensor. A run that has not ended after two minutes fails the test; it is then stopped and
    // the cable pulled.
    scanRecord runScan(scanSettings* settings);

    std::unique_ptr<TempDir> dir;
    std::unique_ptr<TolmarCntrl> cntrl;
    std::unique_ptr<tarvoDataSet> dataSet;
    std::unique_ptr<fixedScanSettings> settings;
    QString typeName;
    // Runs after the scan is programmed, right before its thread starts (to connect to the
    // controller directly, in its own thread).
    std::function<void(scanController&)> beforeStart;
    // The run's plan: recovery checkpoints (none when empty), passes of multiple scans.
    QString recoveryDirectory;
    int passes = 0;
};

#endif  // TESTS_ACQUISITION_VIRTUALUNIT_H
