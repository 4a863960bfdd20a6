#include "Platform.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace tolmar2::platform {
namespace {

void realSleep(unsigned milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::atomic<SleepFunction> sleepFunction{&realSleep};

}  // namespace

void sleepMs(unsigned milliseconds) {
    sleepFunction.load()(milliseconds);
}

uint64_t tickCountMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

SleepFunction setSleepFunction(SleepFunction fn) {
    return sleepFunction.exchange(fn ? fn : &realSleep);
}

}  // namespace tolmar2::platform
