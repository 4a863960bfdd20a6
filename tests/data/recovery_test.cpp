// Recovery files: a copy written with extra settings leaves the data set as it was, and the
// finder lists exactly the recovery files of unfinished runs, whatever else lies beside them.
#include "data/recovery.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <memory>
#include <vector>

#include "TempDir.h"
#include "data/tarvodataset.h"

namespace {

// Four rows of ten points: one current row, then three voltage rows.
std::vector<double> sweep(double level) {
    std::vector<double> block(40);
    for (int r = 0; r < 4; ++r) {
        for (int j = 0; j < 10; ++j) {
            block[r * 10 + j] = r == 0 ? level - j : 10.0 * r + j;
        }
    }
    return block;
}

void fill(tarvoDataSet& set, int scans) {
    for (int s = 0; s < scans; ++s) {
        set.addTrace(sweep(100.0 + s).data(), 1.0 + s, 10, 4, 0, 0, false);
    }
}

QVariantMap unfinished(const QString& type, const QString& started) {
    return {{recovery::UNFINISHED_KEY, true},
            {recovery::TYPE_KEY, type},
            {recovery::STARTED_KEY, started},
            {recovery::PROCESS_KEY, QCoreApplication::applicationPid()}};
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

class RecoveryTest : public ::testing::Test {
protected:
    TempDir dir;
    QString at(const char* name) const { return QString::fromStdString(dir.file(name)); }
};

TEST_F(RecoveryTest, CopyCarriesTheFlagOnlyInTheFile) {
    tarvoDataSet set(1, 3, 7);
    fill(set, 2);
    set.settingsMap.insert("probe", 3);
    const QString path = at("kalder_recovery_1_2.kdf");

    ASSERT_TRUE(set.saveCopy(path, unfinished("Temperature", "2026-01-02T03:04:05")));

    EXPECT_FALSE(set.settingsMap.contains(recovery::UNFINISHED_KEY));
    EXPECT_TRUE(set.filePath().isEmpty()) << "a copy is not the data set's file";
    QVariantMap header;
    ASSERT_TRUE(recovery::readHeader(path, header));
    EXPECT_TRUE(header.value(recovery::UNFINISHED_KEY).toBool());
    EXPECT_EQ(header.value("probe").toInt(), 3);
    // The copy is an ordinary kdf file with every trace.
    tarvoDataSet loaded(path);
    EXPECT_EQ(loaded.scanCount(), 2);
}

TEST_F(RecoveryTest, FinderListsOnlyUnfinishedRecoveryFiles) {
    tarvoDataSet set(1, 3, 7);
    fill(set, 3);
    QDir().mkpath(at("second"));
    // Two unfinished runs in two directories, the later one found first.
    ASSERT_TRUE(set.saveCopy(at("second/kalder_recovery_a_1.kdf"),
                             unfinished("Temperature", "2026-05-01T10:00:00")));
    ASSERT_TRUE(set.saveCopy(at("kalder_recovery_b_1.kdf"),
                             unfinished("IV_TimeAveraged", "2026-04-01T10:00:00")));
    // Not listed: a finished save under the recovery name, an ordinary data file with the
    // flag, a damaged file, a header that is not JSON, a temporary file of an atomic save.
    ASSERT_TRUE(set.saveCopy(at("kalder_recovery_c_1.kdf"), {}));
    ASSERT_TRUE(set.saveCopy(at("measurement.kdf"), unfinished("Kalder", "2026-01-01T00:00:00")));
    writeBytes(at("kalder_recovery_d_1.kdf"), QByteArray("\x7f\xff\xff\xff{", 5));
    writeBytes(at("kalder_recovery_e_1.kdf"), QByteArray("\0\0\0\4abcd\n", 9));
    ASSERT_TRUE(QFile::copy(at("kalder_recovery_b_1.kdf"), at("kalder_recovery_f_1.kdf.Ab12Cd")));

    const QList<recovery::unfinishedRun> runs =
        recovery::findUnfinishedRuns({at("."), at("second"), at("")});

    ASSERT_EQ(runs.size(), 2);
    EXPECT_EQ(runs[0].path, QDir(at("kalder_recovery_b_1.kdf")).absolutePath());
    EXPECT_EQ(runs[0].typeName, "IV_TimeAveraged");
    EXPECT_EQ(runs[0].started, QDateTime::fromString("2026-04-01T10:00:00", Qt::ISODate));
    EXPECT_EQ(runs[1].typeName, "Temperature");
    EXPECT_EQ(runs[0].processId, QCoreApplication::applicationPid());
    EXPECT_TRUE(runs[0].writerAlive);
    EXPECT_TRUE(runs[0].saved.isValid());
}

TEST_F(RecoveryTest, OpenedRunDropsTheFlagAndDiscardRemovesTheFile) {
    tarvoDataSet set(1, 3, 7);
    fill(set, 2);
    const QString path = at("kalder_recovery_x_1.kdf");
    ASSERT_TRUE(set.saveCopy(path, unfinished("IV_TimeAveraged", "2026-04-01T10:00:00")));

    std::unique_ptr<tarvoDataSet> opened(recovery::openUnfinishedRun(path));
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(opened->scanCount(), 2);
    for (const QString& key : {recovery::UNFINISHED_KEY, recovery::TYPE_KEY, recovery::STARTED_KEY,
                               recovery::PROCESS_KEY}) {
        EXPECT_FALSE(opened->settingsMap.contains(key)) << key.toStdString();
    }
    EXPECT_TRUE(recovery::discard(path));
    EXPECT_TRUE(recovery::findUnfinishedRuns({at(".")}).isEmpty());
}

TEST_F(RecoveryTest, DirectoriesFollowTheAutosavePreference) {
    EXPECT_EQ(recovery::directoryFor(true, "/data/runs"), "/data/runs");
    EXPECT_EQ(recovery::directoryFor(false, "/data/runs"), recovery::userDataDirectory());
    EXPECT_EQ(recovery::directoryFor(true, ""), recovery::userDataDirectory());

    QSettings settings(at("prefs.ini"), QSettings::IniFormat);
    settings.setValue("prefDialog/targetPath", "/data/runs");
    EXPECT_EQ(recovery::searchDirectories(settings),
              QStringList({recovery::userDataDirectory(), "/data/runs"}));
}

}  // namespace
