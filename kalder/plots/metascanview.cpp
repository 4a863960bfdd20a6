#include "plots/metascanview.h"

#include <qwt_legend.h>
#include <qwt_picker_machine.h>
#include <qwt_plot_canvas.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_marker.h>
#include <qwt_plot_picker.h>
#include <qwt_plot_zoomer.h>
#include <qwt_symbol.h>

#include <cmath>

#include "data/tarvodataset.h"
#include "plots/curvepalette.h"

metaScanView::metaScanView(QWidget* parent) : QwtPlot(parent) {
    setAutoReplot(false);
    setCanvasBackground(Qt::white);

    pick = new QwtPlotPicker(QwtPlot::xBottom, QwtPlot::yLeft, QwtPicker::NoRubberBand,
                             QwtPicker::AlwaysOn, canvas());
    pick->setStateMachine(new QwtPickerDragPointMachine());
    connect(pick, qOverload<const QPointF&>(&QwtPlotPicker::selected), this,
            &metaScanView::pointSelected);
    connect(pick, qOverload<const QPointF&>(&QwtPlotPicker::moved), this,
            &metaScanView::pointSelected);

    // A click selects a scan; Shift and a drag zoom into a rectangle, the right button goes back
    // to the whole history, Control and the right button one zoom step out.
    zoomer = new QwtPlotZoomer(QwtPlot::xBottom, QwtPlot::yLeft, canvas());
    zoomer->setRubberBandPen(QPen(Qt::darkGreen));
    zoomer->setTrackerMode(QwtPicker::AlwaysOff);
    zoomer->setMousePattern(QwtEventPattern::MouseSelect1, Qt::LeftButton, Qt::ShiftModifier);
    zoomer->setMousePattern(QwtEventPattern::MouseSelect2, Qt::RightButton);
    zoomer->setMousePattern(QwtEventPattern::MouseSelect3, Qt::RightButton, Qt::ControlModifier);
    connect(zoomer, &QwtPlotZoomer::zoomed, this, &metaScanView::CheckZoom);
    canvas()->setToolTip(
        QStringLiteral("Click: select a scan. Shift+drag: zoom. Right click: whole history."));

    scanMarker = new QwtPlotMarker();
    scanMarker->setLineStyle(QwtPlotMarker::VLine);
    scanMarker->setLinePen(QPen(QColor(164, 0, 26), 1, Qt::DashLine));
    scanMarker->setVisible(false);
    scanMarker->attach(this);

    insertLegend(new QwtLegend(), QwtPlot::RightLegend);
    setTitles();
}

metaScanView::~metaScanView() {
    clearCurves();
}

void metaScanView::setDataSet(tarvoDataSet* ds) {
    dataSet = ds;
    lastSelected = false;
    scanMarker->setVisible(false);
    updateData();
}

void metaScanView::clearCurves() {
    qDeleteAll(curveList);
    curveList.clear();
}

void metaScanView::setTitles() {
    // No empty brackets while the time has no unit (no data yet).
    const QString unit = dataSet ? dataSet->timeUnit() : QString();
    QString bottom =
        unit.isEmpty() ? QStringLiteral("Time") : QStringLiteral("Time (%1)").arg(unit);
    QString left = selector == IonFlux ? QStringLiteral("Ion Flux (A/m2)")
                                       : QStringLiteral("Average Energy (eV)");
    if (dataSet && dataSet->dataKind == 2) {
        bottom = QStringLiteral("Voltage (v)");
    } else if (dataSet && dataSet->isTemperature()) {
        left = QString::fromUtf8("Temperature (\u00b0C)");
    }
    setAxisTitle(QwtPlot::xBottom, bottom);
    setAxisTitle(QwtPlot::yLeft, left);
}

bool metaScanView::holdsSeries() const {
    return dataSet && dataSet->hasData &&
           (dataSet->isTemperature() ? !dataSet->temperatureRecords.isEmpty()
                                     : dataSet->hasSweepScans());
}

QVector<double> metaScanView::scanTimes() const {
    QVector<double> times;
    if (dataSet && dataSet->isTemperature()) {
        for (const temperatureRecord* r : dataSet->temperatureRecords) {
            times.append(r->time);
        }
    } else if (dataSet && dataSet->dataKind != 2) {
        for (const tarvoScan* s : dataSet->sweepScans) {
            times.append(s->time);
        }
    }
    return times;
}

void metaScanView::updateData() {
    setTitles();
    if (!holdsSeries()) {
        // Data of a kind without a history: nothing of an earlier data set stays on screen.
        if (dataSet && dataSet->hasData && !curveList.isEmpty()) {
            clearCurves();
            scanMarker->setVisible(false);
            replot();
        }
        return;
    }
    clearCurves();
    dataSet->lock();
    const bool temperature = dataSet->isTemperature();
    for (int c : selectedChannels) {
        auto* curve = new QwtPlotCurve(QStringLiteral("Ch%1").arg(c + 1));
        const QColor colour = curvePalette::color(2 * c);
        curve->setPen(QPen(colour, 1.5));
        curve->setSymbol(
            new QwtSymbol(QwtSymbol::Ellipse, QBrush(colour), QPen(colour), QSize(5, 5)));
        curve->setRenderHint(QwtPlotItem::RenderAntialiased, true);
        QVector<double> x, y;
        if (temperature) {
            for (const temperatureRecord* r : dataSet->temperatureRecords) {
                for (const QVector<double>& row : r->rows) {
                    x.append(r->time);
                    y.append(c >= 0 && c < row.size() ? row[c] : 0.0);
                }
            }
        } else {
            for (const tarvoScan* s : dataSet->sweepScans) {
                double v = 0.0;
                if (s->average) {
                    v = selector == IonFlux ? s->average->ionFlux(c) : s->average->averageEnergy(c);
                }
                x.append(s->time);
                y.append(std::isfinite(v) ? v : 0.0);
            }
        }
        curve->setSamples(x, y);
        curveList.append(curve);
    }
    dataSet->unlock();
    for (QwtPlotCurve* curve : curveList) {
        curve->attach(this);
    }
    replot();
    if (zoomer->zoomRectIndex() == 0) {
        zoomer->setZoomBase(false);
    }
}

void metaScanView::selectChan(const QList<int>& channels) {
    if (channels != selectedChannels) {
        selectedChannels = channels;
        updateData();
    }
}

void metaScanView::selectValue(int value) {
    selector = value;
    updateData();
}

void metaScanView::pointSelected(const QPointF& point) {
    if (!dataSet) {
        return;
    }
    dataSet->lock();
    const QVector<double> times = scanTimes();
    dataSet->unlock();
    int found = -1;
    double nearest = SELECT_LIMIT;
    for (int i = 0; i < times.size(); ++i) {
        const double distance = std::fabs(times[i] - point.x());
        if (distance < nearest) {
            nearest = distance;
            found = i;
        }
    }
    // Nothing near the click: the selection stays as it was.
    if (found < 0) {
        return;
    }
    lastSelected = found == times.size() - 1;
    scanMarker->setXValue(times[found]);
    scanMarker->setVisible(true);
    emit scanSelected(found);
    replot();
}

void metaScanView::CheckZoom(const QRectF&) {
    // Back at the base: the axes follow the data again and that becomes the base.
    if (zoomer->zoomRectIndex() != 0) {
        return;
    }
    setAxisAutoScale(QwtPlot::xBottom, true);
    setAxisAutoScale(QwtPlot::yLeft, true);
    replot();
    zoomer->setZoomBase(false);
}

void metaScanView::switchLegend() {
    legendOn = !legendOn;
    insertLegend(legendOn ? new QwtLegend() : nullptr, QwtPlot::RightLegend);
    replot();
}
