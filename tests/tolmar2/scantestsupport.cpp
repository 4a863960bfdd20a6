#include "scantestsupport.h"

#include <sstream>

namespace {

std::vector<unsigned>& recorded() {
    static std::vector<unsigned> waits;
    return waits;
}

void recordSleep(unsigned milliseconds) {
    recorded().push_back(milliseconds);
}

}  // namespace

RecordedSleeps::RecordedSleeps() {
    recorded().clear();
    previous_ = tolmar2::platform::setSleepFunction(&recordSleep);
}

RecordedSleeps::~RecordedSleeps() {
    tolmar2::platform::setSleepFunction(previous_);
}

const std::vector<unsigned>& RecordedSleeps::waits() const {
    return recorded();
}

void RecordedSleeps::clear() {
    recorded().clear();
}

void setRoundCalibration(TolmarCntrl& c, bool vcScannable) {
    for (int k = 0; k < 2; ++k) {
        c.cal_dac[k][0] = 2048;
        c.cal_dac[k][1] = 100;
        c.vRange[k][0] = -10;
        c.vRange[k][1] = 10;
    }
    c.vcScannable = vcScannable;
    if (vcScannable) {
        c.cal_dac[2][0] = 32768;
        c.cal_dac[2][1] = 500;
        c.vRange[2][0] = -60;
        c.vRange[2][1] = 60;
    } else {
        c.cal_dac[2][0] = 12;
        c.cal_dac[2][1] = -131;
        c.cal_dac[3][0] = 9.5;
        c.cal_dac[3][1] = 131;
        c.vRange[2][0] = -500;
        c.vRange[2][1] = 500;
    }
}

std::string logText() {
    return readWholeFile("tarvo.log");
}

bool logged(const std::string& text) {
    return logText().find(text) != std::string::npos;
}

int loggedCount(const std::string& text) {
    std::istringstream lines(logText());
    int count = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.find(text) != std::string::npos)
            ++count;
    }
    return count;
}
