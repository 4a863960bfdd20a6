// The configuration block image: byte images worked out by hand from the register layout, the
// read-back rules on a hand-made board image, and pack/unpack round trips of random values.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>

#include "tolmar2/TolmarCntrl.h"

namespace {

using Image = std::array<uint8_t, TolmarCntrl::CONFIG_BLOCK_SIZE>;

// The block of the register defaults with all DAC zero codes 0 and both flags clear, by hand:
// relays 0x20; cnvst_pw 12; sync_lead_dtime 3; gain (bit 3); iv_steps 8; iv_samples 32;
// setup_zs_delay 1000 (0x03E8); setup_fs_delay 1000; setup_ns_delay 200 (0xC8); setup_iv_delay 4;
// sync_smpl_mult 24 (0x18); v_a_inc 64; v_b_inc -64 (13 bits: 0x1FC0); iv_steps2 8;
// iv_samples2 32; v_a_inc2 64.
Image baseImage() {
    Image b{};
    b[0] = 0x20;
    b[1] = 0x0C;
    b[2] = 0x03;
    b[3] = 0x08;
    b[4] = 0x08;
    b[6] = 0x20;
    b[10] = 0xE8, b[11] = 0x03;
    b[12] = 0xE8, b[13] = 0x03;
    b[14] = 0xC8;
    b[16] = 0x04;
    b[19] = 0x18;
    b[28] = 0x40;
    b[34] = 0xC0, b[35] = 0x1F;
    b[38] = 0x08;
    b[40] = 0x20;
    b[44] = 0x40;
    return b;
}

Image packed(TolmarCntrl& c, bool clearFifo = false, bool initFlag = false) {
    c.packFpgaConfigBlock(clearFifo, initFlag);
    Image image;
    std::memcpy(image.data(), c.fpgaTransferBuffer, image.size());
    return image;
}

std::string differences(const Image& got, const Image& want) {
    std::string text;
    char line[64];
    for (size_t i = 0; i < got.size(); ++i) {
        if (got[i] != want[i]) {
            std::snprintf(line, sizeof line, " byte %zu: 0x%02X, expected 0x%02X;", i, got[i],
                          want[i]);
            text += line;
        }
    }
    return text;
}

// A controller with the register defaults loaded from zero codes of 0.
std::unique_ptr<TolmarCntrl> freshController() {
    auto c = std::make_unique<TolmarCntrl>();
    c->cal_dac[0][0] = c->cal_dac[1][0] = c->cal_dac[2][0] = 0.0;
    c->setDefaultConfigParameters();
    return c;
}

TEST(ConfigBlockDefaults, ZeroCodesAreTruncatedAndPacked) {
    auto c = freshController();
    c->cal_dac[0][0] = 2048.7;
    c->cal_dac[1][0] = 2047.2;
    c->cal_dac[2][0] = 32768.9;
    c->setDefaultConfigParameters();
    EXPECT_EQ(c->v_a_def, 2048);
    EXPECT_EQ(c->v_a_start, 2048);
    EXPECT_EQ(c->v_b_def, 2047);
    EXPECT_EQ(c->v_b_start, 2047);
    EXPECT_EQ(c->v_c_def, 32768);
    EXPECT_EQ(c->v_c_start, 32768);

    Image want = baseImage();
    want[24] = 0x00, want[25] = 0x80;  // v_c_def 0x8000
    want[26] = 0x00, want[27] = 0x08;  // v_a_def 0x0800
    want[30] = 0x00, want[31] = 0x08;  // v_a_start 0x0800, v_c_start bits 0-3 = 0
    want[32] = 0xFF, want[33] = 0x07;  // v_b_def 0x07FF, v_c_start bits 4-7 = 0
    want[36] = 0xFF, want[37] = 0x07;  // v_b_start 0x07FF, v_c_start bits 8-11 = 0
    want[38] = 0x08, want[39] = 0x80;  // iv_steps2 8, v_c_start bits 12-15 = 8
    want[48] = 0x03;                   // initFlag, clearFifo
    const Image got = packed(*c, true, true);
    EXPECT_EQ(got, want) << differences(got, want);
}

TEST(ConfigBlockDefaults, NegativeZeroCodesTruncateTowardZero) {
    auto c = freshController();
    c->cal_dac[0][0] = -1.5;
    c->cal_dac[1][0] = -0.9;
    c->cal_dac[2][0] = -2.9;
    c->setDefaultConfigParameters();
    EXPECT_EQ(c->v_a_def, 0xFFFF);  // -1 in 16 bits
    EXPECT_EQ(c->v_b_def, 0);
    EXPECT_EQ(c->v_c_start, 0xFFFE);
}

TEST(ConfigBlockDefaults, LoadOverwritesEveryField) {
    auto c = freshController();
    const Image defaults = packed(*c);
    c->relays = 1;
    c->soft_adc = c->aux_sw0 = c->aux_sw1 = c->aux_sw2 = true;
    c->sync_mode = c->up_down_scan = c->run_aux = c->read_csr_md = c->read_temp = true;
    c->run_en = true;
    c->gain = false;
    c->iv_steps = c->iv_steps2 = 100;
    c->iv_samples = c->iv_samples2 = 7;
    c->hvps_en0 = c->hvps_en1 = c->hvps_en2 = 7;
    c->setup_zs_delay = c->setup_fs_delay = c->setup_ns_delay = 5;
    c->sync_f_smpl_d = c->sync_aux_d = 9;
    c->v_c_inc = -5;
    c->sync_samples = 3;
    c->setDefaultConfigParameters();
    const Image again = packed(*c);
    EXPECT_EQ(again, defaults) << differences(again, defaults);
    EXPECT_EQ(c->sync_samples, 0xFFFFFu);  // not in the image while sync_mode is clear
}

struct PackCase {
    const char* name;
    std::function<void(TolmarCntrl&)> set;
    std::map<int, uint8_t> bytes;  // bytes that differ from baseImage()
    bool clearFifo = false;
    bool initFlag = false;
};

class ConfigBlockPack : public ::testing::TestWithParam<PackCase> {};

TEST_P(ConfigBlockPack, MatchesHandMadeImage) {
    const PackCase& pc = GetParam();
    auto c = freshController();
    pc.set(*c);
    Image want = baseImage();
    for (const auto& [at, value] : pc.bytes) want[at] = value;
    const Image got = packed(*c, pc.clearFifo, pc.initFlag);
    EXPECT_EQ(got, want) << pc.name << ":" << differences(got, want);
}

const PackCase kPackCases[] = {
    {"v_c_inc of -1: 0xFFF in 22-23 bits 4-15, 0xF in 26-27 bits 12-15, sign in 28-29 bit 13",
     [](TolmarCntrl& c) { c.v_c_inc = -1; },
     {{22, 0xF0}, {23, 0xFF}, {27, 0xF0}, {29, 0x20}}},
    {"v_c_inc at its 17-bit minimum sends only the sign",
     [](TolmarCntrl& c) { c.v_c_inc = -0x10000; },
     {{29, 0x20}}},
    {"positive v_c_inc shares 22-23 with sync_f_smpl_d",
     [](TolmarCntrl& c) {
         c.v_c_inc = 0x75A5;
         c.sync_f_smpl_d = 0xFEDCB;
     },
     {{20, 0xCB}, {21, 0xED}, {22, 0x5F}, {23, 0x5A}, {27, 0x70}}},
    {"iv_samples 0x12345 without sync_mode",
     [](TolmarCntrl& c) { c.iv_samples = 0x12345; },
     {{6, 0x45}, {7, 0x23}, {8, 0x01}}},
    {"sync_mode sends sync_samples instead",
     [](TolmarCntrl& c) {
         c.iv_samples = 0x12345;
         c.sync_samples = 0xABCDE;
         c.sync_mode = true;
     },
     {{3, 0x0A}, {6, 0xDE}, {7, 0xBC}, {8, 0x0A}}},
    {"enable groups above the samples' top nibble",
     [](TolmarCntrl& c) {
         c.iv_samples = 0xFFFFF;
         c.hvps_en0 = 7;
         c.hvps_en1 = 5;
         c.hvps_en2 = 3;
     },
     {{6, 0xFF}, {7, 0xFF}, {8, 0xFF}, {9, 0x0E}}},
    {"20-bit delays with their top nibbles in 4-5 and 16-17",
     [](TolmarCntrl& c) {
         c.setup_zs_delay = 0xABCDE;
         c.setup_fs_delay = 0x54321;
         c.setup_ns_delay = 0x9F00F;
         c.setup_iv_delay = 0x7E;
     },
     {{5, 0xA0},
      {10, 0xDE},
      {11, 0xBC},
      {12, 0x21},
      {13, 0x43},
      {14, 0x0F},
      {15, 0xF0},
      {16, 0x7E},
      {17, 0x59}}},
    {"v_c_start nibbles on top of four 12-bit words",
     [](TolmarCntrl& c) {
         c.v_c_start = 0xBEEF;
         c.v_a_start = 0x123;
         c.v_b_def = 0x456;
         c.v_b_start = 0x789;
         c.iv_steps2 = 0xABC;
     },
     {{30, 0x23},
      {31, 0xF1},
      {32, 0x56},
      {33, 0xE4},
      {36, 0x89},
      {37, 0xE7},
      {38, 0xBC},
      {39, 0xBA}}},
    {"13-bit increments",
     [](TolmarCntrl& c) {
         c.v_a_inc = -1;
         c.v_b_inc = -4096;
         c.v_a_inc2 = 4095;
     },
     {{28, 0xFF}, {29, 0x1F}, {34, 0x00}, {35, 0x10}, {44, 0xFF}, {45, 0x0F}}},
    {"every flag bit of bytes 0-3",
     [](TolmarCntrl& c) {
         c.relays = 0x7F;
         c.soft_adc = true;
         c.cnvst_pw = 0x1F;
         c.aux_sw0 = c.aux_sw1 = c.aux_sw2 = true;
         c.sync_lead_dtime = 0x3F;
         c.read_temp = true;
         c.sync_edge_r_f = c.up_down_scan = c.run_aux = c.read_csr_md = true;
         c.run_en = true;
         c.gain = false;
     },
     {{0, 0xFF}, {1, 0xFF}, {2, 0xBF}, {3, 0xB5}}},
    {"values wider than their fields are cut without touching neighbours",
     [](TolmarCntrl& c) {
         c.relays = 0xFF;
         c.cnvst_pw = 0xFF;
         c.sync_lead_dtime = 0xFF;
         c.sync_smpl_mult = 0xFF;
         c.iv_steps = 0xFFFF;
         c.hvps_en1 = 0xFF;
     },
     {{0, 0x7F}, {1, 0x1F}, {2, 0x3F}, {19, 0x1F}, {4, 0xFF}, {5, 0x0F}, {8, 0x80}, {9, 0x03}}},
    {"sync dividers, second segment samples and sync_aux_d",
     [](TolmarCntrl& c) {
         c.sync_smpl_div = 0xC3;
         c.iv_samples2 = 0xFEDCB;
         c.sync_aux_d = 0x9ABCD;
     },
     {{18, 0xC3}, {40, 0xCB}, {41, 0xED}, {42, 0x0F}, {58, 0xCD}, {59, 0xAB}, {60, 0x09}}},
    {"initFlag alone", [](TolmarCntrl&) {}, {{48, 0x01}}, false, true},
    {"clearFifo alone", [](TolmarCntrl&) {}, {{48, 0x02}}, true, false},
    {"channel enables stay out without the option",
     [](TolmarCntrl& c) {
         c.deviceOptions = 0x1F;
         for (bool& e : c.channelEnabled) e = false;
     },
     {}},
    {"disabled channels 0, 9, 15, 16 and 23 with the option",
     [](TolmarCntrl& c) {
         c.deviceOptions = 0x40;
         for (int ch : {0, 9, 15, 16, 23}) c.channelEnabled[ch] = false;
     },
     {{46, 0x01}, {47, 0x82}, {49, 0x81}}},
};

INSTANTIATE_TEST_SUITE_P(HandMade, ConfigBlockPack, ::testing::ValuesIn(kPackCases));

// The board's read-back image differs from the sent one: status bytes, the channels 16-23 in
// byte 48, only four bits of byte 60, no run_aux, and samples routed by the image's own mode.
TEST(ConfigBlockUnpack, ReadBackImageByHand) {
    auto c = freshController();
    c->iv_samples = 1234;
    c->run_aux = false;
    Image b{};
    b[2] = 0xC5;                // sync_lead_dtime 5 (bit 6 is no field), read_temp
    b[3] = 0x02 | 0x20 | 0x80;  // sync_mode, run_aux, read_csr_md
    b[4] = 0x21, b[5] = 0x93;   // iv_steps 0x321, setup_zs_delay bits 16-19 = 9
    b[6] = 0x56, b[7] = 0x34, b[8] = 0x52, b[9] = 0x01;  // samples 0x23456; hvps 5, 2, 0
    b[10] = 0x11, b[11] = 0x22;
    b[16] = 0x99, b[17] = 0x3C;  // setup_iv_delay 0x99, ns bits 16-19 = 0xC, fs = 3
    b[22] = 0x30, b[23] = 0x00;  // v_c_inc bits 0-11 = 3
    b[26] = 0x00, b[27] = 0xE0;  // v_c_inc bits 12-15 = 0xE
    b[28] = 0x00, b[29] = 0x30;  // v_a_inc bit 12 set (-4096), v_c_inc sign
    b[46] = 0x03, b[47] = 0x00;  // channels 0, 1 disabled
    b[48] = 0x81;                // channels 16, 23 disabled
    b[49] = 0xFF;                // ignored on read-back
    b[50] = 0x01, b[51] = 0xAD;  // fpgaFirmwareID
    b[52] = 0x0B;                // busy, sync too high, locked
    b[54] = 0x56, b[55] = 0x34, b[56] = 0x12, b[57] = 0x00;
    b[58] = 0x78, b[59] = 0x56, b[60] = 0xFA;  // sync_aux_d 0xA5678
    std::memcpy(c->fpgaTransferBuffer, b.data(), b.size());
    c->unpackFpgaConfigBlock();

    EXPECT_EQ(c->sync_lead_dtime, 5);
    EXPECT_TRUE(c->read_temp);
    EXPECT_TRUE(c->sync_mode);
    EXPECT_FALSE(c->run_aux);
    EXPECT_TRUE(c->read_csr_md);
    EXPECT_EQ(c->iv_steps, 0x321);
    EXPECT_EQ(c->setup_zs_delay, 0x92211u);
    EXPECT_EQ(c->sync_samples, 0x23456u);
    EXPECT_EQ(c->iv_samples, 1234);
    EXPECT_EQ(c->hvps_en0, 5);
    EXPECT_EQ(c->hvps_en1, 2);
    EXPECT_EQ(c->hvps_en2, 0);
    EXPECT_EQ(c->setup_iv_delay, 0x99);
    EXPECT_EQ(c->setup_ns_delay, 0xC0000u);
    EXPECT_EQ(c->setup_fs_delay, 0x30000u);
    EXPECT_EQ(c->v_c_inc, 0xE003 - 0x10000);
    EXPECT_EQ(c->v_a_inc, -4096);
    EXPECT_EQ(c->nEnabledChannels, 20);
    for (int ch = 0; ch < TolmarCntrl::MAX_CHANNELS; ++ch) {
        const bool off = ch == 0 || ch == 1 || ch == 16 || ch == 23;
        EXPECT_EQ(c->channelEnabled[ch], !off) << "channel " << ch;
    }
    EXPECT_EQ(c->fpgaFirmwareID, 0xAD01);
    EXPECT_TRUE(c->serialTrasceiverBusy);
    EXPECT_TRUE(c->sync_frq_high);
    EXPECT_FALSE(c->sync_frq_low);
    EXPECT_TRUE(c->sync_frq_locked);
    EXPECT_EQ(c->sync_frq8, 0x123456u);
    EXPECT_EQ(c->sync_aux_d, 0xA5678u);
}

TEST(ConfigBlockUnpack, ChannelEnablesAreReadWhateverTheOptions) {
    auto c = freshController();
    c->deviceOptions = 0;
    Image b = baseImage();
    b[47] = 0x80;  // channel 15 disabled
    std::memcpy(c->fpgaTransferBuffer, b.data(), b.size());
    c->unpackFpgaConfigBlock();
    EXPECT_FALSE(c->channelEnabled[15]);
    EXPECT_EQ(c->nEnabledChannels, 23);
}

// Every field that travels in the block (run_en aside, being atomic).
// clang-format off
#define ROUND_TRIP_FIELDS(X)                                                                   \
    X(relays) X(soft_adc) X(cnvst_pw) X(aux_sw0) X(aux_sw1) X(aux_sw2) X(sync_lead_dtime)      \
    X(sync_edge_r_f) X(sync_mode) X(up_down_scan) X(gain) X(read_csr_md) X(read_temp)          \
    X(iv_steps) X(iv_steps2) X(iv_samples) X(iv_samples2) X(sync_samples) X(hvps_en0)          \
    X(hvps_en1) X(hvps_en2) X(setup_zs_delay) X(setup_fs_delay) X(setup_ns_delay)              \
    X(setup_iv_delay) X(sync_smpl_div) X(sync_smpl_mult) X(sync_f_smpl_d) X(sync_aux_d)        \
    X(v_a_def) X(v_a_start) X(v_a_inc) X(v_b_def) X(v_b_start) X(v_b_inc) X(v_c_def)          \
    X(v_c_start) X(v_c_inc) X(v_a_inc2)
// clang-format on

// Random values within each field's width survive packing and unpacking. Channels 16-23 come
// back through the board's read-back image (byte 48), so only 0-15 are compared here.
TEST(ConfigBlockRoundTrip, RandomFieldValues) {
    std::mt19937 rng(20261206);
    auto bits = [&rng](int n) { return static_cast<uint32_t>(rng()) & ((1u << n) - 1); };
    auto flag = [&rng]() { return (rng() & 1) != 0; };
    auto signedBits = [&bits](int n) {
        return static_cast<int32_t>(bits(n)) - (1 << (n - 1));  // -2^(n-1) .. 2^(n-1)-1
    };
    for (int round = 0; round < 500; ++round) {
        auto a = freshController();
        a->deviceOptions = 0x40;
        a->relays = bits(7);
        a->soft_adc = flag();
        a->cnvst_pw = bits(5);
        a->aux_sw0 = flag(), a->aux_sw1 = flag(), a->aux_sw2 = flag();
        a->sync_lead_dtime = bits(6);
        a->sync_edge_r_f = flag(), a->sync_mode = flag(), a->up_down_scan = flag();
        a->gain = flag(), a->read_csr_md = flag(), a->read_temp = flag();
        a->run_en = flag();
        a->iv_steps = bits(12), a->iv_steps2 = bits(12);
        a->iv_samples = bits(20), a->iv_samples2 = bits(20), a->sync_samples = bits(20);
        a->hvps_en0 = bits(3), a->hvps_en1 = bits(3), a->hvps_en2 = bits(3);
        a->setup_zs_delay = bits(20), a->setup_fs_delay = bits(20), a->setup_ns_delay = bits(20);
        a->setup_iv_delay = bits(8), a->sync_smpl_div = bits(8), a->sync_smpl_mult = bits(5);
        a->sync_f_smpl_d = bits(20), a->sync_aux_d = bits(20);
        a->v_a_def = bits(12), a->v_a_start = bits(12), a->v_b_def = bits(12);
        a->v_b_start = bits(12), a->v_c_def = bits(16), a->v_c_start = bits(16);
        a->v_a_inc = signedBits(13), a->v_b_inc = signedBits(13), a->v_a_inc2 = signedBits(13);
        a->v_c_inc = signedBits(17);
        for (int ch = 0; ch < 16; ++ch) a->channelEnabled[ch] = flag();

        auto b = std::make_unique<TolmarCntrl>();
        a->packFpgaConfigBlock(false, false);
        std::memcpy(b->fpgaTransferBuffer, a->fpgaTransferBuffer, TolmarCntrl::CONFIG_BLOCK_SIZE);
        b->iv_samples = a->iv_samples, b->sync_samples = a->sync_samples;  // one is not sent
        b->unpackFpgaConfigBlock();

        SCOPED_TRACE("round " + std::to_string(round));
#define EXPECT_FIELD(f) EXPECT_EQ(b->f, a->f) << #f;
        ROUND_TRIP_FIELDS(EXPECT_FIELD)
#undef EXPECT_FIELD
        EXPECT_EQ(b->run_en.load(), a->run_en.load());
        for (int ch = 0; ch < 16; ++ch) EXPECT_EQ(b->channelEnabled[ch], a->channelEnabled[ch]);
        if (HasFailure())
            break;
    }
}

}  // namespace
