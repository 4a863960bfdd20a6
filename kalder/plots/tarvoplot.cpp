#include "plots/tarvoplot.h"

#include <qwt_legend_data.h>
#include <qwt_plot_canvas.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_grid.h>
#include <qwt_plot_legenditem.h>
#include <qwt_plot_marker.h>
#include <qwt_plot_zoomer.h>
#include <qwt_scale_widget.h>
#include <qwt_symbol.h>
#include <qwt_text.h>

#include <QDebug>
#include <QLabel>
#include <QMouseEvent>
#include <QShortcut>
#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>

#include "data/iedfanalysis.h"
#include "data/tarvodataset.h"
#include "plots/curvepalette.h"
#include "plots/engineeringscale.h"
#include "plots/plotrender.h"

namespace {

const QString SETTINGS_GROUP = QStringLiteral("tarvoplot");
const QString ENERGY_TITLE = QStringLiteral("Ion Energy [eV]");
constexpr int INDEX_POINTS = 1500;

void setMousePatterns(QwtPlotZoomer* z) {
    // Right button: back to the base; Control + right button: one step out.
    z->setMousePattern(QwtEventPattern::MouseSelect2, Qt::RightButton);
    z->setMousePattern(QwtEventPattern::MouseSelect3, Qt::RightButton, Qt::ControlModifier);
}

}  // namespace

tarvoPlot::tarvoPlot(QWidget* parent)
    : QwtPlot(parent), ivPen(QColor(164, 0, 26)), dIdEPen(QColor(69, 85, 115)) {
    grid = new QwtPlotGrid;
    grid->enableXMin(true);
    grid->enableYMin(true);
    grid->setMajorPen(QColor(150, 150, 150), 0, Qt::DotLine);
    grid->setMinorPen(QColor(230, 230, 230), 0, Qt::SolidLine);
    grid->attach(this);

    setStyleSheet(QStringLiteral("background-color:white;"));
    setCanvasBackground(Qt::white);
    enableAxis(QwtPlot::yRight);
    setContentsMargins(10, 10, 10, 10);

    legend = new QwtPlotLegendItem;
    legend->setBackgroundBrush(QColor(128, 128, 128, 200));
    legend->setBorderPen(QPen(Qt::black));
    legend->setBorderRadius(8);
    legend->setMargin(4);
    legend->setSpacing(2);
    legend->setItemMargin(0);
    legend->setMaxColumns(1);
    legend->setRenderHint(QwtPlotItem::RenderAntialiased);
    legend->setAlignment(Qt::AlignRight | Qt::AlignTop);
    legend->attach(this);

    zoomer = new QwtPlotZoomer(QwtPlot::xBottom, QwtPlot::yLeft, canvas());
    zoomer->setRubberBandPen(QPen(Qt::darkGreen));
    zoomer->setTrackerMode(QwtPicker::AlwaysOn);
    zoomer->setEnabled(true);
    setMousePatterns(zoomer);
    secondZoomer = new QwtPlotZoomer(QwtPlot::xTop, QwtPlot::yRight, canvas());
    secondZoomer->setTrackerMode(QwtPicker::AlwaysOff);
    secondZoomer->setRubberBand(QwtPicker::NoRubberBand);
    setMousePatterns(secondZoomer);
    connect(zoomer, &QwtPlotZoomer::zoomed, this, &tarvoPlot::CheckZoom);
    connect(secondZoomer, &QwtPlotZoomer::zoomed, this, &tarvoPlot::CheckZoomSecond);

    axisWidget(QwtPlot::yLeft)->setStyleSheet(QStringLiteral("color : rgb(164, 0, 26);"));
    axisWidget(QwtPlot::yRight)->setStyleSheet(QStringLiteral("color : rgb(0,0,0);"));
    setAxisTitle(QwtPlot::yLeft, QStringLiteral("Ion Current [A]"));
    setAxisTitle(QwtPlot::yRight, QStringLiteral("dI/dE"));
    setAxisTitle(QwtPlot::xBottom, ENERGY_TITLE);
    // Currents of nanoamperes read as 200n, not 2e-07.
    engineeringScaleDraw::apply(this, QwtPlot::yLeft);
    engineeringScaleDraw::apply(this, QwtPlot::yRight);

    new QShortcut(QKeySequence(QStringLiteral("Ctrl+F6")), this, SLOT(toggleSimpleMode()), nullptr,
                  Qt::ApplicationShortcut);
    new QShortcut(QKeySequence(QStringLiteral("Ctrl+F7")), this, SLOT(toggleCheatingMode()),
                  nullptr, Qt::ApplicationShortcut);

    setAxisAutoScale(QwtPlot::yLeft);
    setAxisAutoScale(QwtPlot::yRight);
    setAxisAutoScale(QwtPlot::xBottom);

    indexVector.resize(INDEX_POINTS);
    for (int i = 0; i < INDEX_POINTS; ++i) {
        indexVector[i] = i;
    }
    screenshot = plotRender::screenshotPath(SETTINGS_GROUP);

    // The read-out of the values under the mouse, in the canvas' top left corner.
    readOut = new QLabel(canvas());
    readOut->setObjectName(QStringLiteral("readOut"));
    readOut->setStyleSheet(QStringLiteral(
        "background-color: rgba(255, 255, 255, 210); border: 1px solid grey; padding: 2px;"));
    readOut->move(6, 6);
    readOut->hide();
    canvas()->setMouseTracking(true);
    canvas()->installEventFilter(this);
}

tarvoPlot::~tarvoPlot() {
    clearPeakMarkers();
    // The curves (attached or not) belong to the pool; the plot deletes only attached items.
    for (QwtPlotCurve* curve : curves) {
        curve->detach();
        delete curve;
    }
    // A hidden legend is detached, so the plot would not delete it.
    if (!legend->plot()) {
        delete legend;
    }
}

void tarvoPlot::setDataSet(tarvoDataSet* dataSet) {
    data = dataSet;
    selected.clear();
    currentScan = -1;
    updateDisplay();
}

QList<QwtPlotCurve*> tarvoPlot::shownCurves() const {
    QList<QwtPlotCurve*> shown;
    for (QwtPlotCurve* curve : curves) {
        if (curve->plot() == this) {
            shown << curve;
        }
    }
    return shown;
}

void tarvoPlot::setCurrentChannel(QList<int> channels) {
    if (channels != selected) {
        selected = channels;
    }
    updateDisplay();
}

void tarvoPlot::setCurrentMode(int mode) {
    displayMode = mode;
    updateDisplay();
}

void tarvoPlot::setCurrentScan(int scan) {
    currentScan = scan;
    updateDisplay();
}

void tarvoPlot::toggleGlobalScale(bool on) {
    useGlobalScale = on;
    setAxisAutoScale(QwtPlot::yLeft, !on);
    setAxisAutoScale(QwtPlot::yRight, !on);
    updateDisplay();
}

void tarvoPlot::toggleIEDF(bool on) {
    showIEDF = on;
    updateDisplay();
}

void tarvoPlot::toggleIV(bool on) {
    showIV = on;
    updateDisplay();
}

void tarvoPlot::showPreScan(bool on) {
    prescanView = on;
    updateDisplay();
}

void tarvoPlot::togglePeakMarkers(bool on) {
    showPeaks = on;
    updateDisplay();
}

void tarvoPlot::clearPeakMarkers() {
    qDeleteAll(peakMarkers);  // a deleted item leaves its plot
    peakMarkers.clear();
}

void tarvoPlot::markPeaks(const double* x, const double* dIdE, int n, int channel) {
    const QColor colour = curvePalette::channelColor(channel, true);
    for (const iedfPeak& peak : findIedfPeaks(x, dIdE, n).peaks) {
        auto* marker = new QwtPlotMarker(QStringLiteral("Peak Ch%1").arg(channel + 1));
        marker->setAxes(QwtPlot::xBottom, QwtPlot::yRight);
        marker->setValue(peak.energy, peak.height);
        marker->setSymbol(
            new QwtSymbol(QwtSymbol::Diamond, QBrush(colour), QPen(Qt::black), QSize(9, 9)));
        QwtText label(QStringLiteral("%1 eV").arg(peak.energy, 0, 'f', 1));
        label.setColor(colour);
        marker->setLabel(label);
        marker->setLabelAlignment(Qt::AlignTop | Qt::AlignHCenter);
        marker->setSpacing(6);
        marker->setZ(30);
        marker->attach(this);
        peakMarkers << marker;
    }
}

namespace {

// The index of the sample whose x lies nearest to x; -1 for none.
int nearestSample(const QVector<QPointF>& samples, double x) {
    int best = -1;
    double distance = HUGE_VAL;
    for (int i = 0; i < samples.size(); ++i) {
        const double d = std::fabs(samples[i].x() - x);
        if (d < distance) {
            distance = d;
            best = i;
        }
    }
    return best;
}

}  // namespace

QString tarvoPlot::readOutAt(double x) const {
    const int i = nearestSample(readOutIV, x);
    if (i < 0) {
        return QString();
    }
    const double energy = readOutIV[i].x();
    QString text = QStringLiteral("Ch%1  E %2 eV  I %3 A")
                       .arg(readOutChannel + 1)
                       .arg(energy, 0, 'f', 2)
                       .arg(readOutIV[i].y(), 0, 'g', 4);
    // dI/dE starts a few points later: the value at the same energy, when there is one.
    const int j = nearestSample(readOutDIdE, energy);
    if (j >= 0 && readOutDIdE[j].x() == energy) {
        text += QStringLiteral("  dI/dE %1 A/eV").arg(readOutDIdE[j].y(), 0, 'g', 4);
    }
    return text;
}

QString tarvoPlot::readOutText() const {
    return readOut->isVisible() ? readOut->text() : QString();
}

bool tarvoPlot::eventFilter(QObject* watched, QEvent* event) {
    if (watched == canvas()) {
        if (event->type() == QEvent::MouseMove) {
            const double x =
                invTransform(QwtPlot::xBottom, static_cast<QMouseEvent*>(event)->pos().x());
            const QString text = readOutAt(x);
            readOut->setText(text);
            readOut->adjustSize();
            readOut->setVisible(!text.isEmpty());
        } else if (event->type() == QEvent::Leave) {
            readOut->hide();
        }
    }
    return QwtPlot::eventFilter(watched, event);
}

void tarvoPlot::switchLegend() {
    legendShown = !legendShown;
    if (legendShown) {
        legend->attach(this);
    } else {
        legend->detach();
    }
    updateDisplay();
}

void tarvoPlot::toggleSimpleMode() {
    toggleAxisMode(EvenEnergy);
}

void tarvoPlot::toggleCheatingMode() {
    toggleAxisMode(SampleIndex);
}

void tarvoPlot::toggleAxisMode(int alternative) {
    // From measured energies to the alternative axis, and from any other back to measured.
    if (axisMode == MeasuredEnergy) {
        axisMode = alternative;
        resampled = true;
    } else {
        axisMode = MeasuredEnergy;
        resampled = false;
    }
    setAxisTitle(QwtPlot::xBottom,
                 axisMode == SampleIndex ? QStringLiteral("Sample Index") : ENERGY_TITLE);
    updateDisplay();
}

void tarvoPlot::CheckZoom(QRectF) {
    if (zoomer->zoomRectIndex() != 0) {
        return;
    }
    // Back at the base: the axes follow the data again (the current axes keep the common
    // range while it is in use), and what they show becomes the zoomers' base.
    for (int axis = 0; axis < QwtPlot::axisCnt; ++axis) {
        setAxisAutoScale(axis,
                         !useGlobalScale || (axis != QwtPlot::yLeft && axis != QwtPlot::yRight));
    }
    if (useGlobalScale && data) {
        std::lock_guard<std::mutex> lock(data->mutex);
        applyGlobalScales();
    }
    replot();
    followDataWhenUnzoomed();
}

void tarvoPlot::followDataWhenUnzoomed() {
    // Unzoomed, the base is what the data fills; a zoom the user made stays as it is.
    if (zoomer->zoomRectIndex() == 0) {
        zoomer->setZoomBase(false);
        secondZoomer->setZoomBase(false);
    }
}

void tarvoPlot::CheckZoomSecond(QRectF) {}

tarvoScan* tarvoPlot::shownScan() const {
    if (currentScan >= 0 && currentScan < data->sweepScans.size()) {
        return data->sweepScans.at(currentScan);
    }
    return data->currentScan();
}

QwtPlotCurve* tarvoPlot::nextCurve() {
    if (used == curves.size()) {
        auto* curve = new QwtPlotCurve;
        curve->setRenderHint(QwtPlotItem::RenderAntialiased);
        curves << curve;
    }
    return curves.at(used++);
}

void tarvoPlot::detachUnused() {
    for (int i = used; i < curves.size(); ++i) {
        curves.at(i)->detach();
    }
}

void tarvoPlot::applyGlobalScales() {
    // The current and the dI/dE ranges over the current rows of every sweep, inside the crop.
    constexpr double INF = std::numeric_limits<double>::infinity();
    double ivMin = INF;
    double ivMax = -INF;
    double dMin = INF;
    double dMax = -INF;
    std::vector<double> derivative;
    for (const tarvoScan* scan : qAsConst(data->sweepScans)) {
        for (const ivTrace* trace : qAsConst(*scan->traces)) {
            if (!trace->allocated || trace->currentRows() == 0) {
                continue;
            }
            const auto currents = trace->currentRange(true);
            ivMin = std::min(ivMin, currents.first);
            ivMax = std::max(ivMax, currents.second);
            const int m = trace->derivativeLength();
            if (m <= 0) {
                continue;
            }
            // Made for the walk only: the sweeps do not keep their dI/dE unless drawn.
            trace->computeDerivatives(derivative);
            for (int row = 0; row < trace->currentRows(); ++row) {
                // Rows after the first keep the NaN ends of the derivative: skipped.
                const double* d = derivative.data() + static_cast<long>(row) * trace->nPoints +
                                  trace->cropStart + 3;
                for (int i = 0; i < m; ++i) {
                    if (std::isfinite(d[i])) {
                        dMin = std::min(dMin, d[i]);
                        dMax = std::max(dMax, d[i]);
                    }
                }
            }
        }
    }
    if (ivMin <= ivMax) {
        setAxisScale(QwtPlot::yLeft, ivMin, ivMax, 100);
    }
    if (dMin <= dMax) {
        setAxisScale(QwtPlot::yRight, dMin, dMax, 100);
    }
}

void tarvoPlot::addPair(const ivTrace& trace, int channel, const double* energy, bool listed) {
    const int n = trace.croppedLength();
    const int m = trace.derivativeLength();
    if (!trace.allocated || n <= 0 || channel < 0 || channel >= int(trace.nRows)) {
        return;
    }
    const double* x = energy ? energy : trace.energyView();
    if (resampled) {
        // n + 1 values: evenly spaced energies, or the sample index.
        resampledX.resize(n + 1);
        const double first = x[0];
        const double last = x[n - 1];
        for (int i = 0; i <= n; ++i) {
            resampledX[i] = axisMode == EvenEnergy ? first + i * (last - first) / n
                                                   : (i < INDEX_POINTS ? indexVector[i] : i);
        }
        x = resampledX.constData();
    }

    ivPen.setColor(curvePalette::channelColor(channel));
    dIdEPen.setColor(curvePalette::channelColor(channel, true));
    const QString number = QString::number(channel + 1);

    QwtPlotCurve* iv = nextCurve();
    iv->setAxes(QwtPlot::xBottom, QwtPlot::yLeft);
    iv->setPen(ivPen);
    iv->setSamples(x, trace.currentView(channel), n);
    iv->setTitle(listed ? QStringLiteral("IV Ch") + number : QString());
    iv->setItemAttribute(QwtPlotItem::Legend, listed);

    QwtPlotCurve* dide = nextCurve();
    dide->setAxes(QwtPlot::xBottom, QwtPlot::yRight);
    dide->setPen(dIdEPen);
    // dI/dE exists from the fourth cropped point on, over derivativeLength() points.
    if (m > 0) {
        dide->setSamples(x + 3, trace.dIdEView(channel), m);
    } else {
        dide->setSamples(QVector<QPointF>());
    }
    dide->setTitle(listed ? QStringLiteral("dI/dE Ch") + number : QString());
    dide->setItemAttribute(QwtPlotItem::Legend, listed);

    if (listed && m > 0 && showIEDF && showPeaks) {
        markPeaks(x + 3, trace.dIdEView(channel), m, channel);
    }
    if (listed && !selected.isEmpty() && channel == selected.first() && readOutChannel < 0) {
        readOutChannel = channel;
        readOutIV.resize(n);
        for (int i = 0; i < n; ++i) {
            readOutIV[i] = iv->sample(size_t(i));
        }
        readOutDIdE.resize(std::max(0, m));
        for (int i = 0; i < m; ++i) {
            readOutDIdE[i] = dide->sample(size_t(i));
        }
    }

    for (auto [curve, show] : {std::pair{iv, showIV}, std::pair{dide, showIEDF}}) {
        if (show) {
            curve->attach(this);
            ++attachedCurves;
        } else {
            curve->detach();
        }
    }
}

void tarvoPlot::updateDisplay() {
    if (!data || !data->hasData) {
        return;
    }
    if (data->hasArScans() || data->isTemperature()) {
        // Another view shows this kind: nothing drawn for an earlier data set stays here.
        used = 0;
        attachedCurves = 0;
        detachUnused();
        updateLegend();
        replot();
        return;
    }
    attachedCurves = 0;
    clearPeakMarkers();
    readOutChannel = -1;
    readOutIV.clear();
    readOutDIdE.clear();
    if (prescanView) {
        showPrescanTraces();
        return;
    }
    {
        std::lock_guard<std::mutex> lock(data->mutex);
        if (useGlobalScale) {
            applyGlobalScales();
        }
        used = 0;
        if (tarvoScan* scan = shownScan()) {
            for (const int channel : qAsConst(selected)) {
                if (displayMode == AverageTrace) {
                    const ivTrace* average = scan->average;
                    if (!average || !average->allocated || average->nPoints == 0) {
                        qDebug() << Q_FUNC_INFO << "No Avg trace";
                        used = 0;
                        break;
                    }
                    // The average's energy axis, shifted by the channel's prescan offset once
                    // the prescan has been analysed.
                    const double* energy = nullptr;
                    if (scan->prescanAnalysed()) {
                        const int n = std::max(0, average->croppedLength());
                        const double* e = average->energyView();
                        const double offset = scan->prescanOffset(channel);
                        shiftedX.resize(n);
                        for (int i = 0; i < n; ++i) {
                            shiftedX[i] = e[i] - offset;
                        }
                        energy = shiftedX.constData();
                    }
                    addPair(*average, channel, energy, true);
                } else if (displayMode == AllTraces) {
                    bool first = true;
                    for (const ivTrace* trace : qAsConst(*scan->traces)) {
                        addPair(*trace, channel, nullptr, first);
                        first = false;
                    }
                } else if (!scan->traces->isEmpty()) {
                    addPair(*scan->traces->last(), channel, nullptr, true);
                }
            }
        }
        // Curves not refilled in this redraw leave the plot (and the legend).
        detachUnused();
    }
    updateLegend();
    replot();
    followDataWhenUnzoomed();
}

void tarvoPlot::showPrescanTraces() {
    {
        std::lock_guard<std::mutex> lock(data->mutex);
        used = 0;
        const tarvoScan* scan = shownScan();
        const int count = scan ? int(scan->prescanChannelCount) : 0;
        // The last four rows of the prescan are voltages, not traces.
        for (int c = 0; c + 4 < count; ++c) {
            QwtPlotCurve* curve = nextCurve();
            curve->setAxes(QwtPlot::xBottom, QwtPlot::yLeft);
            curve->setPen(QPen(curvePalette::channelColor(c)));
            curve->setTitle(QStringLiteral("Prescan Ch%1").arg(c + 1));
            curve->setItemAttribute(QwtPlotItem::Legend, true);
            const QVector<double>& y = scan->prescanCurrents[c];
            curve->setSamples(scan->prescanVoltages.constData(), y.constData(),
                              std::min(scan->prescanVoltages.size(), y.size()));
            curve->attach(this);
            ++attachedCurves;
        }
        detachUnused();
    }
    updateLegend();
    replot();
    followDataWhenUnzoomed();
}

bool tarvoPlot::renderTo(const QString& fileName) {
    return plotRender::render(this, fileName, QSizeF(320, 200));
}

void tarvoPlot::renderToFile() {
    const QString name = plotRender::chooseFile(this, screenshot, SETTINGS_GROUP);
    if (!name.isEmpty() && !renderTo(name)) {
        plotRender::reportFailure(this, name);
    }
}
