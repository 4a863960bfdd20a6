// The scripted QuickUSB library (scriptedquickusb.cpp) as the tests see it: its control calls,
// loading it as the vendor backend, and builders for FIFO streams.
#ifndef TESTS_TOLMAR2_SCRIPTEDBOARD_H
#define TESTS_TOLMAR2_SCRIPTEDBOARD_H

#include <dlfcn.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// The library loaded by the link layer, reached through dlsym (it is not linked to the test, so
// its QuickUSB symbols cannot shadow the virtual sensor's).
class ScriptedBoard {
public:
    // Selects the scripted library as the vendor backend; false when it cannot be loaded.
    bool select();
    void reset() { call("scripted_reset"); }
    void addSegment(const std::vector<uint16_t>& words);
    void setChunks(const std::vector<size_t>& bytes) {
        call("scripted_setChunks", bytes.data(), bytes.size());
    }
    void failRead(int nth) { call("scripted_failRead", nth); }
    // Read-back status: firmware ID (bytes 50-51), sync lock bits (byte 52) and the sync period
    // (bytes 54-57).
    void setSyncStatus(bool locked, uint32_t period, bool high = false, bool low = false,
                       uint16_t firmware = 0);
    void setStall(bool on) { call("scripted_setStall", on); }
    void setLoop(bool on) { call("scripted_setLoop", on); }
    std::vector<std::array<uint8_t, 64>> blocks();
    int readCount() { return call<int>("scripted_readCount"); }

private:
    // Calls the library's function of that name with exactly these argument types.
    template <class R = void, class... A>
    R call(const char* name, A... args) {
        return reinterpret_cast<R (*)(A...)>(function(name))(args...);
    }
    void* function(const char* name) { return dlsym(handle_, name); }
    void* handle_ = nullptr;
};

// Packets carrying `data` (samples, then the two status words) of one block, at most
// `perPacket` words each; the last packet (bit 15) always holds both status words. Bit 14 is
// set unless `running` is false, which clears it in the last packet.
std::vector<uint16_t> blockPackets(const std::vector<uint16_t>& samples, uint16_t status1,
                                   uint16_t status2, size_t perPacket = 8191, bool running = true);

// A two-word period packet.
std::vector<uint16_t> periodPacket(uint32_t period);

void append(std::vector<uint16_t>& to, const std::vector<uint16_t>& words);

#endif  // TESTS_TOLMAR2_SCRIPTEDBOARD_H
