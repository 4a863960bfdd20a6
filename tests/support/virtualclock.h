// The acquisition pacing on a virtual clock for tests: every reading advances it by one
// millisecond and every pause by its length (with a brief real yield, so that polling threads
// do not starve the others). Intervals pass after a known amount of work; nothing waits for
// real seconds.
#ifndef TESTS_SUPPORT_VIRTUALCLOCK_H
#define TESTS_SUPPORT_VIRTUALCLOCK_H

void useVirtualClock();
void releaseVirtualClock();

#endif  // TESTS_SUPPORT_VIRTUALCLOCK_H
