// The in-memory measurement: IV scans, aspect-ratio scans or temperature records (one kind per
// data set), a free-form settings map that travels with the data, and one mutex.
//
// Writers (the add operations, setCrop, setIonFluxFactors, setDerivativeMethod) take the mutex
// themselves and emit their signals after releasing it. Readers in other threads walk the
// lists and call the accessors between lock() and unlock(); the accessors do not lock.
#ifndef KALDER_DATA_TARVODATASET_H
#define KALDER_DATA_TARVODATASET_H

#include <QList>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <QVector>
#include <array>
#include <mutex>
#include <utility>

#include "data/exportchoices.h"
#include "data/ivtrace.h"
#include "data/tarvoscans.h"

class QIODevice;
class kdfInput;

class tarvoDataSet : public QObject {
    Q_OBJECT

public:
    // Version of the kdf files this program writes.
    static constexpr int FILE_VERSION = 18;

    // For an acquisition: channel counts, two acquisition settings (stored truncated), one
    // value without effect, and the instrument's sensor code.
    tarvoDataSet(int nChannels, int nVoltageChannels, double setting1, double setting2, double,
                 int sensorCode, QObject* parent = nullptr);
    tarvoDataSet(int nChannels, int nVoltageChannels, int sensorCode, QObject* parent = nullptr);
    // Loads a kdf file. A file that cannot be opened, has no data marker or an old version
    // gives an empty data set; a file whose contents are invalid makes the constructor throw
    // the int 10 (the caller reports "Invalid File").
    explicit tarvoDataSet(const QString& path, QObject* parent = nullptr);
    ~tarvoDataSet() override;

    void initChannels(int total);

    void addTrace(const double* block, double time, int nPoints, int nRows, int status, int,
                  bool alternateRows);
    void addPrescanPoint(double voltage, double time, const double* currents, unsigned count);
    ivTrace* addReferenceTrace(const double* block, double key, int nPoints, int nRows, int, int);
    void addAspectRatioTrace(const double* block, double key, double aspectRatio, double voltage,
                             double secondValue, int nPoints, int nRows, int);
    void addTemperatureRow(const double* values, double time, int count, int);

    bool setCrop(int start, int end);
    void setIonFluxFactors(const double* factors, int count);
    // nChannels + nVoltageChannels factors (nChannels for temperature data).
    QVector<double> ionFluxFactors() const;
    QVector<bool> enabledSensors() const;
    void setDerivativeMethod(int method);
    bool isMultiScan();

    // Accessors of the current scan (the chosen one, else the one that received data last).
    int currentScanIndex() const;
    tarvoScan* currentScan() const;
    ivTrace* currentAverage() const;
    ivTrace* currentTrace(int index) const;
    ivTrace* lastTrace() const;
    int traceCount() const;
    double ionFlux(int channel) const;
    double averageEnergy(int channel) const;
    double averageElectrodeVoltage() const;
    double temperatureAverage(int column) const;
    kalderAspectRatioScan* currentArScan() const;
    double arIonFlux(int channel, int groupIndex) const;
    double arAverageEnergy(int channel, int groupIndex) const;
    // The current scan's cropped energy axis, shifted by the channel's prescan offset once the
    // prescan has been analysed; croppedLength() of the current average values. nullptr
    // without an IV scan.
    const double* energyAxisFor(int channel);

    int scanCount() const;
    bool hasSweepScans() const;
    bool hasArScans() const;
    bool isMultiChannel() const;
    bool isTemperature() const;
    int totalRows() const;

    void lock() { mutex.lock(); }
    void unlock() { mutex.unlock(); }
    void announceNewScan();
    void announceUpdate(int, int);

    QString timeUnit() const { return unit; }
    void setTimeUnit(const QString& value) { unit = value; }
    QString filePath() const { return path; }

    void completeGroup(double scanKey, double aspectRatio);
    void analysePrescan(double time);
    void computeRanges();

    // Writes the kdf file atomically: a failed save returns false and leaves an existing file
    // untouched.
    bool save(const QString& path);
    // Writes a copy the same way, with extraSettings added to the settings map in the file
    // only; the data set's own map and file path stay as they are (a recovery checkpoint).
    // Safe while a scan appends: the data is written under the lock.
    bool saveCopy(const QString& path, const QVariantMap& extraSettings);
    // Writes the JSON header (length, text, newline) of a kdf file.
    bool saveHeader(QIODevice& device);
    bool saveHeader(QIODevice& device, const QVariantMap& extraSettings);
    bool toCSV(const QString& path, const exportChoices& options);
    // MATLAB level 5 file with the averaged trace of every IV scan.
    bool toMatFile(const QString& path);

    QVector<double> shiftedEnergy;
    // Version of the kdf file the data set was read from; 0 when it was not read from one (a
    // file without the data marker and magic, or of a version too old to read, loads empty).
    int fileVersion = 0;
    // Set when the file ended before its data did (a copy cut short, a full disk): every scan
    // complete before the cut is loaded, the scan at the cut with the traces complete before it,
    // nothing after it. declaredScans is the number of scans the file announced.
    bool truncated = false;
    int declaredScans = 0;
    bool hasData = false;
    bool forAcquisition = false;
    double reservedValue = 0.0;
    int nChannels = 0;
    int nVoltageChannels = 0;
    int nPoints = 0;
    bool reservedFlag = false;
    // Non-recursive. A standard mutex rather than QMutex: Qt's lock is opaque to the thread
    // sanitizer, under which the threaded tests run.
    std::mutex mutex;
    int acquisitionIndex = 0;
    int mainScanIndex = -1;
    // Smallest current inside the crop, over all points; largest inside the crop, over all.
    std::array<double, 4> ranges{{100000.0, 100000.0, -100000.0, -100000.0}};
    int acquisitionSetting1 = 0;
    int acquisitionSetting2 = 0;
    QList<tarvoScan*> sweepScans;
    QList<kalderAspectRatioScan*> arScans;
    QList<temperatureRecord*> temperatureRecords;
    int dataKind = 0;
    QVariantMap settingsMap;
    int sensorCode = -1;
    bool multiScan = false;
    bool useCollectorDiscriminator = false;
    bool useUnfilteredEnergy = false;
    int cropStart = 0;
    int cropEnd = 0;

signals:
    void dataUpdated(bool newScan);
    void scanAdvanced();
    void checkMultiScan();
    void checkCurrentView();

public slots:
    void setMainScan(int index);
    void isMultiScan(bool value);

private:
    // The channel counts of IV scans are those of the sweeps: an acquisition may announce
    // voltage channels its sweeps do not carry, and a file written so declares more rows than
    // its sweeps hold. A total that differs from `rows` is split as the sweeps split it.
    void followSweepRows(int rows);
    FluxFactors fluxFactorTable() const;
    void computeRangesLocked();
    void mergeRanges(const ivTrace& trace);
    void clearData();
    // Emits the update after an add and re-applies a crop in force (read under the lock).
    void announceAdded(bool wasEmpty, std::pair<int, int> crop);
    int currentListSize() const;

    // kdf reading; each returns false when the file's contents are invalid.
    bool loadFile(const QString& path);
    bool loadCurrentFormat(const QString& path, qint64 position, int version);
    bool loadV16(const QString& path, qint64 position, int version);
    bool loadV14(const QString& path, qint64 position, int version);
    bool loadV12(const QString& path, qint64 position, int version);
    bool readBody(kdfInput& in, int kind, bool hasAltVoltageRow);
    // The readers of the bodies; invalid contents and a cut are left in `in`.
    void readSweepScans(kdfInput& in);
    void readArScans(kdfInput& in, bool hasAltVoltageRow);
    void readTemperatureRecords(kdfInput& in);
    // False for invalid contents; otherwise notes whether the file was cut and marks the data
    // set loaded.
    bool finishReading(const kdfInput& in);
    void writeBody(QDataStream& out);
    bool writeFile(const QString& target, const QVariantMap& extraSettings);

    QString unit;
    QString path;
};

#endif  // KALDER_DATA_TARVODATASET_H
