// Scan set-up against the virtual board: what the board decoded and puts out, its record of
// block writes (a running scan is stopped, rewritten and restarted), waits for relays and the
// output C supply, and the sync input seen through getSyncFreq and the estimates.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <array>
#include <cstdio>
#include <functional>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "UsbLink.h"
#include "scantestsupport.h"
#include "tempdir.h"
#include "tolmar2/TolmarCntrl.h"
#include "vsensor/VirtualSensor.h"

namespace {

class ScanSetupBoardTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TOLMAR_FIRMWARE_DIR", FIRMWARE_SOURCE_DIR, 1);
        setenv("TOLMAR_LINK", "virtual", 1);
        unsetenv("TOLMAR_VSENSOR_SYNC_HZ");
        unsetenv("TOLMAR_VSENSOR_PROFILE");
        ASSERT_TRUE(tolmar2::link::reselect());
        tolmar2::link::setI2cPause(std::chrono::milliseconds(0));
        vsensor::reset();
        dir_ = std::make_unique<TempDir>(true);
    }

    void TearDown() override {
        c_.reset();
        dir_.reset();
        vsensor::reset();
    }

    // Connects a fresh controller to a fresh unit of the profile; the block record, the waits
    // and the log start empty afterwards.
    void connect(const char* profile) {
        c_.reset();
        vsensor::reset();  // closes the module the last controller left open
        ASSERT_TRUE(vsensor::loadProfile(profile));
        c_ = std::make_unique<TolmarCntrl>();
        ASSERT_EQ(c_->connectTo(false), 1);
        vsensor::clearBlockWriteLog();
        sleeps_.clear();
        std::remove("tarvo.log");
    }

    // Starts a scan as far as the board is concerned.
    void startScan() {
        c_->run_en = true;
        ASSERT_TRUE(c_->writeFpgaConfigParameters(false, false));
        vsensor::clearBlockWriteLog();
    }

    RecordedSleeps sleeps_;
    std::unique_ptr<TempDir> dir_;
    std::unique_ptr<TolmarCntrl> c_;
};

// One block write in short: run_en, clearFifo, read-back mode.
struct Write {
    bool run, clear, readBack;
    bool operator==(const Write& o) const {
        return run == o.run && clear == o.clear && readBack == o.readBack;
    }
};

std::ostream& operator<<(std::ostream& os, const Write& w) {
    return os << "{run " << w.run << ", clear " << w.clear << ", read-back " << w.readBack << "}";
}

std::vector<Write> writes() {
    std::vector<Write> out;
    for (const vsensor::BlockWrite& w : vsensor::blockWriteLog())
        out.push_back({w.registers.run_en, w.clearFifo, w.registers.read_csr_md});
    return out;
}

// ---- stop, rewrite, restart ----

using C = TolmarCntrl&;

// A change of the set-up: what it sends, and a check on the registers of its first write
// (the change is already in it), or none.
struct RerunCase {
    const char* name;
    std::function<bool(C)> change;
    std::vector<Write> expected;
    std::function<bool(const vsensor::BoardRegisters&)> changed;
};

bool sweepA(C c) {
    double vs[3] = {0, 0, 0}, ve[3] = {10, 0, 0}, step = 1;
    int lead = 0;
    return c.setScanVoltages(vs, ve, lead, step) > 0;
}

bool idle(C c, double a, double b, double cc) {
    double v[3] = {a, b, cc};
    return c.setDefVoltages(v);
}

TEST_F(ScanSetupBoardTest, RunningScanIsStoppedRewrittenAndRestarted) {
    using R = const vsensor::BoardRegisters&;
    const Write stopClear{false, true, false}, stop{false, false, false};
    const Write rerun{true, false, false}, rerunClear{true, true, false};
    const Write readBackOn{true, false, true};
    // clang-format off
    const std::vector<RerunCase> cases = {
        {"settling delays", [](C c) { return c.setSettlingDelays(10, 20, 30, 40); },
         {stopClear, rerun}, [](R r) { return r.setup_ns_delay == 30; }},
        {"hardware averaging", [](C c) { return c.setAverageHW(100, 0); },
         {stopClear, rerun}, [](R r) { return r.samples == 100; }},
        {"measuring range", [](C c) { return c.setMeasuringRange(3); },
         {stopClear, rerun}, [](R r) { return !r.gain; }},
        {"scan type", [](C c) { return c.setScanType(true, false, true); },
         {stopClear, rerunClear}, [](R r) { return r.up_down_scan; }},
        {"sweep", sweepA, {stop, rerun}, nullptr},
        {"two segments", [](C c) { return c.setScanVoltages(0u, 0.0, 10.0, 50.0, 5.0, 80.0); },
         {stopClear, rerun}, [](R r) { return r.v_b_inc == 0; }},
        // The sync grid restarts with a cleared FIFO too, then reads the block back.
        {"sync grid", [](C c) {
             double timeRes = 2;
             unsigned start = 0, window = 100, phase = 0;
             return c.setSyncScanParameters(timeRes, start, window, phase, false); },
         {stopClear, rerunClear, readBackOn, rerun}, [](R r) { return r.sync_smpl_div == 2; }},
        // Read back first, then rewritten like the others.
        {"A and B together", [](C c) {
             double as = 0, ad = 10, ae = 50, bs = 0, bd = 10, be = -50, vc = 0;
             return c.setScanVoltages(as, ad, ae, bs, bd, be, vc); },
         {readBackOn, rerun, stopClear, rerun}, [](R r) { return r.read_csr_md; }},
        // Idle voltages go out with the scan left running.
        {"idle voltages", [](C c) { return idle(c, 5, 5, 5); }, {rerun}, nullptr},
    };
    // clang-format on
    for (const RerunCase& rc : cases) {
        SCOPED_TRACE(rc.name);
        connect("single");
        startScan();
        EXPECT_TRUE(rc.change(*c_));
        const std::vector<Write> got = writes();
        EXPECT_EQ(got, rc.expected);
        if (rc.changed && !got.empty()) {
            EXPECT_TRUE(rc.changed(vsensor::blockWriteLog().front().registers));
        }
        EXPECT_TRUE(vsensor::boardState().registers.run_en);
        EXPECT_TRUE(c_->run_en);
    }
}

struct FailureCase {
    const char* name;
    const char* profile;
    std::function<void(C)> prepare;
    std::function<bool(C)> change;
    const char* first;  // logged when the first write fails
    bool rerun;         // a second write restarts the scan
};

TEST_F(ScanSetupBoardTest, FailedWritesAreReported) {
    const auto nothing = [](C) {};
    // clang-format off
    const std::vector<FailureCase> cases = {
        {"settling delays", "single", nothing,
         [](C c) { return c.setSettlingDelays(1, 2, 3, 4); },
         "Failed to update new settling delays into Tolmar\n", true},
        {"hardware averaging", "single", nothing, [](C c) { return c.setAverageHW(9, 9); },
         "Failed to update new iv_samples into Tolmar\n", true},
        {"measuring range", "single", nothing, [](C c) { return c.setMeasuringRange(1); },
         "Failed to update new measuring range into Tolmar\n", true},
        {"scan type", "single", nothing,
         [](C c) { return c.setScanType(false, false, false); },
         "Failed to update new scan type into Tolmar\n", true},
        {"sweep", "single", nothing, sweepA, "Failed to stop already running scan\n", true},
        {"idle voltages", "single", nothing, [](C c) { return idle(c, 1, 2, 3); },
         "Failed to update default voltages\n", false},
        {"supply polarity", "legacy", [](C c) { idle(c, 0, 0, 50); },
         [](C c) { return idle(c, 0, 0, -50); },
         "Failed to stop scan and turn off HVPS\n", false},
        {"channel enables", "disc13", nothing,
         [](C c) { return c.setEnabledChannels(std::array<bool, 24>{true}.data()) >= 0; },
         "Disconnected during Enable channel\n", false},
    };
    // clang-format on
    for (const FailureCase& fc : cases) {
        for (int nth : {1, 2}) {
            if (nth == 2 && !fc.rerun)
                continue;
            SCOPED_TRACE(std::string(fc.name) + (nth == 1 ? ", first write" : ", rerun"));
            connect(fc.profile);
            fc.prepare(*c_);
            startScan();
            std::remove("tarvo.log");
            vsensor::scheduleFault(vsensor::Fault::DataWriteFail, nth);
            EXPECT_FALSE(fc.change(*c_));
            EXPECT_TRUE(logged(nth == 1 ? fc.first : "Failed to rerun scan\n"));
            EXPECT_EQ(loggedCount("[ERROR:"), 2);  // the transfer's line and the operation's
        }
    }
}

TEST_F(ScanSetupBoardTest, SyncFrequencyTransferFailures) {
    connect("single");
    c_->sync_aux_d = 55;
    vsensor::scheduleFault(vsensor::Fault::DataWriteFail, 1);
    EXPECT_EQ(c_->getSyncFreq(nullptr, true), 0);
    EXPECT_TRUE(logged("Failed to stop already running scan\n"));
    EXPECT_EQ(c_->sync_aux_d, 55u);

    vsensor::scheduleFault(vsensor::Fault::DataReadFail, 1);
    EXPECT_EQ(c_->getSyncFreq(nullptr, true), 0);
    EXPECT_TRUE(logged("Failed to read FPGA config parameters from Fpga\n"));
    EXPECT_EQ(c_->sync_aux_d, 55u);

    // The restoring write fails: the phase delay was changed, so it is sent again.
    vsensor::scheduleFault(vsensor::Fault::DataWriteFail, 6);
    EXPECT_EQ(c_->getSyncFreq(nullptr, true), 0);
    EXPECT_TRUE(logged("Failed to run scan\n"));
}

TEST_F(ScanSetupBoardTest, SettersSendOnlyWhenConnected) {
    connect("disc13");
    c_->connected = false;
    double vs[3] = {0, 0, 0}, ve[3] = {10, 10, 10}, step = 2, v[3] = {1, 2, 3};
    int lead = 0;
    bool en[24];
    for (bool& e : en) e = false;
    EXPECT_GT(c_->setScanVoltages(vs, ve, lead, step), 0);
    EXPECT_TRUE(c_->setDefVoltages(v));
    EXPECT_TRUE(c_->setMeasuringRange(2));
    EXPECT_EQ(c_->setEnabledChannels(en), 0);
    EXPECT_TRUE(c_->setSettlingDelays(1, 2, 3, 4));
    EXPECT_TRUE(c_->setAverageHW(7, 8));
    EXPECT_EQ(c_->getSyncFreq(nullptr, true), 0);
    EXPECT_TRUE(vsensor::blockWriteLog().empty());
    EXPECT_TRUE(sleeps_.waits().empty());

    // Connected again, the next setter sends everything changed so far.
    c_->connected = true;
    EXPECT_TRUE(c_->setDefVoltages(v));
    const std::vector<vsensor::BlockWrite> sent = vsensor::blockWriteLog();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].registers.relays & 3, 3);
    EXPECT_EQ(sent[0].registers.channels_disabled, 0xFFFFFFu);
    EXPECT_EQ(sent[0].registers.setup_iv_delay, 4);
    EXPECT_EQ(sent[0].registers.iv_samples2, 8u);
}

// ---- output voltages ----

TEST_F(ScanSetupBoardTest, OutputCSupplyChangesPolarityOnlyWhenOff) {
    connect("legacy");
    ASSERT_FALSE(c_->vcScannable);
    const struct {
        double volts;
        bool waits;
        bool positive;
    } steps[] = {
        {50, false, true},     // first selection: nothing to switch off
        {20, false, true},     // same side
        {-50, true, false},    // positive to negative: off, one second, on
        {-0.0, false, false},  // zero counts as the negative side
        {300, true, true},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.volts);
        vsensor::clearBlockWriteLog();
        sleeps_.clear();
        double v[3] = {0, 0, s.volts};
        ASSERT_TRUE(c_->setDefVoltages(v));
        const std::vector<vsensor::BlockWrite> log = vsensor::blockWriteLog();
        ASSERT_EQ(log.size(), s.waits ? 2u : 1u);
        if (s.waits) {
            EXPECT_FALSE(log[0].registers.aux_sw1 || log[0].registers.aux_sw2);
            EXPECT_EQ(sleeps_.waits(), std::vector<unsigned>{1000});
        } else {
            EXPECT_TRUE(sleeps_.waits().empty());
        }
        EXPECT_EQ(log.back().registers.aux_sw1, s.positive);
        EXPECT_EQ(log.back().registers.aux_sw2, !s.positive);
        // The supply puts out the voltage handed back, from the side selected.
        EXPECT_NEAR(vsensor::boardState().idleVolts[2], v[2], 1e-9);
        EXPECT_NEAR(v[2], s.volts, 0.5 / 131 + 0.05);
    }
}

TEST_F(ScanSetupBoardTest, RelaysPauseOnlyWhenTheyChange) {
    connect("single");
    const struct {
        unsigned range;
        size_t writes;
        std::vector<unsigned> waits;
    } steps[] = {
        {0, 0, {}},                 // already there: nothing sent
        {1, 1, {}},                 // gain only
        {2, 1, {300}},              // relays
        {3, 1, {}},    {9, 0, {}},  // acts as 3
        {0, 1, {300}},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.range);
        vsensor::clearBlockWriteLog();
        sleeps_.clear();
        ASSERT_TRUE(c_->setMeasuringRange(s.range));
        const std::vector<vsensor::BlockWrite> log = vsensor::blockWriteLog();
        ASSERT_EQ(log.size(), s.writes);
        if (!log.empty()) {
            EXPECT_TRUE(log[0].clearFifo);
            EXPECT_EQ(log[0].registers.relays, (std::min(s.range, 3u) >= 2 ? 0x23 : 0x20));
            EXPECT_EQ(log[0].registers.gain, s.range % 2 == 0);
        }
        EXPECT_EQ(sleeps_.waits(), s.waits);
    }
}

TEST_F(ScanSetupBoardTest, ChannelEnablesAsTheBoardReportsThem) {
    connect("disc13");
    bool en[24];
    for (int i = 0; i < 24; ++i) en[i] = i < 13 && i != 4;
    EXPECT_EQ(c_->setEnabledChannels(en), 12);
    EXPECT_EQ(vsensor::boardState().registers.channels_disabled, 0xFFE010u);
    EXPECT_EQ(c_->getFirstChannelEnableBitMask(), 0xE010u);
    EXPECT_EQ(c_->getSecondChannelEnableBitMask(), 0xFFu);
    bool back[24] = {};
    EXPECT_EQ(c_->getEnabledChannels(back, 23), -1);  // too small for every channel
    EXPECT_EQ(c_->getEnabledChannels(back, 24), 12);
    for (int i = 0; i < 24; ++i) EXPECT_EQ(back[i], en[i]) << i;

    connect("single");
    EXPECT_EQ(c_->setEnabledChannels(en), -1);
    EXPECT_TRUE(vsensor::blockWriteLog().empty());
}

// ---- the sync input ----

struct SyncCase {
    const char* profile;
    double hz;
    int result;
    uint32_t period;
    double frequency;  // getSyncFreq: 384 MHz over the count
    double estimate;   // 192 MHz over the count, doubled on newer firmware but 0xACF1
    const char* message;
};

TEST_F(ScanSetupBoardTest, SyncFrequencyFromTheBoard) {
    const SyncCase cases[] = {
        // The board counts the period at 192 MHz on every firmware.
        {"single", 1000, 1, 192000, 2000, 1000, nullptr},  // 0xAC59
        {"disc13", 1000, 1, 192000, 2000, 2000, nullptr},  // a newer build
        {"ar", 5000, 1, 38400, 10000, 5000, nullptr},      // 0xACF1
        // No signal: never locks.
        {"single", 0, -1, 0, 0, 0, "Tolmar is not synchronized [LOCKED:0, HIGH:0, low:0]\n"},
        // Too slow and too fast to follow.
        {"single", 5, -2, 38400000, 0, 0, "Tolmar is not synchronized [LOCKED:1, HIGH:0, low:1]\n"},
        {"disc13", 300e3, -3, 640, 0, 0, "Tolmar is not synchronized [LOCKED:1, HIGH:1, low:0]\n"},
    };
    for (const SyncCase& sc : cases) {
        SCOPED_TRACE(std::string(sc.profile) + " " + std::to_string(sc.hz));
        connect(sc.profile);
        vsensor::setSyncFrequency(sc.hz);
        double hz = -7;
        EXPECT_EQ(c_->getSyncFreq(&hz, true), sc.result);
        EXPECT_EQ(c_->sync_frq8, sc.period);
        if (sc.result == 1) {
            EXPECT_NEAR(hz, sc.frequency, 1e-3);
            c_->sync_mode = true;
            c_->estimateScanResources();
            EXPECT_DOUBLE_EQ(c_->ScanLimits.syncFrequency, sc.estimate);
            EXPECT_EQ(loggedCount("Tolmar is not synchronized"), 0);
        } else {
            EXPECT_EQ(hz, -7);
            EXPECT_EQ(loggedCount("Tolmar is not synchronized"), 1);
            EXPECT_TRUE(logged(sc.message));
        }
    }
}

TEST_F(ScanSetupBoardTest, ResyncRestoresTheRunningScan) {
    connect("single");
    c_->sync_aux_d = 321;
    startScan();
    double hz = 0;
    EXPECT_EQ(c_->getSyncFreq(&hz, true), 1);
    const std::vector<vsensor::BlockWrite> log = vsensor::blockWriteLog();
    ASSERT_GE(log.size(), 4u);
    // Stopped with the detector restarted and the phase delay cleared ...
    EXPECT_TRUE(log[0].initFlag);
    EXPECT_TRUE(log[0].clearFifo);
    EXPECT_FALSE(log[0].registers.run_en);
    EXPECT_EQ(log[0].registers.sync_aux_d, 0u);
    // ... then running again as before.
    EXPECT_TRUE(log.back().registers.run_en);
    EXPECT_EQ(log.back().registers.sync_aux_d, 321u);
    EXPECT_FALSE(log.back().initFlag);
    EXPECT_TRUE(c_->run_en);
    EXPECT_EQ(c_->sync_aux_d, 321u);
    // The detector settles over two read-backs: one poll wait.
    EXPECT_EQ(sleeps_.waits(), std::vector<unsigned>{TolmarCntrl::SYNC_LOCK_POLL_MS});

    // Without resync the detector is only looked at: stop, read back, restart.
    vsensor::clearBlockWriteLog();
    sleeps_.clear();
    EXPECT_EQ(c_->getSyncFreq(&hz, false), 1);
    EXPECT_FALSE(vsensor::blockWriteLog().front().initFlag);
    EXPECT_TRUE(sleeps_.waits().empty());

    // A new signal: the first look finds the detector settling, the next one locked to it.
    vsensor::setSyncFrequency(4000);
    EXPECT_EQ(c_->getSyncFreq(&hz, false), -1);
    EXPECT_EQ(c_->getSyncFreq(&hz, false), 1);
    EXPECT_NEAR(hz, 8000, 1e-3);  // 384 MHz over 48,000 counts
}

TEST_F(ScanSetupBoardTest, SynchronisedScanNeedsALock) {
    connect("single");
    vsensor::setSyncFrequency(0);
    EXPECT_FALSE(c_->setScanType(false, true, true));
    EXPECT_TRUE(logged("Failed to resynchronize\n"));
    // It polled the detector until the time limit, without sleeping for real.
    const std::vector<unsigned>& waits = sleeps_.waits();
    const unsigned waited = std::accumulate(waits.begin(), waits.end(), 0u);
    EXPECT_GT(waited, TolmarCntrl::SYNC_LOCK_TIMEOUT_MS);
    EXPECT_LE(waited, TolmarCntrl::SYNC_LOCK_TIMEOUT_MS + 2 * TolmarCntrl::SYNC_LOCK_POLL_MS);

    vsensor::setSyncFrequency(2000);
    EXPECT_TRUE(c_->setScanType(false, true, true));
    EXPECT_TRUE(logged("Scan type set to single ended synchronized scan\n"));
    EXPECT_TRUE(vsensor::boardState().registers.sync_mode);
}

TEST_F(ScanSetupBoardTest, EstimateOfASynchronisedScanFromTheBoard) {
    // 1 kHz sync: 192,000 counts, p = 1000 us, usable = (24000 - 1 - 93) / 24 = 996 slots at
    // most. The disc's newer firmware estimates 2000 Hz: a 500 us period, window end 501, phase
    // delay 500 - 250, 501 slots, dead time 499 us. 8 steps of 24 ADC values:
    // T = 8 * 24 * 1000 + 1000 (m2 only).
    connect("disc13");
    vsensor::setSyncFrequency(1000);
    ASSERT_TRUE(c_->setScanType(false, true, true));
    // The window follows the estimate of the sync frequency.
    double rate, duration, frequency;
    long values;
    ASSERT_TRUE(c_->getScanResources(rate, duration, frequency, values));
    EXPECT_DOUBLE_EQ(frequency, 2000);
    double timeRes = 1;
    unsigned start = 0, window = 0, phase = 250;
    ASSERT_TRUE(c_->setSyncScanParameters(timeRes, start, window, phase, false));
    EXPECT_EQ(vsensor::boardState().registers.samples, 501u);
    EXPECT_EQ(vsensor::boardState().registers.sync_aux_d, 250u);
    ASSERT_TRUE(c_->getScanResources(rate, duration, frequency, values));
    const double T = 8.0 * 24 * 1000 + 1000;
    EXPECT_DOUBLE_EQ(rate, 1e6 / T);
    EXPECT_DOUBLE_EQ(duration, T * 1e-6 * 0.65);
    const long last = 24 * 501 * 8;
    EXPECT_EQ(values, last);
    EXPECT_EQ(c_->ScanLimits.samplesExpected, static_cast<uint32_t>(last));

    // While the scan runs the last estimate stands, whatever changes.
    c_->run_en = true;
    c_->iv_steps = 100;
    ASSERT_TRUE(c_->getScanResources(rate, duration, frequency, values));
    EXPECT_EQ(values, last);

    // A failed read-back leaves nothing known.
    c_->run_en = false;
    vsensor::scheduleFault(vsensor::Fault::DataReadFail, 1);
    EXPECT_FALSE(c_->getScanResources(rate, duration, frequency, values));
    EXPECT_EQ(values, -1);
    EXPECT_TRUE(logged("Failed to read FPGA config parameters from Fpga\n"));

    // The time grid is set even when the read-back that follows it fails.
    vsensor::scheduleFault(vsensor::Fault::DataReadFail, 1);
    timeRes = 3;
    phase = 0;
    EXPECT_TRUE(c_->setSyncScanParameters(timeRes, start, window, phase, false));
    EXPECT_EQ(vsensor::boardState().registers.sync_smpl_div, 3);
}

}  // namespace
