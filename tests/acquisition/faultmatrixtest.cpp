// Every fault the virtual sensor can inject, against every scan type, through the scan
// controllers: each run reports what the read-out documents for the fault (its code in the
// library's log), ends the way the controller promises (the library's retry and a normal end,
// the end of the pass, or a lost sensor), does not hang, leaves no thread behind, and keeps
// every trace that arrived before the fault, in the data set and in the file saved from it.
#include <gtest/gtest.h>

#include <QObject>
#include <atomic>
#include <cmath>
#include <string>

#include "acquisition/scancontroller.h"
#include "data/ivtrace.h"
#include "data/tarvodataset.h"
#include "data/tarvoscans.h"
#include "virtualunit.h"
#include "vsensor/VirtualSensor.h"

namespace {

enum class scanKind { TimeAveraged, TimeResolved, Temperature, AspectRatio };
constexpr int kScanKinds = 4;
constexpr int kTraces[kScanKinds] = {40, 8, 24, 3};

const char* kindName(scanKind k) {
    switch (k) {
        case scanKind::TimeAveraged:
            return "TimeAveraged";
        case scanKind::TimeResolved:
            return "TimeResolved";
        case scanKind::Temperature:
            return "Temperature";
        case scanKind::AspectRatio:
            return "AspectRatio";
    }
    return "";
}

// How a run ends: all traces after the library's own retry, fewer (the pass or read loop
// ended early but the run ended normally), or a lost sensor.
enum class runEnd { Complete, EndedEarly, Disconnected };

// What one scan type does under one fault: the end, and a text the library's log must carry
// (empty: the fault leaves no failure in the log).
struct outcome {
    runEnd end;
    const char* log;
};

struct faultCase {
    const char* name;
    vsensor::Fault fault;
    int nth;  // which event of its kind after the first trace (1: the next)
    int repeat;
    // Indexed by scanKind.
    outcome outcomes[kScanKinds];
};

// The readers' codes: a normal scan's block fails with -1 (USB read), -2 (the board stopped
// sending), -3 (short block) and is read again after a restart; a time-resolved block fails
// with -1, -2, -4 (sync lost), -6 (short, past half), is read again, except -8 (the sync
// period changed), which ends the read; a temperature block fails with -1 or -3 and is read
// again. A restart that cannot write the block fails the read with -6 (normal) or -9
// (time-resolved). The scan path makes no I2C transfers, so I2C faults cannot reach a scan.
const char* const kReadBackFailed = "Failed to read FPGA config parameters from Fpga";

const faultCase kCases[] = {
    // The next read; for a temperature record that is the read-back of the registers, whose
    // failure fails the read and ends the record's pass.
    {"DataReadFail",
     vsensor::Fault::DataReadFail,
     1,
     1,
     {{runEnd::Complete, "with code -1"},
      {runEnd::Complete, "with code -1"},
      {runEnd::EndedEarly, kReadBackFailed},
      {runEnd::Complete, "with code -1"}}},
    // The second read. A temperature record still holds the next rows from one read of the
    // FIFO, so this is again a read-back of the registers.
    {"DataReadFailSecond",
     vsensor::Fault::DataReadFail,
     2,
     1,
     {{runEnd::Complete, "with code -1"},
      {runEnd::Complete, "with code -1"},
      {runEnd::EndedEarly, kReadBackFailed},
      {runEnd::Complete, "with code -1"}}},
    {"DataWriteFail",
     vsensor::Fault::DataWriteFail,
     1,
     1,
     // The next write after the first trace: the stop of the pass (time-averaged,
     // time-resolved: a lost sensor), the read-back request of the temperature record (which
     // ends its pass), or the settling delays of the aspect-ratio points (a result the
     // controller does not check).
     {{runEnd::Disconnected, "Failed to stop running scan"},
      {runEnd::Disconnected, "Failed to stop running scan"},
      {runEnd::EndedEarly, kReadBackFailed},
      {runEnd::Complete, ""}}},
    {"DataWriteFailPersistent",
     vsensor::Fault::DataWriteFail,
     1,
     100000,
     {{runEnd::Disconnected, "Failed to stop running scan"},
      {runEnd::Disconnected, "Failed to stop running scan"},
      {runEnd::EndedEarly, kReadBackFailed},
      {runEnd::Disconnected, "Failed to run scan"}}},
    {"ShortBlock",
     vsensor::Fault::ShortBlock,
     1,
     1,
     {{runEnd::Complete, "with code -3"},
      {runEnd::Complete, "with code -6"},
      {runEnd::Complete, "with code -3"},
      {runEnd::Complete, "with code -3"}}},
    {"StreamStop",
     vsensor::Fault::StreamStop,
     1,
     1,
     {{runEnd::Complete, "with code -2"},
      {runEnd::Complete, "with code -2"},
      {runEnd::Complete, "with code -2"},
      {runEnd::Complete, "with code -2"}}},
    {"SyncLoss",
     vsensor::Fault::SyncLoss,
     1,
     1,
     {{runEnd::Complete, "with code -2"},
      {runEnd::Complete, "with code -4"},
      {runEnd::Complete, "with code -3"},
      {runEnd::Complete, "with code -2"}}},
    {"SyncPeriodChange",
     vsensor::Fault::SyncPeriodChange,
     1,
     1,
     {{runEnd::Complete, ""},
      {runEnd::EndedEarly, "with code -8"},
      {runEnd::Complete, ""},
      {runEnd::Complete, ""}}},
    {"I2cNoAcknowledge",
     vsensor::Fault::I2cWriteFail,
     1,
     1,
     {{runEnd::Complete, ""},
      {runEnd::Complete, ""},
      {runEnd::Complete, ""},
      {runEnd::Complete, ""}}},
    {"I2cReadFail",
     vsensor::Fault::I2cReadFail,
     1,
     1,
     {{runEnd::Complete, ""},
      {runEnd::Complete, ""},
      {runEnd::Complete, ""},
      {runEnd::Complete, ""}}},
    {"Unplug",
     vsensor::Fault::Unplug,
     1,
     1,
     // The read fails, and so does the restart: the read returns -6 (normal scan) or -9
     // (time-resolved). A temperature record ends its pass when a read fails and never checks
     // its start and stop: it ends normally, and the monitor reports the lost sensor after it.
     {{runEnd::Disconnected, "normal scan (error -6)"},
      {runEnd::Disconnected, "synchronized scan (error -9)"},
      {runEnd::EndedEarly, kReadBackFailed},
      {runEnd::Disconnected, "Failed to run scan"}}},
};

// Traces of every kind in a data set, and a sum over their first values that tells whether two
// data sets hold the same traces.
struct traceTally {
    int count = 0;
    double sum = 0.0;
};

void addTrace(traceTally& t, const ivTrace* trace) {
    ++t.count;
    if (trace->nRows > 0 && !trace->currents[0].isEmpty()) {
        t.sum += trace->currents[0][0];
    }
}

traceTally tally(tarvoDataSet& set) {
    traceTally t;
    set.lock();
    for (const tarvoScan* scan : set.sweepScans) {
        for (const ivTrace* trace : *scan->traces) {
            addTrace(t, trace);
        }
    }
    for (const kalderAspectRatioScan* scan : set.arScans) {
        if (scan->reference) {
            addTrace(t, scan->reference);
        }
        for (const arGroup* group : scan->groups) {
            for (const arPoint* point : group->points) {
                for (const ivTrace* trace : point->traces) {
                    addTrace(t, trace);
                }
            }
        }
    }
    for (const temperatureRecord* record : set.temperatureRecords) {
        for (const QVector<double>& row : record->rows) {
            ++t.count;
            t.sum += row.isEmpty() ? 0.0 : row[0];
        }
    }
    set.unlock();
    return t;
}

struct matrixParam {
    const faultCase* fault;
    scanKind kind;
};

class FaultMatrixTest : public VirtualUnit, public ::testing::WithParamInterface<matrixParam> {
protected:
    // A short scan of the kind, long enough that the reads go on after the first trace (one
    // read brings several blocks): kTraces[kind] traces (time-resolved: reads of three slices),
    // or two aspect ratios.
    fixedScanSettings* settingsFor(scanKind kind) {
        fixedScanSettings* s = quickSettings();
        scanParameters& p = s->values();
        p.tracesPerScan = kTraces[static_cast<int>(kind)];
        switch (kind) {
            case scanKind::TimeAveraged:
                break;
            case scanKind::TimeResolved:
                p.scanType = TimeResolvedScan;
                p.trStart = 0;
                p.trEnd = 200;
                p.trRes = 100.0;
                break;
            case scanKind::Temperature:
                p.scanType = TemperatureScan;
                break;
            case scanKind::AspectRatio:
                p.aspectRatioFamily = true;
                p.aspectRatios = {1.0, 1.5};
                break;
        }
        return s;
    }
};

TEST_P(FaultMatrixTest, FaultEndsTheRunAsDocumentedAndKeepsItsTraces) {
    const faultCase& fc = *GetParam().fault;
    const scanKind kind = GetParam().kind;
    const outcome& expected = fc.outcomes[static_cast<int>(kind)];
    connectUnit(kind == scanKind::AspectRatio ? "ar" : "single");
    fixedScanSettings* s = settingsFor(kind);
    const int threadsBefore = threadCount();

    // The fault is armed from the scan thread itself, right after the first trace arrived, so
    // that it hits the next event of its kind whatever the pace of the two threads.
    std::atomic<int> armedAt{-1};
    tarvoDataSet* set = nullptr;
    beforeStart = [&](scanController& c) {
        set = c.data();
        auto arm = [&] {
            if (armedAt.load() >= 0) {
                return;
            }
            const int n = tally(*set).count;
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
    const scanRecord r = runScan(s);
    const std::string log = ::testing::internal::GetCapturedStderr();

    ASSERT_FALSE(r.hung);
    ASSERT_GE(armedAt.load(), 1) << "the fault was never armed";
    EXPECT_TRUE(threadsReturnTo(threadsBefore)) << "a thread outlived the run";

    // The end.
    if (expected.end == runEnd::Disconnected) {
        EXPECT_TRUE(r.disconnected());
        EXPECT_FALSE(r.ended);
    } else {
        EXPECT_TRUE(r.ended);
        EXPECT_FALSE(r.disconnected());
    }
    if (*expected.log) {
        EXPECT_NE(log.find(expected.log), std::string::npos)
            << "the log lacks \"" << expected.log << "\"";
    } else {
        EXPECT_EQ(log.find("happened"), std::string::npos) << "a read failed";
    }
    if (fc.fault == vsensor::Fault::I2cWriteFail || fc.fault == vsensor::Fault::I2cReadFail) {
        EXPECT_TRUE(vsensor::i2cLog().empty()) << "the scan used the I2C bus";
    }

    // The traces: none that arrived before the fault is lost; a run the library carried
    // through has them all.
    const traceTally held = tally(*dataSet);
    EXPECT_GE(held.count, armedAt.load());
    if (expected.end == runEnd::EndedEarly && kind != scanKind::AspectRatio) {
        EXPECT_LT(held.count,
                  kTraces[static_cast<int>(kind)] * (kind == scanKind::TimeResolved ? 3 : 1));
    }
    if (expected.end == runEnd::Complete) {
        switch (kind) {
            case scanKind::TimeAveraged:
            case scanKind::Temperature:
                EXPECT_EQ(held.count, kTraces[static_cast<int>(kind)]);
                break;
            case scanKind::TimeResolved:
                // Slices at 0, 100 and 200 us, one trace each per read.
                EXPECT_EQ(dataSet->scanCount(), 3);
                EXPECT_EQ(held.count, 3 * kTraces[static_cast<int>(kind)]);
                break;
            case scanKind::AspectRatio:
                dataSet->lock();
                EXPECT_EQ(dataSet->arScans.size(), 1);
                EXPECT_EQ(dataSet->arScans[0]->groups.size(), 2);
                dataSet->unlock();
                break;
        }
    }

    // And the file saved from the data set holds the same traces.
    const QString path = QString::fromStdString(dir->file("run.kdf"));
    ASSERT_TRUE(dataSet->save(path));
    try {
        tarvoDataSet loaded(path);
        const traceTally read = tally(loaded);
        EXPECT_EQ(read.count, held.count);
        EXPECT_NEAR(read.sum, held.sum, 1e-9 * (1.0 + std::fabs(held.sum)));
    } catch (int code) {
        FAIL() << "the saved file does not load: " << code;
    }
}

std::vector<matrixParam> allCases() {
    std::vector<matrixParam> cases;
    for (const faultCase& fc : kCases) {
        for (int k = 0; k < kScanKinds; ++k) {
            cases.push_back({&fc, static_cast<scanKind>(k)});
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrixTest, ::testing::ValuesIn(allCases()),
                         [](const ::testing::TestParamInfo<matrixParam>& info) {
                             return std::string(info.param.fault->name) + "_" +
                                    kindName(info.param.kind);
                         });

}  // namespace
