#include "cliprocess.h"

#include <signal.h>

#include <QDir>
#include <QProcessEnvironment>
#include <sstream>

CliProcess::CliProcess(const char* program, const std::vector<std::string>& args,
                       const std::vector<std::string>& env) {
    // Settings and recovery files beside the files of the test, never the user's, so that a
    // program running on this machine and the test do not meet.
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
    process.setProcessEnvironment(e);
    process.setReadChannel(QProcess::StandardError);
    process.start(QString::fromLocal8Bit(program), arguments);
}

CliProcess::~CliProcess() {
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(-1);
    }
}

bool CliProcess::waitForLine(const std::function<bool(const std::string&)>& wanted) {
    for (;;) {
        size_t end;
        while ((end = err.find('\n', scanned)) != std::string::npos) {
            const std::string line = err.substr(scanned, end - scanned);
            scanned = end + 1;
            if (wanted(line)) {
                return true;
            }
        }
        if (process.bytesAvailable() == 0 && !process.waitForReadyRead(-1)) {
            return false;
        }
        err += process.readAllStandardError().toStdString();
    }
}

void CliProcess::signal(int number) {
    ::kill(static_cast<pid_t>(process.processId()), number);
}

CliRun CliProcess::finish() {
    CliRun run;
    process.waitForFinished(-1);
    if (process.error() != QProcess::FailedToStart &&
        process.exitStatus() == QProcess::NormalExit) {
        run.status = process.exitCode();
    }
    run.out = process.readAllStandardOutput().toStdString();
    run.err = err + process.readAllStandardError().toStdString();
    return run;
}

CliRun runProgram(const char* program, const std::vector<std::string>& args,
                  const std::vector<std::string>& env) {
    CliProcess process(program, args, env);
    return process.finish();
}

std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> result;
    std::istringstream in(line);
    for (std::string w; in >> w;) result.push_back(w);
    return result;
}
