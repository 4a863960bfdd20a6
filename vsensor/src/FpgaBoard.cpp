#include "FpgaBoard.h"

#include <algorithm>
#include <cstring>

namespace vsensor::detail {
namespace {

// Which way a piece of the layout travels.
enum Direction { kBoth, kSentOnly, kReadBackOnly };

// One piece of a register in the block, by absolute bit number (bit b is bit b % 8 of byte
// b / 8): `width` bits from `bit` hold the register's bits from `shift` upward.
struct Piece {
    Register reg;
    int bit;
    int width;
    int shift;
    Direction direction;
};

// The block layout as the firmware decodes it.
constexpr Piece kLayout[] = {
    {kRelays, 0, 7, 0, kBoth},
    {kSoftAdc, 7, 1, 0, kBoth},
    {kCnvstPw, 8, 5, 0, kBoth},
    {kAuxSw0, 13, 1, 0, kBoth},
    {kAuxSw1, 14, 1, 0, kBoth},
    {kAuxSw2, 15, 1, 0, kBoth},
    {kSyncLeadDtime, 16, 6, 0, kBoth},
    {kReadTemp, 23, 1, 0, kBoth},
    {kSyncEdge, 24, 1, 0, kBoth},
    {kSyncMode, 25, 1, 0, kBoth},
    {kUpDownScan, 26, 1, 0, kBoth},
    {kGain, 27, 1, 0, kBoth},
    {kRunEn, 28, 1, 0, kBoth},
    {kRunAux, 29, 1, 0, kBoth},
    {kReadCsrMode, 31, 1, 0, kBoth},
    {kIvSteps, 32, 12, 0, kBoth},
    {kZsDelay, 44, 4, 16, kBoth},
    {kSamples, 48, 20, 0, kBoth},
    {kHvpsEn0, 68, 3, 0, kBoth},
    {kHvpsEn1, 71, 3, 0, kBoth},
    {kHvpsEn2, 74, 3, 0, kBoth},
    {kZsDelay, 80, 16, 0, kBoth},
    {kFsDelay, 96, 16, 0, kBoth},
    {kNsDelay, 112, 16, 0, kBoth},
    {kIvDelay, 128, 8, 0, kBoth},
    {kNsDelay, 136, 4, 16, kBoth},
    {kFsDelay, 140, 4, 16, kBoth},
    {kSyncSmplDiv, 144, 8, 0, kBoth},
    {kSyncSmplMult, 152, 5, 0, kBoth},
    {kSyncFSmplDelay, 160, 20, 0, kBoth},
    {kVcIncBits, 180, 12, 0, kBoth},
    {kVcDef, 192, 16, 0, kBoth},
    {kVaDef, 208, 12, 0, kBoth},
    {kVcIncBits, 220, 4, 12, kBoth},
    {kVaInc, 224, 13, 0, kBoth},
    {kVcIncSign, 237, 1, 0, kBoth},
    {kVaStart, 240, 12, 0, kBoth},
    {kVcStart, 252, 4, 0, kBoth},
    {kVbDef, 256, 12, 0, kBoth},
    {kVcStart, 268, 4, 4, kBoth},
    {kVbInc, 272, 13, 0, kBoth},
    {kVbStart, 288, 12, 0, kBoth},
    {kVcStart, 300, 4, 8, kBoth},
    {kIvSteps2, 304, 12, 0, kBoth},
    {kVcStart, 316, 4, 12, kBoth},
    {kIvSamples2, 320, 20, 0, kBoth},
    {kVaInc2, 352, 13, 0, kBoth},
    {kChannelsDisabled, 368, 16, 0, kBoth},
    {kInitFlag, 384, 1, 0, kSentOnly},
    {kClearFifo, 385, 1, 0, kSentOnly},
    {kChannelsDisabled, 392, 8, 16, kSentOnly},
    {kChannelsDisabled, 384, 8, 16, kReadBackOnly},  // the read-back has them in byte 48
    {kFirmwareId, 400, 16, 0, kReadBackOnly},
    {kTransceiverBusy, 416, 1, 0, kReadBackOnly},
    {kSyncTooHigh, 417, 1, 0, kReadBackOnly},
    {kSyncTooLow, 418, 1, 0, kReadBackOnly},
    {kSyncLocked, 419, 1, 0, kReadBackOnly},
    {kSyncPeriod, 432, 32, 0, kReadBackOnly},
    {kSyncAuxD, 464, 16, 0, kBoth},
    {kSyncAuxD, 480, 4, 16, kBoth},
};

uint32_t bitsAt(const uint8_t* block, int bit, int width) {
    uint32_t value = 0;
    for (int i = 0; i < width; ++i) {
        const int b = bit + i;
        if ((block[b / 8] >> (b % 8)) & 1)
            value |= 1u << i;
    }
    return value;
}

void putBits(uint8_t* block, int bit, int width, uint32_t value) {
    for (int i = 0; i < width; ++i) {
        const int b = bit + i;
        if ((value >> i) & 1)
            block[b / 8] |= static_cast<uint8_t>(1u << (b % 8));
    }
}

int32_t signedValue(uint32_t value, int width) {
    const uint32_t sign = 1u << (width - 1);
    return static_cast<int32_t>(value & (sign - 1)) - static_cast<int32_t>(value & sign);
}

uint32_t readLe(const uint8_t* p, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

}  // namespace

uint32_t crc32(const uint8_t* data, size_t length) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void FpgaBoard::startConfiguration() {
    stream_.clear();
    configuring_ = true;
    configured_ = false;
    firmwareId_ = 0;
    registers_.fill(0);
    blockWrites_ = 0;
    lastInitFlag_ = lastClearFifo_ = false;
    busyReads_ = 0;
    sync_.stop();
    writeLog_.clear();
}

bool FpgaBoard::takeConfigurationChunk(const uint8_t* data, size_t length) {
    if (!configuring_)
        return false;
    if (stream_.size() + length > kImageMaxSize) {
        configured_ = false;
        return true;  // taken and dropped: such a stream never configures
    }
    stream_.insert(stream_.end(), data, data + length);
    checkImage();
    return true;
}

// The FPGA runs once the stream is exactly one intact image: header, payload and checksum.
void FpgaBoard::checkImage() {
    configured_ = false;
    if (stream_.size() < kImageHeaderSize + 4)
        return;
    const uint8_t* s = stream_.data();
    if (std::memcmp(s, kImageMagic, sizeof kImageMagic) != 0)
        return;
    const size_t payload = readLe(s + 12, 4);
    if (payload > kImageMaxSize || stream_.size() != kImageHeaderSize + payload + 4)
        return;
    const size_t checked = kImageHeaderSize + payload;
    if (crc32(s, checked) != readLe(s + checked, 4))
        return;
    configured_ = true;
    firmwareId_ = static_cast<uint16_t>(readLe(s + 8, 2));
}

bool FpgaBoard::writeBlock(const uint8_t* data, size_t length) {
    if (length != kBlockSize)
        return false;
    if (!configured_)
        return true;  // nothing listens yet
    const bool softAdcBefore = registers_[kSoftAdc] != 0;
    std::array<uint32_t, kRegisterCount> decoded{};
    for (const Piece& p : kLayout) {
        if (p.direction != kReadBackOnly) {
            decoded[p.reg] |= bitsAt(data, p.bit, p.width) << p.shift;
        }
    }
    registers_ = decoded;
    lastInitFlag_ = registers_[kInitFlag] != 0;
    lastClearFifo_ = registers_[kClearFifo] != 0;
    ++blockWrites_;
    sync_.onBlock(lastInitFlag_, registers_[kSyncMode] != 0);
    writeLog_.push_back({state().registers, lastInitFlag_, lastClearFifo_});
    if (writeLog_.size() > kBlockWriteLogSize)
        writeLog_.pop_front();
    // The soft ADC bit goes out over the board's serial link, which is busy for a while.
    if ((registers_[kSoftAdc] != 0) != softAdcBefore)
        busyReads_ = kTransceiverBusyReads;
    return true;
}

bool FpgaBoard::readBackMode() const {
    return configured_ && registers_[kReadCsrMode] != 0;
}

void FpgaBoard::readBack(uint8_t* out, bool busy) {
    std::array<uint32_t, kRegisterCount> image = registers_;
    image[kFirmwareId] = firmwareId_;
    image[kTransceiverBusy] = (busy || busyReads_ > 0) ? 1 : 0;
    const SyncInput::Status sync = sync_.readBack();
    image[kSyncTooHigh] = sync.tooHigh;
    image[kSyncTooLow] = sync.tooLow;
    image[kSyncLocked] = sync.locked;
    image[kSyncPeriod] = sync.period;
    if (busyReads_ > 0)
        --busyReads_;

    std::memset(out, 0, kBlockSize);
    for (const Piece& p : kLayout) {
        if (p.direction != kSentOnly) {
            const uint32_t mask = p.width == 32 ? 0xFFFFFFFFu : (1u << p.width) - 1;
            putBits(out, p.bit, p.width, (image[p.reg] >> p.shift) & mask);
        }
    }
}

BoardState FpgaBoard::state() const {
    BoardState s;
    s.configured = configured_;
    s.firmwareId = firmwareId_;
    s.blockWrites = blockWrites_;
    s.initFlag = lastInitFlag_;
    s.clearFifo = lastClearFifo_;
    const auto& r = registers_;
    BoardRegisters& o = s.registers;
    o.relays = static_cast<uint8_t>(r[kRelays]);
    o.soft_adc = r[kSoftAdc];
    o.cnvst_pw = static_cast<uint8_t>(r[kCnvstPw]);
    o.aux_sw0 = r[kAuxSw0];
    o.aux_sw1 = r[kAuxSw1];
    o.aux_sw2 = r[kAuxSw2];
    o.sync_lead_dtime = static_cast<uint8_t>(r[kSyncLeadDtime]);
    o.read_temp = r[kReadTemp];
    o.sync_edge_r_f = r[kSyncEdge];
    o.sync_mode = r[kSyncMode];
    o.up_down_scan = r[kUpDownScan];
    o.gain = r[kGain];
    o.run_en = r[kRunEn];
    o.run_aux = r[kRunAux];
    o.read_csr_md = r[kReadCsrMode];
    o.iv_steps = static_cast<uint16_t>(r[kIvSteps]);
    o.samples = r[kSamples];
    o.hvps_en0 = static_cast<uint8_t>(r[kHvpsEn0]);
    o.hvps_en1 = static_cast<uint8_t>(r[kHvpsEn1]);
    o.hvps_en2 = static_cast<uint8_t>(r[kHvpsEn2]);
    o.setup_zs_delay = r[kZsDelay];
    o.setup_fs_delay = r[kFsDelay];
    o.setup_ns_delay = r[kNsDelay];
    o.setup_iv_delay = static_cast<uint8_t>(r[kIvDelay]);
    o.sync_smpl_div = static_cast<uint8_t>(r[kSyncSmplDiv]);
    o.sync_smpl_mult = static_cast<uint8_t>(r[kSyncSmplMult]);
    o.sync_f_smpl_d = r[kSyncFSmplDelay];
    o.v_a_def = static_cast<uint16_t>(r[kVaDef]);
    o.v_a_start = static_cast<uint16_t>(r[kVaStart]);
    o.v_b_def = static_cast<uint16_t>(r[kVbDef]);
    o.v_b_start = static_cast<uint16_t>(r[kVbStart]);
    o.v_c_def = static_cast<uint16_t>(r[kVcDef]);
    o.v_c_start = static_cast<uint16_t>(r[kVcStart]);
    o.v_a_inc = static_cast<int16_t>(signedValue(r[kVaInc], 13));
    o.v_b_inc = static_cast<int16_t>(signedValue(r[kVbInc], 13));
    o.v_a_inc2 = static_cast<int16_t>(signedValue(r[kVaInc2], 13));
    // Output C's increment: its low 16 bits plus a separate sign bit, a 17-bit two's complement
    // value.
    o.v_c_inc = signedValue(r[kVcIncBits] | (r[kVcIncSign] << 16), 17);
    o.iv_steps2 = static_cast<uint16_t>(r[kIvSteps2]);
    o.iv_samples2 = r[kIvSamples2];
    o.sync_aux_d = r[kSyncAuxD];
    o.channels_disabled = r[kChannelsDisabled];
    setOutputVoltages(dac_, s);
    return s;
}

std::vector<BlockWrite> FpgaBoard::blockWriteLog() const {
    return {writeLog_.begin(), writeLog_.end()};
}

}  // namespace vsensor::detail
