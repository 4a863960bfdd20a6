// Runs a tool (kalder-cli, tolmar-info) as a user runs it: a child process in the current
// directory, on the virtual sensor, with settings and data directories of its own, standard
// output and standard error captured.
#ifndef TESTS_TOOLS_CLIPROCESS_H
#define TESTS_TOOLS_CLIPROCESS_H

#include <QProcess>
#include <functional>
#include <string>
#include <vector>

struct CliRun {
    int status = -1;  // exit code; -1 when the process did not exit by itself
    std::string out;
    std::string err;
};

class CliProcess {
public:
    // `env`: extra NAME=value entries over the test's environment.
    CliProcess(const char* program, const std::vector<std::string>& args,
               const std::vector<std::string>& env = {});
    ~CliProcess();

    // Reads standard error line by line until `wanted` returns true for a line (true) or the
    // stream ends (false).
    bool waitForLine(const std::function<bool(const std::string&)>& wanted);
    void signal(int number);
    // Reads what is left and waits for the exit.
    CliRun finish();

private:
    QProcess process;
    std::string err;
    size_t scanned = 0;
};

// Starts, runs to the end and returns what the process printed.
CliRun runProgram(const char* program, const std::vector<std::string>& args,
                  const std::vector<std::string>& env = {});
// The words of a command line or environment.
std::vector<std::string> words(const std::string& line);

#endif  // TESTS_TOOLS_CLIPROCESS_H
