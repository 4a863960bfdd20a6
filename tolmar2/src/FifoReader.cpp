#include "FifoReader.h"

#include <cstring>

#include "UsbLink.h"
#include "tolmar2/MsgLogger.h"

namespace tolmar2::fifo {

bool FifoReader::ensureWords(BlockEnd& end) {
    for (;;) {
        if (polls_.abort && c_.abortRequested) {
            end = BlockEnd::Aborted;
            return false;
        }
        if (c_.fifoReadPos < c_.fifoWordsInBuffer)
            return true;
        // The buffer is used up: a stopped scan ends the read here, else read more. A read that
        // returns nothing just reads again.
        if (polls_.runEn && !c_.run_en) {
            end = BlockEnd::RunCleared;
            return false;
        }
        const size_t capacity = sizeof c_.fifoBuffer;
        const size_t asked =
            std::min<size_t>(static_cast<size_t>(std::max(c_.fifoReadBytes, 2)), capacity);
        std::memset(c_.fifoBuffer, 0, asked);
        QULONG length = asked;
        if (!link::call::QuickUsbReadData(c_.qusbHandle, reinterpret_cast<QBYTE*>(c_.fifoBuffer),
                                          &length)) {
            TOLMAR_LOG_ERROR("Failed to read fifo data from Fpga\n");
            c_.fifoReadPos = c_.fifoWordsInBuffer = 0;
            end = BlockEnd::ReadFailed;
            return false;
        }
        c_.fifoReadPos = 0;
        c_.fifoWordsInBuffer = static_cast<int>(std::min<QULONG>(length, asked) / 2);
    }
}

bool FifoReader::takeHeader() {
    const uint16_t header = c_.fifoBuffer[c_.fifoReadPos++];
    last_ = header & kLastPacket;
    running_ = header & kRunning;
    packetLeft_ = header & kCountMask;
    c_.lastPacketCount = packetLeft_;
    return packetLeft_ != 0 || running_;
}

BlockEnd FifoReader::readPeriod(uint32_t& period) {
    BlockEnd end = BlockEnd::Complete;
    // Skip what is left of an earlier packet and headers that carry no words.
    for (;;) {
        if (!ensureWords(end))
            return end;
        if (packetLeft_ > 0) {
            ++c_.fifoReadPos;
            --packetLeft_;
            continue;
        }
        if (!takeHeader())
            return BlockEnd::Stopped;
        if (packetLeft_ > 0)
            break;
    }
    uint32_t halves[2] = {0, 0};
    for (int i = 0; packetLeft_ > 0; ++i) {
        if (!ensureWords(end))
            return end;
        const uint16_t word = c_.fifoBuffer[c_.fifoReadPos++];
        --packetLeft_;
        if (i < 2)
            halves[i] = word;
    }
    period = halves[0] | (halves[1] << 16);
    return BlockEnd::Complete;
}

}  // namespace tolmar2::fifo
