// Damaged files: every prefix of valid files of each kind and version, and random byte
// flips. Loading must either succeed or throw 10, and no single allocation may exceed the
// file's size by more than the reader's fixed buffers.
#include <gtest/gtest.h>

#include <QDataStream>
#include <QFile>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "TempDir.h"
#include "data/tarvodataset.h"
#include "kdf_writer.h"

// The allocator of this test program records the largest request while a load runs. The
// sanitizers bring their own allocator; under them the sizes are not recorded.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KALDER_RECORD_ALLOCATIONS 0
#else
#define KALDER_RECORD_ALLOCATIONS 1
#endif

namespace {
std::atomic<bool> tracking{false};
std::atomic<size_t> largestRequest{0};

[[maybe_unused]] void note(size_t size) {
    if (tracking.load(std::memory_order_relaxed)) {
        size_t previous = largestRequest.load(std::memory_order_relaxed);
        while (size > previous && !largestRequest.compare_exchange_weak(previous, size)) {
        }
    }
}
}  // namespace

#if KALDER_RECORD_ALLOCATIONS
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);

void* malloc(size_t size) {
    note(size);
    return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) {
    note(count * size);
    return __libc_calloc(count, size);
}

void* realloc(void* pointer, size_t size) {
    note(size);
    return __libc_realloc(pointer, size);
}
}
#endif

namespace {

// Fixed buffers of the reader and of Qt's file layer, independent of the file.
constexpr size_t kFixedBuffers = 64 * 1024;

using Rows = std::vector<std::vector<double>>;

Rows rowsOf(int rows, int points, double level) {
    Rows r(rows, std::vector<double>(points));
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < points; ++j) r[i][j] = level + i - 0.5 * j;
    return r;
}

// A version 14 file (magic first, no marker) of two sweeps.
QByteArray version14File(int rows, int points) {
    ByteImage v14;
    v14.magic().i32(14).i32(0).f64(0).i32(0).i32(points).i32(0).i32(rows).i32(2);
    for (int s = 0; s < 2; ++s)
        for (const auto& row : rowsOf(rows, points, s))
            for (double v : row) v14.f64(v);
    return v14.bytes();
}

std::vector<QByteArray> sampleFiles() {
    std::vector<QByteArray> files;
    ByteImage iv;
    iv.jsonHeader("{\"ionFluxFactor\": [2, 3], \"useUnfilteredEnergy\": true}");
    iv.markerAndMagic().i32(18).i32(0).i32(1).zeros(16).i32(2).i32(4).i32(8);
    iv.f64(1).i32(2).trace(rowsOf(4, 8, 1)).trace(rowsOf(4, 8, 2), true);
    iv.f64(2).i32(1).trace(rowsOf(4, 8, 3));
    files.push_back(iv.bytes());

    ByteImage ar;
    ar.jsonHeader("{}").markerAndMagic().i32(18).i32(2).i32(1).zeros(16).i32(1).i32(4).i32(0);
    ar.f64(1).trace(rowsOf(4, 10, 5)).i32(2).u8(1);
    ar.f64(0.5).i32(1).f64(10).f64(0.1).i32(2).trace(rowsOf(4, 2, 1)).trace(rowsOf(4, 2, 2));
    ar.f64(1.5).i32(1).f64(20).f64(0.2).i32(1).trace(rowsOf(4, 2, 3));
    files.push_back(ar.bytes());

    ByteImage temperature;
    temperature.jsonHeader("{\"a\": [1, 2, {\"b\": false}]}").markerAndMagic();
    temperature.i32(17).i32(3).i32(0).zeros(16).i32(2).i32(0);
    temperature.f64(0).i32(3).i32(2).f64(1).f64(2).f64(3).f64(4).f64(5).f64(6);
    temperature.f64(1).i32(0).i32(3);
    files.push_back(temperature.bytes());

    QByteArray map;
    QDataStream out(&map, QIODevice::WriteOnly);
    out.setVersion(15);
    out << QVariantMap{{"list", QVariantList{1, "two", 3.0}}, {"names", QStringList{"a", "b"}}};
    ByteImage v16;
    v16.raw(map).markerAndMagic().i32(16).i32(0).zeros(16).i32(1).i32(4).i32(6);
    v16.f64(0).i32(1).trace(rowsOf(4, 6, 1));
    files.push_back(v16.bytes());

    files.push_back(version14File(4, 6));

    ByteImage v12;
    v12.markerAndMagic().i32(12).i32(0).f64(0.5).i32(10).i32(5).i32(2).i32(2);
    for (int k = 0; k < 2 * 2 * 2 * 5; ++k) v12.f64(k);
    files.push_back(v12.bytes());
    return files;
}

class KdfRobustness : public ::testing::Test {
protected:
    // Loads the bytes; true when they loaded, false when the constructor threw 10.
    bool load(const QByteArray& bytes) {
        // A fresh file each time: rewriting a truncated file makes some file systems flush.
        const QString path = QString::fromStdString(dir.file("f.kdf"));
        QFile::remove(path);
        EXPECT_TRUE(writeFile(path, bytes));
        largestRequest = 0;
        bool loaded = true;
        tracking = true;
        try {
            tarvoDataSet set(path);
        } catch (int code) {
            EXPECT_EQ(code, 10);
            loaded = false;
        }
        tracking = false;
        EXPECT_LE(largestRequest.load(), size_t(bytes.size()) + kFixedBuffers)
            << "file of " << bytes.size() << " bytes";
        return loaded;
    }

    TempDir dir;
};

TEST_F(KdfRobustness, SampleFilesLoad) {
    for (const QByteArray& file : sampleFiles()) EXPECT_TRUE(load(file));
}

TEST_F(KdfRobustness, EveryPrefixLoadsOrFailsCleanly) {
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    for (const QByteArray& file : sampleFiles()) {
        int failures = 0;
        for (int length = 0; length < file.size(); ++length) {
            failures += load(file.left(length)) ? 0 : 1;
        }
        EXPECT_GT(failures, 0) << "truncated bodies are noticed";
    }
    qInstallMessageHandler(nullptr);
}

TEST_F(KdfRobustness, RandomByteFlipsLoadOrFailCleanly) {
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    std::mt19937 random(20261206);
    for (const QByteArray& file : sampleFiles()) {
        std::uniform_int_distribution<int> position(0, file.size() - 1);
        std::uniform_int_distribution<int> flips(1, 4);
        std::uniform_int_distribution<int> byte(0, 255);
        for (int round = 0; round < 400; ++round) {
            QByteArray damaged = file;
            for (int k = flips(random); k > 0; --k) damaged[position(random)] = char(byte(random));
            load(damaged);
        }
    }
    qInstallMessageHandler(nullptr);
}

}  // namespace

namespace {

// What the program does with a file it loaded: export it in every form and save it again.
// Damaged files that still load, and old files whose row count has no channel split of its
// own (3 rows), must survive all of it.
TEST_F(KdfRobustness, LoadedDamagedFilesExportAndSaveAgain) {
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    std::vector<QByteArray> files = sampleFiles();
    files.push_back(version14File(3, 5));

    std::mt19937 random(7);
    const QString path = QString::fromStdString(dir.file("in.kdf"));
    int exported = 0;
    for (const QByteArray& file : files) {
        std::uniform_int_distribution<int> position(0, file.size() - 1);
        std::uniform_int_distribution<int> byte(0, 255);
        for (int round = 0; round < 30; ++round) {
            QByteArray damaged = file;
            if (round > 0)
                damaged[position(random)] = char(byte(random));
            QFile::remove(path);
            ASSERT_TRUE(writeFile(path, damaged));
            std::unique_ptr<tarvoDataSet> set;
            try {
                set = std::make_unique<tarvoDataSet>(path);
            } catch (int) {
                continue;
            }
            for (int mode : {exportChoices::OnlyResults, exportChoices::IncludeAveraged,
                             exportChoices::IncludeAll}) {
                exportChoices options;
                options.dataMode = mode;
                set->toCSV(QString::fromStdString(dir.file("out.csv")), options);
            }
            set->toMatFile(QString::fromStdString(dir.file("out.mat")));
            const QString again = QString::fromStdString(dir.file("again.kdf"));
            ASSERT_TRUE(set->save(again));
            try {
                tarvoDataSet reloaded(again);
                EXPECT_EQ(reloaded.dataKind, set->dataKind);
            } catch (int) {
                ADD_FAILURE() << "a saved data set does not load again, round " << round;
            }
            ++exported;
        }
    }
    EXPECT_GT(exported, 60);
    qInstallMessageHandler(nullptr);
}

}  // namespace
