// The board's sync input: an external TTL signal of a set frequency (0: none) and the detector
// that locks onto it, flags a frequency outside what the firmware can follow and measures the
// period. Not thread-safe by itself; the emulation's lock guards it.
#ifndef VSENSOR_SYNCINPUT_H
#define VSENSOR_SYNCINPUT_H

#include <cstdint>

namespace vsensor::detail {

class SyncInput {
public:
    struct Status {
        bool locked = false;
        bool tooHigh = false;
        bool tooLow = false;
        uint32_t period = 0;  // counts per sync period; 0 while not locked
    };

    // A new signal (0 or less: none). The detector loses its lock and settles again if it was
    // running.
    void setFrequency(double hz);
    double frequency() const { return hz_; }

    // A block arrived: the init flag restarts the detector, sync mode starts a stopped one.
    void onBlock(bool initFlag, bool syncMode);
    // What a read-back reports; every read-back counts towards the settling.
    Status readBack();
    // The period the detector counts for the signal in clock counts (0 without one), as a
    // read-back reports it; the same on every firmware.
    uint32_t periodCounts() const;
    // The FPGA was configured again: the detector is stopped.
    void stop();

private:
    enum class State { Stopped, Settling, Locked };
    void startSettling();

    double hz_ = 0;
    State state_ = State::Stopped;
    int readBacks_ = 0;
};

}  // namespace vsensor::detail

#endif  // VSENSOR_SYNCINPUT_H
