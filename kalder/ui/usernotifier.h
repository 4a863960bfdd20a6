// Where the instrument panel's message boxes go. The program shows them as modal boxes; tests
// install a notifier that records them instead, so a scan flow runs through without blocking.
#ifndef KALDER_UI_USERNOTIFIER_H
#define KALDER_UI_USERNOTIFIER_H

#include <QString>

class QWidget;

class userNotifier {
public:
    virtual ~userNotifier() = default;
    virtual void warning(QWidget* parent, const QString& title, const QString& text);
    virtual void critical(QWidget* parent, const QString& title, const QString& text);
};

#endif  // KALDER_UI_USERNOTIFIER_H
