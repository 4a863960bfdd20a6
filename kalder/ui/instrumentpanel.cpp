#include "ui/instrumentpanel.h"

#include <QApplication>
#include <QDateTime>
#include <QDebug>
#include <QLineEdit>
#include <QProgressBar>
#include <QProgressDialog>
#include <QSettings>
#include <QShortcut>
#include <QThread>
#include <cmath>
#include <limits>

#include "acquisition/electrodeoutputs.h"
#include "acquisition/electrodevoltagescanner.h"
#include "acquisition/pacing.h"
#include "acquisition/runcheckpoint.h"
#include "acquisition/scancontroller.h"
#include "acquisition/scanlauncher.h"
#include "data/recovery.h"
#include "data/tarvodataset.h"
#include "tolmar2/TolmarCntrl.h"
#include "ui/instrumentsettingsdialog.h"
#include "ui/outputranges.h"
#include "ui/resources.h"
#include "ui_instrumentpanel.h"

const char* const instrumentPanel::DISABLED_IMAGE = ":/images/images/Status Image Disabled.png";
const char* const instrumentPanel::ENABLED_IMAGE = ":/images/images/Status Image Enabled.png";
const char* const instrumentPanel::HV_IMAGE = ":/images/images/Status Image Enabled HV.png";
const char* const instrumentPanel::SCAN_IMAGE = ":/images/images/Status Image Enabled HV Scan.png";

namespace {

constexpr int MONITOR_PERIOD_MS = 2000;
constexpr int HV_SETTLING_MS = 5000;
constexpr int PRECAL_VALUES = 24;

// A progress dialog without buttons in its frame: it closes when the work is done.
QProgressDialog* busyDialog(const QString& label, QWidget* parent) {
    auto* dialog = new QProgressDialog(label, QString(), 0, 0, parent,
                                       Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    dialog->setCancelButton(nullptr);
    dialog->setMinimumDuration(0);
    return dialog;
}

QString voltageText(double volts) {
    return QStringLiteral(
               "<html><head/><body><p><span style=\" font-size:14pt;\">%1 </span><span "
               "style=\" font-size:9pt;\">V</span></p></body></html>")
        .arg(volts, 0, 'f', 1);
}

}  // namespace

instrumentPanel::instrumentPanel(QWidget* parent)
    : QWidget(parent),
      ui(std::make_unique<Ui::instrumentPanel>()),
      electrodeVoltage(std::numeric_limits<double>::quiet_NaN()),
      shownImage(QString::fromLatin1(DISABLED_IMAGE)) {
    ui->setupUi(this);
    showStatusImage(DISABLED_IMAGE);
    ui->secretBox->hide();
    for (int i = 0; i < PRECAL_VALUES; ++i) {
        auto* edit = new QLineEdit(ui->secretBox);
        edit->setReadOnly(true);
        ui->precalLayout->addRow(QString::number(i), edit);
        precalEdits << edit;
    }
    auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL + Qt::Key_F8), this);
    shortcut->setContext(Qt::ApplicationShortcut);
    connect(shortcut, &QShortcut::activated, this, &instrumentPanel::toggleSecretDisplay);

    connect(ui->enableHV, &QPushButton::toggled, this, &instrumentPanel::toggleHV);
    connect(ui->idleVoltages, &QPushButton::clicked, this, &instrumentPanel::idleVoltages);
    connect(ui->setScanButton, &QPushButton::clicked, this, &instrumentPanel::setUpScan);
    connect(ui->scanButton, &QPushButton::clicked, this, &instrumentPanel::doScan);
    connect(ui->stopScanButton, &QPushButton::clicked, this, &instrumentPanel::stopScan);
    connect(&countdownTimer, &QTimer::timeout, this, &instrumentPanel::scanAdvance);
    connect(&checkpointTimer, &QTimer::timeout, this, [this] {
        if (checkpoint) {
            checkpoint->tick();
        }
    });
    connect(&scanWiz, &scanWizard::resync, this, &instrumentPanel::resetSync);
    connect(&evTimer, &QTimer::timeout, this, &instrumentPanel::refreshElectrodeVoltage);
    evTimer.start(MONITOR_PERIOD_MS);
}

instrumentPanel::~instrumentPanel() {
    if (activeController) {
        abandonRun();
    }
    stopMonitor();
}

void instrumentPanel::setNotifier(userNotifier* n) {
    notifier = n ? n : &defaultNotifier;
}

void instrumentPanel::showStatusImage(const char* path) {
    shownImage = QString::fromLatin1(path);
    ui->totoEnString->setPixmap(kalderResources::pixmap(shownImage));
}

bool instrumentPanel::lockDevice() {
    if (holdingDevice) {
        return false;
    }
    deviceMutex.lock();
    holdingDevice = true;
    return true;
}

void instrumentPanel::unlockDevice() {
    if (holdingDevice) {
        holdingDevice = false;
        deviceMutex.unlock();
    }
}

bool instrumentPanel::legacyUnit() const {
    return !cntrl->alternateRows && !cntrl->kalderSensor;
}

void instrumentPanel::sensorConnected(TolmarCntrl* c) {
    sensorReady = true;
    showStatusImage(ENABLED_IMAGE);
    for (QWidget* w :
         {static_cast<QWidget*>(ui->enableHV), static_cast<QWidget*>(ui->idleVoltages),
          static_cast<QWidget*>(ui->setScanButton), static_cast<QWidget*>(ui->scanButton)}) {
        w->setEnabled(true);
    }
    cntrl = c;
    nProbes = cntrl->getNProbes();
    nVchan = cntrl->getNVchan();
    scanWiz.configureFor(*cntrl);
    idleDlg.setRanges(outputRanges::of(*cntrl));

    stopMonitor();
    monitor = new electrodeVoltageScanner(cntrl, &deviceMutex);
    monitorThread = new QThread(this);
    connect(monitor, &electrodeVoltageScanner::sensorDisconnected, this,
            &instrumentPanel::sensorDisconnected);
    connect(monitor, &electrodeVoltageScanner::evRefreshed, this, &instrumentPanel::updateEVLabel);
    connect(monitor, &electrodeVoltageScanner::syncFreqRefreshed, this,
            &instrumentPanel::syncFreqRefreshed);
    connect(monitorThread, &QThread::started, monitor, &electrodeVoltageScanner::start);
    connect(monitorThread, &QThread::finished, monitor, &QObject::deleteLater);
    connect(monitorThread, &QThread::finished, monitorThread, &QObject::deleteLater);
    monitor->moveToThread(monitorThread);
    monitorThread->start();
}

void instrumentPanel::stopMonitor() {
    if (!monitor) {
        return;
    }
    // The monitor may be waiting for the device: the caller does not hold it here.
    monitor->stop();
    monitorThread->quit();
    monitorThread->wait();
    monitor = nullptr;
    monitorThread = nullptr;
}

void instrumentPanel::toggleSecretDisplay() {
    ui->secretBox->setVisible(!ui->secretBox->isVisible());
}

void instrumentPanel::applyIdleVoltages() {
    ::applyIdleVoltages(*cntrl, idleDlg.instrumentVoltages());
}

void instrumentPanel::toggleHV(bool on) {
    if (!cntrl || !lockDevice()) {
        return;
    }
    ui->enableHV->setEnabled(false);
    std::unique_ptr<QProgressDialog> dialog(busyDialog(
        on ? tr("Turning on HV, please wait") : tr("Turning off HV, please wait"), this));
    dialog->show();
    QApplication::processEvents();
    hvEnabled = cntrl->setHVPSEnabled(on);
    if (hvEnabled && on) {
        applyIdleVoltages();
    }
    const bool stillConnected = cntrl->connected;
    unlockDevice();
    dialog.reset();

    ui->enableHV->setEnabled(true);
    if (hvEnabled) {
        emit HVtoggled(on);
        showStatusImage(on ? HV_IMAGE : ENABLED_IMAGE);
    } else if (stillConnected) {
        notifier->critical(this, tr("Failed to turn HVPS"),
                           tr("Unable to switch High voltage power supply, check connection "
                              "to sensor"));
    }
}

void instrumentPanel::idleVoltages() {
    idleDlg.readSettings();
    if (idleDlg.exec() != QDialog::Accepted || !cntrl) {
        return;
    }
    // During a scan the values are stored only; the scan's end sends them.
    if (!activeController && lockDevice()) {
        applyIdleVoltages();
        unlockDevice();
    }
}

void instrumentPanel::setUpScan() {
    if (scanWiz.configureScan()) {
        doScan();
    }
}

void instrumentPanel::waitForHighVoltage() {
    ui->enableHV->click();
    QApplication::processEvents();
    QProgressDialog dialog(tr("High Voltage Enabled.\r\nAllowing time for supplies to settle."),
                           QString(), 0, 100, this);
    dialog.setWindowTitle(tr("HV Settling Delay"));
    dialog.setCancelButton(nullptr);
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setMinimumDuration(0);
    if (auto* bar = dialog.findChild<QProgressBar*>()) {
        bar->setTextVisible(false);
    }
    dialog.show();
    pacing::stopwatch settling;
    settling.start();
    for (qint64 t = settling.elapsed(); t < HV_SETTLING_MS; t = settling.elapsed()) {
        dialog.setValue(static_cast<int>(t / 50));
        pacing::pause(100);
        QApplication::processEvents();
    }
}

void instrumentPanel::waitForDevice() {
    std::unique_ptr<QProgressDialog> dialog;
    int progress = 0;
    while (!deviceMutex.try_lock()) {
        pacing::pause(50);
        if (!dialog) {
            dialog.reset(busyDialog(tr("Waiting for sensor to settle, please wait"), this));
            dialog->setRange(0, 100);
        }
        dialog->show();
        QApplication::processEvents();
        dialog->setValue(++progress % 100);
    }
    holdingDevice = true;
}

void instrumentPanel::doScan() {
    if (!sensorReady || !cntrl || starting || activeController) {
        return;
    }
    if (!mayStartScan()) {
        return;
    }
    starting = true;
    if (legacyUnit() && legacyWarningPending) {
        notifier->warning(
            this, tr("Legacy Kalder Hardware Detected"),
            tr("Please make sure the cabling is correct,\n if you have used this sensor as a "
               "\"Tarvo\" before,\n please make sure that the probe plug labeled G2 is connected "
               "to the sensor plug labeled G3,\n and that the probe plug labeled G3 is connected "
               "to the sensor plug labeled G2"));
        legacyWarningPending = false;
    }
    scanWiz.readSettings();
    const int type = scanWiz.scanType();
    if (!ui->enableHV->isChecked() && type != TemperatureScan) {
        waitForHighVoltage();
    }
    if (type == TimeResolvedScan && !syncValid) {
        notifier->warning(this, tr("No valid sync signal"),
                          tr("Impossible to start time resolved scan, no valid sync signal "
                             "detected. Please check connection."));
        starting = false;
        return;
    }
    waitForDevice();
    // The connection may have been lost while the window waited.
    if (!sensorReady) {
        unlockDevice();
        starting = false;
        return;
    }
    const scanLaunch launch = prepareScan(cntrl, &scanWiz, electrodeVoltage);
    if (launch.outcome != scanLaunch::Ready) {
        unlockDevice();
        starting = false;
        if (launch.outcome == scanLaunch::TooManySteps) {
            notifier->critical(this, tr("Too many steps in scan"),
                               tr("Scan configuration invalid. \n current scan has %1 steps, this "
                                  "unit can handle scans of 4096 steps max.")
                                   .arg(launch.steps));
        }
        return;
    }
    activeController = launch.controller;
    scanWiz.writeSettingsInto(launch.dataSet);
    writeScanMetadata(launch.dataSet, cntrl);
    launchController();

    showStatusImage(SCAN_IMAGE);
    ui->setScanButton->setEnabled(false);
    ui->scanButton->setEnabled(false);
    ui->enableHV->setEnabled(false);
    ui->stopScanButton->setEnabled(true);
    ui->stopScanButton->setText(tr("Stop"));
    ui->progressBar->setValue(0);
    starting = false;
    emit newScanStarted(launch.dataSet);
}

void instrumentPanel::launchController() {
    scanController* c = activeController;
    scanThread = new QThread(this);
    connect(c, &scanController::scanEnded, this, &instrumentPanel::scanEnded);
    connect(c, &scanController::estimatedDelay, this, &instrumentPanel::estimatedScanDuration);
    connect(c, &scanController::scanProgress, ui->progressBar, &QProgressBar::setValue);
    connect(c, &scanController::scanProgress, this, &instrumentPanel::scanProgress);
    connect(c, &scanController::scanCounter, this, &instrumentPanel::scanNumber);
    connect(c, &scanController::sensorDisconnected, this, &instrumentPanel::sensorDisconnected);
    connect(c, &scanController::evUpdate, this, &instrumentPanel::updateEVLabel);
    connect(c, &scanController::scanDuration, this, &instrumentPanel::updateDuration);
    connect(c, &scanController::ARCounter, this, &instrumentPanel::ARCounter);
    connect(scanThread, &QThread::started, c, &scanController::startScan);
    connect(scanThread, &QThread::finished, scanThread, &QObject::deleteLater);
    startCheckpoints();
    c->moveToThread(scanThread);
    scanThread->start();
}

void instrumentPanel::startCheckpoints() {
    preferencesDialog& prefs = scanWiz.preferences();
    checkpoint = std::make_unique<runCheckpoint>(
        activeController->data(), recovery::directoryFor(prefs.useAutosave(), prefs.targetPath()),
        activeController->typeName());
    // Pass n starting means pass n - 1 is complete.
    connect(activeController, &scanController::scanCounter, this, [this](int pass) {
        if (checkpoint && pass > 1) {
            checkpoint->passCompleted();
        }
    });
    connect(activeController, &scanController::scanProgress, this, [this] {
        if (checkpoint) {
            checkpoint->tick();
        }
    });
    checkpointTimer.start(1000);
}

void instrumentPanel::finishController() {
    // The controller's last act is its final signal; its thread ends right after.
    scanThread->quit();
    scanThread->wait();
    checkpointTimer.stop();
    checkpoint.reset();
    delete activeController;
    activeController = nullptr;
    scanThread = nullptr;
}

void instrumentPanel::saveFinishedScan() {
    preferencesDialog& prefs = scanWiz.preferences();
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyMMddhhmmsszzz"));
    const QString type = activeController->typeName();
    QString error;
    if (prefs.useAutosave()) {
        const QString path = autosaveName(prefs.targetPath(), prefs.filePrefix(), type, stamp,
                                          QStringLiteral("kdf"));
        if (activeController->saveDataSet(path, &error)) {
            checkpoint->finish();
        } else {
            // The recovery file, brought up to date, keeps the run until it is saved.
            checkpoint->save();
            notifier->critical(this, tr("Automatic save failed"),
                               tr("The scan could not be saved as\n%1\n%2\nThe data stays open "
                                  "and can be saved by hand.")
                                   .arg(path, error));
        }
    } else {
        // The run ended and its data is in the user's hands, as without a recovery file.
        checkpoint->finish();
    }
    const auto exportFailed = [&](const QString& path) {
        notifier->critical(this, tr("Automatic export failed"),
                           tr("The scan could not be exported as\n%1\n%2\nThe data stays "
                              "open and can be exported by hand.")
                               .arg(path, error));
    };
    if (prefs.useAutoexport()) {
        const QString path = autosaveName(prefs.targetPath(), prefs.filePrefix(), type, stamp,
                                          QStringLiteral("csv"));
        QSettings settings;
        if (!activeController->exportDataSet(path, exportChoices::load(settings), &error)) {
            exportFailed(path);
        }
    }
    // HDF5 beside the CSV file: every trace and result, for analysis tools.
    if (prefs.useAutoexportHdf5()) {
        const QString path =
            autosaveName(prefs.targetPath(), prefs.filePrefix(), type, stamp, QStringLiteral("h5"));
        if (!activeController->exportHdf5(path, &error)) {
            exportFailed(path);
        }
    }
}

void instrumentPanel::scanEnded() {
    if (!activeController) {
        return;  // already ended by a disconnection
    }
    countdownTimer.stop();
    // The data set is complete once the controller's thread has ended.
    scanThread->quit();
    scanThread->wait();
    saveFinishedScan();
    finishController();

    showStatusImage(HV_IMAGE);
    ui->setScanButton->setEnabled(true);
    ui->scanButton->setEnabled(true);
    ui->enableHV->setEnabled(true);
    ui->stopScanButton->setText(tr("Stop"));
    ui->stopScanButton->setEnabled(false);
    // The idle voltages go out before the device is released, so that the monitor's next
    // reading never overlaps them.
    applyIdleVoltages();
    unlockDevice();
    emit scanDone();
}

void instrumentPanel::stopScan() {
    if (!activeController) {
        return;
    }
    ui->stopScanButton->setText(tr("Stopping..."));
    activeController->stopScan();
}

void instrumentPanel::refreshElectrodeVoltage() {
    if (sensorReady && cntrl && !activeController && monitor) {
        monitor->wake();
    }
}

void instrumentPanel::abandonRun() {
    activeController->stopScan();
    // The run did not end: its recovery file, brought up to date, stays.
    scanThread->quit();
    scanThread->wait();
    checkpoint->save();
    finishController();
    unlockDevice();
}

void instrumentPanel::sensorDisconnected(int code) {
    if (!sensorReady && !activeController && !monitor) {
        return;  // reported twice (monitor and controller)
    }
    qDebug() << "sensor lost, code" << code;
    countdownTimer.stop();
    if (activeController) {
        abandonRun();
        emit scanDone();
    }
    stopMonitor();
    emit sensorDisconnection();

    ui->enableHV->blockSignals(true);
    ui->enableHV->setChecked(false);
    ui->enableHV->blockSignals(false);
    ui->enableHV->setEnabled(false);
    ui->idleVoltages->setEnabled(false);
    ui->scanButton->setEnabled(false);
    ui->setScanButton->setEnabled(false);
    ui->stopScanButton->setText(tr("Stop"));
    ui->stopScanButton->setEnabled(false);
    sensorReady = false;
    hvEnabled = false;
    syncValid = false;
}

void instrumentPanel::updateEVLabel(double ev, double minEv, bool) {
    electrodeVoltage = ev;
    scanWiz.setElectrodeVoltage(ev);
    ui->minEvLabel->setVisible(syncValid);
    ui->trEVmin->setVisible(syncValid);
    ui->evDisplay->setText(std::isnan(ev) ? QStringLiteral("-") : voltageText(ev));
    if (syncValid) {
        ui->trEVmin->setText(std::isnan(minEv) ? QStringLiteral("---") : voltageText(minEv));
    }
    // The service read-outs come from the instrument: only between scans, and only when no
    // reading holds it.
    if (!ui->secretBox->isVisible() || !cntrl || !sensorReady || activeController ||
        holdingDevice || !deviceMutex.try_lock()) {
        return;
    }
    double base[4] = {0, 0, 0, 0};
    double precal[PRECAL_VALUES] = {};
    cntrl->getBaseVoltages(&base[0], &base[1], &base[2], &base[3]);
    cntrl->getPrecalVals(precal, PRECAL_VALUES);
    deviceMutex.unlock();
    ui->cDisp->setText(QString::number(base[0], 'g', 6));
    ui->g0Disp->setText(QString::number(base[1], 'g', 6));
    ui->g2Disp->setText(QString::number(base[2], 'g', 6));
    ui->g3Disp->setText(QString::number(base[3], 'g', 6));
    for (int i = 0; i < PRECAL_VALUES; ++i) {
        precalEdits[i]->setText(QString::number(precal[i]));
    }
}

void instrumentPanel::syncFreqRefreshed(double freq, int retva) {
    syncValid = retva > 0;
    scanWiz.updateSyncFreq(freq, retva);
    emit syncFreq(freq, retva);
}

void instrumentPanel::resetSync() {
    if (monitor) {
        monitor->resetSyncSignal();
    }
}

void instrumentPanel::estimatedScanDuration(double seconds) {
    remainingSeconds = seconds * 1.7;
    countdownTimer.start(1000);
}

void instrumentPanel::scanAdvance() {
    remainingSeconds -= 1.0;
    emit updateDuration(remainingSeconds);
}

void instrumentPanel::updatePreferences() {
    scanWiz.updatePreferences();
}

void instrumentPanel::updateInstrumentSettings() {
    if (!cntrl) {
        return;
    }
    if (activeController || !lockDevice()) {
        notifier->warning(this, tr("Scan running"),
                          tr("The instrument settings can be changed when the scan has ended."));
        return;
    }
    instrumentSettingsDialog dialog(cntrl, this);
    if (dialog.exec() == QDialog::Accepted && sensorReady) {
        dialog.writeRecord();
    }
    unlockDevice();
}
