// The board's FIFO stream: packets, block contents per scan kind, faults, pacing, and the
// plasma model behind the samples.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cmath>
#include <vector>

#include "FifoStream.h"

namespace {

using namespace vsensor;
using namespace vsensor::detail;
using Words = std::vector<uint16_t>;

// A decoded block: the data words of its packets and the header bits seen.
struct Decoded {
    Words period;  // words of a leading period packet
    Words data;    // samples, then the two status words
    bool lastRunning = true;
    int packets = 0;
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
        ++d.packets;
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

ScanSetup setupFor(const char* profile) {
    ScanSetup s;
    s.profile = findProfile(profile);
    BoardRegisters& r = s.registers;
    r.run_en = true;
    r.gain = true;
    r.iv_steps = 3;
    r.samples = 4;
    r.setup_iv_delay = 4;
    r.setup_ns_delay = 200;
    r.setup_fs_delay = 1000;
    r.sync_smpl_mult = 24;
    s.model.saturatedShare = 0;
    return s;
}

TEST(Packets, StatusWordsAlwaysEndTheLastPacketAndTheFifoPassesThemOn) {
    // One sample per step and channel on a two-channel unit: 2 x steps sample words, one less
    // for a short block.
    struct Case {
        uint16_t steps;
        bool shortBlock;
        size_t samples;
    };
    for (const Case& c :
         {Case{0, false, 0}, Case{1, true, 1}, Case{4094, false, 8188}, Case{4095, true, 8189},
          Case{4095, false, 8190}, Case{4096, true, 8191}, Case{10000, false, 20000}}) {
        ScanSetup s = setupFor("single");
        s.registers.iv_steps = c.steps;
        s.registers.samples = 1;
        FaultSchedule f;
        if (c.shortBlock)
            f.schedule(Fault::ShortBlock, 1, 1);
        const Words block = BlockBuilder(s).next(f);
        const Decoded d = decode(block);
        ASSERT_EQ(d.data.size(), c.samples + 2) << c.samples;
        EXPECT_EQ(d.data[c.samples], 1);
        EXPECT_EQ(d.data[c.samples + 1], 0xA500);
        EXPECT_LE(d.maxCount, 8191u);
        EXPECT_TRUE(d.lastRunning);
        // The same words through the FIFO, read in odd pieces.
        FifoStream fifo;
        fifo.setSpeed(0);
        FaultSchedule g;
        if (c.shortBlock)
            g.schedule(Fault::ShortBlock, 1, 1);
        fifo.start(s, Clock::now());
        Words streamed(block.size());
        for (size_t at = 0, n = 0; at < block.size(); at += n) {
            n = std::min<size_t>(997, block.size() - at);
            ASSERT_EQ(fifo.read(streamed.data() + at, n, Clock::now(), g), n);
        }
        EXPECT_EQ(streamed, block) << c.samples;
    }
}

struct BlockCase {
    const char* name;
    const char* profile;
    bool upDown;
    bool accumulated;
    uint32_t disabled;
    size_t sampleWords;
};

class BlockTest : public ::testing::TestWithParam<BlockCase> {};

TEST_P(BlockTest, BlockCarriesStepsChannelsAndSamples) {
    const BlockCase& tc = GetParam();
    ScanSetup s = setupFor(tc.profile);
    s.registers.up_down_scan = tc.upDown;
    s.registers.run_aux = tc.accumulated;
    s.registers.channels_disabled = tc.disabled;
    BlockBuilder b(s);
    FaultSchedule none;
    const Decoded d = decode(b.next(none));
    EXPECT_EQ(d.data.size(), tc.sampleWords + 2);
    EXPECT_EQ(d.data[tc.sampleWords], 1);  // block number
    if (tc.accumulated) {
        // Per value three zero entries, then the sum of four samples.
        for (size_t v = 0; v < tc.sampleWords / 8; ++v)
            EXPECT_EQ(Words(d.data.begin() + 8 * v, d.data.begin() + 8 * v + 6), Words(6, 0));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, BlockTest,
    ::testing::Values(BlockCase{"TwoChannels", "single", false, false, 0, 3 * 2 * 4},
                      BlockCase{"UpDown", "single", true, false, 0, 6 * 2 * 4},
                      BlockCase{"Accumulated", "single", false, true, 0, 3 * 2 * 4 * 2},
                      BlockCase{"DiscAllChannels", "disc13", false, false, 0, 3 * 24 * 4},
                      BlockCase{"DiscFiveDisabled", "disc13", false, false, 0x1F, 3 * 19 * 4},
                      BlockCase{"SixteenValues", "ar", false, false, 0, 3 * 16 * 4}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Blocks, TemperatureBlockHasThirteenChannelsOfFourPhases) {
    ScanSetup s = setupFor("disc13");
    s.registers.read_temp = true;
    BlockBuilder b(s);
    FaultSchedule none;
    const Decoded d = decode(b.next(none));
    ASSERT_EQ(d.data.size(), 2080u + 2);
    // Settled levels step down, then up: the first two phases' last samples differ in sign.
    const int16_t p0 = static_cast<int16_t>(d.data[39]);
    const int16_t p1 = static_cast<int16_t>(d.data[79]);
    EXPECT_GT(p0, 0);
    EXPECT_LT(p1, 0);
}

TEST(Blocks, SyncBlockStartsWithThePeriodAndHoldsEveryPhase) {
    ScanSetup s = setupFor("disc13");
    s.registers.sync_mode = true;
    s.registers.samples = 0xFFFFF;
    s.registers.sync_smpl_mult = 12;  // two phases per slot
    s.syncPeriod = 2048;              // (256 - 1 - 1) / 24 = 10 slots
    s.syncHz = 192e6 / 2048;
    BlockBuilder b(s);
    FaultSchedule none;
    const Decoded d = decode(b.next(none), true);
    EXPECT_EQ(d.period, (Words{2048, 0}));
    EXPECT_EQ(d.data.size(), 10u * 2 * 3 * 24 + 2);
}

TEST(Blocks, FaultsStopOrBreakOffTheBlock) {
    FaultSchedule f;
    ScanSetup s = setupFor("single");
    {
        BlockBuilder b(s);
        f.schedule(Fault::StreamStop, 1, 1);
        EXPECT_EQ(b.next(f), Words{0x0000});
        EXPECT_TRUE(b.stopped());
        EXPECT_TRUE(b.next(f).empty());
    }
    {
        BlockBuilder b(s);
        f.schedule(Fault::SyncLoss, 1, 1);
        const Decoded d = decode(b.next(f));
        EXPECT_FALSE(d.lastRunning);
        EXPECT_LT(d.data.size(), 24u);
        EXPECT_TRUE(b.stopped());
    }
    {
        s.registers.sync_mode = true;
        s.registers.samples = 0xFFFFF;
        s.syncPeriod = 2048;
        s.syncHz = 192e6 / 2048;
        BlockBuilder b(s);
        f.schedule(Fault::SyncPeriodChange, 2, 1);
        EXPECT_EQ(decode(b.next(f), true).period[0], 2048);
        EXPECT_EQ(decode(b.next(f), true).period[0], 2049);
        EXPECT_EQ(decode(b.next(f), true).period[0], 2049);
    }
}

// ---- pacing ----

TEST(Pacing, BlockTimeFollowsTheScanTiming) {
    ScanSetup s = setupFor("single");
    s.registers.iv_steps = 2;
    s.registers.samples = 100;
    // ((2 - 1) * 4 + 1000 + 2 * 100 + (2 - 1) * 200) * 2 steps = 2808 units of 0.65 us.
    EXPECT_NEAR(BlockBuilder(s).blockSeconds(), 1825.2e-6, 1e-12);
    s.registers.up_down_scan = true;
    EXPECT_NEAR(BlockBuilder(s).blockSeconds(), 2 * 1825.2e-6, 1e-12);
}

TEST(Pacing, WordsArriveAsTheScanProceeds) {
    using std::chrono::microseconds;
    ScanSetup s = setupFor("single");
    s.registers.iv_steps = 2;
    s.registers.samples = 100;  // 400 samples + 2 status words + 1 header per 1825.2 us
    const size_t blockWords = 403;
    FaultSchedule none;
    for (double speed : {1.0, 2.0}) {
        FifoStream fifo;
        fifo.setSpeed(speed);
        const Clock::time_point t0 = Clock::now();
        fifo.start(s, t0);
        std::vector<uint16_t> out(4096);
        EXPECT_EQ(fifo.read(out.data(), out.size(), t0, none), 0u);
        EXPECT_GT(fifo.wait(t0), Clock::duration::zero());
        const auto half = microseconds(static_cast<int64_t>(912.6 / speed));
        const size_t first = fifo.read(out.data(), out.size(), t0 + half, none);
        EXPECT_NEAR(double(first), blockWords / 2.0, 2) << speed;
        const size_t more = fifo.read(out.data(), out.size(), t0 + 3 * half, none);
        EXPECT_NEAR(double(first + more), 1.5 * blockWords, 2) << speed;
        fifo.stop(t0 + 3 * half);
        EXPECT_EQ(fifo.read(out.data(), out.size(), t0 + 100 * half, none), 0u);
    }
}

TEST(Pacing, SpeedFromTheEnvironment) {
    struct Case {
        const char* text;
        double speed;
    };
    for (const Case& c : {Case{"0", 0}, Case{"2.5", 2.5}, Case{"fast", 1}, Case{"-1", 1}}) {
        setenv("TOLMAR_VSENSOR_SPEED", c.text, 1);
        EXPECT_EQ(FifoStream::speedFromEnvironment(), c.speed) << c.text;
    }
    unsetenv("TOLMAR_VSENSOR_SPEED");
    EXPECT_EQ(FifoStream::speedFromEnvironment(), 1.0);
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
        EXPECT_NEAR(gotMean, mean, 4 * spread / std::sqrt(groups) + 1e-12) << c.code;
        const double gotSpread = std::sqrt(std::max(0.0, squares / groups - gotMean * gotMean));
        EXPECT_NEAR(gotSpread, spread, 0.06 * spread + 1e-6) << c.code;
        const double expected = groups * c.n * c.saturated;
        EXPECT_NEAR(saturated, expected, 4 * std::sqrt(expected) + 1e-12) << c.code;
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
    double previous = -1;
    for (double v = 0; v < 80; v += 1) {
        const double i = collectorCurrent(m, 2, 13, v);
        EXPECT_GE(i, previous);
        previous = i;
    }
    EXPECT_NEAR(collectorCurrent(m, 12, 13, -100, 0.1), -0.7e-6, 1e-15);
    EXPECT_EQ(sensorRadius(0, 1), 0.0);
    EXPECT_EQ(sensorRadius(4, 5), 1.0);
    // On the 13-sensor disc the third sensor is the centre, the ring of eight the edge, and
    // the row through the centre lies in between.
    EXPECT_EQ(sensorRadius(2, 13), 0.0);
    EXPECT_EQ(sensorRadius(12, 13), 1.0);
    EXPECT_EQ(sensorRadius(5, 13), 1.0);
    EXPECT_NEAR(sensorRadius(1, 13), 0.4167 / 1.2, 1e-12);
    EXPECT_NEAR(sensorRadius(0, 13), sensorRadius(4, 13), 1e-12);
}

TEST(Model, ThermistorAtTwentyFiveDegreesIsR25PlusSeriesResistance) {
    PlasmaModel m;
    m.thermistors[3] = 25.0;
    const UnitProfile* p = findProfile("disc13");
    EXPECT_NEAR(thermistorResistance(m, *p, 3), p->tempCoef[3][1] + p->tempCoef[3][2], 1e-6);
    m.thermistors[3] = 35.0;
    EXPECT_LT(thermistorResistance(m, *p, 3), p->tempCoef[3][1] + p->tempCoef[3][2]);
}

}  // namespace
