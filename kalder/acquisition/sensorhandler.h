// Notices when the sensor electronics appear: a worker thread tries to connect every two
// seconds while no sensor is connected, and the handler tells the window when a usable unit
// (or one this program cannot drive) answered.
#ifndef KALDER_ACQUISITION_SENSORHANDLER_H
#define KALDER_ACQUISITION_SENSORHANDLER_H

#include <QObject>
#include <QThread>
#include <atomic>

class TolmarCntrl;
class sensorHandler;

// The polling loop, a worker object run in the handler's thread.
class sensorPoller : public QObject {
    Q_OBJECT

public:
    static constexpr int POLL_INTERVAL_MS = 2000;
    static constexpr int CONNECTED_INTERVAL_MS = 500;

    explicit sensorPoller(sensorHandler* handler) : handler(handler) {}
    // Ends the loop (from any thread).
    void finish() { running = false; }

public slots:
    // Runs until finish(); connected to the thread's started().
    void run();

private:
    // Sleeps ms in short slices so that finish() takes effect quickly.
    void doze(int ms);

    sensorHandler* handler;
    std::atomic<bool> running{true};
};

class sensorHandler : public QObject {
    Q_OBJECT

public:
    // Starts polling at once.
    explicit sensorHandler(TolmarCntrl* cntrl, QObject* parent = nullptr);
    ~sensorHandler() override;

    bool isConnected() const { return connected; }
    // Whether this program drives the connected unit: option bit 9 marks the aspect-ratio
    // family, bit 8 alone a unit it cannot drive.
    static bool usableUnit(const TolmarCntrl& unit);

signals:
    // Emitted in the handler's thread.
    void sensorConnection();
    // Emitted in the poll thread.
    void invalidSensor();

public slots:
    // Closes the connection and resumes polling.
    void sensorDisconnect();

private:
    friend class sensorPoller;
    // One connection attempt, from the poll thread.
    void poll();

    TolmarCntrl* cntrl;
    std::atomic<bool> connected{false};
    sensorPoller* poller;
    QThread* thread;
};

#endif  // KALDER_ACQUISITION_SENSORHANDLER_H
