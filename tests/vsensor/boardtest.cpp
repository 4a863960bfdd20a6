// The FPGA board behind the emulated module, driven through the QuickUSB calls with bytes made
// by hand: the stand-in images (written by their own generator, with zlib's CRC-32), register
// blocks and the read-back image.
#include <functional>
#include <random>

#include "vsensorfixture.h"

namespace {

using Regs = vsensor::BoardRegisters;

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

// One register field of a block: its name, how to read it, the value expected.
struct Field {
    const char* name;
    std::function<int64_t(const Regs&)> get;
    int64_t want;
};
#define FIELD(f, v)                                       \
    Field {                                               \
#f, [](const Regs& r) { return int64_t(r.f); }, v \
    }

TEST_F(VsensorTest, DecodesHandMadeBlocks) {
    const struct {
        const char* bytes;
        std::vector<Field> fields;
    } cases[] = {
        {"A5 4C 85 BA",
         {FIELD(relays, 0x25), FIELD(soft_adc, 1), FIELD(cnvst_pw, 0x0C), FIELD(aux_sw0, 0),
          FIELD(aux_sw1, 1), FIELD(aux_sw2, 0), FIELD(sync_lead_dtime, 5), FIELD(read_temp, 1),
          FIELD(sync_edge_r_f, 0), FIELD(sync_mode, 1), FIELD(up_down_scan, 0), FIELD(gain, 1),
          FIELD(run_en, 1), FIELD(run_aux, 1), FIELD(read_csr_md, 1)}},
        // Samples, enables and delays with their top nibbles.
        {"@4 21 93 56 34 52 01 11 22 @16 99 3C",
         {FIELD(iv_steps, 0x321), FIELD(setup_zs_delay, 0x92211), FIELD(samples, 0x23456),
          FIELD(hvps_en0, 5), FIELD(hvps_en1, 2), FIELD(hvps_en2, 0), FIELD(setup_iv_delay, 0x99),
          FIELD(setup_ns_delay, 0xC0000), FIELD(setup_fs_delay, 0x30000)}},
        // Output C increment of -1 and sync_f_smpl_d beside it.
        {"@20 CB ED FF FF @27 F8 @29 20",
         {FIELD(v_c_inc, -1), FIELD(sync_f_smpl_d, 0xFEDCB), FIELD(v_a_def, 0x800)}},
        // Output C start from four nibbles, signed increments.
        {"@30 23 F1 56 E4 00 10 89 E7 BC BA @44 FF 1F",
         {FIELD(v_c_start, 0xBEEF), FIELD(v_a_start, 0x123), FIELD(v_b_def, 0x456),
          FIELD(v_b_start, 0x789), FIELD(iv_steps2, 0xABC), FIELD(v_b_inc, -4096),
          FIELD(v_a_inc2, -1)}},
        {"@46 01 82 03 81 @58 CD AB 09",
         {FIELD(channels_disabled, 0x818201), FIELD(sync_aux_d, 0x9ABCD)}},
    };
    ASSERT_TRUE(configure("QM759.rbf"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        ASSERT_TRUE(writeBlock(block(c.bytes)));
        const Regs r = vsensor::boardState().registers;
        for (const Field& f : c.fields) EXPECT_EQ(f.get(r), f.want) << f.name;
    }
    EXPECT_TRUE(vsensor::boardState().initFlag);  // byte 48 of the last block
    EXPECT_TRUE(vsensor::boardState().clearFifo);
}

TEST_F(VsensorTest, ReadBackImageEchoesTheBlockWithStatus) {
    ASSERT_TRUE(configure("QM794-45.rbf"));
    std::mt19937 rng(3);
    Bytes sent(64, 0);
    for (int i = 0; i < 48; ++i) sent[i] = static_cast<uint8_t>(rng());
    sent[0] &= 0x7F;                    // soft_adc stays as at power-on
    sent[3] = (sent[3] & 0x3F) | 0x80;  // read-back mode
    sent[48] = 0x03;                    // initFlag, clearFifo
    sent[49] = 0x5A;                    // disabled channels 16-23
    sent[58] = 0x34, sent[59] = 0x12, sent[60] = 0x07;
    ASSERT_TRUE(writeBlock(sent));

    // The image is the block with the bits no register uses cleared, the channels 16-23 moved
    // to byte 48, and the status fields filled in.
    Bytes want = sent;
    const int at[] = {2, 9, 19, 29, 35, 42, 43, 45, 49};
    const uint8_t mask[] = {0xBF, 0x1F, 0x1F, 0x3F, 0x1F, 0x0F, 0x00, 0x1F, 0x00};
    for (int i = 0; i < 9; ++i) want[at[i]] &= mask[i];
    want[48] = 0x5A;
    want[50] = 0xF1, want[51] = 0xAC;  // firmware ID of the image
    want[52] = 0;                      // transceiver idle, sync detector not locked
    const Bytes got = readBack();
    ASSERT_EQ(got.size(), 64u);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(got[i], want[i]) << "byte " << i;
    EXPECT_EQ(readBack(10), Bytes(got.begin(), got.begin() + 10));  // a short buffer: the start
}

}  // namespace
