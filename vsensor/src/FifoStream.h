// The board's FIFO: measured data blocks built from the plasma model while a scan runs, paced
// in time, in packets. Not thread-safe by itself; the emulation's lock guards it.
#ifndef VSENSOR_FIFOSTREAM_H
#define VSENSOR_FIFOSTREAM_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <random>
#include <vector>

#include "FaultSchedule.h"
#include "vsensor/VirtualSensor.h"

namespace vsensor::detail {

using Clock = std::chrono::steady_clock;

// What the board knows when a scan starts.
struct ScanSetup {
    BoardRegisters registers;
    const UnitProfile* profile = nullptr;
    uint32_t syncPeriod = 0;  // sync period as the board counts it; 0: no signal
    double syncHz = 0;        // frequency of the sync signal
    PlasmaModel model;
};

// Channels of a board by its option word.
struct BoardChannels {
    int adc = 2;       // values per step
    int probes = 1;    // probe current channels
    int sensors = 1;   // probes with a sensor behind them
    int monitors = 0;  // voltage monitor channels after the probes
};
BoardChannels boardChannels(const UnitProfile& profile);

// Builds the blocks of one scan. Separate from the pacing so that tests can take blocks one by
// one.
class BlockBuilder {
public:
    explicit BlockBuilder(const ScanSetup& setup);

    // The next block as stream words (packets), with the faults due for it. After a stream stop
    // or a sync loss, stopped() tells that the board sends nothing more.
    std::vector<uint16_t> next(FaultSchedule& faults);
    bool stopped() const { return stopped_; }
    // Duration of one block in seconds of real time.
    double blockSeconds() const;
    // Channels in the stream, in order.
    const std::vector<int>& streamedChannels() const { return channels_; }
    // Voltage of the bias grid at step i of the block (the return sweep mirrored).
    double sweptVolts(size_t step) const;

private:
    std::vector<uint16_t> normalSamples();
    std::vector<uint16_t> syncSamples();
    std::vector<uint16_t> temperatureSamples();
    uint16_t currentCode(int channel, double amperes);
    uint16_t monitorCode(int monitor, double volts);
    uint16_t sampleCode(int channel, size_t step, double syncPhase);
    double gaussian(double rms);

    ScanSetup s_;
    BoardChannels ch_;
    std::vector<int> channels_;
    size_t steps_ = 0;  // steps per block (twice iv_steps with up_down_scan)
    uint32_t blocks_ = 0;
    uint32_t periodOffset_ = 0;
    bool stopped_ = false;
    std::mt19937 rng_;
    std::normal_distribution<double> normal_{0.0, 1.0};
    std::uniform_real_distribution<double> uniform_{0.0, 1.0};
};

// Splits one block into packets of at most `perPacket` words; both status words go into the
// last packet, whose bit 14 is clear when `running` is false.
std::vector<uint16_t> packetize(const std::vector<uint16_t>& samples, uint16_t status1,
                                uint16_t status2, size_t perPacket, bool running = true);

class FifoStream {
public:
    // run_en rose, or the FIFO was cleared while it is set: a new scan from `now`.
    void start(const ScanSetup& setup, Clock::time_point now);
    // run_en fell: no more blocks; what the board already sent stays until cleared.
    void stop(Clock::time_point now);
    void clear();
    bool running() const { return builder_ != nullptr; }

    // Copies up to maxWords words the board has produced by `now`.
    size_t read(uint16_t* out, size_t maxWords, Clock::time_point now, FaultSchedule& faults);
    // How long until more words come (zero when some are waiting or none will come).
    Clock::duration wait(Clock::time_point now) const;

    // 1 real time; 2 twice as fast; 0 as fast as read.
    void setSpeed(double speed) { speed_ = speed; }
    static double speedFromEnvironment();

private:
    // Releases words by `now`, building blocks as their time comes.
    void release(Clock::time_point now, size_t wanted, FaultSchedule& faults);

    std::unique_ptr<BlockBuilder> builder_;
    std::vector<uint16_t> words_;  // built, the first `readPos_` taken
    size_t readPos_ = 0;
    size_t released_ = 0;    // words of words_ sent so far
    size_t blockStart_ = 0;  // first word of the block being released
    Clock::time_point blockBegin_{};
    Clock::time_point nextBegin_{};  // when the next block begins
    double blockSeconds_ = 0;
    double speed_ = 1;
};

}  // namespace vsensor::detail

#endif  // VSENSOR_FIFOSTREAM_H
