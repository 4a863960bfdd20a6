// inspect and export: the commands that read a kdf file.
#include <QFileInfo>
#include <memory>

#include "cli.h"
#include "commands.h"
#include "data/exportchoices.h"
#include "data/tarvodataset.h"
#include "datareport.h"

using cli::failure;

namespace {

// Reads the file named by the command's one positional argument. A file that is missing,
// unreadable, not a kdf file at all (no data marker, no magic) or of a version too old to read
// is a file error, as is one whose contents are invalid. A file cut short is read up to the cut,
// and standard error says so.
std::unique_ptr<tarvoDataSet> load(const QCommandLineParser& parser, const QString& command,
                                   QString& path, failure& f) {
    const QStringList files = parser.positionalArguments();
    if (files.size() != 1) {
        f = {cli::UsageError,
             QStringLiteral("%1 takes one kdf file (see kalder-cli %1 --help)").arg(command)};
        return nullptr;
    }
    path = files.first();
    const QFileInfo info(path);
    if (!info.exists() || info.isDir() || !info.isReadable()) {
        f = {cli::FileError, QStringLiteral("cannot read %1: %2")
                                 .arg(path, info.exists() ? QStringLiteral("not a readable file")
                                                          : QStringLiteral("no such file"))};
        return nullptr;
    }
    std::unique_ptr<tarvoDataSet> set;
    try {
        set = std::make_unique<tarvoDataSet>(path);
    } catch (int) {
        f = {cli::FileError,
             QStringLiteral("%1: Invalid File (its contents are damaged)").arg(path)};
        return nullptr;
    }
    if (set->fileVersion == 0) {
        f = {cli::FileError,
             QStringLiteral("%1 is not a kdf data file of a version this program reads").arg(path)};
        return nullptr;
    }
    reportTruncation(*set, path);
    return set;
}

}  // namespace

int runInspect(const QStringList& args) {
    QCommandLineParser parser;
    cli::prepareParser(parser,
                       QStringLiteral("Prints what a kdf data file holds: version, kind, sensor "
                                      "code, channels, scans, traces, points, the settings and "
                                      "the results of every scan."));
    parser.addPositionalArgument(QStringLiteral("FILE.kdf"), QStringLiteral("The data file."));
    failure f{cli::Success, QString()};
    if (!cli::parseCommand(parser, QStringLiteral("inspect"), args, f)) {
        return cli::report(f);
    }
    QString path;
    std::unique_ptr<tarvoDataSet> set = load(parser, QStringLiteral("inspect"), path, f);
    if (!set) {
        return cli::report(f);
    }
    printInspection(*set, path);
    return cli::Success;
}

int runExport(const QStringList& args) {
    QCommandLineParser parser;
    cli::prepareParser(parser,
                       QStringLiteral("Exports a kdf data file as CSV text, a MAT file and/or an "
                                      "HDF5 file, with the same writers as the program."));
    parser.addPositionalArgument(QStringLiteral("FILE.kdf"), QStringLiteral("The data file."));
    parser.addOption(
        {QStringLiteral("csv"), QStringLiteral("Write a CSV file."), QStringLiteral("OUT")});
    parser.addOption({QStringLiteral("mat"),
                      QStringLiteral("Write a MAT file with the averaged trace of every scan."),
                      QStringLiteral("OUT")});
    parser.addOption({QStringLiteral("h5"),
                      QStringLiteral("Write an HDF5 file with every scan, trace and result."),
                      QStringLiteral("OUT")});
    cli::addExportOptions(parser);
    failure f{cli::Success, QString()};
    exportChoices choices;
    if (!cli::parseCommand(parser, QStringLiteral("export"), args, f) ||
        !cli::exportOptions(parser, choices, f)) {
        return cli::report(f);
    }
    const QString csv = parser.value(QStringLiteral("csv"));
    const QString mat = parser.value(QStringLiteral("mat"));
    const QString h5 = parser.value(QStringLiteral("h5"));
    if (csv.isEmpty() && mat.isEmpty() && h5.isEmpty()) {
        return cli::report(
            {cli::UsageError,
             QStringLiteral("export: --csv OUT, --mat OUT or --h5 OUT is required")});
    }
    QString path;
    std::unique_ptr<tarvoDataSet> set = load(parser, QStringLiteral("export"), path, f);
    if (!set) {
        return cli::report(f);
    }
    for (const QString& out : {csv, mat, h5}) {
        if (!out.isEmpty() && !cli::writablePath(out, f)) {
            return cli::report(f);
        }
    }
    if (!writeFiles(*set, QString(), csv, mat, choices, f, h5)) {
        return cli::report(f);
    }
    return cli::Success;
}
