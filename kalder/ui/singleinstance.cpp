#include "ui/singleinstance.h"

#include <unistd.h>

#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMessageBox>

namespace {

// How long a later start waits for the running program at each step of the hand-over; a
// program that does not answer in time is treated as one that cannot take the file.
constexpr int kWaitMs = 5000;
// A request longer than this is not a path: the connection is dropped.
constexpr qint64 kMaxRequest = 64 * 1024;

}  // namespace

singleInstanceGuard::singleInstanceGuard(const QString& olderKey, const QString& ownKey)
    : olderKey(olderKey), ownKey(ownKey) {}
singleInstanceGuard::~singleInstanceGuard() = default;

bool singleInstanceGuard::askUser(const QString& text) {
    return QMessageBox::question(nullptr, QStringLiteral("!"), text,
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

QString singleInstanceGuard::serverName() const {
    return QStringLiteral("%1-open-%2").arg(ownKey.toLower()).arg(::getuid());
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

bool singleInstanceGuard::acquire(const Question& ask, const QString& file) {
    handed = !file.isEmpty() && handOver(QFileInfo(file).absoluteFilePath());
    if (handed) {
        return false;
    }
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

bool singleInstanceGuard::handOver(const QString& path) const {
    if (path.contains(QLatin1Char('\n'))) {
        return false;
    }
    QLocalSocket socket;
    socket.connectToServer(serverName());
    if (!socket.waitForConnected(kWaitMs)) {
        return false;
    }
    socket.write(path.toUtf8() + '\n');
    if (!socket.waitForBytesWritten(kWaitMs)) {
        return false;
    }
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(kWaitMs)) {
            return false;
        }
    }
    return socket.readLine().trimmed() == "1";
}

bool singleInstanceGuard::listen(Opener open) {
    if (!holdsKey()) {
        return false;
    }
    server = std::make_unique<QLocalServer>();
    // Only this user's later starts may hand files over.
    server->setSocketOptions(QLocalServer::UserAccessOption);
    // The holder of the key is the only live listener: a socket file left by a program that
    // crashed is removed first.
    QLocalServer::removeServer(serverName());
    if (!server->listen(serverName())) {
        server.reset();
        return false;
    }
    QLocalServer* s = server.get();
    QObject::connect(s, &QLocalServer::newConnection, s, [s, open] {
        while (QLocalSocket* socket = s->nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket, open] {
                if (!socket->canReadLine()) {
                    if (socket->bytesAvailable() > kMaxRequest) {
                        socket->abort();
                    }
                    return;
                }
                const QString path = QString::fromUtf8(socket->readLine()).trimmed();
                socket->write(open(path) ? "1\n" : "0\n");
                socket->flush();
                socket->disconnectFromServer();
            });
        }
    });
    return true;
}
