// What a CSV export writes: the delimiter and how much of the data. The export dialog produces
// one of these; automatic exports at the end of a scan read the last choices from the settings.
#ifndef KALDER_DATA_EXPORTCHOICES_H
#define KALDER_DATA_EXPORTCHOICES_H

#include <QChar>
#include <QSettings>
#include <QString>

struct exportChoices {
    // Button ids of the dialog's "Data" group.
    enum DataMode { OnlyResults = 0, IncludeAveraged = 1, IncludeAll = 2 };
    // Button ids of the dialog's "File Type" group.
    enum ExportMode { Csv = 0, Matlab = 1, Hdf5 = 2 };

    QChar separatorChar = QLatin1Char(',');
    int exportMode = Csv;
    int dataMode = OnlyResults;

    QChar separator() const { return separatorChar; }
    bool isCSV() const { return exportMode == Csv; }
    bool isMatlab() const { return exportMode == Matlab; }
    bool isHdf5() const { return exportMode == Hdf5; }
    bool onlyResults() const { return dataMode == OnlyResults; }
    bool includeAveraged() const { return dataMode == IncludeAveraged; }
    bool includeAll() const { return dataMode == IncludeAll; }

    // The choices stored in the group "exportOptions"; an empty delimiter text gives the
    // character 0.
    static exportChoices load(QSettings& settings) {
        exportChoices c;
        settings.beginGroup(QStringLiteral("exportOptions"));
        const QString text =
            settings.value(QStringLiteral("separator"), QStringLiteral(",")).toString();
        c.separatorChar = text.isEmpty() ? QChar(0) : text.at(0);
        c.exportMode = settings.value(QStringLiteral("exportMode"), 0).toInt();
        c.dataMode = settings.value(QStringLiteral("dataMode"), 0).toInt();
        settings.endGroup();
        return c;
    }
};

#endif  // KALDER_DATA_EXPORTCHOICES_H
