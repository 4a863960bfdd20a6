// kdf files: round trips through save and load, byte images of every readable version
// written by the test's own writer, and the files that must be refused.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <cmath>
#include <csignal>
#include <functional>
#include <vector>

#include "data/tarvodataset.h"
#include "kdfwriter.h"
#include "tempdir.h"

namespace {

QVector<double> qvec(const std::vector<double>& v) {
    return QVector<double>(v.begin(), v.end());
}

QString filePath(const TempDir& dir, const char* name) {
    return QString::fromStdString(dir.file(name));
}

// Loads and reports whether the constructor threw the int 10.
bool loadThrows(const QString& path) {
    try {
        tarvoDataSet set(path);
    } catch (int code) {
        EXPECT_EQ(code, 10);
        return true;
    }
    return false;
}

// A data set of each kind, saved, loaded and saved again: the second file is the first byte for
// byte, so the reader restores everything the writer lays down (the reader alone is checked
// against hand-made images below).
struct RoundTripCase {
    const char* name;
    std::function<void(tarvoDataSet&)> fill;
    int kind;
};

void PrintTo(const RoundTripCase& c, std::ostream* os) {
    *os << c.name;
}

const RoundTripCase kRoundTrips[] = {
    {"IvScans",
     [](tarvoDataSet& set) {
         set.useUnfilteredEnergy = true;
         set.settingsMap.insert("ionFluxFactor", QVariantList{2.5e5});
         set.settingsMap.insert("scanDate", "2026-12-01");
         for (int s = 0; s < 2; ++s)
             for (int t = 0; t < 3; ++t) {
                 const auto block = flatten(sweepRows(4, 10, 1, 100.0 + t));
                 set.addTrace(block.data(), 1.5 * (s + 1), 10, 4, 0, 0, t == 1);
             }
     },
     0},
    {"AspectRatioScans",
     [](tarvoDataSet& set) {
         const auto reference = flatten(sweepRows(4, 9, 1, 40.0));
         set.addReferenceTrace(reference.data(), 2.0, 9, 4, 0, 0);
         set.arScans[0]->altVoltageRow = true;
         for (double ratio : {0.5, 1.0})
             for (double v : {10.0, 20.0}) {
                 const auto block = flatten(sweepRows(4, 2, 1, v * ratio));
                 set.addAspectRatioTrace(block.data(), 2.0, ratio, v, v / 100, 2, 4, 0);
             }
     },
     2},
    {"TemperatureRecords",
     [](tarvoDataSet& set) {
         const double r1[] = {20.5, 21.5, 22.5};
         const double r2[] = {24.5, 25.5, 26.5};
         set.addTemperatureRow(r1, 0.0, 3, 0);
         set.addTemperatureRow(r2, 0.0, 3, 0);
         set.addTemperatureRow(r2, 4.0, 3, 0);
     },
     3},
};

class KdfRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(KdfRoundTrip, SavedAgainGivesTheSameBytes) {
    TempDir dir;
    tarvoDataSet set(1, 3, 0x42);
    GetParam().fill(set);
    const QString first = filePath(dir, "first.kdf");
    ASSERT_TRUE(set.save(first));
    tarvoDataSet loaded(first);
    EXPECT_EQ(loaded.dataKind, GetParam().kind);
    EXPECT_EQ(loaded.scanCount(), set.scanCount());
    if (set.currentAverage()) {
        // Averages are not stored: they are rebuilt from the traces.
        EXPECT_EQ(loaded.currentAverage()->currents, set.currentAverage()->currents);
        EXPECT_EQ(loaded.currentAverage()->ionFlux(0), set.currentAverage()->ionFlux(0));
    }
    const QString second = filePath(dir, "second.kdf");
    ASSERT_TRUE(loaded.save(second));
    EXPECT_EQ(readWholeFile(second.toStdString()), readWholeFile(first.toStdString()));
}

INSTANTIATE_TEST_SUITE_P(Kinds, KdfRoundTrip, ::testing::ValuesIn(kRoundTrips),
                         [](const ::testing::TestParamInfo<RoundTripCase>& info) {
                             return std::string(info.param.name);
                         });

// The file of a data set holding one sweep, against its bytes built from the layout. The second
// data set is announced with more voltage channels than its sweeps carry (13 currents and 11
// monitors on a unit whose sweeps hold 13 + 4 rows): it counts the sweeps' rows, as does its file.
struct WriterCase {
    int channels, voltages;
    Rows block;  // as it arrives: a 2-row block voltage first
    bool alternate;
    Rows stored;
    int current, voltage;
};

class KdfWriter : public ::testing::TestWithParam<WriterCase> {};

TEST_P(KdfWriter, ProducesTheDocumentedBytes) {
    TempDir dir;
    const WriterCase& c = GetParam();
    tarvoDataSet set(c.channels, c.voltages, 5);
    const int rows = static_cast<int>(c.block.size());
    set.addTrace(flatten(c.block).data(), 0.25, 2, rows, 0, 0, c.alternate);
    EXPECT_EQ(set.nChannels, c.current);
    EXPECT_EQ(set.nVoltageChannels, c.voltage);
    const QString path = filePath(dir, "tiny.kdf");
    ASSERT_TRUE(set.save(path));
    const QByteArray json =
        "{\n    \"useCollectorDiscriminator\": false,\n    \"useUnfilteredEnergy\": false\n}\n";
    ByteImage expected;
    expected.jsonHeader(json).markerAndMagic().i32(18).i32(0).i32(5).zeros(16);
    expected.i32(1).i32(rows).i32(2).f64(0.25).i32(1).trace(c.stored, c.alternate);
    EXPECT_EQ(QByteArray::fromStdString(readWholeFile(path.toStdString())).toHex(),
              expected.bytes().toHex());
}

INSTANTIATE_TEST_SUITE_P(
    Sweeps, KdfWriter,
    ::testing::Values(WriterCase{1, 1, {{1, 2}, {3, 4}}, true, {{3, 4}, {1, 2}}, 1, 1},
                      WriterCase{13, 11, sweepRows(17, 2, 13, 1.0), false,
                                 sweepRows(17, 2, 13, 1.0), 13, 4}));

// On loading, the channel counts are those of the sweeps, whatever row count the body declares
// (older versions wrote the announced one); a body that agrees with its sweeps reads as always
// (the split of each row count is the data set's, tested there).
struct ChannelCase {
    int declared, rows, current, voltage;
};

class KdfChannels : public ::testing::TestWithParam<ChannelCase> {};

TEST_P(KdfChannels, FollowTheSweeps) {
    TempDir dir;
    const ChannelCase c = GetParam();
    ByteImage image;
    image.jsonHeader("{}").markerAndMagic().i32(18).i32(0).i32(-1).zeros(16);
    image.i32(1).i32(c.declared).i32(2).f64(0.0).i32(1).trace(sweepRows(c.rows, 2, 1, 1.0));
    const QString path = filePath(dir, "rows.kdf");
    ASSERT_TRUE(writeFile(path, image.bytes()));
    tarvoDataSet set(path);
    EXPECT_EQ(set.nChannels, c.current);
    EXPECT_EQ(set.nVoltageChannels, c.voltage);
}

INSTANTIATE_TEST_SUITE_P(Rows, KdfChannels,
                         ::testing::Values(ChannelCase{24, 17, 13, 4}, ChannelCase{24, 16, 13, 3},
                                           ChannelCase{24, 24, 20, 4}, ChannelCase{4, 2, 1, 1}));

TEST(KdfSave, ReplacesAtomicallyAndKeepsTheOldFileOnFailure) {
    TempDir dir;
    const QString path = filePath(dir, "keep.kdf");
    const QByteArray old = "previous contents";
    ASSERT_TRUE(writeFile(path, old));
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
    EXPECT_EQ(QByteArray::fromStdString(readWholeFile(path.toStdString())), old);

    ASSERT_TRUE(set.save(path));
    EXPECT_EQ(QDir(QString::fromStdString(dir.path())).entryList(QDir::Files),
              QStringList{"keep.kdf"});
    tarvoDataSet loaded(path);
    EXPECT_EQ(loaded.sweepScans.at(0)->traces->size(), 20);
    EXPECT_FALSE(set.save(filePath(dir, "missing/dir/x.kdf")));
}

struct ArVersionCase {
    int version;
    bool altByte;
};

class KdfVersion17And18 : public ::testing::TestWithParam<ArVersionCase> {};

TEST_P(KdfVersion17And18, AspectRatioBody) {
    TempDir dir;
    const int version = GetParam().version;
    const Rows reference = sweepRows(4, 8, 1, 30.0);
    const Rows point = sweepRows(4, 2, 1, 7.0);
    ByteImage image;
    image.jsonHeader("{\"useCollectorDiscriminator\": true}");
    image.markerAndMagic().i32(version).i32(2).i32(9).zeros(16);
    image.i32(1).i32(4).i32(0);
    image.f64(3.0).trace(reference).i32(1);
    if (version >= 18)
        image.u8(GetParam().altByte ? 1 : 0);
    image.f64(0.5).i32(1).f64(10.0).f64(0.25).i32(1).trace(point);
    const QString path = filePath(dir, "ar.kdf");
    ASSERT_TRUE(writeFile(path, image.bytes()));
    tarvoDataSet set(path);
    EXPECT_EQ(set.sensorCode, 9);
    EXPECT_TRUE(set.useCollectorDiscriminator);
    ASSERT_EQ(set.arScans.size(), 1);
    const kalderAspectRatioScan& scan = *set.arScans[0];
    EXPECT_EQ(scan.key, 3.0);
    EXPECT_EQ(scan.altVoltageRow, GetParam().altByte);
    EXPECT_EQ(scan.reference->currents[0], qvec(reference[0]));
    EXPECT_FALSE(scan.reference->useCollectorDiscriminator) << "traces read without the flags";
    ASSERT_EQ(scan.groups.size(), 1);
    EXPECT_EQ(scan.groups[0]->aspectRatio, 0.5);
    const arPoint& p = *scan.groups[0]->points.at(0);
    EXPECT_EQ(p.voltage, 10.0);
    EXPECT_EQ(p.secondValue, 0.25);
    EXPECT_EQ(p.traces.at(0)->currents[3], qvec(point[3]));
}

INSTANTIATE_TEST_SUITE_P(Versions, KdfVersion17And18,
                         ::testing::Values(ArVersionCase{17, false}, ArVersionCase{18, true},
                                           ArVersionCase{18, false}));

// Version 16: a settings map in Qt's stream form before the marker, no sensor code.
QByteArray version16File(const QVariantMap& map, const std::vector<Rows>& traces) {
    QByteArray head;
    QDataStream out(&head, QIODevice::WriteOnly);
    out.setVersion(15);
    out << map;
    ByteImage image;
    image.raw(head).markerAndMagic().i32(16).i32(0).zeros(16);
    image.i32(1).i32(4).i32(10).f64(7.0).i32(int(traces.size()));
    for (const Rows& t : traces) image.trace(t);
    return image.bytes();
}

TEST(KdfOldVersions, Version16RestoresMapAndUsesItsFluxFactors) {
    TempDir dir;
    const std::vector<Rows> traces = {sweepRows(4, 10, 1, 50.0), sweepRows(4, 10, 1, 52.0)};
    QVariantMap map{
        {"ionFluxFactor", QVariantList{2.0}}, {"name", "probe"}, {"useUnfilteredEnergy", true}};
    const QString withFactor = filePath(dir, "a.kdf");
    const QString without = filePath(dir, "b.kdf");
    ASSERT_TRUE(writeFile(withFactor, version16File(map, traces)));
    ASSERT_TRUE(writeFile(without, version16File(QVariantMap{{"name", "probe"}}, traces)));
    tarvoDataSet a(withFactor);
    tarvoDataSet b(without);
    EXPECT_EQ(a.settingsMap, map);
    EXPECT_FALSE(a.useUnfilteredEnergy) << "version 16 does not take the energy flags";
    EXPECT_EQ(a.sensorCode, -1);
    ASSERT_EQ(a.sweepScans.size(), 1);
    EXPECT_EQ(a.sweepScans[0]->time, 7.0);
    EXPECT_EQ(a.sweepScans[0]->traces->size(), 2);
    ASSERT_NE(b.currentAverage()->ionFlux(0), 0.0);
    EXPECT_DOUBLE_EQ(a.currentAverage()->ionFlux(0) / b.currentAverage()->ionFlux(0),
                     2.0 / 860000.0);
}

// Settings maps of version 16 files that Qt's own reader must not see: a list announcing two
// billion entries (the reader would reserve them) and a type a settings map never holds.
TEST(KdfOldVersions, Version16HostileMapsAreSkipped) {
    TempDir dir;
    const auto mapWithValue = [](const ByteImage& value) {
        return ByteImage().i32(1).i32(2).i16('k').raw(value.bytes());
    };
    const ByteImage maps[] = {
        mapWithValue(ByteImage().i32(QMetaType::QVariantList).u8(0).i32(0x7FFFFFFF)),
        mapWithValue(ByteImage().i32(QMetaType::QStringList).u8(0).i32(0x40000000)),
        mapWithValue(ByteImage().i32(QMetaType::QDateTime).u8(0).zeros(13)),
        ByteImage().i32(0x7FFFFFFF),
    };
    for (const ByteImage& map : maps) {
        ByteImage image;
        image.raw(map.bytes()).markerAndMagic().i32(16).i32(0).zeros(16);
        image.i32(1).i32(4).i32(10).f64(7.0).i32(1).trace(sweepRows(4, 10, 1, 50.0));
        const QString path = filePath(dir, "v16.kdf");
        ASSERT_TRUE(writeFile(path, image.bytes()));
        tarvoDataSet set(path);
        EXPECT_TRUE(set.settingsMap.isEmpty());
        ASSERT_EQ(set.sweepScans.size(), 1);
        EXPECT_EQ(set.sweepScans[0]->traces->size(), 1);
    }
}

struct TimeAveragedCase {
    int version;
    int rows;
    int currents;
    int voltages;
    bool markerFirst;
};

class KdfTimeAveraged : public ::testing::TestWithParam<TimeAveragedCase> {};

TEST_P(KdfTimeAveraged, EverySweepInOneScan) {
    TempDir dir;
    const TimeAveragedCase& c = GetParam();
    const int points = 12;
    ByteImage image;
    if (c.markerFirst) {
        image.raw("older header text").markerAndMagic();
    } else {
        image.magic();
    }
    image.i32(c.version).i32(0).f64(1.25).i32(0).i32(points).i32(0).i32(c.rows).i32(3);
    for (int s = 0; s < 3; ++s)
        image.raw(
            ByteImage().trace(sweepRows(c.rows, points, c.currents, 10.0 * s)).bytes().mid(8));
    const QString path = filePath(dir, "old.kdf");
    ASSERT_TRUE(writeFile(path, image.bytes()));
    tarvoDataSet set(path);
    EXPECT_EQ(set.fileVersion, c.version);
    EXPECT_EQ(set.nChannels, c.currents);
    EXPECT_EQ(set.nVoltageChannels, c.voltages);
    EXPECT_EQ(set.nPoints, points);
    ASSERT_EQ(set.sweepScans.size(), 1);
    EXPECT_EQ(set.sweepScans[0]->time, 0.0);
    EXPECT_EQ(set.sweepScans[0]->traces->size(), 3);
    const ivTrace& average = *set.sweepScans[0]->average;
    // Mean of levels 0, 10, 20: the sweep of level 10.
    const Rows middle = sweepRows(c.rows, points, c.currents, 10.0);
    for (int j = 0; j < points; ++j) EXPECT_DOUBLE_EQ(average.currents[0][j], middle[0][j]);
    for (int ch = 0; ch < c.currents; ++ch) {
        EXPECT_NE(average.ionFlux(ch), 0.0) << "every current row has a flux factor";
        EXPECT_TRUE(std::isfinite(average.ionFlux(ch)));
    }
}

INSTANTIATE_TEST_SUITE_P(Versions, KdfTimeAveraged,
                         ::testing::Values(TimeAveragedCase{14, 20, 17, 3, false},
                                           TimeAveragedCase{15, 16, 13, 3, true},
                                           TimeAveragedCase{10, 4, 1, 3, false},
                                           TimeAveragedCase{11, 5, 1, 4, true}));

class KdfTimeResolved : public ::testing::TestWithParam<int> {};

TEST_P(KdfTimeResolved, FramesBecomeScansByTimeStamp) {
    TempDir dir;
    const int points = 8, frames = 3, sweeps = 2;
    ByteImage image;
    image.raw("x").markerAndMagic().i32(GetParam());
    image.i32(0).f64(0.5).i32(100).i32(points).i32(frames).i32(sweeps);
    for (int s = 0; s < sweeps; ++s) {
        for (int f = 0; f < frames; ++f) {
            for (int j = 0; j < points; ++j) image.f64(2.0 * j);            // voltage
            for (int j = 0; j < points; ++j) image.f64(100.0 * f + s - j);  // current
        }
    }
    const QString path = filePath(dir, "tr.kdf");
    ASSERT_TRUE(writeFile(path, image.bytes()));
    tarvoDataSet set(path);
    EXPECT_EQ(set.timeUnit(), "Usec");
    EXPECT_EQ(set.nChannels, 1);
    EXPECT_EQ(set.nVoltageChannels, 1);
    ASSERT_EQ(set.sweepScans.size(), frames);
    for (int f = 0; f < frames; ++f) {
        const tarvoScan& scan = *set.sweepScans[f];
        EXPECT_EQ(scan.time, 100.0 + 0.5 * f);
        EXPECT_EQ(scan.traces->size(), sweeps);
        EXPECT_DOUBLE_EQ(scan.average->currents[0][2], 100.0 * f + 0.5 - 2);
        EXPECT_DOUBLE_EQ(scan.average->energy[3], 6.0);
    }
}

INSTANTIATE_TEST_SUITE_P(Versions, KdfTimeResolved, ::testing::Values(12, 13));

// A version 18 temperature body; `kind` 1 or 3.
ByteImage temperatureFile(const QByteArray& header, int kind) {
    ByteImage image;
    image.raw(header).markerAndMagic().i32(18).i32(kind).i32(0).zeros(16);
    image.i32(1).i32(0).f64(2.0).i32(2).i32(2).f64(10).f64(20).f64(30).f64(40);
    return image;
}

TEST(KdfDispatch, TemperatureKindsAndHeaders) {
    TempDir dir;
    struct Case {
        const char* name;
        QByteArray header;
        int kind;
        bool mapEmpty;
    };
    QByteArray longJson = "{\"a\": 1}";
    longJson.append(20000 - longJson.size(), ' ');
    const Case cases[] = {
        {"kind1", ByteImage().jsonHeader("{\"a\": 1}").bytes(), 1, false},
        {"kind3", ByteImage().jsonHeader("{\"a\": 1}").bytes(), 3, false},
        {"json0", ByteImage().i32(0).u8(0x0A).bytes(), 3, true},
        {"json20000", ByteImage().jsonHeader(longJson).bytes(), 3, true},
        {"badJson", ByteImage().jsonHeader("{\"a\": ").bytes(), 3, true},
        {"magicFirst", QByteArray(), 3, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ByteImage image = temperatureFile(c.header, c.kind);
        QByteArray bytes = image.bytes();
        if (c.header.isEmpty())
            bytes = bytes.mid(10);  // no marker: starts with the magic
        const QString path = filePath(dir, "t.kdf");
        ASSERT_TRUE(writeFile(path, bytes));
        tarvoDataSet set(path);
        EXPECT_TRUE(set.isTemperature());
        EXPECT_EQ(set.settingsMap.isEmpty(), c.mapEmpty);
        ASSERT_EQ(set.temperatureRecords.size(), 1);
        EXPECT_EQ(set.temperatureRecords[0]->average, QVector<double>({20, 30}));
    }
}

TEST(KdfDispatch, UnreadableFilesGiveEmptyDataSets) {
    TempDir dir;
    const QByteArray valid = temperatureFile(ByteImage().jsonHeader("{}").bytes(), 3).bytes();
    struct Case {
        const char* name;
        const char* file;
        QByteArray bytes;
    };
    QByteArray oldVersion = valid;
    oldVersion[oldVersion.indexOf(QByteArray("\xAC\xDC\xB0\x70", 4)) + 7] = 9;
    const Case cases[] = {
        {"datExtension", "old.DAT", valid},
        {"noMarker", "a.kdf", QByteArray("no marker here at all")},
        {"empty", "b.kdf", QByteArray()},
        {"version9", "c.kdf", oldVersion},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = filePath(dir, c.file);
        ASSERT_TRUE(writeFile(path, c.bytes));
        tarvoDataSet set(path);
        EXPECT_FALSE(set.hasData);
        EXPECT_EQ(set.fileVersion, 0) << "nothing was read";
    }
    EXPECT_FALSE(tarvoDataSet(filePath(dir, "does-not-exist.kdf")).hasData);
}

// Bodies that announce more than they hold, or impossible shapes: the reader refuses them
// at once instead of looping or allocating on the stated counts.
TEST(KdfDispatch, InvalidContentsThrow) {
    TempDir dir;
    const auto v18 = [](int kind) {
        ByteImage image;
        image.jsonHeader("{}").markerAndMagic().i32(18).i32(kind).i32(0).zeros(16);
        return image;
    };
    const auto oldHeader = [](int version) {
        ByteImage image;
        image.magic().i32(version);
        return image;
    };
    const Rows one = sweepRows(4, 4, 1, 1.0);
    struct Case {
        const char* name;
        ByteImage image;
    };
    const Case cases[] = {
        {"kind4", v18(4).i32(0).i32(4).i32(0)},
        {"kindNegative", v18(-1).i32(0).i32(4).i32(0)},
        {"scanCountNegative", v18(0).i32(-1).i32(4).i32(4)},
        {"scanCountHuge", v18(0).i32(0x7FFFFFFF).i32(4).i32(4).f64(0).i32(0)},
        {"totalRows25", v18(0).i32(0).i32(25).i32(4)},
        {"traceCountHuge", v18(0).i32(1).i32(4).i32(4).f64(0).i32(100000000).trace(one)},
        {"traceRows25", v18(0).i32(1).i32(4).i32(4).f64(0).i32(1).i32(25).i32(1).zeros(200)},
        {"tracePointsHuge", v18(0).i32(1).i32(4).i32(4).f64(0).i32(1).i32(4).i32(0x10000000)},
        {"tracePointsNegative", v18(0).i32(1).i32(4).i32(4).f64(0).i32(1).i32(4).i32(-5)},
        {"groupCountHuge", v18(2).i32(1).i32(4).i32(0).f64(1).trace(one).i32(50000000).u8(0)},
        {"pointCountHuge",
         v18(2).i32(1).i32(4).i32(0).f64(1).trace(one).i32(1).u8(0).f64(1).i32(0x7FFFFFF0)},
        {"recordCountHuge", v18(3).i32(0x40000000).i32(0)},
        {"rowCountHuge", v18(3).i32(1).i32(0).f64(0).i32(24).i32(0x7FFFFFFF)},
        {"emptyRowsHuge", v18(3).i32(1).i32(0).f64(0).i32(0).i32(0x7FFFFFFF)},
        {"columnsNegative", v18(3).i32(1).i32(0).f64(0).i32(-2).i32(1)},
        {"v14SweepsHuge", oldHeader(14).i32(0).f64(0).i32(0).i32(100).i32(0).i32(20).i32(1000000)},
        {"v14NoRowsManyPoints",
         oldHeader(14).i32(0).f64(0).i32(0).i32(0x50000000).i32(0).i32(0).i32(4).zeros(32)},
        {"v14Rows30", oldHeader(14).i32(0).f64(0).i32(0).i32(4).i32(0).i32(30).i32(0)},
        {"v14EmptySweeps",
         oldHeader(14).i32(0).f64(0).i32(0).i32(0).i32(0).i32(20).i32(0x7FFFFFFF)},
        {"v12FramesHuge", oldHeader(12).i32(0).f64(1).i32(0).i32(0).i32(0x7FFFFFFF).i32(1)},
        {"v12PointsHuge", oldHeader(13).i32(0).f64(1).i32(0).i32(0x7FFFFFFF).i32(2).i32(1)},
        {"v16KindHigh", ByteImage().i32(0).markerAndMagic().i32(16).i32(7).zeros(16)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = filePath(dir, "bad.kdf");
        ASSERT_TRUE(writeFile(path, c.image.bytes()));
        EXPECT_TRUE(loadThrows(path));
    }
}

}  // namespace
