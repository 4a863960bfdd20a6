// Bounded reading of kdf files. Counts read from a file are checked before anything is
// allocated or looped over, so a damaged or hostile file can neither make the reader allocate
// far beyond the file's size nor spin on zeros past its end.
//
// Two ways a file can be damaged are told apart. Contents no written file holds (a negative
// count, more items than the file has bytes, an impossible shape) make it invalid. A file that
// merely ends before its data do (a copy cut short, a full disk) is cut: the reader stops at the
// cut, nothing is allocated for the missing part, and what was complete before it stays usable.
#ifndef KALDER_DATA_KDFINPUT_H
#define KALDER_DATA_KDFINPUT_H

#include <QDataStream>
#include <QIODevice>
#include <QVector>
#include <memory>

class ivTrace;

class kdfInput {
public:
    // `device` is open for reading; the stream reads big-endian with the given stream version.
    kdfInput(QIODevice& device, int streamVersion);

    // Nothing wrong so far: the contents are valid and no byte was missing.
    bool ok() const { return !failed && !ended && in.status() == QDataStream::Ok; }
    // The contents are invalid.
    bool invalid() const { return failed; }
    // The file ended where more data were due (and the contents are valid up to there).
    bool cut() const { return !failed && (ended || in.status() == QDataStream::ReadPastEnd); }
    void fail() { failed = true; }
    qint64 remaining() const;
    bool seek(qint64 position);

    // Past the end of the file these read 0 (false) and mark the file cut.
    qint32 readInt();
    double readDouble();
    bool readBool();
    void skip(qint64 bytes);
    // Reads a count of items and spends it (see spend); -1 when the file is cut before the
    // count or the count is invalid.
    int readCount();
    // Takes `count` items from the reader's item budget, which is the file's size: no file holds
    // more items than bytes, so the loops over items stay bounded by the file's size even where
    // an item takes no bytes. A negative count, or one beyond the budget, makes the file
    // invalid.
    bool spend(qint64 count);
    // A size (points of a trace, columns of a row) that a file of this size could hold.
    bool plausible(qint64 size) const { return size >= 0 && size <= deviceSize; }
    // True when `count` items of itemBytes bytes each fit into the remaining bytes.
    bool fits(qint64 count, qint64 itemBytes) const;
    // Reads `count` doubles stored big-endian, in one block. When the file ends before them it
    // is cut and nothing is read.
    bool readDoubles(double* dest, qint64 count);
    // The same into a vector allocated only when the doubles are all in the file; empty when
    // the file is cut before them.
    QVector<double> readDoubles(qint64 count);
    QByteArray readBytes(qint64 count);

    // One trace (header, point count, rows). nullptr when the trace is invalid or the file
    // is cut inside it; an empty trace (no rows, no points) is returned as an empty ivTrace.
    std::unique_ptr<ivTrace> readTrace(bool useCollectorDiscriminator, bool useUnfilteredEnergy);

private:
    QIODevice& device;
    QDataStream in;
    bool failed = false;
    bool ended = false;
    // The file does not change while it is read; asking the device would stat it each time.
    qint64 deviceSize;
    qint64 itemBudget;
};

// Stream version of the files this program writes.
constexpr int KDF_STREAM_VERSION = 15;

// Writes `count` doubles big-endian in one block.
void writeDoubles(QDataStream& out, const double* values, qint64 count);
void writeTrace(QDataStream& out, const ivTrace* trace);

// The other parts of a kdf file after its JSON header, in file order: the marker, the data head
// (magic, file version, kind, sensor code, reserved bytes), the body head (item count and
// shape), then per item the heads below with their traces or rows. The data set's save and the
// recovery journal, which rebuilds a file from the parts it logged, write them alike.
void writeDataMarker(QDataStream& out);
void writeDataHead(QDataStream& out, int kind, int sensorCode);
void writeBodyHead(QDataStream& out, int kind, int items, int rows, int points);
void writeSweepScanHead(QDataStream& out, double time, int traces);
// An aspect-ratio scan starts with its key and reference trace (an empty one when it has none);
// its group count and flag follow.
void writeArScanStart(QDataStream& out, double key, const ivTrace* reference);
void writeArScanGroups(QDataStream& out, int groups, bool altVoltageRow);
void writeArGroupHead(QDataStream& out, double aspectRatio, int points);
void writeArPointHead(QDataStream& out, double voltage, double secondValue, int traces);
void writeTemperatureRecordHead(QDataStream& out, double time, int columns, int rows);
// A row cut or padded with zeros to the record's column count.
void writeTemperatureRow(QDataStream& out, QVector<double> row, int columns);

#endif  // KALDER_DATA_KDFINPUT_H
