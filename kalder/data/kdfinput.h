// Bounded reading of kdf files. Every count read from a file is checked against the bytes
// that remain before anything is allocated or looped over, so a damaged or hostile file can
// neither make the reader allocate far beyond the file's size nor spin on zeros past its end.
#ifndef KALDER_DATA_KDFINPUT_H
#define KALDER_DATA_KDFINPUT_H

#include <QDataStream>
#include <QIODevice>
#include <memory>

class ivTrace;

class kdfInput {
public:
    // `device` is open for reading; the stream reads big-endian with the given stream version.
    kdfInput(QIODevice& device, int streamVersion);

    bool ok() const { return !failed && in.status() == QDataStream::Ok; }
    void fail() { failed = true; }
    qint64 remaining() const;
    bool seek(qint64 position);

    qint32 readInt();
    double readDouble();
    bool readBool();
    void skip(qint64 bytes);
    // Reads a count of items that each take at least itemBytes bytes of the file (and at
    // least one unit of the reader's item budget, which is the file's size). Returns -1 and
    // fails when the count is negative or cannot fit.
    int readCount(qint64 itemBytes);
    // True when `count` items of itemBytes bytes each fit into the remaining bytes.
    bool fits(qint64 count, qint64 itemBytes) const;
    // Reads `count` doubles stored big-endian, in one block.
    bool readDoubles(double* dest, qint64 count);
    QByteArray readBytes(qint64 count);

    // One trace (header, point count, rows). nullptr on failure; an empty trace (no rows, no
    // points) is returned as an empty ivTrace.
    std::unique_ptr<ivTrace> readTrace(bool useCollectorDiscriminator, bool useUnfilteredEnergy);

private:
    QIODevice& device;
    QDataStream in;
    bool failed = false;
    // The file does not change while it is read; asking the device would stat it each time.
    qint64 deviceSize;
    qint64 itemBudget;
};

// Writes `count` doubles big-endian in one block.
void writeDoubles(QDataStream& out, const double* values, qint64 count);
void writeTrace(QDataStream& out, const ivTrace* trace);

#endif  // KALDER_DATA_KDFINPUT_H
