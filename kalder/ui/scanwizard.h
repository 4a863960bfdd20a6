// Walks the user through the scan dialogs (mode selection, scan mode, scan settings), keeps
// every value in the settings store and hands the values to the scan controllers.
#ifndef KALDER_UI_SCANWIZARD_H
#define KALDER_UI_SCANWIZARD_H

#include "acquisition/scansettings.h"
#include "ui/preferencesdialog.h"
#include "ui/scanmodedialog.h"
#include "ui/scanmodeselectiondialog.h"
#include "ui/scansettingsdialog.h"

class TolmarCntrl;
class tarvoDataSet;

class scanWizard : public scanSettings {
    Q_OBJECT

public:
    explicit scanWizard(QObject* parent = nullptr);

    // Limits, current ranges and channel layout of the connected unit.
    void configureFor(TolmarCntrl& cntrl);
    void setElectrodeVoltage(double ev);
    double electrodeVoltage() const { return lastElectrodeVoltage; }
    // The settings travel with the data: into a new data set's settings map.
    void writeSettingsInto(tarvoDataSet* dataSet) const;

    preferencesDialog& preferences() { return prefs; }
    scanModeSelectionDialog& selectionDialog() { return selection; }
    scanModeDialog& modeDialog() { return mode; }
    scanSettingsDialog& settingsDialog() { return scanSettingsDlg; }

    int scanType() const override;
    bool aspectRatioFamily() const override;
    bool multipleScans() const override { return mode.multipleScans(); }
    int tracesPerScan() const override { return mode.tracesPerScan(); }
    double scanLengthMs() const override { return mode.scanLengthMs(); }
    double intervalMs() const override { return mode.intervalMs(); }
    unsigned trStart() const override { return mode.trStart(); }
    unsigned trEnd() const override { return mode.trEnd(); }
    double trRes() const override { return mode.trRes(); }
    double biasStart() const override { return scanSettingsDlg.biasStart(); }
    double biasEnd() const override { return scanSettingsDlg.biasEnd(); }
    double biasStep() const override { return scanSettingsDlg.biasStep(); }
    double collector() const override { return scanSettingsDlg.collector(); }
    double supGrid() const override { return scanSettingsDlg.supGrid(); }
    double secElSup() const override { return scanSettingsDlg.secElSup(); }
    unsigned zeroStepDelay() const override { return scanSettingsDlg.zeroStepDelay(); }
    unsigned firstStepDelay() const override { return scanSettingsDlg.firstStepDelay(); }
    unsigned nextStepDelay() const override { return scanSettingsDlg.nextStepDelay(); }
    unsigned ivAcc() const override { return scanSettingsDlg.ivAcc(); }
    unsigned kalderFirstStep() const override { return scanSettingsDlg.kalderFirstStep(); }
    unsigned kalderNextStep() const override { return scanSettingsDlg.kalderNextStep(); }
    unsigned kalderIvAcc() const override { return scanSettingsDlg.kalderIvAcc(); }
    bool risingEdge() const override { return scanSettingsDlg.risingEdge(); }
    unsigned syncDelay() const override { return scanSettingsDlg.syncDelay(); }
    unsigned currentRange() const override { return scanSettingsDlg.currentRange(); }
    bool collectorDiscriminator() const override {
        return scanSettingsDlg.collectorDiscriminator();
    }
    bool highResolutionKalderMode() const override {
        return scanSettingsDlg.highResolutionKalderMode();
    }
    QVector<bool> enabledChannels() const override { return scanSettingsDlg.enabledChannels(); }
    QVector<double> aspectRatios() const override { return scanSettingsDlg.aspectRatios(); }

signals:
    void resync();

public slots:
    // Runs the dialogs; true when the user asked to run the scan.
    bool configureScan();
    bool updatePreferences();
    // Shows or hides the boxes of the aspect-ratio family.
    void toggleKalder(bool on);
    void readSettings();
    void updateSyncFreq(double freq, int code);

private:
    double lastElectrodeVoltage;
    preferencesDialog prefs;
    scanModeDialog mode;
    scanSettingsDialog scanSettingsDlg;
    scanModeSelectionDialog selection;
};

#endif  // KALDER_UI_SCANWIZARD_H
