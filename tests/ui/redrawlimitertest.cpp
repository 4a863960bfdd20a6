// The redraw limit of the data view: at once, then folded until the interval is up.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTimer>

#include "ui/redrawlimiter.h"

namespace {

TEST(RedrawLimiter, RunsAtOnceThenFoldsRequestsUntilTheIntervalIsUp) {
    int runs = 0;
    // An interval far longer than the test: only the explicit now() may run the second time.
    redrawLimiter limiter([&] { ++runs; }, 3600 * 1000);
    limiter.request();
    EXPECT_EQ(runs, 1);
    EXPECT_FALSE(limiter.pending());
    limiter.request();
    limiter.request();
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(limiter.pending());
    limiter.now();
    EXPECT_EQ(runs, 2);
    EXPECT_FALSE(limiter.pending());

    int unlimited = 0;
    redrawLimiter every([&] { ++unlimited; }, 0);
    for (int i = 0; i < 5; ++i) {
        every.request();
    }
    EXPECT_EQ(unlimited, 5);
}

TEST(RedrawLimiter, AScheduledRedrawRunsWhenTheIntervalIsUp) {
    int runs = 0;
    redrawLimiter limiter([&] { ++runs; }, 20);
    limiter.request();
    limiter.request();
    ASSERT_TRUE(limiter.pending());
    QTimer probe;
    QSignalSpy spy(&probe, &QTimer::timeout);
    probe.start(1);
    while (limiter.pending()) {
        spy.wait(50);
    }
    EXPECT_EQ(runs, 2);
}

}  // namespace
