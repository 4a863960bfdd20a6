// The aspect-ratio display and plot on data sets built from known points: each point is one
// 2-point sweep one volt wide whose current rises by a chosen slope, so the curves, fluxes and
// energies can be worked out by hand.
#include <gtest/gtest.h>
#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_legenditem.h>
#include <qwt_plot_marker.h>
#include <qwt_text.h>

#include <QPointF>
#include <memory>

#include "data/tarvodataset.h"
#include "datasetmaker.h"
#include "plots/kalderdisplayv2.h"
#include "plots/kalderplot.h"
#include "plots/tarvoplot.h"

namespace {

struct ratioSpec {
    double ratio;
    QVector<QPointF> points;  // (voltage, slope)
    bool complete;
};

// A reference sweep (a current falling from 2 µA by 0.1 µA per volt over 0 .. 19 V), then the
// points of each ratio.
std::unique_ptr<tarvoDataSet> arData(const QVector<ratioSpec>& ratios) {
    auto ds = std::make_unique<tarvoDataSet>(1, 4, 3);
    QVector<double> ref(5 * 20);
    for (int i = 0; i < 20; ++i) {
        ref[i] = 2e-6 - 1e-7 * i;
        for (int r = 1; r < 5; ++r) {
            ref[r * 20 + i] = i;
        }
    }
    ds->addReferenceTrace(ref.constData(), 1.0, 20, 5, 0, 0);
    for (const ratioSpec& spec : ratios) {
        for (const QPointF& p : spec.points) {
            const double v = p.x();
            const double block[10] = {1e-6, 1e-6 + p.y(), v, v + 1, v, v + 1, v, v + 1, v, v + 1};
            ds->addAspectRatioTrace(block, 1.0, spec.ratio, v, 0.0, 2, 5, 0);
        }
        if (spec.complete) {
            ds->completeGroup(1.0, spec.ratio);
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

// The curve's samples against the expected coordinates (none given: not compared).
void expectCurve(const QwtPlotCurve* c, const QVector<double>& x, const QVector<double>& y,
                 double tolerance) {
    ASSERT_EQ(int(c->dataSize()), std::max(x.size(), y.size())) << c->title().text().toStdString();
    for (int i = 0; i < int(c->dataSize()); ++i) {
        EXPECT_NEAR(c->sample(i).x(), x.value(i, c->sample(i).x()), tolerance) << i;
        EXPECT_NEAR(c->sample(i).y(), y.value(i, c->sample(i).y()), tolerance) << i;
    }
}

TEST(KalderDisplay, CurvesSummaryAndMarkers) {
    auto ds = arData({FLAT, PEAK, OPEN, LATE});
    kalderDisplayV2 view;
    view.setDataSet(ds.get());
    const QList<QwtPlotCurve*>& curves = view.aspectRatioCurves();
    ASSERT_EQ(curves.size(), 4);
    EXPECT_EQ(curves[3]->title().text(), "AR 9");
    EXPECT_EQ(curves[3]->pen().color(), QColor(63, 192, 0));
    expectCurve(curves[1], {10, 11, 12}, {1, 3, 1}, 1e-9);

    // The summary stops at the unfinished third ratio, though the fourth is done; the measured
    // ratios are marked on its axis.
    expectCurve(view.fluxCurve(), {2, 5}, {430000.0 * 4, 430000.0 * 8}, 1e-3);
    expectCurve(view.energyCurve(), {2, 5}, {1.5, 11.5}, 1e-9);
    QVector<double> marked;
    for (const QwtPlotItem* item : view.summaryPlot()->itemList(QwtPlotItem::Rtti_PlotMarker)) {
        marked << static_cast<const QwtPlotMarker*>(item)->xValue();
    }
    EXPECT_EQ(marked, QVector<double>({2, 5}));

    // Prescan: the reference sweep's current over its energy axis.
    QVector<double> reference;
    for (int i = 0; i < 20; ++i) {
        reference << 2e-6 - 1e-7 * i;
    }
    expectCurve(view.ivCurve(), {}, reference, 1e-18);
    EXPECT_EQ(int(view.dIdVCurve()->dataSize()), 20 - 6);

    // Fewer ratios, the second unfinished: the surplus curve leaves the plot, the summary holds
    // the first point only.
    auto open = arData({FLAT, OPEN, PEAK});
    view.setDataSet(open.get());
    EXPECT_EQ(curves[3]->plot(), nullptr);
    expectCurve(view.fluxCurve(), {2}, {430000.0 * 4}, 1e-3);
}

// An aspect-ratio data set after a trace series: the trace plot keeps none of the old curves.
TEST(DataKinds, TracePlotDropsAnEarlierKind) {
    auto iv = makeDataSet(13, 20, 3);
    auto ar = arData({FLAT, PEAK});
    tarvoPlot plot;
    for (tarvoDataSet* ds : {iv.get(), static_cast<tarvoDataSet*>(nullptr), ar.get()}) {
        plot.setDataSet(ds);
        plot.setCurrentChannel({0, 1});
    }
    EXPECT_TRUE(plot.shownCurves().isEmpty());
    EXPECT_TRUE(plot.legendItem()->plotItems().isEmpty());
}

TEST(KalderPlot, FluxOverAngleAndBack) {
    auto ds = arData({FLAT, PEAK, LATE});
    kalderPlot plot;
    plot.setDataSet(ds.get());
    ASSERT_EQ(plot.curves().size(), 3);
    // Mode 0: the mean current at each point against its voltage.
    expectCurve(plot.curves()[1], {10, 11, 12}, {}, 1e-12);
    expectCurve(plot.curves()[1], {}, {1e-6, 1e-6, 1e-6}, 1e-18);

    plot.setCurrentMode(3);
    EXPECT_EQ(plot.curves()[0]->title().text(), "Ion Flux over Angle");
    EXPECT_EQ(plot.curves()[1]->plot(), nullptr);
    expectCurve(plot.curves()[0], {3, 6, 9}, {430000.0 * 4, 430000.0 * 8, 430000.0 * 8}, 1e-3);

    plot.setCurrentMode(0);
    EXPECT_EQ(plot.curves()[1]->title().text(), "6 angle");
    EXPECT_EQ(plot.curves()[1]->plot(), &plot);
    plot.setCurrentMode(1);
    expectCurve(plot.curves()[1], {}, {1, 3, 1}, 1e-9);
    // Simple mode spreads the points evenly between the first and last energy.
    plot.toggleSimpleMode();
    expectCurve(plot.curves()[2], {0, 2, 4}, {}, 1e-12);
}

}  // namespace
