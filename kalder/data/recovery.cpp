#include "data/recovery.h"

#include <QBuffer>
#include <QDataStream>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <algorithm>
#include <memory>

#include "data/recoveryjournal.h"
#include "data/tarvodataset.h"

namespace recovery {

const QString UNFINISHED_KEY = QStringLiteral("unfinished");
const QString TYPE_KEY = QStringLiteral("recoveryType");
const QString STARTED_KEY = QStringLiteral("recoveryStarted");
const QString PROCESS_KEY = QStringLiteral("recoveryProcess");

namespace {

const QString PREFIX = QStringLiteral("kalder_recovery_");

bool processRuns(qint64 id) {
    return id > 0 && QFileInfo::exists(QStringLiteral("/proc/%1").arg(id));
}

}  // namespace

QString fileName(const QString& directory, const QDateTime& started, qint64 processId) {
    return QStringLiteral("%1/%2%3_%4.kdj")
        .arg(directory, PREFIX, started.toString(QStringLiteral("yyMMddhhmmsszzz")))
        .arg(processId);
}

QString userDataDirectory() {
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/recovery");
}

QString directoryFor(bool autosave, const QString& autosaveDirectory) {
    return autosave && !autosaveDirectory.isEmpty() ? autosaveDirectory : userDataDirectory();
}

QStringList searchDirectories(QSettings& settings) {
    settings.beginGroup(QStringLiteral("prefDialog"));
    const QString target =
        settings.value(QStringLiteral("targetPath"), QStringLiteral("./autosave")).toString();
    settings.endGroup();
    QStringList dirs{userDataDirectory()};
    if (!target.isEmpty() && QDir(target).absolutePath() != QDir(dirs[0]).absolutePath()) {
        dirs << target;
    }
    return dirs;
}

bool readHeader(const QString& path, QVariantMap& header) {
    QBuffer journalHeader;
    QFile kdf(path);
    QIODevice* device = &kdf;
    if (recoveryJournal::isJournal(path)) {
        journalHeader.setData(recoveryJournal::firstHeader(path));
        device = &journalHeader;
    }
    if (!device->open(QIODevice::ReadOnly)) {
        return false;
    }
    QDataStream in(device);
    qint32 length = 0;
    in >> length;
    if (in.status() != QDataStream::Ok || length <= 0 || length > device->size() - 4) {
        return false;
    }
    QJsonParseError error;
    const QJsonDocument json = QJsonDocument::fromJson(device->read(length), &error);
    if (error.error != QJsonParseError::NoError || !json.isObject()) {
        return false;
    }
    header = json.object().toVariantMap();
    return true;
}

QList<unfinishedRun> findUnfinishedRuns(const QStringList& directories) {
    QList<unfinishedRun> runs;
    QStringList seen;
    for (const QString& directory : directories) {
        const QDir dir(directory);
        if (seen.contains(dir.absolutePath())) {
            continue;
        }
        seen << dir.absolutePath();
        const QFileInfoList files =
            dir.entryInfoList({PREFIX + QStringLiteral("*.kdj"), PREFIX + QStringLiteral("*.kdf")},
                              QDir::Files, QDir::Name);
        for (const QFileInfo& info : files) {
            QVariantMap header;
            if (!readHeader(info.absoluteFilePath(), header) ||
                !header.value(UNFINISHED_KEY).toBool()) {
                continue;
            }
            unfinishedRun run;
            run.path = info.absoluteFilePath();
            run.typeName = header.value(TYPE_KEY).toString();
            run.started = QDateTime::fromString(header.value(STARTED_KEY).toString(), Qt::ISODate);
            run.saved = info.lastModified();
            run.processId = header.value(PROCESS_KEY).toLongLong();
            run.writerAlive = processRuns(run.processId);
            runs << run;
        }
    }
    std::stable_sort(runs.begin(), runs.end(), [](const unfinishedRun& a, const unfinishedRun& b) {
        return a.started < b.started;
    });
    return runs;
}

tarvoDataSet* openUnfinishedRun(const QString& path) {
    std::unique_ptr<tarvoDataSet> set;
    if (recoveryJournal::isJournal(path)) {
        // The journal is rebuilt into an ordinary file and loaded from there.
        QTemporaryFile rebuilt(QDir::tempPath() + QStringLiteral("/kalder_rebuilt_XXXXXX.kdf"));
        if (!rebuilt.open() || !recoveryJournal::rebuild(path, rebuilt) || !rebuilt.flush()) {
            qWarning() << "cannot rebuild the data of" << path << "in" << rebuilt.fileName();
            return nullptr;
        }
        set = std::make_unique<tarvoDataSet>(rebuilt.fileName());
    } else {
        set = std::make_unique<tarvoDataSet>(path);
    }
    if (!set->hasData) {
        return nullptr;
    }
    for (const QString& key : {UNFINISHED_KEY, TYPE_KEY, STARTED_KEY, PROCESS_KEY}) {
        set->settingsMap.remove(key);
    }
    return set.release();
}

bool discard(const QString& path) {
    return QFile::remove(path);
}

}  // namespace recovery
