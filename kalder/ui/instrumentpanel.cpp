#include "ui/instrumentpanel.h"

#include <QApplication>
#include <QDateTime>
#include <QDebug>
#include <QLineEdit>
#include <QProgressBar>
#include <QProgressDialog>
#include <QSettings>
#include <QShortcut>
#include <cmath>
#include <limits>

#include "acquisition/electrodeoutputs.h"
#include "acquisition/pacing.h"
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
    connect(&scanWiz, &scanWizard::resync, &session, &acquisitionSession::resetSync);

    connect(&session, &acquisitionSession::deviceAvailable, this,
            &instrumentPanel::startWithDevice);
    connect(&session, &acquisitionSession::waitingForDevice, this, [this] {
        deviceWait.reset(busyDialog(tr("Waiting for sensor to settle, please wait"), this));
        deviceWait->setRange(0, 0);
        deviceWait->show();
    });
    connect(&session, &acquisitionSession::runStarted, this, &instrumentPanel::newScanStarted);
    connect(&session, &acquisitionSession::runEnded, this, &instrumentPanel::scanEnded);
    connect(&session, &acquisitionSession::runAbandoned, this, [this] {
        countdownTimer.stop();
        emit scanDone();
    });
    connect(&session, &acquisitionSession::disconnected, this,
            &instrumentPanel::sensorDisconnected);
    connect(&session, &acquisitionSession::evRefreshed, this, &instrumentPanel::updateEVLabel);
    connect(&session, &acquisitionSession::syncFreqRefreshed, this,
            &instrumentPanel::syncFreqRefreshed);
    connect(&session, &acquisitionSession::electrodeVoltage, this, &instrumentPanel::updateEVLabel);
    connect(&session, &acquisitionSession::estimatedDuration, this,
            &instrumentPanel::estimatedScanDuration);
    connect(&session, &acquisitionSession::progress, ui->progressBar, &QProgressBar::setValue);
    connect(&session, &acquisitionSession::progress, this, &instrumentPanel::scanProgress);
    connect(&session, &acquisitionSession::passStarted, this, &instrumentPanel::scanNumber);
    connect(&session, &acquisitionSession::elapsed, this, &instrumentPanel::updateDuration);
    connect(&session, &acquisitionSession::aspectRatio, this, &instrumentPanel::ARCounter);
    connect(&evTimer, &QTimer::timeout, this, &instrumentPanel::refreshElectrodeVoltage);
    evTimer.start(MONITOR_PERIOD_MS);
}

instrumentPanel::~instrumentPanel() {
    // The session abandons a run that is still going and stops its monitor before the
    // wizard and the dialogs it reads go.
    session.cancelDeviceRequest();
    disconnect(&session, nullptr, this, nullptr);
}

void instrumentPanel::setNotifier(userNotifier* n) {
    notifier = n ? n : &defaultNotifier;
}

void instrumentPanel::showStatusImage(const char* path) {
    shownImage = QString::fromLatin1(path);
    ui->totoEnString->setPixmap(kalderResources::pixmap(shownImage));
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

    session.attach(cntrl);
}

void instrumentPanel::toggleSecretDisplay() {
    ui->secretBox->setVisible(!ui->secretBox->isVisible());
}

void instrumentPanel::applyIdleVoltages() {
    ::applyIdleVoltages(*cntrl, idleDlg.instrumentVoltages());
}

void instrumentPanel::toggleHV(bool on) {
    if (!cntrl || !session.lockDevice()) {
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
    session.unlockDevice();
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
    if (!session.isRunning() && session.lockDevice()) {
        applyIdleVoltages();
        session.unlockDevice();
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

void instrumentPanel::doScan() {
    if (!sensorReady || !cntrl || starting || session.isRunning()) {
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
    // The scan goes on in startWithDevice once the session holds the device.
    session.requestDevice();
}

void instrumentPanel::startWithDevice() {
    deviceWait.reset();
    // The connection may have been lost while the window waited.
    if (!sensorReady || !starting) {
        session.unlockDevice();
        starting = false;
        return;
    }
    const scanLaunch launch = session.prepareRun(&scanWiz, electrodeVoltage);
    if (launch.outcome != scanLaunch::Ready) {
        starting = false;
        if (launch.outcome == scanLaunch::TooManySteps) {
            notifier->critical(this, tr("Too many steps in scan"),
                               tr("Scan configuration invalid. \n current scan has %1 steps, this "
                                  "unit can handle scans of 4096 steps max.")
                                   .arg(launch.steps));
        }
        return;
    }
    scanWiz.writeSettingsInto(launch.dataSet);
    preferencesDialog& prefs = scanWiz.preferences();
    acquisitionSession::runPlan plan;
    plan.recoveryDirectory = recovery::directoryFor(prefs.useAutosave(), prefs.targetPath());
    plan.save = [this](scanController& c) { return saveFinishedScan(c); };
    plan.idle = [this] { return idleDlg.instrumentVoltages(); };
    // The progress display and the buttons change before the data set goes to its receiver.
    showStatusImage(SCAN_IMAGE);
    ui->setScanButton->setEnabled(false);
    ui->scanButton->setEnabled(false);
    ui->enableHV->setEnabled(false);
    ui->stopScanButton->setEnabled(true);
    ui->stopScanButton->setText(tr("Stop"));
    ui->progressBar->setValue(0);
    starting = false;
    session.launchRun(plan);
}

bool instrumentPanel::saveFinishedScan(scanController& controller) {
    preferencesDialog& prefs = scanWiz.preferences();
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyMMddhhmmsszzz"));
    const QString type = controller.typeName();
    QString error;
    bool safe = true;
    if (prefs.useAutosave()) {
        const QString path = autosaveName(prefs.targetPath(), prefs.filePrefix(), type, stamp,
                                          QStringLiteral("kdf"));
        if (!controller.saveDataSet(path, &error)) {
            // The recovery file, brought up to date, keeps the run until it is saved.
            safe = false;
            notifier->critical(this, tr("Automatic save failed"),
                               tr("The scan could not be saved as\n%1\n%2\nThe data stays open "
                                  "and can be saved by hand.")
                                   .arg(path, error));
        }
    }
    // Without autosave the run ended and its data is in the user's hands, as without a
    // recovery file.
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
        if (!controller.exportDataSet(path, exportChoices::load(settings), &error)) {
            exportFailed(path);
        }
    }
    // HDF5 beside the CSV file: every trace and result, for analysis tools.
    if (prefs.useAutoexportHdf5()) {
        const QString path =
            autosaveName(prefs.targetPath(), prefs.filePrefix(), type, stamp, QStringLiteral("h5"));
        if (!controller.exportHdf5(path, &error)) {
            exportFailed(path);
        }
    }
    return safe;
}

void instrumentPanel::scanEnded() {
    countdownTimer.stop();
    showStatusImage(HV_IMAGE);
    ui->setScanButton->setEnabled(true);
    ui->scanButton->setEnabled(true);
    ui->enableHV->setEnabled(true);
    ui->stopScanButton->setText(tr("Stop"));
    ui->stopScanButton->setEnabled(false);
    emit scanDone();
}

void instrumentPanel::stopScan() {
    if (!session.isRunning()) {
        return;
    }
    ui->stopScanButton->setText(tr("Stopping..."));
    session.stopRun();
}

void instrumentPanel::refreshElectrodeVoltage() {
    if (sensorReady && cntrl) {
        session.wakeMonitor();
    }
}

void instrumentPanel::sensorDisconnected(int) {
    // The session has abandoned a run (its recovery file stays) and stopped the monitor.
    countdownTimer.stop();
    deviceWait.reset();
    starting = false;
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
    if (!ui->secretBox->isVisible() || !cntrl || !sensorReady || session.isRunning() ||
        !session.tryLockDevice()) {
        return;
    }
    double base[4] = {0, 0, 0, 0};
    double precal[PRECAL_VALUES] = {};
    cntrl->getBaseVoltages(&base[0], &base[1], &base[2], &base[3]);
    cntrl->getPrecalVals(precal, PRECAL_VALUES);
    session.unlockDevice();
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
    if (session.isRunning() || !session.lockDevice()) {
        notifier->warning(this, tr("Scan running"),
                          tr("The instrument settings can be changed when the scan has ended."));
        return;
    }
    instrumentSettingsDialog dialog(cntrl, this);
    if (dialog.exec() == QDialog::Accepted && sensorReady) {
        dialog.writeRecord();
    }
    session.unlockDevice();
}
