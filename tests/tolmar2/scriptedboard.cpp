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

void ScriptedBoard::addSegment(const std::vector<uint16_t>& words) {
    std::vector<uint8_t> bytes;
    for (uint16_t w : words) {
        bytes.push_back(static_cast<uint8_t>(w));
        bytes.push_back(static_cast<uint8_t>(w >> 8));
    }
    call("scripted_addSegment", static_cast<const uint8_t*>(bytes.data()), bytes.size());
}

void ScriptedBoard::setSyncStatus(bool locked, uint32_t period, bool high, bool low,
                                  uint16_t firmware) {
    uint8_t status[8] = {static_cast<uint8_t>(firmware), static_cast<uint8_t>(firmware >> 8)};
    status[2] = (high ? 2 : 0) | (low ? 4 : 0) | (locked ? 8 : 0);
    for (int i = 0; i < 4; ++i) status[4 + i] = static_cast<uint8_t>(period >> (8 * i));
    call("scripted_setStatus", static_cast<const uint8_t*>(status));
}

std::vector<std::array<uint8_t, 64>> ScriptedBoard::blocks() {
    std::vector<std::array<uint8_t, 64>> all(call<size_t>("scripted_blockCount"));
    for (size_t i = 0; i < all.size(); ++i) call("scripted_block", i, all[i].data());
    return all;
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
