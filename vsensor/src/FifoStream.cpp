#include "FifoStream.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace vsensor::detail {
namespace {

constexpr uint32_t kOptionVcScannable = 0x02;
constexpr uint32_t kOptionFourChannelsMissing = 0x04;  // clear: a two-channel board
constexpr uint32_t kOptionTwenty = 0x08;
constexpr uint32_t kOptionExtended = 0x10;
constexpr uint32_t kOptionChannelEnable = 0x40;
constexpr uint32_t kOptionAlternateRows = 0x100;
constexpr uint32_t kOptionKalder = 0x200;
constexpr size_t kMaxPacketWords = 8191;
constexpr uint16_t kSaturated = 0x8000;
constexpr int kTempPhases = 4;
constexpr int kTempPhaseSamples = 40;
constexpr int kTempSettling = 25;          // samples of each phase before the level settles
constexpr double kTempBlockSeconds = 0.1;  // the thermistor phases are slow
constexpr double kVoltageCodesPerVolt = 100;
constexpr double kSyncClockHz = 192e6;
constexpr double kSecondsPerUnit =
    1e-6 * 0.5 * 1.3;  // normal-scan timing units  // voltage channel of two-channel boards
constexpr size_t kMaxBufferedWords = size_t(1) << 24;  // a full FIFO stops building blocks

uint16_t code16(double value) {
    if (!(value >= -32767.0 && value <= 32767.0))
        return kSaturated;
    return static_cast<uint16_t>(static_cast<int16_t>(std::lround(value)));
}

uint64_t ceilDiv(uint64_t a, uint64_t b) {
    return (a + b - 1) / b;
}

}  // namespace

BoardChannels boardChannels(const UnitProfile& profile) {
    BoardChannels c;
    const uint32_t options = profile.deviceOptions;
    if (options & kOptionExtended) {
        c.adc = 24;
        c.probes = 20;
    } else if (options & kOptionTwenty) {
        c.adc = 20;
        c.probes = 17;
    } else if (!(options & kOptionFourChannelsMissing)) {
        return c;  // two channels: voltage and current
    } else {
        c.adc = 16;
        c.probes = 13;
    }
    c.sensors = std::clamp<int>(profile.nExtProbes, 1, c.probes);
    c.monitors = c.adc - c.probes;
    return c;
}

BlockBuilder::BlockBuilder(const ScanSetup& setup) : s_(setup), rng_(setup.model.seed) {
    static const UnitProfile kNone;
    if (!s_.profile)
        s_.profile = &kNone;
    ch_ = boardChannels(*s_.profile);
    const BoardRegisters& r = s_.registers;
    if (s_.profile->deviceOptions & kOptionChannelEnable) {
        for (int c = 0; c < 24; ++c)
            if (!(r.channels_disabled & (1u << c)))
                channels_.push_back(c);
    } else {
        for (int c = 0; c < ch_.adc; ++c) channels_.push_back(c);
    }
    steps_ = size_t(r.iv_steps) * (r.up_down_scan ? 2 : 1);
}

double BlockBuilder::gaussian(double rms) {
    return rms > 0 ? rms * normal_(rng_) : 0.0;
}

double BlockBuilder::sweptVolts(size_t step) const {
    const BoardRegisters& r = s_.registers;
    const size_t s = r.iv_steps;
    const size_t i = step < s ? step : 2 * s - 1 - step;
    // The bias grid hangs on output A, collector on B, secondary-electron suppression on C;
    // only a two-value board with a scanned output C has its bias grid on output C.
    const bool c = ch_.adc == 2 && (s_.profile->deviceOptions & kOptionVcScannable);
    const uint16_t code = c ? static_cast<uint16_t>(r.v_c_start + i * r.v_c_inc)
                            : static_cast<uint16_t>(r.v_a_start + i * r.v_a_inc);
    const double* cal = s_.profile->cal_dac[c ? 2 : 0];
    return cal[1] != 0 ? (code - cal[0]) / cal[1] : 0.0;
}

uint16_t BlockBuilder::currentCode(int channel, double amperes) {
    const BoardRegisters& r = s_.registers;
    const double* cal;
    if (ch_.adc == 2) {
        cal = s_.profile->cal_adc_i[(r.gain ? 0 : 1) + ((r.relays & 1) ? 2 : 0)];
    } else {
        cal = s_.profile->cal_adc[channel][r.gain ? 0 : 1];
    }
    return cal[1] != 0 ? code16((amperes - cal[0]) / cal[1]) : 0;
}

uint16_t BlockBuilder::monitorCode(int monitor, double volts) {
    const double* cal = s_.profile->cal_vmon[monitor];
    return cal[1] != 0 ? code16((volts - cal[0]) / cal[1]) : 0;
}

uint16_t BlockBuilder::sampleCode(int channel, size_t step, double syncPhase) {
    const PlasmaModel& m = s_.model;
    const double volts = sweptVolts(step);
    if (ch_.adc == 2 && channel == 0)
        return code16(volts * kVoltageCodesPerVolt);
    if (channel < ch_.probes || ch_.adc == 2) {
        if (m.saturatedShare > 0 && uniform_(rng_) < m.saturatedShare)
            return kSaturated;
        const int probe = ch_.adc == 2 ? 0 : channel;
        const double amperes =
            (probe < ch_.sensors ? collectorCurrent(m, probe, ch_.sensors, volts, syncPhase)
                                 : 0.0) +
            gaussian(m.noise);
        return currentCode(probe, amperes);
    }
    const int monitor = channel - ch_.probes;
    // Monitor 2 senses the bias grid. Units that order their rows the alternate way (option bits
    // 8 and 9) have the bias grid wired to monitor 3's input as well (their energy axis is
    // monitor 3 less monitor 1); elsewhere monitor 3 reads a fixed level.
    const bool alternate = s_.profile->deviceOptions & (kOptionAlternateRows | kOptionKalder);
    const double levels[4] = {m.electrodeVoltage - m.monitorReference, m.monitorReference,
                              volts + m.monitorReference,
                              alternate ? volts + m.monitorReference : m.monitorAux};
    return monitorCode(monitor, levels[monitor] + gaussian(m.monitorNoise));
}

std::vector<uint16_t> BlockBuilder::normalSamples() {
    const BoardRegisters& r = s_.registers;
    const uint32_t n = r.samples;
    std::vector<uint16_t> out;
    out.reserve(steps_ * channels_.size() * n * (r.run_aux ? 2 : 1));
    for (size_t step = 0; step < steps_; ++step) {
        for (int channel : channels_) {
            if (!r.run_aux) {
                for (uint32_t j = 0; j < n; ++j) out.push_back(sampleCode(channel, step, -1));
                continue;
            }
            // The accumulator: a zero entry per sample time, the sum at the last.
            uint32_t sum = 0;
            for (uint32_t j = 0; j < n; ++j)
                sum += static_cast<uint32_t>(static_cast<int16_t>(sampleCode(channel, step, -1)));
            for (uint32_t j = 1; j < n; ++j) out.insert(out.end(), {0, 0});
            out.insert(out.end(), {static_cast<uint16_t>(sum >> 16), static_cast<uint16_t>(sum)});
        }
    }
    return out;
}

std::vector<uint16_t> BlockBuilder::syncSamples() {
    const BoardRegisters& r = s_.registers;
    // The time grid: one slot per microsecond of the usable part of the period (or per
    // sync_smpl_div microseconds), from the acquisition start; 24 / sync_smpl_mult phases per
    // slot, sent one after the other. It follows the period in counts of the 192 MHz clock,
    // whatever rate the detector reports it at.
    const int64_t count = s_.syncHz > 0 ? std::llround(kSyncClockHz / s_.syncHz) : 0;
    const int64_t usable = std::max<int64_t>(
        0, std::min<int64_t>((count / 8 - 1 - std::min<int64_t>(count / 2048, 11999)) / 24,
                             r.samples));
    const uint64_t div = r.sync_smpl_div;
    const uint64_t start = r.sync_f_smpl_d;
    uint64_t slots = 0, first = start;
    if (div >= 2) {
        const uint64_t a = ceilDiv(usable, div), b = ceilDiv(start, div);
        slots = a > b ? a - b : 0;
        first = b * div;
    } else {
        slots = uint64_t(usable) > start ? usable - start : 0;
    }
    const int mult = r.sync_smpl_mult ? r.sync_smpl_mult : 24;
    const int phases = std::max(24 / mult, 1);
    const double periodUs = s_.syncHz > 0 ? 1e6 / s_.syncHz : 1.0;
    std::vector<uint16_t> out;
    out.reserve(steps_ * channels_.size() * slots * phases);
    for (size_t step = 0; step < steps_; ++step) {
        for (int channel : channels_) {
            for (int f = 0; f < phases; ++f) {
                for (uint64_t j = 0; j < slots; ++j) {
                    const double us =
                        div >= 2 ? double(first + j * div) : double(start + j) + f * mult / 24.0;
                    const double phase = std::fmod(us / periodUs, 1.0);
                    out.push_back(sampleCode(channel, step, phase));
                }
            }
        }
    }
    return out;
}

std::vector<uint16_t> BlockBuilder::temperatureSamples() {
    // Each thermistor is driven in four phases; the currents step by -3/R and then +2/R, which
    // is how the resistance is measured.
    std::vector<uint16_t> out;
    const int g = s_.registers.gain ? 0 : 1;
    for (int k = 0; k < PlasmaModel::kThermistors; ++k) {
        const double r = thermistorResistance(s_.model, *s_.profile, k);
        const double level[kTempPhases] = {1.5 / r, -1.5 / r, -1 / r, 1 / r};
        const double* cal = s_.profile->cal_adc[k][g];
        for (int p = 0; p < kTempPhases; ++p) {
            const double from = level[(p + kTempPhases - 1) % kTempPhases];
            for (int j = 0; j < kTempPhaseSamples; ++j) {
                const double settle =
                    j < kTempSettling ? std::exp(-(j + 1) / 4.0) : 0.0;  // settled after 25
                const double amperes = level[p] + (from - level[p]) * settle;
                out.push_back(cal[1] != 0 ? code16((amperes - cal[0]) / cal[1]) : 0);
            }
        }
    }
    return out;
}

std::vector<uint16_t> BlockBuilder::next(FaultSchedule& faults) {
    const bool stop = faults.onEvent(Fault::StreamStop);
    const bool shortBlock = faults.onEvent(Fault::ShortBlock);
    const bool syncLoss = faults.onEvent(Fault::SyncLoss);
    if (faults.onEvent(Fault::SyncPeriodChange))
        ++periodOffset_;
    if (stopped_)
        return {};
    if (stop) {
        stopped_ = true;
        return {0x0000};
    }
    const BoardRegisters& r = s_.registers;
    std::vector<uint16_t> out;
    std::vector<uint16_t> samples;
    if (r.read_temp) {
        samples = temperatureSamples();
    } else if (r.sync_mode) {
        const uint32_t period = s_.syncPeriod + periodOffset_;
        out = {0x4002, static_cast<uint16_t>(period), static_cast<uint16_t>(period >> 16)};
        samples = syncSamples();
    } else {
        samples = normalSamples();
    }
    if (shortBlock && !samples.empty())
        samples.pop_back();
    bool running = true;
    if (syncLoss) {
        samples.resize(samples.size() * 3 / 5);
        running = false;
        stopped_ = true;
    }
    ++blocks_;
    const std::vector<uint16_t> packets =
        packetize(samples, static_cast<uint16_t>(blocks_), 0xA500, kMaxPacketWords, running);
    out.insert(out.end(), packets.begin(), packets.end());
    return out;
}

double BlockBuilder::blockSeconds() const {
    const BoardRegisters& r = s_.registers;
    if (r.read_temp)
        return kTempBlockSeconds;
    if (r.sync_mode) {
        const int mult = r.sync_smpl_mult ? r.sync_smpl_mult : 24;
        return s_.syncHz > 0
                   ? double(steps_) * channels_.size() * std::max(24 / mult, 1) / s_.syncHz
                   : 0.0;
    }
    // ADC channel delays, the first settling, the samples and the step settling, counted in
    // microsecond units; the converter runs at twice that rate and the transfer adds 30%.
    const double c = ch_.adc, s = r.iv_steps, iv = r.setup_iv_delay;
    const double m1 = std::max<double>(r.setup_ns_delay, iv);
    const double m2 = std::max<double>(r.setup_fs_delay, m1);
    const double units = ((c - 1) * iv + m2 + c * r.samples + (s - 1) * m1) * s;
    return units * kSecondsPerUnit * (r.up_down_scan ? 2 : 1);
}

std::vector<uint16_t> packetize(const std::vector<uint16_t>& samples, uint16_t status1,
                                uint16_t status2, size_t perPacket, bool running) {
    std::vector<uint16_t> data = samples;
    data.push_back(status1);
    data.push_back(status2);
    std::vector<uint16_t> out;
    out.reserve(data.size() + data.size() / perPacket + 1);
    size_t at = 0;
    for (int packet = 0; at < data.size(); ++packet) {
        size_t n = std::min(perPacket, data.size() - at);
        const size_t rest = data.size() - at - n;
        if (rest == 1)
            --n;  // both status words travel in the last packet
        const bool last = at + n == data.size();
        // Bit 13 carries nothing; the board toggles it.
        uint16_t header = static_cast<uint16_t>(n | ((packet & 1) ? 0x2000 : 0));
        if (running || !last)
            header |= 0x4000;
        if (last)
            header |= 0x8000;
        out.push_back(header);
        out.insert(out.end(), data.begin() + at, data.begin() + at + n);
        at += n;
    }
    return out;
}

void FifoStream::start(const ScanSetup& setup, Clock::time_point now) {
    clear();
    builder_ = std::make_unique<BlockBuilder>(setup);
    nextBegin_ = now;
}

void FifoStream::stop(Clock::time_point) {
    // What was not yet sent of the block in progress is never sent.
    words_.resize(released_);
    builder_.reset();
}

void FifoStream::clear() {
    words_.clear();
    readPos_ = released_ = blockStart_ = 0;
    blockSeconds_ = 0;
}

void FifoStream::release(Clock::time_point now, size_t wanted, FaultSchedule& faults) {
    while (builder_) {
        if (released_ < words_.size()) {
            // Part of the current block, in proportion to the time since it began.
            const double elapsed = std::chrono::duration<double>(now - blockBegin_).count();
            if (blockSeconds_ <= 0 || elapsed >= blockSeconds_) {
                released_ = words_.size();
                continue;
            }
            const size_t words = words_.size() - blockStart_;
            released_ = blockStart_ + static_cast<size_t>(words * (elapsed / blockSeconds_));
            return;
        }
        if (builder_->stopped() || words_.size() - readPos_ >= kMaxBufferedWords)
            return;
        if (speed_ > 0 ? nextBegin_ > now : released_ - readPos_ >= wanted)
            return;
        // Drop what was read before the buffer grows.
        if (readPos_ > 0 && readPos_ == words_.size()) {
            words_.clear();
            readPos_ = released_ = 0;
        }
        const std::vector<uint16_t> block = builder_->next(faults);
        blockStart_ = words_.size();
        words_.insert(words_.end(), block.begin(), block.end());
        blockBegin_ = nextBegin_;
        blockSeconds_ = speed_ > 0 ? builder_->blockSeconds() / speed_ : 0;
        nextBegin_ = blockBegin_ + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(blockSeconds_));
    }
}

size_t FifoStream::read(uint16_t* out, size_t maxWords, Clock::time_point now,
                        FaultSchedule& faults) {
    release(now, maxWords, faults);
    const size_t n = std::min(maxWords, released_ - readPos_);
    std::copy_n(words_.begin() + static_cast<std::ptrdiff_t>(readPos_), n, out);
    readPos_ += n;
    return n;
}

Clock::duration FifoStream::wait(Clock::time_point now) const {
    if (released_ > readPos_ || !builder_ || builder_->stopped() || speed_ <= 0)
        return Clock::duration::zero();
    Clock::time_point next = nextBegin_;
    if (released_ < words_.size()) {
        const double perWord = blockSeconds_ / double(words_.size() - blockStart_);
        next = blockBegin_ +
               std::chrono::duration_cast<Clock::duration>(
                   std::chrono::duration<double>(perWord * double(released_ - blockStart_ + 1)));
    }
    return next > now ? next - now : Clock::duration::zero();
}

double FifoStream::speedFromEnvironment() {
    const char* text = std::getenv("TOLMAR_VSENSOR_SPEED");
    if (!text || !*text)
        return 1;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text, &end);
    return (errno == 0 && *end == '\0' && v >= 0 && v < 1e6) ? v : 1;
}

}  // namespace vsensor::detail
