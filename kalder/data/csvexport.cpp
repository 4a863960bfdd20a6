// Delimited-text export of a data set.
#include <QDebug>
#include <QSaveFile>
#include <QTextStream>
#include <cmath>
#include <mutex>
#include <vector>

#include "iedfanalysis.h"
#include "tarvodataset.h"

namespace {

// Each line written by the helpers below ends with the separator before the line end.
void writeTraceTable(QTextStream& out, const ivTrace& trace, QChar s) {
    const int rows = static_cast<int>(trace.nRows);
    const int points = trace.allocated ? static_cast<int>(trace.nPoints) : 0;
    out << "V" << s;
    for (int r = 1; r <= rows; ++r) {
        out << "I_" << r << s;
    }
    for (int r = 1; r <= rows; ++r) {
        out << "dI/dE_" << r << s;
    }
    out << '\n';
    // Made here rather than kept in every sweep of the scan.
    std::vector<double> dIdE;
    trace.computeDerivatives(dIdE);
    for (int j = 0; j < points; ++j) {
        out << trace.energy[j] << s;
        for (int r = 0; r < rows; ++r) {
            out << trace.currents[r][j] << s;
        }
        for (int r = 0; r < rows; ++r) {
            out << dIdE[static_cast<size_t>(r) * trace.nPoints + j] << s;
        }
        out << '\n';
    }
}

// The IEDF peaks of every channel, one line per figure after the channel results; "-" where a
// channel has no such peak or figure.
void writePeakLines(QTextStream& out, const tarvoScan& scan, int channels, QChar s) {
    QVector<iedfPeaks> peaks;
    for (int c = 0; c < channels; ++c) {
        peaks << scanIedfPeaks(scan, c);
    }
    const auto line = [&](const QString& label, const auto& value) {
        out << label;
        for (const iedfPeaks& p : qAsConst(peaks)) {
            const double v = value(p);
            out << s;
            if (std::isnan(v)) {
                out << '-';
            } else {
                out << v;
            }
        }
        out << '\n';
    };
    for (int k = 0; k < 2; ++k) {
        const QString name = QStringLiteral("Peak %1 ").arg(k + 1);
        const auto field = [k](double iedfPeak::*member) {
            return [k, member](const iedfPeaks& p) {
                return k < int(p.peaks.size()) ? p.peaks[k].*member : NAN;
            };
        };
        line(name + QStringLiteral("Energy"), field(&iedfPeak::energy));
        line(name + QStringLiteral("Height"), field(&iedfPeak::height));
        line(name + QStringLiteral("FWHM"), field(&iedfPeak::fwhm));
    }
    line(QStringLiteral("Peak Separation"), [](const iedfPeaks& p) { return p.separation; });
}

void writeSweepScans(QTextStream& out, const QList<tarvoScan*>& scans, int voltageChannels,
                     const exportChoices& options) {
    const QChar s = options.separator();
    out << "Time Averaged IV scan\n";
    for (int i = 0; i < scans.size(); ++i) {
        const tarvoScan& scan = *scans[i];
        const ivTrace& average = *scan.average;
        const int channels = average.currentRows();
        out << "Frame " << s << (i + 1) << s << "Time" << s << scan.time << '\n';
        qDebug() << "VOLTAGE CHANNELS : " << voltageChannels;
        out << "Electrode Voltage " << s;
        if (average.hasElectrodeVoltage()) {
            out << average.averageElectrodeVoltage();
        } else {
            out << '-';
        }
        out << '\n';
        out << "Channel";
        for (int c = 1; c <= channels; ++c) {
            out << s << c;
        }
        out << "\nAverage Energy";
        for (int c = 0; c < channels; ++c) {
            out << s << average.averageEnergy(c);
        }
        out << "\nIon Flux";
        for (int c = 0; c < channels; ++c) {
            out << s << average.ionFlux(c);
        }
        out << '\n';
        writePeakLines(out, scan, channels, s);
        if (options.includeAveraged()) {
            writeTraceTable(out, average, s);
        } else if (options.includeAll()) {
            for (int j = 0; j < scan.traces->size(); ++j) {
                out << "trace " << s << (j + 1) << '\n';
                writeTraceTable(out, *scan.traces->at(j), s);
                out << '\n';
            }
        }
        out << '\n';
    }
}

void writeChannelHeader(QTextStream& out, const char* first, const char* label, const char* closing,
                        int channels, QChar s) {
    out << first << s;
    for (int c = 1; c <= channels; ++c) {
        out << label << c << closing << s;
    }
    out << '\n';
}

// One line per group: its aspect ratio and the value of every channel, then two empty lines.
void writeGroupValues(QTextStream& out, kalderAspectRatioScan& scan, const char* label,
                      double (arGroup::*value)(int), QChar s) {
    writeChannelHeader(out, "AR", label, ")", scan.nChannels, s);
    for (arGroup* group : scan.groups) {
        out << group->aspectRatio << s;
        for (int c = 0; c < scan.nChannels; ++c) {
            out << (group->*value)(c) << s;
        }
        out << '\n';
    }
    out << "\n\n";
}

void writeArScan(QTextStream& out, kalderAspectRatioScan& scan, QChar s) {
    const int channels = scan.nChannels;
    writeGroupValues(out, scan, "Ion Flux chan(", &arGroup::ionFlux, s);
    writeGroupValues(out, scan, "Average Energy chan(", &arGroup::getAverageEnergy, s);
    out << "Prescan\n";
    writeChannelHeader(out, "Voltage", "dI_", "", channels, s);
    if (const ivTrace* reference = scan.reference) {
        const double* energy = reference->energyView();
        for (int j = 0; j < reference->derivativeLength(); ++j) {
            out << energy[j + 3] << s;
            for (int c = 0; c < channels; ++c) {
                const double* d = reference->dIdEView(c);
                out << (d ? d[j] : 0.0) << s;
            }
            out << '\n';
        }
    }
    out << '\n';
    for (arGroup* group : scan.groups) {
        out << "Aspect Ratio" << s << group->aspectRatio << '\n';
        writeChannelHeader(out, "Voltage", "dI_", "", channels, s);
        for (arPoint* point : group->points) {
            out << point->meanVoltageFor(0) << s;
            for (int c = 0; c < channels; ++c) {
                out << point->meanSlopeFor(c) << s;
            }
            out << '\n';
        }
        out << '\n';
    }
}

void writeValues(QTextStream& out, const QVector<double>& values, QChar s) {
    for (double v : values) {
        out << v << s;
    }
    out << '\n';
}

void writeColumnHeader(QTextStream& out, int columns, QChar s) {
    for (int i = 1; i <= columns; ++i) {
        out << "t_" << i << s;
    }
    out << '\n';
}

void writeTemperatureRecords(QTextStream& out, const QList<temperatureRecord*>& records,
                             const exportChoices& options) {
    const QChar s = options.separator();
    out << "Temperature Scan\n";
    for (const temperatureRecord* record : records) {
        double sum = 0.0;
        for (double v : record->average) {
            sum += v;
        }
        out << "Time" << s << record->time << s << "Average Temp" << s
            << sum / record->average.size() << "\n\n";
        if (options.includeAveraged()) {
            writeColumnHeader(out, record->average.size(), s);
            writeValues(out, record->average, s);
        } else if (options.includeAll()) {
            for (int k = 0; k < record->rows.size(); ++k) {
                if (k == 0) {
                    writeColumnHeader(out, record->rows.first().size(), s);
                }
                writeValues(out, record->rows[k], s);
            }
        }
    }
}

}  // namespace

bool tarvoDataSet::toCSV(const QString& target, const exportChoices& options) {
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        qWarning() << "tarvoDataSet::toCSV: cannot open" << target << file.errorString();
        return false;
    }
    QTextStream out(&file);
    {
        std::lock_guard<std::mutex> locker(mutex);
        if (dataKind == 0) {
            writeSweepScans(out, sweepScans, nVoltageChannels, options);
        } else if (dataKind == 2) {
            out << "Kalder Scan\n";
            for (kalderAspectRatioScan* scan : arScans) {
                writeArScan(out, *scan, options.separator());
                out << '\n';
            }
        } else {
            writeTemperatureRecords(out, temperatureRecords, options);
        }
    }
    out.flush();
    if (out.status() != QTextStream::Ok || !file.commit()) {
        qWarning() << "tarvoDataSet::toCSV: cannot write" << target << file.errorString();
        return false;
    }
    return true;
}
