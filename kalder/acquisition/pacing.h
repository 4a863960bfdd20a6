// Clock and pauses of the acquisition threads. Scans, the poll thread and the panel measure
// their intervals and wait through these two calls, so tests can run them on a virtual clock
// instead of waiting for real seconds.
#ifndef KALDER_ACQUISITION_PACING_H
#define KALDER_ACQUISITION_PACING_H

#include <QtGlobal>
#include <functional>

namespace pacing {

// Milliseconds of a monotonic clock.
qint64 nowMs();
// Sleeps the calling thread for ms milliseconds.
void pause(int ms);
// Replaces both (an empty function restores the real one). Not to be called while a scan runs.
void setClock(std::function<qint64()> now, std::function<void(int)> pauseFunction);

// Elapsed time on the pacing clock.
class stopwatch {
public:
    void start() { origin = nowMs(); }
    qint64 elapsed() const { return nowMs() - origin; }

private:
    qint64 origin = 0;
};

}  // namespace pacing

#endif  // KALDER_ACQUISITION_PACING_H
