// The map and the trace plot after sweeps of the 13-sensor disc unit on the virtual sensor,
// against what its plasma model makes. With KALDER_SCREENSHOT_DIR set, each test also leaves a
// picture of its view there (scripts/screenshots).
#include <gtest/gtest.h>
#include <qwt_plot_marker.h>

#include <QDir>
#include <QHBoxLayout>
#include <algorithm>
#include <cmath>
#include <memory>

#include "acquisition/electrodeoutputs.h"
#include "acquisition/scanlauncher.h"
#include "data/iedfanalysis.h"
#include "data/tarvodataset.h"
#include "plots/mapstatistics.h"
#include "plots/multisensorspectrogramdisplay.h"
#include "plots/spectrogramdata.h"
#include "plots/tarvoplot.h"
#include "tolmar2/TolmarCntrl.h"
#include "virtuallink.h"
#include "vsensor/VirtualSensor.h"

namespace {

void screenshot(QWidget& w, const char* name) {
    const QString dir = qEnvironmentVariable("KALDER_SCREENSHOT_DIR");
    if (!dir.isEmpty()) {
        QDir().mkpath(dir);
        w.show();
        w.grab().save(dir + "/" + name + ".png");
    }
}

// Three sweeps of the 13-sensor disc unit's bias grid from -10 to 90 V (as far as its output
// reaches) in 2 V steps, collector at -60 V, read with the library and filed as one scan, as the
// program files a time-averaged scan.
class VirtualViews : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(useVirtualLink(FIRMWARE_SOURCE_DIR));
        ASSERT_TRUE(vsensor::loadProfile("disc13"));
        cntrl = std::make_unique<TolmarCntrl>();
        ASSERT_EQ(cntrl->connectTo(false), 1);
        ASSERT_GT(programBiasSweep(*cntrl, {-10.0, -60.0, 0.0}, {90.0, -60.0, 0.0}, 2.0), 0);
        ASSERT_TRUE(cntrl->setAverageHW(16, 16) && cntrl->startScan());
        ds = std::make_unique<tarvoDataSet>(cntrl->getNProbes(), cntrl->getNVchan(),
                                            static_cast<int>(cntrl->extWord));
        writeScanMetadata(ds.get(), cntrl.get());
        for (int k = 0; k < 3; ++k) {
            double* data = nullptr;
            unsigned nScans = 0, nPoints = 0, acqStart = 0, status = 0;
            int nChannels = 0;
            double timeRes = 0.0;
            ASSERT_EQ(cntrl->getDataFromOneScan(data, nScans, nPoints, nChannels, timeRes, acqStart,
                                                status, true),
                      1);
            ds->addTrace(data, 0.0, static_cast<int>(nPoints), nChannels, static_cast<int>(status),
                         1, cntrl->alternateRows);
        }
        cntrl->stopScan();
    }
    void TearDown() override {
        cntrl.reset();
        releaseVirtualLink();
    }

    std::unique_ptr<TolmarCntrl> cntrl;
    std::unique_ptr<tarvoDataSet> ds;
};

TEST_F(VirtualViews, MapShowsTheRadialProfileAndItsUniformity) {
    ASSERT_EQ(ds->nChannels, 13);  // the probes of the 24-value frames, three sweeps
    ASSERT_EQ(ds->traceCount(), 3);
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
        // Energy truncated, shown with two decimals; flux with two significant digits.
        EXPECT_EQ(nodes[i]->energyLabel(), QStringLiteral("E:%1.00").arg(int(nodes[i]->energy)));
        EXPECT_EQ(nodes[i]->fluxLabel(), "F:" + QString::number(nodes[i]->flux, 'g', 2));
    }
    // The map: the centre sensor's value at the centre, changing steadily outwards.
    const SpectrogramData* data = map.rasterData();
    EXPECT_EQ(data->value(0, 0), nodes[2]->flux);
    EXPECT_GT(std::fabs(data->value(0.2, 0.3)), std::fabs(data->value(0.6, 0.9)));

    // Beside the map, the spread of the data set's values over the active sensors: mean,
    // sample standard deviation and (max - min) / (2 mean), worked out here.
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
        double sum = 0, squares = 0;
        for (double v : values) {
            sum += v;
        }
        const double mean = sum / 12;
        for (double v : values) {
            squares += (v - mean) * (v - mean);
        }
        const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
        EXPECT_EQ(u.sensors, 12);
        EXPECT_NEAR(u.mean, mean, 1e-9 * std::fabs(mean));
        EXPECT_NEAR(u.standardDeviation, std::sqrt(squares / 11), 1e-9 * std::fabs(mean));
        EXPECT_NEAR(u.nonUniformity, (*hi - *lo) / (2 * mean), 1e-9);
    }
    EXPECT_TRUE(statistics->text().contains(
        QStringLiteral("%1 %").arg(100 * shown.flux.nonUniformity, 0, 'f', 1)))
        << statistics->text().toStdString();
    map.toggleSensor(12);
    screenshot(page, "multisensor-map");
    row->removeWidget(&map);
    map.setParent(nullptr);
}

TEST_F(VirtualViews, TracePlotMarksThePeaksAndReadsOutUnderTheMouse) {
    tarvoPlot plot;
    plot.setDataSet(ds.get());
    plot.setCurrentChannel({2, 9});
    // Two peaks per channel, on the dI/dE axis, where the model puts them: 20 and 40 eV at the
    // centre (channel 3), a tenth lower at the edge (channel 10); each less half a 2 V step, as
    // the derivative is taken forwards and stands at the lower of its two steps.
    ASSERT_EQ(plot.peakMarkerList().size(), 4);
    const double energies[] = {19, 39, 17, 35};
    for (int m = 0; m < 4; ++m) {
        const QwtPlotMarker* marker = plot.peakMarkerList()[m];
        const iedfPeak expected = currentIedfPeaks(*ds, m < 2 ? 2 : 9).peaks.at(m % 2);
        EXPECT_NEAR(marker->xValue(), energies[m], 0.25) << m;
        EXPECT_DOUBLE_EQ(marker->xValue(), expected.energy) << m;
        EXPECT_DOUBLE_EQ(marker->yValue(), expected.height) << m;
        EXPECT_EQ(marker->yAxis(), QwtPlot::yRight);
    }
    plot.toggleIEDF(false);
    EXPECT_TRUE(plot.peakMarkerList().isEmpty()) << "no markers without their curve";
    plot.toggleIEDF(true);

    // The read-out: the first selected channel's point nearest the mouse.
    const ivTrace& average = *ds->currentAverage();
    const double e = average.energyView()[20];
    EXPECT_EQ(plot.readOutAt(e + 0.3), QStringLiteral("Ch3  E %1 eV  I %2 A  dI/dE %3 A/eV")
                                           .arg(e, 0, 'f', 2)
                                           .arg(average.currentView(2)[20], 0, 'g', 4)
                                           .arg(average.dIdEView(2)[17], 0, 'g', 4));
    plot.resize(900, 550);
    screenshot(plot, "trace-plot-peaks");
}

}  // namespace
