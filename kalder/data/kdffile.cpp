// kdf data files: writing the current version and reading versions 10 and later.
#include <QDebug>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QtEndian>
#include <memory>
#include <mutex>

#include "kdfimage.h"
#include "kdfinput.h"
#include "tarvodataset.h"
#include "variantcheck.h"

namespace {

constexpr quint32 kMagic = 0xACDCB070u;
// Stream version of the files written here, and of the readers of versions 10 to 15.
constexpr int kWriteStreamVersion = KDF_STREAM_VERSION;
constexpr int kOldStreamVersion = 11;
constexpr qint32 kMaxJsonLength = 19999;
constexpr qint64 kReservedBytes = 16;

// The marker line and the magic number as they appear in the file.
const QByteArray& markerAndMagic() {
    static const QByteArray bytes("\r\n[DATA]\r\n\xAC\xDC\xB0\x70", 14);
    return bytes;
}

// Position just after the magic number: at offset 4 when the file starts with it, otherwise
// after the first marker followed by the magic. -1 when neither exists.
qint64 findDataStart(QFile& file) {
    const QByteArray& pattern = markerAndMagic();
    const QByteArray head = file.peek(4);
    if (head == pattern.right(4)) {
        return 4;
    }
    constexpr qint64 kChunk = 1 << 16;
    QByteArray window;
    qint64 windowStart = 0;
    while (true) {
        const QByteArray chunk = file.read(std::min(kChunk, file.bytesAvailable()));
        if (chunk.isEmpty()) {
            return -1;
        }
        window += chunk;
        const int found = window.indexOf(pattern);
        if (found >= 0) {
            return windowStart + found + pattern.size();
        }
        // Keep the tail that could start a marker split across two chunks.
        const int keep = std::min<int>(window.size(), pattern.size() - 1);
        windowStart += window.size() - keep;
        window = window.right(keep);
    }
}

// Opens a data file for reading, positioned at `position`.
bool openAt(QFile& file, qint64 position) {
    return file.open(QIODevice::ReadOnly) && file.seek(position);
}

}  // namespace

bool tarvoDataSet::saveHeader(QIODevice& device) {
    return saveHeader(device, QVariantMap());
}

bool tarvoDataSet::saveHeader(QIODevice& device, const QVariantMap& extraSettings) {
    // Under the lock: a scan thread reads the map (the ion flux factors) while it appends.
    QVariantMap header;
    {
        std::lock_guard<std::mutex> locker(mutex);
        settingsMap.insert(QStringLiteral("useUnfilteredEnergy"), useUnfilteredEnergy);
        settingsMap.insert(QStringLiteral("useCollectorDiscriminator"), useCollectorDiscriminator);
        header = settingsMap;
    }
    for (auto it = extraSettings.begin(); it != extraSettings.end(); ++it) {
        header.insert(it.key(), it.value());
    }
    const QByteArray json =
        QJsonDocument(QJsonObject::fromVariantMap(header)).toJson(QJsonDocument::Indented);
    QDataStream out(&device);
    out.setVersion(kWriteStreamVersion);
    out << qint32(json.size());
    out.writeRawData(json.constData(), json.size());
    out << qint8('\n');
    return out.status() == QDataStream::Ok;
}

bool tarvoDataSet::save(const QString& target) {
    if (!writeFile(target, QVariantMap())) {
        return false;
    }
    path = target;
    return true;
}

bool tarvoDataSet::saveCopy(const QString& target, const QVariantMap& extraSettings) {
    return writeFile(target, extraSettings);
}

bool tarvoDataSet::writeFile(const QString& target, const QVariantMap& extraSettings) {
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly)) {
        qWarning() << "tarvoDataSet::save: cannot open" << target << file.errorString();
        return false;
    }
    if (!saveHeader(file, extraSettings)) {
        qWarning() << "tarvoDataSet::save: cannot write" << target << file.errorString();
        return false;
    }
    QDataStream out(&file);
    out.setVersion(kWriteStreamVersion);
    writeDataMarker(out);
    // The data is taken under the lock and written after it, so that a scan that appends
    // meanwhile waits for a copy of the lists, not for the disk. The rows of the sweeps are
    // shared with the image, not copied (see kdfImage).
    kdfImage data;
    {
        QDataStream image(&data);
        image.setVersion(kWriteStreamVersion);
        std::lock_guard<std::mutex> locker(mutex);
        writeDataHead(image, dataKind, sensorCode);
        writeBody(image);
    }
    if (out.status() != QDataStream::Ok || !data.writeTo(file) || !file.commit()) {
        qWarning() << "tarvoDataSet::save: cannot write" << target << file.errorString();
        return false;
    }
    return true;
}

void tarvoDataSet::writeBody(QDataStream& out) {
    const int rows = nChannels + nVoltageChannels;
    if (dataKind == 0) {
        writeBodyHead(out, dataKind, sweepScans.size(), rows, nPoints);
        for (const tarvoScan* scan : sweepScans) {
            writeSweepScanHead(out, scan->time, scan->traces->size());
            for (const ivTrace* trace : *scan->traces) {
                writeTrace(out, trace);
            }
        }
    } else if (dataKind == 2) {
        writeBodyHead(out, dataKind, arScans.size(), rows, 0);
        for (const kalderAspectRatioScan* scan : arScans) {
            writeArScanStart(out, scan->key, scan->reference);
            writeArScanGroups(out, scan->groups.size(), scan->altVoltageRow);
            for (const arGroup* group : scan->groups) {
                writeArGroupHead(out, group->aspectRatio, group->points.size());
                for (const arPoint* point : group->points) {
                    writeArPointHead(out, point->voltage, point->secondValue, point->traces.size());
                    for (const ivTrace* trace : point->traces) {
                        writeTrace(out, trace);
                    }
                }
            }
        }
    } else {
        writeBodyHead(out, dataKind, temperatureRecords.size(), 0, 0);
        for (const temperatureRecord* record : temperatureRecords) {
            const int columns = record->average.size();
            writeTemperatureRecordHead(out, record->time, columns, record->rows.size());
            for (const QVector<double>& row : record->rows) {
                writeTemperatureRow(out, row, columns);
            }
        }
    }
}

// The parts of a body around the traces (kdfinput.h).

void writeDataMarker(QDataStream& out) {
    out << qint16(0x0D0A);
    for (char c : QByteArray("[DATA]")) {
        out << qint8(c);
    }
    out << qint16(0x0D0A);
}

void writeDataHead(QDataStream& out, int kind, int sensorCode) {
    out << kMagic << qint32(tarvoDataSet::FILE_VERSION) << qint32(kind) << qint32(sensorCode);
    for (int i = 0; i < 8; ++i) {
        out << QChar(0);
    }
}

void writeBodyHead(QDataStream& out, int kind, int items, int rows, int points) {
    if (kind == 0 || kind == 2) {
        out << qint32(items) << qint32(rows) << qint32(points);
    } else {
        out << qint32(items) << qint32(0);
    }
}

void writeSweepScanHead(QDataStream& out, double time, int traces) {
    out << time << qint32(traces);
}

void writeArScanStart(QDataStream& out, double key, const ivTrace* reference) {
    out << key;
    writeTrace(out, reference);
}

void writeArScanGroups(QDataStream& out, int groups, bool altVoltageRow) {
    out << qint32(groups) << altVoltageRow;
}

void writeArGroupHead(QDataStream& out, double aspectRatio, int points) {
    out << aspectRatio << qint32(points);
}

void writeArPointHead(QDataStream& out, double voltage, double secondValue, int traces) {
    out << voltage << secondValue << qint32(traces);
}

void writeTemperatureRecordHead(QDataStream& out, double time, int columns, int rows) {
    out << time << qint32(columns) << qint32(rows);
}

void writeTemperatureRow(QDataStream& out, QVector<double> row, int columns) {
    row.resize(columns);
    writeDoubles(out, row.constData(), columns);
}

bool tarvoDataSet::loadFile(const QString& filePath) {
    if (filePath.endsWith(QLatin1String("dat"), Qt::CaseInsensitive)) {
        return true;
    }
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly)) {
        qDebug() << "cannot open" << filePath;
        return true;
    }
    const qint64 start = findDataStart(file);
    if (start < 0 || !file.seek(start)) {
        return true;
    }
    QDataStream in(&file);
    qint32 version = 0;
    in >> version;
    if (in.status() != QDataStream::Ok || version <= 9) {
        qDebug() << "wrong version";
        return true;
    }
    qDebug() << "VERSION =" << version;
    fileVersion = version;
    const qint64 position = file.pos();
    file.close();
    bool ok;
    if (version >= 17) {
        ok = loadCurrentFormat(filePath, position, version);
    } else if (version == 16) {
        ok = loadV16(filePath, position, version);
    } else if (version == 12 || version == 13) {
        ok = loadV12(filePath, position, version);
    } else {
        ok = loadV14(filePath, position, version);
    }
    if (ok && (cropStart != 0 || cropEnd != 0)) {
        setCrop(cropStart, cropEnd);
    }
    return ok;
}

bool tarvoDataSet::loadCurrentFormat(const QString& filePath, qint64 position, int version) {
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    kdfInput in(file, kWriteStreamVersion);
    const qint32 jsonLength = in.readInt();
    if (jsonLength >= 1 && jsonLength <= kMaxJsonLength && in.fits(jsonLength, 1)) {
        QJsonParseError error;
        const QJsonDocument json = QJsonDocument::fromJson(in.readBytes(jsonLength), &error);
        if (error.error == QJsonParseError::NoError && json.isObject()) {
            settingsMap = json.object().toVariantMap();
            useUnfilteredEnergy = settingsMap.value(QStringLiteral("useUnfilteredEnergy")).toBool();
            useCollectorDiscriminator =
                settingsMap.value(QStringLiteral("useCollectorDiscriminator")).toBool();
        } else {
            qDebug() << "FAILEd to load json";
        }
    }
    if (!in.seek(position)) {
        return false;
    }
    const qint32 kind = in.readInt();
    sensorCode = in.readInt();
    in.skip(kReservedBytes);
    return readBody(in, kind, version >= 18);
}

bool tarvoDataSet::loadV16(const QString& filePath, qint64 position, int) {
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    // The settings map precedes the marker in Qt's own serialisation. It is only handed to
    // the Qt reader after a bounded walk has shown that its counts fit the bytes, since the
    // Qt reader reserves list storage by the stored count.
    const QByteArray head = file.read(position);
    if (isSerializedVariantMap(head, kWriteStreamVersion)) {
        QDataStream mapStream(head);
        mapStream.setVersion(kWriteStreamVersion);
        mapStream >> settingsMap;
        if (mapStream.status() != QDataStream::Ok) {
            settingsMap.clear();
        }
    } else {
        qDebug() << "FAILEd to load settings";
    }
    kdfInput in(file, kWriteStreamVersion);
    if (!in.seek(position)) {
        return false;
    }
    const qint32 kind = in.readInt();
    in.skip(kReservedBytes);
    return readBody(in, kind, false);
}

bool tarvoDataSet::readBody(kdfInput& in, int kind, bool hasAltVoltageRow) {
    if (in.invalid() || (in.ok() && (kind < 0 || kind > 3))) {
        qWarning() << "tarvoDataSet: invalid data kind" << kind;
        return false;
    }
    if (kind == 0) {
        readSweepScans(in);
    } else if (kind == 2) {
        readArScans(in, hasAltVoltageRow);
    } else {
        readTemperatureRecords(in);
    }
    dataKind = kind == 1 ? 3 : kind;
    acquisitionIndex = 0;
    return finishReading(in);
}

bool tarvoDataSet::finishReading(const kdfInput& in) {
    if (in.invalid()) {
        qWarning() << "tarvoDataSet: the file's data is damaged";
        return false;
    }
    truncated = in.cut();
    if (truncated) {
        qWarning() << "tarvoDataSet: the file ends before its data; recovered" << scanCount()
                   << "of" << declaredScans << "scans";
    }
    hasData = true;
    return true;
}

// Reads the row count of a body; false when the file is cut or invalid before the scans.
static bool readRowCount(kdfInput& in, qint32& rows) {
    rows = in.readInt();
    if (in.ok() && (rows < 0 || rows > MAX_ROWS)) {
        in.fail();
    }
    return in.ok();
}

// The readers of the bodies stop at a cut. What was complete before it stays; the item being
// read at the cut keeps its complete parts and is left out when it has none.

void tarvoDataSet::readSweepScans(kdfInput& in) {
    const int scanCount = in.readCount();
    qint32 rows = 0;
    if (!readRowCount(in, rows)) {
        return;
    }
    declaredScans = scanCount;
    const FluxFactors factors = fluxFactorTable();
    initChannels(rows);
    nPoints = in.readInt();
    for (int s = 0; s < scanCount && in.ok(); ++s) {
        const double time = in.readDouble();
        const int traceCount = in.readCount();
        auto scan = std::make_unique<tarvoScan>(
            new QList<ivTrace*>,
            new ivTrace(0, 0, useCollectorDiscriminator, useUnfilteredEnergy, 0), time);
        for (int t = 0; t < traceCount; ++t) {
            std::unique_ptr<ivTrace> trace =
                in.readTrace(useCollectorDiscriminator, useUnfilteredEnergy);
            if (!trace) {
                break;
            }
            // Statistics, sums and ranges are taken while the trace is still in the cache.
            mergeRanges(*trace);
            scan->appendTrace(trace.release(), false);
        }
        if (!in.ok() && scan->traces->isEmpty()) {
            break;
        }
        scan->updateAverage();
        scan->average->computeIonFlux(factors);
        sweepScans.append(scan.release());
    }
}

void tarvoDataSet::readArScans(kdfInput& in, bool hasAltVoltageRow) {
    const int scanCount = in.readCount();
    qint32 rows = 0;
    if (!readRowCount(in, rows)) {
        return;
    }
    declaredScans = scanCount;
    initChannels(rows);
    in.readInt();
    for (int s = 0; s < scanCount && in.ok(); ++s) {
        auto scan = std::make_unique<kalderAspectRatioScan>();
        scan->nChannels = nChannels + nVoltageChannels;
        scan->key = in.readDouble();
        std::unique_ptr<ivTrace> reference = in.readTrace(false, false);
        if (!reference) {
            break;
        }
        if (reference->nRows > 0 || reference->nPoints > 0) {
            scan->electrodeVoltage = reference->averageElectrodeVoltage();
            scan->reference = reference.release();
        }
        const int groupCount = in.readCount();
        scan->altVoltageRow = hasAltVoltageRow && in.readBool();
        for (int g = 0; g < groupCount && in.ok(); ++g) {
            const double ratio = in.readDouble();
            const int pointCount = in.readCount();
            auto group = std::make_unique<arGroup>(ratio, scan->altVoltageRow);
            for (int p = 0; p < pointCount && in.ok(); ++p) {
                const double voltage = in.readDouble();
                const double second = in.readDouble();
                const int traceCount = in.readCount();
                auto point = std::make_unique<arPoint>(voltage, second, scan->altVoltageRow);
                for (int t = 0; t < traceCount; ++t) {
                    std::unique_ptr<ivTrace> trace = in.readTrace(false, false);
                    if (!trace) {
                        break;
                    }
                    point->traces.append(trace.release());
                }
                if (!in.ok() && point->traces.isEmpty()) {
                    break;
                }
                group->points.append(point.release());
            }
            if (!in.ok() && group->points.isEmpty()) {
                break;
            }
            // The group at a cut was not measured to its end.
            group->complete = in.ok();
            scan->groups.append(group.release());
        }
        if (!in.ok() && scan->groups.isEmpty()) {
            break;
        }
        arScans.append(scan.release());
        qDebug() << "Importing kalder scan" << s;
    }
}

void tarvoDataSet::readTemperatureRecords(kdfInput& in) {
    const int recordCount = in.readCount();
    in.readInt();
    if (!in.ok()) {
        return;
    }
    declaredScans = recordCount;
    for (int i = 0; i < recordCount && in.ok(); ++i) {
        const double time = in.readDouble();
        const qint32 columns = in.readInt();
        if (in.ok() && !in.plausible(columns)) {
            in.fail();
        }
        const int rowCount = in.readCount();
        auto record = std::make_unique<temperatureRecord>(time);
        for (int r = 0; r < rowCount; ++r) {
            const QVector<double> row = in.readDoubles(columns);
            if (!in.ok()) {
                break;
            }
            record->rows.append(row);
        }
        if (!in.ok() && record->rows.isEmpty()) {
            break;
        }
        nChannels = columns;
        nVoltageChannels = 0;
        record->recomputeAverage();
        temperatureRecords.append(record.release());
    }
}

bool tarvoDataSet::loadV14(const QString& filePath, qint64 position, int) {
    QFile file(filePath);
    if (!openAt(file, position)) {
        return false;
    }
    kdfInput in(file, kOldStreamVersion);
    dataKind = 0;
    in.readInt();
    in.readDouble();
    in.readInt();
    const qint32 points = in.readInt();
    in.readInt();
    const qint32 rows = in.readInt();
    if (in.ok() &&
        (!in.plausible(points) || rows < 0 || rows > MAX_ROWS || (rows == 0 && points != 0))) {
        in.fail();
    }
    const int sweeps = in.readCount();
    // Every sweep lands in the one scan.
    declaredScans = sweeps > 0 ? 1 : 0;
    const qint64 blockSize = static_cast<qint64>(points) * rows;
    for (int s = 0; s < sweeps && in.ok(); ++s) {
        const QVector<double> block = in.readDoubles(blockSize);
        if (in.ok()) {
            addTrace(block.constData(), 0.0, points, rows, 0, 1, false);
        }
    }
    if (!finishReading(in)) {
        return false;
    }
    nPoints = points;
    initChannels(rows);
    qDebug() << "Finished open v14";
    emit dataUpdated(false);
    return true;
}

bool tarvoDataSet::loadV12(const QString& filePath, qint64 position, int) {
    QFile file(filePath);
    if (!openAt(file, position)) {
        return false;
    }
    kdfInput in(file, kOldStreamVersion);
    dataKind = 0;
    unit = QStringLiteral("Usec");
    in.readInt();
    const double timeStep = in.readDouble();
    const quint32 startTime = static_cast<quint32>(in.readInt());
    const qint32 points = in.readInt();
    const qint32 frames = in.readInt();
    if (in.ok() && (!in.plausible(points) || !in.plausible(frames))) {
        in.fail();
    }
    const int sweeps = in.readCount();
    const qint64 frameSize = 2 * static_cast<qint64>(points);
    // Frames without points take no bytes: their traces are counted against the budget.
    if (in.ok() && frameSize == 0) {
        in.spend(static_cast<qint64>(frames) * sweeps);
    }
    nChannels = 1;
    nVoltageChannels = 1;
    nPoints = points;
    // Frame f of every sweep lands in the scan of its time stamp.
    declaredScans = sweeps > 0 ? frames : 0;
    for (int s = 0; s < sweeps && in.ok(); ++s) {
        for (int f = 0; f < frames && in.ok(); ++f) {
            const QVector<double> block = in.readDoubles(frameSize);
            if (in.ok()) {
                addTrace(block.constData(), f * timeStep + startTime, points, 2, 0, 1, false);
            }
        }
    }
    if (!finishReading(in)) {
        return false;
    }
    emit dataUpdated(false);
    return true;
}
