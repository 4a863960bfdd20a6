// Caps how often a view redraws while data streams in: a request runs at once when the last
// run is at least the interval old, otherwise one run is scheduled for when the interval is up
// (further requests until then fold into it). What is drawn is the same; only repeated work
// within one interval is skipped.
#ifndef KALDER_UI_REDRAWLIMITER_H
#define KALDER_UI_REDRAWLIMITER_H

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>

class redrawLimiter : public QObject {
    Q_OBJECT

public:
    // 40 ms: at most 25 redraws per second.
    static constexpr int DEFAULT_INTERVAL_MS = 40;

    explicit redrawLimiter(std::function<void()> redraw, int intervalMs = DEFAULT_INTERVAL_MS,
                           QObject* parent = nullptr);

    // Redraws now or schedules one redraw.
    void request();
    // Redraws now, dropping a scheduled one.
    void now();
    bool pending() const { return timer.isActive(); }
    int interval() const { return intervalMs; }

private:
    std::function<void()> redraw;
    int intervalMs;
    QElapsedTimer sinceLast;
    QTimer timer;
};

#endif  // KALDER_UI_REDRAWLIMITER_H
