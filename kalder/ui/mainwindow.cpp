#include "ui/mainwindow.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <cmath>
#include <vector>

#include "acquisition/sensorhandler.h"
#include "data/recovery.h"
#include "data/tarvodataset.h"
#include "tolmar2/Link.h"
#include "ui/aboutdialog.h"
#include "ui/abouthardwaredialog.h"
#include "ui/datapropertiesdialog.h"
#include "ui/derivativechoicedialog.h"
#include "ui/graphcontrols.h"
#include "ui/instrumentpanel.h"
#include "ui/maindataview.h"
#include "ui/resources.h"
#include "ui/scrolling.h"
#include "ui/topbanner.h"
#include "ui_mainwindow.h"

#ifndef KALDER_DOC_DIR
#define KALDER_DOC_DIR ""
#endif

namespace {

const QString TITLE = QStringLiteral("Kalder System");
const QString USER_GUIDE = QStringLiteral("Kalder User Guide.pdf");
const QString NO_SENSOR = QStringLiteral("No sensor connected");
constexpr int DESCRIPTION_BUFFER = 1500;
constexpr int PANEL_WIDTH = 260;
const QString LAYOUT_GROUP = QStringLiteral("mainwindow");
const QString RECENT_KEY = QStringLiteral("mainwindow/recentFiles");
// The size a first start asks for where the screen has room for it; smaller screens get the
// window maximised.
constexpr int FIRST_WIDTH = 1440;
constexpr int FIRST_HEIGHT = 900;

mainWindow::UrlOpener& urlOpener() {
    static mainWindow::UrlOpener opener = [](const QUrl& url) {
        return QDesktopServices::openUrl(url);
    };
    return opener;
}

QLabel* addStatusLabel(QStatusBar* bar, const QString& name, const QString& text) {
    auto* label = new QLabel(text);
    label->setObjectName(name);
    bar->addWidget(label);
    return label;
}

QFrame* accentLine(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setLineWidth(4);
    line->setStyleSheet(QStringLiteral("color:rgb(164,0,26);"));
    line->setFixedHeight(4);
    return line;
}

}  // namespace

const char* const mainWindow::WEB_SITE = "https://www.corvane.com";

void mainWindow::setUrlOpener(UrlOpener opener) {
    urlOpener() = std::move(opener);
}

mainWindow::mainWindow(QWidget* parent, bool pollSensor)
    : QMainWindow(parent),
      ui(std::make_unique<Ui::mainWindow>()),
      exportOpts(this),
      systemDescription(NO_SENSOR),
      channelModes(this) {
    kalderResources::init();
    ui->setupUi(this);
    setWindowTitle(TITLE);
    graphics = new graphControls(this);
    graphics->hide();

    // Status bar, in this order: file name, sync, sweep duration, progress, scan number.
    fileNameLabel = addStatusLabel(statusBar(), QStringLiteral("fileNameLabel"), QString());
    fileNameLabel->setMaximumWidth(50);
    syncLabel = addStatusLabel(statusBar(), QStringLiteral("syncLabel"),
                               QStringLiteral(" No Sync Signal "));
    durationLabel = addStatusLabel(statusBar(), QStringLiteral("durationLabel"),
                                   QStringLiteral(" Sweep Duration : - s "));
    progressLabel = addStatusLabel(statusBar(), QStringLiteral("progressLabel"),
                                   QStringLiteral(" Scan Progress -% "));
    scanNumberLabel = addStatusLabel(statusBar(), QStringLiteral("scanNumberLabel"),
                                     QStringLiteral(" Scan Nbr - "));

    topLine = accentLine(this);
    bottomLine = accentLine(this);

    channelModes.setExclusive(true);
    channelModes.addAction(ui->actionSingle_Channel_Select);
    channelModes.addAction(ui->actionMulti_Channel_Select);
    ui->actionSingle_Channel_Select->setChecked(true);

    // Nothing to save, export or inspect before data is loaded or measured; nothing to ask the
    // instrument before one is connected.
    setFileActionsEnabled(false);
    ui->actionFile_Properties->setEnabled(false);
    ui->actionInstrument_Info->setEnabled(false);
    ui->actionInstrument->setEnabled(false);

    // File > Recent Files, below Load.
    recentMenu = new QMenu(QStringLiteral("Recent Files"), this);
    recentMenu->setObjectName(QStringLiteral("menuRecent"));
    ui->menuFile->insertMenu(ui->actionSave_2, recentMenu);
    buildRecentMenu();
    // A data file dropped on the window opens as Load would open it.
    setAcceptDrops(true);

    QSettings settings;
    lastOpenFile =
        settings.value(QStringLiteral("Settings/lastopenfile"), QStringLiteral("./")).toString();

    mainDataView* view = ui->dataView;
    topBanner* bannerWidget = ui->brandingMenu;

    connect(graphics, &graphControls::setCrop, view, &mainDataView::updateCrop);
    connect(graphics, &graphControls::useGlobalScale, view, &mainDataView::useGlobalScale);
    connect(graphics, &graphControls::useFixedContourScale, view,
            &mainDataView::useFixedContourScale);

    connect(ui->actionLoad, &QAction::triggered, this, &mainWindow::loadData);
    connect(ui->actionSave, &QAction::triggered, this, &mainWindow::saveASCurrentDataSet);
    connect(ui->actionSave_2, &QAction::triggered, this, &mainWindow::saveCurrentData);
    connect(ui->actionExport, &QAction::triggered, this, &mainWindow::exportData);
    connect(ui->actionAbout, &QAction::triggered, this, &mainWindow::about);
    connect(ui->actionExit, &QAction::triggered, this, &QWidget::close);
    connect(ui->actionExportGraph, &QAction::triggered, view, &mainDataView::renderToFile);
    connect(ui->actionExport_to_SVG, &QAction::triggered, view, &mainDataView::renderToFile);
    connect(ui->actionPreferences, &QAction::triggered, this, &mainWindow::preferences);
    connect(ui->actionGeneral, &QAction::triggered, this, &mainWindow::preferences);
    connect(ui->actionExport_Options, &QAction::triggered, &exportOpts, &QDialog::exec);
    // Copy puts the page shown (plot, map or aspect-ratio view) on the clipboard as a picture.
    connect(ui->actionCopy, &QAction::triggered, this, [this] {
        QApplication::clipboard()->setPixmap(ui->dataView->currentPageWidget()->grab());
    });
    connect(ui->actionInstrument_Info, &QAction::triggered, this, &mainWindow::aboutHw);
    connect(ui->actionGraphical_Options, &QAction::triggered, this,
            qOverload<>(&mainWindow::graphControlDisplay));
    connect(ui->actionCorvane_WebSite, &QAction::triggered, this, &mainWindow::corvaneWebsite);
    connect(ui->actionHelp, &QAction::triggered, this, &mainWindow::help);
    connect(ui->actionFile_Properties, &QAction::triggered, this, &mainWindow::aboutData);
    connect(ui->actionDerivative_Options, &QAction::triggered, this, &mainWindow::changeDerivative);
    connect(ui->actionShow_IV_curve, &QAction::toggled, view, &mainDataView::toggleIVCurve);
    connect(ui->actionShow_IEDF, &QAction::toggled, view, &mainDataView::toggleIEDFCurve);
    connect(ui->actionSingle_Channel_Select, &QAction::toggled, this, &mainWindow::setChannelMode);
    connect(ui->actionMulti_Channel_Select, &QAction::toggled, this, &mainWindow::setChannelMode);

    if (pollSensor) {
        sensor = std::make_unique<sensorHandler>(&cntrl);
        connect(sensor.get(), &sensorHandler::sensorConnection, this, &mainWindow::sensorConnected);
        connect(sensor.get(), &sensorHandler::sensorConnection, bannerWidget,
                &topBanner::sensorConnected);
        connect(sensor.get(), &sensorHandler::invalidSensor, bannerWidget,
                &topBanner::invalidSensor);
    }
    connectInstrumentPanel();
    // Before a scan replaces the data shown, the user may save it.
    ui->instrumentControl->setScanGate([this] { return confirmDiscard(); });
}

mainWindow::~mainWindow() {
    // The poll thread, the panel's monitor and a running scan call into the controller: all of
    // them end before the controller goes (the widgets would otherwise outlive it).
    sensor.reset();
    delete ui->instrumentControl;
    ui->instrumentControl = nullptr;
}

// ---- Instrument panel ----------------------------------------------------------------------

void mainWindow::connectInstrumentPanel() {
    instrumentPanel* p = ui->instrumentControl;
    topBanner* bannerWidget = ui->brandingMenu;
    // The panel keeps its width; when the window is too low for it, it scrolls (a vertical
    // scroll bar beside it, never a horizontal one).
    p->setMinimumWidth(PANEL_WIDTH);
    scrollVerticallyOnly(ui->instrumentScroll);
    ui->workSplitter->setStretchFactor(0, 1);
    ui->workSplitter->setStretchFactor(1, 0);
    connect(p, &instrumentPanel::newScanStarted, this, &mainWindow::newScanStarted);
    if (sensor) {
        connect(p, &instrumentPanel::sensorDisconnection, sensor.get(),
                &sensorHandler::sensorDisconnect);
    }
    connect(p, &instrumentPanel::sensorDisconnection, bannerWidget, &topBanner::sensorDisconnected);
    connect(p, &instrumentPanel::sensorDisconnection, this, &mainWindow::sensorDisconnected);
    connect(p, &instrumentPanel::HVtoggled, bannerWidget, &topBanner::toggleHV);
    connect(p, &instrumentPanel::scanDone, this, &mainWindow::scanDone);
    connect(p, &instrumentPanel::scanProgress, this, &mainWindow::scanAdvancement);
    connect(p, &instrumentPanel::scanNumber, this, &mainWindow::scanNumber);
    connect(p, &instrumentPanel::ARCounter, this, &mainWindow::ARCounter);
    connect(p, &instrumentPanel::syncFreq, this, &mainWindow::syncFreq);
    connect(p, &instrumentPanel::updateDuration, this, &mainWindow::updateDuration);
    connect(ui->actionInstrument, &QAction::triggered, p,
            &instrumentPanel::updateInstrumentSettings);
}

// ---- Accessors -----------------------------------------------------------------------------

mainDataView* mainWindow::dataView() const {
    return ui->dataView;
}

topBanner* mainWindow::banner() const {
    return ui->brandingMenu;
}

instrumentPanel* mainWindow::panel() const {
    return ui->instrumentControl;
}

QList<QLabel*> mainWindow::statusLabels() const {
    return {fileNameLabel, syncLabel, durationLabel, progressLabel, scanNumberLabel};
}

QAction* mainWindow::action(const QString& objectName) const {
    return findChild<QAction*>(objectName);
}

// ---- Frame ---------------------------------------------------------------------------------

void mainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    placeAccentLines();
}

void mainWindow::placeAccentLines() {
    topLine->setGeometry(0, 20, width(), 4);
    bottomLine->setGeometry(0, height() - 22 - 4, width(), 4);
    topLine->raise();
    bottomLine->raise();
}

QRect mainWindow::fitOnScreen(const QRect& frame, const QRect& available) {
    QRect fitted(frame.topLeft(), frame.size().boundedTo(available.size()));
    fitted.moveLeft(
        qBound(available.left(), fitted.left(), available.right() - fitted.width() + 1));
    fitted.moveTop(qBound(available.top(), fitted.top(), available.bottom() - fitted.height() + 1));
    return fitted;
}

QMargins mainWindow::frameMargins() const {
    // Known once the window manager framed the window; before that, a title bar's worth.
    if (isVisible() && frameGeometry() != geometry()) {
        const QRect f = frameGeometry(), g = geometry();
        return QMargins(g.left() - f.left(), g.top() - f.top(), f.right() - g.right(),
                        f.bottom() - g.bottom());
    }
    return QMargins(0, style()->pixelMetric(QStyle::PM_TitleBarHeight), 0, 0);
}

void mainWindow::restoreLayout() {
    QSettings settings;
    settings.beginGroup(LAYOUT_GROUP);
    for (QSplitter* splitter : findChildren<QSplitter*>()) {
        splitter->restoreState(settings.value(splitter->objectName()).toByteArray());
    }
    restoreState(settings.value(QStringLiteral("state")).toByteArray());
    const bool restored = restoreGeometry(settings.value(QStringLiteral("geometry")).toByteArray());

    const QScreen* screen = restored ? QGuiApplication::screenAt(geometry().center()) : nullptr;
    if (!screen) {
        screen = QGuiApplication::primaryScreen();
    }
    if (!screen) {
        return;
    }
    const QRect available = screen->availableGeometry();
    const QMargins frame = frameMargins();
    if (!restored) {
        // First start: the preferred size where it fits, else the whole screen.
        const QRect wanted(QPoint(), QSize(FIRST_WIDTH, FIRST_HEIGHT).grownBy(frame));
        if (wanted.width() <= available.width() && wanted.height() <= available.height()) {
            QRect placed = wanted;
            placed.moveCenter(available.center());
            setGeometry(placed.marginsRemoved(frame));
        } else {
            setGeometry(available.marginsRemoved(frame));
            setWindowState(windowState() | Qt::WindowMaximized);
        }
        return;
    }
    // A geometry saved on a larger or another screen is moved and shrunk onto this one.
    if (!(windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))) {
        const QRect framed = geometry().marginsAdded(frame);
        const QRect fitted = fitOnScreen(framed, available);
        if (fitted != framed) {
            setGeometry(fitted.marginsRemoved(frame));
        }
    }
}

void mainWindow::storeLayout() {
    QSettings settings;
    settings.beginGroup(LAYOUT_GROUP);
    settings.setValue(QStringLiteral("geometry"), saveGeometry());
    settings.setValue(QStringLiteral("state"), saveState());
    for (QSplitter* splitter : findChildren<QSplitter*>()) {
        settings.setValue(splitter->objectName(), splitter->saveState());
    }
}

void mainWindow::updateTitle(bool virtualSensor) {
    virtualLink = virtualSensor;
    refreshTitle();
    ui->brandingMenu->setVirtualSensor(virtualSensor);
}

void mainWindow::refreshTitle() {
    QString title = virtualLink ? TITLE + QStringLiteral(" - Virtual Sensor") : TITLE;
    const tarvoDataSet* data = ui->dataView->dataSet();
    if (data && !data->filePath().isEmpty()) {
        title = QFileInfo(data->filePath()).fileName() + QStringLiteral(" - ") + title;
    } else if (data && data->hasData) {
        title = QStringLiteral("Unsaved scan - ") + title;
    }
    setWindowTitle(title);
}

bool mainWindow::confirmDiscard() {
    const tarvoDataSet* data = ui->dataView->dataSet();
    if (!data || !data->hasData || !data->filePath().isEmpty()) {
        return true;
    }
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Unsaved Data"),
                    QStringLiteral("The data shown has never been saved.\n\nSave it first?"),
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
    box.setObjectName(QStringLiteral("unsavedDataBox"));
    box.setDefaultButton(QMessageBox::Save);
    switch (box.exec()) {
        case QMessageBox::Save: {
            // A save the user cancels or that fails keeps everything as it is.
            const bool saved = ui->dataView->saveCurrentData();
            refreshTitle();
            return saved;
        }
        case QMessageBox::Discard:
            return true;
        default:
            return false;
    }
}

void mainWindow::closeEvent(QCloseEvent* event) {
    if (!confirmDiscard()) {
        event->ignore();
        return;
    }
    ui->dataView->storeSettings();
    storeLayout();
    graphics->hide();
    event->accept();
}

void mainWindow::setFileActionsEnabled(bool on) {
    for (QAction* a : {ui->actionSave, ui->actionSave_2, ui->actionExport, ui->actionExportGraph,
                       ui->actionExport_to_SVG}) {
        a->setEnabled(on);
    }
}

// ---- Status bar ----------------------------------------------------------------------------

void mainWindow::scanAdvancement(int percentage) {
    progressLabel->setText(QStringLiteral(" Progress : %1 % ").arg(percentage));
}

void mainWindow::scanNumber(int nbr) {
    scanNumberLabel->setText(QStringLiteral(" Scan Nbr %1 ").arg(nbr));
}

void mainWindow::ARCounter(double ratio) {
    scanNumberLabel->setText(QStringLiteral(" AR : %1 ").arg(ratio, 0, 'g'));
}

void mainWindow::syncFreq(double freq, int code) {
    QString text;
    if (code > 0) {
        text = QStringLiteral(" Sync Freq : %1 Hz ").arg(std::isfinite(freq) ? qint64(freq) : 0);
    } else if (code == 0) {
        text = QStringLiteral("Sensor Disconnected");
    } else if (code == -1) {
        text = QStringLiteral("No Sync Signal");
    } else if (code == -2) {
        text = QStringLiteral("Sync freq too low");
    } else if (code == -3) {
        text = QStringLiteral("Sync freq too high");
    } else if (code == -4) {
        text = QStringLiteral("No sync freq");
    } else {
        return;
    }
    syncLabel->setText(text);
}

void mainWindow::updateDuration(double seconds) {
    durationLabel->setText(QStringLiteral(" Sweep Duration : %1 s ")
                               .arg(std::isfinite(seconds) ? qRound64(seconds) : 0));
}

// ---- Sensor --------------------------------------------------------------------------------

void mainWindow::sensorConnected() {
    ui->actionInstrument_Info->setEnabled(true);
    ui->actionInstrument->setEnabled(true);
    // The description is read before the panel starts its monitor, which from then on owns
    // the controller between scans. A description longer than the usual buffer is read whole.
    std::vector<char> buffer(DESCRIPTION_BUFFER, '\0');
    int size = DESCRIPTION_BUFFER;
    if (!cntrl.getSystemDescription(buffer.data(), size) && size > DESCRIPTION_BUFFER) {
        buffer.assign(size_t(size), '\0');
        cntrl.getSystemDescription(buffer.data(), size);
    }
    systemDescription = QString::fromLocal8Bit(buffer.data());
    updateTitle(tolmar2::link::kind() == tolmar2::link::Kind::Virtual);
    ui->instrumentControl->sensorConnected(&cntrl);
}

void mainWindow::sensorDisconnected() {
    ui->actionInstrument_Info->setEnabled(false);
    ui->actionInstrument->setEnabled(false);
    systemDescription = NO_SENSOR;
    updateTitle(false);
}

// ---- Scans ---------------------------------------------------------------------------------

void mainWindow::newScanStarted(tarvoDataSet* dataSet) {
    ui->dataView->setDataSet(dataSet);
    refreshTitle();
    ui->actionLoad->setEnabled(false);
    recentMenu->setEnabled(false);
    setFileActionsEnabled(false);
    ui->actionInstrument->setEnabled(false);
    ui->brandingMenu->doingScan(true);
}

void mainWindow::scanDone() {
    // Saved automatically, or still to be saved.
    refreshTitle();
    ui->actionLoad->setEnabled(true);
    recentMenu->setEnabled(!recentFiles().isEmpty());
    setFileActionsEnabled(true);
    ui->actionInstrument->setEnabled(true);
    ui->actionFile_Properties->setEnabled(true);
    ui->brandingMenu->doingScan(false);
}

// ---- Files ---------------------------------------------------------------------------------

void mainWindow::loadData() {
    if (!confirmDiscard()) {
        return;
    }
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("Open File"), lastOpenFile,
        QStringLiteral("Kalder Data Files (*.kdf) ;; Kalder Old Format (*.dat)"));
    if (!path.isEmpty()) {
        loadFile(path);
    }
}

// Says that a data file was cut short and what could be recovered from it; false when
// nothing could.
bool mainWindow::acceptTruncated(const tarvoDataSet& data, const QString& path) {
    if (!data.truncated) {
        return true;
    }
    const QString cut = QStringLiteral(
                            "The file %1 is truncated: it ends before its data do "
                            "(a copy was interrupted or a disk was full).\n\n")
                            .arg(QDir::toNativeSeparators(path));
    if (data.scanCount() == 0) {
        QMessageBox::warning(this, QStringLiteral("Truncated File"),
                             cut + QStringLiteral("No scan was complete before the cut; nothing "
                                                  "could be loaded."));
        return false;
    }
    QMessageBox::warning(this, QStringLiteral("Truncated File"),
                         cut + QStringLiteral("%1 of its %2 scans were recovered; the data after "
                                              "the cut are missing.")
                                   .arg(data.scanCount())
                                   .arg(data.declaredScans));
    return true;
}

bool mainWindow::loadFile(const QString& path) {
    tarvoDataSet* loaded = nullptr;
    try {
        loaded = new tarvoDataSet(path);
    } catch (...) {
        loaded = nullptr;
    }
    // A file that could not be opened or held no data counts as unreadable too: the data
    // shown stays.
    if (!loaded || !loaded->hasData) {
        delete loaded;
        QMessageBox::warning(this, QStringLiteral("Invalid File"),
                             QStringLiteral("File was corrupted and cannot be loaded."));
        return false;
    }
    if (!acceptTruncated(*loaded, path)) {
        delete loaded;
        return false;
    }
    fileNameLabel->setText(path.split(QLatin1Char('/')).last());
    fileNameLabel->setToolTip(path);
    ui->dataView->setDataSet(loaded);
    lastOpenFile = path;
    QSettings().setValue(QStringLiteral("Settings/lastopenfile"), path);
    setFileActionsEnabled(true);
    ui->actionFile_Properties->setEnabled(true);
    rememberRecent(path);
    refreshTitle();
    return true;
}

bool mainWindow::openFile(const QString& path) {
    return confirmDiscard() && loadFile(path);
}

QStringList mainWindow::recentFiles() const {
    return QStringList(QSettings().value(RECENT_KEY).toStringList().mid(0, RECENT_FILES));
}

void mainWindow::rememberRecent(const QString& path) {
    QStringList files = recentFiles();
    const QString full = QFileInfo(path).absoluteFilePath();
    files.removeAll(full);
    files.prepend(full);
    QSettings().setValue(RECENT_KEY, QStringList(files.mid(0, RECENT_FILES)));
    buildRecentMenu();
}

void mainWindow::buildRecentMenu() {
    recentMenu->clear();
    const QStringList files = recentFiles();
    for (int i = 0; i < files.size(); ++i) {
        const QString path = files[i];
        QAction* entry = recentMenu->addAction(
            QStringLiteral("&%1 %2").arg(i + 1).arg(QFileInfo(path).fileName()));
        entry->setToolTip(path);
        entry->setStatusTip(path);
        connect(entry, &QAction::triggered, this, [this, path] {
            // A file that is gone leaves the list once the user was told.
            if (!openFile(path) && !QFileInfo::exists(path)) {
                QStringList rest = recentFiles();
                rest.removeAll(path);
                QSettings().setValue(RECENT_KEY, rest);
                buildRecentMenu();
            }
        });
    }
    recentMenu->setEnabled(!files.isEmpty() && ui->actionLoad->isEnabled());
}

namespace {

// The data file carried by a drag, empty when it carries none (only local kdf and dat files).
QString droppedFile(const QMimeData* mime) {
    if (!mime || !mime->hasUrls()) {
        return QString();
    }
    for (const QUrl& url : mime->urls()) {
        const QString suffix = QFileInfo(url.toLocalFile()).suffix().toLower();
        if (url.isLocalFile() &&
            (suffix == QLatin1String("kdf") || suffix == QLatin1String("dat"))) {
            return url.toLocalFile();
        }
    }
    return QString();
}

}  // namespace

void mainWindow::dragEnterEvent(QDragEnterEvent* event) {
    // Not while a scan runs (Load is disabled then).
    if (ui->actionLoad->isEnabled() && !droppedFile(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    }
}

void mainWindow::dropEvent(QDropEvent* event) {
    const QString path = droppedFile(event->mimeData());
    if (path.isEmpty() || !ui->actionLoad->isEnabled()) {
        return;
    }
    event->acceptProposedAction();
    openFile(path);
}

int mainWindow::offerRecovery(const QStringList& directories) {
    int recovered = 0;
    for (const recovery::unfinishedRun& run : recovery::findUnfinishedRuns(directories)) {
        if (run.writerAlive) {
            continue;
        }
        QMessageBox box(
            QMessageBox::Question, QStringLiteral("Recover unfinished measurement"),
            QStringLiteral("A measurement started %1 did not end; its data was last "
                           "saved %2.\n\nRecover unfinished measurement from %3?")
                .arg(run.started.toString(Qt::ISODate), run.saved.toString(Qt::ISODate), run.path),
            QMessageBox::Yes | QMessageBox::No | QMessageBox::Discard, this);
        box.setDefaultButton(QMessageBox::Yes);
        const int answer = box.exec();
        if (answer == QMessageBox::Discard) {
            recovery::discard(run.path);
            continue;
        }
        if (answer != QMessageBox::Yes) {
            continue;
        }
        // The data goes into an ordinary file first; the recovery file goes only after that.
        const QFileInfo info(run.path);
        const QString target = info.dir().filePath(
            QStringLiteral("recovered_") + info.completeBaseName() + QStringLiteral(".kdf"));
        std::unique_ptr<tarvoDataSet> data;
        try {
            data.reset(recovery::openUnfinishedRun(run.path));
        } catch (...) {
            data.reset();
        }
        if (data && !acceptTruncated(*data, run.path)) {
            continue;  // nothing in it to recover; the file stays
        }
        if (!data || !data->save(target)) {
            QMessageBox::warning(this, QStringLiteral("Recover unfinished measurement"),
                                 QStringLiteral("The measurement in %1 could not be recovered "
                                                "into %2; the file is kept.")
                                     .arg(run.path, target));
            continue;
        }
        recovery::discard(run.path);
        if (loadFile(target)) {
            ++recovered;
        }
    }
    return recovered;
}

void mainWindow::saveASCurrentDataSet() {
    if (ui->dataView->saveASCurrentData()) {
        rememberRecent(ui->dataView->dataSet()->filePath());
    }
    refreshTitle();
}

void mainWindow::saveCurrentData() {
    if (ui->dataView->saveCurrentData()) {
        rememberRecent(ui->dataView->dataSet()->filePath());
    }
    refreshTitle();
}

void mainWindow::exportData() {
    ui->dataView->exportData(exportOpts);
}

// ---- Dialogs -------------------------------------------------------------------------------

void mainWindow::graphControlDisplay(bool b) {
    graphics->setVisible(b);
}

void mainWindow::graphControlDisplay() {
    graphics->show();
    graphics->raise();
}

void mainWindow::about() {
    AboutDialog dialog(this);
    dialog.exec();
}

void mainWindow::aboutHw() {
    aboutHardwareDialog dialog(this);
    dialog.setDesc(systemDescription);
    dialog.setSensorTitle(cntrl.kalderSensor ? QStringLiteral("Kalder Sensor")
                                             : QStringLiteral("Tarvo Sensor"));
    dialog.exec();
}

void mainWindow::aboutData() {
    tarvoDataSet* data = ui->dataView->dataSet();
    if (!data) {
        return;
    }
    dataPropertiesDialog dialog(data, this);
    connect(&dialog, &dataPropertiesDialog::ionFluxUpdated, ui->dataView,
            &mainDataView::updateIonCorrectionFactor);
    dialog.exec();
}

void mainWindow::changeDerivative() {
    derivativeChoiceDialog dialog(this);
    if (dialog.exec() == QDialog::Accepted) {
        ui->dataView->changeDerivative(dialog.checkedId());
    }
}

void mainWindow::preferences() {
    // The wizard's own dialog, whose choices the panel reads when a scan ends.
    ui->instrumentControl->updatePreferences();
}

void mainWindow::setChannelMode(bool) {
    ui->dataView->setChannelMode(ui->actionSingle_Channel_Select->isChecked());
}

// ---- Help ----------------------------------------------------------------------------------

QString mainWindow::userGuidePath() {
    const QStringList places = {QDir::currentPath(), QString::fromUtf8(KALDER_DOC_DIR),
                                QCoreApplication::applicationDirPath()};
    for (const QString& dir : places) {
        if (dir.isEmpty()) {
            continue;
        }
        const QString path = QStringLiteral("%1/%2").arg(QDir(dir).absolutePath(), USER_GUIDE);
        if (QFileInfo::exists(path)) {
            return path;
        }
    }
    return QString();
}

void mainWindow::help() {
    const QString path = userGuidePath();
    if (!path.isEmpty()) {
        urlOpener()(QUrl::fromLocalFile(path));
    }
}

void mainWindow::corvaneWebsite() {
    urlOpener()(QUrl(QString::fromLatin1(WEB_SITE)));
}
