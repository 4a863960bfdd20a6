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
constexpr double kSecondsPerUnit = 1e-6 * 0.5 * 1.3;  // normal-scan timing units
constexpr uint32_t kGroupDraw = 32;  // samples of one level from which they are drawn as a group

uint16_t code16(double value) {
    if (!(value >= -32767.0 && value <= 32767.0))
        return kSaturated;
    return static_cast<uint16_t>(static_cast<int16_t>(std::lround(value)));
}

uint64_t ceilDiv(uint64_t a, uint64_t b) {
    return (a + b - 1) / b;
}

// Mean and variance of round(code + rms * z), z standard normal. From a code of noise on, the
// rounding adds a twelfth of a code squared and nothing to the mean; below, the codes within
// reach are summed.
struct Moments {
    double mean;
    double variance;
};
Moments roundedMoments(double code, double rms) {
    if (rms <= 0) {
        return {double(std::lround(code)), 0};
    }
    if (rms >= 1) {
        return {code, rms * rms + 1.0 / 12};
    }
    double p = 0, sum = 0, squares = 0;
    const double scale = 1 / (rms * std::sqrt(2.0));
    for (double k = std::floor(code - 8 * rms) - 1; k <= std::ceil(code + 8 * rms) + 1; ++k) {
        const double w =
            0.5 * (std::erfc((k - 0.5 - code) * scale) - std::erfc((k + 0.5 - code) * scale));
        p += w;
        sum += w * k;
        squares += w * k * k;
    }
    const double mean = sum / p;
    return {mean, std::max(0.0, squares / p - mean * mean)};
}

// The time grid of a synchronised scan: one slot per microsecond of the usable part of the
// period (or per sync_smpl_div microseconds), from the acquisition start; 24 / sync_smpl_mult
// phases per slot, sent one after the other. It follows the period in counts of the 192 MHz
// clock, the count the board reports.
struct SyncGrid {
    uint64_t slots = 0, first = 0, start = 0, div = 0;
    int mult = 24, phases = 1;
    double periodUs = 1;
};
SyncGrid syncGrid(const ScanSetup& s) {
    const BoardRegisters& r = s.registers;
    const int64_t count = s.syncHz > 0 ? std::llround(kSyncClockHz / s.syncHz) : 0;
    const int64_t usable = std::max<int64_t>(
        0, std::min<int64_t>((count / 8 - 1 - std::min<int64_t>(count / 2048, 11999)) / 24,
                             r.samples));
    SyncGrid g;
    g.div = r.sync_smpl_div;
    g.start = g.first = r.sync_f_smpl_d;
    if (g.div >= 2) {
        const uint64_t a = ceilDiv(usable, g.div), b = ceilDiv(g.start, g.div);
        g.slots = a > b ? a - b : 0;
        g.first = b * g.div;
    } else {
        g.slots = uint64_t(usable) > g.start ? usable - g.start : 0;
    }
    g.mult = r.sync_smpl_mult ? r.sync_smpl_mult : 24;
    g.phases = std::max(24 / g.mult, 1);
    g.periodUs = s.syncHz > 0 ? 1e6 / s.syncHz : 1.0;
    return g;
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

double BlockBuilder::monitorVolts(int monitor, double swept) const {
    const PlasmaModel& m = s_.model;
    // Monitor 2 senses the bias grid. Units that order their rows the alternate way (option bits
    // 8 and 9) have the bias grid wired to monitor 3's input as well (their energy axis is
    // monitor 3 less monitor 1); elsewhere monitor 3 reads a fixed level.
    const bool alternate = s_.profile->deviceOptions & (kOptionAlternateRows | kOptionKalder);
    const double levels[4] = {m.electrodeVoltage - m.monitorReference, m.monitorReference,
                              swept + m.monitorReference,
                              alternate ? swept + m.monitorReference : m.monitorAux};
    return levels[monitor];
}

BlockBuilder::Level BlockBuilder::level(int channel, size_t step, double syncPhase) const {
    const PlasmaModel& m = s_.model;
    const BoardRegisters& r = s_.registers;
    const double volts = sweptVolts(step);
    if (ch_.adc == 2 && channel == 0)
        return {volts * kVoltageCodesPerVolt, 0, 0};
    if (channel < ch_.probes || ch_.adc == 2) {
        const int probe = ch_.adc == 2 ? 0 : channel;
        const double* cal = ch_.adc == 2
                                ? s_.profile->cal_adc_i[(r.gain ? 0 : 1) + ((r.relays & 1) ? 2 : 0)]
                                : s_.profile->cal_adc[probe][r.gain ? 0 : 1];
        if (cal[1] == 0)
            return {0, 0, m.saturatedShare};
        const double amperes =
            probe < ch_.sensors ? collectorCurrent(m, probe, ch_.sensors, volts, syncPhase) : 0.0;
        return {(amperes - cal[0]) / cal[1], m.noise / std::fabs(cal[1]), m.saturatedShare};
    }
    const int monitor = channel - ch_.probes;
    const double* cal = s_.profile->cal_vmon[monitor];
    if (cal[1] == 0)
        return {};
    return {(monitorVolts(monitor, volts) - cal[0]) / cal[1], m.monitorNoise / std::fabs(cal[1]),
            0};
}

uint16_t BlockBuilder::drawSample(const Level& l) {
    if (l.saturated > 0 && uniform_(rng_) < l.saturated)
        return kSaturated;
    return code16(l.rms > 0 ? l.code + l.rms * normal_(rng_) : l.code);
}

void BlockBuilder::drawSamples(const Level& l, uint32_t n, uint16_t* out) {
    // Near the ends of the converter's range, and for a few samples, every sample is drawn.
    if (n < kGroupDraw || std::fabs(l.code) + 8 * l.rms + 3 > 32767) {
        for (uint32_t j = 0; j < n; ++j) out[j] = drawSample(l);
        return;
    }
    // Which samples come saturated: gaps between them are geometric.
    saturatedAt_.clear();
    if (l.saturated >= 1) {
        std::fill_n(out, n, kSaturated);
        return;
    }
    if (l.saturated > 0) {
        std::geometric_distribution<uint32_t> gap(l.saturated);
        for (uint64_t j = gap(rng_); j < n; j += 1 + uint64_t(gap(rng_)))
            saturatedAt_.push_back(static_cast<uint32_t>(j));
    }
    const uint32_t valid = n - static_cast<uint32_t>(saturatedAt_.size());
    if (valid < kGroupDraw) {
        Level clean = l;
        clean.saturated = 0;
        for (uint32_t j = 0; j < valid; ++j) out[j] = drawSample(clean);
    } else {
        // The sum of `valid` rounded samples, and a flat group that carries it: the nearest
        // code, as many codes one off as the sum asks and, when there are such, one pair two
        // below and two above, so that a reader dropping outliers finds none.
        const Moments q = roundedMoments(l.code, l.rms);
        const int64_t sum =
            std::llround(valid * q.mean + std::sqrt(valid * q.variance) * normal_(rng_));
        const int64_t c = std::llround(double(sum) / valid);
        const int64_t rest = sum - c * int64_t(valid);
        const auto word = [](int64_t code) {
            return static_cast<uint16_t>(static_cast<int16_t>(code));
        };
        const size_t off = static_cast<size_t>(std::llabs(rest));
        const size_t pair = rest != 0 ? 2 : 0;
        if (pair) {
            out[0] = word(c - 2);
            out[1] = word(c + 2);
        }
        std::fill_n(out + pair, off, word(rest > 0 ? c + 1 : c - 1));
        std::fill(out + pair + off, out + valid, word(c));
    }
    // Open the saturated samples' places, from the back.
    size_t from = valid, to = n;
    for (size_t k = saturatedAt_.size(); k-- > 0;) {
        const size_t after = to - saturatedAt_[k] - 1;
        from -= after;
        to -= after;
        std::copy_backward(out + from, out + from + after, out + to + after);
        out[--to] = kSaturated;
    }
}

size_t BlockBuilder::sampleWords() const {
    const BoardRegisters& r = s_.registers;
    if (r.read_temp)
        return size_t(PlasmaModel::kThermistors) * kTempPhases * kTempPhaseSamples;
    if (r.sync_mode) {
        const SyncGrid g = syncGrid(s_);
        return steps_ * channels_.size() * g.slots * g.phases;
    }
    return steps_ * channels_.size() * r.samples * (r.run_aux ? 2 : 1);
}

void BlockBuilder::normalGroup() {
    const BoardRegisters& r = s_.registers;
    const size_t step = groupIndex_ / channels_.size();
    const int channel = channels_[groupIndex_ % channels_.size()];
    const uint32_t n = r.samples;
    group_.resize(size_t(n) * (r.run_aux ? 2 : 1));
    drawSamples(level(channel, step, -1), n, group_.data());
    if (!r.run_aux)
        return;
    // The accumulator: a zero entry per sample time, the sum at the last.
    uint32_t sum = 0;
    for (uint32_t j = 0; j < n; ++j) sum += static_cast<uint32_t>(static_cast<int16_t>(group_[j]));
    std::fill(group_.begin(), group_.end(), 0);
    if (n > 0) {
        group_[2 * n - 2] = static_cast<uint16_t>(sum >> 16);
        group_[2 * n - 1] = static_cast<uint16_t>(sum);
    }
}

void BlockBuilder::syncGroup() {
    // One phase of one channel at one step, over the slots.
    const SyncGrid g = syncGrid(s_);
    const size_t f = groupIndex_ % g.phases;
    const size_t at = groupIndex_ / g.phases;
    const size_t step = at / channels_.size();
    const int channel = channels_[at % channels_.size()];
    group_.resize(g.slots);
    for (uint64_t j = 0; j < g.slots; ++j) {
        const double us =
            g.div >= 2 ? double(g.first + j * g.div) : double(g.start + j) + f * g.mult / 24.0;
        const double phase = std::fmod(us / g.periodUs, 1.0);
        group_[j] = drawSample(level(channel, step, phase));
    }
}

void BlockBuilder::temperatureGroup() {
    // Each thermistor is driven in four phases; the currents step by -3/R and then +2/R, which
    // is how the resistance is measured.
    group_.clear();
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
                group_.push_back(cal[1] != 0 ? code16((amperes - cal[0]) / cal[1]) : 0);
            }
        }
    }
}

void BlockBuilder::nextGroup() {
    const BoardRegisters& r = s_.registers;
    if (r.read_temp)
        temperatureGroup();
    else if (r.sync_mode)
        syncGroup();
    else
        normalGroup();
    ++groupIndex_;
    groupPos_ = 0;
}

size_t BlockBuilder::begin(FaultSchedule& faults) {
    const bool stop = faults.onEvent(Fault::StreamStop);
    const bool shortBlock = faults.onEvent(Fault::ShortBlock);
    const bool syncLoss = faults.onEvent(Fault::SyncLoss);
    if (faults.onEvent(Fault::SyncPeriodChange))
        ++periodOffset_;
    lead_.clear();
    total_ = sent_ = samples_ = dataWords_ = dataSent_ = packetLeft_ = 0;
    packet_ = 0;
    running_ = true;
    group_.clear();
    groupPos_ = groupIndex_ = 0;
    if (stopped_)
        return 0;
    if (stop) {
        stopped_ = true;
        lead_ = {0x0000};
        return total_ = 1;
    }
    const BoardRegisters& r = s_.registers;
    if (!r.read_temp && r.sync_mode) {
        const uint32_t period = s_.syncPeriod + periodOffset_;
        lead_ = {0x4002, static_cast<uint16_t>(period), static_cast<uint16_t>(period >> 16)};
    }
    samples_ = sampleWords();
    if (shortBlock && samples_ > 0)
        --samples_;
    if (syncLoss) {
        samples_ = samples_ * 3 / 5;
        running_ = false;
        stopped_ = true;
    }
    ++blocks_;
    dataWords_ = samples_ + 2;
    size_t headers = 0;
    for (size_t at = 0; at < dataWords_; ++headers)
        at += packetLength(dataWords_ - at, kMaxPacketWords);
    total_ = lead_.size() + dataWords_ + headers;
    return total_;
}

size_t BlockBuilder::takeSamples(uint16_t* out, size_t maxWords) {
    size_t n = 0;
    while (n < maxWords) {
        if (groupPos_ == group_.size())
            nextGroup();
        const size_t k = std::min(maxWords - n, group_.size() - groupPos_);
        std::copy_n(group_.begin() + static_cast<std::ptrdiff_t>(groupPos_), k, out + n);
        groupPos_ += k;
        n += k;
    }
    return n;
}

size_t BlockBuilder::take(uint16_t* out, size_t maxWords) {
    size_t n = 0;
    while (n < maxWords && sent_ < total_) {
        if (sent_ < lead_.size()) {
            out[n++] = lead_[sent_++];
            continue;
        }
        if (packetLeft_ == 0) {
            const size_t rest = dataWords_ - dataSent_;
            packetLeft_ = packetLength(rest, kMaxPacketWords);
            const bool last = packetLeft_ == rest;
            // Bit 13 carries nothing; the board toggles it.
            uint16_t header = static_cast<uint16_t>(packetLeft_ | ((packet_++ & 1) ? 0x2000 : 0));
            if (running_ || !last)
                header |= 0x4000;
            if (last)
                header |= 0x8000;
            out[n++] = header;
            ++sent_;
            continue;
        }
        size_t k = 1;
        if (dataSent_ < samples_) {
            k = takeSamples(out + n, std::min({maxWords - n, packetLeft_, samples_ - dataSent_}));
        } else {
            out[n] = dataSent_ == samples_ ? static_cast<uint16_t>(blocks_) : 0xA500;
        }
        n += k;
        sent_ += k;
        dataSent_ += k;
        packetLeft_ -= k;
    }
    return n;
}

std::vector<uint16_t> BlockBuilder::next(FaultSchedule& faults) {
    std::vector<uint16_t> out(begin(faults));
    take(out.data(), out.size());
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

size_t packetLength(size_t rest, size_t perPacket) {
    const size_t n = std::min(perPacket, rest);
    return rest - n == 1 ? n - 1 : n;
}

void FifoStream::start(const ScanSetup& setup, Clock::time_point now) {
    clear();
    builder_ = std::make_unique<BlockBuilder>(setup);
    nextBegin_ = now;
}

void FifoStream::stop(Clock::time_point) {
    // What was not yet sent of the block in progress is never sent.
    builder_.reset();
    blockWords_ = blockSent_ = 0;
}

void FifoStream::clear() {
    head_ = size_ = 0;
    blockWords_ = blockSent_ = 0;
    blockSeconds_ = 0;
}

void FifoStream::push(size_t words) {
    while (words > 0) {
        const size_t tail = (head_ + size_) % kCapacity;
        const size_t n = builder_->take(ring_.data() + tail, std::min(words, kCapacity - tail));
        if (n == 0)
            return;
        size_ += n;
        blockSent_ += n;
        words -= n;
    }
}

void FifoStream::release(Clock::time_point now, size_t wanted, FaultSchedule& faults) {
    while (builder_) {
        const size_t room = kCapacity - size_;
        if (blockSent_ < blockWords_) {
            // Of the current block, what its time allows (at speed 0, what is asked for).
            size_t due = blockWords_;
            if (speed_ <= 0) {
                due = blockSent_ + (wanted > size_ ? wanted - size_ : 0);
            } else if (blockSeconds_ > 0) {
                const double elapsed = std::chrono::duration<double>(now - blockBegin_).count();
                if (elapsed < blockSeconds_)
                    due = static_cast<size_t>(blockWords_ * (elapsed / blockSeconds_));
            }
            const size_t n =
                std::min({due > blockSent_ ? due - blockSent_ : 0, room, blockWords_ - blockSent_});
            if (n == 0)
                return;
            push(n);
            continue;
        }
        if (builder_->stopped() || room == 0)
            return;
        if (speed_ > 0 ? nextBegin_ > now : size_ >= wanted)
            return;
        blockWords_ = builder_->begin(faults);
        blockSent_ = 0;
        if (blockWords_ == 0)
            return;
        blockBegin_ = nextBegin_;
        blockSeconds_ = speed_ > 0 ? builder_->blockSeconds() / speed_ : 0;
        nextBegin_ = blockBegin_ + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(blockSeconds_));
    }
}

size_t FifoStream::read(uint16_t* out, size_t maxWords, Clock::time_point now,
                        FaultSchedule& faults) {
    release(now, maxWords, faults);
    const size_t n = std::min(maxWords, size_);
    const size_t first = std::min(n, kCapacity - head_);
    std::copy_n(ring_.begin() + static_cast<std::ptrdiff_t>(head_), first, out);
    std::copy_n(ring_.begin(), n - first, out + first);
    head_ = (head_ + n) % kCapacity;
    size_ -= n;
    return n;
}

Clock::duration FifoStream::wait(Clock::time_point now) const {
    if (size_ > 0 || !builder_ || speed_ <= 0)
        return Clock::duration::zero();
    Clock::time_point next = nextBegin_;
    if (blockSent_ < blockWords_) {
        const double perWord = blockSeconds_ / double(blockWords_);
        next = blockBegin_ + std::chrono::duration_cast<Clock::duration>(
                                 std::chrono::duration<double>(perWord * double(blockSent_ + 1)));
    } else if (builder_->stopped()) {
        return Clock::duration::zero();
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
