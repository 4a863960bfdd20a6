#include "plots/multisensorspectrogramdisplay.h"

#include <qwt_color_map.h>
#include <qwt_plot_canvas.h>
#include <qwt_plot_marker.h>
#include <qwt_plot_rescaler.h>
#include <qwt_plot_shapeitem.h>
#include <qwt_plot_spectrogram.h>
#include <qwt_scale_widget.h>
#include <qwt_symbol.h>
#include <qwt_text.h>

#include <QDebug>
#include <QMouseEvent>
#include <QPainterPath>
#include <QTransform>
#include <algorithm>
#include <cmath>
#include <limits>

#include "data/iedfanalysis.h"
#include "data/tarvodataset.h"
#include "plots/plotrender.h"
#include "plots/sensorlayout.h"
#include "plots/spectrogramdata.h"

namespace {

// A click selects the sensor whose marker lies this close (disc units).
constexpr double PICK_DISTANCE = 0.2;

QwtPlotMarker* makeBoxMarker(const QPointF& at, const QString& label, QwtPlot* plot) {
    auto* marker = new QwtPlotMarker();
    marker->setSymbol(new QwtSymbol(QwtSymbol::Rect, QBrush(Qt::lightGray), QPen(Qt::darkGray),
                                    QSize(int(sensorNode::SYMBOL_SIZE), 15)));
    marker->setValue(at);
    marker->setLabel(QwtText(label));
    marker->setLabelAlignment(Qt::AlignCenter);
    marker->setRenderHint(QwtPlotItem::RenderAntialiased, true);
    marker->attach(plot);
    return marker;
}

double finiteOrZero(double v) {
    return std::isfinite(v) ? v : 0.0;
}

}  // namespace

// --- sensorNode ---------------------------------------------------------------------------

sensorNode::sensorNode(int ch, const QPointF& position, tarvoDataSet* ds, QwtPlot* plot)
    : channel(ch), dataSet(ds), pos(position) {
    sensorMarker = new QwtPlotMarker();
    sensorMarker->setSymbol(new QwtSymbol(QwtSymbol::Ellipse, QBrush(Qt::lightGray),
                                          QPen(Qt::darkGray),
                                          QSize(int(SYMBOL_SIZE), int(SYMBOL_SIZE))));
    sensorMarker->setValue(position);
    sensorMarker->setZ(-1.0);
    sensorMarker->setLabel(QwtText(sensorLabel()));
    sensorMarker->setLabelAlignment(Qt::AlignBottom | Qt::AlignHCenter);
    sensorMarker->setSpacing(int(SYMBOL_SIZE / 4));
    sensorMarker->setRenderHint(QwtPlotItem::RenderAntialiased, true);
    sensorMarker->attach(plot);
    energyMarker = makeBoxMarker(position + QPointF(0, LABEL_OFFSET), QStringLiteral("E:12"), plot);
    fluxMarker = makeBoxMarker(position - QPointF(0, LABEL_OFFSET), QStringLiteral("F:12"), plot);
}

sensorNode::~sensorNode() {
    delete sensorMarker;
    delete energyMarker;
    delete fluxMarker;
}

QString sensorNode::sensorLabel() const {
    return QStringLiteral("Snsr%1").arg(channel + 1);
}

QString sensorNode::energyLabel() const {
    return energyMarker->label().text();
}

QString sensorNode::fluxLabel() const {
    return fluxMarker->label().text();
}

double sensorNode::value(int dataType) const {
    switch (dataType) {
        case MultiSensorSpectrogramDisplay::IonFlux:
            return flux;
        case MultiSensorSpectrogramDisplay::Temperature:
            return temperature;
        default:
            return energy;
    }
}

void sensorNode::refresh(int) {
    // A layout can have more sensors than the data set has channels; those read nothing.
    const bool hasChannel = dataSet && channel < dataSet->nChannels;
    if (dataSet && dataSet->isTemperature()) {
        temperature = hasChannel ? dataSet->temperatureAverage(channel) : 0.0;
        fluxMarker->setLabel(QwtText(active ? QStringLiteral("T:%1").arg(temperature, 0, 'g', 3)
                                            : QStringLiteral("OFF")));
        return;
    }
    const bool ar = dataSet && dataSet->dataKind == 2;
    if (hasChannel) {
        flux = ar ? dataSet->arIonFlux(channel, arIndex) : dataSet->ionFlux(channel);
        const double e =
            ar ? dataSet->arAverageEnergy(channel, arIndex) : dataSet->averageEnergy(channel);
        energy = std::isfinite(e) ? std::trunc(e) : e;
        exactEnergy = e;
    } else {
        flux = 0.0;
        energy = 0.0;
        exactEnergy = 0.0;
    }
    energyMarker->setLabel(QwtText(QStringLiteral("E:%1").arg(energy, 0, 'f', ar ? 1 : 2)));
    fluxMarker->setLabel(QwtText(QStringLiteral("F:%1").arg(flux, 0, 'g', 2)));
}

void sensorNode::setInfoHidden(bool hidden, bool temperatureData) {
    sensorMarker->setVisible(!hidden);
    fluxMarker->setVisible(!hidden);
    // Temperature records have no energy: that box stays hidden.
    energyMarker->setVisible(!hidden && !temperatureData);
}

// --- MultiSensorSpectrogramDisplay --------------------------------------------------------

MultiSensorSpectrogramDisplay::MultiSensorSpectrogramDisplay(QWidget* parent) : QwtPlot(parent) {
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    setCanvasBackground(Qt::white);
    setAutoReplot(false);

    spectrogram = new QwtPlotSpectrogram();
    spectrogram->setRenderThreadCount(4);
    QwtLinearColorMap* map = makeColorMap();
    spectrogram->setColorMap(map);
    spectrogram->setAlpha(150);
    data = new SpectrogramData();
    spectrogram->setData(data);
    spectrogram->setDefaultContourPen(QPen(Qt::black));
    spectrogram->attach(this);

    // The disc's rim: a grey ring around a faint fill.
    disc = new QwtPlotShapeItem(QStringLiteral("bg"));
    QPainterPath rim;
    rim.addEllipse(QPointF(0, 0), 1.35, 1.35);
    disc->setShape(rim);
    disc->setPen(QPen(QColor(90, 90, 90), 2));
    disc->setBrush(QColor(235, 235, 235));
    disc->setZ(-1.1);
    disc->setRenderHint(QwtPlotItem::RenderAntialiased, true);
    disc->attach(this);

    cable = new QwtPlotShapeItem(QStringLiteral("cable"));
    cable->setPen(QPen(Qt::black));
    cable->setZ(-1.3);
    cable->attach(this);
    cableMarker = new QwtPlotMarker(QStringLiteral("cable"));
    cableMarker->setLabel(QwtText(QStringLiteral("Cable")));
    cableMarker->attach(this);

    for (int axis : {QwtPlot::xBottom, QwtPlot::yLeft}) {
        setAxisScale(axis, -1.5, 1.5);
        enableAxis(axis, false);
    }
    enableAxis(QwtPlot::yRight, true);
    QwtScaleWidget* bar = axisWidget(QwtPlot::yRight);
    bar->setColorBarEnabled(true);
    bar->setColorMap(data->interval(Qt::ZAxis), makeColorMap());
    setAxisScale(QwtPlot::yRight, 0.0, 20.0);
    setAxisTitle(QwtPlot::yRight, colourBarTitle());

    // The disc stays round whatever room the colour bar takes.
    rescaler = new QwtPlotRescaler(canvas(), QwtPlot::xBottom, QwtPlotRescaler::Fitting);
    rescaler->setIntervalHint(QwtPlot::xBottom, QwtInterval(-1.5, 1.5));
    rescaler->setIntervalHint(QwtPlot::yLeft, QwtInterval(-1.5, 1.5));
    rescaler->setAspectRatio(QwtPlot::yRight, 0.0);
    rescaler->setAspectRatio(QwtPlot::xTop, 0.0);
    rescaler->setEnabled(true);

    canvas()->installEventFilter(this);
    screenshotPath = plotRender::screenshotPath(QStringLiteral("contour"));
}

MultiSensorSpectrogramDisplay::~MultiSensorSpectrogramDisplay() {
    clearNodes();
}

QwtLinearColorMap* MultiSensorSpectrogramDisplay::makeColorMap() {
    auto* map = new QwtLinearColorMap(Qt::white, Qt::red);
    map->addColorStop(0.2, Qt::blue);
    map->addColorStop(0.5, QColor(0, 160, 0));
    map->addColorStop(0.8, QColor(220, 220, 0));
    return map;
}

void MultiSensorSpectrogramDisplay::clearNodes() {
    qDeleteAll(sensorNodes);
    sensorNodes.clear();
}

void MultiSensorSpectrogramDisplay::resetDataSource(tarvoDataSet* ds) {
    clearNodes();
    dataSet = ds;
    const int nChannels = ds ? ds->nChannels : 0;
    layout = chooseSensorLayout(ds ? ds->sensorCode : -1, nChannels);
    const sensorLayout& record = sensorLayouts()[layout];
    // Sensors switched off for the measurement take no part in the map.
    const QVector<bool> enabled = ds ? ds->enabledSensors() : QVector<bool>();
    for (int i = 0; i < record.count; ++i) {
        auto* node = new sensorNode(i, record.positions[i], ds, this);
        node->arIndex = arIndex;
        node->active = i < enabled.size() ? enabled[i] : true;
        sensorNodes.append(node);
    }
    QPainterPath square;
    square.addRect(QRectF(-0.05, -0.05, 0.1, 0.1));
    QTransform place;
    place.translate(record.cable.x(), record.cable.y());
    place.rotateRadians(record.cableRotation);
    cable->setShape(place.map(square));
    cableMarker->setValue(record.cableLabel);

    if (ds && ds->isTemperature()) {
        type = Temperature;
    } else if (type == Temperature) {
        type = Energy;
    }
    toggleSensorInfo(infoHidden);
    pushSensorsToMap();
    if (ds) {
        updateData();
    }
    replot();
    emit valuesUpdated();
}

void MultiSensorSpectrogramDisplay::setDataType(int t) {
    type = std::clamp(t, int(IonFlux), int(Temperature));
    updateData();
}

void MultiSensorSpectrogramDisplay::toggleSensorInfo(bool hide) {
    infoHidden = hide;
    const bool temperatureData = dataSet && dataSet->isTemperature();
    for (sensorNode* node : sensorNodes) {
        node->setInfoHidden(hide, temperatureData);
    }
    replot();
}

void MultiSensorSpectrogramDisplay::toggleInterpolation(bool on) {
    interpolate = on;
    data->setInterpolation(on);
    spectrogram->invalidateCache();
    replot();
}

void MultiSensorSpectrogramDisplay::toggleContour(bool on) {
    contourLines = on;
    spectrogram->setDefaultContourPen(QPen(Qt::black));
    spectrogram->setDisplayMode(QwtPlotSpectrogram::ContourMode, on);
    replot();
}

void MultiSensorSpectrogramDisplay::toggleTempAbsScale(bool on) {
    absTempScale = on;
    updateData();
}

void MultiSensorSpectrogramDisplay::selectAR(int index) {
    if (index < 0) {
        return;
    }
    arIndex = index;
    for (sensorNode* node : sensorNodes) {
        node->arIndex = index;
    }
    updateData();
}

void MultiSensorSpectrogramDisplay::setFixedScale(bool use, double max, double min) {
    fixedScale = use;
    fixedMax = max;
    fixedMin = min;
    updateData();
}

void MultiSensorSpectrogramDisplay::pushSensorsToMap() {
    QVector<SpectrogramData::sensor> list;
    for (const sensorNode* node : sensorNodes) {
        list.append({node->position(), finiteOrZero(node->value(type)), node->active});
    }
    data->setSensors(list);
    spectrogram->invalidateCache();
}

void MultiSensorSpectrogramDisplay::updateData() {
    if (!dataSet || !dataSet->hasData || (dataSet->dataKind == 2 && !dataSet->hasArScans())) {
        return;
    }
    double lo = std::numeric_limits<double>::infinity();
    double hi = -lo;
    dataSet->lock();
    for (sensorNode* node : sensorNodes) {
        node->refresh(type);
        if (node->active) {
            const double v = finiteOrZero(node->value(type));
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    }
    dataSet->unlock();
    if (lo > hi) {  // no sensor active
        lo = hi = 0.0;
    }
    if (fixedScale) {
        lo = fixedMin;
        hi = fixedMax;
    } else if (absTempScale && type == Temperature) {
        // On the absolute scale the colours start at 0 °C, so recordings compare.
        lo = std::min(0.0, hi);
    }
    double lower = lo - 0.2 * std::fabs(hi - lo);
    if (!(hi > lower)) {
        // All sensors alike: a unit of room below keeps the colour bar readable.
        lower = hi - 1.0;
    }
    const QwtInterval z(lower, hi);
    data->setInterval(Qt::ZAxis, z);
    QList<double> levels;
    for (int i = 0; i < 10; ++i) {
        levels.append(lo + i * (hi - lo) / 10.0);
    }
    spectrogram->setContourLevels(levels);
    pushSensorsToMap();
    axisWidget(QwtPlot::yRight)->setColorMap(z, makeColorMap());
    setAxisScale(QwtPlot::yRight, z.minValue(), z.maxValue());
    setAxisTitle(QwtPlot::yRight, colourBarTitle());
    replot();
    emit valuesUpdated();
}

discUniformity MultiSensorSpectrogramDisplay::statistics() const {
    discUniformity d;
    if (!dataSet || !dataSet->hasData || dataSet->isTemperature()) {
        return d;
    }
    QVector<double> energy, flux;
    QVector<bool> active;
    for (const sensorNode* node : sensorNodes) {
        if (node->channel < dataSet->nChannels) {
            energy << node->exactEnergy;
            flux << node->flux;
            active << node->active;
        }
    }
    d.energy = uniformityOf(energy, active);
    d.flux = uniformityOf(flux, active);
    return d;
}

QwtInterval MultiSensorSpectrogramDisplay::zInterval() const {
    return data->interval(Qt::ZAxis);
}

QList<double> MultiSensorSpectrogramDisplay::contourLevels() const {
    return spectrogram->contourLevels();
}

QString MultiSensorSpectrogramDisplay::colourBarTitle() const {
    switch (type) {
        case IonFlux:
            return QStringLiteral("Ion Flux, A/m2");
        case Temperature:
            return QString::fromUtf8("Temperature \u00b0C");
        default:
            return QStringLiteral("Energy, eV");
    }
}

int MultiSensorSpectrogramDisplay::sensorAt(const QPointF& p) const {
    int best = -1;
    double bestDistance = PICK_DISTANCE;
    for (int i = 0; i < sensorNodes.size(); ++i) {
        const QPointF d = sensorNodes[i]->position() - p;
        const double distance = std::hypot(d.x(), d.y());
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return best;
}

void MultiSensorSpectrogramDisplay::toggleSensor(int index) {
    if (index < 0 || index >= sensorNodes.size()) {
        return;
    }
    sensorNode* node = sensorNodes[index];
    node->active = !node->active;
    pushSensorsToMap();
    updateData();
    replot();
    emit dataSensorSelected(index);
}

QPointF MultiSensorSpectrogramDisplay::toDisc(const QPoint& canvasPos) const {
    return QPointF(invTransform(QwtPlot::xBottom, canvasPos.x()),
                   invTransform(QwtPlot::yLeft, canvasPos.y()));
}

bool MultiSensorSpectrogramDisplay::eventFilter(QObject* watched, QEvent* event) {
    if (watched == canvas()) {
        if (event->type() == QEvent::MouseButtonDblClick) {
            const int index = sensorAt(toDisc(static_cast<QMouseEvent*>(event)->pos()));
            if (index >= 0) {
                emit dataSensorSelected(index);
                emit switchView();
            }
            return true;
        }
        if (event->type() == QEvent::MouseButtonRelease) {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::RightButton) {
                toggleSensor(sensorAt(toDisc(mouse->pos())));
                return true;
            }
        }
    }
    return QwtPlot::eventFilter(watched, event);
}

QSizeF MultiSensorSpectrogramDisplay::pageSize(double width, double height) {
    const double a = height > 0 ? width / height : 1.0;
    return a <= 1.5 ? QSizeF(250.0 * a / 1.5, 170.0) : QSizeF(250.0, 170.0 * 1.5 / a);
}

void MultiSensorSpectrogramDisplay::renderToFile() {
    const QString path = plotRender::chooseFile(this, screenshotPath, QStringLiteral("contour"));
    if (!path.isEmpty() && !renderToFile(path)) {
        plotRender::reportFailure(this, path);
    }
}

bool MultiSensorSpectrogramDisplay::renderToFile(const QString& path) {
    return plotRender::render(this, path, pageSize(width(), height()), true);
}
