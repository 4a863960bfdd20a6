// Last step of the scan wizard: the energy range in a quick form, or the electrode voltages,
// timings, channel activation and sync options in an advanced form, plus the aspect ratios of
// an aspect-ratio scan. Ends with result 1 (run), 0 (cancel) or PREVIOUS.
#ifndef KALDER_UI_SCANSETTINGSDIALOG_H
#define KALDER_UI_SCANSETTINGSDIALOG_H

#include <QDialog>
#include <QVector>
#include <memory>
#include <vector>

#include "ui/outputranges.h"
#include "ui/settingsfields.h"

namespace Ui {
class scanSettingsDialog;
}
class tarvoDataSet;

class scanSettingsDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr int PREVIOUS = 5;
    // Aspect ratios are listed up to (not including) this value.
    static constexpr double MAX_ASPECT_RATIO = 20.0;

    explicit scanSettingsDialog(QWidget* parent = nullptr);
    ~scanSettingsDialog() override;

    // Instrument inputs.
    void setAspectRatioFamily(bool on);
    void setTimeResolved(bool on);
    void showInstrumentBoxes();
    void setElectrodeVoltage(double ev);
    double measuredElectrodeVoltage() const { return electrodeVoltage; }
    void setRanges(const outputRanges& ranges);
    // One entry per range, in amperes.
    void setCurrentRanges(const QVector<double>& amperes);
    void configureChannels(int nAdcChannels, int nProbes, int nVchan, int sensorCode);
    void updateSyncFreq(double freq, int code);
    void setExtraAspectRatios(const QVector<double>& ratios) { extraRatios = ratios; }

    // Values.
    double biasStart() const;
    double biasEnd() const;
    double biasStep() const;
    double collector() const;
    double supGrid() const;
    double secElSup() const;
    unsigned zeroStepDelay() const;
    unsigned firstStepDelay() const;
    unsigned nextStepDelay() const;
    unsigned ivAcc() const;
    unsigned kalderFirstStep() const;
    unsigned kalderNextStep() const;
    unsigned kalderIvAcc() const;
    bool risingEdge() const;
    unsigned syncDelay() const;
    unsigned currentRange() const;
    bool collectorDiscriminator() const;
    bool highResolutionKalderMode() const;
    QVector<bool> enabledChannels() const;
    QVector<double> aspectRatios() const;
    bool advancedMode() const { return advanced; }

    void readSettings();
    void writeSettings();
    // The settings group and the current values, into a new data set's settings map.
    void writeInto(tarvoDataSet* dataSet) const;

signals:
    void resync();

public slots:
    void acceptDial();
    void switchMode();
    void validateScanVals();

private:
    void showPage();

    std::unique_ptr<Ui::scanSettingsDialog> ui;
    std::vector<textField> fields;
    bool advanced = false;
    bool aspectRatioFamily = false;
    double electrodeVoltage;
    outputRanges ranges;
    QVector<double> extraRatios;
};

#endif  // KALDER_UI_SCANSETTINGSDIALOG_H
