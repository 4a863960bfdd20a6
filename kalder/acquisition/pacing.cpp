#include "acquisition/pacing.h"

#include <QThread>
#include <chrono>

namespace pacing {
namespace {

qint64 steadyNow() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void threadSleep(int ms) {
    if (ms > 0) {
        QThread::msleep(static_cast<unsigned long>(ms));
    }
}

std::function<qint64()>& clockFunction() {
    static std::function<qint64()> f = steadyNow;
    return f;
}

std::function<void(int)>& pauseFunction() {
    static std::function<void(int)> f = threadSleep;
    return f;
}

}  // namespace

qint64 nowMs() {
    return clockFunction()();
}

void pause(int ms) {
    pauseFunction()(ms);
}

void setClock(std::function<qint64()> now, std::function<void(int)> pauseFn) {
    clockFunction() = now ? std::move(now) : std::function<qint64()>(steadyNow);
    pauseFunction() = pauseFn ? std::move(pauseFn) : std::function<void(int)>(threadSleep);
}

}  // namespace pacing
