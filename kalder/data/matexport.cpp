// MATLAB level 5 MAT-file export of the averaged IV traces.
#include <QDataStream>
#include <QDateTime>
#include <QDebug>
#include <QSaveFile>
#include <mutex>

#include "tarvodataset.h"

namespace {

enum : quint32 { miINT8 = 1, miINT32 = 5, miUINT32 = 6, miDOUBLE = 9, miMATRIX = 14 };
constexpr quint32 mxDOUBLE_CLASS = 6;
constexpr int kHeaderTextBytes = 124;

void writeHeader(QDataStream& out) {
    QByteArray text =
        QStringLiteral("MATLAB 5.0 MAT-file, Platform: PCWIN64, Created on: %1")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("ddd MMM dd hh:mm:ss yyyy")))
            .toLocal8Bit()
            .left(kHeaderTextBytes);
    text.append(kHeaderTextBytes - text.size(), ' ');
    out.writeRawData(text.constData(), text.size());
    out << quint16(0x0100) << quint16(0x4D49);
}

// One real double matrix; `values` holds rows × columns values, column after column.
void writeMatrix(QDataStream& out, const QByteArray& name, quint32 rows, quint32 columns,
                 const QVector<double>& values) {
    const quint32 paddedName = (name.size() + 7) / 8 * 8;
    const quint32 dataBytes = rows * columns * 8;
    out << quint32(miMATRIX) << quint32(48 + paddedName + dataBytes);
    out << quint32(miUINT32) << quint32(8) << mxDOUBLE_CLASS << quint32(0);
    out << quint32(miINT32) << quint32(8) << rows << columns;
    out << quint32(miINT8) << quint32(name.size());
    out.writeRawData(name.constData(), name.size());
    for (quint32 i = name.size(); i < paddedName; ++i) {
        out << quint8(0);
    }
    out << quint32(miDOUBLE) << dataBytes;
    for (double v : values) {
        out << v;
    }
}

// "IV": one column per row of the trace; "IEDF": the energy axis and the dI/dE of the first
// current channel, one column per point.
void writeScan(QDataStream& out, const ivTrace& trace) {
    const int points = trace.allocated ? static_cast<int>(trace.nPoints) : 0;
    const int rows = static_cast<int>(trace.nRows);
    QVector<double> iv;
    iv.reserve(points * rows);
    for (int r = 0; r < rows; ++r) {
        iv += trace.currents[r].mid(0, points);
    }
    writeMatrix(out, "IV", points, rows, iv);
    QVector<double> iedf;
    iedf.reserve(2 * points);
    for (int j = 0; j < points; ++j) {
        iedf << trace.energy[j] << (rows > 0 ? trace.dIdERow(0)[j] : 0.0);
    }
    writeMatrix(out, "IEDF", 2, points, iedf);
}

}  // namespace

bool tarvoDataSet::toMatFile(const QString& target) {
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly)) {
        qWarning() << "tarvoDataSet::toMatFile: cannot open" << target << file.errorString();
        return false;
    }
    QDataStream out(&file);
    out.setByteOrder(QDataStream::LittleEndian);
    out.setFloatingPointPrecision(QDataStream::DoublePrecision);
    writeHeader(out);
    {
        std::lock_guard<std::mutex> locker(mutex);
        if (dataKind == 0) {
            for (const tarvoScan* scan : sweepScans) {
                writeScan(out, *scan->average);
            }
        }
    }
    if (out.status() != QDataStream::Ok || !file.commit()) {
        qWarning() << "tarvoDataSet::toMatFile: cannot write" << target << file.errorString();
        return false;
    }
    return true;
}
