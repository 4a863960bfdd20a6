#include "cliprocess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "tempdir.h"

namespace {

const char* const BASE_ENV[] = {"TOLMAR_LINK=virtual", "TOLMAR_VSENSOR_SPEED=0",
                                "TOLMAR_FIRMWARE_DIR=" FIRMWARE_SOURCE_DIR};

}  // namespace

CliProcess::CliProcess(const std::vector<std::string>& args, const std::vector<std::string>& env) {
    char name[] = "/tmp/kalder-cli-outXXXXXX";
    const int out = mkstemp(name);
    outFile = name;
    int fds[2];
    if (out < 0 || pipe(fds) != 0) {
        return;
    }
    pid = fork();
    if (pid == 0) {
        dup2(out, STDOUT_FILENO);
        dup2(fds[1], STDERR_FILENO);
        close(fds[0]);
        for (const char* e : BASE_ENV) putenv(const_cast<char*>(e));
        // Settings and recovery files beside the files of the test (absolute paths, as the
        // directory lookup wants them), never the user's, so that a program running on this
        // machine and the test do not meet.
        char cwd[4096];
        const std::string here = getcwd(cwd, sizeof cwd) ? cwd : "/nonexistent";
        setenv("HOME", here.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (here + "/cli-config").c_str(), 1);
        setenv("XDG_DATA_HOME", (here + "/cli-data").c_str(), 1);
        for (const std::string& e : env) putenv(strdup(e.c_str()));
        std::vector<char*> argv{const_cast<char*>(KALDER_CLI)};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(KALDER_CLI, argv.data());
        _exit(127);
    }
    close(out);
    close(fds[1]);
    errPipe = fds[0];
}

CliProcess::~CliProcess() {
    if (pid > 0) {
        kill(pid, SIGKILL);
        finish();
    }
    if (!outFile.empty()) {
        unlink(outFile.c_str());
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
        char chunk[4096];
        const ssize_t n = errPipe < 0 ? 0 : read(errPipe, chunk, sizeof chunk);
        if (n <= 0) {
            return false;
        }
        err.append(chunk, static_cast<size_t>(n));
    }
}

void CliProcess::signal(int number) {
    if (pid > 0) {
        kill(pid, number);
    }
}

CliRun CliProcess::finish() {
    CliRun run;
    waitForLine([](const std::string&) { return false; });
    if (errPipe >= 0) {
        close(errPipe);
        errPipe = -1;
    }
    int raw = 0;
    if (pid > 0 && waitpid(pid, &raw, 0) == pid && WIFEXITED(raw)) {
        run.status = WEXITSTATUS(raw);
    }
    pid = -1;
    run.out = readWholeFile(outFile);
    run.err = err;
    return run;
}

CliRun runCli(const std::vector<std::string>& args, const std::vector<std::string>& env) {
    CliProcess process(args, env);
    return process.finish();
}
