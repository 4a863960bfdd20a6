#include "data/recoveryjournal.h"

#include <QBuffer>
#include <QDataStream>
#include <QDebug>
#include <QFileInfo>
#include <QSaveFile>
#include <QVector>
#include <QtEndian>
#include <algorithm>
#include <array>
#include <mutex>

#include "data/kdfinput.h"
#include "data/tarvodataset.h"

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

const QByteArray& journalMagic() {
    static const QByteArray magic("KDJ1\r\n\x1a\n", 8);
    return magic;
}

constexpr int kRecordHead = 8;  // size and CRC

enum recordType : quint8 {
    Settings = 1,
    SweepScan,
    SweepTrace,
    ArScan,
    ArGroup,
    ArPoint,
    ArTrace,
    TemperatureRecord,
    TemperatureRow,
};

quint32 crc32(const char* data, qint64 size) {
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t{};
        for (quint32 i = 0; i < 256; ++i) {
            quint32 c = i;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            }
            t[i] = c;
        }
        return t;
    }();
    quint32 c = 0xFFFFFFFFu;
    for (qint64 i = 0; i < size; ++i) {
        c = table[(c ^ static_cast<quint8>(data[i])) & 0xFF] ^ (c >> 8);
    }
    return ~c;
}

bool syncToDisk(QFile& file) {
    if (!file.flush()) {
        return false;
    }
#ifdef Q_OS_UNIX
    return ::fdatasync(file.handle()) == 0;
#else
    return true;
#endif
}

// A stretch of the journal file: a trace, a reference or a row as the kdf file holds it.
struct span {
    qint64 offset;
    int size;
};

}  // namespace

// What the journal holds of the data set: per list, how many items (and per item, how many
// traces or rows) it has logged.
struct recoveryJournal::cursor {
    struct arScan {
        const ivTrace* reference = nullptr;
        QVector<QVector<int>> traces;  // per group, per point
    };
    QByteArray settings;
    QVector<int> sweepTraces;
    QVector<arScan> arScans;
    QVector<int> temperatureRows;
};

// Records laid end to end in memory, each framed with its size and CRC.
class recoveryJournal::recordBatch {
public:
    recordBatch() : buffer(&bytes) {
        buffer.open(QIODevice::WriteOnly);
        out.setDevice(&buffer);
        out.setVersion(KDF_STREAM_VERSION);
    }

    template <typename Fill>
    void add(recordType type, Fill fill) {
        const int start = bytes.size();
        out << quint32(0) << quint32(0) << quint8(type);
        fill(out);
        const int size = bytes.size() - start - kRecordHead;
        char* head = bytes.data() + start;
        qToBigEndian<quint32>(size, head);
        qToBigEndian<quint32>(crc32(head + kRecordHead, size), head + 4);
    }

    QByteArray bytes;

private:
    QBuffer buffer;
    QDataStream out;
};

recoveryJournal::recoveryJournal(const QString& path)
    : filePath(path), file(path), held(std::make_unique<cursor>()) {}

recoveryJournal::~recoveryJournal() = default;

bool recoveryJournal::append(tarvoDataSet& set, const QVariantMap& extraSettings) {
    if (!rewrite && !QFileInfo::exists(filePath)) {
        rewrite = true;  // removed meanwhile: what it held is gone
    }
    if (rewrite) {
        file.close();
        *held = cursor();
    }
    // The header locks the data set itself.
    QBuffer header;
    header.open(QIODevice::WriteOnly);
    set.saveHeader(header, extraSettings);
    recordBatch batch;
    {
        std::lock_guard<std::mutex> locker(set.mutex);
        if (!set.hasData) {
            return true;
        }
        QByteArray settings;
        QDataStream fields(&settings, QIODevice::WriteOnly);
        fields.setVersion(KDF_STREAM_VERSION);
        fields << qint32(set.dataKind) << qint32(set.sensorCode)
               << qint32(set.nChannels + set.nVoltageChannels) << qint32(set.nPoints);
        settings += header.data();
        if (settings != held->settings) {
            batch.add(Settings, [&](QDataStream& out) {
                out.writeRawData(settings.constData(), settings.size());
            });
            held->settings = settings;
        }
        collect(set, batch);
    }
    if (batch.bytes.isEmpty()) {
        return true;
    }
    // A failed write leaves what `held` claims unsure: the next append starts over.
    rewrite = !(rewrite ? writeWhole(batch.bytes) : appendRecords(batch.bytes));
    return !rewrite;
}

void recoveryJournal::collect(const tarvoDataSet& set, recordBatch& batch) {
    cursor& c = *held;
    if (set.dataKind == 0) {
        for (qint32 s = 0; s < set.sweepScans.size(); ++s) {
            const tarvoScan* scan = set.sweepScans[s];
            if (s == c.sweepTraces.size()) {
                batch.add(SweepScan, [&](QDataStream& out) { out << scan->time; });
                c.sweepTraces.append(0);
            }
            for (int& t = c.sweepTraces[s]; t < scan->traces->size(); ++t) {
                batch.add(SweepTrace, [&](QDataStream& out) {
                    out << s;
                    writeTrace(out, scan->traces->at(t));
                });
            }
        }
    } else if (set.dataKind == 2) {
        for (qint32 s = 0; s < set.arScans.size(); ++s) {
            const kalderAspectRatioScan* scan = set.arScans[s];
            const bool fresh = s == c.arScans.size();
            if (fresh) {
                c.arScans.append(cursor::arScan());
            }
            cursor::arScan& a = c.arScans[s];
            if (fresh || scan->reference != a.reference) {
                batch.add(ArScan, [&](QDataStream& out) {
                    out << s << scan->altVoltageRow;
                    writeArScanStart(out, scan->key, scan->reference);
                });
                a.reference = scan->reference;
            }
            for (qint32 g = 0; g < scan->groups.size(); ++g) {
                const arGroup* group = scan->groups[g];
                if (g == a.traces.size()) {
                    batch.add(ArGroup, [&](QDataStream& out) { out << s << group->aspectRatio; });
                    a.traces.append(QVector<int>());
                }
                for (qint32 p = 0; p < group->points.size(); ++p) {
                    const arPoint* point = group->points[p];
                    if (p == a.traces[g].size()) {
                        batch.add(ArPoint, [&](QDataStream& out) {
                            out << s << g << point->voltage << point->secondValue;
                        });
                        a.traces[g].append(0);
                    }
                    for (int& t = a.traces[g][p]; t < point->traces.size(); ++t) {
                        batch.add(ArTrace, [&](QDataStream& out) {
                            out << s << g << p;
                            writeTrace(out, point->traces[t]);
                        });
                    }
                }
            }
        }
    } else {
        for (qint32 r = 0; r < set.temperatureRecords.size(); ++r) {
            const temperatureRecord* record = set.temperatureRecords[r];
            // As wide as the first row, which never changes.
            const qint32 columns = record->average.size();
            if (r == c.temperatureRows.size()) {
                batch.add(TemperatureRecord,
                          [&](QDataStream& out) { out << record->time << columns; });
                c.temperatureRows.append(0);
            }
            for (int& row = c.temperatureRows[r]; row < record->rows.size(); ++row) {
                batch.add(TemperatureRow, [&](QDataStream& out) {
                    out << r;
                    writeTemperatureRow(out, record->rows[row], columns);
                });
            }
        }
    }
}

bool recoveryJournal::writeWhole(const QByteArray& records) {
    QSaveFile whole(filePath);
    if (!whole.open(QIODevice::WriteOnly) || whole.write(journalMagic()) != journalMagic().size() ||
        whole.write(records) != records.size() || !whole.commit()) {
        qWarning() << "cannot write the recovery journal" << filePath << whole.errorString();
        return false;
    }
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        qWarning() << "cannot reopen the recovery journal" << filePath << file.errorString();
        return false;
    }
    return true;
}

bool recoveryJournal::appendRecords(const QByteArray& records) {
    const qint64 whole = file.size();
    if (file.write(records) == records.size() && syncToDisk(file)) {
        return true;
    }
    qWarning() << "cannot append to the recovery journal" << filePath << file.errorString();
    // A record cut short would end the journal for a reader: it goes.
    file.resize(whole);
    file.close();
    return false;
}

bool recoveryJournal::remove() {
    file.close();
    rewrite = true;
    return !QFile::exists(filePath) || QFile::remove(filePath);
}

// Reading.

namespace {

struct logged {
    struct arPoint {
        double voltage;
        double secondValue;
        QVector<span> traces;
    };
    struct arGroup {
        double aspectRatio;
        QVector<arPoint> points;
    };
    struct arScan {
        bool altVoltageRow;
        span start;
        QVector<arGroup> groups;
    };
    struct timed {
        double time;
        qint32 columns;  // temperature records only
        QVector<span> items;
    };

    QByteArray header;  // kdf JSON header of the settings that apply
    qint32 kind = -1;
    qint32 sensorCode = 0;
    qint32 rows = 0;
    qint32 points = 0;
    bool hasData = false;
    QVector<timed> sweepScans;
    QVector<arScan> arScans;
    QVector<timed> temperatureRecords;

    template <typename List>
    static bool has(const List& list, qint32 index) {
        return index >= 0 && index < list.size();
    }

    // Takes one record's body (at `offset` in the file); false when it does not fit what came
    // before.
    bool take(const QByteArray& body, qint64 offset) {
        QDataStream in(body);
        in.setVersion(KDF_STREAM_VERSION);
        quint8 type = 0;
        in >> type;
        // The fields read whole and the record belongs to the data of this kind.
        const auto fits = [&](int wanted) {
            return in.status() == QDataStream::Ok && kind == wanted;
        };
        const auto rest = [&] {
            const int at = static_cast<int>(in.device()->pos());
            return span{offset + at, body.size() - at};
        };
        qint32 s = -1;
        qint32 g = -1;
        qint32 p = -1;
        double a = 0.0;
        double b = 0.0;
        switch (type) {
            case Settings: {
                qint32 k = -1;
                in >> k >> sensorCode >> rows >> points;
                if (in.status() != QDataStream::Ok || (k != 0 && k != 2 && k != 3) ||
                    (hasData && k != kind)) {
                    return false;
                }
                kind = k;
                header = body.mid(static_cast<int>(in.device()->pos()));
                return true;
            }
            case SweepScan:
                in >> a;
                if (!fits(0)) {
                    return false;
                }
                sweepScans.append({a, 0, {}});
                break;
            case SweepTrace:
                in >> s;
                if (!fits(0) || !has(sweepScans, s)) {
                    return false;
                }
                sweepScans[s].items.append(rest());
                break;
            case ArScan: {
                bool alt = false;
                in >> s >> alt;
                if (!fits(2) || s < 0 || s > arScans.size()) {
                    return false;
                }
                if (s == arScans.size()) {
                    arScans.append({alt, rest(), {}});
                } else {
                    arScans[s].altVoltageRow = alt;
                    arScans[s].start = rest();
                }
                break;
            }
            case ArGroup:
                in >> s >> a;
                if (!fits(2) || !has(arScans, s)) {
                    return false;
                }
                arScans[s].groups.append(arGroup{a, {}});
                break;
            case ArPoint:
                in >> s >> g >> a >> b;
                if (!fits(2) || !has(arScans, s) || !has(arScans[s].groups, g)) {
                    return false;
                }
                arScans[s].groups[g].points.append({a, b, {}});
                break;
            case ArTrace:
                in >> s >> g >> p;
                if (!fits(2) || !has(arScans, s) || !has(arScans[s].groups, g) ||
                    !has(arScans[s].groups[g].points, p)) {
                    return false;
                }
                arScans[s].groups[g].points[p].traces.append(rest());
                break;
            case TemperatureRecord:
                in >> a >> s;
                if (!fits(3) || s < 0) {
                    return false;
                }
                temperatureRecords.append({a, s, {}});
                break;
            case TemperatureRow:
                in >> s;
                if (!fits(3) || !has(temperatureRecords, s) ||
                    rest().size != qint64(8) * temperatureRecords[s].columns) {
                    return false;
                }
                temperatureRecords[s].items.append(rest());
                break;
            default:
                return false;
        }
        hasData = true;
        return true;
    }
};

// Reads the records of a journal until the first that is cut, damaged or does not fit;
// `each` takes a body and its offset and returns false to stop.
template <typename Each>
bool readRecords(QFile& file, Each each) {
    if (!file.open(QIODevice::ReadOnly) || file.read(journalMagic().size()) != journalMagic()) {
        return false;
    }
    qint64 position = journalMagic().size();
    const qint64 end = file.size();
    while (end - position >= kRecordHead) {
        const QByteArray head = file.read(kRecordHead);
        const quint32 size = qFromBigEndian<quint32>(head.constData());
        const quint32 crc = qFromBigEndian<quint32>(head.constData() + 4);
        if (size == 0 || size > end - position - kRecordHead) {
            break;
        }
        const QByteArray body = file.read(size);
        if (body.size() != static_cast<int>(size) || crc32(body.constData(), size) != crc ||
            !each(body, position + kRecordHead)) {
            break;
        }
        position += kRecordHead + size;
    }
    return true;
}

bool copySpan(QFile& from, const span& s, QDataStream& to) {
    if (!from.seek(s.offset)) {
        return false;
    }
    const QByteArray bytes = from.read(s.size);
    return bytes.size() == s.size && to.writeRawData(bytes.constData(), s.size) == s.size;
}

}  // namespace

bool recoveryJournal::isJournal(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(journalMagic().size()) == journalMagic();
}

QByteArray recoveryJournal::firstHeader(const QString& path) {
    QFile file(path);
    logged first;
    readRecords(file, [&](const QByteArray& body, qint64 offset) {
        first.take(body, offset);
        return false;
    });
    return first.header;
}

bool recoveryJournal::rebuild(const QString& path, QIODevice& out) {
    QFile file(path);
    logged log;
    if (!readRecords(
            file, [&](const QByteArray& body, qint64 offset) { return log.take(body, offset); }) ||
        !log.hasData) {
        return false;
    }
    if (out.write(log.header) != log.header.size()) {
        return false;
    }
    QDataStream to(&out);
    to.setVersion(KDF_STREAM_VERSION);
    writeDataMarker(to);
    writeDataHead(to, log.kind, log.sensorCode);
    bool copied = true;
    const auto copy = [&](const span& s) { copied = copied && copySpan(file, s, to); };
    if (log.kind == 0) {
        writeBodyHead(to, log.kind, log.sweepScans.size(), log.rows, log.points);
        for (const logged::timed& scan : log.sweepScans) {
            writeSweepScanHead(to, scan.time, scan.items.size());
            std::for_each(scan.items.begin(), scan.items.end(), copy);
        }
    } else if (log.kind == 2) {
        writeBodyHead(to, log.kind, log.arScans.size(), log.rows, 0);
        for (const logged::arScan& scan : log.arScans) {
            copy(scan.start);
            writeArScanGroups(to, scan.groups.size(), scan.altVoltageRow);
            for (const logged::arGroup& group : scan.groups) {
                writeArGroupHead(to, group.aspectRatio, group.points.size());
                for (const logged::arPoint& point : group.points) {
                    writeArPointHead(to, point.voltage, point.secondValue, point.traces.size());
                    std::for_each(point.traces.begin(), point.traces.end(), copy);
                }
            }
        }
    } else {
        writeBodyHead(to, log.kind, log.temperatureRecords.size(), 0, 0);
        for (const logged::timed& record : log.temperatureRecords) {
            writeTemperatureRecordHead(to, record.time, record.columns, record.items.size());
            std::for_each(record.items.begin(), record.items.end(), copy);
        }
    }
    return copied && to.status() == QDataStream::Ok;
}
