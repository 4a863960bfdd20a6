#include "kdfimage.h"

#include <QtEndian>
#include <algorithm>
#include <cstring>

kdfImage::kdfImage() {
    open(QIODevice::WriteOnly);
}

qint64 kdfImage::writeData(const char* data, qint64 size) {
    if (pieces.empty() || pieces.back().count != 0) {
        pieces.emplace_back();
    }
    pieces.back().bytes.append(data, static_cast<int>(size));
    total += size;
    return size;
}

void kdfImage::appendRow(const QVector<double>& row, qint64 count) {
    count = std::min<qint64>(count, row.size());
    if (count <= 0) {
        return;
    }
    Piece piece;
    piece.row = row;
    piece.count = count;
    pieces.push_back(std::move(piece));
    total += count * static_cast<qint64>(sizeof(double));
}

bool kdfImage::writeTo(QIODevice& device) const {
    std::vector<quint64> words;
    for (const Piece& piece : pieces) {
        if (piece.count == 0) {
            if (device.write(piece.bytes) != piece.bytes.size()) {
                return false;
            }
            continue;
        }
        words.resize(static_cast<size_t>(piece.count));
        std::memcpy(words.data(), piece.row.constData(), words.size() * sizeof(double));
        for (quint64& word : words) {
            word = qToBigEndian(word);
        }
        const qint64 bytes = static_cast<qint64>(words.size() * sizeof(quint64));
        if (device.write(reinterpret_cast<const char*>(words.data()), bytes) != bytes) {
            return false;
        }
    }
    return true;
}
