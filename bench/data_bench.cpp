// Data-set costs: ingest of one sweep into a scan that already holds many, kdf save and load
// throughput, the HDF5 export against the kdf save of the same data, and a recovery checkpoint
// early and late in a long run.
#include <benchmark/benchmark.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <memory>
#include <random>
#include <vector>

#include "acquisition/runcheckpoint.h"
#include "data/hdf5export.h"
#include "data/tarvodataset.h"

namespace {

constexpr int kRows = 24;  // 20 current rows, 4 voltage rows
constexpr int kCurrentRows = 20;
constexpr int kPoints = 111;

// Sweeps with noise, so that the statistics of the traces differ as in a real scan.
const std::vector<std::vector<double>>& sampleBlocks() {
    static const std::vector<std::vector<double>> blocks = [] {
        std::mt19937 random(7);
        std::normal_distribution<double> noise(0.0, 0.02);
        std::vector<std::vector<double>> result(256, std::vector<double>(kRows * kPoints));
        for (auto& block : result) {
            for (int r = 0; r < kRows; ++r) {
                for (int j = 0; j < kPoints; ++j) {
                    const double v = 2.0 * j;
                    block[r * kPoints + j] =
                        r < kCurrentRows
                            ? 1e-6 * (1.0 + noise(random)) / (1.0 + std::exp((v - 120.0) / 10.0))
                            : v + 0.01 * r + noise(random);
                }
            }
        }
        return result;
    }();
    return blocks;
}

void fill(tarvoDataSet& set, int traces, int& next) {
    const auto& blocks = sampleBlocks();
    for (int i = 0; i < traces; ++i, ++next) {
        set.addTrace(blocks[next % blocks.size()].data(), 0.0, kPoints, kRows, 0, 0, false);
    }
}

// Cost of adding the N-th sweep (averaged over sweeps N .. N + N/10) to one scan.
void BM_TraceIngest(benchmark::State& state) {
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    const int target = static_cast<int>(state.range(0));
    const int window = std::max(1, target / 10);
    std::unique_ptr<tarvoDataSet> set;
    int next = 0;
    int added = window;
    for (auto _ : state) {
        if (added == window) {
            state.PauseTiming();
            set = std::make_unique<tarvoDataSet>(kCurrentRows, 4, 0);
            fill(*set, target - 1, next);
            added = 0;
            state.ResumeTiming();
        }
        set->addTrace(sampleBlocks()[next++ % sampleBlocks().size()].data(), 0.0, kPoints, kRows, 0,
                      0, false);
        ++added;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TraceIngest)->Arg(10)->Arg(10000)->Unit(benchmark::kMicrosecond);

// A data set whose file is about 100 MB: one scan of 24 x 111 sweeps.
tarvoDataSet& largeSet() {
    static tarvoDataSet* set = [] {
        auto* s = new tarvoDataSet(kCurrentRows, 4, 0);
        int next = 0;
        fill(*s, 100 * 1000 * 1000 / (kRows * kPoints * 8), next);
        return s;
    }();
    return *set;
}

// Files live in memory when possible: the save ends with an fsync (so a crash cannot leave a
// half-written file in place of the old one), and on a disk that wait would be measured
// instead of the code.
QString benchDirectory() {
    return QDir("/dev/shm").exists() ? QStringLiteral("/dev/shm/kalder-bench-XXXXXX")
                                     : QDir::temp().filePath("kalder-bench-XXXXXX");
}

void BM_KdfSave(benchmark::State& state) {
    QTemporaryDir dir(benchDirectory());
    const QString path = dir.filePath("large.kdf");
    tarvoDataSet& set = largeSet();
    for (auto _ : state) {
        if (!set.save(path))
            state.SkipWithError("save failed");
    }
    state.SetBytesProcessed(state.iterations() * QFileInfo(path).size());
}
BENCHMARK(BM_KdfSave)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_KdfLoad(benchmark::State& state) {
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    QTemporaryDir dir(benchDirectory());
    const QString path = dir.filePath("large.kdf");
    if (!largeSet().save(path))
        state.SkipWithError("save failed");
    for (auto _ : state) {
        tarvoDataSet loaded(path);
        benchmark::DoNotOptimize(loaded.sweepScans.size());
    }
    state.SetBytesProcessed(state.iterations() * QFileInfo(path).size());
}
BENCHMARK(BM_KdfLoad)->Unit(benchmark::kMillisecond)->UseRealTime();

// Sweeps of 16 rows (13 current channels, 3 voltage rows) by 111 points, as a 13-sensor disc
// gives them, at one time stamp; `next` counts the sweeps made so far.
void addDiscSweeps(tarvoDataSet& set, int count, double time, int& next) {
    constexpr int rows = 16;
    std::vector<double> block(rows * kPoints);
    for (int t = 0; t < count; ++t, ++next) {
        const std::vector<double>& sample = sampleBlocks()[next % sampleBlocks().size()];
        std::copy(sample.begin() + (kRows - rows) * kPoints, sample.end(), block.begin());
        std::copy(sample.begin(), sample.begin() + 13 * kPoints, block.begin());
        set.addTrace(block.data(), time, kPoints, rows, 0, 0, false);
    }
}

// 10,000 sweeps in one scan: a long run of a 13-sensor disc.
tarvoDataSet& discRun() {
    static tarvoDataSet* set = [] {
        auto* s = new tarvoDataSet(13, 3, 0);
        int next = 0;
        addDiscSweeps(*s, 10000, 0.0, next);
        return s;
    }();
    return *set;
}

// The same data written as a kdf file and exported as HDF5; bytes/s counts the kdf file's size
// for both, so that the two rates compare the same payload.
void writeDiscRun(benchmark::State& state, bool hdf5) {
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    QTemporaryDir dir(benchDirectory());
    const QString kdf = dir.filePath("run.kdf");
    const QString h5 = dir.filePath("run.h5");
    tarvoDataSet& set = discRun();
    if (!set.save(kdf))
        state.SkipWithError("save failed");
    for (auto _ : state) {
        if (!(hdf5 ? toHdf5(set, h5) : set.save(kdf)))
            state.SkipWithError("write failed");
    }
    state.SetBytesProcessed(state.iterations() * QFileInfo(kdf).size());
    state.counters["file_MB"] = QFileInfo(hdf5 ? h5 : kdf).size() / 1e6;
}

void BM_DiscRunKdfSave(benchmark::State& state) {
    writeDiscRun(state, false);
}
BENCHMARK(BM_DiscRunKdfSave)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DiscRunHdf5Export(benchmark::State& state) {
    writeDiscRun(state, true);
}
BENCHMARK(BM_DiscRunHdf5Export)->Unit(benchmark::kMillisecond)->UseRealTime();

// One recovery checkpoint after about N sweeps of a repeated scan of the 13-sensor disc in
// passes of ten sweeps: each iteration adds a pass and times the checkpoint that follows, as
// the panel takes one after every pass. It should cost the same after 20,000 sweeps as after
// 100.
void BM_CheckpointAfter(benchmark::State& state) {
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    constexpr int pass = 10;
    QTemporaryDir dir(benchDirectory());
    tarvoDataSet set(13, 3, 0);
    int next = 0;
    int passes = 0;
    while (next < state.range(0)) {
        addDiscSweeps(set, pass, passes++, next);
    }
    runCheckpoint checkpoint(&set, dir.path(), QStringLiteral("IV_TimeAveraged"));
    if (!checkpoint.save())
        state.SkipWithError("checkpoint failed");
    for (auto _ : state) {
        state.PauseTiming();
        addDiscSweeps(set, pass, passes++, next);
        state.ResumeTiming();
        if (!checkpoint.save())
            state.SkipWithError("checkpoint failed");
    }
    state.counters["journal_MB"] = QFileInfo(checkpoint.path()).size() / 1e6;
    checkpoint.finish();
}
BENCHMARK(BM_CheckpointAfter)
    ->Arg(100)
    ->Arg(20000)
    ->Iterations(50)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
