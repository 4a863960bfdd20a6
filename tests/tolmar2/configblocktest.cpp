// The configuration block image: byte images worked out by hand from the register layout, each
// unpacked again, and the read-back rules on a hand-made board image.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <memory>
#include <sstream>
#include <string>

#include "tolmar2/TolmarCntrl.h"

namespace {

using Image = std::array<uint8_t, TolmarCntrl::CONFIG_BLOCK_SIZE>;

// Sets bytes given as "offset:hex" pairs, e.g. "22:F0 23:FF".
void setBytes(Image& b, const std::string& pairs) {
    std::istringstream in(pairs);
    for (std::string pair; in >> pair;) {
        const size_t colon = pair.find(':');
        b.at(std::stoul(pair.substr(0, colon))) =
            static_cast<uint8_t>(std::stoul(pair.substr(colon + 1), nullptr, 16));
    }
}

// The block of the register defaults with all DAC zero codes 0 and both flags clear, by hand:
// relays 0x20; cnvst_pw 12; sync_lead_dtime 3; gain (bit 3); iv_steps 8; iv_samples 32;
// setup_zs_delay 1000 (0x03E8); setup_fs_delay 1000; setup_ns_delay 200 (0xC8); setup_iv_delay 4;
// sync_smpl_mult 24 (0x18); v_a_inc 64; v_b_inc -64 (13 bits: 0x1FC0); iv_steps2 8;
// iv_samples2 32; v_a_inc2 64.
Image baseImage() {
    Image b{};
    setBytes(b,
             "0:20 1:0C 2:03 3:08 4:08 6:20 10:E8 11:03 12:E8 13:03 14:C8 16:04 19:18 28:40 "
             "34:C0 35:1F 38:08 40:20 44:40");
    return b;
}

// A controller with the register defaults loaded from zero codes of 0.
std::unique_ptr<TolmarCntrl> freshController() {
    auto c = std::make_unique<TolmarCntrl>();
    c->cal_dac[0][0] = c->cal_dac[1][0] = c->cal_dac[2][0] = 0.0;
    c->setDefaultConfigParameters();
    return c;
}

struct PackCase {
    const char* name;
    std::function<void(TolmarCntrl&)> set;
    const char* bytes;  // "offset:hex" pairs that differ from baseImage()
    bool clearFifo = false;
    bool initFlag = false;
    bool roundTrip = true;  // false: values wider than their fields
};

const PackCase kPackCases[] = {
    {"defaults take the integer part of the zero codes and reset every field set before",
     [](TolmarCntrl& c) {
         c.relays = 1;
         c.soft_adc = c.sync_mode = c.up_down_scan = c.read_csr_md = c.run_en = true;
         c.gain = false;
         c.iv_steps = c.iv_samples2 = c.hvps_en1 = c.setup_ns_delay = c.v_c_inc = 5;
         c.cal_dac[0][0] = 2048.7, c.cal_dac[1][0] = 2047.2, c.cal_dac[2][0] = 32768.9;
         c.setDefaultConfigParameters();
     },
     // v_c_def 0x8000; v_a_def and v_a_start 0x800; v_b_def and v_b_start 0x7FF; v_c_start's
     // nibbles on top of 30-31, 32-33, 36-37 and 38-39 (only the last is 8); both flags.
     "24:00 25:80 27:08 31:08 32:FF 33:07 36:FF 37:07 39:80 48:03", true, true},
    {"v_c_inc of -1: 0xFFF in 22-23 bits 4-15, 0xF in 26-27 bits 12-15, sign in 28-29 bit 13",
     [](TolmarCntrl& c) { c.v_c_inc = -1; }, "22:F0 23:FF 27:F0 29:20"},
    {"positive v_c_inc shares 22-23 with sync_f_smpl_d",
     [](TolmarCntrl& c) { c.v_c_inc = 0x75A5, c.sync_f_smpl_d = 0xFEDCB; },
     "20:CB 21:ED 22:5F 23:5A 27:70"},
    {"iv_samples 0x12345 without sync_mode", [](TolmarCntrl& c) { c.iv_samples = 0x12345; },
     "6:45 7:23 8:01"},
    {"sync_mode sends sync_samples instead",
     [](TolmarCntrl& c) { c.iv_samples = 0x12345, c.sync_samples = 0xABCDE, c.sync_mode = true; },
     "3:0A 6:DE 7:BC 8:0A"},
    {"enable groups above the samples' top nibble",
     [](TolmarCntrl& c) { c.iv_samples = 0xFFFFF, c.hvps_en0 = 7, c.hvps_en1 = 5, c.hvps_en2 = 3; },
     "6:FF 7:FF 8:FF 9:0E"},
    {"20-bit delays with their top nibbles in 4-5 and 16-17",
     [](TolmarCntrl& c) {
         c.setup_zs_delay = 0xABCDE, c.setup_fs_delay = 0x54321;
         c.setup_ns_delay = 0x9F00F, c.setup_iv_delay = 0x7E;
     },
     "5:A0 10:DE 11:BC 12:21 13:43 14:0F 15:F0 16:7E 17:59"},
    {"v_c_start nibbles on top of four 12-bit words",
     [](TolmarCntrl& c) {
         c.v_c_start = 0xBEEF, c.v_a_start = 0x123, c.v_b_def = 0x456;
         c.v_b_start = 0x789, c.iv_steps2 = 0xABC;
     },
     "30:23 31:F1 32:56 33:E4 36:89 37:E7 38:BC 39:BA"},
    {"13-bit increments",
     [](TolmarCntrl& c) { c.v_a_inc = -1, c.v_b_inc = -4096, c.v_a_inc2 = 4095; },
     "28:FF 29:1F 34:00 35:10 44:FF 45:0F"},
    {"every flag bit of bytes 0-3",
     [](TolmarCntrl& c) {
         c.relays = 0x7F, c.cnvst_pw = 0x1F, c.sync_lead_dtime = 0x3F;
         c.soft_adc = c.aux_sw0 = c.aux_sw1 = c.aux_sw2 = c.read_temp = true;
         c.sync_edge_r_f = c.up_down_scan = c.run_aux = c.read_csr_md = true;
         c.run_en = true;
         c.gain = false;
     },
     "0:FF 1:FF 2:BF 3:B5"},
    {"values wider than their fields are cut without touching neighbours",
     [](TolmarCntrl& c) {
         c.relays = c.cnvst_pw = c.sync_lead_dtime = c.sync_smpl_mult = c.hvps_en1 = 0xFF;
         c.iv_steps = 0xFFFF;
     },
     "0:7F 1:1F 2:3F 19:1F 4:FF 5:0F 8:80 9:03", false, false, false},
    {"sync dividers, second segment samples and sync_aux_d",
     [](TolmarCntrl& c) {
         c.sync_smpl_div = 0xC3, c.iv_samples2 = 0xFEDCB, c.sync_aux_d = 0x9ABCD;
     },
     "18:C3 40:CB 41:ED 42:0F 58:CD 59:AB 60:09"},
    {"initFlag alone", [](TolmarCntrl&) {}, "48:01", false, true},
    {"channel enables stay out without the option",
     [](TolmarCntrl& c) {
         c.deviceOptions = 0x1F;
         for (bool& e : c.channelEnabled) e = false;
     },
     ""},
    {"disabled channels 0, 9, 15, 16 and 23 with the option",
     [](TolmarCntrl& c) {
         c.deviceOptions = 0x40;
         for (int ch : {0, 9, 15, 16, 23}) c.channelEnabled[ch] = false;
     },
     "46:01 47:82 49:81"},
};

// Every field that travels in the block and comes back unchanged in the read-back image.
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

// Each image matches the one by hand; unpacked again, it gives back every field that fits its
// width (channels 16-23 come back in byte 48, which the sent image uses for its flags).
TEST(ConfigBlockPack, MatchesHandMadeImagesAndUnpacksBack) {
    for (const PackCase& pc : kPackCases) {
        SCOPED_TRACE(pc.name);
        auto c = freshController();
        pc.set(*c);
        Image want = baseImage();
        setBytes(want, pc.bytes);
        c->packFpgaConfigBlock(pc.clearFifo, pc.initFlag);
        Image got;
        std::memcpy(got.data(), c->fpgaTransferBuffer, got.size());
        EXPECT_EQ(got, want);
        if (!pc.roundTrip)
            continue;
        auto back = std::make_unique<TolmarCntrl>();
        std::memcpy(back->fpgaTransferBuffer, got.data(), got.size());
        back->iv_samples = c->iv_samples, back->sync_samples = c->sync_samples;  // one is not sent
        back->unpackFpgaConfigBlock();
#define EXPECT_FIELD(f) EXPECT_EQ(back->f, c->f) << #f;
        ROUND_TRIP_FIELDS(EXPECT_FIELD)
#undef EXPECT_FIELD
        EXPECT_EQ(back->run_en.load(), c->run_en.load());
        for (int ch = 0; c->deviceOptions & 0x40 && ch < 16; ++ch)
            EXPECT_EQ(back->channelEnabled[ch], c->channelEnabled[ch]) << ch;
    }
}

// The board's read-back image differs from the sent one: status bytes, the channels 16-23 in
// byte 48, only four bits of byte 60, no run_aux, and samples routed by the image's own mode.
TEST(ConfigBlockUnpack, ReadBackImageByHand) {
    auto c = freshController();
    c->iv_samples = 1234;
    c->run_aux = false;
    Image b{};
    // 3: sync_mode, run_aux, read_csr_md. 6-8: samples 0x23456. 46-48: channels 0, 1, 16, 23
    // disabled; 49 ignored. 50-51: fpgaFirmwareID. 52: busy, sync too high, locked. 54-57:
    // sync_frq8. 58-60: sync_aux_d.
    setBytes(b,
             "3:A2 6:56 7:34 8:02 46:03 48:81 49:FF 50:01 51:AD 52:0B 54:56 55:34 56:12 58:78 "
             "59:56 60:FA");
    std::memcpy(c->fpgaTransferBuffer, b.data(), b.size());
    c->unpackFpgaConfigBlock();

    EXPECT_FALSE(c->run_aux);
    EXPECT_EQ(c->sync_samples, 0x23456u);
    EXPECT_EQ(c->iv_samples, 1234);
    EXPECT_EQ(c->nEnabledChannels, 20);
    for (int ch = 0; ch < TolmarCntrl::MAX_CHANNELS; ++ch) {
        const bool off = ch == 0 || ch == 1 || ch == 16 || ch == 23;
        EXPECT_EQ(c->channelEnabled[ch], !off) << "channel " << ch;
    }
    EXPECT_EQ(c->fpgaFirmwareID, 0xAD01);
    EXPECT_TRUE(c->serialTrasceiverBusy && c->sync_frq_high && c->sync_frq_locked);
    EXPECT_FALSE(c->sync_frq_low);
    EXPECT_EQ(c->sync_frq8, 0x123456u);
    EXPECT_EQ(c->sync_aux_d, 0xA5678u);
}

}  // namespace
