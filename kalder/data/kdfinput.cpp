#include "kdfinput.h"

#include <QtEndian>
#include <cstring>
#include <vector>

#include "ivtrace.h"
#include "kdfimage.h"

kdfInput::kdfInput(QIODevice& dev, int streamVersion)
    : device(dev), in(&dev), deviceSize(dev.size()), itemBudget(deviceSize) {
    in.setVersion(streamVersion);
    in.setByteOrder(QDataStream::BigEndian);
}

qint64 kdfInput::remaining() const {
    return deviceSize - device.pos();
}

bool kdfInput::seek(qint64 position) {
    if (!device.seek(position)) {
        failed = true;
    }
    return !failed;
}

qint32 kdfInput::readInt() {
    qint32 value = 0;
    in >> value;
    return ok() ? value : 0;
}

double kdfInput::readDouble() {
    double value = 0.0;
    in >> value;
    return ok() ? value : 0.0;
}

bool kdfInput::readBool() {
    bool value = false;
    in >> value;
    return ok() && value;
}

void kdfInput::skip(qint64 bytes) {
    if (bytes < 0) {
        failed = true;
    } else if (bytes > remaining() || in.skipRawData(static_cast<int>(bytes)) != bytes) {
        ended = true;
    }
}

bool kdfInput::fits(qint64 count, qint64 itemBytes) const {
    if (count < 0) {
        return false;
    }
    return itemBytes <= 0 || count <= remaining() / itemBytes;
}

bool kdfInput::spend(qint64 count) {
    if (count < 0 || count > itemBudget) {
        failed = true;
        return false;
    }
    itemBudget -= count;
    return true;
}

int kdfInput::readCount() {
    const qint32 count = readInt();
    return ok() && spend(count) ? count : -1;
}

bool kdfInput::readDoubles(double* dest, qint64 count) {
    if (count < 0) {
        failed = true;
    }
    if (!ok()) {
        return false;
    }
    if (!fits(count, sizeof(double))) {
        ended = true;
        return false;
    }
    const qint64 bytes = count * static_cast<qint64>(sizeof(double));
    if (bytes == 0) {
        return true;
    }
    char* raw = reinterpret_cast<char*>(dest);
    if (device.read(raw, bytes) != bytes) {
        ended = true;
        return false;
    }
    for (qint64 i = 0; i < count; ++i) {
        quint64 word;
        std::memcpy(&word, raw + i * 8, 8);
        word = qFromBigEndian(word);
        std::memcpy(raw + i * 8, &word, 8);
    }
    return true;
}

QVector<double> kdfInput::readDoubles(qint64 count) {
    QVector<double> values;
    if (ok() && count >= 0 && fits(count, sizeof(double))) {
        values.resize(static_cast<int>(count));
    }
    if (!readDoubles(values.data(), count)) {
        values.clear();
    }
    return values;
}

QByteArray kdfInput::readBytes(qint64 count) {
    if (count < 0) {
        failed = true;
    }
    if (!ok()) {
        return QByteArray();
    }
    if (!fits(count, 1)) {
        ended = true;
        return QByteArray();
    }
    QByteArray bytes = device.read(count);
    if (bytes.size() != count) {
        ended = true;
    }
    return bytes;
}

std::unique_ptr<ivTrace> kdfInput::readTrace(bool useCollectorDiscriminator,
                                             bool useUnfilteredEnergy) {
    const qint32 header = readInt();
    const qint32 points = readInt();
    const int rows = header & 0xFF;
    if (!ok()) {
        return nullptr;
    }
    // A trace without rows has no points either: nothing of the file would back them.
    if (rows > MAX_ROWS || !plausible(points) || (rows == 0 && points != 0)) {
        failed = true;
        return nullptr;
    }
    if (!fits(static_cast<qint64>(rows) * points, sizeof(double))) {
        ended = true;  // nothing is allocated for a trace the file does not hold
        return nullptr;
    }
    auto trace =
        std::make_unique<ivTrace>(points, rows, useCollectorDiscriminator, useUnfilteredEnergy, 0);
    trace->alternateRows = ((header >> 8) & 0xFF) == 0xFF;
    for (int r = 0; r < rows && points > 0; ++r) {
        if (!readDoubles(trace->currents[r].data(), points)) {
            return nullptr;
        }
    }
    trace->rebuildCurves();
    return trace;
}

namespace {

// Big-endian copy of `count` doubles appended to `buffer`.
void appendBigEndian(std::vector<quint64>& buffer, const double* values, qint64 count) {
    if (count <= 0) {
        return;  // an empty row may have no storage at all
    }
    const size_t start = buffer.size();
    buffer.resize(start + static_cast<size_t>(count));
    std::memcpy(buffer.data() + start, values, static_cast<size_t>(count) * sizeof(double));
    for (size_t i = start; i < buffer.size(); ++i) {
        buffer[i] = qToBigEndian(buffer[i]);
    }
}

void writeWords(QDataStream& out, const std::vector<quint64>& buffer) {
    out.writeRawData(reinterpret_cast<const char*>(buffer.data()),
                     static_cast<int>(buffer.size() * sizeof(quint64)));
}

}  // namespace

void writeDoubles(QDataStream& out, const double* values, qint64 count) {
    std::vector<quint64> buffer;
    appendBigEndian(buffer, values, count);
    writeWords(out, buffer);
}

void writeTrace(QDataStream& out, const ivTrace* trace) {
    if (trace == nullptr) {
        out << qint32(0) << qint32(0);
        return;
    }
    const qint32 rows = static_cast<qint32>(trace->nRows);
    const qint32 points = static_cast<qint32>(trace->nPoints);
    out << qint32(rows | (trace->alternateRows ? 0xFF00 : 0)) << points;
    // Into an image taken under the lock: the rows themselves, shared, not their bytes.
    if (auto* image = dynamic_cast<kdfImage*>(out.device())) {
        for (int r = 0; r < rows && points > 0; ++r) {
            image->appendRow(trace->currents[r], points);
        }
        return;
    }
    // All rows in one block: one write per trace instead of one per value.
    thread_local std::vector<quint64> buffer;
    buffer.clear();
    for (int r = 0; r < rows && points > 0; ++r) {
        appendBigEndian(buffer, trace->currents[r].constData(), points);
    }
    writeWords(out, buffer);
}
