// Long runs of the acquisition session on the virtual sensor, with a virtual clock.
//
// acquisition_soak [SCANS] (default 10000): short time-averaged scans one after the other, each
// in its own thread and data set. Fails (exit code 1) when the resident memory grew by 5 % or more
// from scan 100 to the last, or a file descriptor or thread was left behind. Run by scripts/soak.
//
// acquisition_soak --checkpoint DIR: a run of repeated passes that never ends, checkpointed after
// every pass into DIR, for the recovery tests. Prints "saving N" before and "saved N" after the
// checkpoint of pass N, so that the test can kill it at a chosen moment.
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QThread>
#include <cmath>
#include <cstdio>
#include <memory>

#include "acquisition/acquisitionsession.h"
#include "acquisition/runcheckpoint.h"
#include "acquisition/scancontroller.h"
#include "data/tarvodataset.h"
#include "quickscan.h"
#include "tolmar2/TolmarCntrl.h"
#include "virtualclock.h"
#include "virtuallink.h"
#include "vsensor/VirtualSensor.h"

namespace {

// Resident set size in kB (VmRSS of /proc/self/status).
long residentKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').first().toLong();
        }
    }
    return -1;
}

int entries(const char* dir) {
    return QDir(QString::fromLatin1(dir)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size();
}

// Programs a scan in the session, as the program and kalder-cli do; the data set, or none.
tarvoDataSet* prepare(acquisitionSession& session, TolmarCntrl& cntrl, fixedScanSettings& s) {
    session.attach(&cntrl, false);
    session.lockDevice();
    const scanLaunch launch = session.prepareRun(&s, std::nan(""));
    return launch.outcome == scanLaunch::Ready ? launch.dataSet : nullptr;
}

// One scan to its end; false when it did not end normally.
bool runOnce(TolmarCntrl& cntrl, fixedScanSettings& settings) {
    acquisitionSession session;
    const std::unique_ptr<tarvoDataSet> dataSet(prepare(session, cntrl, settings));
    QEventLoop loop;
    QObject::connect(&session, &acquisitionSession::runEnded, &loop, [&] { loop.exit(1); });
    QObject::connect(&session, &acquisitionSession::runAbandoned, &loop, &QEventLoop::quit);
    if (!dataSet) {
        return false;
    }
    session.launchRun({});
    return loop.exec() == 1;
}

int soak(TolmarCntrl& cntrl, int scans) {
    fixedScanSettings settings(quickScanParameters());
    const int fdsBefore = entries("/proc/self/fd");
    const int threadsBefore = entries("/proc/self/task");
    long rssAt100 = 0;
    int failed = 0;
    for (int i = 1; i <= scans; ++i) {
        failed += runOnce(cntrl, settings) ? 0 : 1;
        rssAt100 = i == 100 ? residentKb() : rssAt100;
    }
    const long rssEnd = residentKb();
    const int fdsAfter = entries("/proc/self/fd");
    // A finished thread may take a moment to leave the process.
    for (int i = 0; i < 100000 && entries("/proc/self/task") > threadsBefore; ++i) {
        QThread::yieldCurrentThread();
    }
    const int threadsAfter = entries("/proc/self/task");
    const double growth = 100.0 * (rssEnd - rssAt100) / rssAt100;
    const bool ok =
        failed == 0 && growth < 5.0 && fdsAfter <= fdsBefore && threadsAfter <= threadsBefore;
    std::printf(
        "scans %d (failed %d)\nRSS after 100: %ld kB, after %d: %ld kB (%+.2f %%)\n"
        "file descriptors %d -> %d, threads %d -> %d\n%s\n",
        scans, failed, rssAt100, scans, rssEnd, growth, fdsBefore, fdsAfter, threadsBefore,
        threadsAfter, ok ? "soak passed" : "soak FAILED");
    return ok ? 0 : 1;
}

// Repeated passes until killed, checkpointed into the current directory.
int checkpointedRun(QCoreApplication& app, TolmarCntrl& cntrl) {
    scanParameters p = quickScanParameters();
    p.multipleScans = true;
    p.intervalMs = 20.0;
    p.scanLengthMs = 1e15;
    fixedScanSettings settings(p);
    acquisitionSession session;
    const std::unique_ptr<tarvoDataSet> dataSet(prepare(session, cntrl, settings));
    if (!dataSet) {
        return 5;
    }
    scanController* controller = session.runningController();
    runCheckpoint checkpoint(dataSet.get(), QDir::currentPath(), controller->typeName());
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each line out as soon as it is written
    QObject::connect(controller, &scanController::scanCounter, &app, [&](int pass) {
        if (pass > 1) {
            std::printf("saving %d\n", pass - 1);
            checkpoint.passCompleted();
            std::printf("saved %d\n", pass - 1);
        }
    });
    session.launchRun({});
    return app.exec();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const bool checkpointed = argc == 3 && QByteArray(argv[1]) == "--checkpoint";
    if (checkpointed && !QDir::setCurrent(QString::fromLocal8Bit(argv[2]))) {
        return 2;
    }
    const int scans = argc > 1 && !checkpointed ? QString::fromLocal8Bit(argv[1]).toInt() : 10000;
    if (scans < 100) {
        std::fprintf(stderr, "at least 100 scans\n");
        return 2;
    }
    if (!checkpointed) {
        // The library's log lines go to standard error; a soak writes no log file.
        TolmarCntrl::setLogging(0);
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    }
    if (!useVirtualLink(FIRMWARE_SOURCE_DIR)) {
        return 2;
    }
    useVirtualClock();
    vsensor::loadProfile("single");
    TolmarCntrl cntrl;
    if (cntrl.connectTo(false) != 1) {
        std::fprintf(stderr, "no virtual sensor\n");
        return 2;
    }
    return checkpointed ? checkpointedRun(app, cntrl) : soak(cntrl, scans);
}
