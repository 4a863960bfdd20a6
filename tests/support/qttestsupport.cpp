#include "qttestsupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>

void isolateSettings() {
    static QTemporaryDir dir;
    QCoreApplication::setOrganizationName(QStringLiteral("Corvane"));
    QCoreApplication::setApplicationName(QStringLiteral("Kalder"));
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::SystemScope, dir.path() + "/system");
    QSettings().clear();
    // The user's data directory (recovery files) lies in the temporary directory as well.
    qputenv("XDG_DATA_HOME", (dir.path() + "/data").toLocal8Bit());
}

modalScript::modalScript() {
    timer.setInterval(5);
    connect(&timer, &QTimer::timeout, this, &modalScript::poll);
    timer.start();
}

modalScript& modalScript::on(const QString& objectName, Action action) {
    return on([objectName](QWidget* w) { return w->objectName() == objectName; },
              std::move(action));
}

modalScript& modalScript::on(Check check, Action action) {
    steps.push_back({std::move(check), std::move(action)});
    return *this;
}

void modalScript::poll() {
    QWidget* w = QApplication::activeModalWidget();
    if (!w || !w->isVisible() || w == last) {
        return;
    }
    last = w;
    seen << w->objectName();
    if (!steps.empty() && steps.front().check(w)) {
        Step step = std::move(steps.front());
        steps.pop_front();
        step.action(w);
    } else {
        unexpected << w->objectName();
        if (auto* dialog = qobject_cast<QDialog*>(w)) {
            dialog->reject();
        } else {
            w->close();
        }
    }
    // A dialog may be shown again later (the same object): forget it once it is gone.
    if (!w->isVisible()) {
        last = nullptr;
    }
}

void clickButton(QWidget* w, const QString& name) {
    auto* button = w->findChild<QAbstractButton*>(name);
    if (button) {
        button->click();
    }
}
