// Damaged files: every prefix of valid files of each kind and version, files cut at chosen
// points, and random byte flips. Loading must either succeed or throw 10, and no single
// allocation may exceed the file's size by more than the reader's fixed buffers.
#include <gtest/gtest.h>

#include <QFile>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "data/tarvodataset.h"
#include "kdfwriter.h"
#include "tempdir.h"

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

const QByteArray kJson = "{\"ionFluxFactor\": [2, 3], \"useUnfilteredEnergy\": true}";

// A version 18 file of `kind`: `head` lays down the header of scan s up to its item count,
// `item` item i of scan s.
template <typename Head, typename Item>
Layout version18(int kind, const std::vector<int>& counts, Head head, Item item) {
    Layout l;
    l.image.jsonHeader(kJson).markerAndMagic().i32(18).i32(kind).i32(1).zeros(16);
    l.image.i32(int(counts.size()));
    if (kind != 3) {
        l.image.i32(4);  // rows
    }
    l.image.i32(kind == 0 ? 8 : 0);
    for (int s = 0; s < int(counts.size()); ++s) {
        l.beginScan();
        head(l.image, s);
        l.image.i32(counts[s]);
        for (int i = 0; i < counts[s]; ++i) {
            l.beginItem();
            item(l.image, s, i);
        }
    }
    return l;
}

// IV scans of counts[s] traces of 4 rows and 8 points.
Layout ivScans(const std::vector<int>& counts) {
    return version18(
        0, counts, [](ByteImage& b, int s) { b.f64(s); },
        [](ByteImage& b, int s, int t) { b.trace(sweepRows(4, 8, 1, 10.0 * s + t), t % 2 == 1); });
}

// Aspect-ratio scans of one group of counts[s] points of one trace each.
Layout arScans(const std::vector<int>& counts) {
    return version18(
        2, counts,
        [](ByteImage& b, int s) {
            b.f64(s).trace(sweepRows(4, 6, 1, s)).i32(1).u8(1).f64(0.5 + s);
        },
        [](ByteImage& b, int s, int p) {
            b.f64(10 * p).f64(0.1 * p).i32(1).trace(sweepRows(4, 3, 1, p + s));
        });
}

// Temperature records of counts[s] rows of three columns.
Layout temperatures(const std::vector<int>& counts) {
    return version18(
        3, counts, [](ByteImage& b, int s) { b.f64(s).i32(3); },
        [](ByteImage& b, int s, int r) { b.f64(r).f64(2 * r + s).f64(-r); });
}

// counts[0] sweeps: of 4 rows and 6 points, or of three frames of 5 points.
Layout version14(const std::vector<int>& counts) {
    return timeAveragedFile(14, 4, 1, 6, counts[0], false);
}

Layout version12(const std::vector<int>& counts) {
    return timeResolvedFile(12, 5, 3, counts[0]);
}

std::vector<QByteArray> sampleFiles() {
    std::vector<QByteArray> files = {ivScans({2, 1}).image.bytes(), arScans({2, 1}).image.bytes(),
                                     version14({2}).image.bytes(), version12({2}).image.bytes()};
    ByteImage temperature;
    temperature.jsonHeader("{\"a\": [1, 2, {\"b\": false}]}").markerAndMagic();
    temperature.i32(17).i32(3).i32(0).zeros(16).i32(2).i32(0);
    temperature.f64(0).i32(3).i32(2).f64(1).f64(2).f64(3).f64(4).f64(5).f64(6);
    temperature.f64(1).i32(0).i32(3);
    files.push_back(temperature.bytes());

    files.push_back(version16File(
        streamed({{"list", QVariantList{1, "two", 3.0}}, {"names", QStringList{"a", "b"}}}),
        {sweepRows(4, 10, 1, 1)}));
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
        loaded.reset();
        tracking = true;
        try {
            loaded = std::make_unique<tarvoDataSet>(path);
        } catch (int code) {
            EXPECT_EQ(code, 10);
        }
        tracking = false;
        EXPECT_LE(largestRequest.load(), size_t(bytes.size()) + kFixedBuffers)
            << "file of " << bytes.size() << " bytes";
        return loaded != nullptr;
    }

    TempDir dir;
    std::unique_ptr<tarvoDataSet> loaded;  // the last file that loaded
};

// A file cut anywhere loads: empty when the cut comes before the data marker and the version,
// otherwise marked as truncated, never passed off as whole.
TEST_F(KdfRobustness, EveryPrefixLoadsAndACutIsNoticed) {
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    for (const QByteArray& file : sampleFiles()) {
        for (int length = 0; length < file.size(); ++length) {
            ASSERT_TRUE(load(file.left(length))) << length;
            EXPECT_TRUE(loaded->fileVersion == 0 || loaded->truncated) << length;
            EXPECT_LE(loaded->scanCount(), std::max(loaded->declaredScans, 0)) << length;
        }
        ASSERT_TRUE(load(file));
        EXPECT_FALSE(loaded->truncated);
    }
    qInstallMessageHandler(nullptr);
}

struct CutCase {
    const char* name;
    Layout (*build)(const std::vector<int>& counts);
    std::vector<int> whole;  // items per scan in the whole file
    int scan;                // the cut lies in this scan ...
    int item;                // ... at the start of this item (-1: of the scan's header) ...
    int offset;              // ... plus this many bytes
    std::vector<int> kept;   // items per scan recovered: a whole file of these loads the same
};

const CutCase CUT_CASES[] = {
    {"ivInFirstTrace", ivScans, {2, 1, 2}, 0, 0, 100, {}},
    {"ivInSecondTrace", ivScans, {2, 1, 2}, 0, 1, 9, {1}},
    {"ivInScanHeader", ivScans, {2, 1, 2}, 1, -1, 10, {2}},
    {"ivInTraceHeader", ivScans, {2, 1, 2}, 2, 0, 3, {2, 1}},
    {"ivLastByte", ivScans, {2, 1, 2}, 2, 1, 263, {2, 1, 1}},
    {"ivBeforeScanCount", ivScans, {2, 1, 2}, 0, -1, -10, {}},
    {"arInSecondPoint", arScans, {3, 2}, 0, 1, 40, {1}},
    {"arInSecondScanReference", arScans, {3, 2}, 1, -1, 30, {3}},
    {"temperatureInRow", temperatures, {3, 2}, 0, 2, 12, {2}},
    {"temperatureInRecordHeader", temperatures, {3, 2}, 1, -1, 14, {3}},
    {"v14InThirdSweep", version14, {4}, 0, 2, 100, {2}},
    {"v12InSecondSweep", version12, {3}, 0, 1, 0, {1}},
};

// Cut at a chosen point, a file loads what was complete before the cut, and reports the cut
// and the scans the whole file holds. What it loads equals, export for export, a whole file
// written with only those items.
TEST_F(KdfRobustness, CutFilesLoadTheCompleteScansAndExportThem) {
    for (const CutCase& c : CUT_CASES) {
        SCOPED_TRACE(c.name);
        const Layout whole = c.build(c.whole);
        ASSERT_TRUE(load(whole.image.bytes()));
        const int declared = loaded->scanCount();
        const int start = c.item < 0 ? whole.scanStart[c.scan] : whole.itemStart[c.scan][c.item];
        ASSERT_TRUE(load(whole.image.bytes().left(start + c.offset)));
        EXPECT_TRUE(loaded->truncated);
        EXPECT_EQ(loaded->declaredScans, c.kept.empty() && c.offset < 0 ? 0 : declared);

        std::unique_ptr<tarvoDataSet> cut = std::move(loaded);
        ASSERT_TRUE(load(c.build(c.kept).image.bytes()));
        EXPECT_FALSE(loaded->truncated);
        ASSERT_EQ(cut->scanCount(), loaded->scanCount());
        for (int mode : {exportChoices::OnlyResults, exportChoices::IncludeAll}) {
            exportChoices options;
            options.dataMode = mode;
            const QString a = QString::fromStdString(dir.file("cut.csv"));
            const QString b = QString::fromStdString(dir.file("kept.csv"));
            ASSERT_TRUE(cut->toCSV(a, options));
            ASSERT_TRUE(loaded->toCSV(b, options));
            EXPECT_EQ(readWholeFile(a.toStdString()), readWholeFile(b.toStdString())) << mode;
        }
        EXPECT_TRUE(cut->toMatFile(QString::fromStdString(dir.file("cut.mat"))));
    }
}

// Random byte flips: loading succeeds or throws 10, within the allocation bound. What still
// loads is then used as the program uses it: exported in every form and saved again, and the
// saved file loads. Old files whose row count has no channel split of its own (3 rows) too.
TEST_F(KdfRobustness, RandomByteFlipsLoadOrFailCleanlyAndWhatLoadsIsUsable) {
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    std::vector<QByteArray> files = sampleFiles();
    files.push_back(timeAveragedFile(14, 3, 1, 5, 2, false).image.bytes());
    std::mt19937 random(20261206);
    int exported = 0;
    for (const QByteArray& file : files) {
        std::uniform_int_distribution<int> position(0, file.size() - 1);
        std::uniform_int_distribution<int> flips(1, 4);
        std::uniform_int_distribution<int> byte(0, 255);
        for (int round = 0; round < 400; ++round) {
            QByteArray damaged = file;
            for (int k = round == 0 ? 0 : flips(random); k > 0; --k)
                damaged[position(random)] = char(byte(random));
            if (!load(damaged) || round % 10 != 0)
                continue;
            for (int mode : {exportChoices::OnlyResults, exportChoices::IncludeAveraged,
                             exportChoices::IncludeAll}) {
                exportChoices options;
                options.dataMode = mode;
                loaded->toCSV(QString::fromStdString(dir.file("out.csv")), options);
            }
            loaded->toMatFile(QString::fromStdString(dir.file("out.mat")));
            const QString again = QString::fromStdString(dir.file("again.kdf"));
            ASSERT_TRUE(loaded->save(again));
            try {
                tarvoDataSet reloaded(again);
                EXPECT_EQ(reloaded.dataKind, loaded->dataKind);
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
