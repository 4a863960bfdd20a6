#include "ui/redrawlimiter.h"

#include <utility>

redrawLimiter::redrawLimiter(std::function<void()> redraw, int intervalMs, QObject* parent)
    : QObject(parent), redraw(std::move(redraw)), intervalMs(intervalMs) {
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, this, &redrawLimiter::now);
}

void redrawLimiter::request() {
    if (timer.isActive()) {
        return;
    }
    const qint64 elapsed = sinceLast.isValid() ? sinceLast.elapsed() : intervalMs;
    if (elapsed >= intervalMs) {
        now();
    } else {
        timer.start(int(intervalMs - elapsed));
    }
}

void redrawLimiter::now() {
    timer.stop();
    sinceLast.restart();
    redraw();
}
