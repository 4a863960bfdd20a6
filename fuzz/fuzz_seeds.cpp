// Writes seed corpora for the fuzzers into DIR/<target>/: kdf files of every data kind as the
// library saves them (and their JSON headers), the calibration record of every unit profile of
// the virtual sensor, and well-formed streams for each FIFO reader in the fuzzer's input
// layout. scripts/fuzz adds the kdf images of every version the data tests build.
// Usage: fuzz_seeds DIR
#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <cstdio>
#include <vector>

#include "RecordLayout.h"
#include "data/tarvodataset.h"
#include "scriptedboard.h"
#include "tolmar2/TolmarCntrl.h"
#include "vsensor/VirtualSensor.h"

namespace {

QString root;

void seed(const char* target, const QByteArray& bytes) {
    const QString dir = root + "/" + target;
    QDir().mkpath(dir);
    QFile f(dir + "/" + QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex());
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(f.fileName()));
    }
}

// A sweep block of `rows` rows of n points: current rows falling, then voltage rows.
std::vector<double> sweep(int rows, int currentRows, int n, double level) {
    std::vector<double> block(static_cast<size_t>(rows) * n);
    for (int r = 0; r < rows; ++r) {
        for (int j = 0; j < n; ++j) {
            block[r * n + j] =
                r < currentRows ? level * 1e-6 * (n - j) : (r == rows - 1 ? j : 75.0);
        }
    }
    return block;
}

void saveSeed(tarvoDataSet& set, const char* name) {
    set.settingsMap.insert("ionFluxFactor", QVariantList{860000.0, 860000.0, 1.0});
    set.settingsMap.insert("enabledSensors", QVariantList{true, false, true});
    set.settingsMap.insert("biasEnd", "58");
    set.settingsMap.insert("sensorSerial", "QM759-2403-017");
    const QString path = QDir::temp().filePath(QStringLiteral("fuzz_seed_%1.kdf").arg(name));
    if (!set.save(path)) {
        return;
    }
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    const QByteArray all = f.readAll();
    f.remove();
    seed("kdf", all);
    QDataStream in(all);
    qint32 length = 0;
    in >> length;
    seed("json", all.mid(4, length));
}

void dataSeeds() {
    tarvoDataSet sweeps(2, 2, 7);
    for (int s = 0; s < 3; ++s) {
        sweeps.addTrace(sweep(4, 2, 16, 1 + s).data(), 1.0 + s / 2, 16, 4, 0, 0, s == 2);
    }
    saveSeed(sweeps, "sweeps");

    tarvoDataSet ar(1, 3, 0);
    ar.addReferenceTrace(sweep(4, 1, 30, 2).data(), 1.0, 30, 4, 0, 0);
    for (double b : {10.0, 20.0}) {
        ar.addAspectRatioTrace(sweep(4, 1, 2, 1).data(), 1.0, 0.5, b, 0.3, 2, 4, 0);
    }
    ar.completeGroup(1.0, 0.5);
    saveSeed(ar, "ar");

    tarvoDataSet temperatures(0, 0, 0);
    const double row[13] = {25, 25, 25, 27.5, 25, 25, 30, 25, 25, 22.5, 25, 25, 25};
    temperatures.addTemperatureRow(row, 1.0, 13, 0);
    temperatures.addTemperatureRow(row, 2.0, 13, 0);
    saveSeed(temperatures, "temperature");
}

void recordSeeds() {
    for (const vsensor::UnitProfile& p : vsensor::unitProfiles()) {
        if (p.blank || !vsensor::loadProfile(p.name)) {
            continue;
        }
        const size_t size = tolmar2::record::readSize(p.formatVersion);
        const std::vector<uint8_t> image = vsensor::readMemory(vsensor::kRecordAddress, size);
        for (char way = 0; way < 3; ++way) {
            QByteArray bytes(1, way);
            bytes.append(reinterpret_cast<const char*>(image.data()), static_cast<int>(size));
            seed("record", bytes);
        }
    }
}

// The fifo fuzzer's input: reader, board shape (two channels, all enabled, 4 steps of 2
// samples), for the time-resolved reader its sync set-up, one segment, no chunks, no failed
// read; then the stream.
QByteArray fifoInput(int reader, const std::vector<uint16_t>& stream) {
    QByteArray b;
    b.append(char(reader));
    for (int v : {0, 0, 0xFF, 0xFF, 0xFF, 0, 3, 1, 0, 0, 0, 0, 2}) {
        b.append(char(v));
    }
    if (reader == 2) {
        for (int v : {1, 0, 0, 0, 0, 0, 3}) {  // mult 2, no averaging, sync lock at 2048
            b.append(char(v));
        }
    }
    for (int v : {0, 0, 0}) {
        b.append(char(v));
    }
    for (uint16_t w : stream) {
        b.append(char(w & 0xFF));
        b.append(char(w >> 8));
    }
    return b;
}

void fifoSeeds() {
    std::vector<uint16_t> samples(4 * 2 * 2);
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<uint16_t>(100 + 10 * i);
    }
    seed("fifo", fifoInput(0, blockPackets(samples, 0x1234, 0x5678)));
    seed("fifo", fifoInput(1, blockPackets(samples, 0x1234, 0x5678, 5)));
    // A time-resolved block of the size the shape gives at a 2048-count period.
    TolmarCntrl c;
    c.nAdcChannels = 2;
    c.nProbes = 1;
    c.iv_steps = 4;
    c.iv_samples = 2;
    c.averageCount = 1;
    c.sync_mode = true;
    c.sync_smpl_mult = 2;
    c.sync_samples = 0xFFFFF;
    c.sync_frq8 = 2048;
    c.estimateScanResources();
    std::vector<uint16_t> trm = periodPacket(2048);
    append(trm, blockPackets(std::vector<uint16_t>(c.ScanLimits.samplesExpected, 300), 1, 2));
    seed("fifo", fifoInput(2, trm));
    std::vector<uint16_t> temperature(TolmarCntrl::TEMP_BLOCK_SAMPLES);
    for (size_t i = 0; i < temperature.size(); ++i) {
        temperature[i] = static_cast<uint16_t>(1000 + i % 40);
    }
    seed("fifo", fifoInput(3, blockPackets(temperature, 0, 0)));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds DIR\n");
        return 2;
    }
    root = QString::fromLocal8Bit(argv[1]);
    TolmarCntrl::setLogging(0);
    dataSeeds();
    recordSeeds();
    fifoSeeds();
    return 0;
}
