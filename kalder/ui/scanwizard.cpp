#include "ui/scanwizard.h"

#include <limits>

#include "tolmar2/TolmarCntrl.h"

scanWizard::scanWizard(QObject* parent)
    : scanSettings(parent), lastElectrodeVoltage(std::numeric_limits<double>::quiet_NaN()) {
    connect(&scanSettingsDlg, &scanSettingsDialog::resync, this, &scanWizard::resync);
}

void scanWizard::configureFor(TolmarCntrl& cntrl) {
    scanSettingsDlg.showInstrumentBoxes();
    scanSettingsDlg.setRanges(outputRanges::of(cntrl));
    QVector<double> currents;
    if (cntrl.extendedProbes) {
        for (int i = 0; i < cntrl.nCalRanges && i < TolmarCntrl::MAX_CAL_RANGES; ++i) {
            currents << cntrl.rangeValue[i];
        }
    } else {
        currents = {cntrl.iRange[0], cntrl.iRange[1], cntrl.iRange[2], cntrl.iRange[3]};
    }
    scanSettingsDlg.setCurrentRanges(currents);
    scanSettingsDlg.configureChannels(cntrl.nAdcChannels, cntrl.getNProbes(), cntrl.getNVchan(),
                                      static_cast<int>(cntrl.extWord));
}

void scanWizard::setElectrodeVoltage(double ev) {
    lastElectrodeVoltage = ev;
    scanSettingsDlg.setElectrodeVoltage(ev);
}

void scanWizard::writeSettingsInto(tarvoDataSet* dataSet) const {
    scanSettingsDlg.writeInto(dataSet);
}

int scanWizard::scanType() const {
    // Temperature records are offered with the standard scans only.
    const int type = mode.scanType();
    return type == TemperatureScan && aspectRatioFamily() ? TimeAveragedScan : type;
}

bool scanWizard::aspectRatioFamily() const {
    return selection.selectionMode() == scanModeSelectionDialog::AspectRatio;
}

bool scanWizard::configureScan() {
    enum Step { Selection, Mode, Settings } step = Selection;
    for (;;) {
        switch (step) {
            case Selection:
                if (selection.exec() != QDialog::Accepted) {
                    return false;
                }
                step = aspectRatioFamily() ? Settings : Mode;
                break;
            case Mode:
                if (mode.exec() != QDialog::Accepted) {
                    return false;
                }
                if (mode.scanType() == TemperatureScan) {
                    return true;
                }
                step = Settings;
                break;
            case Settings: {
                scanSettingsDlg.setAspectRatioFamily(aspectRatioFamily());
                scanSettingsDlg.setTimeResolved(scanType() == TimeResolvedScan);
                const int result = scanSettingsDlg.exec();
                if (result == scanSettingsDialog::PREVIOUS) {
                    step = Selection;
                } else {
                    return result == QDialog::Accepted;
                }
                break;
            }
        }
    }
}

bool scanWizard::updatePreferences() {
    prefs.exec();
    return true;
}

void scanWizard::toggleKalder(bool on) {
    scanSettingsDlg.setAspectRatioFamily(on);
}

void scanWizard::readSettings() {
    selection.readSettings();
    mode.readSettings();
    scanSettingsDlg.readSettings();
    prefs.readSettings();
}

void scanWizard::updateSyncFreq(double freq, int code) {
    scanSettingsDlg.updateSyncFreq(freq, code);
}
