#include "interrupt.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <csignal>

namespace {

// The handler only sets the flag and writes one byte to the pipe; the event loop reads it.
volatile sig_atomic_t caught = 0;
int pipeEnds[2] = {-1, -1};
struct sigaction previousInt, previousTerm;

void onSignal(int) {
    caught = 1;
    const char byte = 1;
    const ssize_t ignored = write(pipeEnds[1], &byte, 1);
    (void)ignored;
}

}  // namespace

interruptWatch::interruptWatch(QObject* parent) : QObject(parent) {
    if (pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) {
        pipeEnds[0] = pipeEnds[1] = -1;
        return;
    }
    caught = 0;
    notifier = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &interruptWatch::drain);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // One-shot: after the first signal the default action is back, so a second Ctrl+C ends a
    // process that does not stop.
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigaction(SIGINT, &action, &previousInt);
    sigaction(SIGTERM, &action, &previousTerm);
}

interruptWatch::~interruptWatch() {
    if (pipeEnds[0] < 0) {
        return;
    }
    sigaction(SIGINT, &previousInt, nullptr);
    sigaction(SIGTERM, &previousTerm, nullptr);
    delete notifier;
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    pipeEnds[0] = pipeEnds[1] = -1;
}

bool interruptWatch::interrupted() const {
    return caught != 0;
}

void interruptWatch::drain() {
    char bytes[16];
    bool any = false;
    while (read(pipeEnds[0], bytes, sizeof bytes) > 0) {
        any = true;
    }
    if (any) {
        emit interrupt();
    }
}
