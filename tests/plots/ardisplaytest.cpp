// The aspect-ratio display and plot on data sets built from known points: each point is one
// 2-point sweep one volt wide whose current rises by a chosen slope, so the curves, fluxes and
// energies can be worked out by hand.
#include <gtest/gtest.h>
#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_legenditem.h>
#include <qwt_plot_marker.h>
#include <qwt_symbol.h>
#include <qwt_text.h>

#include <QPointF>
#include <functional>
#include <memory>

#include "data/tarvodataset.h"
#include "datasetmaker.h"
#include "plots/kalderdisplayv2.h"
#include "plots/kalderplot.h"
#include "plots/metascanview.h"
#include "plots/tarvoplot.h"

namespace {

struct ratioSpec {
    double ratio;
    QVector<QPointF> points;  // (voltage, slope)
    bool complete;
};

constexpr int ROWS = 5;  // one current row, four voltage rows
constexpr int REF_POINTS = 20;

std::unique_ptr<tarvoDataSet> arData(const QVector<ratioSpec>& ratios, double key = 1.0) {
    auto ds = std::make_unique<tarvoDataSet>(1, 4, 3);
    // Reference sweep: a falling current over 0 .. 19 V.
    QVector<double> ref(ROWS * REF_POINTS);
    for (int i = 0; i < REF_POINTS; ++i) {
        ref[i] = 2e-6 - 1e-7 * i;
        for (int r = 1; r < ROWS; ++r) {
            ref[r * REF_POINTS + i] = i;
        }
    }
    ds->addReferenceTrace(ref.constData(), key, REF_POINTS, ROWS, 0, 0);
    for (const ratioSpec& spec : ratios) {
        for (const QPointF& p : spec.points) {
            const double v = p.x();
            const double block[ROWS * 2] = {1e-6, 1e-6 + p.y(), v, v + 1, v, v + 1,
                                            v,    v + 1,        v, v + 1};
            ds->addAspectRatioTrace(block, key, spec.ratio, v, 0.0, 2, ROWS, 0);
        }
        if (spec.complete) {
            ds->completeGroup(key, spec.ratio);
        }
    }
    return ds;
}

// Flux 430000 · Σ (y[i] + y[i-1]) · Δx: 430000 · 4, 430000 · 8 and 430000 · (2 + 6); energy
// Σ x·w / Σ w with w the trapezoids: (1 + 2) / 2 and (11·2 + 12·2) / 4.
const ratioSpec FLAT{2.0, {{0, 1}, {1, 1}, {2, 1}}, true};
const ratioSpec PEAK{5.0, {{10, 1}, {11, 3}, {12, 1}}, true};
const ratioSpec OPEN{7.0, {{0, 2}, {1, 2}}, false};
const ratioSpec LATE{9.0, {{0, 1}, {1, 1}, {4, 1}}, true};

QVector<double> xs(const QwtPlotCurve* c) {
    QVector<double> v;
    for (size_t i = 0; i < c->dataSize(); ++i) v.append(c->sample(int(i)).x());
    return v;
}
QVector<double> ys(const QwtPlotCurve* c) {
    QVector<double> v;
    for (size_t i = 0; i < c->dataSize(); ++i) v.append(c->sample(int(i)).y());
    return v;
}

void expectValues(const QVector<double>& got, const QVector<double>& want, double tolerance) {
    ASSERT_EQ(got.size(), want.size());
    for (int i = 0; i < got.size(); ++i) {
        EXPECT_NEAR(got[i], want[i], tolerance) << i;
    }
}

TEST(KalderDisplay, CurvesTitlesPensAndSummary) {
    auto ds = arData({FLAT, PEAK, OPEN, LATE});
    kalderDisplayV2 view;
    view.setDataSet(ds.get());

    const QList<QwtPlotCurve*>& curves = view.aspectRatioCurves();
    ASSERT_EQ(curves.size(), 4);
    const char* titles[] = {"AR 2", "AR 5", "AR 7", "AR 9"};
    const QColor pens[] = {{255, 0, 0}, {127, 128, 0}, {85, 170, 0}, {63, 192, 0}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(curves[i]->title().text(), titles[i]);
        EXPECT_EQ(curves[i]->pen().color(), pens[i]) << i;
    }
    expectValues(xs(curves[1]), {10, 11, 12}, 1e-12);
    expectValues(ys(curves[1]), {1, 3, 1}, 1e-9);

    // The summary stops at the unfinished third ratio, though the fourth is done.
    expectValues(xs(view.fluxCurve()), {2, 5}, 0);
    expectValues(ys(view.fluxCurve()), {430000.0 * 4, 430000.0 * 8}, 1e-3);
    expectValues(xs(view.energyCurve()), {2, 5}, 0);
    expectValues(ys(view.energyCurve()), {1.5, 11.5}, 1e-9);

    // Prescan: the reference sweep's current over its energy axis.
    const QVector<double> iv = ys(view.ivCurve());
    ASSERT_EQ(iv.size(), REF_POINTS);
    for (int i = 0; i < REF_POINTS; ++i) {
        EXPECT_NEAR(iv[i], 2e-6 - 1e-7 * i, 1e-18) << i;
    }
    EXPECT_EQ(int(view.dIdVCurve()->dataSize()), REF_POINTS - 6);

    // An unfinished second ratio: only the first point in the summary.
    auto open = arData({FLAT, OPEN, PEAK});
    view.setDataSet(open.get());
    expectValues(xs(view.fluxCurve()), {2}, 0);
    expectValues(ys(view.energyCurve()), {1.5}, 1e-9);
}

TEST(KalderDisplay, TheSummaryTellsItsCurvesAndRatiosApart) {
    auto ds = arData({FLAT, PEAK, OPEN});
    kalderDisplayV2 view;
    view.setDataSet(ds.get());
    // Energy and flux differ in colour and marker; each axis title wears its curve's colour.
    const QwtPlot* summary = view.summaryPlot();
    const QColor energy = view.energyCurve()->pen().color();
    const QColor flux = view.fluxCurve()->pen().color();
    EXPECT_NE(energy, flux);
    EXPECT_NE(view.energyCurve()->symbol()->style(), view.fluxCurve()->symbol()->style());
    EXPECT_EQ(summary->axisTitle(QwtPlot::yLeft).color(), energy);
    EXPECT_EQ(summary->axisTitle(QwtPlot::yRight).color(), flux);
    // The fixed 0 to 20 axis, with the measured (finished) ratios marked on it.
    EXPECT_EQ(summary->axisScaleDiv(QwtPlot::xBottom).lowerBound(), 0.0);
    EXPECT_EQ(summary->axisScaleDiv(QwtPlot::xBottom).upperBound(), 20.0);
    QVector<double> marked;
    for (const QwtPlotItem* item : summary->itemList(QwtPlotItem::Rtti_PlotMarker)) {
        marked << static_cast<const QwtPlotMarker*>(item)->xValue();
    }
    expectValues(marked, {2, 5}, 0);
}

// Every view of a data set shows nothing of an earlier one of another kind.
TEST(DataKinds, ANewKindLeavesNothingOfTheOldOnScreen) {
    auto ar = [] { return arData({FLAT, PEAK}); };
    auto iv = [] { return makeDataSet(13, 20, 3); };
    auto temperature = [] {
        auto ds = std::make_unique<tarvoDataSet>(13, 4, -1);
        const double row[13] = {20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};
        ds->addTemperatureRow(row, 1.0, 13, 0);
        return ds;
    };
    enum Kind { IV, AR, Temperature };
    const struct {
        std::function<std::unique_ptr<tarvoDataSet>()> first, second;
        Kind shown;
    } cases[] = {{iv, ar, AR}, {ar, iv, IV}, {iv, temperature, Temperature}, {temperature, ar, AR}};
    for (const auto& c : cases) {
        auto first = c.first();
        auto second = c.second();
        tarvoPlot plot;
        metaScanView history;
        kalderDisplayV2 arView;
        // As the data view hands data sets over: the old one goes, the new one comes.
        for (tarvoDataSet* ds : {first.get(), static_cast<tarvoDataSet*>(nullptr), second.get()}) {
            plot.setDataSet(ds);
            plot.setCurrentChannel({0, 1});
            history.setDataSet(ds);
            history.selectChan({0, 1});
            arView.setDataSet(ds);
        }
        const bool ivShown = c.shown == IV;
        EXPECT_EQ(plot.shownCurves().isEmpty(), !ivShown) << c.shown;
        EXPECT_EQ(plot.legendItem()->plotItems().isEmpty(), !ivShown) << c.shown;
        EXPECT_EQ(history.curves().isEmpty(), c.shown == AR) << c.shown;
        int arCurves = 0;
        for (const QwtPlotCurve* curve : arView.aspectRatioCurves()) {
            arCurves += curve->plot() != nullptr;
        }
        const bool arShown = c.shown == AR;
        EXPECT_EQ(arCurves, arShown ? 2 : 0) << c.shown;
        EXPECT_EQ(arView.ivCurve()->dataSize() > 0, arShown) << c.shown;
        EXPECT_EQ(arView.energyCurve()->dataSize(), arShown ? 2u : 0u) << c.shown;
        EXPECT_EQ(arView.summaryPlot()->itemList(QwtPlotItem::Rtti_PlotMarker).size(),
                  arShown ? 2 : 0)
            << c.shown;
    }
}

TEST(KalderDisplay, FewerRatiosDetachTheSurplusCurves) {
    auto four = arData({FLAT, PEAK, OPEN, LATE});
    auto two = arData({PEAK, FLAT});
    kalderDisplayV2 view;
    view.setDataSet(four.get());
    view.setDataSet(two.get());
    const QList<QwtPlotCurve*>& curves = view.aspectRatioCurves();
    ASSERT_EQ(curves.size(), 4);
    EXPECT_EQ(curves[0]->plot(), view.aspectRatioPlot());
    EXPECT_EQ(curves[1]->plot(), view.aspectRatioPlot());
    EXPECT_EQ(curves[0]->title().text(), "AR 5");
    EXPECT_EQ(curves[2]->plot(), nullptr);
    EXPECT_EQ(curves[3]->plot(), nullptr);
    // And back: the curves return.
    view.setDataSet(four.get());
    EXPECT_EQ(curves[3]->plot(), view.aspectRatioPlot());
}

TEST(KalderPlot, FluxOverAngleAndBack) {
    auto ds = arData({FLAT, PEAK, LATE});
    kalderPlot plot;
    plot.setDataSet(ds.get());
    ASSERT_EQ(plot.curves().size(), 3);
    // Mode 0: the mean current at each point against its voltage.
    expectValues(xs(plot.curves()[1]), {10, 11, 12}, 1e-12);
    expectValues(ys(plot.curves()[1]), {1e-6, 1e-6, 1e-6}, 1e-18);

    plot.setCurrentMode(3);
    EXPECT_EQ(plot.curves()[0]->title().text(), "Ion Flux over Angle");
    EXPECT_EQ(plot.curves()[1]->plot(), nullptr);
    expectValues(xs(plot.curves()[0]), {3, 6, 9}, 0);
    expectValues(ys(plot.curves()[0]), {430000.0 * 4, 430000.0 * 8, 430000.0 * 8}, 1e-3);

    plot.setCurrentMode(0);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(plot.curves()[i]->title().text(), QStringLiteral("%1 angle").arg(3 * (i + 1)));
        EXPECT_EQ(plot.curves()[i]->plot(), &plot) << i;
    }

    plot.setCurrentMode(1);
    expectValues(ys(plot.curves()[1]), {1, 3, 1}, 1e-9);
    // Simple mode spreads the points evenly between the first and last energy.
    plot.toggleSimpleMode();
    expectValues(xs(plot.curves()[2]), {0, 2, 4}, 1e-12);
}

}  // namespace
