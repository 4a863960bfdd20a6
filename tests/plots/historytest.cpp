// The scan history on series built from known sweeps, the palette's wrap-around, and picking.
#include <gtest/gtest.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_marker.h>
#include <qwt_plot_zoomer.h>
#include <qwt_scale_div.h>
#include <qwt_text.h>

#include <QSignalSpy>
#include <QTest>
#include <cmath>
#include <memory>

#include "data/tarvodataset.h"
#include "plots/curvepalette.h"
#include "plots/metascanview.h"

namespace {

TEST(CurvePalette, ChannelsFromThirteenOnWrapAround) {
    struct Case {
        int channel;
        bool second;
        QColor colour;
    } cases[] = {
        {0, false, {255, 0, 0}},    {0, true, {0, 0, 0}},
        {12, false, {205, 92, 92}}, {12, true, {129, 123, 47}},  // the last entries
        {13, false, {255, 0, 0}},   {13, true, {0, 0, 0}},       // wrapped to the first
        {16, false, {255, 0, 255}}, {23, true, {47, 79, 79}},    // entries 6 and 21
    };
    for (const Case& c : cases) {
        EXPECT_EQ(curvePalette::channelColor(c.channel, c.second), c.colour)
            << c.channel << " " << c.second;
    }
    EXPECT_EQ(curvePalette::color(-1), QColor(129, 123, 47));
    EXPECT_EQ(curvePalette::color(26 * 40 + 3), QColor(0, 0, 255));
}

constexpr int CHANNELS = 17;
constexpr int ROWS = 21;  // 17 current rows, 4 voltage rows
constexpr int POINTS = 40;

// One sweep: the currents of channel c fall from (c + 1) µA to 0 through a step at 10 + c volts.
QVector<double> sweep(double scale) {
    QVector<double> block(ROWS * POINTS);
    for (int i = 0; i < POINTS; ++i) {
        const double v = i;
        for (int c = 0; c < CHANNELS; ++c) {
            block[c * POINTS + i] = v < 10 + c ? scale * (c + 1) * 1e-6 : 0.0;
        }
        for (int r = CHANNELS; r < ROWS; ++r) {
            block[r * POINTS + i] = v;
        }
    }
    return block;
}

std::unique_ptr<tarvoDataSet> series(const QVector<double>& times) {
    auto ds = std::make_unique<tarvoDataSet>(CHANNELS, 4, -1);
    ds->setTimeUnit("sec");
    for (int s = 0; s < times.size(); ++s) {
        const QVector<double> block = sweep(1.0 + 0.1 * s);
        ds->addTrace(block.constData(), times[s], POINTS, ROWS, 0, 1, false);
    }
    return ds;
}

TEST(ScanHistory, OnePointPerScanPerChannel) {
    auto ds = series({0, 10, 20, 30, 40});
    metaScanView view;
    view.setDataSet(ds.get());
    view.selectChan({0, 13, 16});
    ASSERT_EQ(view.curves().size(), 3);
    EXPECT_EQ(view.axisTitle(QwtPlot::xBottom).text(), "Time (sec)");
    const int channels[] = {0, 13, 16};
    const QColor pens[] = {{255, 0, 0}, {255, 0, 0}, {255, 0, 255}};
    for (int k = 0; k < 3; ++k) {
        const QwtPlotCurve* curve = view.curves()[k];
        EXPECT_EQ(curve->title().text(), QStringLiteral("Ch%1").arg(channels[k] + 1));
        EXPECT_EQ(curve->pen().color(), pens[k]);
        ASSERT_EQ(int(curve->dataSize()), 5);
        for (int s = 0; s < 5; ++s) {
            EXPECT_EQ(curve->sample(s).x(), 10.0 * s);
            EXPECT_EQ(curve->sample(s).y(), ds->sweepScans[s]->average->averageEnergy(channels[k]));
        }
    }
    // The step of channel c lies at 10 + c volts: the energies rise with the channel.
    EXPECT_LT(view.curves()[0]->sample(0).y(), view.curves()[1]->sample(0).y());

    view.selectValue(metaScanView::IonFlux);
    EXPECT_EQ(view.axisTitle(QwtPlot::yLeft).text(), "Ion Flux (A/m2)");
    for (int s = 0; s < 5; ++s) {
        EXPECT_EQ(view.curves()[0]->sample(s).y(), ds->sweepScans[s]->average->ionFlux(0));
    }
    // The flux grows with the scan (each sweep 10 % stronger than the one before).
    EXPECT_GT(std::fabs(view.curves()[0]->sample(4).y()),
              std::fabs(view.curves()[0]->sample(0).y()));
}

TEST(ScanHistory, AxisTitlesFollowTheSelectorBeforeAnyData) {
    metaScanView view;
    EXPECT_EQ(view.axisTitle(QwtPlot::xBottom).text(), "Time");
    const struct {
        int value;
        const char* title;
    } cases[] = {{metaScanView::IonFlux, "Ion Flux (A/m2)"},
                 {metaScanView::AverageEnergy, "Average Energy (eV)"}};
    for (const auto& c : cases) {
        view.selectValue(c.value);
        EXPECT_EQ(view.axisTitle(QwtPlot::yLeft).text(), c.title);
    }
}

TEST(ScanHistory, ZoomAndRightClickBackToTheWholeHistory) {
    auto ds = series({0, 10, 20, 30, 40});
    metaScanView view;
    view.resize(600, 400);
    view.setDataSet(ds.get());
    view.selectChan({0});
    const QwtScaleDiv whole = view.axisScaleDiv(QwtPlot::xBottom);
    ASSERT_GE(whole.upperBound(), 40.0);
    auto* zoomer = view.findChild<QwtPlotZoomer*>();
    ASSERT_NE(zoomer, nullptr);
    const QwtScaleDiv y = view.axisScaleDiv(QwtPlot::yLeft);
    zoomer->zoom(QRectF(10, y.lowerBound(), 10, y.range()));
    EXPECT_DOUBLE_EQ(view.axisScaleDiv(QwtPlot::xBottom).upperBound(), 20.0);
    // A new scan arriving keeps the zoom; the right button shows the whole history again.
    view.updateData();
    EXPECT_DOUBLE_EQ(view.axisScaleDiv(QwtPlot::xBottom).upperBound(), 20.0);
    QSignalSpy selected(&view, &metaScanView::scanSelected);
    QTest::mouseClick(view.canvas(), Qt::RightButton, Qt::NoModifier, QPoint(50, 50));
    EXPECT_EQ(view.axisScaleDiv(QwtPlot::xBottom).upperBound(), whole.upperBound());
    EXPECT_EQ(selected.count(), 0);
}

TEST(ScanHistory, NotANumberPlotsAtZero) {
    auto ds = series({0, 10, 20});
    double factors[CHANNELS + 4];
    std::fill(std::begin(factors), std::end(factors), 860000.0);
    factors[1] = std::nan("");
    ds->setIonFluxFactors(factors, CHANNELS + 4);
    ASSERT_TRUE(std::isnan(ds->sweepScans[0]->average->ionFlux(1)));
    metaScanView view;
    view.setDataSet(ds.get());
    view.selectValue(metaScanView::IonFlux);
    view.selectChan({1, 2});
    for (int s = 0; s < 3; ++s) {
        EXPECT_EQ(view.curves()[0]->sample(s).y(), 0.0);
        EXPECT_NE(view.curves()[1]->sample(s).y(), 0.0);
    }
}

TEST(ScanHistory, PickingSelectsTheNearestScan) {
    auto ds = series({0, 10, 20, 30, 40});
    metaScanView view;
    view.setDataSet(ds.get());
    view.selectChan({0});
    QSignalSpy picked(&view, &metaScanView::scanSelected);
    // The data view hands the choice to the data set, which the trace plot reads.
    QObject::connect(&view, &metaScanView::scanSelected, ds.get(), &tarvoDataSet::setMainScan);

    view.pointSelected(QPointF(12.0, 0.0));
    ASSERT_EQ(picked.count(), 1);
    EXPECT_EQ(picked.at(0).at(0).toInt(), 1);
    EXPECT_EQ(ds->currentScanIndex(), 1);
    EXPECT_TRUE(view.marker()->isVisible());
    EXPECT_EQ(view.marker()->xValue(), 10.0);
    EXPECT_FALSE(view.lastScanSelected());

    view.pointSelected(QPointF(36.0, 0.0));
    EXPECT_EQ(picked.at(1).at(0).toInt(), 4);
    EXPECT_TRUE(view.lastScanSelected());
    EXPECT_EQ(ds->mainScanIndex, -1);  // the newest: the display keeps following
    EXPECT_EQ(ds->currentScanIndex(), 4);

    // Far from every scan: nothing selected, nothing changed.
    view.pointSelected(QPointF(1e7, 0.0));
    view.pointSelected(QPointF(-2e5, 0.0));
    EXPECT_EQ(picked.count(), 2);
    EXPECT_EQ(view.marker()->xValue(), 40.0);
    EXPECT_TRUE(view.lastScanSelected());
}

TEST(ScanHistory, OneScanSeries) {
    auto ds = series({5});
    metaScanView view;
    view.setDataSet(ds.get());
    view.selectChan({0, 3});
    ASSERT_EQ(view.curves().size(), 2);
    EXPECT_EQ(int(view.curves()[0]->dataSize()), 1);
    EXPECT_EQ(int(view.curves()[1]->dataSize()), 1);
    QSignalSpy picked(&view, &metaScanView::scanSelected);
    view.pointSelected(QPointF(5000.0, 1.0));
    ASSERT_EQ(picked.count(), 1);
    EXPECT_EQ(picked.at(0).at(0).toInt(), 0);
}

TEST(ScanHistory, TemperatureRowsAndChannelList) {
    auto ds = std::make_unique<tarvoDataSet>(3, 0, -1);
    ds->setTimeUnit("sec");
    const double a[] = {20, 21, 22}, b[] = {30, 31, 32}, c[] = {40, 41};
    ds->addTemperatureRow(a, 1.0, 3, 0);
    ds->addTemperatureRow(b, 1.0, 3, 0);
    ds->addTemperatureRow(c, 2.0, 2, 0);
    metaScanView view;
    view.setDataSet(ds.get());
    view.selectChan({2});
    ASSERT_EQ(view.curves().size(), 1);
    const QwtPlotCurve* curve = view.curves()[0];
    ASSERT_EQ(int(curve->dataSize()), 3);
    EXPECT_EQ(curve->sample(0), QPointF(1.0, 22.0));
    EXPECT_EQ(curve->sample(1), QPointF(1.0, 32.0));
    EXPECT_EQ(curve->sample(2), QPointF(2.0, 0.0));  // a short row has no third value
    // The same list again changes nothing; switching the legend off and on keeps the curves.
    view.selectChan({2});
    EXPECT_EQ(view.curves().size(), 1);
    view.switchLegend();
    EXPECT_FALSE(view.legendShown());
    view.switchLegend();
    EXPECT_TRUE(view.legendShown());
    view.selectChan({});
    EXPECT_TRUE(view.curves().isEmpty());
}

}  // namespace
