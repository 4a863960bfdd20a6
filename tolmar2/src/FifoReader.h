// Framing of the board's FIFO stream, shared by every reader: refills the controller's receive
// buffer by bulk reads, splits the stream into packets and hands the sample words of one block
// to a sink in runs, so that per-sample work stays in the sink's tight loop.
#ifndef TOLMAR2_FIFOREADER_H
#define TOLMAR2_FIFOREADER_H

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "tolmar2/TolmarCntrl.h"

namespace tolmar2::fifo {

// Header bits.
constexpr uint16_t kLastPacket = 0x8000;
constexpr uint16_t kRunning = 0x4000;
constexpr uint16_t kCountMask = 0x1FFF;
// Saturated samples.
constexpr uint16_t kInvalid = 0x8000;
constexpr uint16_t kInvalid2 = 0x8001;

enum class BlockEnd {
    Complete,    // status word 2 ended a last packet after exactly the expected samples
    ReadFailed,  // a bulk read failed (logged)
    Stopped,     // a header with count 0 and bit 14 clear: the board produces no more data
    EndedEarly,  // a last packet ended before the expected samples; see Block::running
    Overlong,    // more words than the expected samples and two status words
    RunCleared,  // run_en was cleared while reading
    Aborted,     // abortRequested was seen
};

// What the readers poll while waiting for words.
struct Polls {
    bool runEn = true;   // run_en cleared ends the block (RunCleared)
    bool abort = false;  // abortRequested ends the block (Aborted)
};

struct Block {
    uint64_t expected = 0;  // sample words of the block
    uint64_t taken = 0;     // sample words taken
    uint64_t extra = 0;     // words beyond the samples that were not the final status words
    uint16_t status1 = 0;
    uint16_t status2 = 0;
    bool running = false;  // bit 14 of the last header seen

    uint32_t status() const { return status1 | (static_cast<uint32_t>(status2) << 16); }
};

class FifoReader {
public:
    FifoReader(TolmarCntrl& c, Polls polls) : c_(c), polls_(polls) {}

    // Reads one block. sink(const uint16_t* words, size_t n) receives the sample words in order;
    // the runs it gets never reach past the receive buffer or the expected count.
    template <class Sink>
    BlockEnd readBlock(Block& b, Sink&& sink);

    // Reads a period packet: the first two words after its header are the low and high half.
    BlockEnd readPeriod(uint32_t& period);

    // Forgets the packet in progress (after the receive buffer was discarded).
    void resetPacket() { packetLeft_ = 0; }

private:
    // Makes words available: polls, then refills the buffer when it is used up. Returns false
    // with `end` set when reading must stop.
    bool ensureWords(BlockEnd& end);
    // Takes a header. Returns false (Stopped) for count 0 with bit 14 clear.
    bool takeHeader();

    TolmarCntrl& c_;
    Polls polls_;
    uint32_t packetLeft_ = 0;
    bool last_ = false;
    bool running_ = false;
};

template <class Sink>
BlockEnd FifoReader::readBlock(Block& b, Sink&& sink) {
    BlockEnd end = BlockEnd::Complete;
    for (;;) {
        if (!ensureWords(end))
            return end;
        if (packetLeft_ == 0) {
            if (!takeHeader()) {
                b.running = false;
                return BlockEnd::Stopped;
            }
            b.running = running_;
            continue;
        }
        const uint16_t* words = c_.fifoBuffer + c_.fifoReadPos;
        const size_t available = static_cast<size_t>(c_.fifoWordsInBuffer - c_.fifoReadPos);
        // The final two words of a last packet are always the status words.
        const uint32_t dataWords = last_ ? (packetLeft_ > 2 ? packetLeft_ - 2 : 0) : packetLeft_;
        if (dataWords > 0) {
            const size_t run = std::min<size_t>(available, dataWords);
            const size_t samples =
                static_cast<size_t>(std::min<uint64_t>(run, b.expected - b.taken));
            if (samples > 0) {
                sink(words, samples);
                c_.samplesRead += static_cast<uint32_t>(samples);
            }
            b.taken += samples;
            b.extra += run - samples;
            c_.fifoReadPos += static_cast<int>(run);
            packetLeft_ -= static_cast<uint32_t>(run);
            continue;
        }
        ++c_.fifoReadPos;
        if (packetLeft_-- == 2) {
            b.status1 = words[0];
            continue;
        }
        b.status2 = words[0];
        if (b.taken < b.expected)
            return BlockEnd::EndedEarly;
        return b.extra > 0 ? BlockEnd::Overlong : BlockEnd::Complete;
    }
}

}  // namespace tolmar2::fifo

#endif  // TOLMAR2_FIFOREADER_H
