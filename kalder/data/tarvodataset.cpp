#include "tarvodataset.h"

#include <QDebug>
#include <algorithm>
#include <memory>
#include <mutex>

namespace {

bool validBlock(const double* block, int points, int rows) {
    return rows >= 0 && rows <= MAX_ROWS && points >= 0 &&
           (block != nullptr || points == 0 || rows == 0);
}

template <typename T, typename Key>
int indexByKey(const QList<T*>& list, Key key, double value) {
    for (int i = 0; i < list.size(); ++i) {
        if (list[i]->*key == value) {
            return i;
        }
    }
    return -1;
}

}  // namespace

tarvoDataSet::tarvoDataSet(int channels, int voltageChannels, double setting1, double setting2,
                           double, int code, QObject* parent)
    : tarvoDataSet(channels, voltageChannels, code, parent) {
    acquisitionSetting1 = static_cast<int>(setting1);
    acquisitionSetting2 = static_cast<int>(setting2);
}

tarvoDataSet::tarvoDataSet(int channels, int voltageChannels, int code, QObject* parent)
    : QObject(parent),
      forAcquisition(true),
      nChannels(channels),
      nVoltageChannels(voltageChannels),
      sensorCode(code) {}

tarvoDataSet::tarvoDataSet(const QString& filePath, QObject* parent)
    : QObject(parent), path(filePath) {
    if (!loadFile(filePath)) {
        clearData();
        throw 10;
    }
    // The row count a file declares is the data set's at the time of writing; the sweeps say
    // what the file holds.
    for (const tarvoScan* scan : sweepScans) {
        if (dataKind == 0 && !scan->traces->isEmpty()) {
            followSweepRows(static_cast<int>(scan->traces->first()->nRows));
            break;
        }
    }
}

tarvoDataSet::~tarvoDataSet() {
    clearData();
}

void tarvoDataSet::clearData() {
    qDeleteAll(sweepScans);
    sweepScans.clear();
    qDeleteAll(arScans);
    arScans.clear();
    qDeleteAll(temperatureRecords);
    temperatureRecords.clear();
}

void tarvoDataSet::initChannels(int total) {
    qDebug() << "calling iC " << total;
    switch (total) {
        case 2:
        case 4:
        case 5:
        case 11:
        case 13:
        case 16:
        case 17:
        case 20:
        case 21:
            nVoltageChannels = voltageRowsFor(total);
            nChannels = total - nVoltageChannels;
            break;
        default:
            nChannels = 20;
            nVoltageChannels = 4;
            break;
    }
}

void tarvoDataSet::followSweepRows(int rows) {
    if (rows <= 0 || rows > MAX_ROWS || nChannels + nVoltageChannels == rows) {
        return;
    }
    // The split the sweeps themselves use (the table above, for the counts it lists).
    nVoltageChannels = std::min(voltageRowsFor(rows), rows);
    nChannels = rows - nVoltageChannels;
}

FluxFactors tarvoDataSet::fluxFactorTable() const {
    FluxFactors factors;
    factors.fill(DEFAULT_FLUX_FACTOR);
    const QVariantList list = settingsMap.value(QStringLiteral("ionFluxFactor")).toList();
    for (int i = 0; i < list.size() && i < MAX_ROWS; ++i) {
        factors[i] = list[i].toDouble();
    }
    return factors;
}

QVector<double> tarvoDataSet::ionFluxFactors() const {
    const int count = std::max(0, dataKind == 3 ? nChannels : nChannels + nVoltageChannels);
    QVector<double> factors(count, DEFAULT_FLUX_FACTOR);
    const QVariantList list = settingsMap.value(QStringLiteral("ionFluxFactor")).toList();
    for (int i = 0; i < list.size() && i < count; ++i) {
        factors[i] = list[i].toDouble();
    }
    return factors;
}

void tarvoDataSet::setIonFluxFactors(const double* factors, int count) {
    QVariantList list;
    for (int i = 0; i < count; ++i) {
        list.append(factors[i]);
    }
    {
        // The acquisition thread reads the factors under the lock while it adds sweeps.
        std::lock_guard<std::mutex> locker(mutex);
        settingsMap.insert(QStringLiteral("ionFluxFactor"), list);
        const FluxFactors table = fluxFactorTable();
        for (tarvoScan* scan : sweepScans) {
            scan->average->computeIonFlux(table);
        }
    }
    emit dataUpdated(false);
}

QVector<bool> tarvoDataSet::enabledSensors() const {
    const QString key = QStringLiteral("enabledSensors");
    if (!settingsMap.contains(key)) {
        return QVector<bool>(MAX_ROWS, true);
    }
    QVector<bool> result;
    for (const QVariant& value : settingsMap.value(key).toList()) {
        result.append(value.toBool());
    }
    return result;
}

void tarvoDataSet::mergeRanges(const ivTrace& trace) {
    const auto cropped = trace.currentRange(true);
    const auto all = trace.currentRange(false);
    ranges[0] = std::min(ranges[0], cropped.first);
    ranges[1] = std::min(ranges[1], all.first);
    ranges[2] = std::max(ranges[2], cropped.second);
    ranges[3] = std::max(ranges[3], all.second);
}

void tarvoDataSet::computeRangesLocked() {
    ranges = {{100000.0, 100000.0, -100000.0, -100000.0}};
    for (const tarvoScan* scan : sweepScans) {
        for (const ivTrace* trace : *scan->traces) {
            mergeRanges(*trace);
        }
    }
}

void tarvoDataSet::computeRanges() {
    std::lock_guard<std::mutex> locker(mutex);
    computeRangesLocked();
}

void tarvoDataSet::addTrace(const double* block, double time, int points, int rows, int, int,
                            bool alternateRows) {
    if (!validBlock(block, points, rows)) {
        qWarning() << "tarvoDataSet::addTrace: invalid sweep block" << rows << "x" << points;
        return;
    }
    bool wasEmpty;
    {
        std::lock_guard<std::mutex> locker(mutex);
        wasEmpty = !hasData;
        acquisitionIndex = -1;
        if (wasEmpty) {
            hasData = true;
            nPoints = points;
            dataKind = 0;
            followSweepRows(rows);
        }
        const FluxFactors factors = fluxFactorTable();
        int index = sweepScans.size() - 1;
        while (index >= 0 && !(sweepScans[index]->time == time)) {
            --index;
        }
        if (index < 0) {
            auto* average =
                new ivTrace(nPoints, rows, useCollectorDiscriminator, useUnfilteredEnergy, 0);
            average->setCrop(cropStart, cropEnd);
            sweepScans.append(new tarvoScan(new QList<ivTrace*>, average, time));
            index = sweepScans.size() - 1;
        }
        tarvoScan* scan = sweepScans[index];
        auto* trace = new ivTrace(block, points, rows, 0, useCollectorDiscriminator,
                                  useUnfilteredEnergy, alternateRows);
        // A crop in force applies to the new sweep before it enters the average.
        trace->setCrop(cropStart, cropEnd);
        scan->appendTrace(trace);
        scan->average->computeIonFlux(factors);
        mergeRanges(*trace);
        acquisitionIndex = index;
    }
    emit dataUpdated(wasEmpty);
}

void tarvoDataSet::addPrescanPoint(double voltage, double time, const double* currents,
                                   unsigned count) {
    std::lock_guard<std::mutex> locker(mutex);
    tarvoScan* scan = nullptr;
    for (tarvoScan* s : sweepScans) {
        if (s->time == time) {
            scan = s;
            break;
        }
    }
    if (scan == nullptr) {
        scan = new tarvoScan(new QList<ivTrace*>,
                             new ivTrace(0, 0, useCollectorDiscriminator, useUnfilteredEnergy, 0),
                             time);
        sweepScans.append(scan);
    }
    scan->addPrescanTrace(voltage, currents, count);
}

ivTrace* tarvoDataSet::addReferenceTrace(const double* block, double key, int points, int rows, int,
                                         int) {
    if (!validBlock(block, points, rows)) {
        qWarning() << "tarvoDataSet::addReferenceTrace: invalid sweep block";
        return nullptr;
    }
    ivTrace* trace;
    {
        std::lock_guard<std::mutex> locker(mutex);
        dataKind = 2;
        hasData = true;
        nPoints = 0;
        int index = indexByKey(arScans, &kalderAspectRatioScan::key, key);
        if (index < 0) {
            auto* scan = new kalderAspectRatioScan(key);
            scan->nChannels = nChannels + nVoltageChannels;
            arScans.append(scan);
            index = arScans.size() - 1;
        }
        kalderAspectRatioScan* scan = arScans[index];
        trace = new ivTrace(block, points, rows, 0, useCollectorDiscriminator, useUnfilteredEnergy,
                            false);
        delete scan->reference;
        scan->reference = trace;
        scan->electrodeVoltage = trace->averageElectrodeVoltage();
    }
    emit dataUpdated(true);
    return trace;
}

void tarvoDataSet::addAspectRatioTrace(const double* block, double key, double aspectRatio,
                                       double voltage, double secondValue, int points, int rows,
                                       int) {
    if (!validBlock(block, points, rows)) {
        qWarning() << "tarvoDataSet::addAspectRatioTrace: invalid sweep block";
        return;
    }
    bool wasEmpty;
    std::pair<int, int> crop;
    {
        std::lock_guard<std::mutex> locker(mutex);
        wasEmpty = !hasData;
        if (wasEmpty) {
            dataKind = 2;
            hasData = true;
        }
        int index = indexByKey(arScans, &kalderAspectRatioScan::key, key);
        if (index < 0) {
            auto* created = new kalderAspectRatioScan(key);
            created->nChannels = nChannels + nVoltageChannels;
            arScans.append(created);
            index = arScans.size() - 1;
        }
        acquisitionIndex = index;
        kalderAspectRatioScan* scan = arScans[index];
        auto* trace = new ivTrace(block, points, rows, 0, useCollectorDiscriminator,
                                  useUnfilteredEnergy, false);
        int g = indexByKey(scan->groups, &arGroup::aspectRatio, aspectRatio);
        if (g < 0) {
            scan->groups.append(new arGroup(aspectRatio, scan->altVoltageRow));
            g = scan->groups.size() - 1;
        }
        arGroup* group = scan->groups[g];
        int p = indexByKey(group->points, &arPoint::voltage, voltage);
        if (p < 0) {
            group->points.append(new arPoint(voltage, secondValue, group->altVoltageRow));
            p = group->points.size() - 1;
        }
        arPoint* point = group->points[p];
        point->traces.append(trace);
        point->invalidate();
        group->invalidate();
        crop = {cropStart, cropEnd};
    }
    announceAdded(wasEmpty, crop);
}

void tarvoDataSet::addTemperatureRow(const double* values, double time, int count, int) {
    const QVector<double> row =
        (values && count > 0) ? QVector<double>(values, values + count) : QVector<double>();
    bool wasEmpty;
    std::pair<int, int> crop;
    {
        std::lock_guard<std::mutex> locker(mutex);
        wasEmpty = !hasData;
        if (wasEmpty) {
            nPoints = 0;
            hasData = true;
            dataKind = 3;
            acquisitionIndex = 0;
            mainScanIndex = -1;
        }
        bool matched = false;
        for (int i = 0; i < temperatureRecords.size(); ++i) {
            if (temperatureRecords[i]->time == time) {
                temperatureRecords[i]->addRow(row);
                acquisitionIndex = i;
                matched = true;
            }
        }
        if (!matched) {
            auto* record = new temperatureRecord(time);
            record->addRow(row);
            temperatureRecords.append(record);
            acquisitionIndex = temperatureRecords.size() - 1;
        }
        crop = {cropStart, cropEnd};
    }
    announceAdded(wasEmpty, crop);
}

void tarvoDataSet::announceAdded(bool wasEmpty, std::pair<int, int> crop) {
    emit dataUpdated(wasEmpty);
    if (crop.first != 0 || crop.second != 0) {
        setCrop(crop.first, crop.second);
    }
}

bool tarvoDataSet::setCrop(int start, int end) {
    const FluxFactors factors = fluxFactorTable();
    {
        std::lock_guard<std::mutex> locker(mutex);
        for (tarvoScan* scan : sweepScans) {
            scan->average->setCrop(start, end);
            scan->average->computeIonFlux(factors);
            for (ivTrace* trace : *scan->traces) {
                trace->setCrop(start, end);
            }
            scan->cropChanged();
        }
        computeRangesLocked();
        // Stored under the lock: the acquisition thread crops new sweeps with these values.
        cropStart = start;
        cropEnd = end;
    }
    emit dataUpdated(false);
    return true;
}

void tarvoDataSet::setDerivativeMethod(int method) {
    ivTrace::selectDerivativeMethod(method);
    const FluxFactors factors = fluxFactorTable();
    std::lock_guard<std::mutex> locker(mutex);
    if (dataKind == 2) {
        for (kalderAspectRatioScan* scan : arScans) {
            if (scan->reference) {
                scan->reference->setDerivativeMethod(method);
            }
        }
        return;
    }
    for (tarvoScan* scan : sweepScans) {
        for (ivTrace* trace : *scan->traces) {
            trace->setDerivativeMethod(method);
        }
        scan->reaverage();
        scan->average->computeIonFlux(factors);
    }
}

int tarvoDataSet::currentListSize() const {
    switch (dataKind) {
        case 0:
            return sweepScans.size();
        case 2:
            return arScans.size();
        case 3:
            return temperatureRecords.size();
        default:
            return 0;
    }
}

void tarvoDataSet::setMainScan(int index) {
    {
        std::lock_guard<std::mutex> locker(mutex);
        mainScanIndex = (index == currentListSize() - 1) ? -1 : index;
    }
    emit dataUpdated(false);
}

void tarvoDataSet::isMultiScan(bool value) {
    multiScan = value;
}

bool tarvoDataSet::isMultiScan() {
    {
        std::lock_guard<std::mutex> locker(mutex);
        if (sweepScans.size() > 1 || arScans.size() > 1 || temperatureRecords.size() > 1) {
            return true;
        }
    }
    emit checkMultiScan();
    if (multiScan) {
        return true;
    }
    emit checkCurrentView();
    return false;
}

int tarvoDataSet::currentScanIndex() const {
    return mainScanIndex >= 0 ? mainScanIndex : acquisitionIndex;
}

tarvoScan* tarvoDataSet::currentScan() const {
    const int index = currentScanIndex();
    return (index >= 0 && index < sweepScans.size()) ? sweepScans[index] : nullptr;
}

ivTrace* tarvoDataSet::currentAverage() const {
    const tarvoScan* scan = currentScan();
    return scan ? scan->average : nullptr;
}

ivTrace* tarvoDataSet::currentTrace(int index) const {
    const tarvoScan* scan = currentScan();
    return (scan && index >= 0 && index < scan->traces->size()) ? scan->traces->at(index) : nullptr;
}

ivTrace* tarvoDataSet::lastTrace() const {
    const tarvoScan* scan = currentScan();
    return (scan && !scan->traces->isEmpty()) ? scan->traces->last() : nullptr;
}

int tarvoDataSet::traceCount() const {
    if (!hasData) {
        return 0;
    }
    if (dataKind == 2 || dataKind == 3) {
        return 1;
    }
    const tarvoScan* scan = currentScan();
    return scan ? scan->traces->size() : 0;
}

double tarvoDataSet::ionFlux(int channel) const {
    if (dataKind == 2) {
        return 666.0;
    }
    const ivTrace* average = currentAverage();
    return average ? average->ionFlux(channel) : 0.0;
}

double tarvoDataSet::averageEnergy(int channel) const {
    if (dataKind == 2) {
        return 1502.0;
    }
    const ivTrace* average = currentAverage();
    return average ? average->averageEnergy(channel) : 0.0;
}

double tarvoDataSet::averageElectrodeVoltage() const {
    const ivTrace* average = currentAverage();
    return average ? average->averageElectrodeVoltage() : 0.0;
}

double tarvoDataSet::temperatureAverage(int column) const {
    const int index = currentScanIndex();
    if (index < 0 || index >= temperatureRecords.size()) {
        return 0.0;
    }
    const QVector<double>& average = temperatureRecords[index]->average;
    return (column >= 0 && column < average.size()) ? average[column] : 0.0;
}

kalderAspectRatioScan* tarvoDataSet::currentArScan() const {
    const int index = currentScanIndex();
    return (index >= 0 && index < arScans.size()) ? arScans[index] : nullptr;
}

double tarvoDataSet::arIonFlux(int channel, int groupIndex) const {
    const kalderAspectRatioScan* scan = hasData ? currentArScan() : nullptr;
    if (!scan || groupIndex < 0 || groupIndex >= scan->groups.size()) {
        return 0.0;
    }
    return scan->groups[groupIndex]->ionFlux(channel);
}

double tarvoDataSet::arAverageEnergy(int channel, int groupIndex) const {
    const kalderAspectRatioScan* scan = hasData ? currentArScan() : nullptr;
    if (!scan || groupIndex < 0 || groupIndex >= scan->groups.size()) {
        return 0.0;
    }
    return scan->groups[groupIndex]->getAverageEnergy(channel);
}

const double* tarvoDataSet::energyAxisFor(int channel) {
    const tarvoScan* scan = currentScan();
    if (!scan) {
        return nullptr;
    }
    const ivTrace* average = scan->average;
    if (!scan->prescanAnalysed()) {
        return average->energyView();
    }
    const int length = std::max(0, average->croppedLength());
    const double* energy = average->energyView();
    const double offset = scan->prescanOffset(channel);
    shiftedEnergy.resize(length);
    for (int i = 0; i < length; ++i) {
        shiftedEnergy[i] = energy[i] - offset;
    }
    return shiftedEnergy.constData();
}

int tarvoDataSet::scanCount() const {
    return currentListSize();
}

bool tarvoDataSet::hasSweepScans() const {
    return dataKind != 3 && !sweepScans.isEmpty();
}

bool tarvoDataSet::hasArScans() const {
    return dataKind == 2 && !arScans.isEmpty();
}

bool tarvoDataSet::isMultiChannel() const {
    return dataKind == 3 || nChannels > 1;
}

bool tarvoDataSet::isTemperature() const {
    return dataKind == 3;
}

int tarvoDataSet::totalRows() const {
    return dataKind == 3 ? nChannels : nChannels + nVoltageChannels;
}

void tarvoDataSet::announceNewScan() {
    emit dataUpdated(true);
}

void tarvoDataSet::announceUpdate(int, int) {
    emit dataUpdated(false);
}

void tarvoDataSet::completeGroup(double scanKey, double aspectRatio) {
    std::lock_guard<std::mutex> locker(mutex);
    for (kalderAspectRatioScan* scan : arScans) {
        if (scan->key != scanKey) {
            continue;
        }
        const int g = indexByKey(scan->groups, &arGroup::aspectRatio, aspectRatio);
        if (g >= 0) {
            scan->groups[g]->complete = true;
        }
    }
}

void tarvoDataSet::analysePrescan(double time) {
    std::lock_guard<std::mutex> locker(mutex);
    const int index = indexByKey(sweepScans, &tarvoScan::time, time);
    if (index >= 0) {
        sweepScans[index]->analysePrescan();
    }
}
