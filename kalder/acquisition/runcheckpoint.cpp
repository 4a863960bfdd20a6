#include "acquisition/runcheckpoint.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QVariantMap>

#include "data/recovery.h"
#include "data/recoveryjournal.h"
#include "data/tarvodataset.h"

runCheckpoint::runCheckpoint(tarvoDataSet* dataSet, const QString& directory,
                             const QString& typeName)
    : dataSet(dataSet), typeName(typeName), started(QDateTime::currentDateTime()) {
    QDir().mkpath(directory);
    file = recovery::fileName(QDir(directory).absolutePath(), started,
                              QCoreApplication::applicationPid());
    journal = std::make_unique<recoveryJournal>(file);
    sinceLast.start();
}

runCheckpoint::~runCheckpoint() = default;

bool runCheckpoint::save() {
    if (finished) {
        return false;
    }
    sinceLast.start();
    dataSet->lock();
    const bool empty = !dataSet->hasData;
    dataSet->unlock();
    if (empty) {
        return true;
    }
    const QVariantMap flags{
        {recovery::UNFINISHED_KEY, true},
        {recovery::TYPE_KEY, typeName},
        {recovery::STARTED_KEY, started.toString(Qt::ISODateWithMs)},
        {recovery::PROCESS_KEY, QCoreApplication::applicationPid()},
    };
    if (!journal->append(*dataSet, flags)) {
        qWarning() << "cannot write the recovery file" << file;
        return false;
    }
    ++written;
    return true;
}

bool runCheckpoint::tick() {
    return sinceLast.elapsed() >= INTERVAL_MS ? save() : true;
}

bool runCheckpoint::finish() {
    finished = true;
    return journal->remove();
}
