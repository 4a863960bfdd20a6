// Keeps a second copy of the program from starting unnoticed: one byte of shared memory under
// the key "Tarvo" (the older program) and then "Kalder" (this one). When a key is taken the
// user is asked whether to open another instance anyway.
#ifndef KALDER_UI_SINGLEINSTANCE_H
#define KALDER_UI_SINGLEINSTANCE_H

#include <QSharedMemory>
#include <QString>
#include <functional>

class singleInstanceGuard {
public:
    // Asks the question; true for "Yes".
    using Question = std::function<bool(const QString& text)>;

    // The keys of the older program and of this one; tests use keys of their own, so that a
    // program running on the same machine does not disturb them.
    explicit singleInstanceGuard(const QString& olderKey = QStringLiteral("Tarvo"),
                                 const QString& ownKey = QStringLiteral("Kalder"))
        : olderKey(olderKey), ownKey(ownKey) {}

    // The question box titled "!" with Yes and No.
    static bool askUser(const QString& text);

    // Runs both checks; false when the user declined to open another instance. On return the
    // guard holds its own segment ("Kalder") when it could be made.
    bool acquire(const Question& ask = askUser);
    bool holdsKey() const { return memory.isAttached(); }

private:
    // Creates the one-byte segment under key; a segment left behind by a program that ended
    // without releasing it is cleared first.
    bool create(const QString& key);

    QString olderKey;
    QString ownKey;
    QSharedMemory memory;
};

#endif  // KALDER_UI_SINGLEINSTANCE_H
