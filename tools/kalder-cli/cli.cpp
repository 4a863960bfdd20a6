#include "cli.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <atomic>
#include <cmath>
#include <cstdio>

#include "data/exportchoices.h"
#include "tolmar2/MsgLogger.h"

namespace cli {
namespace {

std::atomic<bool> verbose{false};

// Qt's debug and warning lines come from the data and acquisition code, which speaks to a
// developer; a user of the tool sees them only when asking for them.
void messageFilter(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtFatalMsg || type == QtCriticalMsg || verbose) {
        std::fprintf(stderr, "%s\n", qPrintable(text));
    }
}

failure usage(const QString& command, const QString& text) {
    return {UsageError, QStringLiteral("%1: %2 See kalder-cli %1 --help.").arg(command, text)};
}

}  // namespace

void message(const QString& text) {
    std::fprintf(stderr, "kalder-cli: %s\n", qPrintable(text));
    std::fflush(stderr);
}

int report(const failure& f) {
    if (!f.message.isEmpty()) {
        message(f.message);
    }
    return f.code;
}

void setVerbose(bool on) {
    verbose = on;
    MsgLogger::setEcho(on);
    qInstallMessageHandler(messageFilter);
}

void prepareParser(QCommandLineParser& parser, const QString& about) {
    parser.setApplicationDescription(about);
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOption(
        {{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this text.")});
    parser.addOption({QStringLiteral("verbose"),
                      QStringLiteral("Also show the sensor library's log and diagnostics.")});
}

bool parseCommand(QCommandLineParser& parser, const QString& command, const QStringList& args,
                  failure& f) {
    QStringList all = args;
    all.prepend(QStringLiteral("kalder-cli"));
    if (!parser.parse(all)) {
        f = usage(command, parser.errorText());
        return false;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        // Qt names the program by its path; the usage line names it and the command.
        QString help = parser.helpText();
        const QString options = QStringLiteral("[options]");
        help.replace(0, help.indexOf(options),
                     QStringLiteral("Usage: kalder-cli %1 ").arg(command));
        std::fputs(qPrintable(help), stdout);
        f = {Success, QString()};
        return false;
    }
    setVerbose(parser.isSet(QStringLiteral("verbose")));
    return true;
}

namespace {

// The option's value through `convert` (QString::toDouble or toUInt); a usage error saying
// what the option takes when the text is not one.
template <typename T, typename Convert>
bool optionValue(const QCommandLineParser& p, const QString& name, T& value, failure& f,
                 Convert convert, const char* what) {
    if (!p.isSet(name)) {
        return true;
    }
    bool ok = false;
    const T v = convert(p.value(name), &ok);
    if (!ok || !std::isfinite(static_cast<double>(v))) {
        f = {UsageError, QStringLiteral("--%1 takes %2, not \"%3\"")
                             .arg(name, QLatin1String(what), p.value(name))};
        return false;
    }
    value = v;
    return true;
}

}  // namespace

bool number(const QCommandLineParser& p, const QString& name, double& value, failure& f) {
    return optionValue(
        p, name, value, f, [](const QString& t, bool* ok) { return t.toDouble(ok); }, "a number");
}

bool count(const QCommandLineParser& p, const QString& name, unsigned& value, failure& f) {
    return optionValue(
        p, name, value, f, [](const QString& t, bool* ok) { return t.toUInt(ok); },
        "a whole number of 0 or more");
}

void addExportOptions(QCommandLineParser& parser) {
    parser.addOption({QStringLiteral("delimiter"),
                      QStringLiteral("Field delimiter of the CSV file: one character, or \"tab\" "
                                     "(default \",\")."),
                      QStringLiteral("C")});
    parser.addOption({QStringLiteral("data"),
                      QStringLiteral("What the CSV file holds: results (average energy and ion "
                                     "flux per scan), averaged (also the averaged traces) or all "
                                     "(every trace). Default: results."),
                      QStringLiteral("results|averaged|all")});
}

bool exportOptions(const QCommandLineParser& parser, exportChoices& choices, failure& f) {
    if (parser.isSet(QStringLiteral("delimiter"))) {
        const QString d = parser.value(QStringLiteral("delimiter"));
        if (d == QLatin1String("tab")) {
            choices.separatorChar = QLatin1Char('\t');
        } else if (d.size() == 1 && d != QLatin1String("\n") && d != QLatin1String("\r")) {
            choices.separatorChar = d.at(0);
        } else {
            f = {UsageError,
                 QStringLiteral("--delimiter takes one character or \"tab\", not \"%1\"").arg(d)};
            return false;
        }
    }
    if (parser.isSet(QStringLiteral("data"))) {
        const QString d = parser.value(QStringLiteral("data"));
        if (d == QLatin1String("results")) {
            choices.dataMode = exportChoices::OnlyResults;
        } else if (d == QLatin1String("averaged")) {
            choices.dataMode = exportChoices::IncludeAveraged;
        } else if (d == QLatin1String("all")) {
            choices.dataMode = exportChoices::IncludeAll;
        } else {
            f = {UsageError,
                 QStringLiteral("--data takes results, averaged or all, not \"%1\"").arg(d)};
            return false;
        }
    }
    return true;
}

bool writablePath(const QString& path, failure& f) {
    const QFileInfo file(path);
    const QFileInfo dir(file.absolutePath());
    QString why;
    if (file.isDir()) {
        why = QStringLiteral("it is a directory");
    } else if (!dir.isDir()) {
        why = QStringLiteral("the directory %1 does not exist")
                  .arg(QDir::toNativeSeparators(dir.absoluteFilePath()));
    } else if (!dir.isWritable()) {
        why = QStringLiteral("the directory %1 is not writable")
                  .arg(QDir::toNativeSeparators(dir.absoluteFilePath()));
    } else if (file.exists() && !file.isWritable()) {
        why = QStringLiteral("the file is read-only");
    } else {
        return true;
    }
    f = {FileError, QStringLiteral("cannot write %1: %2").arg(path, why)};
    return false;
}

}  // namespace cli
