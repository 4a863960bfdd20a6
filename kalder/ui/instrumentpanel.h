// The control column of the main window: the view and controls of the acquisition session
// that owns the connected sensor at run time. It shows the status, the electrode-voltage and
// sync read-outs and the progress, and offers the high-voltage switch, the idle electrode
// voltages and the start, repeat and stop of scans, with the message boxes of each. The
// session runs the monitor, the scan controller in its thread, the checkpoints and the
// automatic saving of finished scans.
#ifndef KALDER_UI_INSTRUMENTPANEL_H
#define KALDER_UI_INSTRUMENTPANEL_H

#include <QList>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

#include "acquisition/acquisitionsession.h"
#include "ui/idlevoltagesdialog.h"
#include "ui/scanwizard.h"
#include "ui/usernotifier.h"

class QLineEdit;
class QProgressDialog;
class TolmarCntrl;
class scanController;
class tarvoDataSet;

namespace Ui {
class instrumentPanel;
}

class instrumentPanel : public QWidget {
    Q_OBJECT

public:
    explicit instrumentPanel(QWidget* parent = nullptr);
    ~instrumentPanel() override;

    // The main window calls this when its sensor handler reported a usable unit. The object
    // stays the caller's.
    void sensorConnected(TolmarCntrl* cntrl);

    scanWizard& wizard() { return scanWiz; }
    idleVoltagesDialog& idleDialog() { return idleDlg; }
    bool isSensorReady() const { return sensorReady; }
    bool isScanning() const { return session.isRunning(); }
    // Between the press of a scan button and the start of the scan (or its refusal).
    bool isStarting() const { return starting; }
    acquisitionSession& acquisition() { return session; }
    // Asked before a scan starts; a scan starts only when it answers true (the main window
    // offers to save the data shown).
    void setScanGate(std::function<bool()> gate) { scanGate = std::move(gate); }
    bool mayStartScan() const { return !scanGate || scanGate(); }
    // Message boxes go through the notifier (not owned; nullptr restores the modal boxes).
    void setNotifier(userNotifier* notifier);

    // Status images.
    static const char* const DISABLED_IMAGE;
    static const char* const ENABLED_IMAGE;
    static const char* const HV_IMAGE;
    static const char* const SCAN_IMAGE;
    // The image shown now (one of the four).
    QString statusImage() const { return shownImage; }

signals:
    // A scan started; the receiver takes the data set over (also when saving it fails).
    void newScanStarted(tarvoDataSet* dataSet);
    void syncFreq(double freq, int status);
    void HVtoggled(bool on);
    void scanDone();
    // The sensor was lost; the main window hands the unit back to the sensor handler.
    void sensorDisconnection();
    void scanProgress(int percent);
    void scanNumber(int count);
    void updateDuration(double seconds);
    void ARCounter(double aspectRatio);

public slots:
    void updatePreferences();
    void updateEVLabel(double ev, double minEv, bool flag);
    void updateInstrumentSettings();

private slots:
    void toggleSecretDisplay();
    void toggleHV(bool on);
    void idleVoltages();
    void setUpScan();
    void doScan();
    void startWithDevice();
    void scanEnded();
    void stopScan();
    void refreshElectrodeVoltage();
    void sensorDisconnected(int code);
    void syncFreqRefreshed(double freq, int retva);
    void estimatedScanDuration(double seconds);
    void scanAdvance();

private:
    void showStatusImage(const char* path);
    // Sends the idle voltages; the caller holds the device.
    void applyIdleVoltages();
    void waitForHighVoltage();
    bool legacyUnit() const;
    // Automatic save and export of the finished scan; a failure is reported with the path and
    // leaves the data set with its receiver. Whether the data is safe.
    bool saveFinishedScan(scanController& controller);

    std::unique_ptr<Ui::instrumentPanel> ui;
    idleVoltagesDialog idleDlg;
    TolmarCntrl* cntrl = nullptr;
    scanWizard scanWiz;
    acquisitionSession session;
    QTimer evTimer;
    QTimer countdownTimer;
    // Shown while a scan waits for the monitor to release the device.
    std::unique_ptr<QProgressDialog> deviceWait;
    double electrodeVoltage;
    bool sensorReady = false;
    bool hvEnabled = false;
    bool syncValid = false;
    bool starting = false;  // a scan button was pressed and its scan has not started yet
    std::function<bool()> scanGate;
    int nProbes = 0;
    int nVchan = 0;
    double remainingSeconds = 0.0;
    QList<QLineEdit*> precalEdits;
    bool legacyWarningPending = true;
    userNotifier defaultNotifier;
    userNotifier* notifier = &defaultNotifier;
    QString shownImage;
};

#endif  // KALDER_UI_INSTRUMENTPANEL_H
