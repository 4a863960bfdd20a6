// The board's FIFO stream: packets, block contents per scan kind, faults, and the noise of the
// samples.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "FifoStream.h"

namespace {

using namespace vsensor;
using namespace vsensor::detail;
using Words = std::vector<uint16_t>;

// A block decoded by the packet framing: a header word (bit 15 last packet, bit 14 running,
// bits 0-12 the count, at most 8191) before each packet's words. Sync blocks lead with a
// period packet. `data` is the samples, then the two status words.
struct Decoded {
    Words period, data;
    bool lastRunning = true;
};

Decoded decode(const Words& words, bool withPeriod = false) {
    Decoded d;
    size_t at = withPeriod ? 1 + (words.at(0) & 0x1FFF) : 0;
    d.period.assign(words.begin() + (withPeriod ? 1 : 0), words.begin() + at);
    while (at < words.size()) {
        const uint16_t header = words[at++];
        const size_t n = header & 0x1FFF;
        EXPECT_LE(at + n, words.size());
        d.data.insert(d.data.end(), words.begin() + at, words.begin() + at + n);
        at += n;
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
    r.samples = r.setup_iv_delay = 4;
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

TEST(Blocks, BlockCarriesStepsChannelsAndSamplesThroughTheFifo) {
    using Set = std::function<void(ScanSetup&)>;
    // With one sample per step on a two-channel unit, 2 x steps sample words, one less for a
    // short block, and the status words never split from the last packet.
    const auto steps = [](uint16_t n) {
        return [n](ScanSetup& s) {
            s.registers.iv_steps = n;
            s.registers.samples = 1;
        };
    };
    const struct {
        const char* name;
        const char* profile;
        Set set;
        bool shortBlock;
        size_t sampleWords;
    } cases[] = {
        {"one packet", "single", steps(4094), false, 8188},
        {"short, one packet", "single", steps(4095), true, 8189},
        {"status words into a second packet", "single", steps(4095), false, 8190},
        {"three packets", "single", steps(10000), false, 20000},
        {"two channels", "single", [](ScanSetup&) {}, false, 3 * 2 * 4},
        {"up and down", "single", [](ScanSetup& s) { s.registers.up_down_scan = true; }, false,
         6 * 2 * 4},
        {"accumulated", "single", [](ScanSetup& s) { s.registers.run_aux = true; }, false,
         3 * 2 * 8},
        {"disc, five disabled", "disc13",
         [](ScanSetup& s) { s.registers.channels_disabled = 0x1F; }, false, 3 * 19 * 4},
        {"temperature: 13 channels of four phases", "disc13",
         [](ScanSetup& s) { s.registers.read_temp = true; }, false, 2080},
        {"sync: two phases per slot", "disc13",
         [](ScanSetup& s) {
             syncScan(s);
             s.registers.sync_smpl_mult = 12;
         },
         false, 10 * 2 * 3 * 24},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScanSetup s = setupFor(c.profile);
        c.set(s);
        FaultSchedule f;
        if (c.shortBlock)
            f.schedule(Fault::ShortBlock, 1, 1);
        FaultSchedule g = f;  // the same faults for the FIFO
        const Words block = BlockBuilder(s).next(f);
        const Decoded d = decode(block, s.registers.sync_mode);
        ASSERT_EQ(d.data.size(), c.sampleWords + 2);
        EXPECT_EQ(d.data[c.sampleWords], 1);  // block number
        EXPECT_EQ(d.data[c.sampleWords + 1], 0xA500);
        EXPECT_TRUE(d.lastRunning);
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

// A stopped stream ends on an empty last packet, a lost sync breaks the block off, a changed
// sync period shows from the block it was scheduled for.
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
    for (int period : {2048, 2049, 2049}) EXPECT_EQ(decode(change.next(f), true).period[0], period);
}

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
    // A current with noise of several codes and saturated samples, a monitor with noise below
    // a code, a level without noise, and a few samples drawn one by one.
    using Level = BlockBuilder::Level;
    for (const auto& [c, n] : {std::pair<Level, uint32_t>{{100.3, 6.5, 0.01}, 2000},
                               {{-40.25, 0.4, 0}, 64},
                               {{12.0, 0, 0}, 64},
                               {{5.5, 2, 0.05}, 16}}) {
        SCOPED_TRACE(c.code);
        BlockBuilder b(setupFor("single"));
        const int groups = 3000;
        Words codes(n);
        double sum = 0, squares = 0, saturated = 0;
        for (int g = 0; g < groups; ++g) {
            b.drawSamples(c, n, codes.data());
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
        const double spread = std::sqrt(variance / (n * (1 - c.saturated)));
        const double gotMean = sum / groups;
        EXPECT_NEAR(gotMean, mean, 4 * spread / std::sqrt(groups) + 1e-12);
        const double gotSpread = std::sqrt(std::max(0.0, squares / groups - gotMean * gotMean));
        EXPECT_NEAR(gotSpread, spread, 0.06 * spread + 1e-6);
        const double expected = groups * n * c.saturated;
        EXPECT_NEAR(saturated, expected, 4 * std::sqrt(expected) + 1e-12);
    }
}

}  // namespace
