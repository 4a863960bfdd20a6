// info and scan: the commands that talk to a unit. The link is the one the library chooses
// everywhere (TOLMAR_LINK); a scan runs in the program's acquisition session: high voltage on
// and a settling wait, then the session programs the scan, runs the scan type's controller in
// a thread of its own with recovery checkpoints, writes the files and puts the idle voltages
// back on the outputs.
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QSettings>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <mutex>

#include "acquisition/acquisitionsession.h"
#include "acquisition/electrodeoutputs.h"
#include "acquisition/pacing.h"
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
    int passes = 0;  // repeated scans: passes to run, 0 until stopped
    bool force = false;
    bool json = false;
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
          "sync signal), temperature or ar (aspect-ratio scan of an aspect-ratio unit). "
          "Default: averaged.",
          "averaged|resolved|temperature|ar");
    value("traces", "Traces to measure; 0 runs until Ctrl+C. Default: 3.", "N");
    value("scans",
          "Repeated scans: passes to run, each as long as --interval; 0 runs until Ctrl+C. "
          "Every pass is checkpointed.",
          "N");
    value("interval", "Repeated scans: length of one pass in seconds (default 1).", "S");
    value("scan-length",
          "Repeated scans: length of the whole run in seconds (default: --scans times "
          "--interval).",
          "S");
    value("aspect-ratios", "Aspect-ratio scan: the aspect ratios, separated by commas (default 1).",
          "LIST");
    value("sup-grid", "Aspect-ratio scan: suppressor grid of the reference sweep (default -60).",
          "V");
    value("ar-first-step", "Aspect-ratio scan: first-step settling of its points (default 1).",
          "N");
    value("ar-next-step", "Aspect-ratio scan: next-step settling of its points (default 1).", "N");
    value("ar-iv-acc", "Aspect-ratio scan: ADC samples averaged per point step (default 10000).",
          "N");
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
    parser.addOption({QStringLiteral("json"),
                      QStringLiteral("Print the results as one JSON document on standard "
                                     "output.")});
    cli::addExportOptions(parser);
}

// --scans, --interval and --scan-length: repeated passes as the program's scan mode dialog
// sets them up (the lengths in ms).
bool readRepeats(const QCommandLineParser& parser, scanParameters& p, int& passes, failure& f) {
    unsigned scans = 0;
    double interval = 1.0;
    double length = -1.0;
    if (!cli::count(parser, QStringLiteral("scans"), scans, f) ||
        !cli::number(parser, QStringLiteral("interval"), interval, f) ||
        !cli::number(parser, QStringLiteral("scan-length"), length, f)) {
        return false;
    }
    const bool repeated = parser.isSet(QStringLiteral("scans")) ||
                          parser.isSet(QStringLiteral("interval")) ||
                          parser.isSet(QStringLiteral("scan-length"));
    if (!repeated) {
        return true;
    }
    if (!(interval > 0.0) || interval > 86400.0) {
        f = {cli::UsageError, QStringLiteral("--interval takes more than 0 and at most 86400 s")};
        return false;
    }
    if (parser.isSet(QStringLiteral("scan-length")) && !(length > 0.0)) {
        f = {cli::UsageError, QStringLiteral("--scan-length must be above 0 s")};
        return false;
    }
    p.multipleScans = true;
    p.intervalMs = interval * 1000.0;
    // The pass count is kept by the session; the length, when given, ends the run as well.
    p.scanLengthMs = length > 0.0 ? length * 1000.0 : std::numeric_limits<double>::infinity();
    passes = static_cast<int>(scans);
    return true;
}

bool readAspectRatios(const QCommandLineParser& parser, scanParameters& p, failure& f) {
    if (!parser.isSet(QStringLiteral("aspect-ratios"))) {
        return true;
    }
    QVector<double> ratios;
    for (const QString& item :
         parser.value(QStringLiteral("aspect-ratios")).split(QLatin1Char(','))) {
        bool ok = false;
        const double r = item.trimmed().toDouble(&ok);
        if (!ok || !(r > 0.0) || !std::isfinite(r)) {
            f = {cli::UsageError,
                 QStringLiteral("--aspect-ratios takes numbers above 0 separated by commas, not "
                                "\"%1\"")
                     .arg(parser.value(QStringLiteral("aspect-ratios")))};
            return false;
        }
        ratios << r;
    }
    p.aspectRatios = ratios;
    return true;
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
    } else if (type == QLatin1String("ar")) {
        p.aspectRatioFamily = true;
    } else {
        f = {cli::UsageError,
             QStringLiteral("--type takes averaged, resolved, temperature or ar, not \"%1\"")
                 .arg(type)};
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
        !cli::number(parser, QStringLiteral("sup-grid"), p.supGrid, f) ||
        !cli::count(parser, QStringLiteral("ar-first-step"), p.kalderFirstStep, f) ||
        !cli::count(parser, QStringLiteral("ar-next-step"), p.kalderNextStep, f) ||
        !cli::count(parser, QStringLiteral("ar-iv-acc"), p.kalderIvAcc, f) ||
        !readRepeats(parser, p, r.passes, f) || !readAspectRatios(parser, p, f) ||
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
    r.json = parser.isSet(QStringLiteral("json"));
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

// Runs the prepared scan in the session until it ends or loses the sensor; the first signal
// asks it to stop. The session checkpoints the data set to a recovery file after every pass and
// at least once a minute, so that a crash or a kill loses at most the pass in progress, and
// writes the files at the end, also when the sensor was lost. Returns the code of a lost
// sensor, 1 when the scan ended.
int runSession(acquisitionSession& session, const scanRequest& r, tarvoDataSet& set,
               progressDisplay& progress, interruptWatch& watch, bool& written, failure& f) {
    QEventLoop loop;
    int outcome = 1;
    QObject context;  // disconnects the lambdas below when the run is over
    QObject::connect(&session, &acquisitionSession::runEnded, &context, [&] { loop.quit(); });
    QObject::connect(&session, &acquisitionSession::runAbandoned, &context, [&](int code) {
        outcome = code == 1 ? 0 : code;
        loop.quit();
    });
    QObject::connect(&session, &acquisitionSession::progress, &context,
                     [&](int percent) { progress.setPercent(percent); });
    QObject::connect(&set, &tarvoDataSet::dataUpdated, &context, [&] {
        std::lock_guard<std::mutex> locker(set.mutex);
        progress.setTraces(measuredTraces(set));
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
        session.stopRun();
    };
    QObject::connect(&watch, &interruptWatch::interrupt, &context, stop);

    acquisitionSession::runPlan plan;
    plan.recoveryDirectory = recovery::userDataDirectory();
    plan.saveWhenLost = true;
    plan.passes = r.passes;
    plan.idle = [] { return idleVoltages(); };
    // What was measured is written even when the sensor was lost on the way; the recovery
    // file goes once the data file is safe, otherwise it keeps the measurement.
    plan.save = [&](scanController&) {
        {
            std::lock_guard<std::mutex> locker(set.mutex);
            progress.setTraces(measuredTraces(set));
        }
        progress.finish();
        written = writeFiles(set, r.out, r.csv, r.mat, r.choices, f, r.h5);
        return written;
    };
    session.launchRun(plan);
    if (watch.interrupted()) {
        stop();  // arrived while the scan was being set up
    }
    loop.exec();
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
    // Without a monitor the device is free: the session takes it at once.
    acquisitionSession session;
    session.attach(&unit, false);
    session.lockDevice();
    const scanLaunch launch = session.prepareRun(&settings, std::nan(""));
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
    writeScanParameters(set.get(), r.p);

    progressDisplay progress(isatty(STDERR_FILENO) != 0,
                             !r.p.multipleScans && r.p.tracesPerScan != 0);
    bool written = false;
    const int lost = runSession(session, r, *set, progress, watch, written, f);
    if (r.json) {
        printJsonSummary(*set, r.out);
    } else {
        printSummary(*set);
    }
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
        parser, QStringLiteral(
                    "Runs a scan (or repeated scans), writes it to a kdf file and "
                    "the exports asked for, and prints the results per channel. Progress goes to "
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
