// What the commands of kalder-cli share: exit codes, the one-line messages on standard error,
// option parsing helpers and the checks of file paths.
#ifndef TOOLS_KALDER_CLI_CLI_H
#define TOOLS_KALDER_CLI_CLI_H

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

struct exportChoices;

namespace cli {

enum ExitCode {
    Success = 0,
    UsageError = 1,
    NoSensor = 2,    // no unit found, the unit is not usable, or the connection failed
    ScanFailed = 3,  // the unit refused the scan or was lost during it
    FileError = 4,   // a file could not be read or written, or is not a kdf data file
};

// A failure: the exit code and the one line that explains it.
struct failure {
    int code;
    QString message;
};

// "kalder-cli: <text>" on standard error.
void message(const QString& text);
// Prints the failure's line and returns its exit code.
int report(const failure& f);

// Library log lines and the data code's diagnostics reach standard error only when verbose.
void setVerbose(bool on);

// A parser for one command, with --help and --verbose.
void prepareParser(QCommandLineParser& parser, const QString& about);
// Parses the command's arguments (without the program and command names). Returns false with
// `f` filled for a usage error, false with f.code Success after printing the help text (whose
// usage line names the command).
bool parseCommand(QCommandLineParser& parser, const QString& command, const QStringList& args,
                  failure& f);

// Option values; false with `f` set to a usage error naming the option when the text is not a
// number of the kind asked for.
bool number(const QCommandLineParser& p, const QString& name, double& value, failure& f);
bool count(const QCommandLineParser& p, const QString& name, unsigned& value, failure& f);

// The CSV options --delimiter C and --data results|averaged|all.
void addExportOptions(QCommandLineParser& parser);
bool exportOptions(const QCommandLineParser& parser, exportChoices& choices, failure& f);

// Whether a file can be created or replaced at path (its directory exists and is writable, and
// the path is not a directory); otherwise a file error naming the path.
bool writablePath(const QString& path, failure& f);

}  // namespace cli

#endif  // TOOLS_KALDER_CLI_CLI_H
