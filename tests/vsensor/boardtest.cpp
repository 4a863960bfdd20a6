// The FPGA board behind the emulated module, driven through the QuickUSB calls with bytes made
// by hand: the stand-in images (written by their own generator, with zlib's CRC-32) and a
// register block.
#include <functional>

#include "vsensorfixture.h"

namespace {

TEST_F(VsensorTest, ConfiguresOnlyFromOneIntactImageWithItsId) {
    const std::pair<const char*, uint16_t> shipped[] = {
        {"QM745.rbf", 0xAC45},        {"QM759.rbf", 0xAC59},    {"QM759-PLUS.rbf", 0xACE1},
        {"QM759-plus-B.rbf", 0xACE2}, {"QM794-45.rbf", 0xACF1}, {"QM794-47.rbf", 0xACF3}};
    for (const auto& [image, id] : shipped) {
        const Bytes bytes = standIn(image);
        EXPECT_NE(bytes.size() % 64, 0u) << image;  // ends in a short chunk
        ASSERT_TRUE(configure(bytes, 64));
        EXPECT_TRUE(configured());
        EXPECT_EQ(vsensor::boardState().firmwareId, id) << image;
    }
    const std::pair<const char*, std::function<void(Bytes&)>> damaged[] = {
        {"truncated by one byte", [](Bytes& b) { b.pop_back(); }},
        {"payload byte changed", [](Bytes& b) { b[700] ^= 0x10; }},
        {"checksum byte changed", [](Bytes& b) { b.back() ^= 1; }},
        {"two images", [](Bytes& b) { b.insert(b.end(), b.begin(), b.end()); }}};
    for (const auto& [name, change] : damaged) {
        Bytes image = standIn("QM759-PLUS.rbf");
        change(image);
        ASSERT_TRUE(configure(image, 7));
        EXPECT_FALSE(configured()) << name;
        EXPECT_EQ(vsensor::boardState().firmwareId, 0) << name;
    }
}

// Output C start from four nibbles, values split across nibbles, signed increments.
TEST_F(VsensorTest, DecodesAHandMadeBlock) {
    ASSERT_TRUE(configure("QM759.rbf"));
    ASSERT_TRUE(writeBlock(block("@30 23 F1 56 E4 00 10 89 E7 BC BA @44 FF 1F @48 01")));
    const vsensor::BoardRegisters r = vsensor::boardState().registers;
    EXPECT_EQ(r.v_c_start, 0xBEEF);
    EXPECT_EQ(r.v_a_start, 0x123);
    EXPECT_EQ(r.v_b_def, 0x456);
    EXPECT_EQ(r.v_b_start, 0x789);
    EXPECT_EQ(r.iv_steps2, 0xABC);
    EXPECT_EQ(r.v_b_inc, -4096);
    EXPECT_EQ(r.v_a_inc2, -1);
    EXPECT_TRUE(vsensor::boardState().initFlag);
}

}  // namespace
