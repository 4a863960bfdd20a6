// The board's FIFO stream: packets and block contents. (Its faults as the library sees them:
// the fault matrix of the acquisition tests.)
#include <gtest/gtest.h>

#include <algorithm>
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
        {"short, one packet", "single", steps(4095), true, 8189},
        {"three packets", "single", steps(10000), false, 20000},
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

}  // namespace
