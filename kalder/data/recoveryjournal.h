// The recovery journal of a data set being measured: an append-only file to which every
// checkpoint adds only what the data set gained since the one before (new scans, traces, rows,
// and the settings when they changed), so that a checkpoint costs the same early and late in a
// long run. Rebuilt, a journal gives an ordinary kdf file.
//
// Layout: the 8 bytes "KDJ1\r\n\x1a\n", then records, each
//   quint32 size, quint32 CRC-32 of the body, body (size bytes): quint8 type, then its fields,
// big-endian in the kdf stream version. Traces and rows are stored as the kdf file holds them;
// indices count the items of their list in the order the journal introduced them.
//   1 settings      qint32 kind, sensor code, rows, points; the kdf JSON header (length, text,
//                   newline). The last one read applies to the whole file.
//   2 sweep scan    double time (a new scan)
//   3 sweep trace   qint32 scan; trace
//   4 ar scan       qint32 scan, bool altVoltageRow; key and reference trace (a new scan when
//                   scan is the count so far, else a later reference of that scan)
//   5 ar group      qint32 scan; double aspect ratio
//   6 ar point      qint32 scan, group; double voltage, second value
//   7 ar trace      qint32 scan, group, point; trace
//   8 temperature   double time; qint32 columns (a new record)
//   9 temperature row  qint32 record; the row's columns doubles
// A reader takes records while they are whole, their CRC matches and their indices exist, and
// stops at the first that is not: a journal cut anywhere (a kill, a power loss mid-append, a
// tail of zeros) keeps everything before the cut.
#ifndef KALDER_DATA_RECOVERYJOURNAL_H
#define KALDER_DATA_RECOVERYJOURNAL_H

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QVariantMap>
#include <memory>

class QIODevice;
class tarvoDataSet;

class recoveryJournal {
public:
    // Nothing is written until the first append.
    explicit recoveryJournal(const QString& path);
    ~recoveryJournal();
    recoveryJournal(const recoveryJournal&) = delete;
    recoveryJournal& operator=(const recoveryJournal&) = delete;

    QString path() const { return filePath; }
    // Adds what the data set gained since the last append, under its lock; the settings record
    // carries extraSettings in its header. The first append, and the first after one that
    // failed, writes the whole journal anew and atomically. A data set without data writes
    // nothing. False when writing failed; the file then still ends with whole records.
    bool append(tarvoDataSet& set, const QVariantMap& extraSettings);
    // Closes the journal and removes its file.
    bool remove();

    // Whether the file starts like a journal.
    static bool isJournal(const QString& path);
    // The kdf JSON header (length, text, newline) of the journal's first settings record; empty
    // when it has none.
    static QByteArray firstHeader(const QString& path);
    // Writes the data of the journal, up to its first damaged or missing record, to `out` as a
    // kdf file. False when the journal holds no data or `out` cannot be written.
    static bool rebuild(const QString& path, QIODevice& out);

private:
    struct cursor;
    class recordBatch;

    void collect(const tarvoDataSet& set, recordBatch& batch);
    bool writeWhole(const QByteArray& records);
    bool appendRecords(const QByteArray& records);

    QString filePath;
    QFile file;                    // open for appending once the journal exists
    std::unique_ptr<cursor> held;  // what the file holds
    bool rewrite = true;
};

#endif  // KALDER_DATA_RECOVERYJOURNAL_H
