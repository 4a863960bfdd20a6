// One acquisition session for one instrument object: everything that touches the unit at run
// time, for the program's instrument panel and for kalder-cli alike. The session owns
// deviceMutex, the monitoring thread, a run's scan controller and its thread, the run's recovery
// checkpoints, the saving of a finished run and the return to the idle voltages; it abandons a
// run when the sensor is lost or the session is destroyed. Views observe it through its signals
// and command it through its slots; they never call the unit while a run holds it.
//
// Threads: the session lives in the thread that creates it (the GUI thread, or the command
// line's main thread), which also holds deviceMutex on a run's behalf from its start to its end.
// The monitor and the controller are worker objects moved to QThreads of their own; their
// signals reach the session queued.
#ifndef KALDER_ACQUISITION_ACQUISITIONSESSION_H
#define KALDER_ACQUISITION_ACQUISITIONSESSION_H

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <mutex>

#include "acquisition/electrodeoutputs.h"
#include "acquisition/scanlauncher.h"

class QThread;
class TolmarCntrl;
class electrodeVoltageScanner;
class runCheckpoint;
class scanController;
class scanSettings;
class tarvoDataSet;

class acquisitionSession : public QObject {
    Q_OBJECT

public:
    // What happens to a run's data at its end. save runs in the session's thread once the
    // controller's thread has ended; it returns whether the data is safe (saved, or left in the
    // user's hands), which removes the recovery file; otherwise the file, brought up to date,
    // keeps the run.
    struct runPlan {
        QString recoveryDirectory;  // empty: no checkpoints
        std::function<bool(scanController&)> save;
        bool saveWhenLost = false;  // also save a run the sensor was lost in
        // The idle voltages, asked for when the run has ended (they may change meanwhile);
        // none sent when empty.
        std::function<electrodeVoltages()> idle;
        int passes = 0;  // multiple scans: the run ends after this many passes (0: by time)
    };

    explicit acquisitionSession(QObject* parent = nullptr);
    ~acquisitionSession() override;

    // Takes up a connected unit (not owned) and, when asked, starts the monitor on it.
    void attach(TolmarCntrl* unit, bool monitored = true);
    TolmarCntrl* unit() const { return cntrl; }
    bool isAttached() const { return cntrl != nullptr; }
    bool isRunning() const { return controller != nullptr; }
    scanController* runningController() const { return controller; }

    // The session thread's hold on deviceMutex, for short calls between runs. lockDevice
    // waits (the monitor's readings are short); tryLockDevice does not. Neither locks twice.
    bool lockDevice();
    bool tryLockDevice();
    void unlockDevice();
    bool holdsDevice() const { return holding; }
    // Takes the device for a run without blocking: deviceAvailable follows once the session
    // holds it (at once when it is free). cancelDeviceRequest gives up waiting.
    void requestDevice();
    void cancelDeviceRequest();

    // Programs the scan the settings describe; the session must hold the device. A scan that
    // is not Ready releases it. On Ready the data set and controller exist, and the caller may
    // fill the data set's settings before launchRun.
    scanLaunch prepareRun(scanSettings* settings, double electrodeVoltage);
    // Starts the prepared controller in its thread; runStarted hands the data set over.
    void launchRun(const runPlan& plan);

public slots:
    // Asks the run to stop; it ends as a finished run (runEnded).
    void stopRun();
    // One monitor reading (ignored during a run).
    void wakeMonitor();
    // The monitor's next sync query restarts the frequency measurement.
    void resetSync();
    // The sensor is gone: abandons a run, stops the monitor, forgets the unit.
    void sensorLost(int code);

signals:
    void deviceAvailable();
    void waitingForDevice();
    // The receiver takes the data set over (also when saving it fails).
    void runStarted(tarvoDataSet* dataSet);
    void passStarted(int pass);
    void progress(int percent);
    void aspectRatio(double ratio);
    void electrodeVoltage(double ev, double minEv, bool timeResolved);
    void estimatedDuration(double seconds);
    void elapsed(double seconds);
    // After the save and the idle voltages; the device is free again.
    void runEnded();
    // A run that could not end (lost sensor, session closing); code as the controller said.
    void runAbandoned(int code);
    // The monitor's readings.
    void evRefreshed(double ev, double minEv, bool syncPresent);
    void syncFreqRefreshed(double freq, int status);
    // The sensor was lost (by the monitor or a run); the session has let the unit go.
    void disconnected(int code);

private:
    void runFinished();
    void stopMonitor();
    // Ends the controller's thread; the data set is complete afterwards.
    void joinController();
    // Removes the recovery file when the data is safe, else brings it up to date; deletes
    // the controller and its thread.
    void closeRun(bool dataSafe);
    void abandonRun(int code);
    void startCheckpoints();
    void retryDevice();

    TolmarCntrl* cntrl = nullptr;
    std::mutex deviceMutex;
    bool holding = false;
    QTimer deviceRetry;
    electrodeVoltageScanner* monitor = nullptr;
    QThread* monitorThread = nullptr;
    scanController* controller = nullptr;
    tarvoDataSet* dataSet = nullptr;
    QThread* scanThread = nullptr;
    runPlan plan;
    // Written after each pass and at least once a minute while a run goes on.
    std::unique_ptr<runCheckpoint> checkpoint;
    QTimer checkpointTimer;
};

#endif  // KALDER_ACQUISITION_ACQUISITIONSESSION_H
