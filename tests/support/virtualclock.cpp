#include "virtualclock.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "acquisition/pacing.h"

namespace {

std::atomic<qint64> clockMs{0};

qint64 virtualNow() {
    return clockMs.fetch_add(1) + 1;
}

void virtualPause(int ms) {
    clockMs.fetch_add(ms);
    std::this_thread::sleep_for(std::chrono::microseconds(100));
}

}  // namespace

void useVirtualClock() {
    pacing::setClock(virtualNow, virtualPause);
}

void releaseVirtualClock() {
    pacing::setClock(nullptr, nullptr);
}
