// kdf files: round trips through save and load, byte images of every readable version
// written by the test's own writer, the files that must be refused, and files cut short
// (random damage is left to the kdf reader's fuzzer in fuzz/).
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QDir>
#include <csignal>
#include <vector>

#include "data/tarvodataset.h"
#include "kdfwriter.h"
#include "tempdir.h"

namespace {

QVector<double> qvec(const std::vector<double>& v) {
    return QVector<double>(v.begin(), v.end());
}

// Writes the bytes to a file of the directory and returns its path.
QString put(const TempDir& dir, const QByteArray& bytes, const char* name = "t.kdf") {
    const QString path = QString::fromStdString(dir.file(name));
    EXPECT_TRUE(writeFile(path, bytes));
    return path;
}

// A version 18 image up to the body: JSON header, marker, version, kind, sensor code.
ByteImage v18(int kind, const QByteArray& json = "{}", int sensor = 0) {
    ByteImage image;
    image.jsonHeader(json).markerAndMagic().i32(18).i32(kind).i32(sensor).zeros(16);
    return image;
}

const QByteArray kJson = "{\"ionFluxFactor\": [2, 3], \"useUnfilteredEnergy\": true}";

// A version 18 file of `kind`: `head` lays down the header of scan s up to its item count,
// `item` item i of scan s.
template <typename Head, typename Item>
Layout version18(int kind, const std::vector<int>& counts, Head head, Item item) {
    Layout l{v18(kind, kJson, 1).i32(int(counts.size())), {}, {}};
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

// A file of each kind, loaded, saved, loaded and saved again: the second file is the first byte
// for byte, so the reader restores everything the writer lays down (the reader alone is checked
// against hand-made images below).
TEST(KdfRoundTrip, SavedAgainGivesTheSameBytes) {
    TempDir dir;
    for (const QByteArray& image : {ivScans({2, 3}).image.bytes(), arScans({2, 1}).image.bytes(),
                                    temperatures({3, 1}).image.bytes()}) {
        tarvoDataSet set(put(dir, image));
        const QString first = QString::fromStdString(dir.file("first.kdf"));
        ASSERT_TRUE(set.save(first));
        tarvoDataSet loaded(first);
        EXPECT_EQ(loaded.dataKind, set.dataKind);
        EXPECT_EQ(loaded.scanCount(), 2);
        const QString second = QString::fromStdString(dir.file("second.kdf"));
        ASSERT_TRUE(loaded.save(second));
        EXPECT_EQ(readWholeFile(second.toStdString()), readWholeFile(first.toStdString()));
    }
}

// The file of a data set holding one 2-row sweep (voltage row first, alternate rows), against
// its bytes built from the layout: the current row is stored first.
TEST(KdfWriter, ProducesTheDocumentedBytes) {
    TempDir dir;
    tarvoDataSet set(1, 1, 5);
    set.addTrace(flatten({{1, 2}, {3, 4}}).data(), 0.25, 2, 2, 0, 0, true);
    const QString path = QString::fromStdString(dir.file("tiny.kdf"));
    ASSERT_TRUE(set.save(path));
    ByteImage expected = v18(0,
                             "{\n    \"useCollectorDiscriminator\": false,\n"
                             "    \"useUnfilteredEnergy\": false\n}\n",
                             5);
    expected.i32(1).i32(2).i32(2).f64(0.25).i32(1).trace({{3, 4}, {1, 2}}, true);
    EXPECT_EQ(QByteArray::fromStdString(readWholeFile(path.toStdString())).toHex(),
              expected.bytes().toHex());
}

TEST(KdfSave, ReplacesAtomicallyAndKeepsTheOldFileOnFailure) {
    TempDir dir;
    const QString path = put(dir, "previous contents", "keep.kdf");
    tarvoDataSet set(1, 3, 0);
    const auto block = flatten(sweepRows(4, 200, 1, 5.0));
    for (int i = 0; i < 20; ++i) set.addTrace(block.data(), 0.0, 200, 4, 0, 0, false);

    // A file size limit makes the write fail part-way, as a full disk would.
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit limited = saved;
    limited.rlim_cur = 4096;
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const bool saved1 = set.save(path);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_FALSE(saved1);
    EXPECT_EQ(readWholeFile(path.toStdString()), "previous contents");

    ASSERT_TRUE(set.save(path));
    EXPECT_EQ(QDir(QString::fromStdString(dir.path())).entryList(QDir::Files),
              QStringList{"keep.kdf"});
    EXPECT_EQ(tarvoDataSet(path).sweepScans.at(0)->traces->size(), 20);
}

// Aspect-ratio bodies: version 18 added the alternate-row byte after the group count.
TEST(KdfOldVersions, AspectRatioBodyOfVersions17And18) {
    TempDir dir;
    const Rows reference = sweepRows(4, 8, 1, 30.0), point = sweepRows(4, 2, 1, 7.0);
    for (const auto& [version, altByte] : {std::pair{17, false}, {18, true}}) {
        SCOPED_TRACE(version);
        ByteImage image;
        image.jsonHeader("{\"useCollectorDiscriminator\": true}");
        image.markerAndMagic().i32(version).i32(2).i32(9).zeros(16);
        image.i32(1).i32(4).i32(0).f64(3.0).trace(reference).i32(1);
        if (version >= 18)
            image.u8(altByte ? 1 : 0);
        image.f64(0.5).i32(1).f64(10.0).f64(0.25).i32(1).trace(point);
        tarvoDataSet set(put(dir, image.bytes()));
        EXPECT_TRUE(set.useCollectorDiscriminator);
        ASSERT_EQ(set.arScans.size(), 1);
        const kalderAspectRatioScan& scan = *set.arScans[0];
        EXPECT_EQ(scan.altVoltageRow, altByte);
        EXPECT_EQ(scan.reference->currents[0], qvec(reference[0]));
        ASSERT_EQ(scan.groups.size(), 1);
        EXPECT_EQ(scan.groups[0]->aspectRatio, 0.5);
        const arPoint& p = *scan.groups[0]->points.at(0);
        EXPECT_EQ(p.voltage, 10.0);
        EXPECT_EQ(p.traces.at(0)->currents[3], qvec(point[3]));
    }
}

// Version 16: a settings map in Qt's stream form before the marker, no sensor code. Maps that
// Qt's own reader must not see (a list announcing two billion entries, which it would reserve,
// a type a settings map never holds, a huge entry count) are skipped, the traces still read.
TEST(KdfOldVersions, Version16RestoresMapAndUsesItsFluxFactors) {
    TempDir dir;
    const std::vector<Rows> traces = {sweepRows(4, 10, 1, 50.0), sweepRows(4, 10, 1, 52.0)};
    QVariantMap map{
        {"ionFluxFactor", QVariantList{2.0}}, {"name", "probe"}, {"useUnfilteredEnergy", true}};
    tarvoDataSet a(put(dir, version16File(streamed(map), traces), "a.kdf"));
    tarvoDataSet b(put(dir, version16File(streamed({{"name", "probe"}}), traces), "b.kdf"));
    EXPECT_EQ(a.settingsMap, map);
    EXPECT_FALSE(a.useUnfilteredEnergy) << "version 16 does not take the energy flags";
    ASSERT_EQ(a.sweepScans.size(), 1);
    EXPECT_EQ(a.sweepScans[0]->traces->size(), 2);
    ASSERT_NE(b.currentAverage()->ionFlux(0), 0.0);
    EXPECT_DOUBLE_EQ(a.currentAverage()->ionFlux(0) / b.currentAverage()->ionFlux(0),
                     2.0 / 860000.0);

    const auto mapWithValue = [](const ByteImage& value) {
        return ByteImage().i32(1).i32(2).i16('k').raw(value.bytes()).bytes();
    };
    const QByteArray hostile[] = {
        mapWithValue(ByteImage().i32(QMetaType::QVariantList).u8(0).i32(0x7FFFFFFF)),
        mapWithValue(ByteImage().i32(QMetaType::QDateTime).u8(0).zeros(13)),
        ByteImage().i32(0x7FFFFFFF).bytes(),
    };
    for (const QByteArray& head : hostile) {
        tarvoDataSet set(put(dir, version16File(head, {traces[0]})));
        EXPECT_TRUE(set.settingsMap.isEmpty());
        ASSERT_EQ(set.sweepScans.size(), 1);
        EXPECT_EQ(set.sweepScans[0]->traces->size(), 1);
    }
}

// Versions 10, 11, 14 and 15 hold one time-averaged scan; the row count alone splits channels.
TEST(KdfOldVersions, TimeAveragedVersionsHoldEverySweepInOneScan) {
    TempDir dir;
    const int cases[][5] = {
        {14, 20, 17, 3, 0}, {15, 16, 13, 3, 1}, {10, 4, 1, 3, 0}, {11, 5, 1, 4, 1}};
    const int points = 12;
    for (const auto& [version, rows, currents, voltages, marker] : cases) {
        SCOPED_TRACE(version);
        tarvoDataSet set(
            put(dir, timeAveragedFile(version, rows, currents, points, 3, marker).image.bytes()));
        EXPECT_EQ(set.fileVersion, version);
        EXPECT_EQ(set.nChannels, currents);
        EXPECT_EQ(set.nVoltageChannels, voltages);
        ASSERT_EQ(set.sweepScans.size(), 1);
        const ivTrace& average = *set.sweepScans[0]->average;
        // Mean of levels 0, 10, 20: the sweep of level 10.
        const std::vector<double> middle = sweepRows(rows, points, currents, 10.0)[0];
        for (int j = 0; j < points; ++j) EXPECT_DOUBLE_EQ(average.currents[0][j], middle[j]);
    }
}

// Versions 12 and 13: the frames of the sweeps become scans by their time stamps.
TEST(KdfOldVersions, TimeResolvedFramesBecomeScans) {
    TempDir dir;
    for (int version : {12, 13}) {
        SCOPED_TRACE(version);
        tarvoDataSet set(put(dir, timeResolvedFile(version, 8, 3, 2).image.bytes()));
        EXPECT_EQ(set.timeUnit(), "Usec");
        ASSERT_EQ(set.sweepScans.size(), 3);
        for (int f = 0; f < 3; ++f) {
            const tarvoScan& scan = *set.sweepScans[f];
            EXPECT_EQ(scan.time, 100.0 + 0.5 * f);
            EXPECT_DOUBLE_EQ(scan.average->currents[0][2], 100.0 * f + 0.5 - 2);
            EXPECT_DOUBLE_EQ(scan.average->energy[3], 6.0);
        }
    }
}

// Temperature kinds 1 and 3 under each kind of header; headers that are not a JSON object of
// sane length leave the settings empty.
TEST(KdfDispatch, TemperatureKindsAndHeaders) {
    TempDir dir;
    QByteArray longJson = "{\"a\": 1}";
    longJson.append(20000 - longJson.size(), ' ');
    const std::pair<ByteImage, int> cases[] = {
        {ByteImage().jsonHeader("{\"a\": 1}").markerAndMagic(), 1},
        {ByteImage().jsonHeader(longJson).markerAndMagic(), 3},
        {ByteImage().jsonHeader("{\"a\": ").markerAndMagic(), 3},
        {ByteImage().magic(), 3},  // no marker: starts with the magic
    };
    for (auto [image, kind] : cases) {
        SCOPED_TRACE(image.size());
        image.i32(18).i32(kind).i32(0).zeros(16);
        image.i32(1).i32(0).f64(2.0).i32(2).i32(2).f64(10).f64(20).f64(30).f64(40);
        tarvoDataSet set(put(dir, image.bytes()));
        EXPECT_TRUE(set.isTemperature());
        EXPECT_EQ(set.settingsMap.isEmpty(), kind == 3) << "only the first header is sane";
        ASSERT_EQ(set.temperatureRecords.size(), 1);
        EXPECT_EQ(set.temperatureRecords[0]->average, QVector<double>({20, 30}));
    }
}

// Bodies that announce more than they hold, or impossible shapes: the reader refuses them
// at once (throwing 10) instead of looping or allocating on the stated counts.
TEST(KdfDispatch, InvalidContentsThrow) {
    TempDir dir;
    const auto old = [](int version) { return ByteImage().magic().i32(version).i32(0); };
    const Rows one = sweepRows(4, 4, 1, 1.0);
    const ByteImage cases[] = {
        v18(4).i32(0).i32(4).i32(0),
        v18(0).i32(0).i32(25).i32(4),  // 25 rows
        v18(0).i32(1).i32(4).i32(4).f64(0).i32(100000000).trace(one),
        v18(2).i32(1).i32(4).i32(0).f64(1).trace(one).i32(50000000).u8(0),
        v18(3).i32(1).i32(0).f64(0).i32(24).i32(0x7FFFFFFF),  // rows huge
        old(14).f64(0).i32(0).i32(100).i32(0).i32(20).i32(1000000),
        old(12).f64(1).i32(0).i32(0).i32(0x7FFFFFFF).i32(1),
        ByteImage().i32(0).markerAndMagic().i32(16).i32(7).zeros(16),
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        const QString path = put(dir, cases[i].bytes());
        try {
            tarvoDataSet set(path);
            ADD_FAILURE() << "loaded";
        } catch (int code) {
            EXPECT_EQ(code, 10);
        }
    }
}

// A file cut anywhere loads: empty when the cut comes before the data marker and the version,
// otherwise marked as truncated, never passed off as whole.
TEST(KdfDamage, EveryPrefixLoadsAndACutIsNoticed) {
    TempDir dir;
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    for (auto build : {ivScans, arScans, temperatures, version14, version12}) {
        const QByteArray file = build({2, 1}).image.bytes();
        for (int length = 0; length <= file.size(); ++length) {
            SCOPED_TRACE(length);
            tarvoDataSet set(put(dir, file.left(length), length % 2 ? "a.kdf" : "b.kdf"));
            EXPECT_EQ(length == file.size(), set.fileVersion != 0 && !set.truncated);
            EXPECT_LE(set.scanCount(), std::max(set.declaredScans, 0));
        }
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
    {"ivInScanHeader", ivScans, {2, 1, 2}, 1, -1, 10, {2}},
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
TEST(KdfDamage, CutFilesLoadTheCompleteScansAndExportThem) {
    TempDir dir;
    for (const CutCase& c : CUT_CASES) {
        SCOPED_TRACE(c.name);
        const Layout whole = c.build(c.whole);
        const int declared = tarvoDataSet(put(dir, whole.image.bytes(), "whole.kdf")).scanCount();
        const int start = c.item < 0 ? whole.scanStart[c.scan] : whole.itemStart[c.scan][c.item];
        tarvoDataSet cut(put(dir, whole.image.bytes().left(start + c.offset), "cut.kdf"));
        EXPECT_TRUE(cut.truncated);
        EXPECT_EQ(cut.declaredScans, c.kept.empty() && c.offset < 0 ? 0 : declared);
        tarvoDataSet kept(put(dir, c.build(c.kept).image.bytes(), "kept.kdf"));
        EXPECT_FALSE(kept.truncated);
        ASSERT_EQ(cut.scanCount(), kept.scanCount());
        exportChoices options;
        options.dataMode = exportChoices::IncludeAll;
        const QString a = QString::fromStdString(dir.file("cut.csv"));
        const QString b = QString::fromStdString(dir.file("kept.csv"));
        ASSERT_TRUE(cut.toCSV(a, options));
        ASSERT_TRUE(kept.toCSV(b, options));
        EXPECT_EQ(readWholeFile(a.toStdString()), readWholeFile(b.toStdString()));
        EXPECT_TRUE(cut.toMatFile(QString::fromStdString(dir.file("cut.mat"))));
    }
}

}  // namespace
