#include "isolatedrun.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "tempdir.h"

IsolatedRun runIsolated(const std::function<int()>& scenario) {
    TempDir work;
    TempDir capture;
    const std::string stderrPath = capture.file("stderr.txt");

    IsolatedRun run;
    run.before = std::time(nullptr);
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        int code = 98;
        const int fd = open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd >= 0 && dup2(fd, STDERR_FILENO) >= 0 && chdir(work.path().c_str()) == 0) {
            try {
                code = scenario();
            } catch (...) {
                code = 99;
            }
        }
        std::fflush(nullptr);
        _exit(code);
    }
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
        run.exitCode = WEXITSTATUS(status);
    }
    run.after = std::time(nullptr);

    run.stderrText = readWholeFile(stderrPath);
    for (const auto& entry : std::filesystem::directory_iterator(work.path())) {
        if (entry.is_regular_file()) {
            run.files[entry.path().filename().string()] = readWholeFile(entry.path().string());
        }
    }
    return run;
}
