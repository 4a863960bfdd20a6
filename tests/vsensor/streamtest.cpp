// The board's FIFO stream: packets, block contents per scan kind, faults, pacing, and the
// plasma model behind the samples.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <vector>

#include "FifoStream.h"

namespace {

using namespace vsensor;
using namespace vsensor::detail;
using Words = std::vector<uint16_t>;

// A block decoded by the packet framing: a header word (bit 15 last packet, bit 14 running,
// bits 0-12 the count) before each packet's words; sync blocks lead with a period packet.
struct Decoded {
    Words period;  // words of a leading period packet
    Words data;    // samples, then the two status words
    bool lastRunning = true;
    size_t maxCount = 0;
};

Decoded decode(const Words& words, bool withPeriod = false) {
    Decoded d;
    size_t at = 0;
    if (withPeriod) {
        const size_t n = words.at(at++) & 0x1FFF;
        d.period.assign(words.begin() + at, words.begin() + at + n);
        at += n;
    }
    while (at < words.size()) {
        const uint16_t header = words[at++];
        const size_t n = header & 0x1FFF;
        EXPECT_LE(at + n, words.size());
        d.data.insert(d.data.end(), words.begin() + at, words.begin() + at + n);
        at += n;
        d.maxCount = std::max(d.maxCount, n);
        if (header & 0x8000) {
            d.lastRunning = header & 0x4000;
            EXPECT_EQ(at, words.size()) << "words after the last packet";
            EXPECT_GE(n, 2u) << "status words split";
        } else {
            EXPECT_TRUE(header & 0x4000);
        }
    }
    return d;
}

// Three steps of four samples, no saturation.
ScanSetup setupFor(const char* profile) {
    ScanSetup s;
    s.profile = findProfile(profile);
    BoardRegisters& r = s.registers;
    r.run_en = r.gain = true;
    r.iv_steps = 3;
    r.samples = 4;
    r.setup_iv_delay = 4;
    r.setup_ns_delay = 200;
    r.setup_fs_delay = 1000;
    r.sync_smpl_mult = 24;
    s.model.saturatedShare = 0;
    return s;
}

// A sync scan: all phases of a 2048-count period, (256 - 1 - 1) / 24 = 10 slots.
void syncScan(ScanSetup& s) {
    s.registers.sync_mode = true;
    s.registers.samples = 0xFFFFF;
    s.syncPeriod = 2048;
    s.syncHz = 192e6 / 2048;
}

TEST(Packets, StatusWordsAlwaysEndTheLastPacketAndTheFifoPassesThemOn) {
    // One sample per step and channel on a two-channel unit: 2 x steps sample words, one less
    // for a short block; packets of at most 8191 words.
    struct Case {
        uint16_t steps;
        bool shortBlock;
        size_t samples;
    };
    for (const Case& c :
         {Case{0, false, 0}, Case{1, true, 1}, Case{4094, false, 8188}, Case{4095, true, 8189},
          Case{4095, false, 8190}, Case{4096, true, 8191}, Case{10000, false, 20000}}) {
        SCOPED_TRACE(c.samples);
        ScanSetup s = setupFor("single");
        s.registers.iv_steps = c.steps;
        s.registers.samples = 1;
        FaultSchedule f, g;
        if (c.shortBlock) {
            f.schedule(Fault::ShortBlock, 1, 1);
            g.schedule(Fault::ShortBlock, 1, 1);
        }
        const Words block = BlockBuilder(s).next(f);
        const Decoded d = decode(block);
        ASSERT_EQ(d.data.size(), c.samples + 2);
        EXPECT_EQ(d.data[c.samples], 1);  // block number
        EXPECT_EQ(d.data[c.samples + 1], 0xA500);
        EXPECT_LE(d.maxCount, 8191u);
        EXPECT_TRUE(d.lastRunning);
        // The same words through the FIFO, read in odd pieces.
        FifoStream fifo;
        fifo.setSpeed(0);
        fifo.start(s, Clock::now());
        Words streamed(block.size());
        for (size_t at = 0, n = 0; at < block.size(); at += n) {
            n = std::min<size_t>(997, block.size() - at);
            ASSERT_EQ(fifo.read(streamed.data() + at, n, Clock::now(), g), n);
        }
        EXPECT_EQ(streamed, block);
    }
}

TEST(Blocks, BlockCarriesStepsChannelsAndSamples) {
    const struct {
        const char* name;
        const char* profile;
        std::function<void(ScanSetup&)> set;
        size_t sampleWords;
    } cases[] = {
        {"two channels", "single", [](ScanSetup&) {}, 3 * 2 * 4},
        {"up and down", "single", [](ScanSetup& s) { s.registers.up_down_scan = true; }, 6 * 2 * 4},
        {"accumulated", "single", [](ScanSetup& s) { s.registers.run_aux = true; }, 3 * 2 * 4 * 2},
        {"disc, all channels", "disc13", [](ScanSetup&) {}, 3 * 24 * 4},
        {"disc, five disabled", "disc13",
         [](ScanSetup& s) { s.registers.channels_disabled = 0x1F; }, 3 * 19 * 4},
        {"sixteen values", "ar", [](ScanSetup&) {}, 3 * 16 * 4},
        {"temperature: 13 channels of four phases", "disc13",
         [](ScanSetup& s) { s.registers.read_temp = true; }, 2080},
        {"sync: two phases per slot", "disc13",
         [](ScanSetup& s) {
             syncScan(s);
             s.registers.sync_smpl_mult = 12;
         },
         10 * 2 * 3 * 24},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScanSetup s = setupFor(c.profile);
        c.set(s);
        FaultSchedule none;
        const Decoded d = decode(BlockBuilder(s).next(none), s.registers.sync_mode);
        ASSERT_EQ(d.data.size(), c.sampleWords + 2);
        EXPECT_EQ(d.data[c.sampleWords], 1);  // block number
        if (s.registers.sync_mode) {
            EXPECT_EQ(d.period, (Words{2048, 0}));
        }
        // Accumulated: per value three zero entries, then the sum of four samples.
        for (size_t v = 0; s.registers.run_aux && v < c.sampleWords / 8; ++v)
            EXPECT_EQ(Words(d.data.begin() + 8 * v, d.data.begin() + 8 * v + 6), Words(6, 0));
        // Temperature: settled levels step down, then up, so the first two phases' last
        // samples differ in sign.
        if (s.registers.read_temp) {
            EXPECT_GT(static_cast<int16_t>(d.data[39]), 0);
            EXPECT_LT(static_cast<int16_t>(d.data[79]), 0);
        }
    }
}

TEST(Blocks, FaultsStopOrBreakOffTheBlock) {
    FaultSchedule f;
    ScanSetup s = setupFor("single");
    BlockBuilder stop(s);
    f.schedule(Fault::StreamStop, 1, 1);
    EXPECT_EQ(stop.next(f), Words{0x0000});
    EXPECT_TRUE(stop.stopped());
    EXPECT_TRUE(stop.next(f).empty());

    BlockBuilder loss(s);
    f.schedule(Fault::SyncLoss, 1, 1);
    const Decoded d = decode(loss.next(f));
    EXPECT_FALSE(d.lastRunning);
    EXPECT_LT(d.data.size(), 24u);
    EXPECT_TRUE(loss.stopped());

    syncScan(s);
    BlockBuilder change(s);
    f.schedule(Fault::SyncPeriodChange, 2, 1);
    EXPECT_EQ(decode(change.next(f), true).period[0], 2048);
    EXPECT_EQ(decode(change.next(f), true).period[0], 2049);
    EXPECT_EQ(decode(change.next(f), true).period[0], 2049);
}

// ---- pacing, on time points the test passes in ----

TEST(Pacing, WordsArriveAsTheScanProceeds) {
    ScanSetup s = setupFor("single");
    s.registers.iv_steps = 2;
    s.registers.samples = 100;
    // ((2 - 1) * 4 + 1000 + 2 * 100 + (2 - 1) * 200) * 2 steps = 2808 units of 0.65 us.
    EXPECT_NEAR(BlockBuilder(s).blockSeconds(), 1825.2e-6, 1e-12);
    const size_t blockWords = 403;  // 400 samples, 2 status words, 1 header
    FaultSchedule none;
    for (double speed : {1.0, 2.0}) {
        SCOPED_TRACE(speed);
        FifoStream fifo;
        fifo.setSpeed(speed);
        const Clock::time_point t0 = Clock::now();
        fifo.start(s, t0);
        Words out(4096);
        EXPECT_EQ(fifo.read(out.data(), out.size(), t0, none), 0u);
        EXPECT_GT(fifo.wait(t0), Clock::duration::zero());
        const auto half = std::chrono::microseconds(static_cast<int64_t>(912.6 / speed));
        const size_t first = fifo.read(out.data(), out.size(), t0 + half, none);
        EXPECT_NEAR(double(first), blockWords / 2.0, 2);
        const size_t more = fifo.read(out.data(), out.size(), t0 + 3 * half, none);
        EXPECT_NEAR(double(first + more), 1.5 * blockWords, 2);
        fifo.stop(t0 + 3 * half);
        EXPECT_EQ(fifo.read(out.data(), out.size(), t0 + 100 * half, none), 0u);
    }
    s.registers.up_down_scan = true;
    EXPECT_NEAR(BlockBuilder(s).blockSeconds(), 2 * 1825.2e-6, 1e-12);
}

TEST(Pacing, AFullFifoHoldsItsSizeAndTheBoardWaits) {
    ScanSetup s = setupFor("disc13");
    s.registers.iv_steps = 100;
    s.registers.samples = 1000;  // 2.4 million words a block
    FifoStream fifo;
    FaultSchedule none;
    const Clock::time_point t0 = Clock::now();
    fifo.start(s, t0);
    Words out(200000);
    const Clock::time_point late = t0 + std::chrono::hours(1);
    // Eight full packets of 8191 words, then the stream goes on with the ninth and tenth.
    for (int read = 0; read < 2; ++read) {
        EXPECT_EQ(fifo.read(out.data(), out.size(), late, none), FifoStream::kCapacity);
        EXPECT_EQ(out[0], 0x5FFF);
        EXPECT_EQ(out[8192], 0x7FFF);
    }
    fifo.stop(late);
    fifo.clear();
    EXPECT_EQ(fifo.read(out.data(), out.size(), late, none), 0u);
    EXPECT_FALSE(fifo.running());
}

TEST(Pacing, SpeedFromTheEnvironment) {
    for (const auto& [text, speed] :
         {std::pair{"0", 0.0}, {"2.5", 2.5}, {"fast", 1.0}, {"-1", 1.0}}) {
        setenv("TOLMAR_VSENSOR_SPEED", text, 1);
        EXPECT_EQ(FifoStream::speedFromEnvironment(), speed) << text;
    }
    unsetenv("TOLMAR_VSENSOR_SPEED");
    EXPECT_EQ(FifoStream::speedFromEnvironment(), 1.0);
}

// ---- the samples ----

// Mean and variance of round(code + rms * z), z standard normal, summed over the codes.
std::pair<double, double> roundedSample(double code, double rms) {
    double p = 0, m = 0, m2 = 0;
    for (int k = int(code - 12 * rms) - 2; k <= int(code + 12 * rms) + 2; ++k) {
        const double w = rms == 0 ? k == std::lround(code)
                                  : 0.5 * (std::erf((k + 0.5 - code) / (rms * std::sqrt(2.0))) -
                                           std::erf((k - 0.5 - code) / (rms * std::sqrt(2.0))));
        p += w;
        m += w * k;
        m2 += w * k * k;
    }
    return {m / p, m2 / p - (m / p) * (m / p)};
}

TEST(Samples, GroupMeansFollowTheModel) {
    struct Case {
        double code, rms, saturated;
        uint32_t n;
    };
    // A current with noise of several codes and saturated samples, a monitor with noise below
    // a code, a level without noise, and a few samples drawn one by one.
    for (const Case& c : {Case{100.3, 6.5, 0.01, 2000}, Case{-40.25, 0.4, 0, 64},
                          Case{12.0, 0, 0, 64}, Case{5.5, 2, 0.05, 16}}) {
        SCOPED_TRACE(c.code);
        BlockBuilder b(setupFor("single"));
        const int groups = 3000;
        Words codes(c.n);
        double sum = 0, squares = 0, saturated = 0;
        for (int g = 0; g < groups; ++g) {
            b.drawSamples({c.code, c.rms, c.saturated}, c.n, codes.data());
            double total = 0, valid = 0;
            for (uint16_t w : codes) {
                saturated += w == 0x8000;
                total += w == 0x8000 ? 0 : static_cast<int16_t>(w);
                valid += w != 0x8000;
            }
            sum += total / valid;
            squares += (total / valid) * (total / valid);
        }
        const auto [mean, variance] = roundedSample(c.code, c.rms);
        const double spread = std::sqrt(variance / (c.n * (1 - c.saturated)));
        const double gotMean = sum / groups;
        EXPECT_NEAR(gotMean, mean, 4 * spread / std::sqrt(groups) + 1e-12);
        const double gotSpread = std::sqrt(std::max(0.0, squares / groups - gotMean * gotMean));
        EXPECT_NEAR(gotSpread, spread, 0.06 * spread + 1e-6);
        const double expected = groups * c.n * c.saturated;
        EXPECT_NEAR(saturated, expected, 4 * std::sqrt(expected) + 1e-12);
    }
}

// ---- the model ----

TEST(Model, CurrentShrinksWithRetardingVoltageAndTowardsTheEdge) {
    const PlasmaModel m;
    // Ion current reads negative. Centre sensor: without retarding field every ion arrives:
    // on-phase flux, off-phase first peak only.
    EXPECT_NEAR(collectorCurrent(m, 2, 13, -100, 0.1), -1e-6, 1e-15);
    EXPECT_NEAR(collectorCurrent(m, 2, 13, -100, 0.9), -0.3 * 0.5e-6, 1e-15);
    EXPECT_NEAR(collectorCurrent(m, 2, 13, -100), -(0.5 * 1e-6 + 0.5 * 0.15e-6), 1e-15);
    // Between the peaks half the ions are left; far above both none.
    const double between = 0.5 * (m.peaks[0].energy + m.peaks[1].energy);
    EXPECT_NEAR(collectorCurrent(m, 2, 13, between, 0.1), -0.5e-6, 1e-9);
    EXPECT_GT(collectorCurrent(m, 2, 13, 100, 0.1), -1e-15);
    for (double v = 0, previous = -1; v < 80; v += 1) {
        EXPECT_GE(collectorCurrent(m, 2, 13, v), previous) << v;
        previous = collectorCurrent(m, 2, 13, v);
    }
    EXPECT_NEAR(collectorCurrent(m, 12, 13, -100, 0.1), -0.7e-6, 1e-15);
    // On the 13-sensor disc the third sensor is the centre, the ring of eight the edge, and
    // the row through the centre lies in between.
    EXPECT_EQ(sensorRadius(0, 1), 0.0);
    EXPECT_EQ(sensorRadius(4, 5), 1.0);
    EXPECT_EQ(sensorRadius(2, 13), 0.0);
    EXPECT_EQ(sensorRadius(12, 13), 1.0);
    EXPECT_EQ(sensorRadius(5, 13), 1.0);
    EXPECT_NEAR(sensorRadius(1, 13), 0.4167 / 1.2, 1e-12);
    EXPECT_NEAR(sensorRadius(0, 13), sensorRadius(4, 13), 1e-12);
    // A thermistor at 25 degrees reads R25 plus the series resistance, less when warmer.
    PlasmaModel warm;
    warm.thermistors[3] = 25.0;
    const UnitProfile* p = findProfile("disc13");
    const double r25 = p->tempCoef[3][1] + p->tempCoef[3][2];
    EXPECT_NEAR(thermistorResistance(warm, *p, 3), r25, 1e-6);
    warm.thermistors[3] = 35.0;
    EXPECT_LT(thermistorResistance(warm, *p, 3), r25);
}

}  // namespace
