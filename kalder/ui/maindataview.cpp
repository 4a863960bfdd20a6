#include "ui/maindataview.h"

#include <qwt_plot.h>

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDebug>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QSplitter>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <mutex>

#include "data/hdf5export.h"
#include "data/iedfanalysis.h"
#include "data/tarvodataset.h"
#include "plots/kalderdisplayv2.h"
#include "plots/mapstatistics.h"
#include "plots/metascanview.h"
#include "plots/multisensorspectrogramdisplay.h"
#include "plots/plotrender.h"
#include "plots/tarvoplot.h"
#include "ui/exportoptions.h"
#include "ui/redrawlimiter.h"

namespace {

const QString GROUP = QStringLiteral("mainDataView");
constexpr int SMALL_PANE = 150;
constexpr int PLOT_MIN_WIDTH = 300;

QString richValue(const QString& value, const QString& unit) {
    return QStringLiteral(
               "<html><head/><body><p><span style=\" font-size:14pt;\">%1 </span><span "
               "style=\" font-size:9pt;\">%2</span></p></body></html>")
        .arg(value, unit);
}

QLabel* caption(const QString& text) {
    auto* label = new QLabel(text);
    label->setStyleSheet(QStringLiteral("color: rgb(164, 0, 26); font-weight: bold;"));
    return label;
}

template <class W>
W* named(W* widget, const char* name) {
    widget->setObjectName(QLatin1String(name));
    return widget;
}

// A result's title above its value, which is a dash until there is data.
QLabel* addResult(QVBoxLayout* layout, const QString& title, const char* name) {
    layout->addWidget(new QLabel(title));
    auto* value = named(new QLabel(QStringLiteral("-")), name);
    layout->addWidget(value);
    return value;
}

// Plots give way before controls: they may shrink to their own minimum (axes and titles whole)
// instead of insisting on their preferred size.
void letShrink(QWidget* plot) {
    plot->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    plot->setMinimumWidth(PLOT_MIN_WIDTH);
}

// Holds a square widget (the map) as the largest square its own rectangle takes, centred: a
// layout would make it as tall as the page is wide and cut it off below.
class squareHolder : public QWidget {
public:
    explicit squareHolder(QWidget* square) : square(square) {
        square->setParent(this);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    }
    QSize minimumSizeHint() const override { return square->minimumSizeHint(); }
    QSize sizeHint() const override { return square->sizeHint(); }

protected:
    void resizeEvent(QResizeEvent*) override {
        const int side = std::min(width(), height());
        square->setGeometry((width() - side) / 2, (height() - side) / 2, side, side);
    }

private:
    QWidget* square;
};

}  // namespace

mainDataView::mainDataView(QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addLayout(buildControlColumn());
    row->addWidget(buildPages(), 1);
    limiter =
        new redrawLimiter([this] { redrawViews(); }, redrawLimiter::DEFAULT_INTERVAL_MS, this);
    connectControls();
    connectViews();
    addShortcuts();
    showInitialState();
}

QLayout* mainDataView::buildControlColumn() {
    auto* controls = new QVBoxLayout;
    controls->addLayout(buildPageButtons());
    controls->addWidget(caption(QStringLiteral("Channels")));
    channelSelector = named(new QListWidget, "channelSelector");
    channelSelector->setSelectionMode(QAbstractItemView::SingleSelection);
    channelSelector->setMaximumWidth(200);
    controls->addWidget(channelSelector, 1);
    controls->addWidget(caption(QStringLiteral("Scan")));
    scanSelector = named(new QComboBox, "scanSelector");
    controls->addWidget(scanSelector);
    controls->addWidget(caption(QStringLiteral("Traces")));
    traceModeSelector = named(new QComboBox, "traceModeSelector");
    traceModeSelector->addItems({QStringLiteral("Average Trace"), QStringLiteral("All Traces"),
                                 QStringLiteral("Latest Trace")});
    controls->addWidget(traceModeSelector);
    arSelector = named(new QComboBox, "arSelector");
    arSelector->hide();
    controls->addWidget(arSelector);
    controls->addWidget(buildResultsBox());
    return controls;
}

QLayout* mainDataView::buildPageButtons() {
    auto* pageRow = new QHBoxLayout;
    pageButtons = new QButtonGroup(this);
    const QList<QPair<QString, Page>> pages = {{QStringLiteral("Plot"), MainPlotPage},
                                               {QStringLiteral("Contour"), ContourPage},
                                               {QStringLiteral("AR Plot"), KalderPage}};
    for (const auto& [text, id] : pages) {
        auto* button = new QPushButton(text);
        button->setCheckable(true);
        button->setObjectName(QStringLiteral("pageButton%1").arg(id));
        pageButtons->addButton(button, id);
        pageRow->addWidget(button);
    }
    pageButtons->button(MainPlotPage)->setChecked(true);
    return pageRow;
}

QGroupBox* mainDataView::buildResultsBox() {
    auto* results = new QGroupBox(QStringLiteral("Results"));
    auto* layout = new QVBoxLayout(results);
    energyLabel = addResult(layout, QStringLiteral("Average Energy"), "energyLabel");
    fluxLabel = addResult(layout, QStringLiteral("Ion Flux"), "fluxLabel");
    peaksLabel = addResult(layout, QStringLiteral("IEDF Peaks"), "peaksLabel");
    peaksLabel->setTextFormat(Qt::RichText);
    peakMarkers = named(new QCheckBox(QStringLiteral("Mark Peaks")), "peakMarkersBox");
    peakMarkers->setChecked(true);
    layout->addWidget(peakMarkers);
    return results;
}

QWidget* mainDataView::buildPages() {
    stack = named(new QStackedWidget, "pages");
    stack->insertWidget(MainPlotPage, buildTracePage());
    stack->insertWidget(ContourPage, buildContourPage());
    kalder = named(new kalderDisplayV2, "kalderView");
    stack->insertWidget(KalderPage, kalder);
    return stack;
}

QWidget* mainDataView::buildTracePage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(2, 2, 2, 2);
    // The trace plot above, the monitor with its bar below; the user moves the boundary.
    plotSplitter = named(new QSplitter(Qt::Vertical), "plotSplitter");
    plotSplitter->setChildrenCollapsible(false);
    layout->addWidget(plotSplitter);
    ivPlot = named(new tarvoPlot, "ivPlot");
    letShrink(ivPlot);
    plotSplitter->addWidget(ivPlot);
    plotSplitter->addWidget(buildFluxMonitor());
    plotSplitter->setStretchFactor(0, 1);
    return page;
}

QWidget* mainDataView::buildFluxMonitor() {
    monitorPane = new QWidget;
    auto* layout = new QVBoxLayout(monitorPane);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* bar = new QHBoxLayout;
    monitorToggle = named(new QPushButton, "monitorToggle");
    bar->addWidget(monitorToggle);
    bar->addStretch(1);
    monitorValueSelector = named(new QComboBox, "monitorValueSelector");
    monitorValueSelector->addItems({QStringLiteral("Average Energy"), QStringLiteral("Ion Flux")});
    bar->addWidget(monitorValueSelector);
    fluxUnitLabel = named(new QLabel, "fluxUnitLabel");
    bar->addWidget(fluxUnitLabel);
    layout->addLayout(bar);
    // The ion-flux monitor: one value per scan of a run; a click on it selects the scan.
    monitor = named(new metaScanView, "fluxMonitor");
    letShrink(monitor);
    layout->addWidget(monitor);
    return monitorPane;
}

QWidget* mainDataView::buildContourPage() {
    contour = named(new MultiSensorSpectrogramDisplay, "contourMap");
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addLayout(buildContourBar());
    // The map with the uniformity of its values beside it.
    auto* mapRow = new QHBoxLayout;
    mapRow->addWidget(new squareHolder(contour), 1);
    mapRow->addWidget(new mapStatistics(contour));
    layout->addLayout(mapRow, 1);
    return page;
}

QLayout* mainDataView::buildContourBar() {
    // The map's data type and its display options, each option wired to the map.
    auto* bar = new QHBoxLayout;
    contourTypeSelector = named(new QComboBox, "contourTypeSelector");
    bar->addWidget(contourTypeSelector);
    const struct {
        const char* text;
        const char* name;
        void (MultiSensorSpectrogramDisplay::*toggle)(bool);
    } options[] = {
        {"Interpolate", "interpolateBox", &MultiSensorSpectrogramDisplay::toggleInterpolation},
        {"Contour Lines", "contourLinesBox", &MultiSensorSpectrogramDisplay::toggleContour},
        {"Hide Sensor Values", "hideSensorInfoBox",
         &MultiSensorSpectrogramDisplay::toggleSensorInfo}};
    for (const auto& option : options) {
        auto* box = named(new QCheckBox(QLatin1String(option.text)), option.name);
        connect(box, &QCheckBox::toggled, contour, option.toggle);
        bar->addWidget(box);
    }
    bar->addStretch(1);
    return bar;
}

void mainDataView::connectControls() {
    connect(pageButtons, &QButtonGroup::idClicked, this, [this](int id) {
        if (id == ContourPage) {
            displayContour();
        } else if (id == KalderPage) {
            displayKalder();
        } else {
            displayMainPlot();
        }
    });
    connect(channelSelector, &QListWidget::itemSelectionChanged, this,
            &mainDataView::channelSelectionChanged);
    connect(scanSelector, qOverload<int>(&QComboBox::activated), this,
            &mainDataView::selectMainScan);
    connect(traceModeSelector, qOverload<int>(&QComboBox::currentIndexChanged), ivPlot,
            &tarvoPlot::setCurrentMode);
    connect(arSelector, qOverload<int>(&QComboBox::activated), contour,
            &MultiSensorSpectrogramDisplay::selectAR);
    connect(peakMarkers, &QCheckBox::toggled, ivPlot, &tarvoPlot::togglePeakMarkers);
    connect(contourTypeSelector, qOverload<int>(&QComboBox::activated), this,
            &mainDataView::switchContourDataType);
    connect(monitorToggle, &QPushButton::clicked, this, &mainDataView::switchPlotMode);
    connect(monitorValueSelector, qOverload<int>(&QComboBox::currentIndexChanged), monitor,
            &metaScanView::selectValue);
    connect(monitorValueSelector, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &mainDataView::switchAxisTitle);
}

void mainDataView::connectViews() {
    // A double click on the map goes back to the traces; a sensor picked on it is selected.
    connect(contour, &MultiSensorSpectrogramDisplay::switchView, this,
            &mainDataView::spectrogramReleaseView);
    connect(contour, &MultiSensorSpectrogramDisplay::dataSensorSelected, this,
            [this](int index) { selectChannels({index}); });
    connect(monitor, &metaScanView::scanSelected, this, &mainDataView::selectMainScan);
    connect(this, &mainDataView::switchLegends, ivPlot, &tarvoPlot::switchLegend);
    connect(this, &mainDataView::switchLegends, monitor, &metaScanView::switchLegend);
}

void mainDataView::addShortcuts() {
    const auto shortcut = [this](const char* keys, auto slot) {
        connect(new QShortcut(QKeySequence(QLatin1String(keys)), this), &QShortcut::activated, this,
                slot);
    };
    shortcut("Ctrl+Tab", &mainDataView::nextChannel);
    shortcut("Ctrl+Shift+Tab", &mainDataView::previousChannel);
    shortcut("Ctrl+L", &mainDataView::switchLegends);
}

void mainDataView::showInitialState() {
    // The monitor's value first: its axis titles decide the height the panes are given.
    monitorValueSelector->setCurrentIndex(1);
    switchAxisTitle(1);
    readSettings();
    kalderScreenshot = plotRender::screenshotPath(QStringLiteral("kalderDisplay"));
    displayMainPlot();
}

mainDataView::~mainDataView() {
    ivPlot->setDataSet(nullptr);
    monitor->setDataSet(nullptr);
    contour->resetDataSource(nullptr);
    kalder->setDataSet(nullptr);
    delete data;
}

void mainDataView::readSettings() {
    QSettings settings;
    settings.beginGroup(GROUP);
    matlabPath = settings.value(QStringLiteral("matlabTarget"), QStringLiteral("./")).toString();
    csvPath = settings.value(QStringLiteral("csvTarget"), QStringLiteral("./")).toString();
    hdf5Path = settings.value(QStringLiteral("hdf5Target"), QStringLiteral("./")).toString();
    saveTarget = settings.value(QStringLiteral("fileTarget"), QStringLiteral("./")).toString();
    plotView = settings.value(QStringLiteral("plotView"), false).toBool();
    applyPlotView();
}

void mainDataView::storeSettings() {
    QSettings settings;
    settings.beginGroup(GROUP);
    settings.setValue(QStringLiteral("matlabTarget"), matlabPath);
    settings.setValue(QStringLiteral("csvTarget"), csvPath);
    settings.setValue(QStringLiteral("hdf5Target"), hdf5Path);
    settings.setValue(QStringLiteral("fileTarget"), saveTarget);
    settings.setValue(QStringLiteral("plotView"), plotView);
}

void mainDataView::setDataSet(tarvoDataSet* dataSet) {
    if (dataSet == data) {
        return;
    }
    ivPlot->setDataSet(nullptr);
    monitor->setDataSet(nullptr);
    contour->resetDataSource(nullptr);
    kalder->setDataSet(nullptr);
    delete data;
    data = dataSet;
    if (data) {
        connect(data, &tarvoDataSet::dataUpdated, this, &mainDataView::updateDisplays);
        connect(this, &mainDataView::scanSelected, data, &tarvoDataSet::setMainScan);
        connect(data, &tarvoDataSet::checkCurrentView, this, &mainDataView::checkCurrentView);
    }
    ivPlot->setDataSet(data);
    monitor->setDataSet(data);
    contour->resetDataSource(data);
    kalder->setDataSet(data);
    buildSelectors();
    checkCurrentView();
    limiter->now();
}

int mainDataView::currentPage() const {
    return stack->currentIndex();
}

QWidget* mainDataView::currentPageWidget() const {
    return stack->currentWidget();
}

void mainDataView::showPage(Page page, QFrame::Shape frame) {
    stack->setCurrentIndex(page);
    stack->setFrameShape(frame);
    stack->setFrameShadow(QFrame::Sunken);
    pageButtons->button(page)->setChecked(true);
}

void mainDataView::displayMainPlot() {
    showPage(MainPlotPage, QFrame::Box);
}

void mainDataView::displayContour() {
    showPage(ContourPage, QFrame::NoFrame);
}

void mainDataView::displayKalder() {
    showPage(KalderPage, QFrame::NoFrame);
}

void mainDataView::checkCurrentView() {
    // Aspect-ratio data has its own page and temperatures show on the map; IV data is not
    // shown on the aspect-ratio page.
    if (data && data->hasArScans()) {
        displayKalder();
    } else if (data && data->isTemperature()) {
        displayContour();
    } else if (currentPage() == KalderPage) {
        displayMainPlot();
    }
}

void mainDataView::spectrogramReleaseView() {
    displayMainPlot();
}

int mainDataView::channelCount() const {
    return channelSelector->count();
}

int mainDataView::scanSelectorCount() const {
    return scanSelector->count();
}

QList<int> mainDataView::selectedChannels() const {
    QList<int> channels;
    for (int i = 0; i < channelSelector->count(); ++i) {
        if (channelSelector->item(i)->isSelected()) {
            channels << i;
        }
    }
    return channels;
}

void mainDataView::selectChannels(const QList<int>& channels) {
    {
        const QSignalBlocker blocker(channelSelector);
        channelSelector->clearSelection();
        for (const int c : channels) {
            if (c >= 0 && c < channelSelector->count()) {
                channelSelector->item(c)->setSelected(true);
                if (singleChannel) {
                    break;
                }
            }
        }
    }
    channelSelectionChanged();
}

void mainDataView::setChannelMode(bool single) {
    singleChannel = single;
    const QList<int> channels = selectedChannels();
    channelSelector->setSelectionMode(single ? QAbstractItemView::SingleSelection
                                             : QAbstractItemView::MultiSelection);
    selectChannels(channels.isEmpty() ? QList<int>{0} : channels);
}

void mainDataView::nextChannel() {
    const int n = channelSelector->count();
    if (n == 0) {
        return;
    }
    const QList<int> channels = selectedChannels();
    selectChannels({channels.isEmpty() ? 0 : (channels.last() + 1) % n});
}

void mainDataView::previousChannel() {
    const int n = channelSelector->count();
    if (n == 0) {
        return;
    }
    const QList<int> channels = selectedChannels();
    selectChannels({channels.isEmpty() ? n - 1 : (channels.first() + n - 1) % n});
}

void mainDataView::channelSelectionChanged() {
    const QList<int> channels = selectedChannels();
    ivPlot->setCurrentChannel(channels);
    monitor->selectChan(channels);
    if (!channels.isEmpty()) {
        kalder->setCurrentChannel(channels.first());
    }
    updatePlotLabels(channels.isEmpty() ? -1 : channels.first());
}

void mainDataView::buildSelectors() {
    const QList<int> previous = selectedChannels();
    const int previousCount = channelSelector->count();
    int channels = 0;
    int scans = 0;
    QStringList ratios;
    if (data) {
        std::lock_guard<std::mutex> lock(data->mutex);
        channels = data->nChannels;
        scans = data->scanCount();
        for (const QVariant& ar :
             data->settingsMap.value(QStringLiteral("AspectRatios")).toList()) {
            ratios << QString::number(ar.toDouble());
        }
        if (ratios.isEmpty() && data->currentArScan()) {
            for (const arGroup* group : data->currentArScan()->groups) {
                ratios << QString::number(group->aspectRatio);
            }
        }
    }
    {
        const QSignalBlocker blocker(channelSelector);
        channelSelector->clear();
        for (int c = 0; c < channels; ++c) {
            channelSelector->addItem(QStringLiteral("Ch %1").arg(c + 1));
        }
    }
    // The same channels stay selected while the channel count is the same.
    selectChannels(previousCount == channels && !previous.isEmpty() ? previous : QList<int>{0});

    scanSelector->clear();
    for (int i = 0; i < scans; ++i) {
        scanSelector->addItem(QStringLiteral("Scan %1").arg(i + 1));
    }
    scanSelector->setCurrentIndex(scans - 1);

    // Aspect ratios are offered for aspect-ratio data only; temperature data has one map type.
    const bool arData = data && data->dataKind == 2;
    if (!arData) {
        ratios.clear();
    }
    arCount = ratios.size();
    arSelector->clear();
    contourTypeSelector->clear();
    for (const QString& ar : qAsConst(ratios)) {
        arSelector->addItem(QStringLiteral("A.R. %1").arg(ar));
        contourTypeSelector->addItem(QStringLiteral("AR %1").arg(ar));
    }
    if (data && data->isTemperature()) {
        contourTypeSelector->addItem(QStringLiteral("Temperature"));
    } else {
        contourTypeSelector->addItems(
            {QStringLiteral("Average Energy"), QStringLiteral("Ion Flux")});
    }
    arSelector->setVisible(arCount > 0);
    switchContourDataType(contourTypeSelector->currentIndex());
}

void mainDataView::updateDisplays(bool newScan) {
    if (newScan) {
        // The first data of a scan decides its kind, and so the page that shows it.
        buildSelectors();
        checkCurrentView();
        limiter->now();
    } else {
        limiter->request();
    }
}

void mainDataView::redrawViews() {
    if (!data) {
        return;
    }
    int scans = 0;
    int shown = -1;
    {
        std::lock_guard<std::mutex> lock(data->mutex);
        scans = data->scanCount();
        shown = data->currentScanIndex();
    }
    // Scans arrive during a run: the selector grows and keeps showing the one displayed.
    for (int i = scanSelector->count(); i < scans; ++i) {
        scanSelector->addItem(QStringLiteral("Scan %1").arg(i + 1));
    }
    if (shown >= 0 && shown < scanSelector->count()) {
        scanSelector->setCurrentIndex(shown);
    }
    ivPlot->updateDisplay();
    monitor->updateData();
    if (data->isMultiChannel()) {
        contour->updateData();
    }
    if (data->hasArScans()) {
        kalder->updateDisplay();
    }
    const QList<int> channels = selectedChannels();
    updatePlotLabels(channels.isEmpty() ? -1 : channels.first());
}

void mainDataView::updatePlotLabels(int channel) {
    if (!data || channel < 0 || !data->hasSweepScans()) {
        energyLabel->setText(QStringLiteral("-"));
        fluxLabel->setText(QStringLiteral("-"));
        peaksLabel->setText(QStringLiteral("-"));
        return;
    }
    double energy = 0.0;
    double flux = 0.0;
    iedfPeaks peaks;
    {
        std::lock_guard<std::mutex> lock(data->mutex);
        energy = data->averageEnergy(channel);
        flux = data->ionFlux(channel);
        peaks = currentIedfPeaks(*data, channel);
    }
    peaksLabel->setText(peaksText(peaks));
    energy = std::isfinite(energy) ? std::clamp(energy, -9999.9, 9999.9) : 0.0;
    energyLabel->setText(richValue(QString::number(energy, 'f', 1), QStringLiteral("eV")));
    fluxLabel->setText(richValue(QString::number(flux, 'g', 4), QStringLiteral("A/m²")));
}

QString mainDataView::peaksText(const iedfPeaks& peaks) {
    if (peaks.peaks.empty()) {
        return QStringLiteral("none");
    }
    const QString row = QStringLiteral("<tr><td>%1</td><td align=\"right\">%2</td></tr>");
    const auto value = [](double v, char format, int precision, const QString& unit) {
        return std::isfinite(v) ? QStringLiteral("%1 %2").arg(v, 0, format, precision).arg(unit)
                                : QStringLiteral("-");
    };
    QString text = QStringLiteral("<table>");
    for (size_t k = 0; k < peaks.peaks.size(); ++k) {
        const iedfPeak& p = peaks.peaks[k];
        text += row.arg(QStringLiteral("<b>Peak %1</b>").arg(k + 1),
                        value(p.energy, 'f', 1, QStringLiteral("eV")));
        text += row.arg(QStringLiteral("FWHM"), value(p.fwhm, 'f', 1, QStringLiteral("eV")));
        text += row.arg(QStringLiteral("Height"), value(p.height, 'g', 3, QStringLiteral("A/eV")));
    }
    if (peaks.peaks.size() == 2) {
        text += row.arg(QString::fromUtf8("<b>\u0394E</b>"),
                        value(peaks.separation, 'f', 1, QStringLiteral("eV")));
    }
    return text + QStringLiteral("</table>");
}

QString mainDataView::peaksLabelText() const {
    return peaksLabel->text();
}

QString mainDataView::averageEnergyText() const {
    return energyLabel->text();
}

QString mainDataView::ionFluxText() const {
    return fluxLabel->text();
}

QString mainDataView::fluxUnitText() const {
    return fluxUnitLabel->text();
}

void mainDataView::selectMainScan(int index) {
    // What the user asks for is shown at once; only data streaming in is paced.
    emit scanSelected(index);
    limiter->now();
    if (data && data->isMultiChannel()) {
        contour->updateData();
    }
    kalder->setCurrentScan(index);
}

void mainDataView::updateCrop(int start, int end) {
    if (!data) {
        return;
    }
    const bool excess = data->nPoints > 0 && start + end >= data->nPoints;
    if (!data->setCrop(start, end) || excess) {
        qDebug() << Q_FUNC_INFO << "Excess crop";
    }
    limiter->now();
}

void mainDataView::switchContourDataType(int type) {
    // The selector lists the aspect ratios first, then the value types.
    contourDataType = type;
    if (data && data->isTemperature()) {
        contour->setDataType(MultiSensorSpectrogramDisplay::Temperature);
    } else if (type >= 0 && type < arCount) {
        contour->selectAR(type);
    } else if (type >= arCount) {
        contour->setDataType(type == arCount ? MultiSensorSpectrogramDisplay::Energy
                                             : MultiSensorSpectrogramDisplay::IonFlux);
    }
}

void mainDataView::updateIonCorrectionFactor(double* factors, int chans) {
    if (data) {
        data->setIonFluxFactors(factors, chans);
        limiter->now();
    }
}

void mainDataView::useGlobalScale(bool on) {
    ivPlot->toggleGlobalScale(on);
}

void mainDataView::useFixedContourScale(bool on, double maximum, double minimum) {
    contour->setFixedScale(on, maximum, minimum);
}

void mainDataView::renderToFile() {
    switch (currentPage()) {
        case ContourPage:
            contour->renderToFile();
            break;
        case KalderPage: {
            // The aspect-ratio page as it is laid out: prescan and distributions side by side
            // above the summary, on one page.
            const QString path =
                plotRender::chooseFile(this, kalderScreenshot, QStringLiteral("kalderDisplay"));
            const QList<plotRender::panel> panels = {
                {kalder->prescanPlot(), QRectF(0.0, 0.0, 0.5, 0.5)},
                {kalder->aspectRatioPlot(), QRectF(0.5, 0.0, 0.5, 0.5)},
                {kalder->summaryPlot(), QRectF(0.0, 0.5, 1.0, 0.5)}};
            if (!path.isEmpty() && !plotRender::renderPanels(panels, path, QSizeF(320, 300))) {
                plotRender::reportFailure(this, path);
            }
            break;
        }
        default:
            ivPlot->renderToFile();
    }
}

int mainDataView::smallPaneHeight(QWidget* plot) {
    // Never below what the plot needs to show its axes and their titles whole.
    return std::max(SMALL_PANE, plot->minimumSizeHint().height());
}

void mainDataView::applyPlotView() {
    const int monitorLimit = smallPaneHeight(monitor);
    if (plotView) {
        ivPlot->setMaximumHeight(smallPaneHeight(ivPlot));
        monitor->setMaximumHeight(QWIDGETSIZE_MAX);
        monitorPane->setMaximumHeight(QWIDGETSIZE_MAX);
        monitorToggle->setText(QStringLiteral("Maximise IV Monitor"));
    } else {
        ivPlot->setMaximumHeight(QWIDGETSIZE_MAX);
        monitor->setMaximumHeight(monitorLimit);
        // The splitter reads the pane's own limit: the monitor's and its bar's.
        monitorPane->setMaximumHeight(monitorLimit + monitorPane->layout()->spacing() +
                                      monitorPane->layout()->itemAt(0)->sizeHint().height());
        monitorToggle->setText(QStringLiteral("Maximise Ion Flux Monitor"));
    }
    // The maximised pane takes all the room the other leaves.
    plotSplitter->setSizes(plotView ? QList<int>{0, QWIDGETSIZE_MAX}
                                    : QList<int>{QWIDGETSIZE_MAX, 0});
}

void mainDataView::switchPlotMode() {
    plotView = !plotView;
    applyPlotView();
}

void mainDataView::switchAxisTitle(int title) {
    // The monitor's value: 0 average energy, 1 ion flux.
    fluxUnitLabel->setText(title == 1 ? QStringLiteral("A/m2") : QStringLiteral("eV"));
}

void mainDataView::toggleIVCurve(bool on) {
    ivPlot->toggleIV(on);
}

void mainDataView::toggleIEDFCurve(bool on) {
    ivPlot->toggleIEDF(on);
}

void mainDataView::changeDerivative(int method) {
    if (data) {
        data->setDerivativeMethod(method);
        limiter->now();
    } else {
        ivTrace::selectDerivativeMethod(method);
    }
}

bool mainDataView::saveTo(const QString& path) {
    QString target = path;
    if (QFileInfo(target).suffix().isEmpty()) {
        target += QStringLiteral(".kdf");
    }
    if (data->save(target)) {
        return true;
    }
    QMessageBox::critical(this, QStringLiteral("Save"),
                          QStringLiteral("The data could not be saved to %1.").arg(target));
    return false;
}

bool mainDataView::saveASCurrentData() {
    if (!data) {
        return false;
    }
    const QString name = QFileDialog::getSaveFileName(this, QStringLiteral("Save"), saveTarget,
                                                      QStringLiteral("Kalder data file(*.kdf)"));
    if (name.isEmpty()) {
        return false;
    }
    saveTarget = name;
    storeSettings();
    return saveTo(name);
}

bool mainDataView::saveCurrentData() {
    if (!data) {
        return false;
    }
    if (data->filePath().isEmpty()) {
        return saveASCurrentData();
    }
    return saveTo(data->filePath());
}

void mainDataView::exportData(exportOptions& options) {
    if (!data) {
        return;
    }
    options.readSettings();
    options.setDataChoiceVisible(!data->hasArScans());
    if (options.exec() != QDialog::Accepted) {
        return;
    }
    const bool csv = options.isCSV();
    const bool hdf5 = options.isHdf5();
    QString& target = csv ? csvPath : hdf5 ? hdf5Path : matlabPath;
    const QString name =
        QFileDialog::getSaveFileName(this, QStringLiteral("Export"), target,
                                     csv    ? QStringLiteral("comma separated value (*.csv)")
                                     : hdf5 ? QStringLiteral("HDF5 file (*.h5)")
                                            : QStringLiteral("mat lab file (*.mat)"));
    if (name.isEmpty()) {
        return;
    }
    target = name;
    storeSettings();
    QString why;
    const bool written = csv    ? data->toCSV(name, options.choices())
                         : hdf5 ? toHdf5(*data, name, &why)
                                : data->toMatFile(name);
    if (!written) {
        QMessageBox::critical(this, QStringLiteral("Export"),
                              QStringLiteral("The data could not be exported to %1.").arg(name) +
                                  (why.isEmpty() ? QString() : QLatin1Char('\n') + why));
    }
}
