// Recovery files: a journal holds, rebuilt, the file the data set writes itself and keeps what
// came before any cut; the finder lists exactly the recovery files of unfinished runs, whatever
// else lies beside them.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include "data/recovery.h"
#include "data/recoveryjournal.h"
#include "data/tarvodataset.h"
#include "kdfwriter.h"
#include "tempdir.h"

namespace {

QVariantMap unfinished(const QString& type, const QString& started) {
    return {{recovery::UNFINISHED_KEY, true},
            {recovery::TYPE_KEY, type},
            {recovery::STARTED_KEY, started},
            {recovery::PROCESS_KEY, QCoreApplication::applicationPid()}};
}

QByteArray readBytes(const QString& path) {
    return QByteArray::fromStdString(readWholeFile(path.toStdString()));
}

class RecoveryTest : public ::testing::Test {
protected:
    TempDir dir;
    QString at(const char* name) const { return QString::fromStdString(dir.file(name)); }
};

// Additions to a data set, each of exactly one trace, reference or row; some add the scan,
// group or point it lands in first, some land in an older one.
using addition = std::function<void(tarvoDataSet&)>;
struct journalCase {
    const char* name;
    std::vector<addition> steps;
};

// Two rows of three points.
std::vector<double> block(double level) {
    return {level, level - 1, level - 2, 0.5, 1.5, 2.5};
}

addition sweepAt(double level, double time) {
    return [=](tarvoDataSet& s) { s.addTrace(block(level).data(), time, 3, 2, 0, 0, false); };
}

addition arTrace(double level, double key, double ratio, double voltage) {
    return [=](tarvoDataSet& s) {
        s.addAspectRatioTrace(block(level).data(), key, ratio, voltage, 0.25, 3, 2, 0);
    };
}

addition reference(double level, double key) {
    return [=](tarvoDataSet& s) { s.addReferenceTrace(block(level).data(), key, 3, 2, 0, 0); };
}

addition row(double time, std::vector<double> values) {
    return [=](tarvoDataSet& s) {
        s.addTemperatureRow(values.data(), time, static_cast<int>(values.size()), 0);
    };
}

// The traces, references and rows a data set holds.
int items(const tarvoDataSet& set) {
    int n = 0;
    for (const tarvoScan* scan : set.sweepScans) n += scan->traces->size();
    for (const kalderAspectRatioScan* scan : set.arScans) {
        n += scan->reference ? 1 : 0;
        for (const arGroup* group : scan->groups)
            for (const arPoint* point : group->points) n += point->traces.size();
    }
    for (const temperatureRecord* record : set.temperatureRecords) n += record->rows.size();
    return n;
}

class JournalTest : public RecoveryTest, public ::testing::WithParamInterface<journalCase> {};

TEST_P(JournalTest, AppendsOnlyAndKeepsWhatCameBeforeACut) {
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    tarvoDataSet set(1, 1, 7);
    const QString path = at("kalder_recovery_j_1.kdj");
    const QVariantMap flags = unfinished("IV_TimeAveraged", "2026-04-01T10:00:00");
    recoveryJournal journal(path);
    // The rebuilt journal is, byte for byte, the file the data set writes itself.
    const auto rebuildsTheSet = [&] {
        EXPECT_TRUE(set.saveCopy(at("own.kdf"), flags));
        QBuffer rebuilt;
        rebuilt.open(QIODevice::WriteOnly);
        return recoveryJournal::rebuild(path, rebuilt) &&
               rebuilt.data() == readBytes(at("own.kdf"));
    };
    QByteArray written;
    std::vector<int> sizes;  // of the journal after each step
    for (size_t i = 0; i < GetParam().steps.size(); ++i) {
        if (i == 2)
            set.settingsMap.insert("probe", 3);  // a setting changed during the run
        GetParam().steps[i](set);
        ASSERT_TRUE(journal.append(set, flags));
        const QByteArray now = readBytes(path);
        EXPECT_TRUE(now.startsWith(written)) << "step " << i << " rewrote the journal";
        written = now;
        sizes.push_back(now.size());
        EXPECT_TRUE(rebuildsTheSet()) << "step " << i;
    }
    // Cut at every third byte (every offset in a record's head and its neighbours comes up in
    // some record) and on both sides of every append's end, every other cut followed by garbage
    // as a power loss may leave it (the rest of the file with every bit flipped): what the
    // appends wholly before the cut wrote comes back, nothing more.
    std::vector<int> cuts;
    for (int cut = 0; cut <= written.size(); cut += 3) cuts.push_back(cut);
    for (int size : sizes) cuts.insert(cuts.end(), {size - 1, size});
    for (int cut : cuts) {
        QByteArray bytes = written;
        for (int i = cut; i < bytes.size(); ++i) bytes[i] = static_cast<char>(~bytes[i]);
        EXPECT_TRUE(writeFile(at("cut.kdj"), cut % 2 ? bytes : written.left(cut)));
        std::unique_ptr<tarvoDataSet> recovered(recovery::openUnfinishedRun(at("cut.kdj")));
        const int kept = static_cast<int>(
            std::count_if(sizes.begin(), sizes.end(), [&](int size) { return size <= cut; }));
        ASSERT_EQ(recovered ? items(*recovered) : 0, kept) << "cut at " << cut;
    }
    // A journal removed behind the writer's back is written anew, whole.
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(journal.append(set, flags));
    EXPECT_TRUE(rebuildsTheSet());
    qInstallMessageHandler(nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, JournalTest,
    ::testing::Values(
        journalCase{"Sweeps", {sweepAt(1, 0.0), sweepAt(2, 1.0), sweepAt(3, 0.0), sweepAt(4, 1.0)}},
        journalCase{"AspectRatio",
                    {arTrace(1, 1.0, 2.0, 10.0), reference(2, 1.0), arTrace(3, 1.0, 2.0, 11.0),
                     arTrace(4, 1.0, 3.0, 10.0), reference(5, 2.0), arTrace(6, 1.0, 2.0, 10.0)}},
        journalCase{"Temperature",
                    {row(0.0, {1, 2, 3}), row(1.0, {4, 5, 6}), row(0.0, {7, 8}),
                     row(1.0, {9, 10, 11, 12})}}),
    [](const ::testing::TestParamInfo<journalCase>& info) { return std::string(info.param.name); });

TEST_F(RecoveryTest, FinderListsOnlyUnfinishedRunsWhichOpenWithoutTheFlagOrAreDiscarded) {
    tarvoDataSet set(1, 3, 7);
    for (int s = 0; s < 3; ++s) sweepAt(100.0 + s, 1.0 + s)(set);
    // Two unfinished runs, the latest one found first: a journal and a whole file as earlier
    // versions wrote it.
    ASSERT_TRUE(recoveryJournal(at("kalder_recovery_b_1.kdj"))
                    .append(set, unfinished("IV_TimeAveraged", "2026-04-01T10:00:00")));
    ASSERT_TRUE(set.saveCopy(at("kalder_recovery_g_1.kdf"),
                             unfinished("IV_TimeResolved", "2026-04-02T10:00:00")));
    // Not listed: a finished save under the recovery name, an ordinary data file with the
    // flag, a damaged file, a journal whose first record is damaged.
    ASSERT_TRUE(set.saveCopy(at("kalder_recovery_c_1.kdf"), {}));
    ASSERT_TRUE(set.saveCopy(at("measurement.kdf"), unfinished("Kalder", "2026-01-01T00:00:00")));
    EXPECT_TRUE(writeFile(at("kalder_recovery_d_1.kdf"), QByteArray("\x7f\xff\xff\xff{", 5)));
    QByteArray journal = readBytes(at("kalder_recovery_b_1.kdj"));
    journal[20] = static_cast<char>(~journal[20]);
    EXPECT_TRUE(writeFile(at("kalder_recovery_h_1.kdj"), journal));

    const QList<recovery::unfinishedRun> runs = recovery::findUnfinishedRuns({at("."), at("")});
    ASSERT_EQ(runs.size(), 2);
    EXPECT_EQ(runs[0].path, QDir(at("kalder_recovery_b_1.kdj")).absolutePath());
    EXPECT_EQ(runs[0].typeName, "IV_TimeAveraged");
    EXPECT_EQ(runs[0].started, QDateTime::fromString("2026-04-01T10:00:00", Qt::ISODate));
    EXPECT_EQ(runs[1].typeName, "IV_TimeResolved");
    EXPECT_TRUE(runs[0].writerAlive);

    // An opened run no longer carries the recovery flags; a discarded one is no longer found.
    std::unique_ptr<tarvoDataSet> opened(recovery::openUnfinishedRun(runs[0].path));
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(opened->scanCount(), 3);
    for (const QString& key : {recovery::UNFINISHED_KEY, recovery::TYPE_KEY, recovery::STARTED_KEY,
                               recovery::PROCESS_KEY})
        EXPECT_FALSE(opened->settingsMap.contains(key)) << key.toStdString();
    EXPECT_TRUE(recovery::discard(runs[0].path));
    EXPECT_EQ(recovery::findUnfinishedRuns({at(".")}).size(), 1);
}

}  // namespace
