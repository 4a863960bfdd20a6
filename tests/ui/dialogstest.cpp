// The dialogs: preferences (the autosave directory), idle voltages, instrument settings, the
// channel-activation widget, export options, data properties, about and instrument
// information; and the banner's lights.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>
#include <memory>

#include "datasetmaker.h"
#include "qttestsupport.h"
#include "tempdir.h"
#include "tolmar2/TolmarCntrl.h"
#include "ui/aboutdialog.h"
#include "ui/abouthardwaredialog.h"
#include "ui/datapropertiesdialog.h"
#include "ui/derivativechoicedialog.h"
#include "ui/exportoptions.h"
#include "ui/graphcontrols.h"
#include "ui/idlevoltagesdialog.h"
#include "ui/instrumentsettingsdialog.h"
#include "ui/preferencesdialog.h"
#include "ui/sensoractivationwidget.h"
#include "ui/topbanner.h"

namespace {

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override { QSettings().clear(); }
};

TEST_F(DialogTest, AutosaveDirectoryIsCreatedOrRefused) {
    TempDir dir;
    const QString base = QString::fromStdString(dir.path());
    preferencesDialog dialog;

    // An existing directory is taken as it is.
    EXPECT_TRUE(dialog.setTargetPath(base));
    EXPECT_EQ(dialog.targetPath(), base);

    // A missing one is made, parents included.
    const QString nested = base + "/a/b/c";
    EXPECT_TRUE(dialog.setTargetPath(nested));
    EXPECT_TRUE(QFileInfo(nested).isDir());
    EXPECT_EQ(QSettings().value("prefDialog/targetPath").toString(), nested);

    // Below a plain file nothing can be made: reported, and the old path stays.
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

TEST_F(DialogTest, IdleVoltagesAreClampedAtOnceAndSentInInstrumentOrder) {
    idleVoltagesDialog dialog;
    outputRanges r;
    r.output[0] = {-100.0, 20.0, 100.0};
    r.output[1] = {-150.0, 150.0, 13.1};
    r.output[2] = {-60.0, 60.0, 1000.0};
    dialog.setRanges(r);
    struct Case {
        const char* name;
        const char* typed;
        const char* shown;
    };
    const Case cases[] = {{"biasGridEdit", "70", "60.000"},     {"biasGridEdit", "-61", "-60.000"},
                          {"collectorEdit", "151", "150.000"},  {"supGridEdit", "25", "20.000"},
                          {"secElSupEdit", "-101", "-100.000"}, {"secElSupEdit", "-5", "-5"}};
    for (const Case& c : cases) {
        dialog.findChild<QLineEdit*>(c.name)->setText(c.typed);
        EXPECT_EQ(dialog.findChild<QLineEdit*>(c.name)->text(), c.shown) << c.name;
    }
    dialog.findChild<QLineEdit*>("biasGridEdit")->setText("10");
    dialog.findChild<QLineEdit*>("collectorEdit")->setText("-40");
    dialog.findChild<QLineEdit*>("supGridEdit")->setText("-30");
    EXPECT_DOUBLE_EQ(dialog.suppressorGrid(), -30.0);
    dialog.accept();
    QSettings s;
    EXPECT_EQ(s.value("IdleVoltagesDialog/biasGrid").toString(), "10");
    EXPECT_EQ(s.value("IdleVoltagesDialog/suppressorGrid").toString(), "-30");
    EXPECT_EQ(s.value("IdleVoltagesDialog/secondaryElectronSuppression").toString(), "-5");
}

TEST_F(DialogTest, InstrumentSettingsEditThePerProbeTable) {
    TempDir dir(true);
    auto unit = std::make_unique<TolmarCntrl>();
    unit->nExtProbes = 2;
    const double rows[2][4] = {{3950.0, 10000.0, 49900.0, 1e6},
                               {3900.0, 12000.0, 50100.0, 870000.0}};
    for (int r = 0; r < 2; ++r) {
        for (int k = 0; k < 4; ++k) unit->tempCoef[r][k] = rows[r][k];
    }
    instrumentSettingsDialog dialog(unit.get());
    QList<QLineEdit*> edits = dialog.findChildren<QLineEdit*>();
    ASSERT_EQ(edits.size(), 8);
    // Row order: flux, beta, Ro, Rs.
    EXPECT_EQ(edits[0]->text(), "1e+06");
    EXPECT_EQ(edits[1]->text(), "3950");
    EXPECT_EQ(edits[2]->text(), "10000");
    EXPECT_EQ(edits[3]->text(), "49900");
    // What a field shows can be edited by typing: 1e+06 becomes 1e+07.
    edits[0]->end(false);
    QTest::keyClick(edits[0], Qt::Key_Backspace);
    QTest::keyClicks(edits[0], "7");
    EXPECT_EQ(edits[0]->text(), "1e+07");
    EXPECT_TRUE(edits[0]->hasAcceptableInput());
    edits[4]->setText("900000");
    edits[5]->setText("4000");
    // Not connected: the record cannot be written, but the table holds the new values.
    EXPECT_NE(dialog.writeRecord(), 1);
    EXPECT_DOUBLE_EQ(unit->tempCoef[1][3], 900000.0);
    EXPECT_DOUBLE_EQ(unit->tempCoef[1][0], 4000.0);
    EXPECT_DOUBLE_EQ(unit->tempCoef[0][3], 1e7);
}

class ProgramDialogs : public ::testing::Test {
protected:
    void SetUp() override { QSettings().clear(); }
};

TEST_F(ProgramDialogs, ExportOptionsDefaultsStoreAndChoices) {
    exportOptions dialog;
    EXPECT_TRUE(dialog.isCSV());
    EXPECT_TRUE(dialog.onlyResults());
    EXPECT_EQ(dialog.separator(), QChar(','));
    auto* separator = dialog.findChild<QLineEdit*>("separator");
    // The delimiter field follows the CSV button.
    dialog.findChild<QRadioButton*>("useMatlab")->setChecked(true);
    EXPECT_FALSE(separator->isEnabled());
    dialog.findChild<QRadioButton*>("useCSV")->setChecked(true);

    separator->setText("\t");
    dialog.findChild<QRadioButton*>("includeEverything")->setChecked(true);
    dialog.accept();
    QSettings s;
    EXPECT_EQ(s.value("exportOptions/separator").toString(), "\t");
    EXPECT_EQ(s.value("exportOptions/exportMode").toInt(), 0);
    EXPECT_EQ(s.value("exportOptions/dataMode").toInt(), 2);

    // A dialog made later (as the automatic export makes one) takes the stored choices, and
    // hands the writer the same value the settings give.
    exportOptions later;
    EXPECT_TRUE(later.includeAll());
    const exportChoices c = later.choices();
    const exportChoices stored = exportChoices::load(s);
    EXPECT_EQ(c.separator(), QChar('\t'));
    EXPECT_EQ(c.separator(), stored.separator());
    EXPECT_EQ(c.dataMode, stored.dataMode);
    EXPECT_EQ(c.exportMode, stored.exportMode);

    // An empty delimiter gives the character 0; a stored id without a button falls back.
    later.findChild<QLineEdit*>("separator")->clear();
    EXPECT_EQ(later.choices().separator(), QChar(0));
    s.setValue("exportOptions/dataMode", 7);
    later.readSettings();
    EXPECT_TRUE(later.onlyResults());
}

TEST_F(ProgramDialogs, DataPropertiesShowTheSettingsMapAndEditTheFluxFactors) {
    auto data = makeDataSet(7, 20, 2, 3);
    data->settingsMap["scanDate"] = "2026-01-02T03:04:05";
    data->settingsMap["biasEnd"] = "250";
    data->settingsMap["activeSensors"] = 3;
    data->settingsMap["ionFluxFactor"] = QVariantList{1000.0, 2000.0};
    data->settingsMap["tempBeta"] = QVariantList{3950.0, 3960.0, 3970.0};
    dataPropertiesDialog dialog(data.get());
    const QStringList texts = dialog.texts();
    for (const char* line :
         {"Time Averaged IV Scan", "Scan started on : 2026-01-02T03:04:05", "Multi Scan", "2 scans",
          "3 traces per scan", "Current Channels : 7", "Voltage Channels : 4",
          "Bias grid voltages, Start : -10.0 V, Step : 1 V, End : 250 V",
          "Collector voltage : -60 V", "Suppression grid voltage : -60 V",
          "File Path :", "File Size : 0 bytes"}) {
        EXPECT_TRUE(texts.contains(line)) << line << "\n" << texts.join("\n").toStdString();
    }
    // Three sensors: two factors from the file, the default for the third.
    const QList<QLineEdit*> edits = dialog.fluxFactorEdits();
    ASSERT_EQ(edits.size(), 3);
    EXPECT_EQ(edits[2]->text(), "860000");

    // One scan of one trace, and at most 24 factors.
    auto one = makeDataSet(1, 20);
    one->settingsMap["activeSensors"] = 40;
    dataPropertiesDialog single(one.get());
    EXPECT_EQ(single.fluxFactorEdits().size(), 24);
    for (const char* line : {"Single Scan", "1 scan", "1 trace per scan"}) {
        EXPECT_TRUE(single.texts().contains(line)) << line;
    }
}

TEST_F(ProgramDialogs, AboutAndInstrumentInformation) {
    AboutDialog about;
    EXPECT_EQ(about.versionText(), "Version 4.5.1 (Build 392)");
    aboutHardwareDialog hardware;
    EXPECT_EQ(hardware.description(), "Instrument not connected.");
    hardware.setDesc("Serial 42\nFirmware 0xACF1");
    hardware.copyToClipboard();
    EXPECT_EQ(QApplication::clipboard()->text(), "Serial 42\nFirmware 0xACF1");
}

TEST(Banner, LightsFollowTheSensorHighVoltageAndScan) {
    topBanner banner;
    EXPECT_EQ(banner.connectLight(), topBanner::Off);
    banner.invalidSensor();
    EXPECT_EQ(banner.connectLight(), topBanner::Invalid);
    banner.sensorConnected();
    banner.toggleHV(true);
    banner.doingScan(true);
    EXPECT_EQ(banner.connectLight(), topBanner::On);
    EXPECT_EQ(banner.hvLight(), topBanner::On);
    EXPECT_EQ(banner.scanLight(), topBanner::On);
    banner.setVirtualSensor(true);
    banner.sensorDisconnected();
    EXPECT_EQ(banner.hvLight(), topBanner::Off);
    EXPECT_EQ(banner.linkNotice(), "");
}

}  // namespace
