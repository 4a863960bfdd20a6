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

// The first page's answer for every scan of the standard kind.
void chooseStandardScan(QWidget* w) {
    w->findChild<QRadioButton*>("standard")->setChecked(true);
    clickButton(w, "nextButton");
}

TEST_F(WizardTest, PreviousReturnsToTheSelectionDialog) {
    scanWizard wizard;
    modalScript script;
    script.on("scanModeSelectionDialog", chooseStandardScan)
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
    script.on("scanModeSelectionDialog", chooseStandardScan).on("scanModeDialog", [](QWidget* w) {
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
    // The picked ratios are kept in the store; an entry without a value reads 0.5.
    QSettings s;
    s.beginGroup("scansettingdialog");
    s.beginWriteArray("aspectRatios");
    s.setArrayIndex(0);
    s.setValue("val", 2.5);
    s.setArrayIndex(1);
    s.endArray();
    s.endGroup();
    scanSettingsDialog stored;
    field(stored, "arStart")->setText("1");
    field(stored, "arStepsCount")->setText("1");
    EXPECT_EQ(stored.aspectRatios(), QVector<double>({1.0, 2.5, 0.5}));
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
    EXPECT_EQ(combo->itemText(2), "240 uA");
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
    wizard.updateSyncFreq(0.0, -2);
    EXPECT_EQ(sync->text(), "Signal not synced");
}

}  // namespace
