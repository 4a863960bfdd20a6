// The normal-scan reader against hand-built streams: averaging with the outlier rule, raw and
// accumulated layouts, repair of saturated values, every failure code with its restart, software
// averaging, and streams split inside a packet.
#include <vector>

#include "readoutfixture.h"

namespace {

uint16_t w(int v) {
    return static_cast<uint16_t>(v);
}

// Samples of a normal scan in stream order from values[channel][step], n copies each.
Words streamOf(const std::vector<std::vector<int>>& values, int n) {
    Words out;
    for (size_t s = 0; s < values[0].size(); ++s)
        for (const auto& channel : values)
            for (int j = 0; j < n; ++j) out.push_back(w(channel[s]));
    return out;
}

class NormalReaderTest : public ReadOutFixture {
protected:
    // Two channels, `steps` steps, n samples per step.
    void shape(int steps, int n) {
        c_->iv_steps = static_cast<uint16_t>(steps);
        c_->iv_samples = n;
    }
    // Reads `samples` sent as one block in packets of five, whole and then with a read ending
    // inside the second packet (a packet put together from two reads).
    void expectDecoded(const Words& samples, bool averaged, const std::vector<double>& expected) {
        const Words stream = blockPackets(samples, 0xAAAA, 0x5555, 5);
        const size_t bytes = 2 * stream.size();
        for (size_t cut : {bytes, size_t(14)}) {
            board_.reset();
            board_.addSegment(stream);
            board_.setChunks({cut, 2, bytes});
            const Result r = read(averaged, expected.size());
            ASSERT_EQ(r.code, 1) << cut;
            EXPECT_EQ(r.nPoints, expected.size() / c_->nAdcChannels);
            EXPECT_EQ(r.data, expected) << cut;
            EXPECT_EQ(r.status, 0x5555AAAAu);
        }
    }
};

TEST_F(NormalReaderTest, GroupAveragesFollowTheOutlierRule) {
    const struct {
        const char* name;
        Words group;  // channel 0; channel 1 sends as many samples of 7
        double expected;
    } cases[] = {
        {"high outlier dropped", {100, 101, 99, 100, 100, 101, 99, 400}, 100.0},
        {"low outlier dropped", {100, 101, 99, 100, 100, 101, 99, w(-200)}, 100.0},
        {"five samples: plain mean", {100, 400, 100, 100, 100}, 160.0},
        {"saturated left out", {0x8000, 100, 102, 0x8001, 101, 99, 100, 98}, 100.0},
        {"all saturated: from the neighbour", {0x8000, 0x8001, 0x8000, 0x8000}, 7.0},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        shape(1, static_cast<int>(tc.group.size()));
        Words samples = tc.group;
        samples.insert(samples.end(), tc.group.size(), 7);
        expectDecoded(samples, true, {tc.expected, 7});
    }
}

TEST_F(NormalReaderTest, SaturatedValuesTakeTheirNeighbours) {
    constexpr int S = -32768;
    const struct {
        const char* name;
        std::vector<std::vector<int>> values;  // [channel][step]
        std::vector<double> expected;
    } cases[] = {
        {"first", {{S, 20, 30, 40}, {50, 60, 70, 80}}, {20, 20, 30, 40, 50, 60, 70, 80}},
        {"run", {{10, S, S, 40}, {50, 60, 70, 80}}, {10, 25, 25, 40, 50, 60, 70, 80}},
        {"whole channel", {{10, 20, 30, 40}, {S, S, S, S}}, {10, 20, 30, 40, 40, 40, 40, 40}},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        shape(4, 1);
        expectDecoded(streamOf(tc.values, 1), true, tc.expected);
    }
}

TEST_F(NormalReaderTest, RawAndAccumulatedLayouts) {
    {
        SCOPED_TRACE("raw, up and down: stream step, channel, sample; result channel first");
        shape(2, 3);
        c_->up_down_scan = true;
        Words samples;
        std::vector<double> expected(24);
        for (int step = 0; step < 4; ++step)
            for (int ch = 0; ch < 2; ++ch)
                for (int j = 0; j < 3; ++j) {
                    samples.push_back(w(100 * ch + 10 * step + j));
                    expected[ch * 12 + step * 3 + j] = 100 * ch + 10 * step + j;
                }
        expectDecoded(samples, false, expected);
    }
    {
        SCOPED_TRACE("accumulated: per value a zero pair, then the 32-bit sum, high word first");
        shape(2, 2);
        c_->up_down_scan = false;
        c_->run_aux = true;
        // Sums 0x10000, 10, 0x20000, 30 for step 0 channel 0, step 0 channel 1, ...
        expectDecoded({0, 0, 1, 0, 0, 0, 0, 10, 0, 0, 2, 0, 0, 0, 0, 30}, true,
                      {32768, 65536, 5, 15});
    }
}

// ---- failed blocks: code, message, restart and the block read again ----

enum class Fault { StopHeader, LastPacketNotRunning, OneSampleShort, Overlong, ReadFails };

// The faulty block is read again after a restart; a fault that persists gives up after ten.
TEST_F(NormalReaderTest, FailedBlockIsReadAgainAfterRestartButNotForEver) {
    const struct {
        Fault fault;
        int code;
        const char* message;
    } cases[] = {
        {Fault::StopHeader, -2,
         "Either device lost USB connection to PC or scan doesn't run anymore"},
        {Fault::LastPacketNotRunning, -2,
         "Scan doesn't run anymore (probably Tolmar lost USB connection to PC)"},
        {Fault::OneSampleShort, -3,
         "Unexpected termination of measured data block (rxd 3 of 4 expected) Num : 1"},
        {Fault::Overlong, -4,
         "Unexpected termination of measured data block (rxd 4 of 4 expected) Num : 1"},
        {Fault::ReadFails, -1, "Failed to read fifo data from Fpga"},
    };
    shape(2, 1);
    const Words good = streamOf({{1, 2}, {3, 4}}, 1);
    Words overlong = good;
    overlong.push_back(1);
    const Words shorter(good.begin(), good.end() - 1);
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.message);
        auto faultyBlock = [&](int nth) {
            if (tc.fault == Fault::ReadFails)
                return board_.failRead(nth);
            board_.addSegment(
                tc.fault == Fault::StopHeader ? Words{0x0000}
                : tc.fault == Fault::Overlong
                    ? blockPackets(overlong, 0, 0)
                    : blockPackets(shorter, 0, 0, 8191, tc.fault != Fault::LastPacketNotRunning));
        };
        board_.reset();
        faultyBlock(1);
        board_.addSegment(blockPackets(good, 9, 0));
        const Result r = read(true, 4);
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.data, (std::vector<double>{1, 2, 3, 4}));
        EXPECT_EQ(r.status, 9u);
        EXPECT_TRUE(logged(tc.message)) << log();
        EXPECT_TRUE(
            logged("error #1 happened in iteration #0 with code " + std::to_string(tc.code)));
        EXPECT_EQ(board_.blocks().size(), 2u);
        expectRestart();

        board_.reset();
        for (int i = 0; i < 11; ++i) faultyBlock(i + 1);
        board_.addSegment(blockPackets(good, 0, 0));
        EXPECT_EQ(read(true, 4).code, tc.code);
        EXPECT_TRUE(logged("error #11 happened in iteration #0 with code")) << log();
        EXPECT_EQ(board_.blocks().size(), 20u);
    }
}

TEST_F(NormalReaderTest, ThreeBlocksAveragedAndAFailedOneReadAgain) {
    shape(2, 1);
    c_->averageCount = 3;
    Words first = blockPackets(streamOf({{1, 2}, {3, 4}}, 1), 1, 0);
    append(first, blockPackets({50, 50, 50}, 0, 0));  // one value short
    Words rest = blockPackets(streamOf({{5, 6}, {7, 8}}, 1), 2, 0);
    append(rest, blockPackets(streamOf({{9, 10}, {11, 12}}, 1), 4, 0));
    board_.addSegment(first);
    board_.addSegment(rest);
    const Result r = read(true, 4);
    ASSERT_EQ(r.code, 1);
    EXPECT_EQ(r.data, (std::vector<double>{5, 6, 7, 8}));
    EXPECT_EQ(r.status, 7u);
    EXPECT_TRUE(logged("error #1 happened in iteration #1 with code -3")) << log();
}

// The public packet reader (the scan readers have their own): read whole, then a word at a time,
// a packet that arrives in pieces is put together and the rest kept for the next call.
TEST_F(ReadOutFixture, ReadPacketTakesOnePacketAndKeepsTheRest) {
    for (size_t chunk : {size_t(64), size_t(2)}) {
        SCOPED_TRACE(chunk);
        board_.reset();
        c_->packetBufferFill = 0;
        board_.addSegment({0xC003, 11, 22, 0x1111, 0x2222, 0x4002, 33, 0x3333, 0x4444});
        board_.setChunks(std::vector<size_t>(16, chunk));
        short samples[8] = {};
        int count = 0;
        bool running = false, last = false;
        unsigned status = 0;
        ASSERT_EQ(c_->readPacket(samples, count, running, last, status, false), 1);
        EXPECT_EQ(count, 2);
        EXPECT_TRUE(last && running);
        EXPECT_EQ(samples[1], 22);
        EXPECT_EQ(status, 0x22221111u);
        ASSERT_EQ(c_->readPacket(samples, count, running, last, status, false), 1);
        EXPECT_EQ(count, 1);
        EXPECT_FALSE(last);
        EXPECT_EQ(samples[0], 33);
        EXPECT_EQ(status, 0x44443333u);
        EXPECT_EQ(c_->packetBufferFill, 0);
    }
}

// The temperature reader averages 15 samples; one sample must count too.
TEST_F(ReadOutFixture, DoAverageWithSaturateSkipsSaturatedSamples) {
    short mixed[] = {10, -32768, 20, 30};
    EXPECT_EQ(c_->doAverageWithSaturate(mixed, 4, nullptr), 20.0);
    EXPECT_EQ(c_->doAverageWithSaturate(mixed, 1, nullptr), 10.0);
}

}  // namespace
