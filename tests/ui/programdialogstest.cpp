// The dialogs of the main window: export options, data properties, derivative choice, about,
// instrument information, graphical controls; and the banner's lights.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>

#include "datasetmaker.h"
#include "ui/aboutdialog.h"
#include "ui/abouthardwaredialog.h"
#include "ui/datapropertiesdialog.h"
#include "ui/derivativechoicedialog.h"
#include "ui/exportoptions.h"
#include "ui/graphcontrols.h"
#include "ui/topbanner.h"

namespace {

class ProgramDialogs : public ::testing::Test {
protected:
    void SetUp() override { QSettings().clear(); }
};

TEST_F(ProgramDialogs, ExportOptionsDefaultsStoreAndChoices) {
    exportOptions dialog;
    EXPECT_EQ(dialog.windowTitle(), "Export Options");
    EXPECT_TRUE(dialog.isCSV());
    EXPECT_TRUE(dialog.onlyResults());
    EXPECT_EQ(dialog.separator(), QChar(','));
    auto* separator = dialog.findChild<QLineEdit*>("separator");
    EXPECT_EQ(separator->maxLength(), 1);
    // The delimiter field follows the CSV button.
    EXPECT_TRUE(separator->isEnabled());
    dialog.findChild<QRadioButton*>("useMatlab")->setChecked(true);
    EXPECT_FALSE(separator->isEnabled());
    EXPECT_TRUE(dialog.isMatlab());
    dialog.findChild<QRadioButton*>("useCSV")->setChecked(true);
    EXPECT_TRUE(separator->isEnabled());

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

    later.setDataChoiceVisible(false);
    EXPECT_FALSE(later.findChild<QGroupBox*>("dataBox")->isVisibleTo(&later));
}

TEST_F(ProgramDialogs, DataPropertiesShowTheSettingsMapAndEditTheFluxFactors) {
    auto data = makeDataSet(7, 20, 2, 3);
    data->settingsMap["scanDate"] = "2026-01-02T03:04:05";
    data->settingsMap["biasEnd"] = "250";
    data->settingsMap["activeSensors"] = 3;
    data->settingsMap["ionFluxFactor"] = QVariantList{1000.0, 2000.0};
    data->settingsMap["tempBeta"] = QVariantList{3950.0, 3960.0, 3970.0};
    dataPropertiesDialog dialog(data.get());
    EXPECT_EQ(dialog.windowTitle(), "Scan Properties");
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

    QSignalSpy spy(&dialog, &dataPropertiesDialog::ionFluxUpdated);
    double seen[3] = {};
    QObject::connect(&dialog, &dataPropertiesDialog::ionFluxUpdated, [&](double* f, int n) {
        ASSERT_EQ(n, 3);
        std::copy(f, f + 3, seen);
    });
    edits[1]->setText("2500.5");
    ASSERT_EQ(spy.count(), 1);
    EXPECT_DOUBLE_EQ(seen[0], 1000.0);
    EXPECT_DOUBLE_EQ(seen[1], 2500.5);
    EXPECT_DOUBLE_EQ(seen[2], 860000.0);
    // A line being retyped keeps its last value.
    edits[0]->setText("");
    EXPECT_DOUBLE_EQ(seen[0], 1000.0);
}

TEST_F(ProgramDialogs, DataPropertiesHoldAtMostTwentyFourFactors) {
    auto data = makeDataSet(1, 20);
    data->settingsMap["activeSensors"] = 40;
    dataPropertiesDialog dialog(data.get());
    EXPECT_EQ(dialog.fluxFactorEdits().size(), 24);
    EXPECT_TRUE(dialog.texts().contains("Single Scan"));
    EXPECT_TRUE(dialog.texts().contains("1 scan"));
    EXPECT_TRUE(dialog.texts().contains("1 trace per scan"));
}

TEST_F(ProgramDialogs, DerivativeChoiceStartsAtTheCurrentMethod) {
    const int previous = ivTrace::derivativeMethod();
    for (int method : {1, 4, 0}) {
        ivTrace::selectDerivativeMethod(method);
        derivativeChoiceDialog dialog;
        EXPECT_EQ(dialog.windowTitle(), "Derivative Controls");
        EXPECT_EQ(dialog.checkedId(), method);
        auto* button = dialog.findChild<QRadioButton*>(QString("method%1").arg(method + 1));
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->text(), QString("Derivative method %1").arg(method + 1));
        EXPECT_TRUE(button->isChecked());
    }
    ivTrace::selectDerivativeMethod(previous);
}

TEST_F(ProgramDialogs, AboutAndInstrumentInformation) {
    AboutDialog about;
    EXPECT_EQ(about.windowTitle(), "About");
    EXPECT_EQ(about.versionText(), "Version 4.5.1 (Build 392)");
    EXPECT_EQ(about.caption(), "Kalder Application");

    aboutHardwareDialog hardware;
    EXPECT_EQ(hardware.windowTitle(), "Instrument Information");
    EXPECT_EQ(hardware.sensorTitle(), "Tarvo Product");
    EXPECT_EQ(hardware.description(), "Instrument not connected.");
    hardware.setSensorTitle("Kalder Sensor");
    hardware.setDesc("Serial 42\nFirmware 0xACF1");
    hardware.copyToClipboard();
    EXPECT_EQ(QApplication::clipboard()->text(), "Serial 42\nFirmware 0xACF1");
    EXPECT_EQ(hardware.sensorTitle(), "Kalder Sensor");
}

TEST_F(ProgramDialogs, GraphicalControlsSignalTheirValues) {
    graphControls controls;
    EXPECT_EQ(controls.windowTitle(), "Graphical Controls");
    EXPECT_FALSE(controls.isModal());
    QSignalSpy crop(&controls, &graphControls::setCrop);
    QSignalSpy global(&controls, &graphControls::useGlobalScale);
    QSignalSpy fixed(&controls, &graphControls::useFixedContourScale);
    controls.findChild<QSpinBox*>("startCrop")->setValue(3);
    controls.findChild<QSpinBox*>("endCrop")->setValue(5);
    ASSERT_EQ(crop.count(), 2);
    EXPECT_EQ(crop.last(), QVariantList({3, 5}));
    controls.findChild<QCheckBox*>("useGlobalScale")->setChecked(true);
    ASSERT_EQ(global.count(), 1);
    EXPECT_TRUE(global.last()[0].toBool());
    auto* max = controls.findChild<QDoubleSpinBox*>("fixedScaleMax");
    EXPECT_EQ(max->maximum(), 1e9);
    EXPECT_EQ(max->minimum(), -1e9);
    controls.findChild<QGroupBox*>("useContourFixedScale")->setChecked(true);
    controls.findChild<QDoubleSpinBox*>("fixedScaleMin")->setValue(-2.0);
    max->setValue(7.5);
    ASSERT_GE(fixed.count(), 2);
    // (checked, maximum, minimum)
    EXPECT_EQ(fixed.last(), QVariantList({true, 7.5, -2.0}));
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
    EXPECT_EQ(banner.linkNotice(), "Virtual Sensor");
    banner.sensorDisconnected();
    EXPECT_EQ(banner.connectLight(), topBanner::Off);
    EXPECT_EQ(banner.hvLight(), topBanner::Off);
    EXPECT_EQ(banner.linkNotice(), "");
}

}  // namespace
