// The serial EEPROM at device 0x51 as seen over the bus, and the faults scheduled on its
// transfers.
#include <string>

#include "vsensorfixture.h"

namespace {

// Seed pattern: every cell holds a value derived from its address, so a read from the wrong
// place shows.
uint8_t seed(unsigned address) {
    return static_cast<uint8_t>(address * 7 + (address >> 8) + 1);
}

class I2cTest : public VsensorTest {
protected:
    void SetUp() override {
        VsensorTest::SetUp();
        Bytes all(vsensor::kI2cMemorySize);
        for (unsigned a = 0; a < all.size(); ++a) all[a] = seed(a);
        vsensor::writeMemory(0, all);
    }

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

// Writes carry the address high byte first; reads go on from the address pointer.
TEST_F(I2cTest, BusSequences) {
    const auto w = [](std::initializer_list<uint8_t> b) { return std::make_pair(true, Bytes(b)); };
    const auto r = [](std::initializer_list<uint8_t> b) { return std::make_pair(false, Bytes(b)); };
    const auto counting = [](uint16_t address, uint8_t first, size_t n) {
        Bytes b{uint8_t(address >> 8), uint8_t(address)};
        for (size_t i = 0; i < n; ++i) b.push_back(uint8_t(first + i));
        return std::make_pair(true, b);
    };
    const struct {
        const char* name;
        std::vector<std::pair<bool, Bytes>> ops;  // write: bus bytes; read: the bytes expected
    } cases[] = {
        {"data is stored high address byte first",
         {w({0x12, 0x34, 0xA1, 0xA2, 0xA3}), w({0x12, 0x34}), r({0xA1, 0xA2, 0xA3}),
          w({0x34, 0x12}), r({seed(0x3412)})}},
        {"read after a write continues behind the written bytes",
         {w({0x01, 0x00, 0xAA, 0xBB}), r({seed(0x0102), seed(0x0103)})}},
        {"page write wraps to the start of its page",
         {w({0x00, 0x3E, 0xC1, 0xC2, 0xC3, 0xC4}), w({0x00, 0x3E}), r({0xC1, 0xC2}),
          w({0x00, 0x00}), r({0xC3, 0xC4, seed(0x0002)}), w({0x00, 0x40}), r({seed(0x0040)})}},
        {"65 data bytes overwrite the first byte of the page",
         {counting(0x0400, 0, 65), r({1, 2}), w({0x04, 0x00}), r({64, 1, 2})}},
        {"reads wrap at the end of the memory and cross pages",
         {w({0xFF, 0xFE}), r({seed(0xFFFE), seed(0xFFFF), seed(0x0000), seed(0x0001)}),
          w({0x30, 0x3F}), r({seed(0x303F), seed(0x3040)})}},
        {"address-only writes store nothing, shorter ones are refused",
         {w({0x05, 0x00}), r({seed(0x0500)}), w({0x05, 0x00}), w({}), w({0x00}),
          r({seed(0x0500)})}},
    };
    for (const auto& c : cases) {
        SetUp();
        for (const auto& [write, bytes] : c.ops) {
            SCOPED_TRACE(std::string(c.name) + ", bus byte count " + std::to_string(bytes.size()));
            if (write)
                EXPECT_EQ(busWrite(bytes), bytes.size() >= 2);
            else
                EXPECT_EQ(busRead(bytes.size()), bytes);
        }
    }
}

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
