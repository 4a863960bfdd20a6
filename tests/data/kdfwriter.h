// A small writer of kdf byte images for the tests, independent of the library's writer:
// every field is laid down byte by byte from the documented layout.
#ifndef TESTS_DATA_KDF_WRITER_H
#define TESTS_DATA_KDF_WRITER_H

#include <QByteArray>
#include <QString>
#include <vector>

class ByteImage {
public:
    ByteImage& i32(qint32 v);
    ByteImage& i16(qint16 v);
    ByteImage& u8(quint8 v);
    ByteImage& f64(double v);
    ByteImage& raw(const QByteArray& b);
    ByteImage& zeros(int count);
    // "\r\n[DATA]\r\n" followed by the magic AC DC B0 70.
    ByteImage& markerAndMagic();
    ByteImage& magic();
    // JSON length, text, newline.
    ByteImage& jsonHeader(const QByteArray& json);
    // Trace: header (rows, 0xFF in bits 8..15 for alternate rows), point count, rows.
    ByteImage& trace(const std::vector<std::vector<double>>& rows, bool alternate = false);

    const QByteArray& bytes() const { return data; }
    int size() const { return data.size(); }

private:
    QByteArray data;
};

using Rows = std::vector<std::vector<double>>;

// Rows of a sweep: `currents` current rows offset by `level`, then voltage rows.
Rows sweepRows(int rows, int points, int currents, double level);
// The rows one after the other, as a block arrives from the board.
std::vector<double> flatten(const Rows& rows);

// Writes the bytes to a file; true on success.
bool writeFile(const QString& path, const QByteArray& bytes);

#endif  // TESTS_DATA_KDF_WRITER_H
