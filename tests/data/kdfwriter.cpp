#include "kdfwriter.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QFile>

ByteImage& ByteImage::trace(const std::vector<std::vector<double>>& rows, bool alternate) {
    i32(static_cast<qint32>(rows.size()) | (alternate ? 0xFF00 : 0));
    i32(rows.empty() ? 0 : static_cast<int>(rows[0].size()));
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

void Layout::beginScan() {
    scanStart.push_back(image.size());
    itemStart.emplace_back();
}

Layout timeAveragedFile(int version, int rows, int currents, int points, int sweeps, bool marker) {
    Layout l;
    l.image.raw(marker ? "older header text\r\n[DATA]\r\n" : "").magic();
    l.image.i32(version).i32(0).f64(1.25).i32(0).i32(points).i32(0).i32(rows).i32(sweeps);
    l.beginScan();
    for (int s = 0; s < sweeps; ++s) {
        l.beginItem();
        for (double v : flatten(sweepRows(rows, points, currents, 10.0 * s))) l.image.f64(v);
    }
    return l;
}

Layout timeResolvedFile(int version, int points, int frames, int sweeps) {
    Layout l;
    l.image.raw("x").markerAndMagic().i32(version);
    l.image.i32(0).f64(0.5).i32(100).i32(points).i32(frames).i32(sweeps);
    l.beginScan();
    for (int s = 0; s < sweeps; ++s) {
        l.beginItem();
        for (int f = 0; f < frames; ++f) {
            for (int j = 0; j < points; ++j) l.image.f64(2.0 * j);
            for (int j = 0; j < points; ++j) l.image.f64(100.0 * f + s - j);
        }
    }
    return l;
}

QByteArray streamed(const QVariantMap& map) {
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(15);
    out << map;
    return bytes;
}

QByteArray version16File(const QByteArray& map, const std::vector<Rows>& traces) {
    ByteImage image;
    image.raw(map).markerAndMagic().i32(16).i32(0).zeros(16);
    image.i32(1).i32(4).i32(10).f64(7.0).i32(int(traces.size()));
    for (const Rows& t : traces) image.trace(t);
    return image.bytes();
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    // scripts/fuzz collects every image the tests build as seeds of the kdf reader's fuzzer.
    const QByteArray seeds = qgetenv("KALDER_FUZZ_SEED_DIR");
    if (!seeds.isEmpty()) {
        QFile seed(QString::fromLocal8Bit(seeds) + "/" +
                   QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex());
        if (seed.open(QIODevice::WriteOnly))
            seed.write(bytes);
    }
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}
