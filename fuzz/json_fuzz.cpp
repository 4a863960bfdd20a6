// Feeds arbitrary text as the JSON header of an otherwise valid kdf file. Loading must succeed
// or throw 10; a loaded data set must then work with whatever its settings map says (ion flux
// factors, enabled sensors, flags), save again and load back, and the recovery finder must
// read the header or pass the file over.
#include <QDataStream>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "data/exportchoices.h"
#include "data/recovery.h"
#include "data/tarvodataset.h"

namespace {

struct files {
    QTemporaryDir dir;
    QByteArray body;  // everything after the header's text: newline, marker, data
    QString input = dir.filePath("kalder_recovery_input.kdf");
    QString copy = dir.filePath("copy.kdf");
    QString csv = dir.filePath("export.csv");

    files() {
        // A small data set of two scans of three rows.
        tarvoDataSet set(1, 2, 7);
        std::vector<double> block(3 * 12);
        for (int s = 0; s < 2; ++s) {
            for (int j = 0; j < 12; ++j) {
                block[j] = 1e-6 * (12 - j) * (s + 1);
                block[12 + j] = 75.0;
                block[24 + j] = 2.0 * j;
            }
            set.addTrace(block.data(), 1.0 + s, 12, 3, 0, 0, false);
        }
        const QString seed = dir.filePath("seed.kdf");
        if (!set.save(seed)) {
            std::abort();
        }
        QFile f(seed);
        if (!f.open(QIODevice::ReadOnly)) {
            std::abort();
        }
        const QByteArray all = f.readAll();
        QDataStream in(all);
        qint32 length = 0;
        in >> length;
        body = all.mid(4 + length);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = [] {
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        return true;
    }();
    (void)quiet;
    static files f;
    {
        QFile out(f.input);
        QByteArray bytes;
        QDataStream s(&bytes, QIODevice::WriteOnly);
        s << qint32(size);
        bytes.append(reinterpret_cast<const char*>(data), static_cast<int>(size));
        bytes.append(f.body);
        if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size()) {
            std::abort();
        }
    }
    QVariantMap header;
    recovery::readHeader(f.input, header);
    recovery::findUnfinishedRuns({f.dir.path()});
    try {
        tarvoDataSet set(f.input);
        set.ionFluxFactors();
        set.enabledSensors();
        set.isMultiScan();
        if (set.scanCount() > 0) {
            set.lock();
            set.ionFlux(0);
            set.averageEnergy(0);
            set.energyAxisFor(0);
            set.unlock();
        }
        const double factors[3] = {1.0, 2.0, 3.0};
        set.setIonFluxFactors(factors, 3);
        exportChoices choices;
        choices.dataMode = exportChoices::IncludeAll;
        set.toCSV(f.csv, choices);
        if (!set.save(f.copy)) {
            std::abort();
        }
        tarvoDataSet again(f.copy);
        if (again.scanCount() != set.scanCount()) {
            std::abort();
        }
    } catch (int code) {
        if (code != 10) {
            std::abort();
        }
    }
    return 0;
}
