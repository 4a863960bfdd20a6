// The readers against streams no working board sends: random packets with any header bits and
// counts up to 8191, good blocks cut short, overlong or with flipped bits, period packets in the
// wrong place, read-back values that disagree with the stream. Whatever arrives, a reader must
// end with one of its result codes and hand out sizes that fit the arrays it owns. Every value
// handed out is read, so a build with KALDER_SANITIZE=address also catches any access past a
// buffer.
#include <algorithm>
#include <random>
#include <set>
#include <vector>

#include "readoutfixture.h"

namespace {

class HostileStreamTest : public ReadOutFixture {
protected:
    uint16_t word() { return static_cast<uint16_t>(rng_()); }
    size_t below(size_t n) { return n ? rng_() % n : 0; }
    bool chance(unsigned percent) { return rng_() % 100 < percent; }

    // A packet with a random header: last and running bits, a count that is often small, now
    // and then the largest, and the words it announces (or fewer, at the end of a stream).
    void randomPacket(Words& out) {
        static const uint16_t kCounts[] = {0, 1, 2, 3, 8190, 8191};
        const uint16_t count = chance(30)   ? kCounts[below(std::size(kCounts))]
                               : chance(80) ? static_cast<uint16_t>(below(64))
                                            : static_cast<uint16_t>(below(8192));
        out.push_back(static_cast<uint16_t>((word() & 0xE000) | count));
        const size_t n = chance(90) ? count : below(count + 1);
        for (size_t i = 0; i < n; ++i) out.push_back(chance(5) ? 0x8000 : word());
    }

    // A block of `samples` sample words as a board packs it, then (when `spoil`) spoilt in one
    // of several ways.
    Words block(size_t samples, bool periodFirst, bool spoil = true) {
        Words data(samples);
        for (uint16_t& v : data) v = chance(3) ? 0x8001 : static_cast<uint16_t>(below(2000));
        Words out;
        if (periodFirst && !chance(10))
            append(out, periodPacket(chance(95) ? 2048 : static_cast<uint32_t>(rng_())));
        append(out, blockPackets(data, word(), word(), 2 + below(8190), !chance(5)));
        switch (spoil ? below(6) : 0) {
            case 0:  // as sent
                break;
            case 1:  // cut anywhere
                out.resize(below(out.size() + 1));
                break;
            case 2:  // bits flipped anywhere, headers included
                for (size_t i = 0, n = 1 + below(8); i < n && !out.empty(); ++i)
                    out[below(out.size())] ^= static_cast<uint16_t>(1u << below(16));
                break;
            case 3:  // more packets after the end
                for (size_t i = 0, n = 1 + below(3); i < n; ++i) randomPacket(out);
                break;
            case 4:  // a block of another size
                return block(below(2 * samples + 3), periodFirst);
            default:  // noise before the block
                Words noise;
                for (size_t i = 0, n = 1 + below(3); i < n; ++i) randomPacket(noise);
                append(noise, out);
                return noise;
        }
        return out;
    }

    // One segment per restart the reader may need, then the board goes quiet.
    void script(size_t samples, bool periodFirst) {
        board_.reset();
        for (int s = 0; s < 12; ++s) {
            Words segment;
            if (s == 0 && chance(30)) {
                segment = block(samples, periodFirst, false);
            } else if (chance(25)) {
                for (size_t i = 0, n = 1 + below(6); i < n; ++i) randomPacket(segment);
            } else {
                segment = block(samples, periodFirst);
            }
            board_.addSegment(segment);
        }
        if (chance(50)) {
            // Reads that end anywhere (on a word boundary), a few of them very short.
            std::vector<size_t> chunks(64);
            for (size_t& c : chunks) c = 2 * (1 + below(chance(10) ? 8 : 4096));
            board_.setChunks(chunks);
        }
        if (chance(5))
            board_.failRead(1 + static_cast<int>(below(20)));
    }

    // A board shape: channels, enables as the read-back may report them, steps and samples.
    void randomShape() {
        static const int kChannels[] = {2, 16, 20, 24};
        c_->nAdcChannels = kChannels[below(std::size(kChannels))];
        c_->nProbes = c_->nAdcChannels == 2 ? 1 : c_->nAdcChannels - 4;
        c_->deviceOptions = chance(50) ? TolmarCntrl::OPTION_CHANNEL_ENABLE : 0;
        int enabled = 0;
        for (int ch = 0; ch < TolmarCntrl::MAX_CHANNELS; ++ch) {
            c_->channelEnabled[ch] = !chance(20);
            enabled += c_->channelEnabled[ch];
        }
        // Usually the count of the flags; now and then one that disagrees with them.
        c_->nEnabledChannels = chance(80) ? enabled : static_cast<int>(below(30));
        c_->iv_steps = static_cast<uint16_t>(1 + below(12));
        c_->iv_samples = static_cast<int32_t>(1 + below(8));
        c_->up_down_scan = chance(30);
        c_->run_aux = chance(20);
        c_->averageCount = static_cast<uint32_t>(1 + below(3));
        c_->run_en = true;
        c_->abortRequested = false;
    }

    // Sample words of a normal scan's block, as a board that agrees with its read-back sends.
    int streamedChannels() const {
        const bool enables = c_->deviceOptions & TolmarCntrl::OPTION_CHANNEL_ENABLE;
        return std::clamp(enables ? c_->nEnabledChannels : c_->nAdcChannels, 0,
                          TolmarCntrl::MAX_CHANNELS);
    }
    size_t blockWords() const {
        return size_t(c_->iv_steps) * c_->iv_samples * streamedChannels() *
               (c_->up_down_scan ? 2 : 1) * (c_->run_aux ? 2 : 1);
    }

    // Reads every value of `count` handed out at `data`, which must lie in scanData.
    void touch(const double* data, size_t count) {
        if (!data)
            return;
        const double* begin = c_->scanData.get();
        ASSERT_NE(begin, nullptr);
        ASSERT_GE(data, begin);
        ASSERT_LE(static_cast<size_t>(data - begin) + count, c_->scanDataCapacity);
        volatile double sum = 0;
        for (size_t i = 0; i < count; ++i) sum = sum + data[i];
    }

    std::mt19937 rng_{20240607};
};

// Read directly, or (a third of the rounds) converted, where the record's probe and monitor
// counts decide the compaction of 24-value frames.
TEST_F(HostileStreamTest, NormalReaderEndsWithACodeAndStaysInItsArrays) {
    const std::set<int> codes = {1, 0, -1, -2, -3, -4, -5, -6, -7};
    for (int round = 0; round < 500; ++round) {
        SCOPED_TRACE(round);
        randomShape();
        c_->sync_mode = false;
        c_->nExtProbes = static_cast<uint32_t>(below(40));
        c_->nVchan = static_cast<uint8_t>(below(10));
        script(blockWords(), false);
        if (chance(33)) {
            const OneScan s = oneScan();
            EXPECT_TRUE(codes.count(s.code)) << s.code;
            EXPECT_LE(s.nChannels, TolmarCntrl::MAX_CHANNELS);
            if (s.code == 1)
                touch(s.data, size_t(s.nScans) * s.nPoints * std::max(s.nChannels, 0));
            continue;
        }
        double* data = nullptr;
        unsigned nPoints = 0, status = 0;
        const int code = c_->readFpgaFifoData(data, chance(70), nPoints, status);
        EXPECT_TRUE(codes.count(code)) << code;
        // A complete read hands out nAdcChannels arrays of nPoints values (averaged) or of the
        // channel length (raw); after a failure only the code counts.
        if (code == 1)
            touch(data, size_t(nPoints) * c_->nAdcChannels);
    }
}

TEST_F(HostileStreamTest, TimeResolvedReaderEndsWithACodeAndStaysInItsArrays) {
    const std::set<int> codes = {1, 0, -1, -2, -4, -5, -6, -7, -8, -9, -10, -11};
    static const uint8_t kMult[] = {1, 2, 3, 4, 6, 8, 12, 24};
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        randomShape();
        c_->run_aux = false;
        c_->sync_mode = true;
        if (chance(50))
            c_->averageCount = 1;  // a period change ends averaged reads: fewer of those
        c_->sync_smpl_mult = kMult[below(std::size(kMult))];
        c_->sync_smpl_div = static_cast<uint8_t>(chance(50) ? 0 : below(4));
        c_->trmAvg = chance(40);
        c_->trmAvgDiv = static_cast<uint32_t>(below(5));
        c_->sync_samples = chance(50) ? 0xFFFFF : static_cast<uint32_t>(below(40));
        c_->sync_f_smpl_d = static_cast<uint32_t>(chance(50) ? 0 : below(12));
        // Blocks mostly of the size a period of 2048 counts (10 slots) gives.
        c_->sync_frq8 = 2048;
        c_->estimateScanResources();
        script(c_->ScanLimits.samplesExpected / c_->averageCount / c_->nAdcChannels *
                   streamedChannels(),
               true);
        board_.setSyncStatus(!chance(10), chance(70) ? 2048 : static_cast<uint32_t>(below(9000)),
                             chance(5), chance(5));
        double* data = nullptr;
        unsigned nScans = 0, nPoints = 0, status = 0;
        const int code = c_->readFpgaFifoDataTRM(data, nScans, nPoints, status);
        EXPECT_TRUE(codes.count(code)) << code;
        if (code == 1)
            touch(data, size_t(nScans) * nPoints * c_->nAdcChannels);
    }
}

}  // namespace
