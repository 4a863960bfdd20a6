// The board's FIFO: measured data blocks built from the plasma model while a scan runs, paced
// in time, in packets. Not thread-safe by itself; the emulation's lock guards it.
#ifndef VSENSOR_FIFOSTREAM_H
#define VSENSOR_FIFOSTREAM_H

#include <chrono>
#include <cstddef>
#include <cstdint>
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

// Builds the blocks of one scan, word by word as the stream asks for them, so that no more than
// one group of samples (one step of one channel) is held at a time. Separate from the pacing so
// that tests can take blocks one by one.
class BlockBuilder {
public:
    explicit BlockBuilder(const ScanSetup& setup);

    // Starts the next block with the faults due for it and returns its length in stream words
    // (packet headers included); 0 once the board sends nothing more. After a stream stop or a
    // sync loss, stopped() tells that this block is the last.
    size_t begin(FaultSchedule& faults);
    // Copies up to maxWords further words of the block begun last; returns how many.
    size_t take(uint16_t* out, size_t maxWords);
    // The next block whole.
    std::vector<uint16_t> next(FaultSchedule& faults);
    bool stopped() const { return stopped_; }
    // Duration of one block in seconds of real time.
    double blockSeconds() const;
    // Channels in the stream, in order.
    const std::vector<int>& streamedChannels() const { return channels_; }
    // Voltage of the bias grid at step i of the block (the return sweep mirrored).
    double sweptVolts(size_t step) const;

    // What a channel carries at one step: the expected level and the noise in ADC codes (before
    // rounding) and the share of samples sent saturated.
    struct Level {
        double code = 0;
        double rms = 0;
        double saturated = 0;
    };
    Level level(int channel, size_t step, double syncPhase) const;
    // The codes of n samples of one level. Many samples are drawn as a group: the number of
    // saturated ones, then the sum of the others from the distribution of the sum of that many
    // rounded samples; the group carries that sum, so its mean and spread are those of n
    // samples, while single samples scatter less than the noise.
    void drawSamples(const Level& level, uint32_t n, uint16_t* out);

private:
    size_t sampleWords() const;
    void nextGroup();
    void normalGroup();
    void syncGroup();
    void temperatureGroup();
    size_t takeSamples(uint16_t* out, size_t maxWords);
    uint16_t drawSample(const Level& level);
    double monitorVolts(int monitor, double swept) const;

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

    // The block being sent: leading words, then packets of sample words and two status words.
    std::vector<uint16_t> lead_;
    size_t total_ = 0, sent_ = 0;  // stream words of the block, and sent of them
    size_t samples_ = 0, dataWords_ = 0, dataSent_ = 0;
    size_t packetLeft_ = 0;
    int packet_ = 0;
    bool running_ = true;
    // Where the samples stand: the group (one step of one channel, or one phase of it) being
    // sent, and the next group to draw.
    std::vector<uint16_t> group_;
    size_t groupPos_ = 0;
    size_t groupIndex_ = 0;
    std::vector<uint32_t> saturatedAt_;
};

// Length of the next packet (words after its header) when `rest` data words of the block are
// still to send: both status words travel in the last packet.
size_t packetLength(size_t rest, size_t perPacket);

// The board's FIFO: 65,536 words. While a scan runs, the blocks' words enter it as their time
// comes (as they are read, at speed 0); when it is full the board waits.
class FifoStream {
public:
    static constexpr size_t kCapacity = 65536;

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
    // Moves the words due by `now` into the FIFO, beginning blocks as their time comes.
    void release(Clock::time_point now, size_t wanted, FaultSchedule& faults);
    void push(size_t words);

    std::unique_ptr<BlockBuilder> builder_;
    std::vector<uint16_t> ring_ = std::vector<uint16_t>(kCapacity);
    size_t head_ = 0, size_ = 0;
    size_t blockWords_ = 0, blockSent_ = 0;  // the block in progress, and words of it sent
    Clock::time_point blockBegin_{};
    Clock::time_point nextBegin_{};  // when the next block begins
    double blockSeconds_ = 0;
    double speed_ = 1;
};

}  // namespace vsensor::detail

#endif  // VSENSOR_FIFOSTREAM_H
