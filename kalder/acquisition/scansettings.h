// The parameters of one scan as the scan controllers read them. The wizard of the program
// implements scanSettings from its dialogs; a command-line front end implements it from its
// options (fixedScanSettings), so both drive the same controllers.
#ifndef KALDER_ACQUISITION_SCANSETTINGS_H
#define KALDER_ACQUISITION_SCANSETTINGS_H

#include <QObject>
#include <QVector>

// Scan types: a temperature record, a time-averaged or a time-resolved IV scan.
enum scanTypeId { TemperatureScan = 0, TimeAveragedScan = 1, TimeResolvedScan = 2 };

// One value per entry of the wizard's hand-out list, with the wizard's defaults.
struct scanParameters {
    int scanType = TimeAveragedScan;
    bool aspectRatioFamily = true;
    bool multipleScans = false;
    int tracesPerScan = 0;      // 0 = until stopped
    double scanLengthMs = 0.0;  // multiple scans: total length of the run
    double intervalMs = 0.0;    // multiple scans: length of one pass
    unsigned trStart = 0;       // time-resolved window, microseconds
    unsigned trEnd = 100;
    double trRes = 100.0;
    double biasStart = -10.0;  // volts
    double biasEnd = 100.0;
    double biasStep = 1.0;
    double collector = -60.0;
    double supGrid = -60.0;
    double secElSup = -70.0;
    unsigned zeroStepDelay = 1000000;  // microseconds
    unsigned firstStepDelay = 50000;   // microseconds
    unsigned nextStepDelay = 100;
    unsigned ivAcc = 2000;  // ADC samples per step
    unsigned kalderFirstStep = 1;
    unsigned kalderNextStep = 1;
    unsigned kalderIvAcc = 10000;
    bool risingEdge = true;
    unsigned syncDelay = 0;
    unsigned currentRange = 0;
    bool collectorDiscriminator = false;
    bool highResolutionKalderMode = false;
    QVector<bool> enabledChannels = QVector<bool>(24, true);
    QVector<double> aspectRatios = QVector<double>{1.0};
};

class scanSettings : public QObject {
    Q_OBJECT

public:
    explicit scanSettings(QObject* parent = nullptr) : QObject(parent) {}

    virtual int scanType() const = 0;
    virtual bool aspectRatioFamily() const = 0;
    virtual bool multipleScans() const = 0;
    virtual int tracesPerScan() const = 0;
    virtual double scanLengthMs() const = 0;
    virtual double intervalMs() const = 0;
    virtual unsigned trStart() const = 0;
    virtual unsigned trEnd() const = 0;
    virtual double trRes() const = 0;
    virtual double biasStart() const = 0;
    virtual double biasEnd() const = 0;
    virtual double biasStep() const = 0;
    virtual double collector() const = 0;
    virtual double supGrid() const = 0;
    virtual double secElSup() const = 0;
    virtual unsigned zeroStepDelay() const = 0;
    virtual unsigned firstStepDelay() const = 0;
    virtual unsigned nextStepDelay() const = 0;
    virtual unsigned ivAcc() const = 0;
    virtual unsigned kalderFirstStep() const = 0;
    virtual unsigned kalderNextStep() const = 0;
    virtual unsigned kalderIvAcc() const = 0;
    virtual bool risingEdge() const = 0;
    virtual unsigned syncDelay() const = 0;
    virtual unsigned currentRange() const = 0;
    virtual bool collectorDiscriminator() const = 0;
    virtual bool highResolutionKalderMode() const = 0;
    virtual QVector<bool> enabledChannels() const = 0;
    virtual QVector<double> aspectRatios() const = 0;

    // All values at once. A controller takes this copy in the thread that creates it, so its
    // own thread never reads the dialogs.
    scanParameters snapshot() const;

signals:
    void isMultiScan(bool multi);

public slots:
    void checkIfMultiScan() { emit isMultiScan(multipleScans()); }
};

// Settings given as plain values.
class fixedScanSettings : public scanSettings {
    Q_OBJECT

public:
    explicit fixedScanSettings(const scanParameters& values = scanParameters(),
                               QObject* parent = nullptr)
        : scanSettings(parent), p(values) {}

    scanParameters& values() { return p; }

    int scanType() const override { return p.scanType; }
    bool aspectRatioFamily() const override { return p.aspectRatioFamily; }
    bool multipleScans() const override { return p.multipleScans; }
    int tracesPerScan() const override { return p.tracesPerScan; }
    double scanLengthMs() const override { return p.scanLengthMs; }
    double intervalMs() const override { return p.intervalMs; }
    unsigned trStart() const override { return p.trStart; }
    unsigned trEnd() const override { return p.trEnd; }
    double trRes() const override { return p.trRes; }
    double biasStart() const override { return p.biasStart; }
    double biasEnd() const override { return p.biasEnd; }
    double biasStep() const override { return p.biasStep; }
    double collector() const override { return p.collector; }
    double supGrid() const override { return p.supGrid; }
    double secElSup() const override { return p.secElSup; }
    unsigned zeroStepDelay() const override { return p.zeroStepDelay; }
    unsigned firstStepDelay() const override { return p.firstStepDelay; }
    unsigned nextStepDelay() const override { return p.nextStepDelay; }
    unsigned ivAcc() const override { return p.ivAcc; }
    unsigned kalderFirstStep() const override { return p.kalderFirstStep; }
    unsigned kalderNextStep() const override { return p.kalderNextStep; }
    unsigned kalderIvAcc() const override { return p.kalderIvAcc; }
    bool risingEdge() const override { return p.risingEdge; }
    unsigned syncDelay() const override { return p.syncDelay; }
    unsigned currentRange() const override { return p.currentRange; }
    bool collectorDiscriminator() const override { return p.collectorDiscriminator; }
    bool highResolutionKalderMode() const override { return p.highResolutionKalderMode; }
    QVector<bool> enabledChannels() const override { return p.enabledChannels; }
    QVector<double> aspectRatios() const override { return p.aspectRatios; }

private:
    scanParameters p;
};

#endif  // KALDER_ACQUISITION_SCANSETTINGS_H
