// The scan wizard and the other dialogs: the aspect-ratio path, entry corrections, the quick
// form, the aspect-ratio list, the instrument inputs; the autosave directory, idle voltages,
// instrument settings.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <algorithm>
#include <cmath>
#include <memory>

#include "qttestsupport.h"
#include "tempdir.h"
#include "tolmar2/TolmarCntrl.h"
#include "ui/idlevoltagesdialog.h"
#include "ui/instrumentsettingsdialog.h"
#include "ui/outputranges.h"
#include "ui/preferencesdialog.h"
#include "ui/scanwizard.h"

namespace {

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override { QSettings().clear(); }

    template <class T = QLineEdit>
    static T* field(QWidget& dialog, const char* name) {
        T* w = dialog.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    TempDir dir{true};  // the controller writes its log in the working directory
};

// The aspect-ratio kind skips the mode dialog and shows its boxes; the choice is kept for the
// next scan.
TEST_F(DialogTest, TheWizardsAspectRatioPath) {
    scanWizard wizard;
    modalScript script;
    script
        .on("scanModeSelectionDialog",
            [](QWidget* w) {
                w->findChild<QRadioButton*>("aspectRatio")->setChecked(true);
                clickButton(w, "nextButton");
            })
        .on("scanSettingsDialog", [](QWidget* w) {
            EXPECT_TRUE(w->findChild<QWidget*>("arBox")->isVisibleTo(w));
            clickButton(w, "runScan");
        });
    EXPECT_TRUE(wizard.configureScan());
    EXPECT_EQ(script.seen, QStringList({"scanModeSelectionDialog", "scanSettingsDialog"}));
    EXPECT_EQ(QSettings().value("scanmodeselectiondialog/selectionmode").toInt(), 1);
}

TEST_F(DialogTest, TimeResolvedEntriesBelowTheMinimumAreRaised) {
    const struct {
        const char *start, *end, *res;
        unsigned wantEnd;
        double wantRes;
    } cases[] = {{"0", "20", "50", 100, 100.0}, {"5", "2000", "250", 2000, 250.0}};
    for (const auto& c : cases) {
        QSettings().clear();
        scanModeDialog dialog;
        field(dialog, "trStart")->setText(c.start);
        field(dialog, "trEnd")->setText(c.end);
        field(dialog, "trRes")->setText(c.res);
        field<QRadioButton>(dialog, "timeResolvedScanButton")->click();
        clickButton(&dialog, "nextButton");
        EXPECT_EQ(dialog.trEnd(), c.wantEnd) << c.end;
        EXPECT_DOUBLE_EQ(dialog.trRes(), c.wantRes) << c.res;
    }
}

TEST_F(DialogTest, QuickFormDerivesTheSweepFromTheElectrodeVoltage) {
    const double none = std::nan("");
    const struct {
        double measured;  // NaN: none yet
        bool override;
        const char *overrideText, *range, *res, *start, *end, *step, *collector, *secElSup;
    } cases[] = {{none, false, "0", "100", "1", "0.000", "100.000", "1.000", "-60.000", "-70.000"},
                 {12.5, false, "0", "50", "0.5", "12.500", "62.500", "0.500", "-47.500", "-57.500"},
                 {12.5, true, "-3", "80", "2", "-3.000", "77.000", "2.000", "-63.000", "-73.000"}};
    for (const auto& c : cases) {
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
        QSettings s;
        s.beginGroup("scansettingdialog");
        const QStringList stored = {
            s.value("biasStart").toString(), s.value("biasEnd").toString(),
            s.value("biasStep").toString(),  s.value("collector").toString(),
            s.value("secElSup").toString(),  s.value("supGrid").toString()};
        EXPECT_EQ(stored, QStringList({c.start, c.end, c.step, c.collector, c.secElSup, "-55"}));
    }
}

TEST_F(DialogTest, AspectRatioList) {
    const struct {
        const char *start, *step, *count;
        QVector<double> extra, want;
    } cases[] = {{"1", "5", "10", {}, {1, 6, 11, 16, 1.0}},             // stops before 20
                 {"2", "3", "2", {}, {2, 5, 1.0}},                      // count ends the list
                 {"1", "5", "10", {0.5, 3.0}, {1, 6, 11, 16, 0.5, 3}},  // picked ratios replace 1.0
                 {"15", "5", "4", {}, {15, 1.0}}};                      // 20 itself is excluded
    for (const auto& c : cases) {
        scanSettingsDialog dialog;
        field(dialog, "arStart")->setText(c.start);
        field(dialog, "arStep")->setText(c.step);
        field(dialog, "arStepsCount")->setText(c.count);
        dialog.setExtraAspectRatios(c.extra);
        EXPECT_EQ(dialog.aspectRatios(), c.want) << c.start << " " << c.step;
    }
}

// Voltages typed outside an output's range are clamped into it: at once in the idle voltages, on
// validation in the scan settings. Idle voltages are stored as the instrument takes them.
TEST_F(DialogTest, VoltagesAreClampedIntoTheOutputRanges) {
    outputRanges r;
    r.output[0] = {-90.0, -10.0, 100.0};
    r.output[1] = {-150.0, 150.0, 13.1};
    r.output[2] = {-50.0, 80.0, 1000.0};
    scanSettingsDialog settings;
    settings.setRanges(r);
    idleVoltagesDialog idle;
    idle.setRanges(r);
    const struct {
        QWidget* dialog;
        const char *name, *typed, *shown;
    } cases[] = {
        {&settings, "biasStart", "120", "80.000"}, {&settings, "collector", "-200", "-150.000"},
        {&settings, "supGrid", "0", "-10.000"},    {&settings, "biasStart", "12.5", "12.5"},
        {&idle, "biasGridEdit", "-51", "-50.000"}, {&idle, "collectorEdit", "151", "150.000"},
        {&idle, "secElSupEdit", "-15", "-15"}};
    for (const auto& c : cases) {
        field(*c.dialog, c.name)->setText(c.typed);
        if (c.dialog == &settings) {
            settings.validateScanVals();
        }
        EXPECT_EQ(field(*c.dialog, c.name)->text(), c.shown) << c.name << " " << c.typed;
    }
    field(idle, "biasGridEdit")->setText("10");
    field(idle, "supGridEdit")->setText("-30");
    idle.accept();
    QSettings s;
    s.beginGroup("IdleVoltagesDialog");
    EXPECT_EQ(s.value("biasGrid").toString(), "10");
    EXPECT_EQ(s.value("suppressorGrid").toString(), "-30");
    EXPECT_EQ(s.value("secondaryElectronSuppression").toString(), "-15");
}

// The current ranges the unit offers.
TEST_F(DialogTest, InstrumentInputs) {
    auto unit = std::make_unique<TolmarCntrl>();
    unit->extendedProbes = false;
    const double ranges[] = {6e-6, 6e-5, 0.00024, 0.0024};
    std::copy(std::begin(ranges), std::end(ranges), unit->iRange);
    scanWizard wizard;
    wizard.configureFor(*unit);
    auto* combo = field<QComboBox>(wizard.settingsDialog(), "currentRange");
    ASSERT_EQ(combo->count(), 4);
    EXPECT_EQ(combo->itemText(2), "240 uA");
    unit->extendedProbes = true;
    unit->nCalRanges = 2;
    unit->rangeValue[0] = 6e-6;
    unit->rangeValue[1] = 2e-6;
    wizard.configureFor(*unit);
    ASSERT_EQ(combo->count(), 2);
    EXPECT_EQ(combo->itemText(1), "2 uA");
}

// A missing directory is made with its parents; below a plain file nothing can be made: reported,
// and the old path stays.
TEST_F(DialogTest, AutosaveDirectoryIsCreatedOrRefused) {
    const QString base = QString::fromStdString(dir.path());
    preferencesDialog dialog;
    const QString nested = base + "/a/b/c";
    EXPECT_TRUE(dialog.setTargetPath(nested));
    EXPECT_TRUE(QFileInfo(nested).isDir());
    EXPECT_EQ(QSettings().value("prefDialog/targetPath").toString(), nested);
    QFile file(base + "/plain");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    QString message;
    modalScript script;
    script.on([](QWidget* w) { return qobject_cast<QMessageBox*>(w) != nullptr; },
              [&](QWidget* w) {
                  auto* box = qobject_cast<QMessageBox*>(w);
                  message = box->windowTitle() + "|" + box->text();
                  box->accept();
              });
    EXPECT_FALSE(dialog.setTargetPath(base + "/plain/sub"));
    EXPECT_EQ(message, "Tarvo|Failed create Directory\nError code: Cannot make path to '" + base +
                           "/plain/sub' autosave directory\n");
    EXPECT_EQ(dialog.targetPath(), nested);
}

TEST_F(DialogTest, InstrumentSettingsEditThePerProbeTable) {
    auto unit = std::make_unique<TolmarCntrl>();
    unit->nExtProbes = 2;
    const double rows[2][4] = {{3950.0, 10000.0, 49900.0, 1e6},
                               {3900.0, 12000.0, 50100.0, 870000.0}};
    std::copy(&rows[0][0], &rows[0][0] + 8, &unit->tempCoef[0][0]);
    instrumentSettingsDialog dialog(unit.get());
    QList<QLineEdit*> edits = dialog.findChildren<QLineEdit*>();
    ASSERT_EQ(edits.size(), 8);
    // Row order: flux, beta, Ro, Rs.
    QStringList first;
    for (int i = 0; i < 4; ++i) first << edits[i]->text();
    EXPECT_EQ(first, QStringList({"1e+06", "3950", "10000", "49900"}));
    edits[0]->setText("1e+07");
    edits[4]->setText("900000");
    edits[5]->setText("4000");
    // Not connected: the record cannot be written, but the table holds the new values.
    EXPECT_NE(dialog.writeRecord(), 1);
    EXPECT_DOUBLE_EQ(unit->tempCoef[1][3], 900000.0);
    EXPECT_DOUBLE_EQ(unit->tempCoef[1][0], 4000.0);
    EXPECT_DOUBLE_EQ(unit->tempCoef[0][3], 1e7);
}

}  // namespace
