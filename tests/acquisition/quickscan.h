// The short scan the acquisition tests and tools run on the virtual sensor: a bias sweep of
// 30 steps (0 to 58 V), three traces, little averaging.
#ifndef TESTS_ACQUISITION_QUICKSCAN_H
#define TESTS_ACQUISITION_QUICKSCAN_H

#include "acquisition/scansettings.h"

scanParameters quickScanParameters();

#endif  // TESTS_ACQUISITION_QUICKSCAN_H
