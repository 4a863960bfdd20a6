// A QuickUSB library whose data port plays a scripted FIFO stream, for the reader tests. It is
// loaded as the vendor backend; the test drives it through the scripted_* calls (ScriptedBoard).
//
// The stream is a list of segments. Data reads serve the current segment in chunks of the sizes
// given (then of the size asked for); an exhausted segment makes the read fail. A register
// block written with clearFifo after some of the current segment was read moves to the next
// segment, as a board drops its FIFO. With stall set an exhausted segment answers with no bytes;
// with loop set it starts again. A block written with read-back mode set makes the next read
// answer with that block and the status bytes the test set.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <deque>
#include <vector>

#include "quickusb/QuickUsbApi.h"

namespace {

struct Board {
    std::deque<std::vector<uint8_t>> segments;
    size_t position = 0;  // in the front segment
    std::vector<size_t> chunks;
    size_t nextChunk = 0;
    int reads = 0;
    std::vector<int> failingReads;             // 1-based data reads that fail
    std::vector<std::vector<uint8_t>> blocks;  // every block written
    uint8_t status[8] = {};                    // bytes 50-57 of the read-back
    bool readBack = false;
    bool loop = false;  // an exhausted segment starts again (benchmarks)
};

Board board;
std::atomic<int> readsSeen{0};  // data reads, for a test waiting on another thread
// An exhausted segment answers with nothing instead of failing; set while another thread reads.
std::atomic<bool> stall{false};

#define EXPORT extern "C" __attribute__((visibility("default")))

}  // namespace

EXPORT void scripted_reset() {
    board = Board();
    readsSeen = 0;
    stall = false;
}

EXPORT int scripted_readCount() {
    return readsSeen;
}

EXPORT void scripted_addSegment(const uint8_t* bytes, size_t length) {
    board.segments.emplace_back(bytes, bytes + length);
}

EXPORT void scripted_setChunks(const size_t* sizes, size_t count) {
    board.chunks.assign(sizes, sizes + count);
    board.nextChunk = 0;
}

EXPORT void scripted_failRead(int nth) {
    board.failingReads.push_back(nth);
}

EXPORT void scripted_setStatus(const uint8_t* bytes50to57) {
    std::memcpy(board.status, bytes50to57, sizeof board.status);
}

EXPORT size_t scripted_blockCount() {
    return board.blocks.size();
}

EXPORT void scripted_block(size_t index, uint8_t* out64) {
    std::memcpy(out64, board.blocks.at(index).data(), 64);
}

EXPORT void scripted_setStall(bool on) {
    stall = on;
}

EXPORT void scripted_setLoop(bool on) {
    board.loop = on;
}

namespace {

// The calls the library makes besides the data port, answered as by a configured module.
struct Calls {
    // Sets the output parameter, and succeeds.
    template <class T>
    static QRETURN answer(T& out, T value) {
        out = value;
        return 1;
    }
    static QRETURN QuickUsbOpen(QHANDLE* hDevice, char*) { return answer<QHANDLE>(*hDevice, 1); }
    static QRETURN QuickUsbClose(QHANDLE) { return 1; }
    static QRETURN QuickUsbFindModules(char* nameList, QULONG length) {
        if (length < 8)
            return 0;
        std::memcpy(nameList, "QUSB-0\0", 8);
        return 1;
    }
    static QRETURN QuickUsbGetStringDescriptor(QHANDLE, QBYTE, char* buffer, QWORD length) {
        if (length > 0)
            buffer[0] = '\0';
        return 1;
    }
    static QRETURN QuickUsbReadSetting(QHANDLE, QWORD, QWORD* value) {
        return answer<QWORD>(*value, 0);
    }
    static QRETURN QuickUsbWriteSetting(QHANDLE, QWORD, QWORD) { return 1; }
    static QRETURN QuickUsbGetDriverVersion(QWORD* a, QWORD* b, QWORD* c) {
        return answer<QWORD>(*a, 1) && answer<QWORD>(*b, 1) && answer<QWORD>(*c, 1);
    }
    static QRETURN QuickUsbGetDllVersion(QWORD* a, QWORD* b, QWORD* c) {
        return answer<QWORD>(*a, 1) && answer<QWORD>(*b, 1) && answer<QWORD>(*c, 1);
    }
    static QRETURN QuickUsbStartFpgaConfiguration(QHANDLE) { return 1; }
    static QRETURN QuickUsbWriteFpgaData(QHANDLE, QBYTE*, QULONG) { return 1; }
    static QRETURN QuickUsbIsFpgaConfigured(QHANDLE, QWORD* configured) {
        return answer<QWORD>(*configured, 1);
    }
    static QRETURN QuickUsbWriteData(QHANDLE, QBYTE* data, QULONG length);
    static QRETURN QuickUsbReadData(QHANDLE, QBYTE* data, QULONG* length);
    static QRETURN QuickUsbGetLastError(QULONG* error) { return answer<QULONG>(*error, 7); }
    static QRETURN QuickUsbWriteI2C(QHANDLE, QWORD, QBYTE*, QWORD) { return 0; }
    static QRETURN QuickUsbReadI2C(QHANDLE, QWORD, QBYTE*, QWORD*) { return 0; }
    static QRETURN QuickUsbSetRS232BaudRate(QHANDLE, QULONG) { return 1; }
    static QRETURN QuickUsbGetNumRS232(QHANDLE, QBYTE, QWORD* length) {
        return answer<QWORD>(*length, 0);
    }
    static QRETURN QuickUsbFlushRS232(QHANDLE, QBYTE) { return 1; }
    static QRETURN QuickUsbReadRS232(QHANDLE, QBYTE, QBYTE*, QWORD* length) {
        return answer<QWORD>(*length, 0);
    }
    static QRETURN QuickUsbWriteRS232(QHANDLE, QBYTE, QBYTE*, QWORD) { return 1; }
};

}  // namespace

#define SCRIPTED_CALL(name, params, args) \
    EXPORT QRETURN name params {          \
        return Calls::name args;          \
    }
QUICKUSB_API_CALLS(SCRIPTED_CALL)
#undef SCRIPTED_CALL

QRETURN Calls::QuickUsbWriteData(QHANDLE, QBYTE* data, QULONG length) {
    if (length != 64)
        return 0;
    board.blocks.emplace_back(data, data + 64);
    board.readBack = data[3] & 0x80;
    const bool clearFifo = data[48] & 0x02;
    if (clearFifo && !board.segments.empty() && board.position > 0) {
        board.segments.pop_front();
        board.position = 0;
    }
    return 1;
}

QRETURN Calls::QuickUsbReadData(QHANDLE, QBYTE* data, QULONG* length) {
    if (board.readBack) {
        // The block as written, channels 16-23 where the read-back keeps them, status bytes.
        std::vector<uint8_t> image = board.blocks.back();
        image[48] = image[49];
        std::memcpy(&image[50], board.status, sizeof board.status);
        const size_t n = std::min<size_t>(*length, 64);
        std::memcpy(data, image.data(), n);
        *length = n;
        return 1;
    }
    ++readsSeen;
    const int nth = ++board.reads;
    if (std::count(board.failingReads.begin(), board.failingReads.end(), nth)) {
        *length = 0;
        return 0;
    }
    if (board.loop && !board.segments.empty() && board.position >= board.segments.front().size())
        board.position = 0;
    if (board.segments.empty() || board.position >= board.segments.front().size()) {
        *length = 0;
        return stall ? 1 : 0;
    }
    size_t n = *length;
    if (board.nextChunk < board.chunks.size())
        n = std::min(n, board.chunks[board.nextChunk++]);
    const std::vector<uint8_t>& segment = board.segments.front();
    n = std::min(n, segment.size() - board.position);
    std::memcpy(data, segment.data() + board.position, n);
    board.position += n;
    *length = n;
    return 1;
}
