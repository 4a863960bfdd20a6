// The board's sync input and output voltages, driven with register blocks made by hand: the
// status byte and period count of the read-back image, the voltages against the profile's
// calibration numbers.
#include <string>
#include <utility>

#include "vsensorfixture.h"

namespace {

// Read-back status byte: the sync detector's bits.
constexpr uint8_t kLocked = 0x08, kTooLow = 0x04, kTooHigh = 0x02;

class SyncOutputsTest : public VsensorTest {
protected:
    // Sends a block in read-back mode; "@3 02" asks for sync mode, "@48 01" is the init flag.
    void send(const std::string& bytes) {
        Bytes b = block(bytes.c_str());
        b[3] |= 0x80;
        ASSERT_TRUE(writeBlock(b));
    }

    // Status byte and period count (bytes 54-57) of one read-back.
    std::pair<uint8_t, uint32_t> status() {
        const Bytes b = readBack();
        return {b.at(52), b.at(54) | b.at(55) << 8 | b.at(56) << 16 | uint32_t(b.at(57)) << 24};
    }
};

TEST_F(SyncOutputsTest, DetectorStartsWhenAskedAndSettlesOverTwoReadBacks) {
    ASSERT_TRUE(configure("QM759.rbf"));
    vsensor::setSyncFrequency(1000);
    send("");  // not asked yet: however long it is looked at, nothing
    for (int i = 0; i < 4; ++i) EXPECT_EQ(status(), std::make_pair(uint8_t{0}, 0u));
    send("@48 01");  // the init flag starts it: settling, then locked to 192 MHz / 1 kHz
    EXPECT_EQ(status().first, 0);
    EXPECT_EQ(status(), std::make_pair(kLocked, 192000u));
    send("@3 02");  // further blocks, with or without sync mode, leave the lock alone ...
    send("");
    EXPECT_EQ(status().first, kLocked);
    send("@3 02 @48 01");  // ... the init flag starts over, and so does a new signal
    EXPECT_EQ(status().first, 0);
    EXPECT_EQ(status().first, kLocked);
    vsensor::setSyncFrequency(2000);
    EXPECT_EQ(status().first, 0);
    EXPECT_EQ(status(), std::make_pair(kLocked, 96000u));
    // A new configuration stops the detector until it is asked again, now by sync mode.
    ASSERT_TRUE(configure("QM759.rbf"));
    send("");
    EXPECT_EQ(status().first, 0);
    EXPECT_EQ(status().first, 0);
    send("@3 02");
    EXPECT_EQ(status().first, 0);
    EXPECT_EQ(status().first, kLocked);
}

TEST_F(SyncOutputsTest, PeriodCountAndRangeFlagsOnEveryFirmware) {
    const struct {
        const char* image;
        double hz;
        uint8_t status;
        uint32_t period;
    } cases[] = {
        // The period in counts of the 192 MHz clock, whichever firmware runs.
        {"QM759.rbf", 1000, kLocked, 192000},
        {"QM759-plus-B.rbf", 1000, kLocked, 192000},  // 0xACE2
        {"QM759-PLUS.rbf", 3000, kLocked, 64000},     // 0xACE1
        {"QM794-45.rbf", 1000, kLocked, 192000},      // 0xACF1
        {"QM745.rbf", 7, kLocked | kTooLow, 27428571},
        {"QM745.rbf", 10, kLocked, 19200000},  // the limits themselves are followed
        {"QM745.rbf", 250e3, kLocked, 768},
        {"QM759-plus-B.rbf", 250001, kLocked | kTooHigh, 768},
        {"QM759.rbf", 0, 0, 0},  // no signal: never locks
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.image) + " " + std::to_string(c.hz));
        ASSERT_TRUE(configure(c.image));
        vsensor::setSyncFrequency(c.hz);
        send("@48 01");
        status();
        EXPECT_EQ(status(), std::make_pair(c.status, c.period));
    }
}

TEST_F(SyncOutputsTest, OutputVoltagesFollowTheCodes) {
    // The single unit: A and B from their 12-bit codes, C from its 16-bit code, all through
    // the profile's own calibration pairs (code = zero + volts * slope).
    const vsensor::UnitProfile* p = vsensor::findProfile("single");
    const auto volts = [](const vsensor::UnitProfile* u, int dac, double code) {
        return (code - u->cal_dac[dac][0]) / u->cal_dac[dac][1];
    };
    ASSERT_TRUE(configure("QM759.rbf"));
    // v_c_def 10000, v_a_def 0xA34, v_a_inc 50, v_a_start 0x100, v_b_def 0x600, v_b_inc -10
    // (13 bits).
    send("@24 10 27 34 0A 32 @30 00 01 00 06 F6 1F");
    const vsensor::BoardState s = vsensor::boardState();
    EXPECT_DOUBLE_EQ(s.idleVolts[0], volts(p, 0, 0xA34));
    EXPECT_DOUBLE_EQ(s.idleVolts[1], volts(p, 1, 0x600));
    EXPECT_DOUBLE_EQ(s.idleVolts[2], volts(p, 2, 10000));
    EXPECT_DOUBLE_EQ(s.sweepVolts(0, 0), volts(p, 0, 0x100));
    EXPECT_NEAR(s.sweepVolts(0, 7), volts(p, 0, 0x100 + 7 * 50), 1e-9);
    EXPECT_NEAR(s.sweepVolts(1, 3), volts(p, 1, -30), 1e-9);

    // The legacy unit's fixed supply: the positive side (byte 1 bit 6) through DAC 3, the
    // negative (bit 7) through DAC 2, off with neither side or both selected.
    ASSERT_TRUE(vsensor::loadProfile("legacy"));
    ASSERT_TRUE(configure("QM745.rbf"));
    for (const auto& [switches, dac] : {std::pair{"40", 3}, {"80", 2}, {"00", -1}, {"C0", -1}}) {
        send(std::string("@1 ") + switches + " @24 88 13");  // v_c_def 5000
        const double want = dac < 0 ? 0.0 : volts(vsensor::findProfile("legacy"), dac, 5000);
        EXPECT_DOUBLE_EQ(vsensor::boardState().idleVolts[2], want) << switches;
        EXPECT_EQ(vsensor::boardState().stepVolts[2], 0) << switches;
    }
}

}  // namespace
