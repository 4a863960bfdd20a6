// The data view: the monitor toggle and unit, result labels, crop and flux factors reaching the
// data set, scan selection, the first data choosing the page, what the window's dialogs change,
// and the redraw limit.
#include <gtest/gtest.h>
#include <qwt_plot_curve.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTimer>
#include <algorithm>
#include <mutex>

#include "data/iedfanalysis.h"
#include "datasetmaker.h"
#include "plots/metascanview.h"
#include "plots/multisensorspectrogramdisplay.h"
#include "plots/tarvoplot.h"
#include "qttestsupport.h"
#include "ui/datapropertiesdialog.h"
#include "ui/maindataview.h"
#include "ui/mainwindow.h"
#include "ui/redrawlimiter.h"

namespace {

class DataViewTest : public ::testing::Test {
protected:
    void SetUp() override { QSettings().clear(); }
};

TEST_F(DataViewTest, ResultLabelsUseTheRichTextForm) {
    mainDataView view;
    view.setDataSet(makeDataSet(7, 40).release());
    double energy = 0.0;
    {
        std::lock_guard<std::mutex> lock(view.dataSet()->mutex);
        energy = view.dataSet()->averageEnergy(0);
    }
    EXPECT_EQ(view.averageEnergyText(),
              QString("<html><head/><body><p><span style=\" font-size:14pt;\">%1 </span><span "
                      "style=\" font-size:9pt;\">eV</span></p></body></html>")
                  .arg(QString::number(energy, 'f', 1)));
    EXPECT_TRUE(view.ionFluxText().contains("A/m²"));
    // Straight currents have no peaks; the check box switches the plot's peak markers.
    EXPECT_EQ(view.peaksLabelText(), "none");
    auto* markers = view.findChild<QCheckBox*>("peakMarkersBox");
    ASSERT_TRUE(markers && markers->isChecked() && view.plot()->showsPeakMarkers());
    markers->click();
    EXPECT_FALSE(view.plot()->showsPeakMarkers());

    iedfPeaks two;
    two.peaks = {{19.53, 4.2e-8, 7.08}, {39.04, 3.1e-8, NAN}};
    two.separation = 19.51;
    const QString text = mainDataView::peaksText(two);
    for (const char* part : {"<b>Peak 1</b>", "19.5 eV", "7.1 eV", "4.2e-08 A/eV", "<b>Peak 2</b>",
                             "39.0 eV", ">-<", "\u0394E"}) {
        EXPECT_TRUE(text.contains(QString::fromUtf8(part))) << part << " in " << text.toStdString();
    }
}

TEST_F(DataViewTest, CropAndFluxFactorsReachTheDataSet) {
    mainDataView view;
    view.setDataSet(makeDataSet(1, 30).release());
    tarvoDataSet* data = view.dataSet();
    view.updateCrop(2, 3);
    EXPECT_EQ(data->cropStart, 2);
    EXPECT_EQ(data->sweepScans[0]->traces->first()->cropStart, 2u);
    EXPECT_EQ(view.plot()->shownCurves()[0]->dataSize(), 25u);

    // A crop the sweeps cannot take: the sweeps keep theirs.
    view.updateCrop(20, 15);
    EXPECT_EQ(data->sweepScans[0]->traces->first()->cropStart, 2u);

    double factors[2] = {1234.0, 5678.0};
    view.updateIonCorrectionFactor(factors, 2);
    const QVariantList stored = data->settingsMap.value("ionFluxFactor").toList();
    ASSERT_EQ(stored.size(), 2);
    EXPECT_EQ(stored[0].toDouble(), 1234.0);
}

TEST_F(DataViewTest, TheScanSelectorChoosesTheMainScan) {
    mainDataView view;
    view.setDataSet(makeDataSet(1, 20, 3).release());
    auto* selector = view.findChild<QComboBox*>("scanSelector");
    ASSERT_EQ(selector->count(), 3);
    EXPECT_EQ(selector->currentIndex(), 2);
    view.selectMainScan(0);
    EXPECT_EQ(view.dataSet()->mainScanIndex, 0);
    // The trace plot shows the first scan's first sweep (t = 0).
    EXPECT_DOUBLE_EQ(view.plot()->shownCurves()[0]->sample(3).y(), knownCurrent(0, 0, 3));
    // The newest scan again: the display follows new scans.
    view.selectMainScan(2);
    EXPECT_EQ(view.dataSet()->mainScanIndex, -1);
}

// A scan hands over an empty data set; its first data decide the page: temperatures open on
// the map, which offers only their type; IV data offer two value types.
TEST_F(DataViewTest, TheFirstDataOfAScanChoosesThePage) {
    mainDataView view;
    auto* data = new tarvoDataSet(13, 4, -1);
    view.setDataSet(data);
    EXPECT_EQ(view.currentPage(), mainDataView::MainPlotPage);
    const double row[13] = {20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};
    data->addTemperatureRow(row, 1.0, 13, 0);
    EXPECT_EQ(view.currentPage(), mainDataView::ContourPage);
    EXPECT_EQ(view.channelCount(), 13);
    auto* types = view.findChild<QComboBox*>("contourTypeSelector");
    ASSERT_EQ(types->count(), 1);
    EXPECT_EQ(types->itemText(0), "Temperature");
    EXPECT_EQ(view.contourMap()->dataType(), MultiSensorSpectrogramDisplay::Temperature);

    view.setDataSet(makeDataSet(13, 20).release());
    ASSERT_EQ(types->count(), 2);
    EXPECT_EQ(types->itemText(0), "Average Energy");
    view.switchContourDataType(1);
    EXPECT_EQ(view.contourMap()->dataType(), MultiSensorSpectrogramDisplay::IonFlux);
}

TEST_F(DataViewTest, WindowDialogsChangeTheDerivativeAndTheFluxFactors) {
    mainWindow window(nullptr, false);
    window.dataView()->setDataSet(makeDataSet(7, 30).release());
    tarvoDataSet* data = window.dataView()->dataSet();
    data->settingsMap["activeSensors"] = 7;
    const int previous = ivTrace::derivativeMethod();

    modalScript script;
    script.on("derivativeChoiceDialog", [](QWidget* w) {
        w->findChild<QRadioButton*>("method4")->setChecked(true);
        QMetaObject::invokeMethod(w, "accept");
    });
    QStringList texts;
    script.on([](QWidget* w) { return qobject_cast<dataPropertiesDialog*>(w) != nullptr; },
              [&](QWidget* w) {
                  auto* dialog = qobject_cast<dataPropertiesDialog*>(w);
                  texts = dialog->texts();
                  dialog->fluxFactorEdits()[3]->setText("4321");
                  dialog->accept();
              });
    window.action("actionDerivative_Options")->trigger();
    EXPECT_EQ(ivTrace::derivativeMethod(), 3);
    window.action("actionFile_Properties")->setEnabled(true);
    window.action("actionFile_Properties")->trigger();
    EXPECT_TRUE(script.finished());
    EXPECT_TRUE(texts.contains("Current Channels : 7"));
    const QVariantList factors = data->settingsMap.value("ionFluxFactor").toList();
    ASSERT_EQ(factors.size(), 7);
    EXPECT_EQ(factors[3].toDouble(), 4321.0);
    EXPECT_EQ(factors[0].toDouble(), 860000.0);
    ivTrace::selectDerivativeMethod(previous);
}

TEST(RedrawLimiter, RunsAtOnceThenFoldsRequestsUntilTheIntervalIsUp) {
    int runs = 0;
    // An interval far longer than the test: only the explicit now() may run the second time.
    redrawLimiter limiter([&] { ++runs; }, 3600 * 1000);
    limiter.request();
    EXPECT_EQ(runs, 1);
    EXPECT_FALSE(limiter.pending());
    limiter.request();
    limiter.request();
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(limiter.pending());
    limiter.now();
    EXPECT_EQ(runs, 2);
    EXPECT_FALSE(limiter.pending());

    int unlimited = 0;
    redrawLimiter every([&] { ++unlimited; }, 0);
    for (int i = 0; i < 5; ++i) {
        every.request();
    }
    EXPECT_EQ(unlimited, 5);
}

TEST(RedrawLimiter, AScheduledRedrawRunsWhenTheIntervalIsUp) {
    int runs = 0;
    redrawLimiter limiter([&] { ++runs; }, 20);
    limiter.request();
    limiter.request();
    ASSERT_TRUE(limiter.pending());
    QTimer probe;
    QSignalSpy spy(&probe, &QTimer::timeout);
    probe.start(1);
    while (limiter.pending()) {
        spy.wait(50);
    }
    EXPECT_EQ(runs, 2);
}

}  // namespace
