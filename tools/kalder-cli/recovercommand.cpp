// recover: the recovery files of runs that never ended (the program or kalder-cli crashed or was
// killed while scanning), listed, or turned back into an ordinary data file.
#include <QFileInfo>
#include <QSettings>
#include <cstdio>
#include <memory>

#include "cli.h"
#include "commands.h"
#include "data/recovery.h"
#include "data/tarvodataset.h"
#include "datareport.h"

using cli::failure;

namespace {

QStringList directories(const QCommandLineParser& parser) {
    const QStringList given = parser.values(QStringLiteral("dir"));
    if (!given.isEmpty()) {
        return given;
    }
    QSettings settings;
    return recovery::searchDirectories(settings);
}

int list(const QStringList& dirs) {
    const QList<recovery::unfinishedRun> runs = recovery::findUnfinishedRuns(dirs);
    if (runs.isEmpty()) {
        std::printf("no unfinished measurements (looked in %s)\n",
                    qPrintable(dirs.join(QStringLiteral(", "))));
        return cli::Success;
    }
    for (const recovery::unfinishedRun& run : runs) {
        std::printf("%s\t%s\tstarted %s\tlast saved %s%s\n", qPrintable(run.path),
                    qPrintable(run.typeName), qPrintable(run.started.toString(Qt::ISODate)),
                    qPrintable(run.saved.toString(Qt::ISODate)),
                    run.writerAlive ? "\t(its process still runs)" : "");
    }
    return cli::Success;
}

// Saves the recovered data as an ordinary data file and only then removes the recovery file.
int open(const QString& path, const QString& out, bool keep) {
    if (!QFileInfo(path).isFile()) {
        return cli::report(
            {cli::FileError, QStringLiteral("cannot read %1: no such file").arg(path)});
    }
    failure f{cli::Success, QString()};
    if (!cli::writablePath(out, f)) {
        return cli::report(f);
    }
    std::unique_ptr<tarvoDataSet> set;
    try {
        set.reset(recovery::openUnfinishedRun(path));
    } catch (int) {
        return cli::report(
            {cli::FileError,
             QStringLiteral("%1: Invalid File (its contents are damaged)").arg(path)});
    }
    if (!set) {
        return cli::report({cli::FileError, QStringLiteral("%1 holds no measured data").arg(path)});
    }
    reportTruncation(*set, path);
    if (!set->save(out)) {
        return cli::report(
            {cli::FileError,
             QStringLiteral("cannot write %1; the recovery file %2 is kept").arg(out, path)});
    }
    if (!keep && !recovery::discard(path)) {
        cli::message(QStringLiteral("saved %1, but could not remove %2").arg(out, path));
    }
    std::printf("recovered %d scans into %s\n", set->scanCount(), qPrintable(out));
    return cli::Success;
}

}  // namespace

int runRecover(const QStringList& args) {
    QCommandLineParser parser;
    cli::prepareParser(
        parser, QStringLiteral("Lists the measurements whose run never ended (--list), or saves "
                               "one as an ordinary data file (--open RECOVERY.kdj --out "
                               "FILE.kdf) and removes its recovery file."));
    parser.addOption({QStringLiteral("list"), QStringLiteral("List unfinished measurements.")});
    parser.addOption({QStringLiteral("open"),
                      QStringLiteral("The recovery file of an unfinished measurement (a "
                                     "journal, or a .kdf file of earlier versions)."),
                      QStringLiteral("RECOVERY.kdj")});
    parser.addOption({QStringLiteral("out"), QStringLiteral("Where to save the recovered data."),
                      QStringLiteral("FILE.kdf")});
    parser.addOption(
        {QStringLiteral("keep"), QStringLiteral("Keep the recovery file after saving its data.")});
    parser.addOption({QStringLiteral("dir"),
                      QStringLiteral("Look in this directory (default: the autosave directory and "
                                     "the user's data directory)."),
                      QStringLiteral("DIR")});
    failure f{cli::Success, QString()};
    if (!cli::parseCommand(parser, QStringLiteral("recover"), args, f)) {
        return cli::report(f);
    }
    const bool listing = parser.isSet(QStringLiteral("list"));
    const QString path = parser.value(QStringLiteral("open"));
    if (listing == !path.isEmpty()) {
        return cli::report({cli::UsageError,
                            QStringLiteral("recover: give either --list or --open RECOVERY.kdj")});
    }
    if (listing) {
        return list(directories(parser));
    }
    const QString out = parser.value(QStringLiteral("out"));
    if (out.isEmpty()) {
        return cli::report(
            {cli::UsageError, QStringLiteral("recover: --open needs --out FILE.kdf")});
    }
    return open(path, out, parser.isSet(QStringLiteral("keep")));
}
