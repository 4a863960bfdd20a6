// The trace plot: curves per channel and mode with their colours, copies of the samples, axis
// modes, zoom, prescan view; the scan history on series built from known sweeps, and picking.
#include <gtest/gtest.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_legenditem.h>
#include <qwt_plot_marker.h>
#include <qwt_plot_zoomer.h>
#include <qwt_scale_div.h>
#include <qwt_scale_draw.h>
#include <qwt_text.h>

#include <QSignalSpy>
#include <QTest>
#include <cmath>
#include <functional>
#include <memory>
#include <mutex>

#include "data/tarvodataset.h"
#include "datasetmaker.h"
#include "plots/kalderdisplayv2.h"
#include "plots/metascanview.h"
#include "plots/tarvoplot.h"

namespace {

class PlotTest : public ::testing::Test {
protected:
    tarvoPlot plot;
};

TEST_F(PlotTest, OnePairPerChannelInEveryDisplayMode) {
    auto data = makeDataSet(20, 20, 1, 3);  // twenty channels, three sweeps in one scan
    plot.setDataSet(data.get());
    QList<int> all;
    for (int c = 0; c < 20; ++c) {
        all << c;
    }
    plot.setCurrentChannel(all);
    struct Case {
        int mode, curves;
        int sweep;  // the sweep shown first (the average is that of sweep 1)
    };
    for (const Case& c : {Case{tarvoPlot::AllTraces, 120, 0}, Case{tarvoPlot::LatestTrace, 40, 2},
                          Case{tarvoPlot::AverageTrace, 40, 1}}) {
        plot.setCurrentMode(c.mode);
        const QList<QwtPlotCurve*> curves = plot.shownCurves();
        ASSERT_EQ(curves.size(), c.curves) << c.mode;
        EXPECT_EQ(plot.legendItem()->plotItems().size(), 40) << c.mode;
        EXPECT_NEAR(curves[0]->sample(4).y(), knownCurrent(0, c.sweep, 4), 1e-21) << c.mode;
        // Every trace of the scan: the unlisted pairs carry no title.
        EXPECT_EQ(curves[2]->title().text(), c.mode == tarvoPlot::AllTraces ? "" : "IV Ch2");
    }
    const QList<QwtPlotCurve*> curves = plot.shownCurves();
    for (int c = 0; c < 20; ++c) {
        EXPECT_EQ(curves[2 * c]->title().text(), QString("IV Ch%1").arg(c + 1));
        EXPECT_EQ(curves[2 * c + 1]->title().text(), QString("dI/dE Ch%1").arg(c + 1));
    }
    // The palette's 26 colours, one pair per channel, all different: from channel 14 on they
    // repeat.
    EXPECT_EQ(curves[0]->pen().color(), QColor(255, 0, 0));
    EXPECT_NE(curves[25]->pen().color(), curves[0]->pen().color());
    EXPECT_EQ(curves[26]->pen().color(), curves[0]->pen().color());
}

TEST_F(PlotTest, CurvesHoldCopiesOfTheCroppedSamples) {
    auto data = makeDataSet(1, 30);
    data->setCrop(2, 1);
    plot.setDataSet(data.get());
    plot.setCurrentChannel({0});
    const QList<QwtPlotCurve*> curves = plot.shownCurves();
    ASSERT_EQ(curves.size(), 2);
    ASSERT_EQ(curves[0]->dataSize(), 27u);
    ASSERT_EQ(curves[1]->dataSize(), 21u);  // six points fewer than the cropped trace
    const ivTrace* average = data->sweepScans[0]->average;
    for (int i = 0; i < 27; ++i) {
        EXPECT_DOUBLE_EQ(curves[0]->sample(i).y(), knownCurrent(0, 0, i + 2)) << i;
        EXPECT_DOUBLE_EQ(curves[0]->sample(i).x(), average->energy[i + 2]) << i;
    }
    // dI/dE starts three points into the cropped trace, on the same energies.
    EXPECT_DOUBLE_EQ(curves[1]->sample(0).x(), average->energy[5]);
    EXPECT_DOUBLE_EQ(curves[1]->sample(0).y(), average->dIdERow(0)[5]);

    // The acquisition thread changing the trace does not reach the plot until the next redraw.
    {
        std::lock_guard<std::mutex> lock(data->mutex);
        data->sweepScans[0]->average->currents[0][2] = 42.0;
    }
    EXPECT_DOUBLE_EQ(curves[0]->sample(0).y(), knownCurrent(0, 0, 2));
    plot.updateDisplay();
    EXPECT_DOUBLE_EQ(plot.shownCurves()[0]->sample(0).y(), 42.0);
}

// The bottom axis shows measured energies, energies resampled evenly between the first and the
// last, or sample indices (and says so in its title); each toggle returns to measured energies.
TEST_F(PlotTest, EnergyAxisModesToggleAndResample) {
    auto data = makeDataSet(1, 21);
    plot.setDataSet(data.get());
    plot.setCurrentChannel({0});
    const QVector<double> energy = data->sweepScans[0]->average->energy;
    const double first = energy[0], last = energy[20];
    const QString byEnergy = "Ion Energy [eV]";
    const std::function<double(int)> measured = [&](int i) { return energy[i]; };
    const struct {
        void (tarvoPlot::*toggle)();
        QString title;
        std::function<double(int)> x;
    } steps[] = {{&tarvoPlot::toggleSimpleMode, byEnergy,
                  [&](int i) { return first + i * (last - first) / 21; }},
                 {&tarvoPlot::toggleSimpleMode, byEnergy, measured},
                 {&tarvoPlot::toggleCheatingMode, "Sample Index", [](int i) { return double(i); }},
                 {&tarvoPlot::toggleCheatingMode, byEnergy, measured}};
    for (const auto& s : steps) {
        (plot.*s.toggle)();
        EXPECT_EQ(plot.axisTitle(QwtPlot::xBottom).text(), s.title);
        const QwtPlotCurve* iv = plot.shownCurves()[0];
        for (int i = 0; i < 21; ++i) {
            EXPECT_NEAR(iv->sample(i).x(), s.x(i), 1e-9) << s.title.toStdString() << " " << i;
        }
    }
}

// Zoomed in before the data came, the right button goes back to the data's extent (0 to 39 V
// here), not to the empty plot's 0 to 1000.
TEST(PlotZoom, ResetZoomReturnsToTheDataNotToTheEmptyPlot) {
    tarvoPlot plot;
    plot.resize(600, 400);
    auto data = makeDataSet(1, 40);
    plot.primaryZoomer()->zoom(QRectF(100, 100, 50, 50));
    plot.setDataSet(data.get());
    plot.setCurrentChannel({0});
    QTest::mouseClick(plot.canvas(), Qt::RightButton, Qt::NoModifier, QPoint(50, 50));
    const QwtScaleDiv x = plot.axisScaleDiv(QwtPlot::xBottom);
    EXPECT_LE(x.lowerBound(), 0.0);
    EXPECT_GE(x.upperBound(), 39.0);
    EXPECT_LT(x.upperBound(), 100.0);
    EXPECT_LT(plot.axisScaleDiv(QwtPlot::yLeft).upperBound(), 1e-6);
}

TEST(EngineeringLabels, CurrentAxesUsePrefixes) {
    const struct {
        double value;
        const char* label;
    } cases[] = {{1.5e-6, "1.5\u00b5"}, {9.9996e-7, "1\u00b5"}};
    tarvoPlot plot;
    kalderDisplayV2 ar;
    const QwtScaleDraw* draws[] = {plot.axisScaleDraw(QwtPlot::yLeft),
                                   ar.prescanPlot()->axisScaleDraw(QwtPlot::yLeft)};
    for (const auto& c : cases) {
        for (const QwtScaleDraw* draw : draws) {
            EXPECT_EQ(draw->label(c.value).text(), QString::fromUtf8(c.label)) << c.value;
        }
    }
    EXPECT_EQ(plot.axisTitle(QwtPlot::yLeft).text(), "Ion Current [A]");
}

TEST_F(PlotTest, GlobalScaleFixesTheLeftAxisToTheDataSetRange) {
    auto data = makeDataSet(1, 20, 2);
    plot.setDataSet(data.get());
    plot.setCurrentChannel({0});
    plot.toggleGlobalScale(true);
    // Smallest and largest current of every sweep: step 19 of the first, step 0 of the second.
    const QwtScaleDiv& left = plot.axisScaleDiv(QwtPlot::yLeft);
    EXPECT_DOUBLE_EQ(left.lowerBound(), knownCurrent(0, 0, 19));
    EXPECT_DOUBLE_EQ(left.upperBound(), knownCurrent(0, 1, 0));
    plot.toggleGlobalScale(false);
    EXPECT_TRUE(plot.axisAutoScale(QwtPlot::yLeft));
}

TEST_F(PlotTest, PrescanViewAndAScanWithoutAverage) {
    auto data = makeDataSet(1, 20);
    std::vector<double> currents(24, 0.0);
    for (int step = 0; step < 5; ++step) {
        for (int c = 0; c < 24; ++c) {
            currents[c] = (c + 1) * (step - 2) * 1e-9;
        }
        data->addPrescanPoint(step - 2.0, 0.0, currents.data(), 24);
    }
    plot.setDataSet(data.get());
    plot.setCurrentChannel({0});
    plot.showPreScan(true);
    // 24 prescan rows, the last four are voltages.
    ASSERT_EQ(plot.attachedCurveCount(), 20);
    const QwtPlotCurve* third = plot.shownCurves()[2];
    ASSERT_EQ(third->dataSize(), 5u);
    EXPECT_DOUBLE_EQ(third->sample(4).x(), 2.0);
    EXPECT_DOUBLE_EQ(third->sample(4).y(), 3 * 2 * 1e-9);
    plot.showPreScan(false);
    EXPECT_EQ(plot.attachedCurveCount(), 2);

    // A second scan that has only prescan points so far: its average is still empty.
    auto partial = makeDataSet(1, 20);
    partial->addPrescanPoint(-5.0, 99.0, currents.data(), 5);
    plot.setDataSet(partial.get());
    plot.setCurrentChannel({0});
    ASSERT_EQ(plot.attachedCurveCount(), 2);
    plot.setCurrentScan(1);
    EXPECT_TRUE(plot.shownCurves().isEmpty());
}

// Sweeps of 17 channels over 0 .. 39 V, one per time: the current of channel c falls from
// (c + 1) µA to 0 through a step at 10 + c volts, each sweep 10 % stronger than the one before.
std::unique_ptr<tarvoDataSet> series(const QVector<double>& times) {
    constexpr int CHANNELS = 17, ROWS = 21, POINTS = 40;
    auto ds = std::make_unique<tarvoDataSet>(CHANNELS, 4, -1);
    ds->setTimeUnit("sec");
    QVector<double> block(ROWS * POINTS);
    for (int s = 0; s < times.size(); ++s) {
        for (int i = 0; i < POINTS; ++i) {
            for (int r = 0; r < ROWS; ++r) {
                block[r * POINTS + i] = r >= CHANNELS ? i
                                        : i < 10 + r  ? (1.0 + 0.1 * s) * (r + 1) * 1e-6
                                                      : 0.0;
            }
        }
        ds->addTrace(block.constData(), times[s], POINTS, ROWS, 0, 1, false);
    }
    return ds;
}

TEST(ScanHistory, PointsPerScanZoomAndPicking) {
    auto ds = series({0, 10, 20, 30, 40});
    // Channel 14 has no flux factor: its flux is not a number, which plots at zero.
    double factors[21];
    std::fill(std::begin(factors), std::end(factors), 860000.0);
    factors[13] = std::nan("");
    ds->setIonFluxFactors(factors, 21);
    metaScanView view;
    view.resize(600, 400);
    view.setDataSet(ds.get());
    view.selectChan({0, 13, 16});
    ASSERT_EQ(view.curves().size(), 3);
    EXPECT_EQ(view.axisTitle(QwtPlot::xBottom).text(), "Time (sec)");
    // The forward difference puts each step at its lower point: average energy 9 + c volts; the
    // flux is the factor times the step, 0.86 (c + 1) A/m2 (negative: a falling current), and
    // 10 % more with each scan.
    const int channels[] = {0, 13, 16};
    for (int k = 0; k < 3; ++k) {
        const QwtPlotCurve* curve = view.curves()[k];
        EXPECT_EQ(curve->title().text(), QStringLiteral("Ch%1").arg(channels[k] + 1));
        ASSERT_EQ(int(curve->dataSize()), 5);
        for (int s = 0; s < 5; ++s) {
            EXPECT_EQ(curve->sample(s).x(), 10.0 * s);
            EXPECT_NEAR(curve->sample(s).y(), 9.0 + channels[k], 1e-12) << k << " " << s;
        }
    }
    view.selectValue(metaScanView::IonFlux);
    EXPECT_EQ(view.axisTitle(QwtPlot::yLeft).text(), "Ion Flux (A/m2)");
    for (int s = 0; s < 5; ++s) {
        EXPECT_NEAR(view.curves()[0]->sample(s).y(), -0.86 * (1 + 0.1 * s), 1e-12) << s;
        EXPECT_EQ(view.curves()[1]->sample(s).y(), 0.0) << s;
        EXPECT_NEAR(view.curves()[2]->sample(s).y(), -0.86 * (1 + 0.1 * s) * 17, 1e-11) << s;
    }

    QSignalSpy picked(&view, &metaScanView::scanSelected);
    // Picking: the nearest scan, handed to the data set as the data view does.
    QObject::connect(&view, &metaScanView::scanSelected, ds.get(), &tarvoDataSet::setMainScan);
    view.pointSelected(QPointF(12.0, 0.0));
    ASSERT_EQ(picked.count(), 1);
    EXPECT_EQ(picked.at(0).at(0).toInt(), 1);
    EXPECT_EQ(ds->currentScanIndex(), 1);
    EXPECT_EQ(view.marker()->xValue(), 10.0);
    EXPECT_FALSE(view.lastScanSelected());
    view.pointSelected(QPointF(36.0, 0.0));
    EXPECT_EQ(picked.at(1).at(0).toInt(), 4);
    EXPECT_TRUE(view.lastScanSelected());
    EXPECT_EQ(ds->mainScanIndex, -1);  // the newest: the display keeps following
    EXPECT_EQ(ds->currentScanIndex(), 4);
    // Far from every scan: nothing selected, nothing changed.
    view.pointSelected(QPointF(1e7, 0.0));
    EXPECT_EQ(picked.count(), 2);
}

}  // namespace
