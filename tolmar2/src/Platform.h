// Waits and elapsed time for the library. All fixed waits (relay settling, I2C writes, supply
// switching, FIFO polling, retries) go through sleepMs so that tests can replace it.
#ifndef TOLMAR2_PLATFORM_H
#define TOLMAR2_PLATFORM_H

#include <cstdint>

namespace tolmar2::platform {

using SleepFunction = void (*)(unsigned milliseconds);

void sleepMs(unsigned milliseconds);
// Milliseconds since an arbitrary fixed point (monotonic).
uint64_t tickCountMs();

// Replaces the sleep used by sleepMs; nullptr restores the real one. Returns the previous.
SleepFunction setSleepFunction(SleepFunction fn);

}  // namespace tolmar2::platform

#endif  // TOLMAR2_PLATFORM_H
