// The short scan the acquisition tests and tools run on the virtual sensor: a bias sweep of
// 30 steps (0 to 58 V), three traces, little averaging.
#ifndef TESTS_ACQUISITION_QUICKSCAN_H
#define TESTS_ACQUISITION_QUICKSCAN_H

#include "acquisition/scansettings.h"

inline scanParameters quickScanParameters() {
    scanParameters p;
    p.aspectRatioFamily = false;
    p.tracesPerScan = 3;
    p.biasStart = 0.0;
    p.biasEnd = 58.0;
    p.biasStep = 2.0;
    p.collector = p.supGrid = p.secElSup = -50.0;
    p.ivAcc = p.kalderIvAcc = 16;
    p.firstStepDelay = 1000;
    return p;
}

#endif  // TESTS_ACQUISITION_QUICKSCAN_H
