// Ctrl+C (SIGINT) and SIGTERM during a scan: the first one asks the scan to stop, so that what
// was measured is still saved; the handler then steps aside, and a second one ends the process
// at once.
#ifndef TOOLS_KALDER_CLI_INTERRUPT_H
#define TOOLS_KALDER_CLI_INTERRUPT_H

#include <QObject>

class QSocketNotifier;

class interruptWatch : public QObject {
    Q_OBJECT

public:
    // Installs the handlers; the destructor restores the previous ones.
    explicit interruptWatch(QObject* parent = nullptr);
    ~interruptWatch() override;

    // Whether a signal arrived, also while the event loop was not running.
    bool interrupted() const;

signals:
    // Emitted from the event loop once per signal.
    void interrupt();

private:
    void drain();
    QSocketNotifier* notifier = nullptr;
};

#endif  // TOOLS_KALDER_CLI_INTERRUPT_H
