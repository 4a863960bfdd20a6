#include "plots/kalderdisplayv2.h"

#include <qwt_legend.h>
#include <qwt_picker_machine.h>
#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_marker.h>
#include <qwt_plot_picker.h>
#include <qwt_symbol.h>
#include <qwt_text.h>

#include <QGridLayout>
#include <QLocale>

#include "data/tarvodataset.h"
#include "plots/engineeringscale.h"

namespace {

QwtPlot* makePlot(const QString& name, QWidget* parent) {
    auto* plot = new QwtPlot(parent);
    plot->setObjectName(name);
    plot->setAutoReplot(false);
    plot->setCanvasBackground(Qt::white);
    // The three plots share the page and give way to the controls around it: they shrink with
    // the page down to a width that still reads and to the height their axis titles need.
    plot->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    plot->setMinimumWidth(280);
    plot->insertLegend(new QwtLegend, QwtPlot::BottomLegend);
    return plot;
}

// The axis title in the colour of the curve it belongs to.
void colourAxis(QwtPlot* plot, int axis, const QString& title, const QColor& colour) {
    QwtText text = plot->axisTitle(axis);  // keeps the plot's title font
    text.setText(title);
    text.setColor(colour);
    plot->setAxisTitle(axis, text);
}

const QColor ENERGY_COLOUR(164, 0, 26);
const QColor FLUX_COLOUR(0, 90, 200);

QwtPlotCurve* makeCurve(const QString& title, const QColor& colour, int yAxis, QwtPlot* plot) {
    auto* curve = new QwtPlotCurve(title);
    curve->setPen(QPen(colour, 1.5));
    curve->setRenderHint(QwtPlotItem::RenderAntialiased, true);
    curve->setYAxis(yAxis);
    curve->attach(plot);
    return curve;
}

// Copies n values starting at p (nothing when p is null or n is not positive).
QVector<double> copyOf(const double* p, int n) {
    return (p && n > 0) ? QVector<double>(p, p + n) : QVector<double>();
}

}  // namespace

kalderDisplayV2::kalderDisplayV2(QWidget* parent) : QWidget(parent) {
    prescan = makePlot(QStringLiteral("prescanPlot"), this);
    prescan->setAxisTitle(QwtPlot::xBottom, QStringLiteral("Ion Energy [eV]"));
    prescan->setAxisTitle(QwtPlot::yLeft, QStringLiteral("Ion Current [A]"));
    prescan->setAxisTitle(QwtPlot::yRight, QStringLiteral("dI/dE"));
    prescan->enableAxis(QwtPlot::yRight, true);
    engineeringScaleDraw::apply(prescan, QwtPlot::yLeft);
    engineeringScaleDraw::apply(prescan, QwtPlot::yRight);
    iv = makeCurve(QStringLiteral("IV Curve"), QColor(164, 0, 26), QwtPlot::yLeft, prescan);
    didv = makeCurve(QStringLiteral("dIdV"), QColor(69, 85, 115), QwtPlot::yRight, prescan);

    curvesPlot = makePlot(QStringLiteral("kalderPlot"), this);
    curvesPlot->setAxisTitle(QwtPlot::xBottom, QStringLiteral("Ion Energy [eV]"));
    curvesPlot->setAxisTitle(QwtPlot::yLeft, QStringLiteral("IEDF [a.u.]"));
    engineeringScaleDraw::apply(curvesPlot, QwtPlot::yLeft);

    summary = makePlot(QStringLiteral("arPlot"), this);
    summary->setAxisTitle(QwtPlot::xBottom, QStringLiteral("Aspect Ratio"));
    summary->setAxisScale(QwtPlot::xBottom, 0.0, 20.0, 4.0);
    // Energy in red with round marks on the left axis, flux in blue with square marks and a
    // dashed line on the right; each axis title takes its curve's colour.
    colourAxis(summary, QwtPlot::yLeft, QStringLiteral("Average Energy [eV]"), ENERGY_COLOUR);
    colourAxis(summary, QwtPlot::yRight, QStringLiteral("Ion Flux [Am^-2]"), FLUX_COLOUR);
    summary->enableAxis(QwtPlot::yRight, true);
    energy = makeCurve(QStringLiteral("Average Energy"), ENERGY_COLOUR, QwtPlot::yLeft, summary);
    flux = makeCurve(QStringLiteral("Ion Flux"), FLUX_COLOUR, QwtPlot::yRight, summary);
    flux->setPen(QPen(FLUX_COLOUR, 1.5, Qt::DashLine));
    for (auto [c, shape] :
         {std::pair{energy, QwtSymbol::Ellipse}, std::pair{flux, QwtSymbol::Rect}}) {
        c->setStyle(QwtPlotCurve::Lines);
        // Marks on the points: a summary of one aspect ratio is a single point.
        c->setSymbol(
            new QwtSymbol(shape, QBrush(c->pen().color()), QPen(c->pen().color()), QSize(7, 7)));
        c->setLegendAttribute(QwtPlotCurve::LegendShowSymbol, true);
        c->setRawSamples(nullptr, nullptr, 0);
    }

    picker = new QwtPlotPicker(QwtPlot::xBottom, QwtPlot::yLeft, QwtPicker::NoRubberBand,
                               QwtPicker::AlwaysOn, summary->canvas());
    picker->setStateMachine(new QwtPickerDragPointMachine());
    connect(picker, qOverload<const QPointF&>(&QwtPlotPicker::selected), this,
            &kalderDisplayV2::pointSelected);

    auto* grid = new QGridLayout(this);
    grid->addWidget(prescan, 0, 0);
    grid->addWidget(curvesPlot, 0, 1);
    grid->addWidget(summary, 1, 0, 1, 2);
}

kalderDisplayV2::~kalderDisplayV2() {
    // Curves that are detached have no plot to delete them.
    for (QwtPlotCurve* c : arCurves) {
        if (!c->plot()) {
            delete c;
        }
    }
}

void kalderDisplayV2::clear() {
    iv->setSamples(QVector<QPointF>());
    didv->setSamples(QVector<QPointF>());
    for (QwtPlotCurve* c : qAsConst(arCurves)) {
        c->detach();
    }
    aspectRatios.clear();
    ionFluxes.clear();
    averageEnergies.clear();
    markRatios();
}

void kalderDisplayV2::markRatios() {
    // The axis keeps its fixed range; a dotted line marks each aspect ratio measured.
    qDeleteAll(ratioMarkers);
    ratioMarkers.clear();
    for (const double ratio : qAsConst(aspectRatios)) {
        auto* marker = new QwtPlotMarker;
        marker->setLineStyle(QwtPlotMarker::VLine);
        marker->setLinePen(QPen(Qt::gray, 0, Qt::DotLine));
        marker->setXValue(ratio);
        QwtText label(QString::number(ratio, 'g', QLocale::FloatingPointShortest));
        label.setColor(Qt::darkGray);
        marker->setLabel(label);
        // Upright at the foot of the line: ratios close together stay readable.
        marker->setLabelOrientation(Qt::Vertical);
        marker->setLabelAlignment(Qt::AlignBottom | Qt::AlignRight);
        marker->setItemAttribute(QwtPlotItem::Legend, false);
        marker->attach(summary);
        ratioMarkers.append(marker);
    }
    flux->setRawSamples(aspectRatios.constData(), ionFluxes.constData(), aspectRatios.size());
    energy->setRawSamples(aspectRatios.constData(), averageEnergies.constData(),
                          aspectRatios.size());
    prescan->replot();
    curvesPlot->replot();
    summary->replot();
}

void kalderDisplayV2::setDataSet(tarvoDataSet* ds) {
    dataSet = ds;
    if (!ds) {
        clear();
    }
    updateDisplay();
}

void kalderDisplayV2::setCurrentChannel(int nChan) {
    channel = nChan;
    updateDisplay();
}

void kalderDisplayV2::setCurrentScan(int nScan) {
    scanIndex = nScan;
    updateDisplay();
}

void kalderDisplayV2::setCurrentMode(int m) {
    mode = m;
    updateDisplay();
}

void kalderDisplayV2::enableIVCurve(bool on) {
    iv->setVisible(on);
    prescan->replot();
}

void kalderDisplayV2::toggleDICurve(bool on) {
    didv->setVisible(on);
    prescan->replot();
}

void kalderDisplayV2::pointSelected(const QPointF& point) {
    emit pointPicked(point);
}

void kalderDisplayV2::updateDisplay() {
    if (!dataSet) {
        return;
    }
    dataSet->lock();
    kalderAspectRatioScan* scan = (scanIndex >= 0 && scanIndex < dataSet->arScans.size())
                                      ? dataSet->arScans[scanIndex]
                                      : dataSet->currentArScan();
    if (!scan) {
        dataSet->unlock();
        // Not aspect-ratio data: nothing drawn for an earlier data set stays here.
        clear();
        return;
    }

    // Prescan: the reference sweep of the scan.
    const ivTrace* ref = scan->reference;
    const bool refOk = ref && ref->allocated && channel >= 0 && channel < int(ref->nRows);
    const double* e = refOk ? ref->energyView() : nullptr;
    iv->setSamples(
        copyOf(e, ref ? ref->croppedLength() : 0),
        copyOf(refOk ? ref->currentView(channel) : nullptr, ref ? ref->croppedLength() : 0));
    didv->setSamples(
        copyOf(e ? e + 3 : nullptr, ref ? ref->derivativeLength() : 0),
        copyOf(refOk ? ref->dIdEView(channel) : nullptr, ref ? ref->derivativeLength() : 0));

    // One distribution per aspect ratio, red for the first shading towards green.
    const int groups = scan->groups.size();
    while (arCurves.size() < groups) {
        arCurves.append(new QwtPlotCurve());
    }
    for (int i = 0; i < groups; ++i) {
        arGroup* group = scan->groups[i];
        const int k = i + 1;
        QwtPlotCurve* curve = arCurves[i];
        curve->setSamples(group->curveX(channel), group->curveY(channel));
        curve->setTitle(QStringLiteral("AR %1").arg(
            QString::number(group->aspectRatio, 'g', QLocale::FloatingPointShortest)));
        curve->setPen(QPen(QColor(255 / k, 255 - 255 / k, 0), 1.5));
        curve->setRenderHint(QwtPlotItem::RenderAntialiased, true);
        curve->setYAxis(QwtPlot::yLeft);
        curve->attach(curvesPlot);
    }
    for (int i = groups; i < arCurves.size(); ++i) {
        arCurves[i]->detach();
    }

    // Summary, up to the first aspect ratio still being measured.
    aspectRatios.clear();
    ionFluxes.clear();
    averageEnergies.clear();
    for (arGroup* group : scan->groups) {
        if (!group->complete) {
            break;
        }
        aspectRatios.append(group->aspectRatio);
        ionFluxes.append(group->ionFlux(channel));
        averageEnergies.append(group->getAverageEnergy(channel));
    }
    dataSet->unlock();
    markRatios();
}
