// The FPGA board behind the emulated module, driven through the QuickUSB calls with bytes made
// by hand: the stand-in images (written by their own generator, with zlib's CRC-32), register
// blocks and the read-back image.
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "tempdir.h"
#include "vsensorfixture.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes standIn(const char* name) {
    const std::string text = readWholeFile(std::string(FIRMWARE_SOURCE_DIR) + "/" + name);
    return Bytes(text.begin(), text.end());
}

uint16_t headerId(const Bytes& image) {
    return static_cast<uint16_t>(image[8] | image[9] << 8);
}

class BoardTest : public VsensorTest {
protected:
    // Sends a bit stream in chunks of the given size (the last one shorter).
    bool configure(const Bytes& stream, size_t chunk = 64) {
        if (!QuickUsbStartFpgaConfiguration(handle))
            return false;
        for (size_t at = 0; at < stream.size(); at += chunk) {
            Bytes part(stream.begin() + at, stream.begin() + std::min(stream.size(), at + chunk));
            if (!QuickUsbWriteFpgaData(handle, part.data(), part.size()))
                return false;
        }
        return true;
    }

    bool configured() {
        QWORD flag = 7;
        EXPECT_NE(QuickUsbIsFpgaConfigured(handle, &flag), 0);
        return flag != 0;
    }

    bool writeBlock(Bytes block) {
        return QuickUsbWriteData(handle, block.data(), block.size()) != 0;
    }

    Bytes readBack(QULONG ask = 64, bool* ok = nullptr) {
        Bytes out(ask, 0xEE);
        QULONG length = ask;
        const bool r = QuickUsbReadData(handle, out.data(), &length) != 0;
        if (ok)
            *ok = r;
        out.resize(length);
        return out;
    }
};

struct ImageCase {
    const char* name;
    std::function<void(Bytes&)> change;
    size_t chunk;
    bool configures;
};

TEST_F(BoardTest, ConfiguresOnlyFromOneIntactImage) {
    const ImageCase cases[] = {
        {"image in 64-byte chunks", [](Bytes&) {}, 64, true},
        {"image in 7-byte chunks", [](Bytes&) {}, 7, true},
        {"truncated by one byte", [](Bytes& b) { b.pop_back(); }, 64, false},
        {"one byte too many", [](Bytes& b) { b.push_back(0); }, 64, false},
        {"payload byte changed", [](Bytes& b) { b[700] ^= 0x10; }, 64, false},
        {"checksum byte changed", [](Bytes& b) { b.back() ^= 1; }, 64, false},
        {"length field changed", [](Bytes& b) { b[12] ^= 1; }, 64, false},
        {"not an image", [](Bytes& b) { b[0] = 'X'; }, 64, false},
        {"two images", [](Bytes& b) { b.insert(b.end(), b.begin(), b.end()); }, 64, false},
    };
    for (const ImageCase& ic : cases) {
        SCOPED_TRACE(ic.name);
        Bytes image = standIn("QM759-PLUS.rbf");
        const uint16_t id = headerId(image);
        ic.change(image);
        ASSERT_TRUE(configure(image, ic.chunk));
        EXPECT_EQ(configured(), ic.configures);
        const vsensor::BoardState state = vsensor::boardState();
        EXPECT_EQ(state.configured, ic.configures);
        EXPECT_EQ(state.firmwareId, ic.configures ? id : 0);
    }
}

TEST_F(BoardTest, EveryShippedImageConfiguresWithItsId) {
    const struct {
        const char* file;
        uint16_t id;
    } images[] = {{"QM745.rbf", 0xAC45},      {"QM759.rbf", 0xAC59},
                  {"QM759-PLUS.rbf", 0xACE1}, {"QM759-plus-B.rbf", 0xACE2},
                  {"QM794-45.rbf", 0xACF1},   {"QM794-47.rbf", 0xACF3}};
    for (const auto& im : images) {
        SCOPED_TRACE(im.file);
        const Bytes image = standIn(im.file);
        ASSERT_GT(image.size(), 64u);
        EXPECT_NE(image.size() % 64, 0u);  // ends in a short chunk
        ASSERT_TRUE(configure(image));
        EXPECT_TRUE(configured());
        EXPECT_EQ(vsensor::boardState().firmwareId, im.id);
    }
}

TEST_F(BoardTest, RestartingConfigurationStopsTheFpga) {
    ASSERT_TRUE(configure(standIn("QM759.rbf")));
    ASSERT_TRUE(configured());
    ASSERT_NE(QuickUsbStartFpgaConfiguration(handle), 0);
    EXPECT_FALSE(configured());
}

TEST_F(BoardTest, RefusedChunkLeavesTheStreamIncomplete) {
    vsensor::scheduleFault(vsensor::Fault::FpgaChunkFail, 3);
    EXPECT_FALSE(configure(standIn("QM759.rbf")));
    EXPECT_EQ(lastError(), vsensor::kErrorTransferFailed);
    EXPECT_FALSE(configured());
}

TEST_F(BoardTest, UnconfiguredFpgaIgnoresBlocksAndSendsNothing) {
    Bytes block(64, 0);
    block[0] = 0x7F;
    block[3] = 0x80;  // read-back mode
    EXPECT_TRUE(writeBlock(block));
    EXPECT_EQ(vsensor::boardState().blockWrites, 0u);
    bool ok = true;
    EXPECT_TRUE(readBack(64, &ok).empty());
    EXPECT_FALSE(ok);
    EXPECT_FALSE(writeBlock(Bytes(63, 0)));  // a block is 64 bytes
    EXPECT_EQ(lastError(), vsensor::kErrorInvalidParameter);
}

// Register values decoded from blocks written byte by byte.
struct BlockCase {
    const char* name;
    std::vector<std::pair<int, uint8_t>> bytes;
    std::function<void(const vsensor::BoardRegisters&)> check;
};

TEST_F(BoardTest, DecodesHandMadeBlocks) {
    const BlockCase cases[] = {
        {"flags of bytes 0-3",
         {{0, 0xA5}, {1, 0x4C}, {2, 0x85}, {3, 0xBA}},
         [](const vsensor::BoardRegisters& r) {
             EXPECT_EQ(r.relays, 0x25);
             EXPECT_TRUE(r.soft_adc);
             EXPECT_EQ(r.cnvst_pw, 0x0C);
             EXPECT_TRUE(r.aux_sw1);
             EXPECT_FALSE(r.aux_sw0);
             EXPECT_FALSE(r.aux_sw2);
             EXPECT_EQ(r.sync_lead_dtime, 5);
             EXPECT_TRUE(r.read_temp);
             EXPECT_FALSE(r.sync_edge_r_f);
             EXPECT_TRUE(r.sync_mode);
             EXPECT_FALSE(r.up_down_scan);
             EXPECT_TRUE(r.gain);
             EXPECT_TRUE(r.run_en);
             EXPECT_TRUE(r.run_aux);
             EXPECT_TRUE(r.read_csr_md);
         }},
        {"samples, enables and delays with their top nibbles",
         {{4, 0x21},
          {5, 0x93},
          {6, 0x56},
          {7, 0x34},
          {8, 0x52},
          {9, 0x01},
          {10, 0x11},
          {11, 0x22},
          {16, 0x99},
          {17, 0x3C}},
         [](const vsensor::BoardRegisters& r) {
             EXPECT_EQ(r.iv_steps, 0x321);
             EXPECT_EQ(r.setup_zs_delay, 0x92211u);
             EXPECT_EQ(r.samples, 0x23456u);
             EXPECT_EQ(r.hvps_en0, 5);
             EXPECT_EQ(r.hvps_en1, 2);
             EXPECT_EQ(r.hvps_en2, 0);
             EXPECT_EQ(r.setup_iv_delay, 0x99);
             EXPECT_EQ(r.setup_ns_delay, 0xC0000u);
             EXPECT_EQ(r.setup_fs_delay, 0x30000u);
         }},
        {"output C increment of -1 and sync_f_smpl_d beside it",
         {{20, 0xCB}, {21, 0xED}, {22, 0xFF}, {23, 0xFF}, {27, 0xF8}, {29, 0x20}},
         [](const vsensor::BoardRegisters& r) {
             EXPECT_EQ(r.v_c_inc, -1);
             EXPECT_EQ(r.sync_f_smpl_d, 0xFEDCBu);
             EXPECT_EQ(r.v_a_def, 0x800);
         }},
        {"output C start from four nibbles, signed increments",
         {{30, 0x23},
          {31, 0xF1},
          {32, 0x56},
          {33, 0xE4},
          {34, 0x00},
          {35, 0x10},
          {36, 0x89},
          {37, 0xE7},
          {38, 0xBC},
          {39, 0xBA},
          {44, 0xFF},
          {45, 0x1F}},
         [](const vsensor::BoardRegisters& r) {
             EXPECT_EQ(r.v_c_start, 0xBEEF);
             EXPECT_EQ(r.v_a_start, 0x123);
             EXPECT_EQ(r.v_b_def, 0x456);
             EXPECT_EQ(r.v_b_start, 0x789);
             EXPECT_EQ(r.iv_steps2, 0xABC);
             EXPECT_EQ(r.v_b_inc, -4096);
             EXPECT_EQ(r.v_a_inc2, -1);
         }},
        {"channel enables, flags and sync_aux_d",
         {{46, 0x01}, {47, 0x82}, {48, 0x03}, {49, 0x81}, {58, 0xCD}, {59, 0xAB}, {60, 0x09}},
         [](const vsensor::BoardRegisters& r) {
             EXPECT_EQ(r.channels_disabled, 0x818201u);
             EXPECT_EQ(r.sync_aux_d, 0x9ABCDu);
         }},
    };
    ASSERT_TRUE(configure(standIn("QM759.rbf")));
    for (const BlockCase& bc : cases) {
        SCOPED_TRACE(bc.name);
        Bytes block(64, 0);
        for (const auto& [at, value] : bc.bytes) block[at] = value;
        ASSERT_TRUE(writeBlock(block));
        bc.check(vsensor::boardState().registers);
    }
    EXPECT_TRUE(vsensor::boardState().initFlag);
    EXPECT_TRUE(vsensor::boardState().clearFifo);
}

TEST_F(BoardTest, ReadBackImageEchoesTheBlockWithStatus) {
    ASSERT_TRUE(configure(standIn("QM794-45.rbf")));
    std::mt19937 rng(3);
    Bytes block(64, 0);
    for (int i = 0; i < 48; ++i) block[i] = static_cast<uint8_t>(rng());
    block[0] &= 0x7F;                     // soft_adc stays as at power-on
    block[3] = (block[3] & 0x3F) | 0x80;  // read-back mode
    block[48] = 0x03;                     // initFlag, clearFifo
    block[49] = 0x5A;                     // disabled channels 16-23
    block[58] = 0x34, block[59] = 0x12, block[60] = 0x07;
    ASSERT_TRUE(writeBlock(block));

    // The image is the block with the bits no register uses cleared, the channels 16-23 moved
    // to byte 48, and the status fields filled in.
    Bytes want = block;
    want[2] &= 0xBF;
    want[9] &= 0x1F;
    want[19] &= 0x1F;
    want[29] &= 0x3F;
    want[35] &= 0x1F;
    want[42] &= 0x0F;
    want[43] = 0;
    want[45] &= 0x1F;
    want[48] = 0x5A;
    want[49] = 0;
    want[50] = 0xF1, want[51] = 0xAC;  // firmware ID of the image
    want[52] = 0;                      // transceiver idle, sync detector not locked
    const Bytes got = readBack();
    ASSERT_EQ(got.size(), 64u);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(got[i], want[i]) << "byte " << i;

    // A short buffer gets the start of the image.
    const Bytes part = readBack(10);
    ASSERT_EQ(part.size(), 10u);
    EXPECT_EQ(Bytes(got.begin(), got.begin() + 10), part);
}

TEST_F(BoardTest, TransceiverIsBusyForTwoReadBacksAfterSoftAdcChanges) {
    ASSERT_TRUE(configure(standIn("QM759.rbf")));
    Bytes block(64, 0);
    block[3] = 0x80;
    ASSERT_TRUE(writeBlock(block));
    EXPECT_EQ(readBack()[52] & 1, 0);
    block[0] = 0x80;  // soft_adc on
    ASSERT_TRUE(writeBlock(block));
    EXPECT_EQ(readBack()[52] & 1, 1);
    EXPECT_EQ(readBack()[52] & 1, 1);
    EXPECT_EQ(readBack()[52] & 1, 0);
    ASSERT_TRUE(writeBlock(block));  // unchanged: stays idle
    EXPECT_EQ(readBack()[52] & 1, 0);
    vsensor::scheduleFault(vsensor::Fault::TransceiverBusy, 2);
    EXPECT_EQ(readBack()[52] & 1, 0);
    EXPECT_EQ(readBack()[52] & 1, 1);
    EXPECT_EQ(readBack()[52] & 1, 0);
}

TEST_F(BoardTest, FailedTransfersChangeNothing) {
    ASSERT_TRUE(configure(standIn("QM759.rbf")));
    Bytes block(64, 0);
    block[3] = 0x80;
    block[0] = 0x11;
    ASSERT_TRUE(writeBlock(block));
    vsensor::scheduleFault(vsensor::Fault::DataWriteFail, 1);
    block[0] = 0x22;
    EXPECT_FALSE(writeBlock(block));
    EXPECT_EQ(lastError(), vsensor::kErrorTransferFailed);
    EXPECT_EQ(vsensor::boardState().registers.relays, 0x11);
    vsensor::scheduleFault(vsensor::Fault::DataReadFail, 1);
    bool ok = true;
    EXPECT_TRUE(readBack(64, &ok).empty());
    EXPECT_FALSE(ok);
    EXPECT_EQ(readBack()[0], 0x11);
}

TEST_F(BoardTest, PulledCableFailsEveryModuleCall) {
    ASSERT_TRUE(configure(standIn("QM759.rbf")));
    vsensor::scheduleFault(vsensor::Fault::Unplug, 2);
    QWORD flag = 0;
    EXPECT_NE(QuickUsbIsFpgaConfigured(handle, &flag), 0);  // the first call still gets through
    EXPECT_EQ(QuickUsbIsFpgaConfigured(handle, &flag), 0);
    EXPECT_EQ(lastError(), vsensor::kErrorDeviceRemoved);
    EXPECT_FALSE(writeBlock(Bytes(64, 0)));
    char names[64];
    EXPECT_EQ(QuickUsbFindModules(names, sizeof names), 0);
    QHANDLE other = 0;
    char name[] = "QUSB-0";
    EXPECT_EQ(QuickUsbOpen(&other, name), 0);
    EXPECT_EQ(QuickUsbClose(handle), 0);
    QWORD major = 0, minor = 0, build = 0;
    EXPECT_NE(QuickUsbGetDllVersion(&major, &minor, &build), 0);  // the host library is still there

    vsensor::reset();  // plugged in again: power-on state
    EXPECT_NE(QuickUsbFindModules(names, sizeof names), 0);
    EXPECT_FALSE(vsensor::boardState().configured);
}

TEST_F(BoardTest, UnplugAtOnce) {
    vsensor::unplug();
    char names[64];
    EXPECT_EQ(QuickUsbFindModules(names, sizeof names), 0);
    EXPECT_EQ(lastError(), vsensor::kErrorDeviceRemoved);
}

TEST(VsensorBoardFaults, FaultTextsOfTheBoard) {
    resetWithCleanEnvironment();
    EXPECT_TRUE(vsensor::scheduleFaults(
        "data-write-fail@2,data-read-fail@1x3,fpga-chunk-fail@9,transceiver-busy@1x5,unplug@40"));
    EXPECT_FALSE(vsensor::scheduleFaults("unplug@0"));
    EXPECT_FALSE(vsensor::scheduleFaults("data-write@1"));
    vsensor::reset();
}

}  // namespace
