// Feeds arbitrary streams to the FIFO readers through the scripted QuickUSB backend: the first
// bytes choose the reader (normal, converted normal, time-resolved, temperature) and the board's
// shape, the rest is the stream, cut into segments (one per restart the reader may make) and
// served in chunks the input chooses. Every reader must end with one of its codes, and what a
// successful read hands out must lie inside the arrays the controller owns.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <vector>

#include "Platform.h"
#include "scriptedboard.h"
#include "tolmar2/TolmarCntrl.h"

namespace {

void noSleep(unsigned) {}

ScriptedBoard board;

// Reads the input front to back; past its end every value is 0.
struct input {
    const uint8_t* data;
    size_t size;
    size_t pos = 0;
    uint8_t byte() { return pos < size ? data[pos++] : 0; }
    bool bit() { return byte() & 1; }
};

void touch(const TolmarCntrl& c, const double* data, size_t count) {
    if (!data) {
        return;
    }
    const double* begin = c.scanData.get();
    if (!begin || data < begin || static_cast<size_t>(data - begin) + count > c.scanDataCapacity) {
        std::abort();
    }
    volatile double sum = 0;
    for (size_t i = 0; i < count; ++i) {
        sum = sum + data[i];
    }
}

void shape(TolmarCntrl& c, input& in) {
    static const int kChannels[] = {2, 16, 20, 24};
    c.nAdcChannels = kChannels[in.byte() % 4];
    c.nProbes = c.nAdcChannels == 2 ? 1 : c.nAdcChannels - 4;
    c.deviceOptions = in.bit() ? TolmarCntrl::OPTION_CHANNEL_ENABLE : 0;
    const uint32_t enables = in.byte() | in.byte() << 8 | in.byte() << 16;
    int enabled = 0;
    for (int ch = 0; ch < TolmarCntrl::MAX_CHANNELS; ++ch) {
        c.channelEnabled[ch] = enables & (1u << ch);
        enabled += c.channelEnabled[ch];
    }
    const uint8_t count = in.byte();
    c.nEnabledChannels = count < 200 ? enabled : count % 30;
    c.iv_steps = static_cast<uint16_t>(1 + in.byte() % 12);
    c.iv_samples = static_cast<int32_t>(1 + in.byte() % 8);
    c.up_down_scan = in.bit();
    c.run_aux = in.bit();
    c.averageCount = 1 + in.byte() % 3;
    c.nExtProbes = in.byte() % 40;
    c.nVchan = static_cast<uint8_t>(in.byte() % 10);
    c.run_en = true;
    c.abortRequested = false;
}

void script(input& in) {
    board.reset();
    // The rest of the input, cut into up to 12 segments at lengths the input gives.
    std::vector<size_t> cuts;
    const int segments = 1 + in.byte() % 12;
    for (int s = 1; s < segments; ++s) {
        cuts.push_back((in.byte() | in.byte() << 8) * 2u);
    }
    std::vector<size_t> chunks;
    if (in.bit()) {
        for (int i = 0; i < 16; ++i) {
            chunks.push_back(2u * (1 + (in.byte() | in.byte() << 4)));
        }
    }
    const int failRead = in.byte() % 32;
    std::vector<uint16_t> words;
    while (in.pos + 1 < in.size) {
        words.push_back(static_cast<uint16_t>(in.byte() | in.byte() << 8));
    }
    size_t at = 0;
    for (size_t cut : cuts) {
        const size_t end = std::min(words.size(), at + cut / 2);
        board.addSegment(std::vector<uint16_t>(words.begin() + at, words.begin() + end));
        at = end;
    }
    board.addSegment(std::vector<uint16_t>(words.begin() + at, words.end()));
    if (!chunks.empty()) {
        board.setChunks(chunks);
    }
    if (failRead != 0 && failRead < 20) {
        board.failRead(failRead);
    }
}

TolmarCntrl& unit() {
    static TolmarCntrl* c = [] {
        auto* cntrl = new TolmarCntrl();
        cntrl->qusbHandle = 1;
        cntrl->connected = true;
        cntrl->fifoReadBytes = 32768;
        return cntrl;
    }();
    return *c;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    TolmarCntrl::setLogging(0);
    if (!board.select()) {
        std::abort();
    }
    tolmar2::platform::setSleepFunction(&noSleep);
    unit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    input in{data, size};
    TolmarCntrl& c = unit();
    c.fifoReadPos = c.fifoWordsInBuffer = 16384;  // nothing left from the last input
    const int reader = in.byte() % 4;
    shape(c, in);
    if (reader == 2) {
        static const uint8_t kMult[] = {1, 2, 3, 4, 6, 8, 12, 24};
        c.run_aux = false;
        c.sync_mode = true;
        c.sync_smpl_mult = kMult[in.byte() % 8];
        c.sync_smpl_div = static_cast<uint8_t>(in.byte() % 4);
        c.trmAvg = in.bit();
        c.trmAvgDiv = in.byte() % 5;
        // The largest sample count makes arrays of millions of values that the readers expand
        // in full: asked for by one input in sixteen, so that the rest keep the runs fast.
        c.sync_samples = (in.byte() & 15) == 0 ? 0xFFFFF : in.byte() % 40;
        c.sync_f_smpl_d = in.byte() % 12;
        c.sync_frq8 = 2048;
        c.estimateScanResources();
        const uint8_t lock = in.byte();
        board.setSyncStatus(lock & 1, lock & 2 ? 2048 : (in.byte() | in.byte() << 8), lock & 4,
                            lock & 8);
    } else {
        c.sync_mode = false;
    }
    c.read_temp = reader == 3;
    script(in);

    double* out = nullptr;
    unsigned nPoints = 0, status = 0, nScans = 0;
    int code = 0;
    std::set<int> codes;
    switch (reader) {
        case 0: {
            code = c.readFpgaFifoData(out, size % 2 == 0, nPoints, status);
            codes = {1, 0, -1, -2, -3, -4, -5, -6, -7};
            if (code == 1) {
                touch(c, out, size_t(nPoints) * c.nAdcChannels);
            }
            break;
        }
        case 1: {
            unsigned acqStart = 0;
            int nChannels = 0;
            double timeRes = 0;
            code = c.getDataFromOneScan(out, nScans, nPoints, nChannels, timeRes, acqStart, status,
                                        true);
            codes = {1, 0, -1, -2, -3, -4, -5, -6, -7};
            if (nChannels > TolmarCntrl::MAX_CHANNELS) {
                std::abort();
            }
            if (code == 1) {
                touch(c, out, size_t(nScans) * nPoints * std::max(nChannels, 0));
            }
            break;
        }
        case 2: {
            code = c.readFpgaFifoDataTRM(out, nScans, nPoints, status);
            codes = {1, 0, -1, -2, -4, -5, -6, -7, -8, -9, -10, -11};
            if (code == 1) {
                touch(c, out, size_t(nScans) * nPoints * c.nAdcChannels);
            }
            break;
        }
        default: {
            double t[TolmarCntrl::TEMP_CHANNELS];
            unsigned n = 0;
            c.nAdcChannels = 24;
            c.nProbes = 20;
            code = c.readFpgaFifoDataTEMP(t, n, status);
            codes = {1, -1, -2, -3, -4, -5, -6};
            if (n != unsigned(TolmarCntrl::TEMP_CHANNELS)) {
                std::abort();
            }
            break;
        }
    }
    if (!codes.count(code)) {
        std::abort();
    }
    return 0;
}
