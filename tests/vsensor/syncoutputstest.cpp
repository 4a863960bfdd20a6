// The board's sync input, driven with register blocks made by hand: the status byte and period
// count of the read-back image.
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

TEST_F(SyncOutputsTest, PeriodCountAndRangeFlagsOnEveryFirmware) {
    const struct {
        const char* image;
        double hz;
        uint8_t status;
        uint32_t period;
    } cases[] = {
        // The period in counts of the 192 MHz clock, whichever firmware runs.
        {"QM759.rbf", 1000, kLocked, 192000},
        {"QM759-PLUS.rbf", 3000, kLocked, 64000},  // 0xACE1
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

}  // namespace
