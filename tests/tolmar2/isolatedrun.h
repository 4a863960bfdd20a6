// Runs a piece of test code in a child process of its own, for library state that exists once
// per process (the message log): the child starts in a fresh working directory with its
// standard error stream captured, and the test inspects what it left behind.
#ifndef TESTS_TOLMAR2_ISOLATEDRUN_H
#define TESTS_TOLMAR2_ISOLATEDRUN_H

#include <ctime>
#include <functional>
#include <map>
#include <string>

struct IsolatedRun {
    int exitCode = -1;                         // the scenario's result; -1 if the child died
    std::string stderrText;                    // everything the child wrote to standard error
    std::map<std::string, std::string> files;  // regular files left in its working directory
    std::time_t before = 0;                    // wall-clock seconds bracketing the child's life
    std::time_t after = 0;
};

// Forks, enters a new temporary directory, redirects standard error, runs `scenario` and exits
// with its result (0 for success, anything else names the check that failed).
IsolatedRun runIsolated(const std::function<int()>& scenario);

#endif  // TESTS_TOLMAR2_ISOLATEDRUN_H
