// The scan wizard and its dialogs: defaults of a first run, the order of the dialogs, entry
// corrections, the quick form, the aspect-ratio list, the instrument inputs and what travels
// into the data set.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QStackedWidget>
#include <QTabWidget>
#include <cmath>
#include <memory>

#include "data/tarvodataset.h"
#include "qttestsupport.h"
#include "tempdir.h"
#include "tolmar2/TolmarCntrl.h"
#include "ui/outputranges.h"
#include "ui/scanwizard.h"

namespace {

class WizardTest : public ::testing::Test {
protected:
    void SetUp() override { QSettings().clear(); }

    template <class T = QLineEdit>
    static T* field(QWidget& dialog, const char* name) {
        T* w = dialog.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
};

TEST_F(WizardTest, FirstRunShowsTheDefaults) {
    scanWizard wizard;
    EXPECT_TRUE(wizard.aspectRatioFamily());
    EXPECT_EQ(wizard.scanType(), TimeAveragedScan);
    EXPECT_FALSE(wizard.multipleScans());
    EXPECT_EQ(wizard.tracesPerScan(), 0);
    EXPECT_DOUBLE_EQ(wizard.biasStart(), -10.0);
    EXPECT_DOUBLE_EQ(wizard.biasEnd(), 100.0);
    EXPECT_DOUBLE_EQ(wizard.biasStep(), 1.0);
    EXPECT_DOUBLE_EQ(wizard.collector(), -60.0);
    EXPECT_DOUBLE_EQ(wizard.supGrid(), -60.0);
    EXPECT_DOUBLE_EQ(wizard.secElSup(), -70.0);
    EXPECT_EQ(wizard.zeroStepDelay(), 1000000u);  // 1000 ms in microseconds
    EXPECT_EQ(wizard.firstStepDelay(), 50000u);
    EXPECT_EQ(wizard.nextStepDelay(), 100u);
    EXPECT_EQ(wizard.ivAcc(), 2000u);
    EXPECT_EQ(wizard.kalderIvAcc(), 10000u);
    EXPECT_TRUE(wizard.risingEdge());
    EXPECT_EQ(wizard.trEnd(), 100u);
    EXPECT_DOUBLE_EQ(wizard.trRes(), 100.0);

    scanSettingsDialog& dialog = wizard.settingsDialog();
    EXPECT_FALSE(dialog.advancedMode());
    EXPECT_EQ(field<QStackedWidget>(dialog, "stackedWidget")->currentWidget()->objectName(),
              "quickPage");
    EXPECT_EQ(field<QPushButton>(dialog, "switchMode")->text(), "Advanced Settings");
    EXPECT_TRUE(field<QRadioButton>(dialog, "useOverrideCB")->isChecked());
    EXPECT_EQ(field(dialog, "simpleEnergyRange")->text(), "100");
    EXPECT_EQ(field(dialog, "simpleEnergyRes")->text(), "1");
}

TEST_F(WizardTest, DialogTextsAndTitles) {
    scanWizard wizard;
    EXPECT_EQ(wizard.selectionDialog().windowTitle(), "Scan Mode Selection");
    EXPECT_EQ(wizard.modeDialog().windowTitle(), "Select Scan Mode");
    EXPECT_EQ(field<QRadioButton>(wizard.selectionDialog(), "standard")->text(),
              "Ion Energy - Standard Mode");
    EXPECT_EQ(field<QRadioButton>(wizard.selectionDialog(), "aspectRatio")->text(),
              "Ion Energy - AR Mode");
    EXPECT_EQ(field<QPushButton>(wizard.settingsDialog(), "prev")->text(), "Previous");
    EXPECT_EQ(field<QPushButton>(wizard.settingsDialog(), "runScan")->text(), "Run Scan");
    EXPECT_EQ(field<QPushButton>(wizard.settingsDialog(), "reSyncButton")->text(),
              "Re synchronise");
}

TEST_F(WizardTest, PreviousReturnsToTheSelectionDialog) {
    scanWizard wizard;
    modalScript script;
    script
        .on("scanModeSelectionDialog",
            [](QWidget* w) {
                w->findChild<QRadioButton*>("standard")->setChecked(true);
                clickButton(w, "nextButton");
            })
        .on("scanModeDialog", [](QWidget* w) { clickButton(w, "nextButton"); })
        .on("scanSettingsDialog", [](QWidget* w) { clickButton(w, "prev"); })
        .on("scanModeSelectionDialog", [](QWidget* w) { clickButton(w, "cancelButton"); });
    EXPECT_FALSE(wizard.configureScan());
    EXPECT_TRUE(script.finished());
    EXPECT_TRUE(script.unexpected.isEmpty()) << script.unexpected.join(",").toStdString();
    EXPECT_EQ(script.seen, QStringList({"scanModeSelectionDialog", "scanModeDialog",
                                        "scanSettingsDialog", "scanModeSelectionDialog"}));
}

TEST_F(WizardTest, AspectRatioModeSkipsTheModeDialogAndRuns) {
    scanWizard wizard;
    modalScript script;
    script.on("scanModeSelectionDialog", [](QWidget* w) { clickButton(w, "nextButton"); })
        .on("scanSettingsDialog", [](QWidget* w) {
            // The aspect-ratio boxes show, the sync tab is off for a time-averaged scan.
            EXPECT_TRUE(w->findChild<QWidget*>("arBox")->isVisibleTo(w));
            auto* tabs = w->findChild<QTabWidget*>("tabWidget");
            EXPECT_FALSE(tabs->isTabEnabled(tabs->indexOf(w->findChild<QWidget*>("syncTab"))));
            clickButton(w, "runScan");
        });
    EXPECT_TRUE(wizard.configureScan());
    EXPECT_EQ(script.seen, QStringList({"scanModeSelectionDialog", "scanSettingsDialog"}));
    EXPECT_EQ(QSettings().value("scanmodeselectiondialog/selectionmode").toInt(), 1);
}

TEST_F(WizardTest, TemperatureRecordRunsFromTheModeDialog) {
    scanWizard wizard;
    modalScript script;
    script
        .on("scanModeSelectionDialog",
            [](QWidget* w) {
                w->findChild<QRadioButton*>("standard")->setChecked(true);
                clickButton(w, "nextButton");
            })
        .on("scanModeDialog", [](QWidget* w) {
            w->findChild<QRadioButton*>("temperatureScanButton")->click();
            EXPECT_EQ(w->findChild<QPushButton*>("nextButton")->text(), "Run Scan");
            clickButton(w, "nextButton");
        });
    EXPECT_TRUE(wizard.configureScan());
    EXPECT_EQ(wizard.scanType(), TemperatureScan);
    EXPECT_EQ(QSettings().value("scanmodedialog/scanType").toInt(), 0);
}

TEST_F(WizardTest, TimeResolvedEntriesBelowTheMinimumAreRaised) {
    struct Case {
        const char* start;
        const char* end;
        const char* res;
        unsigned wantEnd;
        double wantRes;
    };
    const Case cases[] = {{"0", "20", "50", 100, 100.0},
                          {"10", "500", "99", 500, 100.0},
                          {"0", "100", "100", 100, 100.0},
                          {"5", "2000", "250", 2000, 250.0}};
    for (const Case& c : cases) {
        QSettings().clear();
        scanModeDialog dialog;
        field(dialog, "trStart")->setText(c.start);
        field(dialog, "trEnd")->setText(c.end);
        field(dialog, "trRes")->setText(c.res);
        field<QRadioButton>(dialog, "timeResolvedScanButton")->click();
        clickButton(&dialog, "nextButton");
        EXPECT_EQ(dialog.trEnd(), c.wantEnd) << c.end;
        EXPECT_DOUBLE_EQ(dialog.trRes(), c.wantRes) << c.res;
        QSettings s;
        EXPECT_EQ(s.value("scanmodedialog/trRes").toString(), QString::number(c.wantRes));
        EXPECT_EQ(s.value("scanmodedialog/scanType").toInt(), 2);
        // The time-resolved box replaces the single/multiple box.
        EXPECT_TRUE(field<QWidget>(dialog, "resolvedBox")->isVisibleTo(&dialog));
        EXPECT_FALSE(field<QWidget>(dialog, "normalBox")->isVisibleTo(&dialog));
    }
}

TEST_F(WizardTest, MultipleScansEnableIntervalAndLengthInMilliseconds) {
    scanModeDialog dialog;
    EXPECT_FALSE(field(dialog, "scanLength")->isEnabled());
    field<QCheckBox>(dialog, "multipleScanCB")->setChecked(true);
    EXPECT_TRUE(field(dialog, "scanLength")->isEnabled());
    EXPECT_TRUE(field(dialog, "intervalBetweenScans")->isEnabled());
    field(dialog, "scanLength")->setText("12");
    field(dialog, "intervalBetweenScans")->setText("3");
    field(dialog, "tracesPerScan")->setText("7");
    EXPECT_DOUBLE_EQ(dialog.scanLengthMs(), 12000.0);
    EXPECT_DOUBLE_EQ(dialog.intervalMs(), 3000.0);
    EXPECT_EQ(dialog.tracesPerScan(), 7);
}

TEST_F(WizardTest, QuickFormDerivesTheSweepFromTheElectrodeVoltage) {
    struct Case {
        double measured;  // NaN: none yet
        bool override;
        const char* overrideText;
        const char* range;
        const char* res;
        const char* start;
        const char* end;
        const char* step;
        const char* collector;
        const char* secElSup;
    };
    const double none = std::nan("");
    const Case cases[] = {
        {none, false, "0", "100", "1", "0.000", "100.000", "1.000", "-60.000", "-70.000"},
        {12.5, false, "0", "50", "0.5", "12.500", "62.500", "0.500", "-47.500", "-57.500"},
        {12.5, true, "-3", "80", "2", "-3.000", "77.000", "2.000", "-63.000", "-73.000"},
        {none, true, "7", "10", "1", "7.000", "17.000", "1.000", "-53.000", "-63.000"}};
    for (const Case& c : cases) {
        QSettings().clear();
        scanSettingsDialog dialog;
        dialog.setElectrodeVoltage(c.measured);
        field<QRadioButton>(dialog, c.override ? "useOverrideCB" : "useMeasuredCB")
            ->setChecked(true);
        field(dialog, "electrodeVoltageOverrideVal")->setText(c.overrideText);
        field(dialog, "simpleEnergyRange")->setText(c.range);
        field(dialog, "simpleEnergyRes")->setText(c.res);
        field(dialog, "supGrid")->setText("-55");
        dialog.acceptDial();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        QSettings s;
        s.beginGroup("scansettingdialog");
        EXPECT_EQ(s.value("biasStart").toString(), c.start);
        EXPECT_EQ(s.value("biasEnd").toString(), c.end);
        EXPECT_EQ(s.value("biasStep").toString(), c.step);
        EXPECT_EQ(s.value("collector").toString(), c.collector);
        EXPECT_EQ(s.value("secElSup").toString(), c.secElSup);
        EXPECT_EQ(s.value("supGrid").toString(), "-55");  // kept as typed
        EXPECT_EQ(s.value("override").toBool(), c.override);
    }
}

TEST_F(WizardTest, AdvancedModeStoresTheFieldsAsTyped) {
    scanSettingsDialog dialog;
    dialog.setElectrodeVoltage(20.0);
    dialog.switchMode();
    EXPECT_EQ(field<QPushButton>(dialog, "switchMode")->text(), "Quick Settings");
    field(dialog, "biasStart")->setText("-5");
    field(dialog, "biasEnd")->setText("40");
    dialog.acceptDial();
    QSettings s;
    EXPECT_EQ(s.value("scansettingdialog/biasStart").toString(), "-5");
    EXPECT_EQ(s.value("scansettingdialog/biasEnd").toString(), "40");
    EXPECT_TRUE(s.value("scansettingdialog/useAdvancedMode").toBool());
    dialog.switchMode();
    EXPECT_EQ(field<QPushButton>(dialog, "switchMode")->text(), "Advanced Settings");
}

TEST_F(WizardTest, AspectRatioList) {
    struct Case {
        const char* start;
        const char* step;
        const char* count;
        QVector<double> extra;
        QVector<double> want;
    };
    const Case cases[] = {
        {"1", "5", "10", {}, {1, 6, 11, 16, 1.0}},             // stops before 20
        {"19.5", "5", "3", {}, {19.5, 1.0}},                   // the first always counts
        {"2", "3", "2", {}, {2, 5, 1.0}},                      // count ends the list
        {"1", "5", "10", {0.5, 3.0}, {1, 6, 11, 16, 0.5, 3}},  // picked ratios replace 1.0
        {"15", "5", "4", {}, {15, 1.0}}};                      // 20 itself is excluded
    for (const Case& c : cases) {
        scanSettingsDialog dialog;
        field(dialog, "arStart")->setText(c.start);
        field(dialog, "arStep")->setText(c.step);
        field(dialog, "arStepsCount")->setText(c.count);
        dialog.setExtraAspectRatios(c.extra);
        EXPECT_EQ(dialog.aspectRatios(), c.want) << c.start << " " << c.step;
    }
}

TEST_F(WizardTest, ExtraAspectRatiosComeFromTheStore) {
    {
        QSettings s;
        s.beginGroup("scansettingdialog");
        s.beginWriteArray("aspectRatios");
        s.setArrayIndex(0);
        s.setValue("val", 2.5);
        s.setArrayIndex(1);  // no value: the default 0.5
        s.endArray();
    }
    scanSettingsDialog dialog;
    field(dialog, "arStart")->setText("1");
    field(dialog, "arStepsCount")->setText("1");
    EXPECT_EQ(dialog.aspectRatios(), QVector<double>({1.0, 2.5, 0.5}));
}

TEST(OutputRanges, DecimalsFollowTheDacResolution) {
    struct Case {
        double gain;
        int decimals;
    };
    const Case cases[] = {{100.0, 2},  {13.1, 1},   {0.5, 0}, {1.0, 0},
                          {1000.0, 3}, {-131.0, 2}, {0.0, 0}, {10.0, 1}};
    for (const Case& c : cases) {
        EXPECT_EQ(decimalsForGain(c.gain), c.decimals) << c.gain;
    }
}

TEST_F(WizardTest, VoltagesAreClampedIntoTheOutputRanges) {
    scanSettingsDialog dialog;
    outputRanges r;
    r.output[0] = {-90.0, -10.0, 100.0};
    r.output[1] = {-150.0, 150.0, 100.0};
    r.output[2] = {-50.0, 80.0, 100.0};
    dialog.setRanges(r);
    struct Case {
        const char* name;
        const char* typed;
        const char* shown;
    };
    const Case cases[] = {{"biasStart", "120", "80.000"},        {"biasEnd", "-70", "-50.000"},
                          {"simpleEnergyRange", "95", "80.000"}, {"collector", "-200", "-150.000"},
                          {"supGrid", "0", "-10.000"},           {"secElSup", "-95", "-90.000"},
                          {"biasStart", "12.5", "12.5"}};
    for (const Case& c : cases) {
        field(dialog, c.name)->setText(c.typed);
        dialog.validateScanVals();
        EXPECT_EQ(field(dialog, c.name)->text(), c.shown) << c.name;
    }
    // The validators follow the ranges and the DAC resolution.
    auto* v = qobject_cast<const QDoubleValidator*>(field(dialog, "collector")->validator());
    ASSERT_NE(v, nullptr);
    EXPECT_DOUBLE_EQ(v->bottom(), -150.0);
    EXPECT_DOUBLE_EQ(v->top(), 150.0);
    EXPECT_EQ(v->decimals(), 2);
}

TEST_F(WizardTest, InstrumentInputs) {
    TempDir dir(true);  // the controller writes its log in the working directory
    auto unit = std::make_unique<TolmarCntrl>();
    unit->extendedProbes = false;
    unit->iRange[0] = 6e-6;
    unit->iRange[1] = 6e-5;
    unit->iRange[2] = 0.00024;
    unit->iRange[3] = 0.0024;
    scanWizard wizard;
    wizard.configureFor(*unit);
    auto* combo = field<QComboBox>(wizard.settingsDialog(), "currentRange");
    ASSERT_EQ(combo->count(), 4);
    EXPECT_EQ(combo->itemText(0), "6 uA");
    EXPECT_EQ(combo->itemText(2), "240 uA");
    EXPECT_EQ(combo->itemText(3), "2400 uA");
    combo->setCurrentIndex(2);
    EXPECT_EQ(wizard.currentRange(), 2u);

    unit->extendedProbes = true;
    unit->nCalRanges = 2;
    unit->rangeValue[0] = 6e-6;
    unit->rangeValue[1] = 2e-6;
    wizard.configureFor(*unit);
    ASSERT_EQ(combo->count(), 2);
    EXPECT_EQ(combo->itemText(1), "2 uA");

    wizard.setElectrodeVoltage(23.456);
    EXPECT_EQ(field<QLabel>(wizard.settingsDialog(), "evValue")->text(), "23.5");

    auto* sync = field<QLabel>(wizard.settingsDialog(), "syncFreq");
    wizard.updateSyncFreq(13560.0, 1);
    EXPECT_EQ(sync->text(), "13560 hz");
    wizard.updateSyncFreq(0.0, 0);
    EXPECT_EQ(sync->text(), "13560 hz");
    wizard.updateSyncFreq(0.0, -2);
    EXPECT_EQ(sync->text(), "Signal not synced");
}

TEST_F(WizardTest, ResyncButtonReachesTheWizard) {
    scanWizard wizard;
    int resyncs = 0;
    QObject::connect(&wizard, &scanWizard::resync, [&] { ++resyncs; });
    clickButton(&wizard.settingsDialog(), "reSyncButton");
    EXPECT_EQ(resyncs, 1);
}

TEST_F(WizardTest, SettingsTravelIntoTheDataSet) {
    scanWizard wizard;
    QSettings().setValue("scansettingdialog/collectorSweepMode", true);
    wizard.readSettings();
    field(wizard.settingsDialog(), "biasStep")->setText("0.5");
    tarvoDataSet dataSet(1, 1, 0);
    wizard.writeSettingsInto(&dataSet);
    const QVariantMap& map = dataSet.settingsMap;
    EXPECT_EQ(map.value("collectorSweepMode").toBool(), true);  // from the store
    EXPECT_EQ(map.value("biasStep").toString(), "0.5");         // the dialog's current text
    EXPECT_EQ(map.value("biasStart").toString(), "-10");
    EXPECT_EQ(map.value("useAdvancedMode").toBool(), false);
    EXPECT_EQ(map.value("AspectRatios").toList().size(), 5);
    EXPECT_EQ(map.value("enabledSensors").toList().size(), 24);
    for (const char* key : {"eVOverride",
                            "simpleEnergyRange",
                            "simpleEnergyRes",
                            "override",
                            "supGrid",
                            "biasEnd",
                            "secElSup",
                            "collector",
                            "aspectRatioStart",
                            "aspectRatioStep",
                            "aspectRatioStepCount",
                            "zeroStep",
                            "firstStep",
                            "nextStep",
                            "ivAcc",
                            "kalderFirstStep",
                            "kalderNextStep",
                            "kalderIvAcc",
                            "syncDelay",
                            "useRisingEdge"}) {
        EXPECT_TRUE(map.contains(key)) << key;
    }
}

}  // namespace
