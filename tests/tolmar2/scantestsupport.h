// Shared pieces of the scan set-up tests: recorded waits instead of sleeping, a calibration with
// round numbers, and the message log of the test's working directory.
#ifndef TESTS_TOLMAR2_SCANTESTSUPPORT_H
#define TESTS_TOLMAR2_SCANTESTSUPPORT_H

#include <string>
#include <vector>

#include "Platform.h"
#include "tempdir.h"
#include "tolmar2/TolmarCntrl.h"

// Replaces the library's sleep for its lifetime and records every wait asked for.
class RecordedSleeps {
public:
    RecordedSleeps();
    ~RecordedSleeps();
    RecordedSleeps(const RecordedSleeps&) = delete;
    RecordedSleeps& operator=(const RecordedSleeps&) = delete;

    const std::vector<unsigned>& waits() const;
    void clear();

private:
    tolmar2::platform::SleepFunction previous_;
};

// A calibration whose codes can be worked out by hand:
//   outputs A and B: code = 100 * volts + 2048, range -10..10 V;
//   output C, scanned (vcScannable): code = 500 * volts + 32768, range -60..60 V;
//   output C, fixed supply: negative side code = -131 * volts + 12, positive side
//   code = 131 * volts + 9.5, range -500..500 V.
void setRoundCalibration(TolmarCntrl& c, bool vcScannable);

// The message log the library writes in the working directory.
std::string logText();
bool logged(const std::string& text);
// Number of lines of the log that contain text.
int loggedCount(const std::string& text);

#endif  // TESTS_TOLMAR2_SCANTESTSUPPORT_H
