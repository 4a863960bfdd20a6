#include "datareport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <cstdio>
#include <mutex>

#include "data/exportchoices.h"
#include "data/hdf5export.h"
#include "data/iedfanalysis.h"
#include "data/settingtext.h"
#include "data/tarvodataset.h"

namespace {

const char* kindName(int kind) {
    switch (kind) {
        case 0:
            return "IV scans";
        case 2:
            return "aspect-ratio scans";
        case 1:
        case 3:
            return "temperature records";
        default:
            return "unknown";
    }
}

// What ends every result line: data measured on the virtual sensor say so on each line, so that
// no line copied out of the output passes for a measurement.
const char* resultMark(const tarvoDataSet& set) {
    return set.settingsMap.value(QStringLiteral("linkBackend")).toString() ==
                   QLatin1String("virtual")
               ? " (simulated)"
               : "";
}

void printChannel(int channel, double energy, double flux, const char* mark) {
    std::printf("channel %d: average energy %.4g eV, ion flux %.4g A/m2%s\n", channel + 1, energy,
                flux, mark);
}

QString peakText(const iedfPeak& p) {
    return QString::asprintf("%.4g eV (height %.4g A/eV, FWHM %.4g eV)", p.energy, p.height,
                             p.fwhm);
}

// The IEDF peaks of a channel on one line.
void printPeaks(int channel, const iedfPeaks& found, const char* mark) {
    QString text;
    if (found.peaks.empty()) {
        text = QStringLiteral("no IEDF peak");
    } else if (found.peaks.size() == 1) {
        text = QStringLiteral("IEDF peak at ") + peakText(found.peaks[0]);
    } else {
        text = QStringLiteral("IEDF peaks at %1 and %2, separation %3 eV")
                   .arg(peakText(found.peaks[0]), peakText(found.peaks[1]),
                        QString::asprintf("%.4g", found.separation));
    }
    std::printf("channel %d: %s%s\n", channel + 1, qPrintable(text), mark);
}

void printUniformity(const char* name, const char* unit, const uniformity& u, const char* mark) {
    std::printf(
        "%s over %d sensors: mean %.4g %s, standard deviation %.4g %s, non-uniformity "
        "%.3g %%%s\n",
        name, u.sensors, u.mean, unit, u.standardDeviation, unit, 100 * u.nonUniformity, mark);
}

// The spread over the disc of per-channel energies and fluxes, for data of several sensors.
// Caller holds the lock.
void printDiscUniformity(const tarvoDataSet& set, const QVector<double>& energy,
                         const QVector<double>& flux) {
    if (set.nChannels < 2) {
        return;
    }
    const QVector<bool> active = set.enabledSensors();
    printUniformity("average energy", "eV", uniformityOf(energy, active), resultMark(set));
    printUniformity("ion flux", "A/m2", uniformityOf(flux, active), resultMark(set));
}

// Every channel's results of a scan's average: energy and flux, peaks, and the disc's
// uniformity. Caller holds the lock.
void printScanResults(const tarvoDataSet& set, const tarvoScan& scan) {
    QVector<double> energy, flux;
    for (int c = 0; c < scan.average->currentRows(); ++c) {
        energy << scan.average->averageEnergy(c);
        flux << scan.average->ionFlux(c);
        printChannel(c, energy.last(), flux.last(), resultMark(set));
        printPeaks(c, scanIedfPeaks(scan, c), resultMark(set));
    }
    printDiscUniformity(set, energy, flux);
}

// Caller holds the lock.
int totalSweeps(const tarvoDataSet& set) {
    int n = 0;
    for (const tarvoScan* scan : set.sweepScans) {
        n += scan->traces->size();
    }
    return n;
}

// Caller holds the lock.
int totalRows(const tarvoDataSet& set) {
    int n = 0;
    for (const temperatureRecord* r : set.temperatureRecords) {
        n += r->rows.size();
    }
    return n;
}

// Caller holds the lock.
void printTemperatures(const QVector<double>& average, const char* mark) {
    for (int c = 0; c < average.size(); ++c) {
        std::printf("channel %d: temperature %.4g C%s\n", c + 1, average[c], mark);
    }
}

struct channelFigures {
    double energy;
    double flux;
};

// The results of one record of a data set: an IV scan (at its time; a time slot of a
// time-resolved scan) or an aspect-ratio group of the last aspect-ratio scan.
struct resultRecord {
    double key;
    QVector<channelFigures> channels;
};

bool timeResolved(const tarvoDataSet& set) {
    return set.dataKind == 0 && set.timeUnit() == QLatin1String("usec");
}

// Caller holds the lock.
QVector<resultRecord> resultsOf(const tarvoDataSet& set) {
    QVector<resultRecord> records;
    if (set.dataKind == 2) {
        if (set.arScans.isEmpty()) {
            return records;
        }
        for (arGroup* group : set.arScans.last()->groups) {
            resultRecord r{group->aspectRatio, {}};
            for (int c = 0; c < set.nChannels; ++c) {
                r.channels.push_back({group->getAverageEnergy(c), group->ionFlux(c)});
            }
            records.push_back(r);
        }
        return records;
    }
    for (const tarvoScan* scan : set.sweepScans) {
        resultRecord r{scan->time, {}};
        for (int c = 0; c < scan->average->currentRows(); ++c) {
            r.channels.push_back({scan->average->averageEnergy(c), scan->average->ionFlux(c)});
        }
        records.push_back(r);
    }
    return records;
}

void printRecords(const QVector<resultRecord>& records, const char* keyFormat, const char* mark) {
    for (const resultRecord& r : records) {
        std::printf(keyFormat, r.key);
        for (int c = 0; c < r.channels.size(); ++c) {
            printChannel(c, r.channels[c].energy, r.channels[c].flux, mark);
        }
    }
}

}  // namespace

int measuredTraces(const tarvoDataSet& set) {
    if (set.dataKind == 1 || set.dataKind == 3) {
        return totalRows(set);
    }
    if (set.dataKind == 2) {
        int n = 0;
        for (const kalderAspectRatioScan* scan : set.arScans) {
            for (const arGroup* g : scan->groups) {
                for (const arPoint* p : g->points) {
                    n += p->traces.size();
                }
            }
        }
        return n;
    }
    // The slices of a time-resolved scan each hold one sweep per read.
    return set.timeUnit() == QLatin1String("usec") && !set.sweepScans.isEmpty()
               ? set.sweepScans.first()->traces->size()
               : totalSweeps(set);
}

void printSummary(tarvoDataSet& set) {
    std::lock_guard<std::mutex> locker(set.mutex);
    if (set.dataKind == 1 || set.dataKind == 3) {
        std::printf("%d temperature rows\n", totalRows(set));
        if (!set.temperatureRecords.isEmpty()) {
            printTemperatures(set.temperatureRecords.last()->average, resultMark(set));
        }
        return;
    }
    const QList<tarvoScan*>& scans = set.sweepScans;
    if (set.dataKind == 2) {
        std::printf("%d scans, %d traces\n", set.arScans.size(), measuredTraces(set));
        printRecords(resultsOf(set), "aspect ratio %g:\n", resultMark(set));
        return;
    }
    std::printf("%d scans, %d traces\n", scans.size(), measuredTraces(set));
    if (timeResolved(set)) {
        printRecords(resultsOf(set), "time %g us:\n", resultMark(set));
        return;
    }
    if (scans.isEmpty()) {
        return;
    }
    const int channels = scans.first()->average->currentRows();
    QVector<double> energies, fluxes;
    for (int c = 0; c < channels; ++c) {
        double energy = 0.0, flux = 0.0;
        for (const tarvoScan* scan : scans) {
            energy += scan->average->averageEnergy(c);
            flux += scan->average->ionFlux(c);
        }
        energies << energy / scans.size();
        fluxes << flux / scans.size();
        printChannel(c, energies.last(), fluxes.last(), resultMark(set));
        printPeaks(c, scanIedfPeaks(*scans.last(), c), resultMark(set));
    }
    printDiscUniformity(set, energies, fluxes);
}

void printJsonSummary(tarvoDataSet& set, const QString& path) {
    std::lock_guard<std::mutex> locker(set.mutex);
    QJsonObject doc{
        {QStringLiteral("file"), path},
        {QStringLiteral("kind"), QLatin1String(kindName(set.dataKind))},
        {QStringLiteral("simulated"), *resultMark(set) != 0},
        {QStringLiteral("traces"), measuredTraces(set)},
    };
    if (set.dataKind == 1 || set.dataKind == 3) {
        QJsonArray temperatures;
        if (!set.temperatureRecords.isEmpty()) {
            for (double t : set.temperatureRecords.last()->average) {
                temperatures << t;
            }
        }
        doc.insert(QStringLiteral("scans"), set.temperatureRecords.size());
        doc.insert(QStringLiteral("temperatures"), temperatures);
    } else {
        const QString key = set.dataKind == 2   ? QStringLiteral("aspectRatio")
                            : timeResolved(set) ? QStringLiteral("timeUs")
                                                : QStringLiteral("timeS");
        QJsonArray results;
        for (const resultRecord& r : resultsOf(set)) {
            QJsonArray channels;
            for (int c = 0; c < r.channels.size(); ++c) {
                channels << QJsonObject{{QStringLiteral("channel"), c + 1},
                                        {QStringLiteral("averageEnergy"), r.channels[c].energy},
                                        {QStringLiteral("ionFlux"), r.channels[c].flux}};
            }
            results << QJsonObject{{key, r.key}, {QStringLiteral("channels"), channels}};
        }
        doc.insert(QStringLiteral("scans"),
                   set.dataKind == 2 ? set.arScans.size() : set.sweepScans.size());
        doc.insert(QStringLiteral("results"), results);
    }
    std::fputs(QJsonDocument(doc).toJson(QJsonDocument::Indented).constData(), stdout);
    std::fflush(stdout);
}

void printInspection(tarvoDataSet& set, const QString& path) {
    std::lock_guard<std::mutex> locker(set.mutex);
    std::printf("file: %s\n", qPrintable(path));
    std::printf("version: %d\n", set.fileVersion);
    std::printf("kind: %d (%s)\n", set.dataKind, kindName(set.dataKind));
    std::printf("sensor code: %d\n", set.sensorCode);
    std::printf("channels: %d current, %d voltage\n", set.nChannels, set.nVoltageChannels);
    const bool temperature = set.dataKind == 1 || set.dataKind == 3;
    const int scans = set.dataKind == 2 ? set.arScans.size()
                      : temperature     ? set.temperatureRecords.size()
                                        : set.sweepScans.size();
    std::printf("scans: %d\n", scans);
    std::printf("traces: %d\n", temperature         ? totalRows(set)
                                : set.dataKind == 2 ? measuredTraces(set)
                                                    : totalSweeps(set));
    std::printf("points: %d\n", set.nPoints);
    std::printf("settings:\n");
    for (auto it = set.settingsMap.constBegin(); it != set.settingsMap.constEnd(); ++it) {
        std::printf("  %s: %s\n", qPrintable(it.key()), qPrintable(settingText(it.value())));
    }
    for (int i = 0; i < set.sweepScans.size() && set.dataKind == 0; ++i) {
        const tarvoScan& scan = *set.sweepScans[i];
        const ivTrace& average = *scan.average;
        const QString ev = average.hasElectrodeVoltage()
                               ? QString::asprintf("%.4g V", average.averageElectrodeVoltage())
                               : QStringLiteral("-");
        std::printf("scan %d: time %g, %d traces, electrode voltage %s\n", i + 1, scan.time,
                    scan.traces->size(), qPrintable(ev));
        printScanResults(set, scan);
    }
    for (int i = 0; i < set.arScans.size() && set.dataKind == 2; ++i) {
        const kalderAspectRatioScan& scan = *set.arScans[i];
        std::printf("scan %d: key %g, %d aspect ratios\n", i + 1, scan.key, scan.groups.size());
        for (arGroup* group : scan.groups) {
            std::printf("aspect ratio %g: %d points\n", group->aspectRatio, group->points.size());
            for (int c = 0; c < set.nChannels; ++c) {
                printChannel(c, group->getAverageEnergy(c), group->ionFlux(c), resultMark(set));
            }
        }
    }
    for (int i = 0; i < set.temperatureRecords.size() && temperature; ++i) {
        const temperatureRecord& record = *set.temperatureRecords[i];
        std::printf("scan %d: time %g, %d rows\n", i + 1, record.time, record.rows.size());
        printTemperatures(record.average, resultMark(set));
    }
}

void reportTruncation(const tarvoDataSet& set, const QString& path) {
    if (set.truncated) {
        cli::message(QStringLiteral("%1 is truncated (cut short): %2 of its %3 scans recovered, "
                                    "the data after the cut are missing")
                         .arg(path)
                         .arg(set.scanCount())
                         .arg(set.declaredScans));
    }
}

bool writeFiles(tarvoDataSet& set, const QString& kdfPath, const QString& csvPath,
                const QString& matPath, const exportChoices& choices, cli::failure& f,
                const QString& h5Path) {
    bool ok = true;
    const auto failed = [&](const QString& path) {
        if (ok) {
            f = {cli::FileError, QStringLiteral("cannot write %1").arg(path)};
        }
        ok = false;
    };
    if (!kdfPath.isEmpty() && !set.save(kdfPath)) {
        failed(kdfPath);
    }
    if (!csvPath.isEmpty() && !set.toCSV(csvPath, choices)) {
        failed(csvPath);
    }
    if (!matPath.isEmpty() && !set.toMatFile(matPath)) {
        failed(matPath);
    }
    QString why;
    if (!h5Path.isEmpty() && !toHdf5(set, h5Path, &why)) {
        if (ok) {
            f = {cli::FileError, QStringLiteral("cannot write %1").arg(why)};
        }
        ok = false;
    }
    return ok;
}
