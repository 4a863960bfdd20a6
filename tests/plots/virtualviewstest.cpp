// The trace plot and the aspect-ratio views after real scans on the virtual sensor. With
// KALDER_SCREENSHOT_DIR set, each test also leaves a picture of its view there
// (scripts/screenshots).
#include <gtest/gtest.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_marker.h>
#include <qwt_text.h>

#include <QDir>
#include <memory>

#include "data/iedfanalysis.h"
#include "data/tarvodataset.h"
#include "plots/kalderdisplayv2.h"
#include "plots/kalderplot.h"
#include "plots/tarvoplot.h"
#include "virtualrun.h"

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
    ASSERT_EQ(view.aspectRatioCurves().size(), 3);
    EXPECT_EQ(view.aspectRatioCurves()[1]->title().text(), "AR 1.5");
    // Every ratio finished: three summary points, flux and energy of each ratio.
    ASSERT_EQ(int(view.fluxCurve()->dataSize()), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(view.fluxCurve()->sample(i).x(), p.aspectRatios[i]);
        EXPECT_EQ(view.fluxCurve()->sample(i).y(), scan->groups[i]->ionFlux(0));
        EXPECT_EQ(view.energyCurve()->sample(i).y(), scan->groups[i]->getAverageEnergy(0));
    }
    screenshot(view, "ar-display");

    kalderPlot plot;
    plot.resize(800, 500);
    plot.setDataSet(ds.get());
    plot.setCurrentMode(1);
    ASSERT_EQ(plot.curves().size(), 3);
    screenshot(plot, "ar-plot");
}

}  // namespace
