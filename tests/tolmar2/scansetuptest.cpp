// Scan set-up on a controller that is not connected: sweeps, idle voltages, ranges, delays,
// averaging, the synchronised time grid and the estimates, against codes and times worked out
// by hand from a round calibration. Nothing may be sent and nothing may wait.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "scantestsupport.h"
#include "tempdir.h"
#include "tolmar2/TolmarCntrl.h"

namespace {

class ScanSetupTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::make_unique<TempDir>(true);
        c_ = std::make_unique<TolmarCntrl>();
        setRoundCalibration(*c_, false);
    }

    void TearDown() override {
        // Not connected: no setter may have tried to send a block, and nothing waited.
        EXPECT_FALSE(logged("Failed to writeFpgaConfigParameters"));
        EXPECT_TRUE(sleeps_.waits().empty());
        c_.reset();
        dir_.reset();
    }

    RecordedSleeps sleeps_;
    std::unique_ptr<TempDir> dir_;
    std::unique_ptr<TolmarCntrl> c_;
};

// ---- sweeps led by one output ----

struct LeadCase {
    const char* name;
    int lead;
    bool vcScannable;
    double vs[3], ve[3];
    double step;
    // expected
    int ivSteps;
    double stepBack;
    int startA, incA, startB, incB, startC, incC;
    double vsBack[3], veBack[3];
};

// A and B: code = 100 V + 2048; an output that follows the lead moves in steps + 1 parts of its
// span. C fixed (positive side 131 V + 9.5, negative -131 V + 12) or scanned (500 V + 32768).
// clang-format off
const LeadCase kLeadCases[] = {
    // 0 -> 10 V by 1 V: 10 steps of 100 codes; B -5 -> 5 V: (2548 - 1548) / 11 = 90.9 -> 91,
    // ending at 1548 + 910 = 2458 (4.1 V). C fixed at 20 V: 131 * 20 + 9.5 = 2629.5 -> 2630,
    // which is (2630 - 9.5) / 131 V.
    {"whole codes, fixed C", 0, false, {0, -5, 20}, {10, 5, 20}, 1.0, 10, 1.0,
     2048, 100, 1548, 91, 2630, 0, {0, -5, 2620.5 / 131}, {10, 4.1, 2620.5 / 131}},
    // The same with a scannable C: one more step. C 0 -> 6 V: 32768 -> 35768, 3000 / 11 =
    // 272.7 -> 273, ending at 32768 + 2730 (5.46 V).
    {"whole codes, scannable C", 0, true, {0, -5, 0}, {10, 5, 6}, 1.0, 11, 1.0,
     2048, 100, 1548, 91, 32768, 273, {0, -5, 0}, {10, 4.1, 5.46}},
    // A step of 50 V is clamped to the 20 V span: 2000 codes, one step from 1048 to 3048.
    {"step clamped to the span", 0, false, {-10, 0, -50}, {10, 0, -50}, 50.0, 1, 20.0,
     1048, 2000, 2048, 0, 6562, 0, {-10, 0, -50}, {10, 0, -50}},
    // Falling: 5 -> -5 V by 0.5 V is 20 steps of -50 codes; the step comes back negative.
    // B rises 0 -> 2 V: 200 codes in 21 parts: 9.52 -> 10, ending at 2048 + 200 (2 V).
    {"falling sweep", 0, false, {5, 0, 0}, {-5, 2, 0}, 0.5, 20, -0.5,
     2548, -50, 2048, 10, 12, 0, {5, 0, 0}, {-5, 2, 0}},
    // 0 -> 8 V by 3.5 V: 350 codes, 800 / 350 = 2.29 -> 2 steps (7 V), within range as is.
    // Voltages beyond the range are clamped first (B -20 -> -10 V).
    {"clamped voltages", 0, false, {0, -20, 0}, {8, 0, 0}, 3.5, 2, 3.5,
     2048, 350, 1048, 333, 12, 0, {0, -10, 0}, {7, -3.34, 0}},
    // -10 -> 10 V by 8 V: 2000 / 800 = 2.5 -> 3 steps would end at 14 V (beyond 11 V): one
    // step less, ending at 6 V. B 0 -> 10 V in 3 parts: 333.3 -> 333.
    {"lead end beyond the margin", 0, false, {-10, 0, 0}, {10, 10, 0}, 8.0, 2, 8.0,
     1048, 800, 2048, 333, 12, 0, {-10, 0, 0}, {6, 6.66, 0}},
    // B leads from 10 down to -10 V by 2.5 V: -250 codes, 8 steps; A follows 0 -> 9 V in nine
    // parts of 100 codes, ending at 8 V. C fixed at 0 V: the negative side's 12.
    {"B leads", 1, false, {0, 10, 0}, {9, -10, 0}, 2.5, 8, -2.5,
     2048, 100, 3048, -250, 12, 0, {0, 10, 0}, {8, -10, 0}},
    // C leads on a board where it is a fixed supply: planned from -100 to -300 V by 10 V
    // (-131 codes per volt: +1310 codes, 20 steps), then held at its start, -131 * -100 + 12.
    // The step is handed back as planned, not as the increment of 0 the supply keeps.
    {"C leads a fixed supply", 2, false, {0, 0, -100}, {0, 0, -300}, 10, 20, -10,
     2048, 0, 2048, 0, 13112, 0, {0, 0, -100}, {0, 0, -100}},
};
// clang-format on

TEST_F(ScanSetupTest, SweepLedByOneOutput) {
    for (const LeadCase& lc : kLeadCases) {
        SCOPED_TRACE(lc.name);
        setRoundCalibration(*c_, lc.vcScannable);
        double vs[3] = {lc.vs[0], lc.vs[1], lc.vs[2]};
        double ve[3] = {lc.ve[0], lc.ve[1], lc.ve[2]};
        int lead = lc.lead;
        double step = lc.step;
        EXPECT_EQ(c_->setScanVoltages(vs, ve, lead, step), lc.ivSteps);
        EXPECT_EQ(c_->iv_steps, lc.ivSteps);
        EXPECT_DOUBLE_EQ(step, lc.stepBack);
        EXPECT_EQ(c_->v_a_start, lc.startA);
        EXPECT_EQ(c_->v_a_inc, lc.incA);
        EXPECT_EQ(c_->v_b_start, lc.startB);
        EXPECT_EQ(c_->v_b_inc, lc.incB);
        EXPECT_EQ(c_->v_c_start, lc.startC);
        EXPECT_EQ(c_->v_c_inc, lc.incC);
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(vs[k], lc.vsBack[k], 1e-9) << "vs" << k;
            EXPECT_NEAR(ve[k], lc.veBack[k], 1e-9) << "ve" << k;
        }
        // A swept lead's end is its start plus the steps taken, with the step handed back.
        const int steps = lc.ivSteps - (lc.vcScannable ? 1 : 0);
        if (lc.lead < 2 || lc.vcScannable) {
            EXPECT_NEAR(ve[lc.lead], vs[lc.lead] + steps * step, 1e-9);
        }
    }
    // The request as asked, then the sweep as set.
    EXPECT_TRUE(
        logged("REQUESTING :vs0 0.000000, vs1 -5.000000, vs2 20.000000 \n "
               "ve0 10.000000 ve1 5.000000 ve2 20.000000 \n"));
    EXPECT_TRUE(
        logged("Scan Voltages set to: s[0.000000 -5.000000 20.003817] "
               "e[10.000000 4.100000 20.003817] leadCh[0 1.000000] steps: 10\n"));
}

struct RefusedSweep {
    const char* name;
    double vs, ve, step;
    const char* message;
};

TEST_F(ScanSetupTest, RefusedSweepsChangeNothing) {
    const RefusedSweep cases[] = {
        {"zero step", 0, 5, 0.0, "Failed to set scan voltages -> leadCh 0 step cannot be 0\n"},
        // 0.004 V is 0.4 codes: no code change, refused like a zero step.
        {"step below one code", 0, 5, 0.004,
         "Failed to set scan voltages -> leadCh 0 step cannot be 0\n"},
        {"not a number", 0, 5, std::nan(""),
         "Failed to set scan voltages -> leadCh 0 step cannot be 0\n"},
        // 0 -> 8 V by 15 V: 800 / 1500 rounds to one step, ending at 15 V: too few to spare.
        {"single step beyond the margin", 0, 8, 15.0,
         "Scan voltage v0[ 0.00  15.00  8.00] out of range\n"},
    };
    for (const RefusedSweep& rc : cases) {
        SCOPED_TRACE(rc.name);
        c_->v_a_inc = 64;
        c_->iv_steps = 8;
        double vs[3] = {rc.vs, 0, 0};
        double ve[3] = {rc.ve, 0, 0};
        int lead = 0;
        double step = rc.step;
        EXPECT_EQ(c_->setScanVoltages(vs, ve, lead, step), 0);
        EXPECT_TRUE(logged(rc.message));
        EXPECT_EQ(c_->v_a_inc, 64);
        EXPECT_EQ(c_->iv_steps, 8);
    }
}

TEST_F(ScanSetupTest, PointCountsAtFixedVoltages) {
    const struct {
        double points;
        int ivSteps;  // with a scannable C; 0 when refused
        const char* message;
    } cases[] = {
        {1, 1, nullptr},
        {4096, 4096, nullptr},
        {0.5, 1, nullptr},  // rounds to one point
        {4097, 0, "Failed to set scan voltages -> number of steps too big (4097.000000)\n"},
        {4096.2, 0, "Failed to set scan voltages -> number of steps too big (4096.200000)\n"},
        {0.4, 0, "Failed to set scan voltages -> Minimal number of steps (0.400000) is 1\n"},
        {-3, 0, "Failed to set scan voltages -> Minimal number of steps (-3.000000) is 1\n"},
    };
    setRoundCalibration(*c_, true);
    for (const auto& pc : cases) {
        SCOPED_TRACE(pc.points);
        c_->v_a_inc = c_->v_b_inc = 64;
        c_->v_c_inc = 64;
        double vs[3] = {1, 2, 3};
        double ve[3] = {9, 9, 9};
        int lead = 3;
        double step = pc.points;
        EXPECT_EQ(c_->setScanVoltages(vs, ve, lead, step), pc.ivSteps);
        if (pc.message) {
            EXPECT_TRUE(logged(pc.message));
            EXPECT_EQ(c_->v_a_inc, 64);
            continue;
        }
        EXPECT_EQ(c_->v_a_inc, 0);
        EXPECT_EQ(c_->v_b_inc, 0);
        EXPECT_EQ(c_->v_c_inc, 0);
        EXPECT_DOUBLE_EQ(ve[0], vs[0]);
        EXPECT_DOUBLE_EQ(vs[1], 2.0);
    }
    // Without a scannable C one point is zero steps.
    setRoundCalibration(*c_, false);
    double vs[3] = {1, 2, 3};
    double ve[3] = {1, 2, 3};
    int lead = -1;
    double step = 1;
    EXPECT_EQ(c_->setScanVoltages(vs, ve, lead, step), 0);
    EXPECT_EQ(c_->iv_steps, 0);
    EXPECT_FALSE(logged("Minimal number of steps (1.000000)"));
}

// ---- the other two forms ----

TEST_F(ScanSetupTest, TwoSegmentSweepOfOutputA) {
    // 0 -> 5 V by 1 V (5 steps of 100), then 5 -> 9 V by 2 V (2 steps of 200).
    EXPECT_TRUE(c_->setScanVoltages(0u, 0.0, 1.0, 5.0, 2.0, 9.0));
    EXPECT_EQ(c_->v_a_start, 2048);
    EXPECT_EQ(c_->v_a_inc, 100);
    EXPECT_EQ(c_->v_a_inc2, 200);
    EXPECT_EQ(c_->v_b_inc, 0);
    EXPECT_EQ(c_->iv_steps2, 6);
    EXPECT_EQ(c_->iv_steps, 8);
    // A hold at 5 V for 3 points, then down to 0 V by 0.5 V (10 steps of -50).
    EXPECT_TRUE(c_->setScanVoltages(0u, 5.0, 3.0, 5.0, 0.5, 0.0));
    EXPECT_EQ(c_->v_a_inc, 0);
    EXPECT_EQ(c_->v_a_inc2, -50);
    EXPECT_EQ(c_->iv_steps2, 4);
    EXPECT_EQ(c_->iv_steps, 14);
    EXPECT_TRUE(
        logged("Scan Voltages set to: v[0][ 5.000000  0.000000  5.000000 -0.500000  "
               "0.000000] steps[4 14]\n"));

    // 0 -> 10 V by 4 V: 1000 / 400 = 2.5 -> 3 steps end at 12 V, with too few to lose one.
    EXPECT_FALSE(c_->setScanVoltages(0u, 0.0, 4.0, 10.0, 2.0, 9.0));
    EXPECT_TRUE(logged("Scan voltage v[0][ 0.00  4.00  10.00  2.00  9.00] out of range\n"));
    EXPECT_EQ(c_->iv_steps, 14);  // unchanged

    // Output B has no second increment: its second segment continues with the first step,
    // 2 steps of 100 codes from 5 V instead of 200 (7 V, not 9 V).
    EXPECT_TRUE(c_->setScanVoltages(1u, 0.0, 1.0, 5.0, 2.0, 9.0));
    EXPECT_EQ(c_->v_b_start, 2048);
    EXPECT_EQ(c_->v_b_inc, 100);
    EXPECT_EQ(c_->v_a_inc, 0);
    EXPECT_EQ(c_->v_a_inc2, 0);
    EXPECT_EQ(c_->iv_steps, 8);
    EXPECT_TRUE(
        logged("Scan Voltages set to: v[1][ 0.000000  1.000000  5.000000  1.000000  "
               "7.000000] steps[6 8]\n"));

    EXPECT_FALSE(c_->setScanVoltages(2u, 0.0, 1.0, 5.0, 2.0, 9.0));
    EXPECT_TRUE(logged("Channel [2] doesn't exist\n"));
    EXPECT_FALSE(c_->setScanVoltages(1u, 0.0, 0.0, 5.0, 2.0, 9.0));
    EXPECT_TRUE(logged("Failed to set scan voltages -> leadCh 1 step cannot be 0\n"));
}

TEST_F(ScanSetupTest, OutputsAAndBTogether) {
    // A 0 -> 6 V by 1 V (6 steps), B 10 -> 0 V by 2 V (5 steps): the scan runs 5 steps, A
    // ends at 5 V. C at -50 V on the negative side: 6550 + 12 = 6562.
    double vaStart = 0, vaStep = 1, vaEnd = 6, vbStart = 10, vbStep = 2, vbEnd = 0, vc = -50;
    EXPECT_TRUE(c_->setScanVoltages(vaStart, vaStep, vaEnd, vbStart, vbStep, vbEnd, vc));
    EXPECT_EQ(c_->iv_steps, 5);
    EXPECT_EQ(c_->v_a_inc, 100);
    EXPECT_EQ(c_->v_b_inc, -200);
    EXPECT_EQ(c_->v_b_start, 3048);
    EXPECT_EQ(c_->v_c_start, 6562);
    EXPECT_DOUBLE_EQ(vaEnd, 5.0);
    EXPECT_DOUBLE_EQ(vbStep, -2.0);
    EXPECT_DOUBLE_EQ(vbEnd, 0.0);
    EXPECT_DOUBLE_EQ(vc, -50.0);
    EXPECT_TRUE(logged("steps[6 5]\n"));
}

// ---- idle voltages and ranges ----

TEST_F(ScanSetupTest, IdleVoltagesAreTheVoltagesOfTheirCodes) {
    const struct {
        const char* name;
        bool vcScannable;
        double asked[3];
        int codes[3];
        double back[3];
    } cases[] = {
        // 123.4 + 2048 -> 2171; -330 + 2048 -> 1718; 500 * 12.3456 + 32768 = 38940.8 -> 38941.
        {"scannable C", true, {1.234, -3.3, 12.3456}, {2171, 1718, 38941}, {1.23, -3.3, 12.346}},
        // Clamped to the range first: 15 -> 10 V, -70 -> -60 V (32768 - 30000).
        {"clamped", true, {15, -10.5, -70}, {3048, 1048, 2768}, {10, -10, -60}},
        // Fixed supply, positive side: 131 * 50 + 9.5 = 6559.5 -> 6560.
        {"positive supply", false, {0, 0, 50}, {2048, 2048, 6560}, {0, 0, 6550.5 / 131}},
        // Negative side: -131 * -500 + 12 = 65512.
        {"negative supply", false, {0, 0, -500}, {2048, 2048, 65512}, {0, 0, -500}},
    };
    for (const auto& ic : cases) {
        SCOPED_TRACE(ic.name);
        setRoundCalibration(*c_, ic.vcScannable);
        double v[3] = {ic.asked[0], ic.asked[1], ic.asked[2]};
        EXPECT_TRUE(c_->setDefVoltages(v));
        EXPECT_EQ(c_->v_a_def, ic.codes[0]);
        EXPECT_EQ(c_->v_b_def, ic.codes[1]);
        EXPECT_EQ(c_->v_c_def, ic.codes[2]);
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(v[k], ic.back[k], 1e-9) << k;
        // The supply's polarity switches are only touched on the board.
        EXPECT_FALSE(c_->aux_sw1 || c_->aux_sw2);
    }
}

TEST_F(ScanSetupTest, FixedSupplyCodesStayWithinTheDac) {
    // A range wider than the DAC: -131 * -600 + 12 = 78612 would wrap; it stops at 65535.
    c_->vRange[2][0] = -600;
    c_->vRange[2][1] = 600;
    double v[3] = {0, 0, -600};
    EXPECT_TRUE(c_->setDefVoltages(v));
    EXPECT_EQ(c_->v_c_def, 65535);
    EXPECT_DOUBLE_EQ(v[2], (65535 - 12) / -131.0);
    // Below the DAC's zero: 131 * 0.01 - 9.5 = -8.19 -> 0.
    c_->cal_dac[3][0] = -9.5;
    v[2] = 0.01;
    EXPECT_TRUE(c_->setDefVoltages(v));
    EXPECT_EQ(c_->v_c_def, 0);
    EXPECT_DOUBLE_EQ(v[2], 9.5 / 131);
}

// ---- timing ----

// The fields the timing setters fill are as wide as the board's: larger requests stop at their
// limit, and each setter leaves the fields of the other kind of scan alone.
TEST_F(ScanSetupTest, TimingSettersLimitTheirFields) {
    EXPECT_TRUE(c_->setSettlingDelays(10, 2000000, 5, 300));
    unsigned z, f, n, iv;
    c_->getSettlingDelays(&z, &f, &n, &iv);
    EXPECT_EQ(std::vector<unsigned>({z, f, n, iv}), std::vector<unsigned>({10, 1000000, 5, 255}));
    EXPECT_TRUE(logged("non autoscale\n"));
    // Automatic mode takes only the per-step delay.
    EXPECT_TRUE(c_->setSettlingDelaysAuto(true));
    EXPECT_TRUE(c_->setSettlingDelays(1, 2, 3, 7));
    c_->getSettlingDelays(&z, &f, &n, &iv);
    EXPECT_EQ(std::vector<unsigned>({z, f, n, iv}), std::vector<unsigned>({10, 1000000, 5, 7}));

    // Averaging: 20 bits each; no second count means the first.
    const struct {
        unsigned samples, samples2;
        int32_t want, want2;
    } averaging[] = {
        {0x100000, 0, 0xFFFFF, 0xFFFFF}, {5, 0, 5, 5}, {5, 7, 5, 7}, {3, 0x7FFFFFFF, 3, 0xFFFFF}};
    for (const auto& ac : averaging) {
        EXPECT_TRUE(c_->setAverageHW(ac.samples, ac.samples2));
        EXPECT_EQ(c_->iv_samples, ac.want);
        EXPECT_EQ(c_->iv_samples2, ac.want2);
    }
    EXPECT_TRUE(logged("iv_samples: 1048575 1048575\n"));
    c_->setAverage(0);
    EXPECT_EQ(c_->averageCount, 1u);

    // A normal scan resets the synchronised grid's multiplier, a synchronised one the phase.
    c_->sync_smpl_mult = 4;
    c_->sync_aux_d = 77;
    EXPECT_TRUE(c_->setScanType(true, false, true));
    EXPECT_TRUE(c_->up_down_scan && !c_->sync_mode && !c_->sync_edge_r_f);
    EXPECT_EQ(c_->sync_smpl_mult, 24);
    EXPECT_EQ(c_->sync_aux_d, 77u);
    c_->sync_smpl_mult = 4;
    EXPECT_TRUE(c_->setScanType(false, true, false));  // not connected: no resync needed
    EXPECT_TRUE(c_->sync_mode && c_->sync_edge_r_f);
    EXPECT_EQ(c_->sync_smpl_mult, 4);
    EXPECT_EQ(c_->sync_aux_d, 0u);
}

TEST_F(ScanSetupTest, SyncTimeGrid) {
    const struct {
        double timeRes;
        uint8_t mult, div;
        double back;
    } cases[] = {
        {0.04, 1, 0, 1 / 24.0}, {0.1, 2, 0, 2 / 24.0},   {0.125, 3, 0, 3 / 24.0},
        {0.2, 4, 0, 4 / 24.0},  {0.25, 6, 0, 6 / 24.0},  {0.4, 8, 0, 8 / 24.0},
        {0.5, 12, 0, 0.5},      {0.75, 24, 0, 1.0},      {0.9, 24, 0, 1.0},
        {-0.1, 2, 0, 2 / 24.0}, {2.4, 24, 2, 2.0},       {1.0, 24, 1, 1.0},
        {2.5, 24, 3, 3.0},      {300.0, 24, 255, 255.0},
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
        // expected
        unsigned startBack;
        uint32_t samples, aux;
        uint8_t div;
        uint32_t trmAvgDiv;
    } cases[] = {
        // 1 kHz: period 1000 us, whole period plus one.
        {"whole period", 1000, 1, 0, 0, 0, false, 0, 1001, 1000, 1, 0},
        // A window longer than the period is the period.
        {"long window", 1000, 1, 10, 2000, 300, false, 10, 1001, 700, 1, 0},
        {"short window", 1000, 1, 10, 400, 1300, false, 10, 401, 700, 1, 0},
        // Divider 5: the end is rounded up as 5 * ceil(1005 / 5) = 1005.
        {"divided", 1000, 5, 0, 0, 0, false, 0, 1005, 1000, 5, 0},
        // 3 kHz: period ceil(333.3) = 334, rounded up as 5 * ceil(339 / 5) = 340; P =
        // round(333.3) = 333; phase 100 -> 233, less 5 / 2 = 2 with software averaging, which
        // takes over the divider.
        {"software averaging", 3000, 5, 0, 0, 100, true, 0, 340, 231, 0, 5},
        // Unknown frequency: no window means all the board can take.
        {"unknown frequency", -4, 1, 0, 0, 500, false, 0, 0xFFFFF, 0, 1, 0},
        {"unknown, window", -1, 1, 0, 250, 0, false, 0, 251, 0, 1, 0},
        // An end equal to the start means no end; the start itself is limited to 20 bits.
        {"end at start", -1, 1, 250, 250, 0, false, 250, 0xFFFFF, 0, 1, 0},
        {"start limited", -1, 1, 0x100000, 0, 0, false, 0xFFFFF, 0xFFFFF, 0, 1, 0},
        // A frequency too low for the fields: everything at its limit, nothing undefined.
        {"absurdly slow", 1e-300, 1, 0, 0, 0, false, 0, 0xFFFFF, 0xFFFFF, 1, 0},
        // One faster than a microsecond: a period of one.
        {"absurdly fast", 1e9, 1, 0, 0, 0, false, 0, 2, 1, 1, 0},
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
    EXPECT_EQ(c_->ScanLimits.syncFrequency, -1);

    // Up and down doubles time and counts.
    c_->up_down_scan = true;
    c_->estimateScanResources();
    EXPECT_DOUBLE_EQ(c_->ScanLimits.scanRate, 1e6 / 57360);
    EXPECT_EQ(c_->ScanLimits.valuesPerScan, 40u);
    EXPECT_EQ(c_->ScanLimits.samplesExpected, 3u * 1280u);

    // No steps: no time, no rate.
    c_->iv_steps = 0;
    c_->estimateScanResources();
    EXPECT_EQ(c_->ScanLimits.scanRate, -1);
    EXPECT_EQ(c_->ScanLimits.scanDuration, 0);
}

struct SyncEstimateCase {
    const char* name;
    uint16_t firmware;
    uint32_t period;
    uint8_t mult, div;
    bool trmAvg;
    uint32_t trmAvgDiv;
    double T;
    double frequency;
    uint32_t samples, values;
};

TEST_F(ScanSetupTest, SynchronisedScanEstimate) {
    // Period 192000 counts: p = 1000 us; usable = (24000 - 1 - 93) / 24 = 996 slots, less
    // than the window of 1001; dead time 1000 - 996 = 4 us. 10 steps, 2 channels.
    // Whole microseconds: T = 10 * 2 * 1 * 1000 = 20000; dead time 4 is not below iv = 4;
    // below m1 = 200: + 9 * ceil(196 / 1000) * 1000; below m2 = 1000: + 1000 -> 30000.
    // 996 slots: 2 * 996 * 10 = 19920 samples.
    // 1/12 us slots (mult 2): T = 10 * 2 * 12 * 1000 = 240000, dead time 4 - 2/24 < 4 adds
    // 1 * 1000 * 10, then 9000 and 1000 -> 260000; 2 * 12 * 996 * 10 = 239040 samples.
    // Software averaging of 4 slots: ceil(996 / 4) = 249 -> 2 * 10 * 249 = 4980 values.
    // Divider 3: ceil(996 / 3) = 332 slots -> 6640 samples.
    const SyncEstimateCase cases[] = {
        {"whole microseconds", 0xAC59, 192000, 24, 0, false, 0, 30000, 1000, 19920, 19920},
        {"twelfth microseconds", 0xAC59, 192000, 2, 0, false, 0, 260000, 1000, 239040, 239040},
        {"software averaging", 0xAC59, 192000, 24, 0, true, 4, 30000, 1000, 19920, 4980},
        {"divided", 0xAC59, 192000, 24, 3, false, 0, 30000, 1000, 6640, 6640},
        // Newer firmware: the same slots and time from the same count; only the frequency
        // estimate doubles, except on 0xACF1.
        {"newer firmware", 0xACE2, 192000, 24, 0, false, 0, 30000, 2000, 19920, 19920},
        {"exception to the doubling", 0xACF1, 192000, 24, 0, false, 0, 30000, 1000, 19920, 19920},
    };
    for (const SyncEstimateCase& sc : cases) {
        SCOPED_TRACE(sc.name);
        c_->nAdcChannels = 2;
        c_->iv_steps = 10;
        c_->sync_mode = true;
        c_->sync_samples = 1001;
        c_->sync_f_smpl_d = 0;
        c_->sync_frq8 = sc.period;
        c_->sync_frq_locked = true;
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
    EXPECT_TRUE(logged("sync Period ::: 1000.000000 tmp ::: 996, sync spl mult : 24\n"));

    // An acquisition starting late leaves fewer slots: 996 - 900 = 96.
    c_->sync_smpl_div = 0;
    c_->trmAvg = false;
    c_->sync_f_smpl_d = 900;
    c_->estimateScanResources();
    EXPECT_EQ(c_->ScanLimits.samplesExpected, 2u * 96u * 10u);
    c_->sync_f_smpl_d = 5000;
    c_->estimateScanResources();
    EXPECT_EQ(c_->ScanLimits.samplesExpected, 0u);
    c_->sync_smpl_div = 3;  // no slots either when they are counted in threes
    c_->estimateScanResources();
    EXPECT_EQ(c_->ScanLimits.samplesExpected, 0u);
}

TEST_F(ScanSetupTest, SyncStatusInTheEstimate) {
    const struct {
        bool locked, high, low;
        uint32_t period;
        double frequency;
    } cases[] = {
        {true, false, true, 192000, -2}, {true, true, false, 192000, -3},
        {true, true, true, 192000, -2},  {false, false, false, 192000, -4},
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
    // No period at all: no time, no rate; the library must not divide by it.
    EXPECT_EQ(c_->ScanLimits.scanRate, -1);

    // A synchronised scan needs the board's read-back: not connected, nothing is known.
    double rate = 0, duration = 0, frequency = 0;
    long values = 0;
    EXPECT_TRUE(c_->getScanResources(rate, duration, frequency, values));
    EXPECT_EQ(rate, -1);
    EXPECT_EQ(duration, -1);
    EXPECT_EQ(frequency, -1);
    EXPECT_EQ(values, -1);
    double hz = 5;
    EXPECT_EQ(c_->getSyncFreq(&hz, true), 0);
    EXPECT_EQ(hz, 5);
}

}  // namespace
