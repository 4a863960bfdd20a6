// The serial EEPROM at device 0x51 as seen over the bus.
#include <string>
#include <vector>

#include "vsensorfixture.h"

namespace {

// Seed pattern: every cell holds a value derived from its address, so a read from the wrong
// place shows.
uint8_t seed(unsigned address) {
    return static_cast<uint8_t>(address * 7 + (address >> 8) + 1);
}

void seedMemory() {
    std::vector<uint8_t> all(vsensor::kI2cMemorySize);
    for (unsigned a = 0; a < all.size(); ++a) all[a] = seed(a);
    vsensor::writeMemory(0, all);
}

struct BusOp {
    bool write;
    std::vector<uint8_t> bytes;  // write: bus bytes (address first); read: the bytes expected
};

struct MemoryCase {
    std::string name;
    std::vector<BusOp> ops;
};

void PrintTo(const MemoryCase& c, std::ostream* os) {
    *os << c.name;
}

BusOp W(std::vector<uint8_t> bytes) {
    return {true, std::move(bytes)};
}
BusOp R(std::vector<uint8_t> expected) {
    return {false, std::move(expected)};
}

std::vector<uint8_t> countingFrom(uint8_t first, size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(first + i);
    return v;
}

std::vector<uint8_t> withAddress(uint16_t address, std::vector<uint8_t> data) {
    data.insert(data.begin(), {static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)});
    return data;
}

const std::vector<MemoryCase>& memoryCases() {
    static const std::vector<MemoryCase> cases = {
        {"address write then read", {W({0x20, 0x00}), R({seed(0x2000), seed(0x2001)})}},
        {"reads continue where the last stopped",
         {W({0x12, 0x34}), R({seed(0x1234)}), R({seed(0x1235), seed(0x1236)}), R({seed(0x1237)})}},
        {"data is stored high address byte first",
         {W({0x12, 0x34, 0xA1, 0xA2, 0xA3}), W({0x12, 0x34}), R({0xA1, 0xA2, 0xA3}),
          W({0x34, 0x12}), R({seed(0x3412)})}},
        {"read after a write continues behind the written bytes",
         {W({0x01, 0x00, 0xAA, 0xBB}), R({seed(0x0102), seed(0x0103)})}},
        {"page write wraps to the start of its page",
         {W({0x00, 0x3E, 0xC1, 0xC2, 0xC3, 0xC4}), W({0x00, 0x3E}), R({0xC1, 0xC2}),
          W({0x00, 0x00}), R({0xC3, 0xC4, seed(0x0002)}), W({0x00, 0x40}), R({seed(0x0040)})}},
        {"pointer stays in the page after a wrapping write",
         {W({0x07, 0x7F, 0x11, 0x22}), R({seed(0x0741)}), W({0x07, 0x40}), R({0x22})}},
        {"65 data bytes overwrite the first byte of the page",
         {W(withAddress(0x0400, countingFrom(0, 65))), R({1, 2}), W({0x04, 0x00}), R({64, 1, 2})}},
        {"a full page leaves the pointer at the page start",
         {W(withAddress(0x0840, countingFrom(0x80, 64))), R({0x80, 0x81})}},
        {"reads wrap at the end of the memory",
         {W({0xFF, 0xFE}), R({seed(0xFFFE), seed(0xFFFF), seed(0x0000), seed(0x0001)})}},
        {"reads cross page boundaries",
         {W({0x30, 0x3E}), R({seed(0x303E), seed(0x303F), seed(0x3040)})}},
        {"address-only write stores nothing",
         {W({0x05, 0x00}), R({seed(0x0500)}), W({0x05, 0x00}), R({seed(0x0500)})}},
    };
    return cases;
}

class I2cMemoryCases : public VsensorTest, public ::testing::WithParamInterface<MemoryCase> {};

TEST_P(I2cMemoryCases, BusSequence) {
    seedMemory();
    int step = 0;
    for (const BusOp& op : GetParam().ops) {
        SCOPED_TRACE("step " + std::to_string(step++));
        if (op.write) {
            ASSERT_TRUE(busWrite(op.bytes));
        } else {
            bool ok = false;
            EXPECT_EQ(busRead(op.bytes.size(), vsensor::kI2cDevice, &ok), op.bytes);
            EXPECT_TRUE(ok);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Eeprom, I2cMemoryCases, ::testing::ValuesIn(memoryCases()),
                         [](const auto& info) {
                             std::string n = info.param.name;
                             for (char& c : n) {
                                 if (!isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             }
                             return n;
                         });

// Anything but device 0x51 goes unacknowledged and leaves memory and pointer alone.
TEST_F(VsensorTest, OtherDevicesDoNotAcknowledge) {
    seedMemory();
    ASSERT_TRUE(busWrite({0x20, 0x10}));
    for (QWORD device : {0x00, 0x50, 0x52, 0x7F, 0xA2, 0x151}) {
        SCOPED_TRACE(device);
        EXPECT_FALSE(busWrite({0x20, 0x00, 0x99}, device));
        EXPECT_EQ(lastError(), vsensor::kErrorI2cNoAcknowledge);
        bool ok = true;
        EXPECT_TRUE(busRead(4, device, &ok).empty());
        EXPECT_FALSE(ok);
        EXPECT_EQ(lastError(), vsensor::kErrorI2cNoAcknowledge);
    }
    EXPECT_EQ(vsensor::readMemory(0x2000, 1)[0], seed(0x2000));
    EXPECT_EQ(busRead(1), std::vector<uint8_t>{seed(0x2010)});
}

TEST_F(VsensorTest, WriteWithoutFullAddressIsRefused) {
    seedMemory();
    ASSERT_TRUE(busWrite({0x00, 0x10}));
    EXPECT_FALSE(busWrite({}));
    EXPECT_FALSE(busWrite({0x00}));
    EXPECT_EQ(busRead(1), std::vector<uint8_t>{seed(0x0010)});
}

TEST_F(VsensorTest, ReadCountComesBackWithBytesRead) {
    ASSERT_TRUE(busWrite({0x20, 0x00}));
    std::vector<uint8_t> buffer(64, 0);
    QWORD length = 64;
    ASSERT_NE(QuickUsbReadI2C(handle, vsensor::kI2cDevice, buffer.data(), &length), 0);
    EXPECT_EQ(length, 64);
    EXPECT_EQ(buffer, vsensor::readMemory(0x2000, 64));
    EXPECT_EQ(QuickUsbReadI2C(handle, vsensor::kI2cDevice, buffer.data(), nullptr), 0);
    EXPECT_EQ(lastError(), vsensor::kErrorInvalidParameter);
}

// Each module has its own memory and its own address pointer.
TEST_F(VsensorTest, ModulesHaveSeparateMemories) {
    vsensor::setModuleCount(2);
    QHANDLE a = 0, b = 0;
    char n0[] = "QUSB-0", n1[] = "QUSB-1";
    ASSERT_NE(QuickUsbOpen(&a, n0), 0);
    ASSERT_NE(QuickUsbOpen(&b, n1), 0);
    uint8_t w[] = {0x00, 0x00, 0x5A};
    ASSERT_NE(QuickUsbWriteI2C(a, vsensor::kI2cDevice, w, 3), 0);
    EXPECT_EQ(vsensor::readMemory(0, 1, 0)[0], 0x5A);
    EXPECT_EQ(vsensor::readMemory(0, 1, 1)[0], 0xFF);
    EXPECT_TRUE(vsensor::readMemory(0, 1, 2).empty());
}

TEST_F(VsensorTest, TransferLogRecordsEveryTransfer) {
    ASSERT_TRUE(busWrite({0x21, 0x08, 1, 2, 3}));
    ASSERT_TRUE(busWrite({0x21, 0x08}));
    ASSERT_EQ(busRead(5).size(), 5u);
    EXPECT_FALSE(busWrite({0x21, 0x08}, 0x50));
    const std::vector<vsensor::I2cTransfer> log = vsensor::i2cLog();
    ASSERT_EQ(log.size(), 4u);
    const struct {
        bool write;
        uint16_t device;
        uint16_t address;
        size_t length;
        bool ok;
    } expected[] = {{true, 0x51, 0x2108, 3, true},
                    {true, 0x51, 0x2108, 0, true},
                    {false, 0x51, 0x2108, 5, true},
                    {true, 0x50, 0x2108, 0, false}};
    for (size_t i = 0; i < log.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(log[i].write, expected[i].write);
        EXPECT_EQ(log[i].device, expected[i].device);
        EXPECT_EQ(log[i].memoryAddress, expected[i].address);
        EXPECT_EQ(log[i].dataLength, expected[i].length);
        EXPECT_EQ(log[i].ok, expected[i].ok);
    }
    vsensor::clearI2cLog();
    EXPECT_TRUE(vsensor::i2cLog().empty());

    // Bounded: the oldest go first.
    for (size_t i = 0; i < vsensor::kI2cLogSize + 3; ++i) {
        ASSERT_TRUE(busWrite({0x21, static_cast<uint8_t>(i)}));
    }
    const std::vector<vsensor::I2cTransfer> kept = vsensor::i2cLog();
    ASSERT_EQ(kept.size(), vsensor::kI2cLogSize);
    EXPECT_EQ(kept.front().memoryAddress, 0x2103);
    EXPECT_EQ(kept.back().memoryAddress, 0x2100 + ((vsensor::kI2cLogSize + 2) & 0xFF));
}

}  // namespace
