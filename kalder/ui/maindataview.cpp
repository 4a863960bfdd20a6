#include "ui/maindataview.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDebug>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <mutex>

#include "data/tarvodataset.h"
#include "ui/exportoptions.h"
#include "ui/redrawlimiter.h"
#include "plots/tarvoplot.h"

namespace {

const QString GROUP = QStringLiteral("mainDataView");
constexpr int SMALL_PANE = 150;

QString richValue(const QString& value, const QString& unit) {
    return QStringLiteral(
               "<html><head/><body><p><span style=\" font-size:14pt;\">%1 </span><span "
               "style=\" font-size:9pt;\">%2</span></p></body></html>")
        .arg(value, unit);
}

// A page whose view takes the whole page, given later through the page's layout.
QWidget* newPage(QVBoxLayout*& layout) {
    auto* page = new QWidget;
    layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    return page;
}

QLabel* caption(const QString& text) {
    auto* label = new QLabel(text);
    label->setStyleSheet(QStringLiteral("color: rgb(164, 0, 26); font-weight: bold;"));
    return label;
}

}  // namespace

mainDataView::mainDataView(QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);

    // Controls column: pages, channels, scan, trace mode, results.
    auto* controls = new QVBoxLayout;
    row->addLayout(controls);
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
    controls->addLayout(pageRow);

    controls->addWidget(caption(QStringLiteral("Channels")));
    channelSelector = new QListWidget;
    channelSelector->setObjectName(QStringLiteral("channelSelector"));
    channelSelector->setSelectionMode(QAbstractItemView::SingleSelection);
    channelSelector->setMaximumWidth(200);
    controls->addWidget(channelSelector, 1);

    controls->addWidget(caption(QStringLiteral("Scan")));
    scanSelector = new QComboBox;
    scanSelector->setObjectName(QStringLiteral("scanSelector"));
    controls->addWidget(scanSelector);
    controls->addWidget(caption(QStringLiteral("Traces")));
    traceModeSelector = new QComboBox;
    traceModeSelector->setObjectName(QStringLiteral("traceModeSelector"));
    traceModeSelector->addItems({QStringLiteral("Average Trace"), QStringLiteral("All Traces"),
                                 QStringLiteral("Latest Trace")});
    controls->addWidget(traceModeSelector);
    arSelector = new QComboBox;
    arSelector->setObjectName(QStringLiteral("arSelector"));
    arSelector->hide();
    controls->addWidget(arSelector);

    auto* results = new QGroupBox(QStringLiteral("Results"));
    auto* resultsLayout = new QVBoxLayout(results);
    resultsLayout->addWidget(new QLabel(QStringLiteral("Average Energy")));
    energyLabel = new QLabel(QStringLiteral("-"));
    energyLabel->setObjectName(QStringLiteral("energyLabel"));
    resultsLayout->addWidget(energyLabel);
    resultsLayout->addWidget(new QLabel(QStringLiteral("Ion Flux")));
    fluxLabel = new QLabel(QStringLiteral("-"));
    fluxLabel->setObjectName(QStringLiteral("fluxLabel"));
    resultsLayout->addWidget(fluxLabel);
    controls->addWidget(results);

    // Pages.
    stack = new QStackedWidget;
    stack->setObjectName(QStringLiteral("pages"));
    row->addWidget(stack, 1);

    auto* mainPage = new QWidget;
    auto* mainLayout = new QVBoxLayout(mainPage);
    mainLayout->setContentsMargins(2, 2, 2, 2);
    ivPlot = new tarvoPlot;
    ivPlot->setObjectName(QStringLiteral("ivPlot"));
    mainLayout->addWidget(ivPlot, 3);
    auto* monitorBar = new QHBoxLayout;
    monitorToggle = new QPushButton;
    monitorToggle->setObjectName(QStringLiteral("monitorToggle"));
    monitorBar->addWidget(monitorToggle);
    monitorBar->addStretch(1);
    auto* valueSelector = new QComboBox;
    valueSelector->setObjectName(QStringLiteral("monitorValueSelector"));
    valueSelector->addItems({QStringLiteral("Average Energy"), QStringLiteral("Ion Flux")});
    monitorBar->addWidget(valueSelector);
    fluxUnitLabel = new QLabel;
    fluxUnitLabel->setObjectName(QStringLiteral("fluxUnitLabel"));
    monitorBar->addWidget(fluxUnitLabel);
    mainLayout->addLayout(monitorBar);
    monitorFrame = new QFrame;
    monitorFrame->setObjectName(QStringLiteral("fluxMonitor"));
    monitorFrame->setFrameShape(QFrame::StyledPanel);
    monitorLayout = new QVBoxLayout(monitorFrame);
    monitorLayout->setContentsMargins(0, 0, 0, 0);
    mainLayout->addWidget(monitorFrame, 2);
    stack->insertWidget(MainPlotPage, mainPage);

    QVBoxLayout* contourPageLayout = nullptr;
    QWidget* contourPage = newPage(contourPageLayout);
    contourTypeSelector = new QComboBox;
    contourTypeSelector->setObjectName(QStringLiteral("contourTypeSelector"));
    contourPageLayout->addWidget(contourTypeSelector, 0, Qt::AlignLeft);
    contourLayout = new QVBoxLayout;
    contourPageLayout->addLayout(contourLayout, 1);
    stack->insertWidget(ContourPage, contourPage);
    stack->insertWidget(KalderPage, newPage(kalderLayout));

    limiter =
        new redrawLimiter([this] { redrawViews(); }, redrawLimiter::DEFAULT_INTERVAL_MS, this);

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
    connect(contourTypeSelector, qOverload<int>(&QComboBox::activated), this,
            &mainDataView::switchContourDataType);
    connect(monitorToggle, &QPushButton::clicked, this, &mainDataView::switchPlotMode);
    connect(valueSelector, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &mainDataView::switchAxisTitle);
    connect(this, &mainDataView::switchLegends, ivPlot, &tarvoPlot::switchLegend);

    auto* next = new QShortcut(QKeySequence(QStringLiteral("Ctrl+Tab")), this);
    connect(next, &QShortcut::activated, this, &mainDataView::nextChannel);
    auto* previous = new QShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+Tab")), this);
    connect(previous, &QShortcut::activated, this, &mainDataView::previousChannel);

    readSettings();
    valueSelector->setCurrentIndex(1);
    switchAxisTitle(1);
    displayMainPlot();
}

mainDataView::~mainDataView() {
    ivPlot->setDataSet(nullptr);
    delete data;
}

void mainDataView::readSettings() {
    QSettings settings;
    settings.beginGroup(GROUP);
    matlabPath = settings.value(QStringLiteral("matlabTarget"), QStringLiteral("./")).toString();
    csvPath = settings.value(QStringLiteral("csvTarget"), QStringLiteral("./")).toString();
    saveTarget = settings.value(QStringLiteral("fileTarget"), QStringLiteral("./")).toString();
    plotView = settings.value(QStringLiteral("plotView"), true).toBool();
    applyPlotView();
}

void mainDataView::storeSettings() {
    QSettings settings;
    settings.beginGroup(GROUP);
    settings.setValue(QStringLiteral("matlabTarget"), matlabPath);
    settings.setValue(QStringLiteral("csvTarget"), csvPath);
    settings.setValue(QStringLiteral("fileTarget"), saveTarget);
    settings.setValue(QStringLiteral("plotView"), plotView);
}

void mainDataView::setDataSet(tarvoDataSet* dataSet) {
    if (dataSet == data) {
        return;
    }
    ivPlot->setDataSet(nullptr);
    delete data;
    data = dataSet;
    if (data) {
        connect(data, &tarvoDataSet::dataUpdated, this, &mainDataView::updateDisplays);
        connect(this, &mainDataView::scanSelected, data, &tarvoDataSet::setMainScan);
        connect(data, &tarvoDataSet::checkCurrentView, this, &mainDataView::checkCurrentView);
    }
    ivPlot->setDataSet(data);
    buildSelectors();
    checkCurrentView();
    limiter->now();
}

int mainDataView::currentPage() const {
    return stack->currentIndex();
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
    // Aspect-ratio data has its own page; other data is not shown there.
    if (data && data->hasArScans()) {
        displayKalder();
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

    arSelector->clear();
    contourTypeSelector->clear();
    for (const QString& ar : qAsConst(ratios)) {
        arSelector->addItem(QStringLiteral("A.R. %1").arg(ar));
        contourTypeSelector->addItem(QStringLiteral("AR %1").arg(ar));
    }
    contourTypeSelector->addItems({QStringLiteral("Average Energy"), QStringLiteral("Ion Flux")});
    arSelector->setVisible(data && data->dataKind == 2 && !ratios.isEmpty());
}

void mainDataView::updateDisplays(bool newScan) {
    if (newScan) {
        buildSelectors();
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
    const QList<int> channels = selectedChannels();
    updatePlotLabels(channels.isEmpty() ? -1 : channels.first());
}

void mainDataView::updatePlotLabels(int channel) {
    if (!data || channel < 0 || !data->hasSweepScans()) {
        energyLabel->setText(QStringLiteral("-"));
        fluxLabel->setText(QStringLiteral("-"));
        return;
    }
    double energy = 0.0;
    double flux = 0.0;
    {
        std::lock_guard<std::mutex> lock(data->mutex);
        energy = data->averageEnergy(channel);
        flux = data->ionFlux(channel);
    }
    energy = std::isfinite(energy) ? std::clamp(energy, -9999.9, 9999.9) : 0.0;
    energyLabel->setText(richValue(QString::number(energy, 'f', 1), QStringLiteral("eV")));
    fluxLabel->setText(richValue(QString::number(flux, 'g', 4), QStringLiteral("A/m²")));
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
    emit scanSelected(index);
}

void mainDataView::updateCrop(int start, int end) {
    if (!data) {
        return;
    }
    const bool excess = data->nPoints > 0 && start + end >= data->nPoints;
    if (!data->setCrop(start, end) || excess) {
        qDebug() << Q_FUNC_INFO << "Excess crop";
    }
}

void mainDataView::switchContourDataType(int type) {
    contourDataType = type;
}

void mainDataView::updateIonCorrectionFactor(double* factors, int chans) {
    if (data) {
        data->setIonFluxFactors(factors, chans);
    }
}

void mainDataView::useGlobalScale(bool on) {
    ivPlot->toggleGlobalScale(on);
}

void mainDataView::useFixedContourScale(bool on, double maximum, double minimum) {
    fixedContourScale = on;
    fixedMaximum = maximum;
    fixedMinimum = minimum;
}

void mainDataView::renderToFile() {
    // Each page's view renders itself when it can; the trace plot otherwise.
    QWidget* page = stack->currentWidget();
    if (currentPage() != MainPlotPage) {
        for (QWidget* view : page->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
            if (view->metaObject()->indexOfSlot("renderToFile()") >= 0) {
                QMetaObject::invokeMethod(view, "renderToFile");
                return;
            }
        }
    }
    ivPlot->renderToFile();
}

void mainDataView::applyPlotView() {
    if (plotView) {
        ivPlot->setMaximumHeight(SMALL_PANE);
        monitorFrame->setMaximumHeight(QWIDGETSIZE_MAX);
        monitorToggle->setText(QStringLiteral("Maximise IV Monitor"));
    } else {
        ivPlot->setMaximumHeight(QWIDGETSIZE_MAX);
        monitorFrame->setMaximumHeight(SMALL_PANE);
        monitorToggle->setText(QStringLiteral("Maximise Ion Flux Monitor"));
    }
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

void mainDataView::saveASCurrentData() {
    if (!data) {
        return;
    }
    const QString name = QFileDialog::getSaveFileName(this, QStringLiteral("Save"), saveTarget,
                                                      QStringLiteral("Kalder data file(*.kdf)"));
    if (name.isEmpty()) {
        return;
    }
    saveTarget = name;
    storeSettings();
    saveTo(name);
}

void mainDataView::saveCurrentData() {
    if (!data) {
        return;
    }
    if (data->filePath().isEmpty()) {
        saveASCurrentData();
    } else {
        saveTo(data->filePath());
    }
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
    QString& target = csv ? csvPath : matlabPath;
    const QString name =
        QFileDialog::getSaveFileName(this, QStringLiteral("Export"), target,
                                     csv ? QStringLiteral("comma separated value (*.csv)")
                                         : QStringLiteral("mat lab file (*.mat)"));
    if (name.isEmpty()) {
        return;
    }
    target = name;
    storeSettings();
    const bool written = csv ? data->toCSV(name, options.choices()) : data->toMatFile(name);
    if (!written) {
        QMessageBox::critical(this, QStringLiteral("Export"),
                              QStringLiteral("The data could not be exported to %1.").arg(name));
    }
}
