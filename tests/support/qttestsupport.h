// Helpers for tests of Qt code: an application object with a private settings store, and a
// script that answers the modal dialogs a call opens, one step per dialog.
#ifndef TESTS_SUPPORT_QTTESTSUPPORT_H
#define TESTS_SUPPORT_QTTESTSUPPORT_H

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <functional>

// Points the settings store (organisation "Corvane", application "Kalder") and the user's data
// directory at a fresh temporary directory and empties the store.
void isolateSettings();

// Runs on the GUI thread: whenever a modal widget is active, the next step whose check accepts
// it runs its action (which should close it). Unexpected dialogs are rejected and recorded.
class modalScript : public QObject {
    Q_OBJECT

public:
    using Check = std::function<bool(QWidget*)>;
    using Action = std::function<void(QWidget*)>;

    modalScript();
    // A step for the dialog with this object name.
    modalScript& on(const QString& objectName, Action action);
    modalScript& on(Check check, Action action);

    // Object names of the dialogs seen, in order.
    QStringList seen;
    // Dialogs that no step expected.
    QStringList unexpected;
    bool finished() const { return steps.empty(); }

private:
    void poll();

    struct Step {
        Check check;
        Action action;
    };
    std::deque<Step> steps;
    QTimer timer;
    QWidget* last = nullptr;
};

// Clicks the push button with this object name inside w.
void clickButton(QWidget* w, const QString& name);

#endif  // TESTS_SUPPORT_QTTESTSUPPORT_H
