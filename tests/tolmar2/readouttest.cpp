// The normal-scan reader and the packet reader against hand-built streams: averaging with the
// outlier rule, raw and accumulated layouts, repair of saturated values, every failure code with
// its restart, software averaging, and streams split at every read boundary.
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "readoutfixture.h"

namespace {

using Words = std::vector<uint16_t>;

uint16_t w(int v) {
    return static_cast<uint16_t>(v);
}

// Samples of a normal scan in stream order from values[channel][step] (N copies each, or the
// given per-value sample groups).
Words streamOf(const std::vector<std::vector<int>>& values, int n) {
    Words out;
    const size_t steps = values[0].size();
    for (size_t s = 0; s < steps; ++s)
        for (const auto& channel : values)
            for (int j = 0; j < n; ++j) out.push_back(w(channel[s]));
    return out;
}

struct Result {
    int code = 0;
    std::vector<double> data;
    unsigned nPoints = 0;
    unsigned status = 0;
};

class NormalReaderTest : public ReadOutFixture {
protected:
    // Two channels, `steps` steps, n samples per step.
    void shape(int steps, int n) {
        c_->iv_steps = static_cast<uint16_t>(steps);
        c_->iv_samples = n;
    }
    Result read(bool averaged, size_t values) {
        Result r;
        double* data = nullptr;
        r.code = c_->readFpgaFifoData(data, averaged, r.nPoints, r.status);
        if (data)
            r.data.assign(data, data + values);
        return r;
    }
};

// ---- averaging of one group of samples ----

TEST_F(NormalReaderTest, GroupAveragesFollowTheOutlierRule) {
    const struct {
        const char* name;
        Words group;  // channel 0; channel 1 is all 7
        double expected;
    } cases[] = {
        {"high outlier dropped", {100, 101, 99, 100, 100, 101, 99, 400}, 100.0},
        {"low outlier dropped", {100, 101, 99, 100, 100, 101, 99, w(-200)}, 100.0},
        {"five samples: plain mean", {100, 400, 100, 100, 100}, 160.0},
        {"six balanced: plain mean", {100, 101, 99, 100, 100, 101}, 601.0 / 6},
        {"saturated left out", {0x8000, 100, 102, 0x8001, 101, 99, 100, 98}, 100.0},
        {"all saturated: repaired from the neighbour", {0x8000, 0x8001, 0x8000, 0x8000}, 7.0},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        board_.reset();
        const int n = static_cast<int>(tc.group.size());
        shape(1, n);
        Words samples = tc.group;
        samples.insert(samples.end(), n, 7);
        board_.addSegment(blockPackets(samples, 0x1234, 0x5678));
        const Result r = read(true, 2);
        ASSERT_EQ(r.code, 1);
        EXPECT_EQ(r.nPoints, 1u);
        EXPECT_EQ(r.status, 0x56781234u);
        EXPECT_NEAR(r.data[0], tc.expected, 1e-12);
        EXPECT_EQ(r.data[1], 7.0);
    }
}

// ---- repair of saturated values in the result array ----

TEST_F(NormalReaderTest, SaturatedValuesTakeTheirNeighbours) {
    constexpr int S = -32768;
    const struct {
        const char* name;
        std::vector<std::vector<int>> values;  // [channel][step]; S saturated
        std::vector<double> expected;          // the result array
    } cases[] = {
        {"inner", {{10, S, 30, 40}, {50, 60, 70, 80}}, {10, 20, 30, 40, 50, 60, 70, 80}},
        {"first", {{S, 20, 30, 40}, {50, 60, 70, 80}}, {20, 20, 30, 40, 50, 60, 70, 80}},
        {"last", {{10, 20, 30, 40}, {50, 60, 70, S}}, {10, 20, 30, 40, 50, 60, 70, 70}},
        {"run", {{10, S, S, 40}, {50, 60, 70, 80}}, {10, 25, 25, 40, 50, 60, 70, 80}},
        {"whole channel", {{10, 20, 30, 40}, {S, S, S, S}}, {10, 20, 30, 40, 40, 40, 40, 40}},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        board_.reset();
        shape(4, 1);
        board_.addSegment(blockPackets(streamOf(tc.values, 1), 0, 0));
        const Result r = read(true, 8);
        ASSERT_EQ(r.code, 1);
        EXPECT_EQ(r.data, tc.expected);
    }
}

// ---- failed blocks: code, message, restart and the block read again ----

enum class Fault { StopHeader, LastPacketNotRunning, OneSampleShort, Overlong, ReadFails };

struct FailureCase {
    const char* name;
    Fault fault;
    int code;
    const char* message;
};

Words faultyBlock(Fault fault, const Words& good) {
    switch (fault) {
        case Fault::StopHeader:
            return {0x0000};
        case Fault::LastPacketNotRunning:
            return blockPackets(Words(good.begin(), good.end() - 1), 0, 0, 8191, false);
        case Fault::OneSampleShort:
            return blockPackets(Words(good.begin(), good.end() - 1), 0, 0);
        case Fault::Overlong: {
            Words more = good;
            more.push_back(1);
            return blockPackets(more, 0, 0);
        }
        case Fault::ReadFails:
            break;
    }
    return {};
}

class FailureTest : public NormalReaderTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FailureTest, FailedBlockIsReadAgainAfterRestart) {
    const FailureCase& tc = GetParam();
    shape(2, 1);
    const Words good = streamOf({{1, 2}, {3, 4}}, 1);
    if (tc.fault == Fault::ReadFails) {
        board_.failRead(1);
    } else {
        board_.addSegment(faultyBlock(tc.fault, good));
    }
    board_.addSegment(blockPackets(good, 9, 0));
    const Result r = read(true, 4);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.data, (std::vector<double>{1, 2, 3, 4}));
    EXPECT_EQ(r.status, 9u);
    EXPECT_TRUE(logged(tc.message)) << log();
    EXPECT_TRUE(logged("error #1 happened in iteration #0 with code " + std::to_string(tc.code)))
        << log();
    // The restart: stop with the FIFO cleared, then run again.
    const auto blocks = board_.blocks();
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_FALSE(runBit(blocks[0]));
    EXPECT_TRUE(clearFifoBit(blocks[0]));
    EXPECT_TRUE(runBit(blocks[1]));
    EXPECT_FALSE(clearFifoBit(blocks[1]));
}

TEST_P(FailureTest, PersistentFailureGivesUpAfterTenRestarts) {
    const FailureCase& tc = GetParam();
    shape(2, 1);
    const Words good = streamOf({{1, 2}, {3, 4}}, 1);
    for (int i = 0; i < 11; ++i) {
        if (tc.fault == Fault::ReadFails) {
            board_.failRead(i + 1);
        } else {
            board_.addSegment(faultyBlock(tc.fault, good));
        }
    }
    board_.addSegment(blockPackets(good, 0, 0));
    const Result r = read(true, 4);
    EXPECT_EQ(r.code, tc.code);
    EXPECT_TRUE(logged("error #11 happened in iteration #0 with code")) << log();
    EXPECT_EQ(board_.blocks().size(), 20u);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FailureTest,
    ::testing::Values(
        FailureCase{"StopHeader", Fault::StopHeader, -2,
                    "Either device lost USB connection to PC or scan doesn't run anymore"},
        FailureCase{"LastPacketNotRunning", Fault::LastPacketNotRunning, -2,
                    "Scan doesn't run anymore (probably Tolmar lost USB connection to PC)"},
        FailureCase{"OneSampleShort", Fault::OneSampleShort, -3,
                    "Unexpected termination of measured data block (rxd 3 of 4 expected) Num : 1"},
        FailureCase{"Overlong", Fault::Overlong, -4,
                    "Unexpected termination of measured data block (rxd 4 of 4 expected) Num : 1"},
        FailureCase{"ReadFails", Fault::ReadFails, -1, "Failed to read fifo data from Fpga"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(NormalReaderTest, RestartThatCannotStopOrRunEndsTheRead) {
    struct Case {
        int failingWrite;
        int code;
        const char* message;
    };
    for (const Case& tc :
         {Case{1, -6, "Failed to stop running scan"}, Case{2, -7, "Failed to run scan"}}) {
        board_.reset();
        shape(1, 1);
        c_->run_en = true;
        board_.failWrite(tc.failingWrite);
        board_.addSegment({0x0000});
        const Result r = read(true, 2);
        EXPECT_EQ(r.code, tc.code);
        EXPECT_TRUE(logged(tc.message));
    }
}

TEST_F(NormalReaderTest, ScanStoppedFromAnotherThreadEndsTheWait) {
    shape(1, 1);
    board_.setStall(true);  // the board sends nothing
    std::atomic<bool> done{false};
    Result r;
    std::thread reader([&] {
        r = read(true, 2);
        done = true;
    });
    while (board_.readCount() < 3 && !done) std::this_thread::yield();
    c_->run_en = false;
    reader.join();
    EXPECT_EQ(r.code, -5);
    EXPECT_TRUE(board_.blocks().empty());  // no restart after a stop
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

TEST_F(NormalReaderTest, RawLayoutIsChannelThenStepThenSample) {
    shape(2, 3);
    c_->up_down_scan = true;  // four steps in the block
    Words samples;
    for (int step = 0; step < 4; ++step)
        for (int ch = 0; ch < 2; ++ch)
            for (int j = 0; j < 3; ++j) samples.push_back(w(100 * ch + 10 * step + j));
    board_.addSegment(blockPackets(samples, 0, 0, 7));
    const Result r = read(false, 24);
    ASSERT_EQ(r.code, 1);
    EXPECT_EQ(r.nPoints, 12u);
    for (int ch = 0; ch < 2; ++ch)
        for (int step = 0; step < 4; ++step)
            for (int j = 0; j < 3; ++j)
                EXPECT_EQ(r.data[ch * 12 + step * 3 + j], 100 * ch + 10 * step + j);
}

TEST_F(NormalReaderTest, AccumulatedSumsSkipZeroPairs) {
    shape(2, 2);
    c_->run_aux = true;
    // Per value two pairs: a zero pair, then the 32-bit sum (high word first).
    Words samples;
    const uint32_t sums[4] = {0x00010000, 10, 0x00020000, 30};  // s0c0, s0c1, s1c0, s1c1
    for (uint32_t sum : sums) {
        append(samples, {0, 0, static_cast<uint16_t>(sum >> 16), static_cast<uint16_t>(sum)});
    }
    board_.addSegment(blockPackets(samples, 0, 0));
    const Result r = read(true, 4);
    ASSERT_EQ(r.code, 1);
    EXPECT_EQ(r.nPoints, 2u);
    EXPECT_EQ(r.data, (std::vector<double>{32768, 65536, 5, 15}));
}

TEST_F(NormalReaderTest, DisabledChannelsExpandToZeroArrays) {
    c_->deviceOptions = TolmarCntrl::OPTION_CHANNEL_ENABLE;
    c_->nAdcChannels = 4;
    c_->nEnabledChannels = 2;
    for (int i = 0; i < TolmarCntrl::MAX_CHANNELS; ++i) c_->channelEnabled[i] = i == 0 || i == 2;
    shape(1, 2);
    c_->up_down_scan = true;
    board_.addSegment(blockPackets(streamOf({{1, 2}, {3, 4}}, 2), 0, 0));
    const Result r = read(true, 8);
    ASSERT_EQ(r.code, 1);
    EXPECT_EQ(r.nPoints, 2u);
    EXPECT_EQ(r.data, (std::vector<double>{1, 2, 0, 0, 3, 4, 0, 0}));
}

TEST_F(NormalReaderTest, NoNormalScanRunningGivesNoData) {
    struct Case {
        bool run;
        bool sync;
        const char* message;
    };
    for (const Case& tc : {Case{false, false, "Scan wasn't started"},
                           Case{true, true, "you should use readFpgaFifoDataTRM"}}) {
        c_->run_en = tc.run;
        c_->sync_mode = tc.sync;
        const Result r = read(true, 0);
        EXPECT_EQ(r.code, 1);
        EXPECT_TRUE(r.data.empty());
        EXPECT_TRUE(logged(tc.message));
    }
}

TEST_F(NormalReaderTest, ResultTooLargeToAllocateFails) {
    c_->nAdcChannels = 24;
    shape(4095, 0xFFFFF);
    const Result r = read(false, 0);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(c_->scanDataCapacity, 0u);
    EXPECT_TRUE(logged("Failed to allocate memory of double["));
}

// ---- the same stream split at every read boundary ----

TEST_F(NormalReaderTest, EveryReadBoundaryGivesTheSameResult) {
    const struct {
        const char* name;
        bool averaged;
        bool accumulated;
    } modes[] = {{"averaged", true, false}, {"raw", false, false}, {"accumulated", true, true}};
    for (const auto& tc : modes) {
        SCOPED_TRACE(tc.name);
        board_.reset();
        shape(3, 4);
        c_->run_aux = tc.accumulated;
        Words samples;
        for (int i = 0; i < (tc.accumulated ? 48 : 24); ++i)
            samples.push_back(w(tc.accumulated ? (i % 4 == 3 ? 4 * i : 0) : (i * 37) % 101 - 50));
        const Words stream = blockPackets(samples, 0xAAAA, 0x5555, 5);
        const size_t values = tc.averaged || tc.accumulated ? 6 : 24;

        board_.addSegment(stream);
        const Result whole = read(tc.averaged, values);
        ASSERT_EQ(whole.code, 1);
        const size_t bytes = 2 * stream.size();
        // The FIFO is 16 bits wide: reads end on word boundaries. A cut anywhere, then one
        // word, then the rest; then reads of every even size.
        std::vector<std::vector<size_t>> chunkings;
        for (size_t cut = 2; cut < bytes; cut += 2) chunkings.push_back({cut, 2, bytes});
        for (size_t chunk = 2; chunk < 64; chunk += 2)
            chunkings.push_back(std::vector<size_t>(bytes, chunk));
        for (const std::vector<size_t>& chunks : chunkings) {
            board_.reset();
            board_.addSegment(stream);
            board_.setChunks(chunks);
            const Result r = read(tc.averaged, values);
            ASSERT_EQ(r.code, 1) << chunks[0];
            EXPECT_EQ(r.data, whole.data) << chunks[0];
            EXPECT_EQ(r.status, 0x5555AAAAu);
        }
    }
}

// ---- the two-channel self-test readers ----

// Groups alternate between the two channels; the parity reader clears bit 0 of every word,
// reports a word whose parity is wrong, and averages each of its two segments with its own
// sample count.
TEST_F(NormalReaderTest, TwoChannelSelfTestReaders) {
    const struct {
        const char* name;
        bool parity;
        Words samples;
        std::vector<double> a, b, rawA, rawB;
    } cases[] = {
        // Two steps of three: b's 0x4000 is skipped when averaging.
        {"alternating",
         false,
         {10, 11, 12, 20, 21, 0x4000, 13, 14, 15, 0x7FFE, 30, 32},
         {11, 14},
         {20.5, 31},
         {10, 11, 12, 13, 14, 15},
         {20, 21, 0x4000, 0x7FFE, 30, 32}},
        // One step of two samples per channel, then one of three; 21 has its parity set.
        {"parity",
         true,
         {10, 20, 12, 21, 30, 40, 32, 40, 34, 40},
         {11, 32},
         {20, 40},
         {10, 12, 30, 32, 34},
         {20, 20, 40, 40, 40}},
    };
    for (const auto& tc : cases) {
        for (bool averaged : {true, false}) {
            SCOPED_TRACE(std::string(tc.name) + (averaged ? ", averaged" : ", raw"));
            board_.reset();
            c_->iv_steps = 2;
            c_->iv_steps2 = tc.parity ? 1 : 0;
            c_->iv_samples = tc.parity ? 2 : 3;
            c_->iv_samples2 = 3;
            board_.addSegment(blockPackets(tc.samples, 0, 0));
            double *a = nullptr, *b = nullptr;
            unsigned nPoints = 0, status = 0;
            ASSERT_EQ(tc.parity ? c_->readFpgaFifoData2(a, b, averaged, nPoints, status)
                                : c_->readFpgaFifoData(a, b, averaged, nPoints, status),
                      1);
            EXPECT_EQ(std::vector<double>(a, a + nPoints), averaged ? tc.a : tc.rawA);
            EXPECT_EQ(std::vector<double>(b, b + nPoints), averaged ? tc.b : tc.rawB);
        }
    }
    EXPECT_TRUE(logged("Sample parity error:0015, scan:000, sample:003"));
}

// ---- readPacket ----

TEST_F(ReadOutFixture, ReadPacketTakesOnePacketAndKeepsTheRest) {
    // Read whole, then a word at a time: a packet that arrives in pieces is put together.
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
        EXPECT_TRUE(last);
        EXPECT_TRUE(running);
        EXPECT_EQ(samples[0], 11);
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

TEST_F(ReadOutFixture, DoAverageWithSaturateSkipsSaturatedSamples) {
    short mixed[] = {10, -32768, 20, 30};
    short none[] = {-32768, -32768};
    EXPECT_EQ(c_->doAverageWithSaturate(mixed, 4, nullptr), 20.0);
    EXPECT_EQ(c_->doAverageWithSaturate(none, 2, nullptr), 0.0);
    EXPECT_EQ(c_->doAverageWithSaturate(mixed, 1, nullptr), 10.0);
    EXPECT_EQ(c_->doAverageWithSaturate(mixed, 0, nullptr), 0.0);
}

TEST_F(ReadOutFixture, ProgressWithoutAnEstimateIsZero) {
    c_->ScanLimits.samplesExpected = 0;
    c_->samplesRead = 10;
    int percent = -1, elapsed = -1;
    double duration = 0;
    c_->getScanProgress(percent, duration, elapsed);
    EXPECT_EQ(percent, 0);
    c_->ScanLimits.samplesExpected = 40;
    c_->getScanProgress(percent, duration, elapsed);
    EXPECT_EQ(percent, 25);
}

}  // namespace
