// The FPGA configuration register block: defaults, packing into the 64-byte image, unpacking
// of the board's read-back image, and the transfers.
#include <array>
#include <atomic>
#include <cstring>
#include <type_traits>

#include "UsbLink.h"
#include "tolmar2/MsgLogger.h"
#include "tolmar2/TolmarCntrl.h"

namespace {

// Byte positions in the block image (16- and 32-bit words are little-endian).
enum : int {
    kRelays = 0,       // relays, soft_adc
    kAuxSwitches = 1,  // cnvst_pw, aux_sw0..2
    kSyncLead = 2,     // sync_lead_dtime, read_temp
    kModeBits = 3,     // sync_edge_r_f .. read_csr_md
    kSteps = 4,        // iv_steps, setup_zs_delay bits 16-19
    kSamples = 6,      // 32-bit: samples (20 bits)
    kHvps = 8,         // 16-bit, shared with the samples: hvps_en0..2
    kZsDelay = 10,
    kFsDelay = 12,
    kNsDelay = 14,
    kIvDelay = 16,  // setup_iv_delay, high nibbles of ns and fs delays
    kSmplDiv = 18,
    kSmplMult = 19,
    kFSmplDelay = 20,  // 32-bit: sync_f_smpl_d (20 bits)
    kVcIncLow = 22,    // 16-bit, shared with the above: v_c_inc bits 0-11 in bits 4-15
    kVcDef = 24,
    kVaDef = 26,    // v_a_def, v_c_inc bits 12-15
    kVaInc = 28,    // v_a_inc, sign of v_c_inc
    kVaStart = 30,  // v_a_start, v_c_start bits 0-3
    kVbDef = 32,    // v_b_def, v_c_start bits 4-7
    kVbInc = 34,
    kVbStart = 36,   // v_b_start, v_c_start bits 8-11
    kSteps2 = 38,    // iv_steps2, v_c_start bits 12-15
    kSamples2 = 40,  // 32-bit: iv_samples2 (20 bits)
    kVaInc2 = 44,
    kChannelsLow = 46,   // disabled channels 0-15
    kFlags = 48,         // sent: initFlag, clearFifo; read back: disabled channels 16-23
    kChannelsHigh = 49,  // sent: disabled channels 16-23
    kFirmwareId = 50,    // read back only
    kStatus = 52,        // read back only
    kSyncPeriod = 54,    // read back only, 32-bit
    kSyncAuxLow = 58,    // sync_aux_d bits 0-15
    kSyncAuxHigh = 60,   // sync_aux_d bits 16-23
};

// Bits of the mode byte.
enum : uint8_t {
    kSyncEdge = 1u << 0,
    kSyncMode = 1u << 1,
    kUpDown = 1u << 2,
    kGain = 1u << 3,
    kRunEn = 1u << 4,
    kRunAux = 1u << 5,
    kReadCsr = 1u << 7,
};

constexpr uint32_t kMask20 = 0xFFFFF;

void put16(uint8_t* b, int at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

void put32(uint8_t* b, int at, uint32_t v) {
    put16(b, at, v);
    put16(b, at + 2, v >> 16);
}

uint16_t get16(const uint8_t* b, int at) {
    return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

uint32_t get32(const uint8_t* b, int at) {
    return get16(b, at) | (static_cast<uint32_t>(get16(b, at + 2)) << 16);
}

// Integer part of a DAC calibration offset, kept in 16 bits.
uint16_t zeroCode(double offset) {
    return static_cast<uint16_t>(static_cast<int64_t>(offset));
}

// Bits [bit, bit + width) of the little-endian image from byte `byte` (width 1..32, within the
// block).
struct Bits {
    int byte;
    int bit;
    int width;
};

// One bit of the mode byte.
constexpr Bits modeBit(uint8_t mask) {
    int bit = 0;
    while (!(mask & (1u << bit))) ++bit;
    return {kModeBits, bit, 1};
}

uint32_t readBits(const uint8_t* b, Bits at) {
    uint64_t word = 0;
    for (int i = 0; i < 5 && at.byte + i < TolmarCntrl::CONFIG_BLOCK_SIZE; ++i)
        word |= static_cast<uint64_t>(b[at.byte + i]) << (8 * i);
    return static_cast<uint32_t>((word >> at.bit) & ((uint64_t{1} << at.width) - 1));
}

template <typename T>
struct ValueOf {
    using type = T;
};
template <typename T>
struct ValueOf<std::atomic<T>> {
    using type = T;
};

template <auto Field>
void storeField(TolmarCntrl& c, int64_t value) {
    using T = typename ValueOf<std::remove_reference_t<decltype(c.*Field)>>::type;
    c.*Field = static_cast<T>(value);
}

// A field of the read-back image: its pieces, lowest bits first, and whether the value they make
// is a two's complement number.
struct ReadBackField {
    void (*store)(TolmarCntrl&, int64_t);
    std::array<Bits, 4> pieces;  // unused pieces have width 0
    bool isSigned;

    int64_t value(const uint8_t* b) const {
        uint64_t v = 0;
        int width = 0;
        for (const Bits& piece : pieces) {
            if (piece.width == 0)
                break;
            v |= static_cast<uint64_t>(readBits(b, piece)) << width;
            width += piece.width;
        }
        const uint64_t sign = uint64_t{1} << (width - 1);
        return isSigned && (v & sign) ? static_cast<int64_t>(v) - static_cast<int64_t>(2 * sign)
                                      : static_cast<int64_t>(v);
    }
};

template <auto Field>
constexpr ReadBackField unsignedField(std::array<Bits, 4> pieces) {
    return {&storeField<Field>, pieces, false};
}

template <auto Field>
constexpr ReadBackField signedField(std::array<Bits, 4> pieces) {
    return {&storeField<Field>, pieces, true};
}

// Every field the board reads back, but the samples (routed by the mode) and the channel
// enables. run_aux is not read back; byte 60 brings only four bits of sync_aux_d; bytes 50-57 are
// status, read back only.
using C = TolmarCntrl;
constexpr ReadBackField kReadBackFields[] = {
    unsignedField<&C::relays>({{{kRelays, 0, 7}}}),
    unsignedField<&C::soft_adc>({{{kRelays, 7, 1}}}),
    unsignedField<&C::cnvst_pw>({{{kAuxSwitches, 0, 5}}}),
    unsignedField<&C::aux_sw0>({{{kAuxSwitches, 5, 1}}}),
    unsignedField<&C::aux_sw1>({{{kAuxSwitches, 6, 1}}}),
    unsignedField<&C::aux_sw2>({{{kAuxSwitches, 7, 1}}}),
    unsignedField<&C::sync_lead_dtime>({{{kSyncLead, 0, 6}}}),
    unsignedField<&C::read_temp>({{{kSyncLead, 7, 1}}}),
    unsignedField<&C::sync_edge_r_f>({{modeBit(kSyncEdge)}}),
    unsignedField<&C::sync_mode>({{modeBit(kSyncMode)}}),
    unsignedField<&C::up_down_scan>({{modeBit(kUpDown)}}),
    unsignedField<&C::gain>({{modeBit(kGain)}}),
    unsignedField<&C::run_en>({{modeBit(kRunEn)}}),
    unsignedField<&C::read_csr_md>({{modeBit(kReadCsr)}}),
    unsignedField<&C::iv_steps>({{{kSteps, 0, 12}}}),
    unsignedField<&C::hvps_en0>({{{kHvps, 4, 3}}}),
    unsignedField<&C::hvps_en1>({{{kHvps, 7, 3}}}),
    unsignedField<&C::hvps_en2>({{{kHvps, 10, 3}}}),
    unsignedField<&C::setup_zs_delay>({{{kZsDelay, 0, 16}, {kSteps, 12, 4}}}),
    unsignedField<&C::setup_fs_delay>({{{kFsDelay, 0, 16}, {kIvDelay, 12, 4}}}),
    unsignedField<&C::setup_ns_delay>({{{kNsDelay, 0, 16}, {kIvDelay, 8, 4}}}),
    unsignedField<&C::setup_iv_delay>({{{kIvDelay, 0, 8}}}),
    unsignedField<&C::sync_smpl_div>({{{kSmplDiv, 0, 8}}}),
    unsignedField<&C::sync_smpl_mult>({{{kSmplMult, 0, 5}}}),
    unsignedField<&C::sync_f_smpl_d>({{{kFSmplDelay, 0, 20}}}),
    // Output C's increment: bits 0-11, bits 12-15 and the sign in three words.
    signedField<&C::v_c_inc>({{{kVcIncLow, 4, 12}, {kVaDef, 12, 4}, {kVaInc, 13, 1}}}),
    unsignedField<&C::v_c_def>({{{kVcDef, 0, 16}}}),
    unsignedField<&C::v_a_def>({{{kVaDef, 0, 12}}}),
    signedField<&C::v_a_inc>({{{kVaInc, 0, 13}}}),
    unsignedField<&C::v_a_start>({{{kVaStart, 0, 12}}}),
    unsignedField<&C::v_b_def>({{{kVbDef, 0, 12}}}),
    signedField<&C::v_b_inc>({{{kVbInc, 0, 13}}}),
    unsignedField<&C::v_b_start>({{{kVbStart, 0, 12}}}),
    unsignedField<&C::iv_steps2>({{{kSteps2, 0, 12}}}),
    // Output C's start code, nibble by nibble from the top of four words.
    unsignedField<&C::v_c_start>(
        {{{kVaStart, 12, 4}, {kVbDef, 12, 4}, {kVbStart, 12, 4}, {kSteps2, 12, 4}}}),
    unsignedField<&C::iv_samples2>({{{kSamples2, 0, 20}}}),
    signedField<&C::v_a_inc2>({{{kVaInc2, 0, 13}}}),
    unsignedField<&C::sync_aux_d>({{{kSyncAuxLow, 0, 16}, {kSyncAuxHigh, 0, 4}}}),
    unsignedField<&C::fpgaFirmwareID>({{{kFirmwareId, 0, 16}}}),
    unsignedField<&C::serialTrasceiverBusy>({{{kStatus, 0, 1}}}),
    unsignedField<&C::sync_frq_high>({{{kStatus, 1, 1}}}),
    unsignedField<&C::sync_frq_low>({{{kStatus, 2, 1}}}),
    unsignedField<&C::sync_frq_locked>({{{kStatus, 3, 1}}}),
    unsignedField<&C::sync_frq8>({{{kSyncPeriod, 0, 32}}}),
};

}  // namespace

void TolmarCntrl::setDefaultConfigParameters() {
    relays = 0x20;
    soft_adc = false;
    cnvst_pw = 12;
    aux_sw0 = aux_sw1 = aux_sw2 = false;
    sync_lead_dtime = 3;
    sync_edge_r_f = false;
    sync_mode = false;
    up_down_scan = false;
    gain = true;
    run_en = false;
    run_aux = false;
    read_csr_md = false;
    iv_steps = 8;
    iv_samples = 32;
    sync_samples = 0xFFFFF;
    hvps_en0 = hvps_en1 = hvps_en2 = 0;
    setup_zs_delay = 1000;
    setup_fs_delay = 1000;
    setup_ns_delay = 200;
    setup_iv_delay = 4;
    sync_smpl_div = 0;
    sync_smpl_mult = 24;
    sync_f_smpl_d = 0;
    v_a_def = v_a_start = zeroCode(cal_dac[0][0]);
    v_a_inc = 64;
    v_b_def = v_b_start = zeroCode(cal_dac[1][0]);
    v_b_inc = -64;
    v_c_def = v_c_start = zeroCode(cal_dac[2][0]);
    v_c_inc = 0;
    iv_steps2 = 8;
    iv_samples2 = 32;
    v_a_inc2 = 64;
    sync_aux_d = 0;
    read_temp = false;
}

void TolmarCntrl::packFpgaConfigBlock(bool clearFifo, bool initFlag) {
    uint8_t* b = fpgaTransferBuffer;
    std::memset(b, 0, CONFIG_BLOCK_SIZE);

    b[kRelays] = (relays & 0x7F) | (soft_adc ? 0x80 : 0);
    b[kAuxSwitches] =
        (cnvst_pw & 0x1F) | (aux_sw0 ? 0x20 : 0) | (aux_sw1 ? 0x40 : 0) | (aux_sw2 ? 0x80 : 0);
    b[kSyncLead] = (sync_lead_dtime & 0x3F) | (read_temp ? 0x80 : 0);
    b[kModeBits] = (sync_edge_r_f ? kSyncEdge : 0) | (sync_mode ? kSyncMode : 0) |
                   (up_down_scan ? kUpDown : 0) | (gain ? kGain : 0) | (run_en ? kRunEn : 0) |
                   (run_aux ? kRunAux : 0) | (read_csr_md ? kReadCsr : 0);
    put16(b, kSteps, (iv_steps & 0xFFFu) | (((setup_zs_delay >> 16) & 0xF) << 12));

    const uint32_t samples = sync_mode ? sync_samples : static_cast<uint32_t>(iv_samples);
    put32(b, kSamples, samples & kMask20);
    // The enables share the samples' upper half word, above its bits 0-3.
    put16(b, kHvps,
          get16(b, kHvps) | ((hvps_en0 & 7u) << 4) | ((hvps_en1 & 7u) << 7) |
              ((hvps_en2 & 7u) << 10));

    put16(b, kZsDelay, setup_zs_delay & 0xFFFF);
    put16(b, kFsDelay, setup_fs_delay & 0xFFFF);
    put16(b, kNsDelay, setup_ns_delay & 0xFFFF);
    put16(b, kIvDelay,
          setup_iv_delay | (((setup_ns_delay >> 16) & 0xF) << 8) |
              (((setup_fs_delay >> 16) & 0xF) << 12));
    b[kSmplDiv] = sync_smpl_div;
    b[kSmplMult] = sync_smpl_mult & 0x1F;

    // Output C's increment is spread over three words: bits 0-11, bits 12-15 and the sign.
    const uint32_t vcInc = static_cast<uint32_t>(v_c_inc);
    put32(b, kFSmplDelay, sync_f_smpl_d & kMask20);
    put16(b, kVcIncLow, get16(b, kVcIncLow) | ((vcInc & 0xFFF) << 4));
    put16(b, kVcDef, v_c_def);
    put16(b, kVaDef, (v_a_def & 0xFFFu) | (((vcInc >> 12) & 0xF) << 12));
    put16(b, kVaInc, (static_cast<uint16_t>(v_a_inc) & 0x1FFFu) | (v_c_inc < 0 ? 0x2000 : 0));

    // Output C's start code goes nibble by nibble into the top of four words.
    put16(b, kVaStart, (v_a_start & 0xFFFu) | ((v_c_start & 0xFu) << 12));
    put16(b, kVbDef, (v_b_def & 0xFFFu) | (((v_c_start >> 4) & 0xFu) << 12));
    put16(b, kVbInc, static_cast<uint16_t>(v_b_inc) & 0x1FFFu);
    put16(b, kVbStart, (v_b_start & 0xFFFu) | (((v_c_start >> 8) & 0xFu) << 12));
    put16(b, kSteps2, (iv_steps2 & 0xFFFu) | (((v_c_start >> 12) & 0xFu) << 12));
    put32(b, kSamples2, static_cast<uint32_t>(iv_samples2) & kMask20);
    put16(b, kVaInc2, static_cast<uint16_t>(v_a_inc2) & 0x1FFFu);

    if (deviceOptions & OPTION_CHANNEL_ENABLE) {
        uint32_t disabled = 0;
        for (int i = 0; i < MAX_CHANNELS; ++i) {
            if (!channelEnabled[i])
                disabled |= 1u << i;
        }
        put16(b, kChannelsLow, disabled & 0xFFFF);
        b[kChannelsHigh] = static_cast<uint8_t>(disabled >> 16);
    }
    b[kFlags] = (initFlag ? 1 : 0) | (clearFifo ? 2 : 0);

    put16(b, kSyncAuxLow, sync_aux_d & 0xFFFF);
    b[kSyncAuxHigh] = static_cast<uint8_t>(sync_aux_d >> 16);
}

void TolmarCntrl::unpackFpgaConfigBlock() {
    const uint8_t* b = fpgaTransferBuffer;
    for (const ReadBackField& field : kReadBackFields) field.store(*this, field.value(b));

    // The samples word holds whichever count the image's own mode uses.
    const uint32_t samples = get32(b, kSamples) & kMask20;
    if (sync_mode) {
        sync_samples = samples;
    } else {
        iv_samples = static_cast<int32_t>(samples);
    }

    // The read-back image carries the disabled channels 16-23 in byte 48.
    const uint32_t disabled = get16(b, kChannelsLow) | (static_cast<uint32_t>(b[kFlags]) << 16);
    nEnabledChannels = 0;
    for (int i = 0; i < MAX_CHANNELS; ++i) {
        channelEnabled[i] = !(disabled & (1u << i));
        if (channelEnabled[i])
            ++nEnabledChannels;
    }
}

bool TolmarCntrl::writeFpgaConfigParameters(bool clearFifo, bool initFlag) {
    packFpgaConfigBlock(clearFifo, initFlag);
    if (!tolmar2::link::call::QuickUsbWriteData(qusbHandle, fpgaTransferBuffer,
                                                CONFIG_BLOCK_SIZE)) {
        QULONG error = 0;
        tolmar2::link::call::QuickUsbGetLastError(&error);
        TOLMAR_LOG_ERROR("Failed to writeFpgaConfigParameters(%d, %d) usb err : (%d)\n",
                         clearFifo ? 1 : 0, initFlag ? 1 : 0, static_cast<int>(error));
        return false;
    }
    if (clearFifo)
        fifoReadPos = fifoWordsInBuffer;
    return true;
}

bool TolmarCntrl::readFpgaConfigParameters() {
    // Read-back mode is switched on around the read when it was off. On a failure the field
    // goes back to off, so that the next write does not leave the board answering data reads
    // with the block.
    const bool switchMode = !read_csr_md;
    if (switchMode) {
        read_csr_md = true;
        if (!writeFpgaConfigParameters(false, false)) {
            TOLMAR_LOG_ERROR("Failed to writeFpgaConfigParameters(false, false)\n");
            read_csr_md = false;
            return false;
        }
    }
    // A short answer would leave stale bytes in the image: it counts as a failed read.
    QULONG length = CONFIG_BLOCK_SIZE;
    if (!tolmar2::link::call::QuickUsbReadData(qusbHandle, fpgaTransferBuffer, &length) ||
        length != CONFIG_BLOCK_SIZE) {
        TOLMAR_LOG_ERROR("Failed to read data from Fpga\n");
        if (switchMode)
            read_csr_md = false;
        return false;
    }
    unpackFpgaConfigBlock();
    if (switchMode) {
        read_csr_md = false;
        if (!writeFpgaConfigParameters(false, false)) {
            TOLMAR_LOG_ERROR("Failed to writeFpgaConfigParameters(false, false)\n");
            return false;
        }
    }
    return true;
}

bool TolmarCntrl::setHVPSEnabled(bool on) {
    if (v_a_def != 0)
        hvps_en1 = hvps_en2 = on ? 7 : 0;
    if (!writeFpgaConfigParameters(false, false)) {
        TOLMAR_LOG_ERROR("Failed to turn on HVPS\n");
        disconnect();
        return false;
    }
    return true;
}
