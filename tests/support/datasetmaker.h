// Data sets with known contents for the view tests: every current is a closed-form function
// of channel, trace and step, so a test can check a plotted sample without the data layer.
#ifndef TESTS_UI_DATASETMAKER_H
#define TESTS_UI_DATASETMAKER_H

#include <memory>
#include <vector>

#include "data/tarvodataset.h"

// Current of channel c at step j of sweep t (t counts the sweeps added to the data set).
inline double knownCurrent(int c, int t, int j) {
    return (c + 1) * 1e-9 * (100.0 - j) + t * 1e-12;
}

// A data set of `channels` current channels and 4 voltage rows (channels + 4 must be a row
// count the data layer knows: 1, 7, 9, 13, 17 or 20), `scans` scans of `traces` sweeps of
// `points` steps. The swept voltage rises by 1 V per step.
inline std::unique_ptr<tarvoDataSet> makeDataSet(int channels, int points, int scans = 1,
                                                 int traces = 1) {
    auto set = std::make_unique<tarvoDataSet>(channels, 4, -1);
    const int rows = channels + 4;
    int t = 0;
    for (int s = 0; s < scans; ++s) {
        for (int k = 0; k < traces; ++k, ++t) {
            std::vector<double> block(size_t(rows) * points, 0.0);
            for (int j = 0; j < points; ++j) {
                for (int c = 0; c < channels; ++c) {
                    block[size_t(c) * points + j] = knownCurrent(c, t, j);
                }
                block[size_t(rows - 1) * points + j] = j;
            }
            set->addTrace(block.data(), 10.0 * s, points, rows, 0, 0, false);
        }
    }
    return set;
}

#endif  // TESTS_UI_DATASETMAKER_H
