// The serial EEPROM at device 0x51 as seen over the bus, and the faults scheduled on its
// transfers.
#include <string>

#include "vsensorfixture.h"

namespace {

class I2cTest : public VsensorTest {
protected:
    // One write and one read per round: '.' good, 'F' failed, 's' half the bytes.
    std::string transfers(int rounds) {
        std::string writes, reads;
        for (int i = 0; i < rounds; ++i) {
            writes += busWrite({0x00, 0x00, 0x42}) ? '.' : 'F';
            const size_t n = busRead(8).size();
            reads += n == 8 ? '.' : n == 4 ? 's' : 'F';
        }
        return writes + "|" + reads;
    }
};

// Fault texts and the transfers they hit, counted from scheduling per direction; texts that
// schedule nothing, and the names of the other faults.
TEST_F(I2cTest, ScheduledFaults) {
    const std::pair<const char*, const char*> cases[] = {
        {"", "......|......"},
        {"i2c-write-fail@3x2", "..FF..|......"},
        {"i2c-short-read@2x3,i2c-read-fail@3", "......|.sFs.."},
        {"i2c-write-fail@2,i2c-write-fail@4x2,i2c-read-fail@6", ".F.FF.|.....F"},
    };
    for (const auto& [text, pattern] : cases) {
        vsensor::clearFaults();
        ASSERT_TRUE(vsensor::scheduleFaults(text));
        EXPECT_EQ(transfers(6), pattern) << text;
    }
    for (const char* text :
         {"i2c-write-fail@0", "i2c-write-fail@1x0", "i2c-write-fail@1,", "data-write@1"}) {
        EXPECT_FALSE(vsensor::scheduleFaults(text)) << text;
        EXPECT_EQ(transfers(3), "...|...") << text;
    }
    EXPECT_TRUE(vsensor::scheduleFaults(
        "data-write-fail@2,data-read-fail@1x3,fpga-chunk-fail@9,transceiver-busy@1x5,unplug@40"));
}

}  // namespace
