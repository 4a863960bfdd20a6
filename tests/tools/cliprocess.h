// Runs a tool (kalder-cli, tolmar-info) as a user runs it: a child process in the current
// directory, on the virtual sensor, with settings and data directories of its own (never the
// user's), standard output and standard error captured.
#ifndef TESTS_TOOLS_CLIPROCESS_H
#define TESTS_TOOLS_CLIPROCESS_H

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <sstream>
#include <string>
#include <vector>

struct CliRun {
    int status = -1;  // exit code; -1 when the process did not exit by itself
    std::string out;
    std::string err;
};

// The words of a command line or environment.
inline std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> result;
    std::istringstream in(line);
    for (std::string w; in >> w;) result.push_back(w);
    return result;
}

// Starts the program, runs it to the end and returns what it printed. `env`: extra NAME=value
// entries over the test's environment.
inline CliRun runProgram(const char* program, const std::vector<std::string>& args,
                         const std::vector<std::string>& env = {}) {
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    const QString here = QDir::currentPath();
    e.insert("HOME", here);
    e.insert("XDG_CONFIG_HOME", here + "/cli-config");
    e.insert("XDG_DATA_HOME", here + "/cli-data");
    e.insert("TOLMAR_LINK", "virtual");
    e.insert("TOLMAR_VSENSOR_SPEED", "0");
    e.insert("TOLMAR_FIRMWARE_DIR", FIRMWARE_SOURCE_DIR);
    for (const std::string& entry : env) {
        const size_t eq = entry.find('=');
        e.insert(QString::fromStdString(entry.substr(0, eq)),
                 QString::fromStdString(entry.substr(eq + 1)));
    }
    QStringList arguments;
    for (const std::string& a : args) arguments << QString::fromStdString(a);
    QProcess process;
    process.setProcessEnvironment(e);
    process.start(QString::fromLocal8Bit(program), arguments);
    CliRun run;
    process.waitForFinished(-1);
    if (process.error() != QProcess::FailedToStart &&
        process.exitStatus() == QProcess::NormalExit) {
        run.status = process.exitCode();
    }
    run.out = process.readAllStandardOutput().toStdString();
    run.err = process.readAllStandardError().toStdString();
    return run;
}

#endif  // TESTS_TOOLS_CLIPROCESS_H
