// A small writer of kdf byte images for the tests, independent of the library's writer:
// every field is laid down byte by byte from the documented layout.
#ifndef TESTS_DATA_KDF_WRITER_H
#define TESTS_DATA_KDF_WRITER_H

#include <QByteArray>
#include <QString>
#include <QVariantMap>
#include <cstring>
#include <vector>

class ByteImage {
public:
    // The `bytes` low bytes of `value`, most significant first.
    ByteImage& be(quint64 value, int bytes) {
        for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) data.append(char(value >> shift));
        return *this;
    }
    ByteImage& i32(qint32 v) { return be(quint32(v), 4); }
    ByteImage& i16(qint16 v) { return be(quint16(v), 2); }
    ByteImage& u8(quint8 v) { return be(v, 1); }
    ByteImage& f64(double v) {
        quint64 u;
        std::memcpy(&u, &v, 8);
        return be(u, 8);
    }
    ByteImage& raw(const QByteArray& b) {
        data.append(b);
        return *this;
    }
    ByteImage& zeros(int count) { return raw(QByteArray(count, '\0')); }
    ByteImage& magic() { return u8(0xAC).u8(0xDC).u8(0xB0).u8(0x70); }
    // "\r\n[DATA]\r\n" followed by the magic.
    ByteImage& markerAndMagic() { return raw("\r\n[DATA]\r\n").magic(); }
    // JSON length, text, newline.
    ByteImage& jsonHeader(const QByteArray& json) { return i32(json.size()).raw(json).u8(0x0A); }
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

// An image with the offsets where each scan (record, sweep) and each of its items (traces,
// points, rows) begin.
struct Layout {
    ByteImage image;
    std::vector<int> scanStart;
    std::vector<std::vector<int>> itemStart;

    void beginScan();
    void beginItem() { itemStart.back().push_back(image.size()); }
};

// Versions 10, 11, 14 and 15: one scan of `sweeps` sweeps of `rows` rows, `currents` of them
// current rows at level 10 * sweep, after a header text and the marker when `marker`.
Layout timeAveragedFile(int version, int rows, int currents, int points, int sweeps, bool marker);
// Versions 12 and 13: `sweeps` sweeps of `frames` frames of `points` points, frame times
// 100 + 0.5 f; each frame a voltage row 2j and a current row 100f + s - j.
Layout timeResolvedFile(int version, int points, int frames, int sweeps);
// Version 16: `map` in Qt's stream form before the marker, one IV scan at time 7.
QByteArray version16File(const QByteArray& map, const std::vector<Rows>& traces);
QByteArray streamed(const QVariantMap& map);

// Writes the bytes to a file; true on success.
bool writeFile(const QString& path, const QByteArray& bytes);

#endif  // TESTS_DATA_KDF_WRITER_H
