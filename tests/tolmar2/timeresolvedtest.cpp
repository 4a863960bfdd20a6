// The time-resolved and temperature readers against hand-built streams, and a stop from another
// thread for both scan readers.
#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "readoutfixture.h"

namespace {

// A sync period of 2048 counts leaves (256 - 1 - 1) / 24 = 10 one-microsecond slots.
constexpr uint32_t kPeriod = 2048;
constexpr int kSlots = 10;

class TimeResolvedTest : public ReadOutFixture {
protected:
    void SetUp() override {
        ReadOutFixture::SetUp();
        c_->sync_mode = true;
        c_->iv_steps = 2;
        c_->sync_samples = 0xFFFFF;
        board_.setSyncStatus(true, kPeriod);
    }

    // Samples of one block: step, channel, slot; value(step, channel, slot).
    template <class F>
    static Words samples(F value, int slots = kSlots) {
        Words out;
        for (int s = 0; s < 2; ++s)
            for (int c = 0; c < 2; ++c)
                for (int t = 0; t < slots; ++t)
                    out.push_back(static_cast<uint16_t>(value(s, c, t)));
        return out;
    }
    static Words block(const Words& samples, uint32_t period = kPeriod, uint16_t status = 0) {
        Words out = periodPacket(period);
        append(out, blockPackets(samples, status, 0, 7));
        return out;
    }

    static double at(const Result& r, int t, int c, int s) { return r.data[(t * 2 + c) * 2 + s]; }
};

int plain(int s, int c, int t) {
    return 1000 * s + 100 * c + t;
}

// Each slot is one frame; a saturated sample takes the previous one's value.
TEST_F(TimeResolvedTest, EachSlotIsOneFrame) {
    // A 1 kHz signal is 192,000 counts: usable = (24000 - 1 - 93) / 24 = 996 slots within the
    // window of 1001; 2 steps of 2 channels give a block of 3984 samples.
    constexpr int kSlotsAt1kHz = 996;
    c_->sync_samples = 1001;
    Words block1 = samples(plain, kSlotsAt1kHz);
    block1[3] = 0x8000;
    board_.addSegment(block(block1, 192000, 5));
    const Result r = readTrm();
    ASSERT_EQ(r.code, 1);
    EXPECT_EQ(r.nScans, unsigned(kSlotsAt1kHz));
    EXPECT_EQ(r.nPoints, 2u);
    EXPECT_EQ(r.status, 5u);
    EXPECT_EQ(c_->sync_frq8, 192000u);
    EXPECT_EQ(c_->ScanLimits.samplesExpected, 3984u);
    for (int t = 0; t < kSlotsAt1kHz; ++t)
        for (int c = 0; c < 2; ++c)
            for (int s = 0; s < 2; ++s)
                EXPECT_EQ(at(r, t, c, s), t == 3 && c + s == 0 ? 2 : plain(s, c, t));
}

// Two blocks averaged, and slots averaged in cells of four; read whole, then with a read that
// ends two words into the second block.
TEST_F(TimeResolvedTest, SlotAveragingFillsCellsOfFourFourAndTwo) {
    c_->trmAvg = true;
    c_->trmAvgDiv = 4;
    c_->averageCount = 2;
    auto first = [](int s, int c, int t) { return 1000 * s + 100 * c + 2 * t; };
    auto second = [](int s, int c, int t) { return 1000 * s + 100 * c + 2 * t + 10; };
    Words stream = block(samples(first), kPeriod, 1);
    const size_t firstBytes = 2 * stream.size();
    append(stream, block(samples(second), kPeriod, 2));
    const size_t bytes = 2 * stream.size();
    for (size_t cut : {bytes, firstBytes + 4}) {
        SCOPED_TRACE(cut);
        board_.reset();
        board_.setSyncStatus(true, kPeriod);
        board_.addSegment(stream);
        board_.setChunks({cut, 2, bytes});
        const Result r = readTrm();
        ASSERT_EQ(r.code, 1);
        ASSERT_EQ(r.nScans, 3u);
        EXPECT_EQ(r.status, 3u);
        // Cell means over both blocks: slots 0-3 (2t mean 3), 4-7 (11), 8-9 (17), + 5.
        const double cellMean[3] = {3 + 5, 11 + 5, 17 + 5};
        for (int t = 0; t < 3; ++t)
            for (int c = 0; c < 2; ++c)
                for (int s = 0; s < 2; ++s)
                    EXPECT_EQ(at(r, t, c, s), 1000 * s + 100 * c + cellMean[t]);
    }
}

// Slots counted in pairs from slot 30 of 10: 5 - 15 pairs, none left; the board sends blocks
// of nothing but their status words.
TEST_F(TimeResolvedTest, WindowStartingAfterTheLastSlotGivesNoSlots) {
    c_->sync_smpl_div = 2;
    c_->sync_f_smpl_d = 30;
    board_.addSegment(block(Words{}, kPeriod, 6));
    const Result r = readTrm();
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.nScans, 0u);
    EXPECT_EQ(r.status, 6u);
}

// Both readers, the time-resolved one past its period packet, wait on a board that sends
// nothing. A reader that missed the stop would wait for ever: after many more empty reads the
// board fails them instead, which ends such a read with another code.
TEST_F(TimeResolvedTest, ScanStoppedFromAnotherThreadEndsTheWait) {
    for (bool sync : {false, true}) {
        SCOPED_TRACE(sync);
        board_.reset();
        c_->run_en = true;
        c_->sync_mode = sync;
        if (sync)
            board_.addSegment(periodPacket(kPeriod));
        board_.setStall(true);
        std::atomic<bool> done{false};
        Result r;
        std::thread reader([&] {
            r = sync ? readTrm() : read(true, 2);
            done = true;
        });
        while (board_.readCount() < 3 && !done) std::this_thread::yield();
        c_->run_en = false;
        const int seen = board_.readCount();
        while (!done && board_.readCount() < seen + 100000) std::this_thread::yield();
        board_.setStall(false);
        reader.join();
        EXPECT_EQ(r.code, sync ? -7 : -5);
        EXPECT_TRUE(board_.blocks().empty());  // no restart after a stop
    }
}

// A block that ends early makes the reader stop with the FIFO cleared and read the lock back:
// locked, it runs again and reads the block anew; not locked, the read ends.
TEST_F(TimeResolvedTest, EarlyEndRestartsOnceTheBoardIsLocked) {
    const Words good = samples(plain);
    auto cut = [&](size_t n, bool running) {  // n samples, then the status words
        Words out = periodPacket(kPeriod);
        append(out, blockPackets(Words(good.begin(), good.begin() + n), 0, 0, 7, running));
        return out;
    };
    const Words stop = {0x4002, kPeriod, 0, 0x0000};  // the period, then the board stops
    const struct {
        Words bad;
        int error, code;  // not locked (and the sync too fast) when the read ends
        const char* message;
    } cases[] = {
        {cut(30, false), -4, 1,
         "Scan doesn't run anymore (probably it lost synchronization to TTL signal)"},
        {cut(19, true), -5, 1, "error #1"},
        {cut(20, true), -6, 1, "Received packet size of 21 samples is too short (should be 40)"},
        {stop, -2, -11,
         "Tolmar is not synchronized (SYNC frequency is too high to synchronize CNVST to it)\n"},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.message);
        board_.reset();
        c_->run_en = true;
        board_.setSyncStatus(tc.code == 1, kPeriod, tc.code != 1);
        board_.addSegment(tc.bad);
        board_.addSegment(block(good));
        const Result r = readTrm();
        EXPECT_EQ(r.code, tc.code);
        EXPECT_TRUE(logged(tc.message)) << log();
        EXPECT_TRUE(
            logged("error #1 happened in iteration #0 with code " + std::to_string(tc.error)));
        if (tc.code == 1) {
            EXPECT_EQ(at(r, 9, 1, 1), plain(1, 1, 9));
            expectRestart();  // with a read-back for the lock between
        }
    }
}

// ---- temperature blocks ----

// Calibration slope giving R = 1,049,900 ohm (R25 + Rs, that is 25 degrees) for a first step
// of -300 codes and a second of +200.
constexpr double kR25Total = 1049900.0;
constexpr double kSlope = 3.0 / (300 * kR25Total);

double bEquation(double r, double b, double r25, double rs) {
    return 1 / (std::log((r - rs) / r25) / b + 1 / 298.15) - 273.15;
}

// 13 channels of four phases of 40 samples: 25 settling, then the phase's level (+ k).
Words tempSamples(const int codes[4]) {
    Words out;
    for (int k = 0; k < 13; ++k)
        for (int phase = 0; phase < 4; ++phase)
            for (int j = 0; j < 40; ++j)
                out.push_back(static_cast<uint16_t>(j < 25 ? 9999 : codes[phase] + k));
    return out;
}

TEST_F(ReadOutFixture, TemperatureChannelsConvertToDegrees) {
    c_->read_temp = true;
    c_->gain = true;
    const struct {
        const char* name;
        int codes[4];    // phase levels
        double coef[3];  // B, R25, Rs
        double expected;
    } cases[] = {
        {"25 degrees", {1000, 700, 500, 700}, {2461, 1e6, 49900}, 25.0},
        {"first step only", {1000, 700, 500, 500}, {2461, 1e6, 49900}, 25.0},
        {"R equals Rs", {1000, 700, 500, 700}, {2461, 1e6, kR25Total}, -300.0},
        {"open input",
         {1000, 1000, 700, 500},
         {2461, 1e6, 49900},
         bEquation(1e9, 2461, 1e6, 49900)},
        {"B out of range gives R", {1000, 700, 500, 700}, {0.5, 1e6, 49900}, kR25Total},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        board_.reset();
        for (int k = 0; k < 13; ++k) {
            c_->cal_adc[k][0][0] = 0;
            c_->cal_adc[k][0][1] = kSlope;
            std::copy(tc.coef, tc.coef + 3, c_->tempCoef[k]);
        }
        Words samples = tempSamples(tc.codes);
        samples[30] = 0x8000;  // a saturated sample is left out of its average
        board_.addSegment(blockPackets(samples, 0x0101, 0x0202, 512));
        double t[13] = {};
        unsigned n = 0, status = 0;
        ASSERT_EQ(c_->readFpgaFifoDataTEMP(t, n, status), 1);
        EXPECT_EQ(n, 13u);
        EXPECT_EQ(status, 0x02020101u);
        for (int k = 0; k < 13; ++k) EXPECT_NEAR(t[k], tc.expected, 1e-6) << k;
    }
}

}  // namespace
