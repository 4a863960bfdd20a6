#include "ui/singleinstance.h"

#include <QMessageBox>

bool singleInstanceGuard::askUser(const QString& text) {
    return QMessageBox::question(nullptr, QStringLiteral("!"), text,
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

bool singleInstanceGuard::create(const QString& key) {
    memory.setKey(key);
    // On Unix a segment survives a crashed owner; attaching and detaching again removes it
    // when nobody else holds it, and leaves it alone when another instance does.
    if (memory.attach()) {
        memory.detach();
    }
    return memory.create(1, QSharedMemory::ReadWrite);
}

bool singleInstanceGuard::acquire(const Question& ask) {
    if (!create(olderKey) &&
        !ask(QStringLiteral("Tarvo software already running. Open another instance?"))) {
        return false;
    }
    if (!create(ownKey) &&
        !ask(QStringLiteral("Kalder software already running. Open another instance?"))) {
        return false;
    }
    return true;
}
