#include "acquisition/sensorhandler.h"

#include <algorithm>

#include "acquisition/pacing.h"
#include "tolmar2/TolmarCntrl.h"

void sensorPoller::doze(int ms) {
    constexpr int slice = 50;
    for (int left = ms; left > 0 && running; left -= slice) {
        pacing::pause(std::min(slice, left));
    }
}

void sensorPoller::run() {
    doze(POLL_INTERVAL_MS);
    while (running) {
        if (!handler->connected) {
            handler->poll();
            doze(POLL_INTERVAL_MS);
        } else {
            doze(CONNECTED_INTERVAL_MS);
        }
    }
}

sensorHandler::sensorHandler(TolmarCntrl* cntrl, QObject* parent)
    : QObject(parent), cntrl(cntrl), poller(new sensorPoller(this)), thread(new QThread) {
    poller->moveToThread(thread);
    connect(thread, &QThread::started, poller, &sensorPoller::run);
    thread->start(QThread::LowPriority);
}

sensorHandler::~sensorHandler() {
    // The loop ends within one sleep slice or one connection attempt; the thread is not
    // terminated, which could leave the instrument half configured.
    poller->finish();
    thread->quit();
    thread->wait();
    delete poller;
    delete thread;
}

bool sensorHandler::usableUnit(const TolmarCntrl& unit) {
    return unit.kalderSensor || !unit.alternateRows;
}

void sensorHandler::poll() {
    if (cntrl->connectTo(true) != 1) {
        return;
    }
    if (usableUnit(*cntrl)) {
        connected = true;
        // Announced from the handler's own thread, after it has read the flag again: that
        // read orders everything connectTo wrote into the instrument object before whatever the
        // receivers then do with it. A disconnection in between cancels the announcement.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (connected) {
                    emit sensorConnection();
                }
            },
            Qt::QueuedConnection);
    } else {
        // Released again so that the next attempt opens it afresh and reports it again.
        emit invalidSensor();
        cntrl->disconnect();
    }
}

void sensorHandler::sensorDisconnect() {
    cntrl->disconnect();
    connected = false;
}
