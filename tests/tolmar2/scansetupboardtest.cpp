// Scan set-up against the virtual board: its record of block writes (a running scan is stopped,
// rewritten and restarted), waits for relays and the output C supply, and the sync input.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <array>
#include <cstdio>
#include <functional>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "Platform.h"
#include "UsbLink.h"
#include "tempdir.h"
#include "tolmar2/TolmarCntrl.h"
#include "vsensor/VirtualSensor.h"

namespace {

std::vector<unsigned> waits;  // every wait the library asked for
void recordWait(unsigned ms) {
    waits.push_back(ms);
}

bool logged(const std::string& text) {
    return readWholeFile("tarvo.log").find(text) != std::string::npos;
}

class ScanSetupBoardTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TOLMAR_FIRMWARE_DIR", FIRMWARE_SOURCE_DIR, 1);
        setenv("TOLMAR_LINK", "virtual", 1);
        unsetenv("TOLMAR_VSENSOR_SYNC_HZ");
        unsetenv("TOLMAR_VSENSOR_PROFILE");
        ASSERT_TRUE(tolmar2::link::reselect());
        tolmar2::link::setI2cPause(std::chrono::milliseconds(0));
        tolmar2::platform::setSleepFunction(&recordWait);
    }

    void TearDown() override {
        c_.reset();
        vsensor::reset();
        tolmar2::platform::setSleepFunction(nullptr);
    }

    // A fresh controller on a fresh unit of the profile; the block record, the waits and the
    // log start empty afterwards.
    void connect(const char* profile) {
        c_.reset();
        vsensor::reset();  // closes the module the last controller left open
        ASSERT_TRUE(vsensor::loadProfile(profile));
        c_ = std::make_unique<TolmarCntrl>();
        ASSERT_EQ(c_->connectTo(false), 1);
        vsensor::clearBlockWriteLog();
        waits.clear();
        std::remove("tarvo.log");
    }

    // Starts a scan as far as the board is concerned.
    void startScan() {
        c_->run_en = true;
        ASSERT_TRUE(c_->writeFpgaConfigParameters(false, false));
        vsensor::clearBlockWriteLog();
    }

    TempDir dir_{true};
    std::unique_ptr<TolmarCntrl> c_;
};

// The block writes the board took, in short: run or stop, FIFO cleared, read-back mode.
std::string writes() {
    std::string out;
    for (const vsensor::BlockWrite& w : vsensor::blockWriteLog()) {
        out += std::string(out.empty() ? "" : " ") + (w.registers.run_en ? "run" : "stop") +
               (w.clearFifo ? "+clear" : "") + (w.registers.read_csr_md ? "+readback" : "");
    }
    return out;
}

using C = TolmarCntrl&;
using R = const vsensor::BoardRegisters&;

bool idle(C c, double a, double b, double cc) {
    double v[3] = {a, b, cc};
    return c.setDefVoltages(v);
}

// ---- stop, rewrite, restart ----

// A change of the set-up while a scan runs: the block writes it sends, a check on the registers
// of the first (the change is already in it), and what is logged when that write fails, or when
// the restart fails.
TEST_F(ScanSetupBoardTest, RunningScanIsStoppedRewrittenAndRestarted) {
    const auto any = [](R) { return true; };
    const struct {
        const char* name;
        const char* profile;
        std::function<bool(C)> change;
        const char* expected;  // nullptr: not checked
        std::function<bool(R)> changed;
        const char* failed;  // logged when the first write fails; nullptr: not tried
        bool rerun;          // a failed restart is reported as such
    } cases[] = {
        {"settling delays", "single", [](C c) { return c.setSettlingDelays(10, 20, 30, 40); },
         "stop+clear run", [](R r) { return r.setup_ns_delay == 30; },
         "Failed to update new settling delays into Tolmar\n", true},  // and one failed restart
        {"scan type", "single", [](C c) { return c.setScanType(true, false, true); },
         "stop+clear run+clear",
         [](R r) { return r.up_down_scan && !r.sync_mode && !r.sync_edge_r_f; },
         "Failed to update new scan type into Tolmar\n", false},
        {"sweep", "single",
         [](C c) {
             double vs[3] = {0, 0, 0}, ve[3] = {10, 0, 0}, step = 1;
             int lead = 0;
             return c.setScanVoltages(vs, ve, lead, step) > 0;
         },
         "stop run", any, "Failed to stop already running scan\n", false},
        // The sync grid restarts with a cleared FIFO too, then reads the block back.
        {"sync grid", "single",
         [](C c) {
             double timeRes = 2;
             unsigned start = 0, window = 100, phase = 0;
             return c.setSyncScanParameters(timeRes, start, window, phase, false);
         },
         "stop+clear run+clear run+readback run", [](R r) { return r.sync_smpl_div == 2; }, nullptr,
         false},
        // Idle voltages go out with the scan left running.
        {"idle voltages", "single", [](C c) { return idle(c, 5, 5, 5); }, "run", any,
         "Failed to update default voltages\n", false},
        {"channel enables", "disc13",
         [](C c) { return c.setEnabledChannels(std::array<bool, 24>{true}.data()) >= 0; }, nullptr,
         any, "Disconnected during Enable channel\n", false},
    };
    for (const auto& rc : cases) {
        for (int nth = 0; nth <= (rc.rerun ? 2 : rc.failed ? 1 : 0); ++nth) {
            SCOPED_TRACE(std::string(rc.name) + ", failing write " + std::to_string(nth));
            connect(rc.profile);
            startScan();
            std::remove("tarvo.log");
            if (nth > 0) {
                vsensor::scheduleFault(vsensor::Fault::DataWriteFail, nth);
                EXPECT_FALSE(rc.change(*c_));
                EXPECT_TRUE(logged(nth == 1 ? rc.failed : "Failed to rerun scan\n"));
                continue;
            }
            EXPECT_TRUE(rc.change(*c_));
            if (!rc.expected)
                continue;
            EXPECT_EQ(writes(), rc.expected);
            EXPECT_TRUE(rc.changed(vsensor::blockWriteLog().front().registers));
            EXPECT_TRUE(vsensor::boardState().registers.run_en && c_->run_en);
        }
    }
}

// Changed while not connected: nothing is sent until a setter runs connected again.
TEST_F(ScanSetupBoardTest, SettersSendOnlyWhenConnected) {
    connect("single");
    c_->connected = false;
    EXPECT_TRUE(c_->setSettlingDelays(1, 2, 3, 4));
    EXPECT_TRUE(vsensor::blockWriteLog().empty());
    c_->connected = true;
    EXPECT_TRUE(idle(*c_, 1, 2, 3));
    ASSERT_EQ(vsensor::blockWriteLog().size(), 1u);
    EXPECT_EQ(vsensor::blockWriteLog()[0].registers.setup_iv_delay, 4);
}

// ---- output voltages, relays, channels ----

TEST_F(ScanSetupBoardTest, OutputCSupplyChangesPolarityOnlyWhenOff) {
    connect("legacy");  // output C is a fixed supply
    const struct {
        double volts;
        bool waits, positive;
    } steps[] = {
        {50, false, true},   // first selection: nothing to switch off
        {-50, true, false},  // positive to negative: off, one second, on
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.volts);
        vsensor::clearBlockWriteLog();
        waits.clear();
        double v[3] = {0, 0, s.volts};
        ASSERT_TRUE(c_->setDefVoltages(v));
        const std::vector<vsensor::BlockWrite> log = vsensor::blockWriteLog();
        ASSERT_EQ(log.size(), s.waits ? 2u : 1u);
        EXPECT_EQ(waits, s.waits ? std::vector<unsigned>{1000} : std::vector<unsigned>{});
        EXPECT_FALSE(s.waits && (log[0].registers.aux_sw1 || log[0].registers.aux_sw2));
        EXPECT_EQ(log.back().registers.aux_sw1, s.positive);
        EXPECT_EQ(log.back().registers.aux_sw2, !s.positive);
    }
}

TEST_F(ScanSetupBoardTest, RelaysPauseOnlyWhenTheyChange) {
    connect("single");
    const struct {
        unsigned range;
        size_t writes;
        std::vector<unsigned> waits;
    } steps[] = {
        {0, 0, {}},  // already there: nothing sent
        {2, 1, {300}},
        {9, 1, {}},
        {0, 1, {300}},  // 9 acts as 3: the gain only
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.range);
        vsensor::clearBlockWriteLog();
        waits.clear();
        ASSERT_TRUE(c_->setMeasuringRange(s.range));
        const std::vector<vsensor::BlockWrite> log = vsensor::blockWriteLog();
        ASSERT_EQ(log.size(), s.writes);
        if (!log.empty()) {
            EXPECT_EQ(log[0].registers.relays, (std::min(s.range, 3u) >= 2 ? 0x23 : 0x20));
            EXPECT_EQ(log[0].registers.gain, s.range % 2 == 0);
        }
        EXPECT_EQ(waits, s.waits);
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
    EXPECT_EQ(c_->getEnabledChannels(back, 24), 12);
    for (int i = 0; i < 24; ++i) EXPECT_EQ(back[i], en[i]) << i;

    connect("single");
    EXPECT_EQ(c_->setEnabledChannels(en), -1);
    EXPECT_TRUE(vsensor::blockWriteLog().empty());
}

// ---- the sync input ----

TEST_F(ScanSetupBoardTest, SyncFrequencyFromTheBoard) {
    const struct {
        const char* profile;
        double hz;
        int result;
        uint32_t period;   // counted at 192 MHz on every firmware
        double frequency;  // getSyncFreq: 384 MHz over the count
        const char* message;
    } cases[] = {
        {"single", 1000, 1, 192000, 2000, nullptr},
        // No signal.
        {"single", 0, -1, 0, 0, "Tolmar is not synchronized [LOCKED:0, HIGH:0, low:0]\n"},
    };
    for (const auto& sc : cases) {
        SCOPED_TRACE(std::string(sc.profile) + " " + std::to_string(sc.hz));
        connect(sc.profile);
        vsensor::setSyncFrequency(sc.hz);
        double hz = -7;
        EXPECT_EQ(c_->getSyncFreq(&hz, true), sc.result);
        EXPECT_EQ(c_->sync_frq8, sc.period);
        EXPECT_EQ(logged("Tolmar is not synchronized"), sc.message != nullptr);
        if (sc.message) {
            EXPECT_EQ(hz, -7);
            EXPECT_TRUE(logged(sc.message));
            continue;
        }
        EXPECT_NEAR(hz, sc.frequency, 1e-3);
    }
}

// Stopped with the detector restarted and the phase delay cleared, then running as before.
TEST_F(ScanSetupBoardTest, ResyncRestoresTheRunningScan) {
    connect("single");
    c_->sync_aux_d = 321;
    startScan();
    double hz = 0;
    EXPECT_EQ(c_->getSyncFreq(&hz, true), 1);
    const std::vector<vsensor::BlockWrite> log = vsensor::blockWriteLog();
    ASSERT_GE(log.size(), 4u);
    EXPECT_TRUE(log[0].initFlag && log[0].clearFifo && !log[0].registers.run_en);
    EXPECT_EQ(log[0].registers.sync_aux_d, 0u);
    EXPECT_TRUE(log.back().registers.run_en && c_->run_en);
    EXPECT_EQ(log.back().registers.sync_aux_d, 321u);
    EXPECT_FALSE(log.back().initFlag);
    // The detector settles over two read-backs: one poll wait.
    EXPECT_EQ(waits, std::vector<unsigned>{TolmarCntrl::SYNC_LOCK_POLL_MS});
}

// Without a lock a synchronised scan is refused after polling up to the time limit; a failed
// stop before the resync leaves the phase delay as it was.
TEST_F(ScanSetupBoardTest, SynchronisedScanNeedsALock) {
    connect("single");
    vsensor::setSyncFrequency(0);
    EXPECT_FALSE(c_->setScanType(false, true, true));
    EXPECT_TRUE(logged("Failed to resynchronize\n"));
    const unsigned waited = std::accumulate(waits.begin(), waits.end(), 0u);
    EXPECT_GT(waited, TolmarCntrl::SYNC_LOCK_TIMEOUT_MS);
    c_->sync_aux_d = 55;
    vsensor::scheduleFault(vsensor::Fault::DataWriteFail, 1);
    EXPECT_EQ(c_->getSyncFreq(nullptr, true), 0);
    EXPECT_TRUE(logged("Failed to stop already running scan\n"));
    EXPECT_EQ(c_->sync_aux_d, 55u);
}

}  // namespace
