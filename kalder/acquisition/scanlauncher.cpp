#include "acquisition/scanlauncher.h"

#include <QDateTime>
#include <QVariantList>
#include <algorithm>
#include <utility>

#include "acquisition/electrodeoutputs.h"
#include "acquisition/kalderscancontroller.h"
#include "acquisition/scancontroller.h"
#include "acquisition/scansettings.h"
#include "acquisition/syncscancontroller.h"
#include "acquisition/temperaturescancontroller.h"
#include "data/tarvodataset.h"
#include "tolmar2/Link.h"
#include "tolmar2/TolmarCntrl.h"

#ifndef KALDER_VERSION
#define KALDER_VERSION "unknown"
#endif

scanLaunch prepareScan(TolmarCntrl* cntrl, scanSettings* settings, double electrodeVoltage) {
    scanLaunch launch;
    // The step count of the bias sweep decides whether the unit can take the scan: counted on
    // the outputs the controllers program, which a time-resolved scan runs as they stand.
    launch.steps = programBiasSweep(
        *cntrl, {settings->biasStart(), settings->collector(), settings->secElSup()},
        {settings->biasEnd(), settings->collector(), settings->secElSup()}, settings->biasStep());
    if (launch.steps > TolmarCntrl::MAX_SCAN_POINTS) {
        launch.outcome = scanLaunch::TooManySteps;
        return launch;
    }
    if (launch.steps <= 0) {
        launch.outcome = scanLaunch::Rejected;
        return launch;
    }
    cntrl->setMeasuringRange(settings->currentRange());
    cntrl->setSettlingDelays(10, settings->firstStepDelay(), settings->nextStepDelay(), 6);
    cntrl->setAverageHW(settings->ivAcc(), settings->ivAcc());

    const int nProbes = cntrl->getNProbes();
    // Every sweep carries its voltage rows after the probes' currents; a two-value board has no
    // voltage monitors in its record, yet its sweeps hold the programmed voltage as one row.
    // Counting it keeps a saved file's row count true to its traces.
    const int nVchan = std::max(cntrl->getNVchan(), cntrl->nAdcChannels - nProbes);
    const int sensorCode = static_cast<int>(cntrl->extWord);
    const int type = settings->scanType();
    const bool discriminator = settings->collectorDiscriminator();
    auto sweepDataSet = [&](const char* unit) {
        auto* set =
            new tarvoDataSet(nProbes, nVchan, 1.0, discriminator ? 1.0 : 0.0, 0.0, sensorCode);
        set->useCollectorDiscriminator = discriminator;
        set->setTimeUnit(QString::fromLatin1(unit));
        return set;
    };
    if (type == TemperatureScan) {
        launch.dataSet = sweepDataSet("sec");
        launch.controller = new temperatureScanController(launch.dataSet, cntrl, settings);
    } else if (settings->aspectRatioFamily()) {
        cntrl->setScanType(false, false, false);
        launch.dataSet = new tarvoDataSet(nProbes, nVchan, 1.0, settings->aspectRatios().size(),
                                          electrodeVoltage, sensorCode);
        launch.dataSet->setTimeUnit(QStringLiteral("sec"));
        launch.controller = new kalderScanController(launch.dataSet, cntrl, settings);
    } else if (type == TimeResolvedScan) {
        cntrl->setScanType(false, true, settings->risingEdge());
        launch.dataSet = sweepDataSet("usec");
        launch.controller = new syncScanController(launch.dataSet, cntrl, settings);
    } else {
        cntrl->setScanType(false, false, false);
        launch.dataSet = sweepDataSet("sec");
        launch.controller = new scanController(launch.dataSet, cntrl, settings);
    }
    launch.outcome = scanLaunch::Ready;
    return launch;
}

void writeScanMetadata(tarvoDataSet* dataSet, TolmarCntrl* cntrl) {
    // The per-probe table holds rows of tempBeta, tempRo, tempRs, ionFluxFactor.
    QVariantList beta, ro, rs, flux;
    const int rows = std::min<int>(static_cast<int>(cntrl->nExtProbes), TolmarCntrl::MAX_TEMP_ROWS);
    for (int r = 0; r < rows; ++r) {
        beta << cntrl->tempCoef[r][0];
        ro << cntrl->tempCoef[r][1];
        rs << cntrl->tempCoef[r][2];
        flux << cntrl->tempCoef[r][3];
    }
    QVariantMap& map = dataSet->settingsMap;
    map.insert(QStringLiteral("ionFluxFactor"), flux);
    map.insert(QStringLiteral("tempRo"), ro);
    map.insert(QStringLiteral("tempBeta"), beta);
    map.insert(QStringLiteral("tempRs"), rs);
    map.insert(QStringLiteral("activeSensors"), cntrl->getNProbes());
    map.insert(QStringLiteral("voltageChans"), cntrl->getNVchan());
    map.insert(QStringLiteral("scanDate"), QDateTime::currentDateTime());

    map.insert(QStringLiteral("softwareVersion"), QStringLiteral(KALDER_VERSION));
    map.insert(QStringLiteral("sensorSerial"),
               QString::fromLatin1(cntrl->devName, static_cast<int>(qstrnlen(
                                                       cntrl->devName, sizeof cntrl->devName))));
    map.insert(QStringLiteral("firmwareId"),
               QStringLiteral("0x%1").arg(cntrl->fpgaFirmwareID, 4, 16, QLatin1Char('0')));
    map.insert(QStringLiteral("calibrationDate"),
               QDateTime::fromSecsSinceEpoch(cntrl->calTime, Qt::UTC).toString(Qt::ISODate));
    map.insert(QStringLiteral("linkBackend"), QLatin1String(tolmar2::link::kindName()));
}

void writeScanParameters(tarvoDataSet* dataSet, const scanParameters& p) {
    QVariantMap& map = dataSet->settingsMap;
    // The dialog takes the settling times from idle voltages and from the previous scan in ms.
    const std::pair<const char*, double> fields[] = {
        {"supGrid", p.supGrid},
        {"biasStart", p.biasStart},
        {"biasEnd", p.biasEnd},
        {"biasStep", p.biasStep},
        {"secElSup", p.secElSup},
        {"collector", p.collector},
        {"zeroStep", p.zeroStepDelay / 1000},
        {"firstStep", p.firstStepDelay / 1000},
        {"nextStep", p.nextStepDelay},
        {"ivAcc", p.ivAcc},
        {"kalderFirstStep", p.kalderFirstStep},
        {"kalderNextStep", p.kalderNextStep},
        {"kalderIvAcc", p.kalderIvAcc},
        {"syncDelay", p.syncDelay},
    };
    for (const auto& field : fields) {
        map.insert(QLatin1String(field.first), QString::number(field.second));
    }
    map.insert(QStringLiteral("useRisingEdge"), p.risingEdge);
    map.insert(QStringLiteral("useAdvancedMode"), true);
    QVariantList ratios, enabled;
    for (double r : p.aspectRatios) {
        ratios << r;
    }
    for (bool e : p.enabledChannels) {
        enabled << e;
    }
    map.insert(QStringLiteral("AspectRatios"), ratios);
    map.insert(QStringLiteral("enabledSensors"), enabled);
}

QString autosaveName(const QString& directory, const QString& prefix, const QString& typeName,
                     const QString& timestamp, const QString& suffix) {
    return QStringLiteral("%1/%2_%3_%4.").arg(directory, prefix, typeName, timestamp) + suffix;
}
