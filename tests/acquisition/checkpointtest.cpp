// Recovery checkpoints of a run: written after passes and once a minute on the pacing clock,
// removed at the end, and intact after the process is killed at any moment, even while it
// writes one.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <memory>

#include "acquisition/pacing.h"
#include "acquisition/runcheckpoint.h"
#include "acquisition/scancontroller.h"
#include "data/recovery.h"
#include "data/tarvodataset.h"
#include "virtualunit.h"

namespace {

using CheckpointTest = VirtualUnit;

QString dirOf(const TempDir& d) {
    return QString::fromStdString(d.path());
}

TEST_F(CheckpointTest, PassesAndTheMinuteWriteTheRecoveryFile) {
    connectUnit("single");
    fixedScanSettings* s = quickSettings();
    s->values().multipleScans = true;
    s->values().intervalMs = 20.0;
    s->values().scanLengthMs = 70.0;
    std::unique_ptr<runCheckpoint> checkpoint;
    beforeStart = [&](scanController& c) {
        checkpoint = std::make_unique<runCheckpoint>(c.data(), dirOf(*dir), c.typeName());
        // Queued: the checkpoint is written in this thread while the scan goes on.
        QObject::connect(&c, &scanController::scanCounter, QCoreApplication::instance(),
                         [&](int pass) {
                             if (pass > 1) {
                                 ASSERT_TRUE(checkpoint->passCompleted());
                             }
                         });
    };

    const scanRecord r = runScan(s);

    ASSERT_TRUE(r.ended);
    ASSERT_GE(r.counters.size(), 3);
    EXPECT_EQ(checkpoint->saves(), r.counters.size() - 1);
    const QList<recovery::unfinishedRun> runs = recovery::findUnfinishedRuns({dirOf(*dir)});
    ASSERT_EQ(runs.size(), 1);

    // A minute on the pacing clock writes one more; less than that writes nothing.
    const int before = checkpoint->saves();
    pacing::pause(static_cast<int>(runCheckpoint::INTERVAL_MS) - 100);
    ASSERT_TRUE(checkpoint->tick());
    EXPECT_EQ(checkpoint->saves(), before);
    pacing::pause(200);
    ASSERT_TRUE(checkpoint->tick());
    EXPECT_EQ(checkpoint->saves(), before + 1);

    // The end of the run removes it, and nothing writes it again.
    ASSERT_TRUE(checkpoint->finish());
    EXPECT_FALSE(checkpoint->save());
    EXPECT_TRUE(recovery::findUnfinishedRuns({dirOf(*dir)}).isEmpty());
}

// A run in a child process killed with SIGKILL: after it reported a checkpoint, and while it
// wrote the next one. Either way the recovery file loads and holds every completed pass but
// the one in progress.
TEST(KilledRunTest, RecoveryFileOfAKilledRunLoads) {
    const struct {
        const char* killOn;  // the child's line that triggers the kill
        int passesKept;      // completed passes the file must hold at least
    } cases[] = {{"saved 3", 3}, {"saving 4", 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.killOn);
        TempDir work;
        QProcess child;
        child.setStandardErrorFile(QProcess::nullDevice());
        child.start(CHECKPOINT_CHILD, {"--checkpoint", dirOf(work)});
        ASSERT_TRUE(child.waitForStarted(-1));
        bool killed = false;
        while (!killed && child.waitForReadyRead(-1)) {
            while (!killed && child.canReadLine()) {
                killed = child.readLine().trimmed() == c.killOn;
            }
        }
        ASSERT_TRUE(killed) << "the child ended first: exit code " << child.exitCode();
        child.kill();  // SIGKILL
        ASSERT_TRUE(child.waitForFinished(-1));
        EXPECT_EQ(child.exitStatus(), QProcess::CrashExit);

        const QList<recovery::unfinishedRun> runs = recovery::findUnfinishedRuns({dirOf(work)});
        ASSERT_EQ(runs.size(), 1);
        EXPECT_FALSE(runs[0].writerAlive);
        try {
            std::unique_ptr<tarvoDataSet> set(recovery::openUnfinishedRun(runs[0].path));
            ASSERT_NE(set, nullptr);
            EXPECT_GE(set->scanCount(), c.passesKept);
            // Every pass but the last one in the file is complete: traces of one pass share its
            // time stamp, and each later pass started after it.
            for (int i = 1; i < set->scanCount(); ++i) {
                EXPECT_GT(set->sweepScans[i]->time, set->sweepScans[i - 1]->time);
            }
        } catch (int code) {
            FAIL() << "the recovery file does not load: " << code;
        }
    }
}

}  // namespace
