#include "SyncInput.h"

#include <cmath>

#include "vsensor/VirtualSensor.h"

namespace vsensor::detail {
namespace {

// The detector settles over this many read-backs after it started: a host polling for the
// lock sees it after one wait, and the emulation stays deterministic.
constexpr int kSettlingReadBacks = 2;

}  // namespace

void SyncInput::setFrequency(double hz) {
    hz_ = (std::isfinite(hz) && hz > 0) ? hz : 0;
    if (state_ != State::Stopped)
        startSettling();
}

void SyncInput::onBlock(bool initFlag, bool syncMode) {
    if (initFlag || (syncMode && state_ == State::Stopped))
        startSettling();
}

void SyncInput::stop() {
    state_ = State::Stopped;
    readBacks_ = 0;
}

void SyncInput::startSettling() {
    state_ = State::Settling;
    readBacks_ = 0;
}

SyncInput::Status SyncInput::readBack() {
    if (state_ == State::Settling && hz_ > 0) {
        ++readBacks_;
        if (readBacks_ >= kSettlingReadBacks)
            state_ = State::Locked;
    }
    Status s;
    if (state_ != State::Locked)
        return s;
    s.locked = true;
    s.tooLow = hz_ < kSyncMinHz;
    s.tooHigh = hz_ > kSyncMaxHz;
    s.period = periodCounts();
    return s;
}

uint32_t SyncInput::periodCounts() const {
    if (hz_ <= 0)
        return 0;
    const double counts = kSyncClockHz / hz_;
    return counts >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(std::lround(counts));
}

}  // namespace vsensor::detail
