#include "ScanSupport.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>

#include "Platform.h"
#include "tolmar2/MsgLogger.h"

namespace tolmar2::scan {

namespace {

constexpr uint64_t kSyncWaitMs = 5000;
constexpr unsigned kSyncPollMs = 100;
constexpr double kSaturated = -32768.0;
constexpr double kSyncInputCountsHz = 384e6;

bool saturated(double v) {
    return static_cast<float>(v) == static_cast<float>(kSaturated);
}

}  // namespace

double nowSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double syncInputHz(uint32_t periodCount) {
    return periodCount == 0 ? 0.0 : kSyncInputCountsHz / periodCount;
}

double dacVolts(const TolmarCntrl& c, int k, int code) {
    return (code - c.cal_dac[k][0]) / c.cal_dac[k][1];
}

void freeScanArrays(TolmarCntrl& c) {
    c.scanData.reset();
    c.scanSum.reset();
    c.scanDataCapacity = 0;
}

bool ensureScanArrays(TolmarCntrl& c, size_t n) {
    if (c.scanDataCapacity >= n && c.scanData && c.scanSum)
        return true;
    freeScanArrays(c);
    c.scanData.reset(new (std::nothrow) double[n]);
    c.scanSum.reset(new (std::nothrow) double[n]);
    if (!c.scanData || !c.scanSum) {
        TOLMAR_LOG_ERROR("Failed to allocate memory of double[%zu]\n", n);
        freeScanArrays(c);
        return false;
    }
    c.scanDataCapacity = n;
    return true;
}

int waitForSyncLock(TolmarCntrl& c) {
    // Bounded both by the clock and by the pauses taken, so that the wait also ends when the
    // pauses are replaced by shorter ones.
    const uint64_t start = platform::tickCountMs();
    for (unsigned paused = 0;; paused += kSyncPollMs) {
        if (!c.readFpgaConfigParameters()) {
            TOLMAR_LOG_ERROR("Failed to read FPGA config parameters from Fpga\n");
            return -1;
        }
        if (c.sync_frq_locked)
            return 1;
        if (platform::tickCountMs() - start >= kSyncWaitMs || paused >= kSyncWaitMs)
            break;
        platform::sleepMs(kSyncPollMs);
    }
    const char* why = c.sync_frq_high ? " (SYNC frequency is too high to synchronize CNVST to it)\n"
                      : c.sync_frq_low ? " (SYNC frequency is too low to synchronize CNVST to it)\n"
                                       : "";  // no cause known: the line runs on
    TOLMAR_LOG_ERROR("Tolmar is not synchronized%s", why);
    return 0;
}

void repairSaturated(double* values, size_t n) {
    size_t i = 0;
    while (i < n) {
        if (!saturated(values[i])) {
            ++i;
            continue;
        }
        size_t end = i;
        while (end < n && saturated(values[end])) ++end;
        const bool hasLeft = i > 0;
        const bool hasRight = end < n;
        if (hasLeft || hasRight) {
            const double left = hasLeft ? values[i - 1] : values[end];
            const double right = hasRight ? values[end] : values[i - 1];
            std::fill(values + i, values + end, (left + right) / 2);
        }
        i = end;
    }
}

int streamedChannels(const TolmarCntrl& c) {
    const int k = (c.deviceOptions & TolmarCntrl::OPTION_CHANNEL_ENABLE) ? c.nEnabledChannels
                                                                         : c.nAdcChannels;
    return std::clamp(k, 0, TolmarCntrl::MAX_CHANNELS);
}

void expandChannels(const TolmarCntrl& c, double* data, size_t frames, size_t length, int k) {
    const int n = std::clamp(c.nAdcChannels, 0, TolmarCntrl::MAX_CHANNELS);
    if (n == k)
        return;
    // Packed index of each target channel, -1 for a disabled one (or one beyond the stream).
    int source[TolmarCntrl::MAX_CHANNELS];
    int next = 0;
    for (int ch = 0; ch < n; ++ch) source[ch] = (c.channelEnabled[ch] && next < k) ? next++ : -1;
    const size_t bytes = length * sizeof(double);
    auto move = [&](size_t f, int ch) {
        double* to = data + (f * n + ch) * length;
        if (source[ch] < 0) {
            std::memset(to, 0, bytes);
        } else {
            std::memmove(to, data + (f * k + source[ch]) * length, bytes);
        }
    };
    // Growing moves go from the back, shrinking ones from the front, so no source is
    // overwritten before it is moved.
    if (n > k) {
        for (size_t f = frames; f-- > 0;)
            for (int ch = n; ch-- > 0;) move(f, ch);
    } else {
        for (size_t f = 0; f < frames; ++f)
            for (int ch = 0; ch < n; ++ch) move(f, ch);
    }
}

}  // namespace tolmar2::scan
