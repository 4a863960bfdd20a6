#include "plots/kalderplot.h"

#include <qwt_legend.h>
#include <qwt_legend_label.h>
#include <qwt_plot_canvas.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_zoomer.h>
#include <qwt_text.h>

#include <QKeySequence>
#include <QShortcut>

#include "data/tarvodataset.h"
#include "plots/curvepalette.h"
#include "plots/engineeringscale.h"
#include "plots/plotrender.h"

namespace {

// Mean over a point's sweeps of the channel's current at the first (cropped) sample.
double meanCurrent(const arPoint& point, int channel) {
    double sum = 0.0;
    int count = 0;
    for (const ivTrace* t : point.traces) {
        const double* i = t->currentView(channel);
        if (i && channel < static_cast<int>(t->nRows) && t->croppedLength() > 0) {
            sum += i[0];
            ++count;
        }
    }
    return count ? sum / count : 0.0;
}

}  // namespace

kalderPlot::kalderPlot(QWidget* parent) : QwtPlot(parent) {
    setAutoReplot(false);
    setStyleSheet(QStringLiteral("background-color:white;"));
    setCanvasBackground(Qt::white);
    setAxisTitle(QwtPlot::xBottom, QStringLiteral("Energy (eV)"));
    setAxisTitle(QwtPlot::yLeft, QStringLiteral("Current (I)"));
    engineeringScaleDraw::apply(this, QwtPlot::yLeft);

    legend = new QwtLegend();
    legend->setDefaultItemMode(QwtLegendData::Checkable);
    insertLegend(legend, QwtPlot::RightLegend);
    connect(legend, &QwtLegend::checked, this, &kalderPlot::legendChecked);

    zoomer = new QwtPlotZoomer(canvas());
    zoomer->setRubberBandPen(QPen(Qt::darkGreen));
    zoomer->setTrackerMode(QwtPicker::AlwaysOn);
    zoomer->setMousePattern(QwtEventPattern::MouseSelect2, Qt::RightButton, Qt::ControlModifier);
    zoomer->setMousePattern(QwtEventPattern::MouseSelect3, Qt::RightButton);
    connect(zoomer, &QwtPlotZoomer::zoomed, this, &kalderPlot::CheckZoom);

    // Only while the plot has the focus: the trace plot uses the same keys application-wide.
    auto* simpleKey = new QShortcut(QKeySequence(Qt::CTRL + Qt::Key_F6), this);
    simpleKey->setContext(Qt::WidgetWithChildrenShortcut);
    connect(simpleKey, &QShortcut::activated, this, &kalderPlot::toggleSimpleMode);

    screenshotPath = plotRender::screenshotPath(QStringLiteral("kalderplot"));
}

kalderPlot::~kalderPlot() {
    qDeleteAll(curveList);
}

void kalderPlot::setDataSet(tarvoDataSet* ds) {
    dataSet = ds;
    scanIndex = -1;
    updateDisplay();
}

QString kalderPlot::angleTitle(int index) {
    return QStringLiteral("%1 angle").arg(3 * (index + 1));
}

void kalderPlot::styleCurve(QwtPlotCurve* curve, int index) const {
    curve->setPen(QPen(curvePalette::color(2 * index), 1.5));
    curve->setRenderHint(QwtPlotItem::RenderAntialiased, true);
    curve->setYAxis(QwtPlot::yLeft);
}

QwtPlotCurve* kalderPlot::curveAt(int index) {
    while (curveList.size() <= index) {
        auto* curve = new QwtPlotCurve(angleTitle(curveList.size()));
        styleCurve(curve, curveList.size());
        curveList.append(curve);
    }
    return curveList[index];
}

void kalderPlot::setCurrentChannel(int nChan) {
    channel = nChan;
    updateDisplay();
}

void kalderPlot::setCurrentScan(int nScan) {
    scanIndex = nScan;
    updateDisplay();
}

void kalderPlot::setCurrentMode(int newMode) {
    if (mode == FLUX_OVER_ANGLE && newMode != FLUX_OVER_ANGLE) {
        for (int i = 0; i < curveList.size(); ++i) {
            curveList[i]->setTitle(angleTitle(i));
            if (i > 0) {
                curveList[i]->attach(this);
            }
        }
    }
    if (newMode == FLUX_OVER_ANGLE) {
        if (!curveList.isEmpty()) {
            curveList[0]->setTitle(QStringLiteral("Ion Flux over Angle"));
        }
        for (int i = 1; i < curveList.size(); ++i) {
            curveList[i]->detach();
        }
        setAxisTitle(QwtPlot::xBottom, QStringLiteral("Angle (degree)"));
        setAxisTitle(QwtPlot::yLeft, QStringLiteral("Ion Flux (Amps.m-2)"));
    } else if (newMode == 1 || newMode == 2) {
        setAxisTitle(QwtPlot::xBottom, QStringLiteral("Energy (eV)"));
        setAxisTitle(QwtPlot::yLeft, QStringLiteral("IEDF [a.u.]"));
    } else {
        setAxisTitle(QwtPlot::xBottom, QStringLiteral("Energy (eV)"));
        setAxisTitle(QwtPlot::yLeft, QStringLiteral("Ion Current (Amps)"));
    }
    // Currents read with engineering prefixes; the other values keep plain labels.
    const bool current = newMode != FLUX_OVER_ANGLE && newMode != 1 && newMode != 2;
    if (current != bool(dynamic_cast<const engineeringScaleDraw*>(axisScaleDraw(QwtPlot::yLeft)))) {
        setAxisScaleDraw(QwtPlot::yLeft, current ? new engineeringScaleDraw : new QwtScaleDraw);
    }
    mode = newMode;
    updateDisplay();
}

void kalderPlot::updateDisplay() {
    if (!dataSet || !dataSet->hasArScans()) {
        replot();
        return;
    }
    dataSet->lock();
    kalderAspectRatioScan* scan = (scanIndex >= 0 && scanIndex < dataSet->arScans.size())
                                      ? dataSet->arScans[scanIndex]
                                      : dataSet->currentArScan();
    const int groups = scan ? scan->groups.size() : 0;
    if (mode == FLUX_OVER_ANGLE) {
        QVector<double> x, y;
        for (int k = 0; k < groups; ++k) {
            x.append(3.0 * (k + 1));
            y.append(scan->groups[k]->ionFlux(channel));
        }
        if (groups > 0) {
            QwtPlotCurve* first = curveAt(0);
            first->setTitle(QStringLiteral("Ion Flux over Angle"));
            first->setSamples(x, y);
            first->attach(this);
        }
        for (int i = groups > 0 ? 1 : 0; i < curveList.size(); ++i) {
            curveList[i]->detach();
        }
    } else {
        for (int k = 0; k < groups; ++k) {
            arGroup* group = scan->groups[k];
            QVector<double> x, y;
            if (mode == 1 || mode == 2) {
                x = group->curveX(channel);
                y = group->curveY(channel);
            } else {
                for (arPoint* point : group->points) {
                    x.append(point->meanVoltageFor(channel));
                    y.append(meanCurrent(*point, channel));
                }
            }
            // Simple mode spreads the points evenly between the first and the last energy.
            if (simple && x.size() > 1) {
                const double first = x.first();
                const double step = (x.last() - first) / (x.size() - 1);
                for (int i = 0; i < x.size(); ++i) {
                    x[i] = first + i * step;
                }
            }
            QwtPlotCurve* curve = curveAt(k);
            curve->setTitle(angleTitle(k));
            curve->setSamples(x, y);
            curve->attach(this);
        }
        for (int i = groups; i < curveList.size(); ++i) {
            curveList[i]->detach();
        }
    }
    dataSet->unlock();
    // A curve's box in the legend is ticked while the curve is shown.
    for (QwtPlotCurve* curve : curveList) {
        if (auto* label = qobject_cast<QwtLegendLabel*>(legend->legendWidget(itemToInfo(curve)))) {
            label->setChecked(curve->isVisible());
        }
    }
    replot();
}

void kalderPlot::toggleSimpleMode() {
    simple = !simple;
    updateDisplay();
}

void kalderPlot::legendChecked(const QVariant& itemInfo, bool on, int) {
    if (QwtPlotItem* item = infoToItem(itemInfo)) {
        item->setVisible(on);
        replot();
    }
}

void kalderPlot::CheckZoom(const QRectF&) {
    if (zoomer->zoomRectIndex() == 0) {
        for (int axis = 0; axis < QwtPlot::axisCnt; ++axis) {
            setAxisAutoScale(axis, true);
        }
        replot();
        zoomer->setZoomBase(true);
    }
}

void kalderPlot::renderToFile() {
    const QString path = plotRender::chooseFile(this, screenshotPath, QStringLiteral("kalderplot"));
    if (!path.isEmpty() && !renderToFile(path)) {
        plotRender::reportFailure(this, path);
    }
}

bool kalderPlot::renderToFile(const QString& path) {
    return plotRender::render(this, path, QSizeF(720.0, 480.0));
}
