// Reads the electrode voltage and the state of the sync input whenever it is woken, in a thread
// of its own, and reports them with signals. A sync query that reports a lost sensor ends it.
#ifndef KALDER_ACQUISITION_ELECTRODEVOLTAGESCANNER_H
#define KALDER_ACQUISITION_ELECTRODEVOLTAGESCANNER_H

#include <QObject>
#include <atomic>
#include <condition_variable>
#include <mutex>

class TolmarCntrl;

class electrodeVoltageScanner : public QObject {
    Q_OBJECT

public:
    // deviceMutex serialises every use of the instrument; it belongs to the caller.
    electrodeVoltageScanner(TolmarCntrl* cntrl, std::mutex* deviceMutex, QObject* parent = nullptr);

signals:
    void sensorDisconnected(int code);
    void evRefreshed(double ev, double minEv, bool syncPresent);
    void syncFreqRefreshed(double freq, int status);

public slots:
    // The loop; runs until stop() or a lost sensor. Connected to the thread's started().
    void start();
    // The next sync query restarts the frequency measurement.
    void resetSyncSignal();
    // Starts one reading (from any thread).
    void wake();
    // Ends the loop (from any thread).
    void stop();

private:
    TolmarCntrl* cntrl;
    std::condition_variable waitCondition;
    std::atomic<bool> syncReset{true};
    std::mutex waitMutex;  // guards wakeups
    std::mutex* deviceMutex;
    std::atomic<bool> active{true};
    unsigned wakeups = 0;  // under waitMutex
};

#endif  // KALDER_ACQUISITION_ELECTRODEVOLTAGESCANNER_H
