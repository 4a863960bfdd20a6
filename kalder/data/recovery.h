// Recovery files of runs in progress. While a scan runs, its data set is checkpointed now and
// then into a recovery journal (kalder_recovery_<start>_<process>.kdj, data/recoveryjournal.h)
// whose settings carry "unfinished": true; the file goes away when the run has ended and its
// data is safe. A recovery file found later belongs to a run that never ended (the program
// crashed or was killed); its data loads as an ordinary data set. Recovery files of the same
// name ending in .kdf, which earlier versions wrote (a whole kdf file with the flag in its
// settings map), are found and loaded as well.
#ifndef KALDER_DATA_RECOVERY_H
#define KALDER_DATA_RECOVERY_H

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

class QSettings;
class tarvoDataSet;

namespace recovery {

// Settings-map keys of a recovery file (in the header of its data).
extern const QString UNFINISHED_KEY;  // "unfinished": true while the run goes on
extern const QString TYPE_KEY;        // the scan controller's type name
extern const QString STARTED_KEY;     // start of the run, ISO 8601
extern const QString PROCESS_KEY;     // id of the process that wrote the file

// One recovery file of a run that did not end.
struct unfinishedRun {
    QString path;
    QString typeName;   // "IV_TimeAveraged", "Temperature", ...
    QDateTime started;  // start of the run
    QDateTime saved;    // last checkpoint (the file's modification time)
    qint64 processId = 0;
    bool writerAlive = false;  // the writing process still runs (its run may still be going)
};

// The file name of a run's recovery journal in a directory.
QString fileName(const QString& directory, const QDateTime& started, qint64 processId);

// Where the program keeps recovery files: the autosave directory when automatic saving is on,
// otherwise recovery/ in the user's data directory.
QString directoryFor(bool autosave, const QString& autosaveDirectory);
QString userDataDirectory();
// Every directory a recovery file may be in, from the settings store (group "prefDialog":
// "useAutosave", "targetPath"): the autosave directory and the user's data directory.
QStringList searchDirectories(QSettings& settings);

// Reads the settings map of a kdf file or of a journal's first settings record without loading
// the data; false when the file has no readable header.
bool readHeader(const QString& path, QVariantMap& header);

// The recovery files of unfinished runs in these directories, oldest run first. Files whose
// header is unreadable or lacks the flag are left out.
QList<unfinishedRun> findUnfinishedRuns(const QStringList& directories);

// Loads a recovery file as a data set without the "unfinished" flag, so that a save of it is
// an ordinary data file. A journal gives the data of its records before the first damaged or
// missing one. Throws the int 10 like the data-set constructor when the data is invalid;
// nullptr when it holds no data (or a journal's data cannot be rebuilt in the temporary
// directory).
tarvoDataSet* openUnfinishedRun(const QString& path);

// Removes a recovery file (after its data was recovered and saved, or when the user declines).
bool discard(const QString& path);

}  // namespace recovery

#endif  // KALDER_DATA_RECOVERY_H
