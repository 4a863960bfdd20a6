// Scan set-up on a controller that is not connected: sweeps, idle voltages, delays, averaging,
// the synchronised time grid and the estimates, against codes and times worked out by hand from
// a round calibration. Nothing may be sent and nothing may wait.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "Platform.h"
#include "tempdir.h"
#include "tolmar2/TolmarCntrl.h"

namespace {

int waitsAsked = 0;
void countWait(unsigned) {
    ++waitsAsked;
}

bool logged(const std::string& text) {
    return readWholeFile("tarvo.log").find(text) != std::string::npos;
}

// Codes that can be worked out by hand: outputs A and B code = 100 V + 2048 over -10..10 V;
// C scanned code = 500 V + 32768 over -60..60 V; C as a fixed supply over -500..500 V, negative
// side code = -131 V + 12, positive side 131 V + 9.5.
void setRoundCalibration(TolmarCntrl& c, bool vcScannable) {
    for (int k = 0; k < 2; ++k) {
        c.cal_dac[k][0] = 2048;
        c.cal_dac[k][1] = 100;
        c.vRange[k][0] = -10;
        c.vRange[k][1] = 10;
    }
    c.vcScannable = vcScannable;
    c.cal_dac[2][0] = vcScannable ? 32768 : 12;
    c.cal_dac[2][1] = vcScannable ? 500 : -131;
    c.cal_dac[3][0] = 9.5;
    c.cal_dac[3][1] = 131;
    c.vRange[2][0] = vcScannable ? -60 : -500;
    c.vRange[2][1] = -c.vRange[2][0];
}

class ScanSetupTest : public ::testing::Test {
protected:
    void SetUp() override {
        waitsAsked = 0;
        tolmar2::platform::setSleepFunction(&countWait);
        setRoundCalibration(*c_, false);
    }

    void TearDown() override {
        EXPECT_FALSE(logged("Failed to writeFpgaConfigParameters"));  // nothing was sent
        EXPECT_EQ(waitsAsked, 0);
        tolmar2::platform::setSleepFunction(nullptr);
    }

    std::vector<int> codes() const {
        return {c_->v_a_start, c_->v_a_inc, c_->v_b_start, c_->v_b_inc, c_->v_c_start, c_->v_c_inc};
    }

    TempDir dir_{true};
    std::unique_ptr<TolmarCntrl> c_ = std::make_unique<TolmarCntrl>();
};

// ---- sweeps ----

struct LeadCase {
    const char* name;
    int lead;
    bool vcScannable;
    double vs[3], ve[3];
    double step;
    int ivSteps;
    double stepBack;
    std::vector<int> codes;  // start and increment of A, B and C
    double vsBack[3], veBack[3];
};

// A follower moves in steps + 1 parts of its span.
// clang-format off
const LeadCase kLeadCases[] = {
    // 10 steps of 100; B (2548 - 1548) / 11 -> 91, ending at 2458 (4.1 V); C 2629.5 -> 2630.
    {"whole codes, fixed C", 0, false, {0, -5, 20}, {10, 5, 20}, 1.0, 10, 1.0,
     {2048, 100, 1548, 91, 2630, 0}, {0, -5, 2620.5 / 131}, {10, 4.1, 2620.5 / 131}},
    // A scannable C adds a step; C 3000 / 11 -> 273, ending at 32768 + 2730 (5.46 V).
    {"whole codes, scannable C", 0, true, {0, -5, 0}, {10, 5, 6}, 1.0, 11, 1.0,
     {2048, 100, 1548, 91, 32768, 273}, {0, -5, 0}, {10, 4.1, 5.46}},
    // A step of 50 V is clamped to the 20 V span.
    {"step clamped to the span", 0, false, {-10, 0, -50}, {10, 0, -50}, 50.0, 1, 20.0,
     {1048, 2000, 2048, 0, 6562, 0}, {-10, 0, -50}, {10, 0, -50}},
    // 800 / 350 -> 2 steps (7 V); B is clamped to -10 V first.
    {"clamped voltages", 0, false, {0, -20, 0}, {8, 0, 0}, 3.5, 2, 3.5,
     {2048, 350, 1048, 333, 12, 0}, {0, -10, 0}, {7, -3.34, 0}},
    // 2000 / 800 -> 3 steps would end at 14 V, beyond 11 V: one step less.
    {"lead end beyond the margin", 0, false, {-10, 0, 0}, {10, 10, 0}, 8.0, 2, 8.0,
     {1048, 800, 2048, 333, 12, 0}, {-10, 0, 0}, {6, 6.66, 0}},
    {"B leads", 1, false, {0, 10, 0}, {9, -10, 0}, 2.5, 8, -2.5,
     {2048, 100, 3048, -250, 12, 0}, {0, 10, 0}, {8, -10, 0}},
    // A fixed supply as lead: planned (+1310 codes, 20 steps), then held at its start.
    {"C leads a fixed supply", 2, false, {0, 0, -100}, {0, 0, -300}, 10, 20, -10,
     {2048, 0, 2048, 0, 13112, 0}, {0, 0, -100}, {0, 0, -100}},
    // Lead 3: the step is a number of points, here the most there may be, at fixed voltages.
    {"points at fixed voltages", 3, true, {1, 2, 3}, {9, 9, 9}, 4096, 4096, 4096,
     {2148, 0, 2248, 0, 34268, 0}, {1, 2, 3}, {1, 2, 3}},
};
// clang-format on

TEST_F(ScanSetupTest, SweepLedByOneOutput) {
    for (const LeadCase& lc : kLeadCases) {
        SCOPED_TRACE(lc.name);
        setRoundCalibration(*c_, lc.vcScannable);
        double vs[3] = {lc.vs[0], lc.vs[1], lc.vs[2]};
        double ve[3] = {lc.ve[0], lc.ve[1], lc.ve[2]};
        double step = lc.step;
        int lead = lc.lead;
        EXPECT_EQ(c_->setScanVoltages(vs, ve, lead, step), lc.ivSteps);
        EXPECT_EQ(c_->iv_steps, lc.ivSteps);
        EXPECT_DOUBLE_EQ(step, lc.stepBack);
        EXPECT_EQ(codes(), lc.codes);
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(vs[k], lc.vsBack[k], 1e-9) << "vs" << k;
            EXPECT_NEAR(ve[k], lc.veBack[k], 1e-9) << "ve" << k;
        }
    }
    EXPECT_TRUE(
        logged("REQUESTING :vs0 0.000000, vs1 -5.000000, vs2 20.000000 \n "
               "ve0 10.000000 ve1 5.000000 ve2 20.000000 \n"));
}

// Refused requests log why and change nothing; lead 3 asks for a number of points.
TEST_F(ScanSetupTest, RefusedSweepsChangeNothing) {
    const struct {
        int lead;
        double step;
        const char* message;
    } cases[] = {
        {0, 0.004, "Failed to set scan voltages -> leadCh 0 step cannot be 0\n"},  // 0.4 codes
        // 800 / 1500 rounds to one step, ending at 15 V with none to spare.
        {0, 15.0, "Scan voltage v0[ 0.00  15.00  8.00] out of range\n"},
        {3, 4097, "Failed to set scan voltages -> number of steps too big (4097.000000)\n"},
        {3, 0.4, "Failed to set scan voltages -> Minimal number of steps (0.400000) is 1\n"},
    };
    setRoundCalibration(*c_, true);
    for (const auto& rc : cases) {
        SCOPED_TRACE(rc.message);
        c_->v_a_inc = 64;
        c_->iv_steps = 8;
        double vs[3] = {0, 0, 0}, ve[3] = {8, 0, 0}, step = rc.step;
        int lead = rc.lead;
        EXPECT_EQ(c_->setScanVoltages(vs, ve, lead, step), 0);
        EXPECT_TRUE(logged(rc.message));
        EXPECT_EQ(c_->v_a_inc, 64);
        EXPECT_EQ(c_->iv_steps, 8);
    }
}

TEST_F(ScanSetupTest, TwoSegmentSweepOfOutputA) {
    // 0 -> 5 V by 1 V (5 steps of 100), then 5 -> 9 V by 2 V (2 steps of 200).
    const auto segments = [this] {
        return std::vector<int>{c_->v_a_start, c_->v_a_inc,   c_->v_a_inc2,
                                c_->v_b_inc,   c_->iv_steps2, c_->iv_steps};
    };
    EXPECT_TRUE(c_->setScanVoltages(0u, 0.0, 1.0, 5.0, 2.0, 9.0));
    EXPECT_EQ(segments(), (std::vector<int>{2048, 100, 200, 0, 6, 8}));
    // A hold at 5 V for 3 points, then down to 0 V by 0.5 V (10 steps of -50).
    EXPECT_TRUE(c_->setScanVoltages(0u, 5.0, 3.0, 5.0, 0.5, 0.0));
    EXPECT_EQ(segments(), (std::vector<int>{2548, 0, -50, 0, 4, 14}));

    // 0 -> 10 V by 4 V: 3 steps end at 12 V, with too few to lose one.
    EXPECT_FALSE(c_->setScanVoltages(0u, 0.0, 4.0, 10.0, 2.0, 9.0));
    EXPECT_TRUE(logged("Scan voltage v[0][ 0.00  4.00  10.00  2.00  9.00] out of range\n"));
    EXPECT_EQ(c_->iv_steps, 14);
}

// ---- idle voltages ----

TEST_F(ScanSetupTest, IdleVoltagesAreTheVoltagesOfTheirCodes) {
    const struct {
        const char* name;
        bool vcScannable;
        double asked[3];
        std::vector<int> codes;
        double back[3];
    } cases[] = {
        // 123.4 + 2048 -> 2171; -330 + 2048; 500 * 12.3456 + 32768 = 38940.8 -> 38941.
        {"scannable C", true, {1.234, -3.3, 12.3456}, {2171, 1718, 38941}, {1.23, -3.3, 12.346}},
        {"clamped", true, {15, -10.5, -70}, {3048, 1048, 2768}, {10, -10, -60}},
        {"positive supply", false, {0, 0, 50}, {2048, 2048, 6560}, {0, 0, 6550.5 / 131}},
    };
    for (const auto& ic : cases) {
        SCOPED_TRACE(ic.name);
        setRoundCalibration(*c_, ic.vcScannable);
        double v[3] = {ic.asked[0], ic.asked[1], ic.asked[2]};
        EXPECT_TRUE(c_->setDefVoltages(v));
        EXPECT_EQ((std::vector<int>{c_->v_a_def, c_->v_b_def, c_->v_c_def}), ic.codes);
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(v[k], ic.back[k], 1e-9) << k;
    }

    // A range wider than the DAC: -131 * -600 + 12 = 78612 would wrap; it stops at 65535.
    c_->vRange[2][0] = -600;
    double v[3] = {0, 0, -600};
    EXPECT_TRUE(c_->setDefVoltages(v));
    EXPECT_EQ(c_->v_c_def, 65535);
    EXPECT_DOUBLE_EQ(v[2], (65535 - 12) / -131.0);
}

// ---- timing ----

// Larger requests stop at the board's field widths.
TEST_F(ScanSetupTest, TimingSettersLimitTheirFields) {
    unsigned z, f, n, iv;
    EXPECT_TRUE(c_->setSettlingDelays(10, 2000000, 5, 300));
    c_->getSettlingDelays(&z, &f, &n, &iv);
    EXPECT_EQ(std::vector<unsigned>({z, f, n, iv}), std::vector<unsigned>({10, 1000000, 5, 255}));

    // Averaging: 20 bits each; no second count means the first.
    const struct {
        unsigned samples, samples2;
        int32_t want, want2;
    } averaging[] = {{0x100000, 0, 0xFFFFF, 0xFFFFF}, {5, 7, 5, 7}, {3, 0x7FFFFFFF, 3, 0xFFFFF}};
    for (const auto& ac : averaging) {
        EXPECT_TRUE(c_->setAverageHW(ac.samples, ac.samples2));
        EXPECT_EQ(c_->iv_samples, ac.want);
        EXPECT_EQ(c_->iv_samples2, ac.want2);
    }
}

TEST_F(ScanSetupTest, SyncTimeGrid) {
    // Below 0.75 us in 1/24 us multiples, then whole microseconds by the divider.
    const struct {
        double timeRes;
        uint8_t mult, div;
        double back;
    } cases[] = {
        {0.04, 1, 0, 1 / 24.0}, {0.1, 2, 0, 2 / 24.0}, {0.4, 8, 0, 8 / 24.0},
        {0.5, 12, 0, 0.5},      {0.75, 24, 0, 1.0},    {-0.1, 2, 0, 2 / 24.0},
        {2.4, 24, 2, 2.0},      {2.5, 24, 3, 3.0},     {300.0, 24, 255, 255.0},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.timeRes);
        double timeRes = tc.timeRes;
        unsigned start = 0, window = 0, phase = 0;
        EXPECT_TRUE(c_->setSyncScanParameters(timeRes, start, window, phase, false));
        EXPECT_EQ(c_->sync_smpl_mult, tc.mult);
        EXPECT_EQ(c_->sync_smpl_div, tc.div);
        EXPECT_DOUBLE_EQ(timeRes, tc.back);
    }
}

TEST_F(ScanSetupTest, SyncAcquisitionWindowAndPhase) {
    const struct {
        const char* name;
        double frequency;  // ScanLimits.syncFrequency; <= 0 unknown
        double timeRes;
        unsigned start, window, phase;
        bool trmAvg;
        unsigned startBack;
        uint32_t samples, aux;
        uint8_t div;
        uint32_t trmAvgDiv;
    } cases[] = {
        // 1 kHz: period 1000 us, whole period plus one.
        {"whole period", 1000, 1, 0, 0, 0, false, 0, 1001, 1000, 1, 0},
        // A shorter window ends early; the phase is counted back from the period.
        {"short window", 1000, 1, 10, 400, 1300, false, 10, 401, 700, 1, 0},
        // Divider 5: the end is rounded up as 5 * ceil(1005 / 5).
        {"divided", 1000, 5, 0, 0, 0, false, 0, 1005, 1000, 5, 0},
        // 3 kHz: period ceil(333.3) = 334, end 5 * ceil(339 / 5) = 340; phase 333 - 100, less
        // 5 / 2 with software averaging, which takes over the divider.
        {"software averaging", 3000, 5, 0, 0, 100, true, 0, 340, 231, 0, 5},
        // Unknown frequency: no window means all the board can take.
        {"unknown frequency", -4, 1, 0, 0, 500, false, 0, 0xFFFFF, 0, 1, 0},
    };
    for (const auto& sc : cases) {
        SCOPED_TRACE(sc.name);
        c_->ScanLimits.syncFrequency = sc.frequency;
        double timeRes = sc.timeRes;
        unsigned start = sc.start, window = sc.window, phase = sc.phase;
        EXPECT_TRUE(c_->setSyncScanParameters(timeRes, start, window, phase, sc.trmAvg));
        EXPECT_EQ(start, sc.startBack);
        EXPECT_EQ(c_->sync_f_smpl_d, sc.startBack);
        EXPECT_EQ(c_->sync_samples, sc.samples);
        EXPECT_EQ(c_->sync_aux_d, sc.aux);
        EXPECT_EQ(c_->sync_smpl_div, sc.div);
        EXPECT_EQ(c_->trmAvgDiv, sc.trmAvgDiv);
        EXPECT_EQ(c_->trmAvg, sc.trmAvg);
    }
}

// ---- estimates ----

TEST_F(ScanSetupTest, NormalScanEstimate) {
    // 10 steps, 2 channels, 32 samples, delays 4 / 200 / 1000 us:
    // T = ((2 - 1) * 4 + 1000 + 2 * 32 + 9 * 200) * 10 = 28680 us.
    c_->nAdcChannels = 2;
    c_->iv_steps = 10;
    c_->setAverage(3);
    c_->estimateScanResources();
    EXPECT_DOUBLE_EQ(c_->ScanLimits.scanRate, 1e6 / 28680);
    EXPECT_DOUBLE_EQ(c_->ScanLimits.scanDuration, 3 * 28680e-6 * 0.65);
    EXPECT_EQ(c_->ScanLimits.valuesPerScan, 20u);
    EXPECT_EQ(c_->ScanLimits.samplesExpected, 3u * 640u);

    c_->up_down_scan = true;  // doubles time and counts
    c_->estimateScanResources();
    EXPECT_DOUBLE_EQ(c_->ScanLimits.scanRate, 1e6 / 57360);
    EXPECT_EQ(c_->ScanLimits.valuesPerScan, 40u);
    EXPECT_EQ(c_->ScanLimits.samplesExpected, 3u * 1280u);
}

TEST_F(ScanSetupTest, SynchronisedScanEstimate) {
    // Period 192000 counts: p = 1000 us; usable = (24000 - 1 - 93) / 24 = 996 slots, less
    // than the window of 1001; dead time 1000 - 996 = 4 us. 10 steps, 2 channels.
    // Whole microseconds: T = 10 * 2 * 1 * 1000 = 20000; dead time 4 is not below iv = 4;
    // below m1 = 200: + 9 * ceil(196 / 1000) * 1000; below m2 = 1000: + 1000 -> 30000.
    // 996 slots: 2 * 996 * 10 = 19920 samples.
    // 1/12 us slots (mult 2): T = 10 * 2 * 12 * 1000 = 240000, dead time 4 - 2/24 < 4 adds
    // 1 * 1000 * 10, then 9000 and 1000 -> 260000; 2 * 12 * 996 * 10 = 239040 samples.
    const struct {
        const char* name;
        uint16_t firmware;
        uint8_t mult, div;
        bool trmAvg;
        uint32_t trmAvgDiv;
        double T, frequency;
        uint32_t samples, values;
    } cases[] = {
        {"whole microseconds", 0xAC59, 24, 0, false, 0, 30000, 1000, 19920, 19920},
        {"twelfth microseconds", 0xAC59, 2, 0, false, 0, 260000, 1000, 239040, 239040},
        // Newer firmware doubles only the frequency estimate, except on 0xACF1.
        {"newer firmware", 0xACE2, 24, 0, false, 0, 30000, 2000, 19920, 19920},
        {"exception to the doubling", 0xACF1, 24, 0, false, 0, 30000, 1000, 19920, 19920},
    };
    c_->nAdcChannels = 2;
    c_->iv_steps = 10;
    c_->sync_mode = true;
    c_->sync_samples = 1001;
    c_->sync_frq8 = 192000;
    c_->sync_frq_locked = true;
    for (const auto& sc : cases) {
        SCOPED_TRACE(sc.name);
        c_->fpgaFirmwareID = sc.firmware;
        c_->sync_smpl_mult = sc.mult;
        c_->sync_smpl_div = sc.div;
        c_->trmAvg = sc.trmAvg;
        c_->trmAvgDiv = sc.trmAvgDiv;
        c_->estimateScanResources();
        EXPECT_DOUBLE_EQ(c_->ScanLimits.scanRate, 1e6 / sc.T);
        EXPECT_DOUBLE_EQ(c_->ScanLimits.scanDuration, sc.T * 1e-6 * 0.65);
        EXPECT_DOUBLE_EQ(c_->ScanLimits.syncFrequency, sc.frequency);
        EXPECT_EQ(c_->ScanLimits.samplesExpected, sc.samples);
        EXPECT_EQ(c_->ScanLimits.valuesPerScan, sc.values);
    }
}

TEST_F(ScanSetupTest, SyncStatusInTheEstimate) {
    const struct {
        bool locked, high, low;
        uint32_t period;
        double frequency;
    } cases[] = {
        {true, false, true, 192000, -2},
        {true, true, false, 192000, -3},
        {true, false, false, 0, -4},
    };
    c_->sync_mode = true;
    c_->iv_steps = 4;
    for (const auto& sc : cases) {
        c_->sync_frq_locked = sc.locked;
        c_->sync_frq_high = sc.high;
        c_->sync_frq_low = sc.low;
        c_->sync_frq8 = sc.period;
        c_->estimateScanResources();
        EXPECT_EQ(c_->ScanLimits.syncFrequency, sc.frequency);
    }
    EXPECT_EQ(c_->ScanLimits.scanRate, -1);  // no period: the library must not divide by it
}

}  // namespace
