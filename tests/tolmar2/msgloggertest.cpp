// The message log exists once per process, so every scenario runs in a child process of its own
// and the test compares what the child wrote to standard error and to its log file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <string>

#include "tempdir.h"
#include "tolmar2/MsgLogger.h"
#include "tolmar2/TolmarCntrl.h"

namespace {

// Runs `scenario` in a child, in a fresh working directory, and collects what it left behind.
struct IsolatedRun {
    int exitCode = -1;                         // the scenario's result; -1 if the child died
    std::string stderrText;                    // everything the child wrote to standard error
    std::map<std::string, std::string> files;  // regular files left in its working directory
    std::time_t before = 0, after = 0;         // wall-clock seconds bracketing the child's life
};

IsolatedRun runIsolated(const std::function<int()>& scenario) {
    TempDir work, capture;
    const std::string stderrPath = capture.file("stderr.txt");
    IsolatedRun run;
    run.before = std::time(nullptr);
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        int code = 98;
        const int fd = open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd >= 0 && dup2(fd, STDERR_FILENO) >= 0 && chdir(work.path().c_str()) == 0) {
            code = scenario();
        }
        std::fflush(nullptr);
        _exit(code);
    }
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        run.exitCode = WEXITSTATUS(status);
    run.after = std::time(nullptr);
    run.stderrText = readWholeFile(stderrPath);
    for (const auto& entry : std::filesystem::directory_iterator(work.path()))
        if (entry.is_regular_file())
            run.files[entry.path().filename().string()] = readWholeFile(entry.path().string());
    return run;
}

const std::string STAMPED = "tarvo_<local time>.log";

// The header written by hand for a given build time text and log-date text (which ends in its
// own newline: a blank line follows it).
std::string headerText(const std::string& compiled, const std::string& logDate) {
    return "\n******************** Logged by Tarvo MsgLogger ********************\n\n"
           "\tAPI Version: 2.9.0\n\tAPI Compilation date: " +
           compiled + "\n\tLog Date: " + logDate + "\n" + std::string(68, '*') + "\n\n";
}

std::string timeText(std::time_t t, const char* format) {
    std::tm local{};
    localtime_r(&t, &local);
    char text[64];
    std::strftime(text, sizeof text, format, &local);
    return text;
}

// Checks that `text` starts with a header written during `run` and returns the rest. The build
// time is only known to the library, so that line is checked for its form ("Apr 13 2018
// 16:32:24") and then taken over; the log date must be a second within the child's lifetime.
::testing::AssertionResult splitHeader(const IsolatedRun& run, const std::string& text,
                                       std::string* rest) {
    static const std::regex compiledLine(
        "\tAPI Compilation date: ([A-Z][a-z]{2} [ 1-3][0-9] [0-9]{4} "
        "[0-9]{2}:[0-9]{2}:[0-9]{2})\n");
    std::smatch m;
    if (!std::regex_search(text, m, compiledLine))
        return ::testing::AssertionFailure() << "no compilation date line in:\n" << text;
    for (std::time_t t = run.before; t <= run.after; ++t) {
        const std::string header = headerText(m[1].str(), timeText(t, "%a %b %e %H:%M:%S %Y\n"));
        if (text.compare(0, header.size(), header) == 0) {
            *rest = text.substr(header.size());
            return ::testing::AssertionSuccess();
        }
    }
    return ::testing::AssertionFailure() << "header differs:\n" << text;
}

void logEveryLevel() {
    MsgLogger::log(0, "x.cpp", 1, "error text\n");
    MsgLogger::log(1, "x.cpp", 22, "warning text\n");
    MsgLogger::log(2, "x.cpp", 333, "message text\n");
    MsgLogger::log(7, "x.cpp", -4, "other level\n");
    MsgLogger::log(0, "a.cpp", 1, "no newline");
    MsgLogger::log(2, "c.cpp", 3, nullptr);
    MsgLogger::log(1, "d.cpp", 4, "done\n");
}

// One line per level, any level other than 0 and 1 being a message; a text without a newline
// runs into the next line.
const char* const LEVEL_LINES =
    "[ERROR:   x.cpp:1] error text\n"
    "[WARNING: x.cpp:22] warning text\n"
    "[MESSAGE: x.cpp:333] message text\n"
    "[MESSAGE: x.cpp:-4] other level\n"
    "[ERROR:   a.cpp:1] no newline[MESSAGE: c.cpp:3] [WARNING: d.cpp:4] done\n";

// Formatted logs name their call site; the error's text is cut to fit.
constexpr int FORMATTED_LINE = __LINE__ + 2;
void logFormatted(const std::string& text) {
    TOLMAR_LOG_WARNING("%s %d 0x%04X\n", "value", -12, 0xBEEFu);
    TOLMAR_LOG_ERROR("%s\n", text.c_str());
}

struct Scenario {
    const char* name;
    std::function<int()> run;  // 0 when the checks inside the child hold
    std::string file;          // the log file expected, "" for none
    std::string lines;         // after the header, on standard error and in the file
};

// Standard error and the file of a run, each expected as header + lines.
void expectLog(const IsolatedRun& run, const Scenario& s) {
    ASSERT_EQ(run.exitCode, 0);
    std::string rest;
    ASSERT_TRUE(splitHeader(run, run.stderrText, &rest));
    EXPECT_EQ(rest, s.lines);
    if (s.file.empty()) {
        EXPECT_TRUE(run.files.empty());
        return;
    }
    ASSERT_EQ(run.files.size(), 1u);
    std::string name = s.file;
    for (std::time_t t = run.before; name == STAMPED && t <= run.after; ++t)
        if (run.files.count(timeText(t, "tarvo_%Y%m%d%H%M%S.log")))
            name = timeText(t, "tarvo_%Y%m%d%H%M%S.log");
    ASSERT_EQ(run.files.count(name), 1u) << run.files.begin()->first;
    ASSERT_TRUE(splitHeader(run, run.files.at(name), &rest));
    EXPECT_EQ(rest, s.lines);
}

TEST(MsgLogger, Scenarios) {
    const std::string longName(2000, 'n'), text(1000, 't'), cut254 = std::string(254, 't') + "\n";
    const Scenario scenarios[] = {
        {"tarvo.log by default, file name empty before the first log, one header",
         [] {
             const bool emptyBefore = TolmarCntrl::getLogFileName()[0] == '\0';
             MsgLogger::init();
             logEveryLevel();
             MsgLogger::init();
             return emptyBefore && std::string(TolmarCntrl::getLogFileName()) == "tarvo.log" ? 0
                                                                                             : 1;
         },
         "tarvo.log", LEVEL_LINES},
        {"mode 0: standard error only; invalid modes are ignored; the base name is taken after "
         "the last backslash, else the last slash; file output switched on later has no path",
         [] {
             TolmarCntrl::setLogging(0);
             for (int mode : {-1, 3}) TolmarCntrl::setLogging(mode);
             logEveryLevel();
             const bool stayed = MsgLogger::mode() == 0;
             TolmarCntrl::setLogging(1);
             for (const char* file : {"C:\\work\\TolmarCntrl.cpp", "/home/dev/src/UsbLink.cpp",
                                      "C:\\build\\src/Unix.cpp", static_cast<const char*>(nullptr)})
                 MsgLogger::log(1, file, 9, "t\n");
             return TolmarCntrl::getLogFileName()[0] == '\0' && stayed ? 0 : 1;
         },
         "",
         LEVEL_LINES + std::string("[WARNING: TolmarCntrl.cpp:9] t\n[WARNING: UsbLink.cpp:9] t\n") +
             "[WARNING: src/Unix.cpp:9] t\n[WARNING: :9] t\n"},
        {"mode 2: a file named after the local time",
         [] {
             TolmarCntrl::setLogging(2);
             logEveryLevel();
             const std::string name = TolmarCntrl::getLogFileName();
             return std::regex_match(name, std::regex("tarvo_[0-9]{14}\\.log")) ? 0 : 1;
         },
         STAMPED, LEVEL_LINES},
        {"formatted logs name their call site; overlong texts and lines are cut keeping the "
         "newline",
         [&] {
             TolmarCntrl::setLogging(0);
             logFormatted(text);
             MsgLogger::log(1, "y.cpp", 2, (text + "\n").c_str());          // direct, same length
             MsgLogger::log(2, "y.cpp", 4, std::string(255, 'e').c_str());  // fits exactly
             MsgLogger::log(2, longName.c_str(), 5, "short\n");  // the line buffer overflows
             MsgLogger::log(2, "y.cpp", 6, "end\n");
             return 0;
         },
         "",
         "[WARNING: msgloggertest.cpp:" + std::to_string(FORMATTED_LINE) + "] value -12 0xBEEF\n" +
             "[ERROR:   msgloggertest.cpp:" + std::to_string(FORMATTED_LINE + 1) + "] " + cut254 +
             "[WARNING: y.cpp:2] " + cut254 + "[MESSAGE: y.cpp:4] " + std::string(255, 'e') +
             ("[MESSAGE: " + longName).substr(0, 1022) + "\n[MESSAGE: y.cpp:6] end\n"},
    };
    for (const Scenario& s : scenarios) {
        SCOPED_TRACE(s.name);
        expectLog(runIsolated(s.run), s);
    }
}

}  // namespace
