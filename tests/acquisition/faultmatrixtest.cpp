// Every fault the virtual sensor can inject, against every scan kind, through the scan
// controllers: each run logs the read-out's code for the fault, ends the way the controller
// promises, does not hang, leaves no thread behind, and keeps every trace that arrived before
// the fault, in the data set, in the file saved from it and in the recovery file of a lost run.
#include <gtest/gtest.h>

#include <QDir>
#include <QObject>
#include <QThread>
#include <atomic>
#include <cmath>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>

#include "acquisition/scancontroller.h"
#include "data/ivtrace.h"
#include "data/recovery.h"
#include "data/tarvodataset.h"
#include "data/tarvoscans.h"
#include "virtualunit.h"
#include "vsensor/VirtualSensor.h"

namespace {

enum class scanKind { TimeAveraged, TimeResolved, Temperature, AspectRatio };
constexpr int kScanKinds = 4;
constexpr int kTraces[kScanKinds] = {40, 8, 24, 3};
const char* const kKindNames[kScanKinds] = {"TimeAveraged", "TimeResolved", "Temperature",
                                            "AspectRatio"};

// What one fault does to each scan kind (in scanKind order): how the run ends, in `ends`, C all
// traces after the library's own retry, E fewer (the pass or read loop ended early but the run
// ended normally), D a lost sensor; and a text the library's log must carry (empty: the fault
// leaves no failure in the log).
struct faultCase {
    const char* name;
    vsensor::Fault fault;
    int nth;  // which event of its kind after the first trace (1: the next)
    int repeat;
    const char* ends;
    const char* logs[kScanKinds];
};

// The readers' codes: a normal block fails with -1 (USB read), -2 (stopped), -3 (short), a
// time-resolved one with -1, -2, -4 (sync lost), -6 (short) and is read again after a restart,
// or -8 (period changed), which ends the read; a restart that cannot write fails with -6 or -9.
// A temperature record's next read is the register read-back, whose failure ends its pass; it
// never checks its start and stop. Scans make no I2C transfers.
const char* const kReadBack = "Failed to read FPGA config parameters from Fpga";
const char* const kStop = "Failed to stop running scan";
const char* const kRun = "Failed to run scan";
using F = vsensor::Fault;

// clang-format off
const faultCase kCases[] = {
    {"DataReadFail",       F::DataReadFail, 1, 1, "CCEC", {"with code -1", "with code -1", kReadBack, "with code -1"}},
    {"DataReadFailSecond", F::DataReadFail, 2, 1, "CCEC", {"with code -1", "with code -1", kReadBack, "with code -1"}},
    {"DataWriteFail",      F::DataWriteFail, 1, 1, "DDEC", {kStop, kStop, kReadBack, ""}},
    {"DataWriteFailPersistent", F::DataWriteFail, 1, 100000, "DDED", {kStop, kStop, kReadBack, kRun}},
    {"ShortBlock",         F::ShortBlock, 1, 1, "CCCC", {"with code -3", "with code -6", "with code -3", "with code -3"}},
    {"StreamStop",         F::StreamStop, 1, 1, "CCCC", {"with code -2", "with code -2", "with code -2", "with code -2"}},
    {"SyncLoss",           F::SyncLoss, 1, 1, "CCCC", {"with code -2", "with code -4", "with code -3", "with code -2"}},
    {"SyncPeriodChange",   F::SyncPeriodChange, 1, 1, "CECC", {"", "with code -8", "", ""}},
    {"I2cNoAcknowledge",   F::I2cWriteFail, 1, 1, "CCCC", {"", "", "", ""}},
    {"I2cReadFail",        F::I2cReadFail, 1, 1, "CCCC", {"", "", "", ""}},
    {"Unplug",             F::Unplug, 1, 1, "DDED", {"normal scan (error -6)", "synchronized scan (error -9)", kReadBack, kRun}},
};
// clang-format on

// Traces of every kind in a data set, and a sum over their first values that tells whether two
// data sets hold the same traces.
struct traceTally {
    int count = 0;
    double sum = 0.0;
    void add(double first) {
        ++count;
        sum += first;
    }
    void add(const ivTrace* t) {
        add(t->nRows > 0 && !t->currents[0].isEmpty() ? t->currents[0][0] : 0.0);
    }
};

traceTally tally(tarvoDataSet& set) {
    traceTally t;
    std::lock_guard<std::mutex> locker(set.mutex);
    for (const tarvoScan* scan : set.sweepScans) {
        for (const ivTrace* trace : *scan->traces) t.add(trace);
    }
    for (const kalderAspectRatioScan* scan : set.arScans) {
        if (scan->reference) {
            t.add(scan->reference);
        }
        for (const arGroup* group : scan->groups) {
            for (const arPoint* point : group->points) {
                for (const ivTrace* trace : point->traces) t.add(trace);
            }
        }
    }
    for (const temperatureRecord* record : set.temperatureRecords) {
        for (const QVector<double>& row : record->rows) t.add(row.isEmpty() ? 0.0 : row[0]);
    }
    return t;
}

int threadCount() {
    return QDir(QStringLiteral("/proc/self/task"))
        .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
        .size();
}

// A finished thread may take a moment to leave the process: this yields a generous number of
// times before it says that the count does not come back.
bool threadsReturnTo(int count) {
    for (int i = 0; i < 100000 && threadCount() > count; ++i) QThread::yieldCurrentThread();
    return threadCount() <= count;
}

class FaultMatrixTest : public VirtualUnit,
                        public ::testing::WithParamInterface<std::tuple<faultCase, int>> {};

TEST_P(FaultMatrixTest, FaultEndsTheRunAsDocumentedAndKeepsItsTraces) {
    const faultCase& fc = std::get<0>(GetParam());
    const int k = std::get<1>(GetParam());
    const scanKind kind = static_cast<scanKind>(k);
    const char end = fc.ends[k];
    connectUnit(kind == scanKind::AspectRatio ? "ar" : "single");
    // A short scan of the kind, long enough that the reads go on after the first trace.
    scanParameters& p = quickSettings()->values();
    p.tracesPerScan = kTraces[k];
    p.scanType = kind == scanKind::TimeResolved  ? TimeResolvedScan
                 : kind == scanKind::Temperature ? TemperatureScan
                                                 : TimeAveragedScan;
    p.trEnd = 200;
    p.trRes = 100.0;
    p.aspectRatioFamily = kind == scanKind::AspectRatio;
    p.aspectRatios = {1.0, 1.5};
    recoveryDirectory = QString::fromStdString(dir->path());
    const int threadsBefore = threadCount();

    // The fault is armed from the scan thread itself, right after the first trace arrived, so
    // that it hits the next event of its kind whatever the pace of the two threads.
    std::atomic<int> armedAt{-1};
    beforeStart = [&](scanController& c) {
        tarvoDataSet* set = c.data();
        auto arm = [&armedAt, &fc, set] {
            const int n = armedAt.load() < 0 ? tally(*set).count : 0;
            if (n >= 1) {
                vsensor::scheduleFault(fc.fault, fc.nth, fc.repeat);
                vsensor::clearI2cLog();
                armedAt = n;
            }
        };
        QObject::connect(&c, &scanController::scanProgress, &c, arm, Qt::DirectConnection);
        QObject::connect(&c, &scanController::evUpdate, &c, arm, Qt::DirectConnection);
    };

    ::testing::internal::CaptureStderr();
    const scanRecord r = runScan(settings.get());
    const std::string log = ::testing::internal::GetCapturedStderr();

    ASSERT_FALSE(r.hung);
    ASSERT_GE(armedAt.load(), 1) << "the fault was never armed";
    EXPECT_TRUE(threadsReturnTo(threadsBefore)) << "a thread outlived the run";
    EXPECT_EQ(r.disconnected, end == 'D');
    EXPECT_EQ(r.ended, end != 'D');
    if (*fc.logs[k]) {
        EXPECT_NE(log.find(fc.logs[k]), std::string::npos) << "the log lacks " << fc.logs[k];
    } else {
        EXPECT_EQ(log.find("happened"), std::string::npos) << "a read failed";
    }
    if (fc.fault == F::I2cWriteFail || fc.fault == F::I2cReadFail) {
        EXPECT_TRUE(vsensor::i2cLog().empty()) << "the scan used the I2C bus";
    }

    // No trace that arrived before the fault is lost; a run carried through has them all
    // (time-resolved: three slices; aspect ratio: one group per ratio).
    const traceTally held = tally(*dataSet);
    EXPECT_GE(held.count, armedAt.load());
    const int all = kTraces[k] * (kind == scanKind::TimeResolved ? 3 : 1);
    if (end == 'E') {
        EXPECT_LT(held.count, all);
    } else if (end == 'C' && kind == scanKind::AspectRatio) {
        ASSERT_EQ(dataSet->arScans.size(), 1);
        EXPECT_EQ(dataSet->arScans[0]->groups.size(), 2);
    } else if (end == 'C') {
        EXPECT_EQ(held.count, all);
        if (kind == scanKind::TimeResolved) {
            EXPECT_EQ(dataSet->scanCount(), 3);
        }
    }

    // A lost sensor leaves the run's recovery file, brought up to date; a run that ended
    // removed it. Both that file and the file saved from the data set hold the same traces.
    const QList<recovery::unfinishedRun> runs = recovery::findUnfinishedRuns({recoveryDirectory});
    ASSERT_EQ(runs.size(), end == 'D' ? 1 : 0);
    const QString path = QString::fromStdString(dir->file("run.kdf"));
    ASSERT_TRUE(dataSet->save(path));
    auto expectSameTraces = [&held](tarvoDataSet& loaded, const char* what) {
        const traceTally read = tally(loaded);
        EXPECT_EQ(read.count, held.count) << what;
        EXPECT_NEAR(read.sum, held.sum, 1e-9 * (1.0 + std::fabs(held.sum))) << what;
    };
    try {
        tarvoDataSet saved(path);
        expectSameTraces(saved, "saved file");
        if (end == 'D') {
            EXPECT_EQ(runs[0].typeName, typeName);
            std::unique_ptr<tarvoDataSet> kept(recovery::openUnfinishedRun(runs[0].path));
            ASSERT_NE(kept, nullptr);
            expectSameTraces(*kept, "recovery file");
        }
    } catch (int code) {
        FAIL() << "a file does not load: " << code;
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrixTest,
                         ::testing::Combine(::testing::ValuesIn(kCases),
                                            ::testing::Range(0, kScanKinds)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    kKindNames[std::get<1>(info.param)];
                         });

}  // namespace
