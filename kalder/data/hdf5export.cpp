// HDF5 export of a data set, written with the HDF5 C library.
#include "hdf5export.h"

#include <hdf5.h>
#include <unistd.h>

#include <QDateTime>
#include <QDebug>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QTemporaryFile>
#include <QVariant>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <mutex>
#include <vector>

#include "iedfanalysis.h"
#include "settingtext.h"
#include "tarvodataset.h"

namespace {

// Version of the layout written here; readers can tell later layouts apart by it.
constexpr int kLayoutVersion = 1;
// Values per chunk of the compressed datasets (256 KiB of doubles).
constexpr hsize_t kChunkValues = 32768;

// An HDF5 identifier closed when it goes out of scope.
class handle {
public:
    handle(hid_t id, herr_t (*closer)(hid_t)) : id(id), closer(closer) {}
    ~handle() { close(); }
    handle(const handle&) = delete;
    handle& operator=(const handle&) = delete;
    operator hid_t() const { return id; }
    bool valid() const { return id >= 0; }
    // Closes now; false when closing failed (for a file: the last data did not reach it).
    bool close() {
        const bool ok = id < 0 || closer(id) >= 0;
        id = -1;
        return ok;
    }

private:
    hid_t id;
    herr_t (*closer)(hid_t);
};

// Fills the values of item i (one row of the first dimension) into dst.
using itemFiller = std::function<void(hsize_t i, double* dst)>;

// Writes groups, datasets and attributes; the first failure is kept and everything after it
// is skipped.
class h5Writer {
public:
    bool failed() const { return !what.isEmpty(); }
    QString error() const { return what; }

    void fail(const QString& text) {
        if (what.isEmpty()) {
            what = text;
        }
    }

    hid_t group(hid_t parent, const QString& name) {
        const hid_t id = failed() ? -1
                                  : H5Gcreate2(parent, name.toUtf8().constData(), H5P_DEFAULT,
                                               H5P_DEFAULT, H5P_DEFAULT);
        if (id < 0) {
            fail(QStringLiteral("cannot create the group %1").arg(name));
        }
        return id;
    }

    // A double dataset of the given shape whose values come item by item (an item is one index
    // of the first dimension), with its units. Compressed datasets are chunked along the first
    // dimension and written a chunk at a time, so no copy of the whole dataset is made.
    void doubles(hid_t parent, const char* name, const std::vector<hsize_t>& dims,
                 const char* units, const itemFiller& fill, bool compress = false) {
        if (failed()) {
            return;
        }
        hsize_t itemSize = 1;
        for (size_t d = 1; d < dims.size(); ++d) {
            itemSize *= dims[d];
        }
        const hsize_t items = dims.empty() ? 1 : dims[0];
        const bool empty = items == 0 || itemSize == 0;
        handle props(H5Pcreate(H5P_DATASET_CREATE), H5Pclose);
        hsize_t block = std::max<hsize_t>(1, items);
        if (compress && !empty) {
            block = std::min(items, std::max<hsize_t>(1, kChunkValues / itemSize));
            std::vector<hsize_t> chunk = dims;
            chunk[0] = block;
            if (H5Pset_chunk(props, int(chunk.size()), chunk.data()) < 0 ||
                H5Pset_shuffle(props) < 0 || H5Pset_deflate(props, 1) < 0) {
                fail(QStringLiteral("cannot set up compression for %1").arg(name));
                return;
            }
        }
        handle space(dims.empty() ? H5Screate(H5S_SCALAR)
                                  : H5Screate_simple(int(dims.size()), dims.data(), nullptr),
                     H5Sclose);
        handle set(H5Dcreate2(parent, name, H5T_IEEE_F64LE, space, H5P_DEFAULT, props, H5P_DEFAULT),
                   H5Dclose);
        if (!space.valid() || !set.valid()) {
            fail(QStringLiteral("cannot create the dataset %1").arg(name));
            return;
        }
        std::vector<double> buffer;
        for (hsize_t first = 0; !empty && first < items; first += block) {
            const hsize_t count = std::min(block, items - first);
            buffer.assign(count * itemSize, 0.0);
            for (hsize_t i = 0; i < count; ++i) {
                fill(first + i, buffer.data() + i * itemSize);
            }
            std::vector<hsize_t> start(dims.size(), 0), size = dims;
            if (!dims.empty()) {
                start[0] = first;
                size[0] = count;
            }
            handle memory(dims.empty() ? H5Screate(H5S_SCALAR)
                                       : H5Screate_simple(int(size.size()), size.data(), nullptr),
                          H5Sclose);
            if (!dims.empty() && H5Sselect_hyperslab(space, H5S_SELECT_SET, start.data(), nullptr,
                                                     size.data(), nullptr) < 0) {
                fail(QStringLiteral("cannot select in the dataset %1").arg(name));
                return;
            }
            if (H5Dwrite(set, H5T_NATIVE_DOUBLE, memory, space, H5P_DEFAULT, buffer.data()) < 0) {
                fail(QStringLiteral("cannot write the dataset %1").arg(name));
                return;
            }
        }
        text(set, "units", QString::fromLatin1(units));
    }

    // A one-dimensional double dataset from a vector.
    void doubles(hid_t parent, const char* name, const QVector<double>& values, const char* units) {
        doubles(parent, name, {hsize_t(values.size())}, units,
                [&](hsize_t i, double* dst) { *dst = values[int(i)]; });
    }

    void number(hid_t object, const char* name, double value) {
        numbers(object, name, {value}, false);
    }

    void integer(hid_t object, const char* name, qint64 value) {
        attribute(object, name, H5T_STD_I64LE, H5T_NATIVE_INT64, &value, nullptr);
    }

    void text(hid_t object, const char* name, const QString& value) {
        texts(object, name, {value}, false);
    }

    // A settings value as an attribute: numbers as numbers, booleans as 0 or 1 (8-bit), text
    // and dates as UTF-8 text, lists of numbers or of text as arrays, anything else (maps,
    // mixed or nested lists) as compact JSON text.
    void setting(hid_t object, const QString& key, const QVariant& value) {
        const QByteArray name = key.toUtf8();
        const int type = value.userType();
        if (type == QMetaType::Bool) {
            const qint8 flag = value.toBool() ? 1 : 0;
            attribute(object, name.constData(), H5T_STD_I8LE, H5T_NATIVE_INT8, &flag, nullptr);
        } else if (type == QMetaType::Int || type == QMetaType::UInt ||
                   type == QMetaType::LongLong || type == QMetaType::ULongLong) {
            integer(object, name.constData(), value.toLongLong());
        } else if (type == QMetaType::Double || type == QMetaType::Float) {
            number(object, name.constData(), value.toDouble());
        } else if (type == QMetaType::QDateTime) {
            text(object, name.constData(), value.toDateTime().toString(Qt::ISODateWithMs));
        } else if (type == QMetaType::QString) {
            text(object, name.constData(), value.toString());
        } else if (type == QMetaType::QVariantList || type == QMetaType::QStringList) {
            list(object, name, value.toList());
        } else {
            text(object, name.constData(), settingText(value));
        }
    }

private:
    void list(hid_t object, const QByteArray& name, const QVariantList& values) {
        bool allNumbers = true, allText = true, allFlags = true;
        std::vector<double> numbersOf;
        QStringList textOf;
        for (const QVariant& v : values) {
            const int type = v.userType();
            const bool isNumber = type == QMetaType::Double || type == QMetaType::Float ||
                                  type == QMetaType::Int || type == QMetaType::UInt ||
                                  type == QMetaType::LongLong || type == QMetaType::ULongLong ||
                                  type == QMetaType::Bool;
            allNumbers = allNumbers && isNumber;
            allText = allText && type == QMetaType::QString;
            allFlags = allFlags && type == QMetaType::Bool;
            numbersOf.push_back(v.toDouble());
            textOf << v.toString();
        }
        if (allFlags && !values.isEmpty()) {
            std::vector<qint8> flags(numbersOf.begin(), numbersOf.end());
            const hsize_t size = flags.size();
            attribute(object, name.constData(), H5T_STD_I8LE, H5T_NATIVE_INT8, flags.data(), &size);
        } else if (allNumbers) {
            numbers(object, name.constData(), numbersOf, true);
        } else if (allText) {
            texts(object, name.constData(), textOf, true);
        } else {
            text(object, name.constData(), settingText(values));
        }
    }

    void numbers(hid_t object, const char* name, const std::vector<double>& values, bool array) {
        const hsize_t size = values.size();
        attribute(object, name, H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, values.data(),
                  array ? &size : nullptr);
    }

    void texts(hid_t object, const char* name, const QStringList& values, bool array) {
        handle type(H5Tcopy(H5T_C_S1), H5Tclose);
        if (!type.valid() || H5Tset_size(type, H5T_VARIABLE) < 0 ||
            H5Tset_cset(type, H5T_CSET_UTF8) < 0) {
            fail(QStringLiteral("cannot make a text type for %1").arg(QString::fromUtf8(name)));
            return;
        }
        std::vector<QByteArray> bytes;
        std::vector<const char*> pointers;
        for (const QString& v : values) {
            bytes.push_back(v.toUtf8());
        }
        for (const QByteArray& b : bytes) {
            pointers.push_back(b.constData());
        }
        const hsize_t size = values.size();
        attribute(object, name, type, type, pointers.data(), array ? &size : nullptr);
    }

    // An attribute of one value (size nullptr) or a one-dimensional array; an attribute of
    // that name already there (a settings key equal to one of the layout's own) is replaced.
    void attribute(hid_t object, const char* name, hid_t fileType, hid_t memoryType,
                   const void* data, const hsize_t* size) {
        if (failed()) {
            return;
        }
        if (H5Aexists(object, name) > 0) {
            H5Adelete(object, name);
        }
        handle space(size ? H5Screate_simple(1, size, nullptr) : H5Screate(H5S_SCALAR), H5Sclose);
        handle attr(H5Acreate2(object, name, fileType, space, H5P_DEFAULT, H5P_DEFAULT), H5Aclose);
        if (!space.valid() || !attr.valid() ||
            ((!size || *size > 0) && H5Awrite(attr, memoryType, data) < 0)) {
            fail(QStringLiteral("cannot write the attribute %1").arg(QString::fromUtf8(name)));
        }
    }

    QString what;
};

QString groupName(const char* prefix, int index) {
    return QStringLiteral("%1_%2")
        .arg(QLatin1String(prefix))
        .arg(index + 1, 4, 10, QLatin1Char('0'));
}

// The time unit of the data set as the units attribute writes it.
QString timeUnits(const tarvoDataSet& set) {
    return set.timeUnit().compare(QLatin1String("usec"), Qt::CaseInsensitive) == 0
               ? QStringLiteral("us")
               : QStringLiteral("s");
}

// Row r of a trace, or zeros where the trace has no such row or fewer points.
void copyRow(const ivTrace& trace, int row, hsize_t points, double* dst) {
    if (!trace.allocated || row < 0 || row >= int(trace.nRows)) {
        return;
    }
    const QVector<double>& values = trace.currents[row];
    std::copy_n(values.constData(), std::min<hsize_t>(points, hsize_t(values.size())), dst);
}

// The rows of one trace: energy axis, currents and dI/dE of the current channels, the voltage
// rows (all points, no crop).
void writeTraceCurves(h5Writer& w, hid_t group, const ivTrace& trace) {
    const hsize_t points = trace.allocated ? trace.nPoints : 0;
    const hsize_t channels = hsize_t(trace.currentRows());
    const hsize_t voltages = trace.nVoltageRows;
    w.doubles(group, "energy", {points}, "eV",
              [&](hsize_t j, double* dst) { *dst = trace.energy.value(int(j)); });
    w.doubles(group, "current", {channels, points}, "A",
              [&](hsize_t c, double* dst) { copyRow(trace, int(c), points, dst); });
    w.doubles(group, "dIdE", {channels, points}, "A/eV", [&](hsize_t c, double* dst) {
        const QVector<double>& d = trace.dIdERow(c);
        std::copy_n(d.constData(), std::min<hsize_t>(points, hsize_t(d.size())), dst);
    });
    w.doubles(group, "voltages", {voltages, points}, "V",
              [&](hsize_t r, double* dst) { copyRow(trace, int(channels + r), points, dst); });
}

// Every sweep of a list: currents (sweeps × channels × points) and voltage rows, compressed.
void writeSweeps(h5Writer& w, hid_t group, const QList<ivTrace*>& traces, hsize_t channels,
                 hsize_t voltages, hsize_t points, const char* currentName,
                 const char* voltageName) {
    const hsize_t count = traces.size();
    w.doubles(
        group, currentName, {count, channels, points}, "A",
        [&](hsize_t t, double* dst) {
            for (hsize_t c = 0; c < channels; ++c) {
                copyRow(*traces[int(t)], int(c), points, dst + c * points);
            }
        },
        true);
    w.doubles(
        group, voltageName, {count, voltages, points}, "V",
        [&](hsize_t t, double* dst) {
            const ivTrace& trace = *traces[int(t)];
            const int first = int(trace.nRows) - int(voltages);
            for (hsize_t r = 0; r < voltages; ++r) {
                copyRow(trace, first + int(r), points, dst + r * points);
            }
        },
        true);
}

// The IEDF peaks of every channel: energy, height and FWHM of up to two peaks (channels × 2,
// NaN where a channel has fewer) and their separation (NaN unless two).
void writePeaks(h5Writer& w, hid_t group, const tarvoScan& scan, int channels) {
    std::vector<iedfPeaks> peaks;
    for (int c = 0; c < channels; ++c) {
        peaks.push_back(scanIedfPeaks(scan, c));
    }
    const hsize_t dims[2] = {hsize_t(channels), 2};
    const auto figure = [&](const char* name, const char* units, double iedfPeak::*member) {
        w.doubles(group, name, {dims[0], dims[1]}, units, [&](hsize_t c, double* dst) {
            for (size_t k = 0; k < 2; ++k) {
                dst[k] = k < peaks[c].peaks.size() ? peaks[c].peaks[k].*member : NAN;
            }
        });
    };
    figure("peakEnergy", "eV", &iedfPeak::energy);
    figure("peakHeight", "A/eV", &iedfPeak::height);
    figure("peakFwhm", "eV", &iedfPeak::fwhm);
    w.doubles(group, "peakSeparation", {dims[0]}, "eV",
              [&](hsize_t c, double* dst) { *dst = peaks[c].separation; });
}

void writeSweepScan(h5Writer& w, hid_t group, const tarvoScan& scan, const QString& units) {
    const ivTrace& average = *scan.average;
    const int channels = average.currentRows();
    w.number(group, "time", scan.time);
    w.text(group, "timeUnits", units);
    w.number(group, "electrodeVoltage", average.averageElectrodeVoltage());
    w.text(group, "electrodeVoltageUnits", QStringLiteral("V"));
    w.integer(group, "traceCount", scan.traces->size());
    writeTraceCurves(w, group, average);
    w.doubles(group, "averageEnergy", {hsize_t(channels)}, "eV",
              [&](hsize_t c, double* dst) { *dst = average.averageEnergy(int(c)); });
    w.doubles(group, "ionFlux", {hsize_t(channels)}, "A/m2",
              [&](hsize_t c, double* dst) { *dst = average.ionFlux(int(c)); });
    writePeaks(w, group, scan, channels);
    writeSweeps(w, group, *scan.traces, hsize_t(channels), average.nVoltageRows,
                average.allocated ? average.nPoints : 0, "traces", "traceVoltages");
}

// One group of an aspect-ratio scan: its points' set voltages and their mean voltage and slope,
// the per-channel results, and every 2-point sweep with the index of its point.
void writeArGroup(h5Writer& w, hid_t parent, arGroup& group, int channels) {
    w.number(parent, "aspectRatio", group.aspectRatio);
    w.integer(parent, "complete", group.complete ? 1 : 0);
    const hsize_t points = group.points.size();
    const hsize_t chans = hsize_t(channels);
    w.doubles(parent, "voltage", {points}, "V",
              [&](hsize_t p, double* dst) { *dst = group.points[int(p)]->voltage; });
    w.doubles(parent, "meanVoltage", {points}, "V",
              [&](hsize_t p, double* dst) { *dst = group.points[int(p)]->meanVoltageFor(0); });
    w.doubles(parent, "meanSlope", {chans, points}, "A/V", [&](hsize_t c, double* dst) {
        for (hsize_t p = 0; p < points; ++p) {
            dst[p] = group.points[int(p)]->meanSlopeFor(int(c));
        }
    });
    w.doubles(parent, "ionFlux", {chans}, "A/m2",
              [&](hsize_t c, double* dst) { *dst = group.ionFlux(int(c)); });
    w.doubles(parent, "averageEnergy", {chans}, "eV",
              [&](hsize_t c, double* dst) { *dst = group.getAverageEnergy(int(c)); });
    QList<ivTrace*> sweeps;
    QVector<double> pointOf;
    hsize_t width = 0, rows = 0;
    for (int p = 0; p < group.points.size(); ++p) {
        for (ivTrace* t : group.points[p]->traces) {
            sweeps << t;
            pointOf << p;
            width = std::max<hsize_t>(width, t->allocated ? t->nPoints : 0);
            rows = std::max<hsize_t>(rows, t->nRows);
        }
    }
    const hsize_t voltages = rows > chans ? rows - chans : 0;
    writeSweeps(w, parent, sweeps, chans, voltages, width, "traces", "traceVoltages");
    w.doubles(parent, "tracePoint", pointOf, "1");
}

void writeArScan(h5Writer& w, hid_t group, kalderAspectRatioScan& scan, int channels) {
    w.number(group, "key", scan.key);
    w.number(group, "electrodeVoltage", scan.electrodeVoltage);
    w.text(group, "electrodeVoltageUnits", QStringLiteral("V"));
    w.integer(group, "altVoltageRow", scan.altVoltageRow ? 1 : 0);
    if (scan.reference) {
        handle reference(w.group(group, QStringLiteral("reference")), H5Gclose);
        writeTraceCurves(w, reference, *scan.reference);
    }
    for (int g = 0; g < scan.groups.size(); ++g) {
        handle sub(w.group(group, groupName("ar", g)), H5Gclose);
        writeArGroup(w, sub, *scan.groups[g], channels);
    }
}

void writeTemperatureRecord(h5Writer& w, hid_t group, const temperatureRecord& record,
                            const QString& units) {
    const hsize_t columns = record.average.size();
    w.number(group, "time", record.time);
    w.text(group, "timeUnits", units);
    w.doubles(group, "average", record.average, "degC");
    w.doubles(
        group, "rows", {hsize_t(record.rows.size()), columns}, "degC",
        [&](hsize_t r, double* dst) {
            const QVector<double>& row = record.rows[int(r)];
            std::copy_n(row.constData(), std::min<hsize_t>(columns, hsize_t(row.size())), dst);
        },
        true);
}

const char* kindName(int kind) {
    switch (kind) {
        case 0:
            return "IV";
        case 2:
            return "aspect ratio";
        default:
            return "temperature";
    }
}

// The root's attributes and one group per scan or record. Caller holds the data set's lock.
void writeContents(h5Writer& w, hid_t file, tarvoDataSet& set) {
    handle root(H5Gopen2(file, "/", H5P_DEFAULT), H5Gclose);
    for (auto it = set.settingsMap.constBegin(); it != set.settingsMap.constEnd(); ++it) {
        w.setting(root, it.key(), it.value());
    }
    const QString units = timeUnits(set);
    const bool temperature = set.dataKind == 1 || set.dataKind == 3;
    w.integer(root, "layoutVersion", kLayoutVersion);
    w.integer(root, "dataKind", temperature ? 3 : set.dataKind);
    w.text(root, "dataKindName", QLatin1String(kindName(set.dataKind)));
    w.integer(root, "sensorCode", set.sensorCode);
    // The rows the scans' datasets hold: those of the sweeps themselves, which need not be the
    // split of the data set's total row count (a 16-row sweep in a data set of 24 rows).
    int channels = set.nChannels, voltages = set.nVoltageChannels;
    const ivTrace* first =
        set.dataKind == 0 && !set.sweepScans.isEmpty() ? set.sweepScans.first()->average
        : set.dataKind == 2 && !set.arScans.isEmpty()  ? set.arScans.first()->reference
                                                       : nullptr;
    if (first && first->nRows > 0) {
        channels = first->currentRows();
        voltages = int(first->nVoltageRows);
    }
    w.integer(root, "currentChannels", channels);
    w.integer(root, "voltageRows", voltages);
    w.integer(root, "points", set.nPoints);
    w.text(root, "timeUnits", units);
    w.text(root, "exportDate", QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    if (!set.filePath().isEmpty()) {
        w.text(root, "sourceFile", set.filePath());
    }
    if (set.fileVersion > 0) {
        w.integer(root, "kdfVersion", set.fileVersion);
    }
    if (set.dataKind == 0) {
        w.integer(root, "scanCount", set.sweepScans.size());
        for (int i = 0; i < set.sweepScans.size() && !w.failed(); ++i) {
            handle group(w.group(root, groupName("scan", i)), H5Gclose);
            writeSweepScan(w, group, *set.sweepScans[i], units);
        }
    } else if (set.dataKind == 2) {
        w.integer(root, "scanCount", set.arScans.size());
        for (int i = 0; i < set.arScans.size() && !w.failed(); ++i) {
            handle group(w.group(root, groupName("scan", i)), H5Gclose);
            writeArScan(w, group, *set.arScans[i], set.nChannels);
        }
    } else {
        w.integer(root, "scanCount", set.temperatureRecords.size());
        for (int i = 0; i < set.temperatureRecords.size() && !w.failed(); ++i) {
            handle group(w.group(root, groupName("record", i)), H5Gclose);
            writeTemperatureRecord(w, group, *set.temperatureRecords[i], units);
        }
    }
}

// Flushes the file's data to the disk, so that the rename cannot expose a file whose data a
// crash would lose.
bool syncFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadWrite) && ::fsync(file.handle()) == 0;
}

// The HDF5 library's own error report on standard error is replaced by our one message.
class quietErrors {
public:
    quietErrors() {
        H5Eget_auto2(H5E_DEFAULT, &function, &data);
        H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    }
    ~quietErrors() { H5Eset_auto2(H5E_DEFAULT, function, data); }

private:
    H5E_auto2_t function = nullptr;
    void* data = nullptr;
};

}  // namespace

bool toHdf5(tarvoDataSet& set, const QString& target, QString* error) {
    const auto failed = [&](const QString& text) {
        qWarning() << "toHdf5:" << text;
        if (error) {
            *error = text;
        }
        return false;
    };
    // A unique name beside the target, on the same file system, for the rename at the end.
    QString temporary;
    {
        QTemporaryFile reserve(target + QStringLiteral(".XXXXXX"));
        reserve.setAutoRemove(false);
        if (!reserve.open()) {
            return failed(QStringLiteral("cannot create a file beside %1: %2")
                              .arg(target, reserve.errorString()));
        }
        temporary = reserve.fileName();
    }
    const QByteArray temporaryName = QFile::encodeName(temporary);
    quietErrors quiet;
    h5Writer w;
    {
        handle file(H5Fcreate(temporaryName.constData(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT),
                    H5Fclose);
        if (!file.valid()) {
            w.fail(QStringLiteral("cannot create %1").arg(temporary));
        } else {
            std::lock_guard<std::mutex> locker(set.mutex);
            writeContents(w, file, set);
        }
        if (!file.close()) {
            w.fail(QStringLiteral("cannot complete %1").arg(temporary));
        }
    }
    // The temporary file is private to its owner; the export gets the permissions of the file
    // it replaces, or the usual ones.
    const QFile::Permissions permissions =
        QFile::exists(target) ? QFile::permissions(target)
                              : QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser |
                                    QFile::WriteUser | QFile::ReadGroup | QFile::ReadOther;
    QFile::setPermissions(temporary, permissions);
    if (!w.failed() && !syncFile(temporary)) {
        w.fail(QStringLiteral("cannot flush %1 to the disk").arg(temporary));
    }
    // rename replaces an existing target in one step; a directory of that name stays.
    if (!w.failed() && std::rename(temporaryName.constData(), QFile::encodeName(target)) != 0) {
        w.fail(QStringLiteral("cannot replace %1").arg(target));
    }
    if (w.failed()) {
        QFile::remove(temporary);
        return failed(QStringLiteral("%1: %2").arg(target, w.error()));
    }
    return true;
}
