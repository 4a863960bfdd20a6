// Keeps a second copy of the program from starting unnoticed: one byte of shared memory under
// the key "Tarvo" (the older program) and then "Kalder" (this one). When a key is taken the
// user is asked whether to open another instance anyway.
//
// A start with a file (`kalder FILE.kdf`, a file manager opening a kdf file) first offers the
// file to the running program through a local socket that the holder of the "Kalder" key
// listens on. Once the running program took it there is nothing left to do and no question is
// asked; when it refuses (a scan is running) or nothing answers (no instance, or an older one),
// the checks run as without a file and the file opens in the new window.
#ifndef KALDER_UI_SINGLEINSTANCE_H
#define KALDER_UI_SINGLEINSTANCE_H

#include <QSharedMemory>
#include <QString>
#include <functional>
#include <memory>

class QLocalServer;

class singleInstanceGuard {
public:
    // Asks the question; true for "Yes".
    using Question = std::function<bool(const QString& text)>;
    // Takes a file handed over by a later start; false when it cannot be opened now.
    using Opener = std::function<bool(const QString& path)>;

    // The keys of the older program and of this one; tests use keys of their own, so that a
    // program running on the same machine does not disturb them.
    explicit singleInstanceGuard(const QString& olderKey = QStringLiteral("Tarvo"),
                                 const QString& ownKey = QStringLiteral("Kalder"));
    ~singleInstanceGuard();

    // The question box titled "!" with Yes and No.
    static bool askUser(const QString& text);

    // Hands `file` (when not empty, made absolute) to a running program; then, unless it was
    // taken, runs both checks. False when the file was handed over or the user declined to
    // open another instance. On a true return the guard holds the "Kalder" segment when it
    // could be made.
    bool acquire(const Question& ask = askUser, const QString& file = QString());
    bool holdsKey() const { return memory.isAttached(); }
    // Whether the last acquire gave its file to the running program.
    bool handedOver() const { return handed; }

    // Listens for files from later starts (only while holding the "Kalder" key); each one
    // reaches `open` in this thread's event loop. False when not listening.
    bool listen(Opener open);
    // The local socket's name, one per user and own key.
    QString serverName() const;

private:
    // Creates the one-byte segment under key; a segment left behind by a program that ended
    // without releasing it is cleared first.
    bool create(const QString& key);
    // Offers the file to the program listening on serverName(); true once it took it.
    bool handOver(const QString& path) const;

    QString olderKey;
    QString ownKey;
    QSharedMemory memory;
    std::unique_ptr<QLocalServer> server;
    bool handed = false;
};

#endif  // KALDER_UI_SINGLEINSTANCE_H
