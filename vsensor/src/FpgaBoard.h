// The FPGA board behind an emulated module: configuration from a stand-in firmware image, the
// 64-byte register block the host writes, and the read-back image with its status fields.
// Not thread-safe by itself; the emulation's lock guards it.
#ifndef VSENSOR_FPGABOARD_H
#define VSENSOR_FPGABOARD_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "DacOutputs.h"
#include "SyncInput.h"
#include "vsensor/VirtualSensor.h"

namespace vsensor::detail {

// Stand-in firmware image: magic, firmware ID (u16), reserved (u16), payload length (u32), the
// payload, and the CRC-32 of everything before it. All little-endian.
constexpr uint8_t kImageMagic[8] = {'V', 'S', 'F', 'P', 'G', 'A', 0, 1};
constexpr size_t kImageHeaderSize = 16;
constexpr size_t kImageMaxSize = 4u << 20;  // a longer bit stream never configures
// Read-backs that report the serial transceiver busy after a change of soft_adc.
constexpr int kTransceiverBusyReads = 2;

// CRC-32 (IEEE, reflected, as zlib computes it).
uint32_t crc32(const uint8_t* data, size_t length);

// The registers the board keeps, one value each (see the layout table in FpgaBoard.cpp).
enum Register : int {
    kRelays,
    kSoftAdc,
    kCnvstPw,
    kAuxSw0,
    kAuxSw1,
    kAuxSw2,
    kSyncLeadDtime,
    kReadTemp,
    kSyncEdge,
    kSyncMode,
    kUpDownScan,
    kGain,
    kRunEn,
    kRunAux,
    kReadCsrMode,
    kIvSteps,
    kSamples,
    kHvpsEn0,
    kHvpsEn1,
    kHvpsEn2,
    kZsDelay,
    kFsDelay,
    kNsDelay,
    kIvDelay,
    kSyncSmplDiv,
    kSyncSmplMult,
    kSyncFSmplDelay,
    kVcIncBits,
    kVcIncSign,
    kVcDef,
    kVaDef,
    kVaInc,
    kVaStart,
    kVbDef,
    kVbInc,
    kVbStart,
    kVcStart,
    kIvSteps2,
    kIvSamples2,
    kVaInc2,
    kChannelsDisabled,
    kInitFlag,
    kClearFifo,
    kSyncAuxD,
    // Read-back only.
    kFirmwareId,
    kTransceiverBusy,
    kSyncTooHigh,
    kSyncTooLow,
    kSyncLocked,
    kSyncPeriod,
    kRegisterCount
};

class FpgaBoard {
public:
    // Configuration: the bit stream since the last start is checked when asked.
    void startConfiguration();
    bool takeConfigurationChunk(const uint8_t* data, size_t length);
    bool configured() const { return configured_; }
    uint16_t firmwareId() const { return firmwareId_; }

    // A register block from the host (exactly kBlockSize bytes). An unconfigured FPGA ignores it.
    bool writeBlock(const uint8_t* data, size_t length);
    // Whether the next data read answers with the read-back image.
    bool readBackMode() const;
    // The read-back image; `busy` forces the transceiver busy bit (a scheduled fault).
    void readBack(uint8_t* out, bool busy);

    BoardState state() const;

    // The unit's DAC calibration, for the output voltages.
    void setCalibration(const DacCalibration& dac) { dac_ = dac; }
    SyncInput& syncInput() { return sync_; }
    std::vector<BlockWrite> blockWriteLog() const;
    void clearBlockWriteLog() { writeLog_.clear(); }

    static constexpr size_t kBlockSize = 64;

private:
    void checkImage();

    std::vector<uint8_t> stream_;
    bool configuring_ = false;
    bool configured_ = false;
    uint16_t firmwareId_ = 0;
    std::array<uint32_t, kRegisterCount> registers_{};  // by register, as decoded
    size_t blockWrites_ = 0;
    bool lastInitFlag_ = false;
    bool lastClearFifo_ = false;
    int busyReads_ = 0;
    SyncInput sync_;
    DacCalibration dac_;
    std::deque<BlockWrite> writeLog_;
};

}  // namespace vsensor::detail

#endif  // VSENSOR_FPGABOARD_H
