#include "kdfwriter.h"

#include <QCryptographicHash>
#include <QFile>
#include <cstring>

ByteImage& ByteImage::i32(qint32 v) {
    const quint32 u = static_cast<quint32>(v);
    for (int shift = 24; shift >= 0; shift -= 8) data.append(char((u >> shift) & 0xFF));
    return *this;
}

ByteImage& ByteImage::i16(qint16 v) {
    const quint16 u = static_cast<quint16>(v);
    data.append(char(u >> 8));
    data.append(char(u & 0xFF));
    return *this;
}

ByteImage& ByteImage::u8(quint8 v) {
    data.append(char(v));
    return *this;
}

ByteImage& ByteImage::f64(double v) {
    quint64 u;
    std::memcpy(&u, &v, 8);
    for (int shift = 56; shift >= 0; shift -= 8) data.append(char((u >> shift) & 0xFF));
    return *this;
}

ByteImage& ByteImage::raw(const QByteArray& b) {
    data.append(b);
    return *this;
}

ByteImage& ByteImage::zeros(int count) {
    data.append(QByteArray(count, '\0'));
    return *this;
}

ByteImage& ByteImage::magic() {
    return u8(0xAC).u8(0xDC).u8(0xB0).u8(0x70);
}

ByteImage& ByteImage::markerAndMagic() {
    return u8(0x0D).u8(0x0A).raw("[DATA]").u8(0x0D).u8(0x0A).magic();
}

ByteImage& ByteImage::jsonHeader(const QByteArray& json) {
    return i32(json.size()).raw(json).u8(0x0A);
}

ByteImage& ByteImage::trace(const std::vector<std::vector<double>>& rows, bool alternate) {
    const int points = rows.empty() ? 0 : static_cast<int>(rows[0].size());
    i32(static_cast<qint32>(rows.size()) | (alternate ? 0xFF00 : 0));
    i32(points);
    for (const auto& row : rows)
        for (double v : row) f64(v);
    return *this;
}

Rows sweepRows(int rows, int points, int currents, double level) {
    Rows result(rows, std::vector<double>(points));
    for (int r = 0; r < rows; ++r)
        for (int j = 0; j < points; ++j)
            result[r][j] = r < currents ? level + 0.5 * r - 0.25 * j * j : 3.0 * r + j;
    return result;
}

std::vector<double> flatten(const Rows& rows) {
    std::vector<double> block;
    for (const auto& row : rows) block.insert(block.end(), row.begin(), row.end());
    return block;
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    // scripts/fuzz collects every image the tests build as seeds of the kdf reader's fuzzer.
    const QByteArray seeds = qgetenv("KALDER_FUZZ_SEED_DIR");
    if (!seeds.isEmpty()) {
        QFile seed(QString::fromLocal8Bit(seeds) + "/" +
                   QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex());
        if (seed.open(QIODevice::WriteOnly)) {
            seed.write(bytes);
        }
    }
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}
