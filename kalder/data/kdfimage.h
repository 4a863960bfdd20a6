// The body of a kdf file taken under the data set's lock and written after it.
//
// It is a write-only device for the data stream that encodes the body: the small items
// (counts, times, headers) are kept as the bytes the stream wrote, and the rows of doubles of
// the sweeps are kept as handles on the sweeps' own rows, which are implicitly shared: taking
// the image copies no sample values, and a sweep that changes its rows later gets a copy of
// its own. writeTo() then writes the same bytes the stream would have written, row by row.
#ifndef KALDER_DATA_KDFIMAGE_H
#define KALDER_DATA_KDFIMAGE_H

#include <QByteArray>
#include <QIODevice>
#include <QVector>
#include <vector>

class kdfImage : public QIODevice {
public:
    kdfImage();

    // Appends the first `count` values of `row` (count <= row.size()), written big-endian.
    void appendRow(const QVector<double>& row, qint64 count);
    // Writes the image to `device`; false when a write fails.
    bool writeTo(QIODevice& device) const;
    // Size of the image in the file.
    qint64 fileSize() const { return total; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override;

private:
    struct Piece {
        QByteArray bytes;
        QVector<double> row;
        qint64 count = 0;
    };
    std::vector<Piece> pieces;
    qint64 total = 0;
};

#endif  // KALDER_DATA_KDFIMAGE_H
