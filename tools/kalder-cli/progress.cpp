#include "progress.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr int BAR_WIDTH = 30;
constexpr int TRACE_LINE_INTERVAL_MS = 1000;

}  // namespace

progressDisplay::progressDisplay(bool terminal, bool bounded)
    : terminal(terminal), bounded(bounded) {}

void progressDisplay::setPercent(int value) {
    value = std::clamp(value, 0, 100);
    if (value == percent) {
        return;
    }
    percent = value;
    if (terminal) {
        draw();
    } else if (bounded) {
        std::fprintf(stderr, "%d%%\n", percent);
        std::fflush(stderr);
    }
}

void progressDisplay::setTraces(int value) {
    if (value == traces) {
        return;
    }
    traces = value;
    if (terminal) {
        draw();
    } else if (!bounded && (shownTraces < 0 || sinceLine.elapsed() >= TRACE_LINE_INTERVAL_MS)) {
        shownTraces = traces;
        sinceLine.start();
        std::fprintf(stderr, "%d traces\n", traces);
        std::fflush(stderr);
    }
}

void progressDisplay::draw() {
    QString line;
    if (bounded) {
        const int filled = std::max(0, percent) * BAR_WIDTH / 100;
        line = QStringLiteral("[%1%2] %3%  %4 traces")
                   .arg(QString(filled, QLatin1Char('#')),
                        QString(BAR_WIDTH - filled, QLatin1Char('-')))
                   .arg(std::max(0, percent), 3)
                   .arg(traces);
    } else {
        line = QStringLiteral("scanning: %1 traces (Ctrl+C ends the scan)").arg(traces);
    }
    std::fprintf(stderr, "\r%s\033[K", qPrintable(line));
    std::fflush(stderr);
    barShown = true;
}

void progressDisplay::note(const QString& text) {
    if (barShown) {
        std::fputs("\r\033[K", stderr);
    }
    std::fprintf(stderr, "kalder-cli: %s\n", qPrintable(text));
    if (barShown) {
        draw();
    }
    std::fflush(stderr);
}

void progressDisplay::finish() {
    if (barShown) {
        std::fputc('\n', stderr);
        std::fflush(stderr);
        barShown = false;
    }
}
