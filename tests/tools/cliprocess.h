// Runs kalder-cli as a user runs it: a child process in the current directory, on the virtual
// sensor, with a settings store of its own, standard output and standard error captured.
#ifndef TESTS_TOOLS_CLIPROCESS_H
#define TESTS_TOOLS_CLIPROCESS_H

#include <sys/types.h>

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
    CliProcess(const std::vector<std::string>& args, const std::vector<std::string>& env = {});
    ~CliProcess();
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    // Reads standard error line by line until `wanted` returns true for a line (true) or the
    // stream ends (false).
    bool waitForLine(const std::function<bool(const std::string&)>& wanted);
    void signal(int number);
    // Reads what is left and waits for the exit.
    CliRun finish();

private:
    pid_t pid = -1;
    int errPipe = -1;
    std::string outFile;
    std::string err;
    size_t scanned = 0;
};

// Starts, runs to the end and returns what the process printed.
CliRun runCli(const std::vector<std::string>& args, const std::vector<std::string>& env = {});

#endif  // TESTS_TOOLS_CLIPROCESS_H
