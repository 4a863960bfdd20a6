// Recovery checkpoints of a run in progress: each one appends what the data set gained since
// the last to the run's recovery journal (data/recovery.h, data/recoveryjournal.h), whose
// settings carry "unfinished": true, so that a checkpoint costs the same late in a long run as
// early. The owner calls passCompleted() after every completed pass and tick() often (from a
// timer or on progress); tick() writes when the last checkpoint is older than INTERVAL_MS on
// the pacing clock. finish() removes the file once the run's data is safe.
//
// All calls come from one thread (the panel's); the scan thread may append meanwhile, since
// what is new is taken under the data set's lock.
#ifndef KALDER_ACQUISITION_RUNCHECKPOINT_H
#define KALDER_ACQUISITION_RUNCHECKPOINT_H

#include <QDateTime>
#include <QString>
#include <memory>

#include "acquisition/pacing.h"

class recoveryJournal;
class tarvoDataSet;

class runCheckpoint {
public:
    static constexpr qint64 INTERVAL_MS = 60000;

    // The file goes into directory (created when missing) under a name made from the start
    // time and this process's id. Nothing is written yet.
    runCheckpoint(tarvoDataSet* dataSet, const QString& directory, const QString& typeName);
    ~runCheckpoint();
    runCheckpoint(const runCheckpoint&) = delete;
    runCheckpoint& operator=(const runCheckpoint&) = delete;

    QString path() const { return file; }
    // Writes the checkpoint now; false when writing failed (the previous checkpoints stay).
    // A data set without data writes nothing and counts as done.
    bool save();
    bool passCompleted() { return save(); }
    // Writes when INTERVAL_MS have passed since the last checkpoint (or the start).
    bool tick();
    // Removes the recovery file: the run ended and its data is saved or in the user's hands.
    bool finish();
    // Checkpoints written so far.
    int saves() const { return written; }

private:
    tarvoDataSet* dataSet;
    QString typeName;
    QDateTime started;
    QString file;
    std::unique_ptr<recoveryJournal> journal;
    pacing::stopwatch sinceLast;
    int written = 0;
    bool finished = false;
};

#endif  // KALDER_ACQUISITION_RUNCHECKPOINT_H
