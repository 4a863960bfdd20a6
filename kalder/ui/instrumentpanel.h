// The control column of the main window. Once a sensor is connected it owns everything that
// touches the instrument at run time: the high-voltage switch, the idle electrode voltages,
// the start, repeat and stop of scans, the electrode-voltage and sync read-outs, the monitor
// thread, the running scan controller and the automatic saving of finished scans.
//
// Every call into the instrument object is serialised by deviceMutex. The panel holds it on a
// scan's behalf from the start of the scan to its end (the scan thread itself then calls the
// instrument without it); the monitor takes it for each reading.
#ifndef KALDER_UI_INSTRUMENTPANEL_H
#define KALDER_UI_INSTRUMENTPANEL_H

#include <QList>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <mutex>

#include "ui/idlevoltagesdialog.h"
#include "ui/scanwizard.h"
#include "ui/usernotifier.h"

class QLineEdit;
class QThread;
class TolmarCntrl;
class electrodeVoltageScanner;
class runCheckpoint;
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
    bool isScanning() const { return activeController != nullptr; }
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
    void scanEnded();
    void stopScan();
    void refreshElectrodeVoltage();
    void sensorDisconnected(int code);
    void syncFreqRefreshed(double freq, int retva);
    void resetSync();
    void estimatedScanDuration(double seconds);
    void scanAdvance();

private:
    void showStatusImage(const char* path);
    // Sends the idle voltages; the caller holds the device.
    void applyIdleVoltages();
    // The GUI thread's hold on deviceMutex. lockDevice waits for it (the monitor's readings are
    // short); both refuse to lock twice.
    bool lockDevice();
    void unlockDevice();
    // Takes the device for a scan without blocking the window: try, show the dialog, try again.
    void waitForDevice();
    void waitForHighVoltage();
    bool legacyUnit() const;
    // Runs the controller of a prepared scan in a new thread.
    void launchController();
    // Ends the controller's thread and deletes both.
    void finishController();
    // Stops a run that cannot end normally (sensor lost, panel closing) and releases the device.
    void abandonRun();
    void stopMonitor();
    // Automatic save and export of the finished scan; a failure is reported with the path and
    // leaves the data set with its receiver.
    void saveFinishedScan();
    // Starts the recovery checkpoints of the run that is being launched.
    void startCheckpoints();

    std::unique_ptr<Ui::instrumentPanel> ui;
    idleVoltagesDialog idleDlg;
    TolmarCntrl* cntrl = nullptr;
    scanWizard scanWiz;
    scanController* activeController = nullptr;
    QThread* scanThread = nullptr;
    QTimer evTimer;
    QTimer countdownTimer;
    // Recovery file of the running scan, written after each pass and at least once a minute.
    std::unique_ptr<runCheckpoint> checkpoint;
    QTimer checkpointTimer;
    double electrodeVoltage;
    bool sensorReady = false;
    bool hvEnabled = false;
    bool syncValid = false;
    std::mutex deviceMutex;
    bool holdingDevice = false;  // the GUI thread holds deviceMutex
    bool starting = false;       // doScan is under way
    std::function<bool()> scanGate;
    int nProbes = 0;
    int nVchan = 0;
    double remainingSeconds = 0.0;
    electrodeVoltageScanner* monitor = nullptr;
    QThread* monitorThread = nullptr;
    QList<QLineEdit*> precalEdits;
    bool legacyWarningPending = true;
    userNotifier defaultNotifier;
    userNotifier* notifier = &defaultNotifier;
    QString shownImage;
};

#endif  // KALDER_UI_INSTRUMENTPANEL_H
