// A unit of the virtual sensor, connected, on which the tests run the program's own scan
// controllers in the test's thread, on a virtual clock.
#ifndef TESTS_PLOTS_VIRTUALRUN_H
#define TESTS_PLOTS_VIRTUALRUN_H

#include <memory>

#include "acquisition/scansettings.h"
#include "tempdir.h"
#include "tolmar2/TolmarCntrl.h"

class tarvoDataSet;

class virtualUnit {
public:
    // Loads the profile and connects; connected() says whether that worked.
    explicit virtualUnit(const char* profile);
    ~virtualUnit();
    virtualUnit(const virtualUnit&) = delete;
    virtualUnit& operator=(const virtualUnit&) = delete;

    bool connected() const { return isConnected; }
    // Runs one scan (or one series of scans) to its end; the data set is the caller's, null
    // when the scan could not be set up.
    tarvoDataSet* run(const scanParameters& parameters);

    // `traces` sweeps of the retarding grid (output C of the 13-sensor units) from -10 to 90 V
    // in 2 V steps, read with the library and filed in a new data set as one scan, as the
    // program files a time-averaged scan.
    tarvoDataSet* sweepRetardingGrid(int traces);

    // Settings that keep a scan short: a coarse sweep and few samples per step.
    static scanParameters quickScan();

private:
    TempDir dir{true};
    std::unique_ptr<TolmarCntrl> cntrl;
    bool isConnected = false;
};

#endif  // TESTS_PLOTS_VIRTUALRUN_H
