// The board's sync input, output voltages and block record, driven with register blocks made by
// hand: the status byte and period count of the read-back image, the voltages against the
// profile's calibration numbers, and the record of every block taken.
#include <stdlib.h>

#include <string>
#include <vector>

#include "tempdir.h"
#include "vsensorfixture.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Block bits used here.
constexpr int kModeByte = 3;
constexpr uint8_t kSyncMode = 0x02, kReadBack = 0x80;
constexpr int kFlagsByte = 48;
constexpr uint8_t kInitFlag = 0x01;
// Read-back status byte and the period count.
constexpr int kStatusByte = 52;
constexpr uint8_t kLocked = 0x08, kTooLow = 0x04, kTooHigh = 0x02;

class SyncOutputsTest : public VsensorTest {
protected:
    // Configures the FPGA with a stand-in image.
    void configure(const char* image) {
        const std::string text = readWholeFile(std::string(FIRMWARE_SOURCE_DIR) + "/" + image);
        ASSERT_FALSE(text.empty());
        Bytes stream(text.begin(), text.end());
        ASSERT_NE(QuickUsbStartFpgaConfiguration(handle), 0);
        for (size_t at = 0; at < stream.size(); at += 64) {
            const size_t n = std::min<size_t>(64, stream.size() - at);
            ASSERT_NE(QuickUsbWriteFpgaData(handle, stream.data() + at, n), 0);
        }
    }

    // Sends a block in read-back mode with the given flags.
    void send(bool init, bool syncMode, Bytes block = Bytes(64, 0)) {
        block[kModeByte] |= kReadBack | (syncMode ? kSyncMode : 0);
        block[kFlagsByte] |= init ? kInitFlag : 0;
        ASSERT_NE(QuickUsbWriteData(handle, block.data(), 64), 0);
    }

    // Status byte and period count of one read-back.
    std::pair<uint8_t, uint32_t> status() {
        Bytes image(64, 0);
        QULONG length = 64;
        EXPECT_NE(QuickUsbReadData(handle, image.data(), &length), 0);
        const uint32_t period =
            image[54] | image[55] << 8 | image[56] << 16 | static_cast<uint32_t>(image[57]) << 24;
        return {image[kStatusByte], period};
    }
};

TEST_F(SyncOutputsTest, DetectorStartsWhenAskedAndSettlesOverTwoReadBacks) {
    configure("QM759.rbf");
    vsensor::setSyncFrequency(1000);
    // Not asked yet: however long it is looked at, nothing.
    send(false, false);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(status(), std::make_pair(uint8_t{0}, 0u));
    // The init flag starts it: settling, then locked to 192 MHz / 1 kHz.
    send(true, false);
    EXPECT_EQ(status().first, 0);
    EXPECT_EQ(status(), std::make_pair(kLocked, 192000u));
    // Further blocks, with or without sync mode, leave the lock alone ...
    send(false, true);
    send(false, false);
    EXPECT_EQ(status().first, kLocked);
    // ... the init flag starts over, and so does a new signal.
    send(true, true);
    EXPECT_EQ(status().first, 0);
    EXPECT_EQ(status().first, kLocked);
    vsensor::setSyncFrequency(2000);
    EXPECT_EQ(status().first, 0);
    EXPECT_EQ(status(), std::make_pair(kLocked, 96000u));
    // A new configuration stops the detector until it is asked again, now by sync mode.
    configure("QM759.rbf");
    send(false, false);
    EXPECT_EQ(status().first, 0);
    EXPECT_EQ(status().first, 0);
    send(false, true);
    EXPECT_EQ(status().first, 0);
    EXPECT_EQ(status().first, kLocked);
}

TEST_F(SyncOutputsTest, SignalFromProfileEnvironmentAndControl) {
    EXPECT_EQ(vsensor::syncFrequency(), 1000);  // the single unit's default
    vsensor::loadProfile("disc13");
    EXPECT_EQ(vsensor::syncFrequency(), 0);
    setenv("TOLMAR_VSENSOR_SYNC_HZ", "250", 1);
    vsensor::reset();
    EXPECT_EQ(vsensor::syncFrequency(), 250);
    vsensor::loadProfile("ar");
    EXPECT_EQ(vsensor::syncFrequency(), 250);
    vsensor::setSyncFrequency(42);
    EXPECT_EQ(vsensor::syncFrequency(), 42);
    // One module of several.
    vsensor::setModuleCount(2);
    vsensor::setSyncFrequency(7, 1);
    EXPECT_EQ(vsensor::syncFrequency(0), 250);
    EXPECT_EQ(vsensor::syncFrequency(1), 7);
    setenv("TOLMAR_VSENSOR_SYNC_HZ", "fast", 1);
    vsensor::reset();
    EXPECT_EQ(vsensor::syncFrequency(), 1000);
    unsetenv("TOLMAR_VSENSOR_SYNC_HZ");
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
    for (const auto& sc : cases) {
        SCOPED_TRACE(std::string(sc.image) + " " + std::to_string(sc.hz));
        configure(sc.image);
        vsensor::setSyncFrequency(sc.hz);
        send(true, false);
        status();
        EXPECT_EQ(status(), std::make_pair(sc.status, sc.period));
    }
}

TEST_F(SyncOutputsTest, OutputVoltagesFollowTheCodes) {
    // The single unit: A and B from their 12-bit codes, C from its 16-bit code, all through
    // the profile's own calibration pairs.
    const vsensor::UnitProfile* p = vsensor::findProfile("single");
    configure("QM759.rbf");
    Bytes block(64, 0);
    block[26] = 0x34, block[27] = 0x0A;  // v_a_def 0xA34
    block[32] = 0x00, block[33] = 0x06;  // v_b_def 0x600
    block[24] = 0x10, block[25] = 0x27;  // v_c_def 10000
    block[30] = 0x00, block[31] = 0x01;  // v_a_start 0x100
    block[28] = 0x32;                    // v_a_inc 50
    block[34] = 0xF6, block[35] = 0x1F;  // v_b_inc -10 (13 bits)
    send(false, false, block);
    const vsensor::BoardState s = vsensor::boardState();
    const auto volts = [&](int dac, double code) {
        return (code - p->cal_dac[dac][0]) / p->cal_dac[dac][1];
    };
    EXPECT_DOUBLE_EQ(s.idleVolts[0], volts(0, 0xA34));
    EXPECT_DOUBLE_EQ(s.idleVolts[1], volts(1, 0x600));
    EXPECT_DOUBLE_EQ(s.idleVolts[2], volts(2, 10000));
    EXPECT_DOUBLE_EQ(s.sweepVolts(0, 0), volts(0, 0x100));
    EXPECT_NEAR(s.sweepVolts(0, 7), volts(0, 0x100 + 7 * 50), 1e-9);
    EXPECT_NEAR(s.sweepVolts(1, 3), volts(1, -30), 1e-9);

    // The legacy unit's fixed supply: the positive side through DAC 3, the negative through
    // DAC 2, off with neither side (or both) selected.
    resetWithCleanEnvironment();
    ASSERT_TRUE(vsensor::loadProfile("legacy"));
    char name[] = "QUSB-0";
    ASSERT_NE(QuickUsbOpen(&handle, name), 0);
    const vsensor::UnitProfile* legacy = vsensor::findProfile("legacy");
    configure("QM745.rbf");
    const struct {
        uint8_t switches;  // byte 1 bits 6 (positive) and 7 (negative)
        int dac;
    } sides[] = {{0x40, 3}, {0x80, 2}, {0x00, -1}, {0xC0, -1}};
    for (const auto& side : sides) {
        Bytes b(64, 0);
        b[1] = side.switches;
        b[24] = 0x88, b[25] = 0x13;  // v_c_def 5000
        send(false, false, b);
        const double want =
            side.dac < 0 ? 0.0
                         : (5000 - legacy->cal_dac[side.dac][0]) / legacy->cal_dac[side.dac][1];
        EXPECT_DOUBLE_EQ(vsensor::boardState().idleVolts[2], want) << int(side.switches);
        EXPECT_EQ(vsensor::boardState().stepVolts[2], 0);
    }
}

TEST_F(SyncOutputsTest, EveryBlockIsRecorded) {
    configure("QM759.rbf");
    Bytes block(64, 0);
    block[0] = 0x21;
    send(true, false, block);
    block[0] = 0x22;
    block[kFlagsByte] = 0x02;  // clearFifo
    send(false, true, block);
    std::vector<vsensor::BlockWrite> log = vsensor::blockWriteLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].registers.relays, 0x21);
    EXPECT_TRUE(log[0].initFlag);
    EXPECT_FALSE(log[0].clearFifo);
    EXPECT_EQ(log[1].registers.relays, 0x22);
    EXPECT_TRUE(log[1].registers.sync_mode);
    EXPECT_TRUE(log[1].clearFifo);

    // Bounded: the oldest go first.
    vsensor::clearBlockWriteLog();
    for (size_t i = 0; i < vsensor::kBlockWriteLogSize + 3; ++i) {
        block[0] = static_cast<uint8_t>(i & 0x7F);
        send(false, false, block);
    }
    log = vsensor::blockWriteLog();
    ASSERT_EQ(log.size(), vsensor::kBlockWriteLogSize);
    EXPECT_EQ(log.front().registers.relays, 3);
    // A new configuration starts a new record.
    configure("QM759.rbf");
    EXPECT_TRUE(vsensor::blockWriteLog().empty());
}

}  // namespace
