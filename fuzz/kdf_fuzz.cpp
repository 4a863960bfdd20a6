// Feeds arbitrary bytes to the kdf reader: it must load them or throw 10, nothing else.
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>

#include "data/tarvodataset.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = [] {
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        return true;
    }();
    (void)quiet;
    static QTemporaryDir dir;
    const QString path = dir.filePath("input.kdf");
    QFile::remove(path);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size)) !=
            static_cast<qint64>(size)) {
        std::abort();
    }
    file.close();
    try {
        tarvoDataSet set(path);
    } catch (int code) {
        if (code != 10)
            std::abort();
    }
    return 0;
}
