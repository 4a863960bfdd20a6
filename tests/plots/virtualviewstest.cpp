// The three views after real scans on the virtual sensor. With KALDER_SCREENSHOT_DIR set, each
// test also leaves a picture of its view there (scripts/screenshots).
#include <gtest/gtest.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_marker.h>
#include <qwt_text.h>

#include <QDir>
#include <QHBoxLayout>
#include <QRegularExpression>
#include <QSignalSpy>
#include <cmath>
#include <memory>

#include "data/iedfanalysis.h"
#include "data/tarvodataset.h"
#include "plots/kalderdisplayv2.h"
#include "plots/kalderplot.h"
#include "plots/mapstatistics.h"
#include "plots/metascanview.h"
#include "plots/multisensorspectrogramdisplay.h"
#include "plots/spectrogramdata.h"
#include "plots/tarvoplot.h"
#include "virtualrun.h"
#include "vsensor/VirtualSensor.h"

namespace {

void screenshot(QWidget& w, const char* name) {
    const QString dir = qEnvironmentVariable("KALDER_SCREENSHOT_DIR");
    if (dir.isEmpty()) {
        return;
    }
    QDir().mkpath(dir);
    w.show();
    w.grab().save(dir + "/" + name + ".png");
}

TEST(VirtualViews, MapOfAThirteenSensorDiscShowsTheRadialProfile) {
    virtualUnit unit("disc13");
    ASSERT_TRUE(unit.connected());
    std::unique_ptr<tarvoDataSet> ds(unit.sweepRetardingGrid(3));
    ASSERT_TRUE(ds);
    ASSERT_EQ(ds->scanCount(), 1);
    ASSERT_EQ(ds->traceCount(), 3);
    ASSERT_EQ(ds->nChannels, 13);

    MultiSensorSpectrogramDisplay map;
    map.resize(700, 700);
    map.resetDataSource(ds.get());
    EXPECT_EQ(map.layoutIndex(), 2);  // the unit's sensor code
    ASSERT_EQ(map.nodes().size(), 13);
    map.setDataType(MultiSensorSpectrogramDisplay::IonFlux);
    map.toggleInterpolation(true);
    EXPECT_EQ(map.colourBarTitle(), "Ion Flux, A/m2");

    // The model's flux falls towards the rim: the centre sensor (the third) collects most,
    // the row through the centre more than the ring at the edge. (The flux is the integral of
    // dI/dE, negative for the virtual sensor's falling currents: compared by size.)
    const QList<sensorNode*>& nodes = map.nodes();
    for (int i = 0; i < 13; ++i) {
        if (i != 2) {
            EXPECT_GT(std::fabs(nodes[2]->flux), std::fabs(nodes[i]->flux)) << i;
        }
        if (i >= 5) {
            EXPECT_GT(std::fabs(nodes[1]->flux), std::fabs(nodes[i]->flux)) << i;
        }
    }
    // Its peak energies fall too, though less.
    EXPECT_GE(nodes[2]->energy, nodes[9]->energy);

    // Labels: energy truncated, shown with two decimals; flux with two significant digits.
    const QRegularExpression energyLabel("^E:\\d+\\.00$");
    for (const sensorNode* n : nodes) {
        EXPECT_TRUE(energyLabel.match(n->energyLabel()).hasMatch())
            << n->energyLabel().toStdString();
        EXPECT_EQ(n->energyLabel(), QStringLiteral("E:%1").arg(n->energy, 0, 'f', 2));
        EXPECT_EQ(n->fluxLabel(), "F:" + QString::number(n->flux, 'g', 2));
    }
    // The map: the centre sensor's value at the centre, an end of the scale, changing
    // steadily outwards.
    const SpectrogramData* data = map.rasterData();
    EXPECT_EQ(data->value(0, 0), nodes[2]->flux);
    const double lo = map.contourLevels().first();
    const double hi = map.zInterval().maxValue();
    EXPECT_TRUE(nodes[2]->flux == lo || nodes[2]->flux == hi);
    EXPECT_GT(std::fabs(data->value(0.2, 0.3)), std::fabs(data->value(0.6, 0.9)));

    // Beside the map, the spread over the active sensors of the values the data set gives.
    QWidget page;
    page.resize(950, 700);
    auto* row = new QHBoxLayout(&page);
    auto* statistics = new mapStatistics(&map);
    row->addWidget(&map, 1);
    row->addWidget(statistics);
    map.toggleSensor(12);
    QVector<double> energy, flux;
    for (int c = 0; c < 12; ++c) {
        energy << ds->averageEnergy(c);
        flux << ds->ionFlux(c);
    }
    const discUniformity shown = map.statistics();
    for (auto [u, values] : {std::pair{shown.energy, energy}, std::pair{shown.flux, flux}}) {
        const uniformity expected = uniformityOf(values, {});
        EXPECT_EQ(u.sensors, 12);
        EXPECT_DOUBLE_EQ(u.mean, expected.mean);
        EXPECT_DOUBLE_EQ(u.standardDeviation, expected.standardDeviation);
        EXPECT_DOUBLE_EQ(u.nonUniformity, expected.nonUniformity);
    }
    EXPECT_TRUE(statistics->text().contains(
        QStringLiteral("%1 %").arg(100 * shown.flux.nonUniformity, 0, 'f', 1)))
        << statistics->text().toStdString();
    map.toggleSensor(12);
    screenshot(page, "multisensor-map");
    row->removeWidget(&map);
    map.setParent(nullptr);
}

TEST(VirtualViews, TracePlotMarksThePeaksAndReadsOutUnderTheMouse) {
    virtualUnit unit("disc13");
    ASSERT_TRUE(unit.connected());
    std::unique_ptr<tarvoDataSet> ds(unit.sweepRetardingGrid(2));
    ASSERT_TRUE(ds);
    tarvoPlot plot;
    plot.setDataSet(ds.get());
    plot.setCurrentChannel({2, 9});
    // Two peaks per channel, where the data layer finds them on the averaged trace.
    ASSERT_EQ(plot.peakMarkerList().size(), 4);
    for (int k = 0; k < 2; ++k) {
        for (int p = 0; p < 2; ++p) {
            const iedfPeak expected = currentIedfPeaks(*ds, k == 0 ? 2 : 9).peaks.at(p);
            const QwtPlotMarker* marker = plot.peakMarkerList()[2 * k + p];
            EXPECT_DOUBLE_EQ(marker->xValue(), expected.energy);
            EXPECT_DOUBLE_EQ(marker->yValue(), expected.height);
            EXPECT_EQ(marker->yAxis(), QwtPlot::yRight);
        }
    }
    plot.togglePeakMarkers(false);
    EXPECT_TRUE(plot.peakMarkerList().isEmpty());
    plot.togglePeakMarkers(true);
    plot.toggleIEDF(false);
    EXPECT_TRUE(plot.peakMarkerList().isEmpty()) << "no markers without their curve";
    plot.toggleIEDF(true);

    // The read-out: the first selected channel's point nearest the mouse.
    const ivTrace& average = *ds->currentAverage();
    const int i = 20;
    const double e = average.energyView()[i];
    const QString text = plot.readOutAt(e + 0.3);
    EXPECT_EQ(text, QStringLiteral("Ch3  E %1 eV  I %2 A  dI/dE %3 A/eV")
                        .arg(e, 0, 'f', 2)
                        .arg(average.currentView(2)[i], 0, 'g', 4)
                        .arg(average.dIdEView(2)[i - 3], 0, 'g', 4));
    EXPECT_FALSE(plot.readOutAt(average.energyView()[1]).contains("dI/dE"))
        << "dI/dE starts at the fourth point";
    plot.resize(900, 550);
    screenshot(plot, "trace-plot-peaks");
    plot.setCurrentChannel({});
    EXPECT_TRUE(plot.readOutAt(e).isEmpty());
}

TEST(VirtualViews, TemperatureRecordOnTheMap) {
    virtualUnit unit("disc13");
    ASSERT_TRUE(unit.connected());
    scanParameters p = virtualUnit::quickScan();
    p.scanType = TemperatureScan;
    p.tracesPerScan = 3;
    std::unique_ptr<tarvoDataSet> ds(unit.run(p));
    ASSERT_TRUE(ds);
    ASSERT_TRUE(ds->isTemperature());

    MultiSensorSpectrogramDisplay map;
    map.resize(700, 700);
    map.resetDataSource(ds.get());
    map.toggleInterpolation(true);
    EXPECT_EQ(map.colourBarTitle(), QString::fromUtf8("Temperature °C"));
    const vsensor::PlasmaModel model = vsensor::plasmaModel();
    for (int i = 0; i < 13; ++i) {
        const sensorNode* n = map.nodes()[i];
        EXPECT_EQ(n->fluxLabel(), "T:" + QString::number(n->temperature, 'g', 3));
        if (i < vsensor::PlasmaModel::kThermistors) {
            EXPECT_NEAR(n->temperature, model.thermistors[i], 0.5) << i;
        }
    }
    map.toggleSensor(4);
    EXPECT_EQ(map.nodes()[4]->fluxLabel(), "OFF");
    EXPECT_EQ(map.rasterData()->value(-0.8333, 0.0), SpectrogramData::INACTIVE_VALUE);
    screenshot(map, "multisensor-temperature");
}

TEST(VirtualViews, AspectRatioScan) {
    virtualUnit unit("ar");
    ASSERT_TRUE(unit.connected());
    scanParameters p = virtualUnit::quickScan();
    p.aspectRatioFamily = true;
    p.biasStart = 0.0;
    p.biasEnd = 80.0;
    p.aspectRatios = {1.0, 1.5, 2.0};
    std::unique_ptr<tarvoDataSet> ds(unit.run(p));
    ASSERT_TRUE(ds);
    ASSERT_TRUE(ds->hasArScans());
    const kalderAspectRatioScan* scan = ds->arScans[0];
    ASSERT_EQ(scan->groups.size(), 3);

    kalderDisplayV2 view;
    view.resize(1000, 700);
    view.setDataSet(ds.get());
    const char* titles[] = {"AR 1", "AR 1.5", "AR 2"};
    ASSERT_EQ(view.aspectRatioCurves().size(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(view.aspectRatioCurves()[i]->title().text(), titles[i]);
        EXPECT_GT(view.aspectRatioCurves()[i]->dataSize(), 0u);
    }
    // Every ratio finished: three summary points, flux and energy of each ratio.
    ASSERT_EQ(int(view.fluxCurve()->dataSize()), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(view.fluxCurve()->sample(i).x(), p.aspectRatios[i]);
        EXPECT_EQ(view.fluxCurve()->sample(i).y(), scan->groups[i]->ionFlux(0));
        EXPECT_EQ(view.energyCurve()->sample(i).y(), scan->groups[i]->getAverageEnergy(0));
    }
    EXPECT_GT(view.ivCurve()->dataSize(), 10u);
    screenshot(view, "ar-display");

    kalderPlot plot;
    plot.resize(800, 500);
    plot.setDataSet(ds.get());
    plot.setCurrentMode(1);
    ASSERT_EQ(plot.curves().size(), 3);
    screenshot(plot, "ar-plot");
}

TEST(VirtualViews, ScanHistoryOfAMultipleScan) {
    virtualUnit unit("disc13");
    ASSERT_TRUE(unit.connected());
    scanParameters p = virtualUnit::quickScan();
    p.multipleScans = true;
    p.intervalMs = 400;
    p.scanLengthMs = 2500;
    std::unique_ptr<tarvoDataSet> ds(unit.run(p));
    ASSERT_TRUE(ds);
    const int scans = ds->scanCount();
    ASSERT_GE(scans, 5);

    metaScanView view;
    view.resize(800, 500);
    view.setDataSet(ds.get());
    view.selectChan({0, 2, 9});
    ASSERT_EQ(view.curves().size(), 3);
    for (const QwtPlotCurve* curve : view.curves()) {
        ASSERT_EQ(int(curve->dataSize()), scans);
        for (int s = 0; s < scans; ++s) {
            EXPECT_EQ(curve->sample(s).x(), ds->sweepScans[s]->time);
            EXPECT_TRUE(std::isfinite(curve->sample(s).y()));
        }
    }
    // Clicking near the third scan selects it; the data set (and with it the trace plot)
    // follows.
    QObject::connect(&view, &metaScanView::scanSelected, ds.get(), &tarvoDataSet::setMainScan);
    QSignalSpy picked(&view, &metaScanView::scanSelected);
    view.pointSelected(QPointF(ds->sweepScans[2]->time + 0.01, 0.0));
    ASSERT_EQ(picked.count(), 1);
    EXPECT_EQ(picked.at(0).at(0).toInt(), 2);
    EXPECT_EQ(ds->currentScanIndex(), 2);
    EXPECT_EQ(ds->currentScan(), ds->sweepScans[2]);
    screenshot(view, "scan-history");
}

}  // namespace
