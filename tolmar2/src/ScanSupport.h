// Pieces shared by the scan run, read-out and conversion operations of TolmarCntrl.
#ifndef TOLMAR2_SCANSUPPORT_H
#define TOLMAR2_SCANSUPPORT_H

#include <cstddef>
#include <cstdint>

#include "tolmar2/TolmarCntrl.h"

namespace tolmar2::scan {

// Seconds on the monotonic clock.
double nowSeconds();

// Voltage the code produces on output k (cal_dac[k]: offset, slope).
double dacVolts(const TolmarCntrl& c, int k, int code);

// Frees scanData and scanSum; their capacity becomes 0.
void freeScanArrays(TolmarCntrl& c);

// Grows scanData and scanSum to hold n doubles each (they never shrink). On failure both are
// freed, the capacity is 0, the failure is logged and false returned.
bool ensureScanArrays(TolmarCntrl& c, size_t n);

// Reads the block back until the sync input is locked or 5 seconds have passed. 1 locked;
// 0 not locked; -1 the read-back failed. Failures are logged.
int waitForSyncLock(TolmarCntrl& c);

// Frequency in Hz of the sync input for getSyncFreq and the short electrode-voltage
// measurement: 384 MHz over the period count read back in sync_frq8, on every firmware (0 for
// no count). The estimate's syncFrequency has its own rule (192 MHz over the count, doubled on
// the newer firmware), and the time grid uses the raw count.
double syncInputHz(uint32_t periodCount);

// Replaces every -32768 by the mean of the nearest valid values on either side (the one there
// is at the ends of the array); a run of them takes the same two neighbours.
void repairSaturated(double* values, size_t n);

// Spreads `frames` frames of K packed channel arrays (length values each) over nAdcChannels
// arrays, enabled channels in order, disabled ones zero. The arrays must hold
// frames * nAdcChannels * length values. K = number of channels the board streams.
void expandChannels(const TolmarCntrl& c, double* data, size_t frames, size_t length, int k);

// Channels the board streams: the enabled ones on boards with channel enables, else all.
int streamedChannels(const TolmarCntrl& c);

}  // namespace tolmar2::scan

#endif  // TOLMAR2_SCANSUPPORT_H
