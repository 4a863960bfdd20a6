#include "scriptedboard.h"

#include <dlfcn.h>
#include <stdlib.h>

#include <algorithm>
#include <cstring>

#include "UsbLink.h"

bool ScriptedBoard::select() {
    setenv("TOLMAR_LINK", "vendor", 1);
    setenv("TOLMAR_QUICKUSB_LIBRARY", SCRIPTED_LIBRARY_PATH, 1);
    if (!tolmar2::link::reselect() || tolmar2::link::kind() != tolmar2::link::Kind::Vendor)
        return false;
    // The same path gives the instance the link layer loaded.
    handle_ = dlopen(SCRIPTED_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    return handle_ != nullptr;
}

template <class F>
F ScriptedBoard::fn(const char* name) {
    return reinterpret_cast<F>(dlsym(handle_, name));
}

void ScriptedBoard::reset() {
    fn<void (*)()>("scripted_reset")();
}

void ScriptedBoard::addSegment(const std::vector<uint16_t>& words) {
    std::vector<uint8_t> bytes;
    for (uint16_t w : words) {
        bytes.push_back(static_cast<uint8_t>(w));
        bytes.push_back(static_cast<uint8_t>(w >> 8));
    }
    fn<void (*)(const uint8_t*, size_t)>("scripted_addSegment")(bytes.data(), bytes.size());
}

void ScriptedBoard::setChunks(const std::vector<size_t>& bytes) {
    fn<void (*)(const size_t*, size_t)>("scripted_setChunks")(bytes.data(), bytes.size());
}

void ScriptedBoard::failRead(int nth) {
    fn<void (*)(int)>("scripted_failRead")(nth);
}

void ScriptedBoard::failWrite(int nth) {
    fn<void (*)(int)>("scripted_failWrite")(nth);
}

void ScriptedBoard::setSyncStatus(bool locked, uint32_t period, bool high, bool low,
                                  uint16_t firmware) {
    uint8_t status[8] = {static_cast<uint8_t>(firmware), static_cast<uint8_t>(firmware >> 8)};
    status[2] = (high ? 2 : 0) | (low ? 4 : 0) | (locked ? 8 : 0);
    for (int i = 0; i < 4; ++i) status[4 + i] = static_cast<uint8_t>(period >> (8 * i));
    fn<void (*)(const uint8_t*)>("scripted_setStatus")(status);
}

void ScriptedBoard::setStall(bool on) {
    fn<void (*)(bool)>("scripted_setStall")(on);
}

void ScriptedBoard::setLoop(bool on) {
    fn<void (*)(bool)>("scripted_setLoop")(on);
}

std::vector<std::array<uint8_t, 64>> ScriptedBoard::blocks() {
    const size_t n = fn<size_t (*)()>("scripted_blockCount")();
    std::vector<std::array<uint8_t, 64>> all(n);
    for (size_t i = 0; i < n; ++i)
        fn<void (*)(size_t, uint8_t*)>("scripted_block")(i, all[i].data());
    return all;
}

size_t ScriptedBoard::segmentsLeft() {
    return fn<size_t (*)()>("scripted_segmentsLeft")();
}

std::vector<uint16_t> blockPackets(const std::vector<uint16_t>& samples, uint16_t status1,
                                   uint16_t status2, size_t perPacket, bool running) {
    std::vector<uint16_t> data = samples;
    data.push_back(status1);
    data.push_back(status2);
    std::vector<uint16_t> out;
    size_t at = 0;
    while (at < data.size()) {
        size_t n = std::min(perPacket, data.size() - at);
        const size_t rest = data.size() - at - n;
        if (rest > 0 && rest < 2)
            n -= 2 - rest;  // keep both status words in the last packet
        const bool last = at + n == data.size();
        const bool run = running || !last;
        out.push_back(static_cast<uint16_t>(n | (run ? 0x4000 : 0) | (last ? 0x8000 : 0)));
        out.insert(out.end(), data.begin() + at, data.begin() + at + n);
        at += n;
    }
    return out;
}

std::vector<uint16_t> periodPacket(uint32_t period) {
    return {0x4002, static_cast<uint16_t>(period), static_cast<uint16_t>(period >> 16)};
}

void append(std::vector<uint16_t>& to, const std::vector<uint16_t>& words) {
    to.insert(to.end(), words.begin(), words.end());
}

int ScriptedBoard::readCount() {
    return fn<int (*)()>("scripted_readCount")();
}
