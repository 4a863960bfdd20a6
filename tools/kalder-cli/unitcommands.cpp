// info and scan: the commands that talk to a unit. The link is the one the library chooses
// everywhere (TOLMAR_LINK); a scan runs as the instrument panel runs it: high voltage on and a
// settling wait, the instrument programmed by prepareScan, the scan type's own controller in a
// thread of its own, then the idle voltages back on the outputs.
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QSettings>
#include <QThread>
#include <array>
#include <cmath>
#include <cstdio>
#include <memory>
#include <mutex>

#include "acquisition/electrodeoutputs.h"
#include "acquisition/pacing.h"
#include "acquisition/runcheckpoint.h"
#include "acquisition/scancontroller.h"
#include "acquisition/scanlauncher.h"
#include "acquisition/scansettings.h"
#include "acquisition/sensorhandler.h"
#include "cli.h"
#include "commands.h"
#include "data/exportchoices.h"
#include "data/recovery.h"
#include "data/tarvodataset.h"
#include "datareport.h"
#include "interrupt.h"
#include "progress.h"
#include "tolmar2/Link.h"
#include "tolmar2/TolmarCntrl.h"
#include "unitreport.h"

using cli::failure;

namespace {

constexpr int HV_SETTLING_MS = 5000;
constexpr int SETTLING_SLICE_MS = 100;

// Says on standard error, once per run, when the unit is the built-in virtual sensor and why;
// a missing link (TOLMAR_LINK=vendor without the QuickUSB library) is a failure naming the
// library and the loader's reason.
bool checkLink(failure& f) {
    static bool announced = false;
    const QString reason = QString::fromStdString(tolmar2::link::reason());
    switch (tolmar2::link::kind()) {
        case tolmar2::link::Kind::None:
            f = {cli::NoSensor, QStringLiteral("no USB link (TOLMAR_LINK=%1): %2")
                                    .arg(QString::fromLocal8Bit(qgetenv("TOLMAR_LINK")), reason)};
            return false;
        case tolmar2::link::Kind::Virtual:
            if (!announced) {
                cli::message(QStringLiteral("measuring on the built-in Virtual Sensor, all data "
                                            "are simulated: %1")
                                 .arg(reason));
                announced = true;
            }
            break;
        case tolmar2::link::Kind::Vendor:
            break;
    }
    return true;
}

// Connects the unit. Unlike the program, which takes whatever answers, a unit whose record is
// not recognised (a blank memory, an unknown format) is refused unless forced: a scan on
// made-up calibration would look like a measurement.
bool connectUnit(TolmarCntrl& unit, bool force, failure& f) {
    if (!checkLink(f)) {
        return false;
    }
    const int result = unit.connectTo(force);
    if (result != 1) {
        f = {cli::NoSensor, QStringLiteral("no sensor unit found or the connection failed "
                                           "(result %1; the link is chosen by TOLMAR_LINK, "
                                           "--force takes a unit with an unknown record)")
                                .arg(result)};
        return false;
    }
    return true;
}

QString serialOf(const TolmarCntrl& unit) {
    return QString::fromLatin1(unit.devName,
                               static_cast<int>(qstrnlen(unit.devName, sizeof unit.devName)));
}

// The idle voltages the program keeps (bias grid, collector, secondary electron suppression),
// from its settings store; 0 V where none are stored.
electrodeVoltages idleVoltages() {
    QSettings settings;
    settings.beginGroup(QStringLiteral("IdleVoltagesDialog"));
    electrodeVoltages v{};
    const char* keys[3] = {"biasGrid", "collector", "secondaryElectronSuppression"};
    for (int i = 0; i < 3; ++i) {
        v[i] = settings.value(QLatin1String(keys[i]), QStringLiteral("0.0")).toString().toDouble();
    }
    return v;
}

struct scanRequest {
    scanParameters p;
    QString out, csv, mat, h5;
    exportChoices choices;
    int settleMs = HV_SETTLING_MS;
    bool force = false;
};

void addForceOption(QCommandLineParser& parser) {
    parser.addOption({QStringLiteral("force"),
                      QStringLiteral("Connect even when the unit's record is not recognised.")});
}

void addScanOptions(QCommandLineParser& parser) {
    const auto value = [&](const char* name, const char* about, const char* valueName) {
        parser.addOption({QLatin1String(name), QLatin1String(about), QLatin1String(valueName)});
    };
    value("type",
          "Scan type: averaged (time-averaged IV), resolved (time-resolved IV, needs a "
          "sync signal) or temperature. Default: averaged.",
          "averaged|resolved|temperature");
    value("traces", "Traces to measure; 0 runs until Ctrl+C. Default: 3.", "N");
    value("bias-start", "Bias grid sweep start in volts (default -10).", "V");
    value("bias-end", "Bias grid sweep end in volts (default 100).", "V");
    value("bias-step", "Bias grid sweep step in volts (default 1).", "V");
    value("collector", "Collector voltage (default -60).", "V");
    value("sec-el-sup", "Secondary electron suppression voltage (default -70).", "V");
    value("range", "Current range: index into the unit's list of ranges (default 0).", "I");
    value("iv-acc", "ADC samples averaged per step (default 2000).", "N");
    value("first-step-ms", "Settling time of the first step in ms (default 50).", "N");
    value("next-step-us", "Settling time of the following steps in us (default 100).", "N");
    value("tr-start", "Time-resolved window start in us (default 0).", "us");
    value("tr-end", "Time-resolved window end in us, at least 100 (default 100).", "us");
    value("tr-res", "Time-resolved resolution in us, at least 100 (default 100).", "us");
    value("settle-ms", "Wait after switching the high voltage on, in ms (default 5000).", "N");
    addForceOption(parser);
    value("out", "The kdf data file to write (required).", "FILE.kdf");
    value("csv", "Also export the data as CSV to this file.", "FILE.csv");
    value("mat", "Also export the averaged traces as a MAT file.", "FILE.mat");
    value("h5", "Also export every scan, trace and result as an HDF5 file.", "FILE.h5");
    cli::addExportOptions(parser);
}

bool readScanRequest(const QCommandLineParser& parser, scanRequest& r, failure& f) {
    scanParameters& p = r.p;
    p.aspectRatioFamily = false;
    p.tracesPerScan = 3;
    const QString type = parser.value(QStringLiteral("type"));
    if (type.isEmpty() || type == QLatin1String("averaged")) {
        p.scanType = TimeAveragedScan;
    } else if (type == QLatin1String("resolved")) {
        p.scanType = TimeResolvedScan;
    } else if (type == QLatin1String("temperature")) {
        p.scanType = TemperatureScan;
    } else {
        f = {
            cli::UsageError,
            QStringLiteral("--type takes averaged, resolved or temperature, not \"%1\"").arg(type)};
        return false;
    }
    unsigned traces = static_cast<unsigned>(p.tracesPerScan);
    unsigned firstMs = p.firstStepDelay / 1000;
    unsigned trEnd = p.trEnd;
    double trRes = p.trRes;
    unsigned settle = static_cast<unsigned>(r.settleMs);
    if (!cli::count(parser, QStringLiteral("traces"), traces, f) ||
        !cli::number(parser, QStringLiteral("bias-start"), p.biasStart, f) ||
        !cli::number(parser, QStringLiteral("bias-end"), p.biasEnd, f) ||
        !cli::number(parser, QStringLiteral("bias-step"), p.biasStep, f) ||
        !cli::number(parser, QStringLiteral("collector"), p.collector, f) ||
        !cli::number(parser, QStringLiteral("sec-el-sup"), p.secElSup, f) ||
        !cli::count(parser, QStringLiteral("range"), p.currentRange, f) ||
        !cli::count(parser, QStringLiteral("iv-acc"), p.ivAcc, f) ||
        !cli::count(parser, QStringLiteral("first-step-ms"), firstMs, f) ||
        !cli::count(parser, QStringLiteral("next-step-us"), p.nextStepDelay, f) ||
        !cli::count(parser, QStringLiteral("tr-start"), p.trStart, f) ||
        !cli::count(parser, QStringLiteral("tr-end"), trEnd, f) ||
        !cli::number(parser, QStringLiteral("tr-res"), trRes, f) ||
        !cli::count(parser, QStringLiteral("settle-ms"), settle, f) ||
        !cli::exportOptions(parser, r.choices, f)) {
        return false;
    }
    const auto bad = [&](const QString& text) {
        f = {cli::UsageError, text};
        return false;
    };
    if (traces > 10000) {
        return bad(QStringLiteral("--traces takes at most 10000"));
    }
    if (!(p.biasStep > 0.0)) {
        return bad(QStringLiteral("--bias-step must be above 0 V"));
    }
    if (p.ivAcc == 0) {
        return bad(QStringLiteral("--iv-acc must be at least 1"));
    }
    if (firstMs > 1000000 || settle > 600000) {
        return bad(QStringLiteral("--first-step-ms takes at most 1000000, --settle-ms 600000"));
    }
    p.tracesPerScan = static_cast<int>(traces);
    p.firstStepDelay = firstMs * 1000;
    // The smallest time-resolved window and resolution the scan mode dialog lets through.
    p.trEnd = std::max(trEnd, 100u);
    p.trRes = std::max(trRes, 100.0);
    if (p.trStart >= p.trEnd) {
        return bad(QStringLiteral("--tr-start must lie before --tr-end"));
    }
    r.settleMs = static_cast<int>(settle);
    r.force = parser.isSet(QStringLiteral("force"));
    r.out = parser.value(QStringLiteral("out"));
    r.csv = parser.value(QStringLiteral("csv"));
    r.mat = parser.value(QStringLiteral("mat"));
    r.h5 = parser.value(QStringLiteral("h5"));
    if (r.out.isEmpty()) {
        return bad(QStringLiteral("--out FILE.kdf is required"));
    }
    if (!parser.positionalArguments().isEmpty()) {
        return bad(
            QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));
    }
    // A file that could not be written after the scan would lose the measurement.
    for (const QString& path : {r.out, r.csv, r.mat, r.h5}) {
        if (!path.isEmpty() && !cli::writablePath(path, f)) {
            return false;
        }
    }
    return true;
}

// Switches the high voltage on, sends the idle voltages and lets the supplies settle; a
// signal cuts the wait short.
bool raiseHighVoltage(TolmarCntrl& unit, const scanRequest& r, const interruptWatch& watch,
                      failure& f) {
    if (!unit.setHVPSEnabled(true)) {
        f = {cli::NoSensor,
             QStringLiteral("Unable to switch High voltage power supply, check connection to "
                            "sensor")};
        return false;
    }
    applyIdleVoltages(unit, idleVoltages());
    if (r.settleMs > 0) {
        cli::message(QStringLiteral("High Voltage Enabled. Allowing %1 s for supplies to settle.")
                         .arg(r.settleMs / 1000.0));
    }
    pacing::stopwatch settling;
    settling.start();
    while (settling.elapsed() < r.settleMs && !watch.interrupted()) {
        pacing::pause(SETTLING_SLICE_MS);
    }
    return true;
}

// Runs the controller in a thread of its own until it ends or loses the sensor; the first
// signal asks it to stop. Returns the code of a lost sensor, 1 when the scan ended.
// While it runs, the data set is checkpointed to a recovery file after every pass and at least
// once a minute, so that a crash or a kill loses at most the pass in progress.
int runController(scanController& controller, tarvoDataSet& set, progressDisplay& progress,
                  interruptWatch& watch, runCheckpoint& checkpoint) {
    QThread thread;
    QEventLoop loop;
    QObject context;  // lives in this thread: the connections below are queued
    int outcome = 1;
    QObject::connect(&controller, &scanController::scanEnded, &context, [&] { loop.quit(); });
    QObject::connect(&controller, &scanController::sensorDisconnected, &context, [&](int code) {
        outcome = code == 1 ? 0 : code;
        loop.quit();
    });
    QObject::connect(&controller, &scanController::scanProgress, &context,
                     [&](int percent) { progress.setPercent(percent); });
    QObject::connect(&set, &tarvoDataSet::dataUpdated, &context, [&] {
        {
            std::lock_guard<std::mutex> locker(set.mutex);
            progress.setTraces(measuredTraces(set));
        }
        checkpoint.tick();
    });
    QObject::connect(&controller, &scanController::scanCounter, &context, [&](int pass) {
        if (pass > 1) {
            checkpoint.passCompleted();
        }
    });
    bool stopping = false;
    const auto stop = [&] {
        if (stopping) {
            return;
        }
        stopping = true;
        progress.note(
            QStringLiteral("stopping the scan; what was measured is saved (Ctrl+C "
                           "again ends at once)"));
        controller.stopScan();
    };
    QObject::connect(&watch, &interruptWatch::interrupt, &context, stop);
    controller.moveToThread(&thread);
    QObject::connect(&thread, &QThread::started, &controller, &scanController::startScan);
    thread.start();
    if (watch.interrupted()) {
        stop();  // arrived while the scan was being set up
    }
    loop.exec();
    thread.quit();
    thread.wait();
    std::lock_guard<std::mutex> locker(set.mutex);
    progress.setTraces(measuredTraces(set));
    progress.finish();
    return outcome;
}

int scan(const scanRequest& r) {
    failure f{cli::Success, QString()};
    interruptWatch watch;
    TolmarCntrl unit;
    if (!connectUnit(unit, r.force, f)) {
        return cli::report(f);
    }
    if (!sensorHandler::usableUnit(unit)) {
        return cli::report({cli::NoSensor, QStringLiteral("the unit %1 is not one this program "
                                                          "drives")
                                               .arg(serialOf(unit))});
    }
    if (!unit.alternateRows && !unit.kalderSensor) {
        cli::message(
            QStringLiteral("Legacy Kalder Hardware Detected: if this sensor was used as "
                           "a \"Tarvo\" before, connect the probe plug labeled G2 to "
                           "the sensor plug labeled G3 and the probe plug labeled G3 to "
                           "the sensor plug labeled G2."));
    }
    fixedScanSettings settings(r.p);
    if (r.p.scanType != TemperatureScan && !raiseHighVoltage(unit, r, watch, f)) {
        return cli::report(f);
    }
    double frequency = 0.0;
    if (r.p.scanType == TimeResolvedScan && unit.getSyncFreq(&frequency, true) <= 0) {
        return cli::report({cli::ScanFailed,
                            QStringLiteral("Impossible to start time resolved scan, no valid sync "
                                           "signal detected. Please check connection.")});
    }
    if (watch.interrupted()) {
        return cli::report(
            {cli::ScanFailed, QStringLiteral("interrupted before the scan started; no file "
                                             "written")});
    }
    const scanLaunch launch = prepareScan(&unit, &settings, std::nan(""));
    if (launch.outcome == scanLaunch::TooManySteps) {
        return cli::report(
            {cli::ScanFailed, QStringLiteral("Too many steps in scan: the scan has %1 steps, this "
                                             "unit can handle scans of 4096 steps max.")
                                  .arg(launch.steps)});
    }
    if (launch.outcome != scanLaunch::Ready) {
        return cli::report({cli::ScanFailed,
                            QStringLiteral("the unit refused the sweep from %1 V to %2 V in steps "
                                           "of %3 V")
                                .arg(r.p.biasStart)
                                .arg(r.p.biasEnd)
                                .arg(r.p.biasStep)});
    }
    std::unique_ptr<tarvoDataSet> set(launch.dataSet);
    std::unique_ptr<scanController> controller(launch.controller);
    writeScanParameters(set.get(), r.p);
    writeScanMetadata(set.get(), &unit);

    progressDisplay progress(isatty(STDERR_FILENO) != 0, r.p.tracesPerScan != 0);
    runCheckpoint checkpoint(set.get(), recovery::userDataDirectory(), controller->typeName());
    const int lost = runController(*controller, *set, progress, watch, checkpoint);
    controller.reset();
    applyIdleVoltages(unit, idleVoltages());

    // What was measured is written even when the sensor was lost on the way.
    const bool written = writeFiles(*set, r.out, r.csv, r.mat, r.choices, f, r.h5);
    // The recovery file goes once the data file is safe; otherwise it keeps the measurement.
    if (written) {
        checkpoint.finish();
    } else {
        checkpoint.save();
    }
    printSummary(*set);
    if (lost != 1) {
        if (!written) {
            cli::message(f.message);
        }
        return cli::report(
            {cli::ScanFailed,
             QStringLiteral("the sensor was lost during the scan (code %1)%2")
                 .arg(lost)
                 .arg(written ? QStringLiteral("; what was measured is in ") + r.out : QString())});
    }
    return written ? cli::Success : cli::report(f);
}

}  // namespace

int runInfo(const QStringList& args) {
    QCommandLineParser parser;
    cli::prepareParser(parser, QStringLiteral("Connects to the sensor unit and prints the system "
                                              "description and the unit's record."));
    addForceOption(parser);
    failure f{cli::Success, QString()};
    if (!cli::parseCommand(parser, QStringLiteral("info"), args, f)) {
        return cli::report(f);
    }
    if (!parser.positionalArguments().isEmpty()) {
        return cli::report({cli::UsageError, QStringLiteral("info: unexpected argument \"%1\"")
                                                 .arg(parser.positionalArguments().first())});
    }
    TolmarCntrl unit;
    if (!connectUnit(unit, parser.isSet(QStringLiteral("force")), f)) {
        printSystemDescription(unit);  // says what was found, if anything
        return cli::report(f);
    }
    printSystemDescription(unit);
    unit.printI2cMem();
    std::fflush(stdout);
    if (!sensorHandler::usableUnit(unit)) {
        cli::message(
            QStringLiteral("the unit %1 is not one this program drives").arg(serialOf(unit)));
    }
    return cli::Success;
}

int runScan(const QStringList& args) {
    QCommandLineParser parser;
    cli::prepareParser(
        parser, QStringLiteral("Runs one scan, writes it to a kdf file and the exports asked "
                               "for, and prints the results per channel. Progress goes to "
                               "standard error; Ctrl+C ends the scan and keeps what was "
                               "measured."));
    addScanOptions(parser);
    failure f{cli::Success, QString()};
    scanRequest request;
    if (!cli::parseCommand(parser, QStringLiteral("scan"), args, f) ||
        !readScanRequest(parser, request, f)) {
        return cli::report(f);
    }
    return scan(request);
}
