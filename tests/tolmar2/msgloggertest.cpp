// The message log exists once per process, so every scenario runs in a child process of its own
// and the test compares what the child wrote to standard error and to its log file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tempdir.h"
#include "tolmar2/AES.h"
#include "tolmar2/MsgLogger.h"
#include "tolmar2/TolmarCntrl.h"

namespace {

// Runs `scenario` in a child process of its own, in a fresh working directory with standard error
// captured, and collects what it left behind: the message log exists once per process.
struct IsolatedRun {
    int exitCode = -1;                         // the scenario's result; -1 if the child died
    std::string stderrText;                    // everything the child wrote to standard error
    std::map<std::string, std::string> files;  // regular files left in its working directory
    std::time_t before = 0;                    // wall-clock seconds bracketing the child's life
    std::time_t after = 0;
};

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
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        run.exitCode = WEXITSTATUS(status);
    run.after = std::time(nullptr);
    run.stderrText = readWholeFile(stderrPath);
    for (const auto& entry : std::filesystem::directory_iterator(work.path())) {
        if (entry.is_regular_file())
            run.files[entry.path().filename().string()] = readWholeFile(entry.path().string());
    }
    return run;
}

const std::string STARS20(20, '*');
const std::string STARS68(68, '*');

// The header written by hand for a given build time text and log-date text (which ends in its
// own newline: a blank line follows it).
std::string headerText(const std::string& compiled, const std::string& logDate) {
    return "\n" + STARS20 + " Logged by Tarvo MsgLogger " + STARS20 + "\n\n" +
           "\tAPI Version: 2.9.0\n" + "\tAPI Compilation date: " + compiled + "\n" +
           "\tLog Date: " + logDate + "\n" + STARS68 + "\n\n";
}

std::string asctimeOf(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    char text[32];
    return asctime_r(&local, text);
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
    if (!std::regex_search(text, m, compiledLine)) {
        return ::testing::AssertionFailure() << "no compilation date line in:\n" << text;
    }
    for (std::time_t t = run.before; t <= run.after; ++t) {
        const std::string header = headerText(m[1].str(), asctimeOf(t));
        if (text.compare(0, header.size(), header) == 0) {
            *rest = text.substr(header.size());
            return ::testing::AssertionSuccess();
        }
    }
    return ::testing::AssertionFailure() << "header differs:\n" << text;
}

// Standard error and the files of a run, each expected as header + `lines`.
void expectLog(const IsolatedRun& run, const std::string& fileName, const std::string& fileLines,
               const std::string& stderrLines) {
    ASSERT_EQ(run.exitCode, 0);
    std::string rest;
    ASSERT_TRUE(splitHeader(run, run.stderrText, &rest));
    EXPECT_EQ(rest, stderrLines);
    if (fileName.empty()) {
        EXPECT_TRUE(run.files.empty());
        return;
    }
    ASSERT_EQ(run.files.size(), 1u);
    ASSERT_EQ(run.files.count(fileName), 1u) << run.files.begin()->first;
    ASSERT_TRUE(splitHeader(run, run.files.at(fileName), &rest));
    EXPECT_EQ(rest, fileLines);
}

void logEveryLevel() {
    MsgLogger::log(0, "x.cpp", 1, "error text\n");
    MsgLogger::log(1, "x.cpp", 22, "warning text\n");
    MsgLogger::log(2, "x.cpp", 333, "message text\n");
    MsgLogger::log(7, "x.cpp", -4, "other level\n");
    MsgLogger::log(-1, "x.cpp", 0, "negative level\n");
}

// One line per level; any level other than 0 and 1 is a message.
const char* const LEVEL_LINES =
    "[ERROR:   x.cpp:1] error text\n"
    "[WARNING: x.cpp:22] warning text\n"
    "[MESSAGE: x.cpp:333] message text\n"
    "[MESSAGE: x.cpp:-4] other level\n"
    "[MESSAGE: x.cpp:0] negative level\n";

const char* const NO_NEWLINE =
    "[ERROR:   a.cpp:1] no newline[MESSAGE: b.cpp:2] [MESSAGE: c.cpp:3] [WARNING: d.cpp:4] done\n";

struct Scenario {
    const char* name;
    std::function<int()> run;  // 0 when the checks inside the child hold
    const char* file;          // the log file expected, "" for none
    std::string fileLines;     // after the header
    std::string stderrLines;   // after the header
};

TEST(MsgLogger, Scenarios) {
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
         "tarvo.log", LEVEL_LINES, LEVEL_LINES},
        {"mode 0: standard error only; invalid modes are ignored",
         [] {
             TolmarCntrl::setLogging(0);
             for (int mode : {-1, 3, 100, -2147483647 - 1}) TolmarCntrl::setLogging(mode);
             logEveryLevel();
             return TolmarCntrl::getLogFileName()[0] == '\0' && MsgLogger::mode() == 0 ? 0 : 1;
         },
         "", "", LEVEL_LINES},
        {"text without a newline runs into the next line",
         [] {
             MsgLogger::log(0, "a.cpp", 1, "no newline");
             MsgLogger::log(2, "b.cpp", 2, "");
             MsgLogger::log(2, "c.cpp", 3, nullptr);
             MsgLogger::log(1, "d.cpp", 4, "done\n");
             return 0;
         },
         "tarvo.log", NO_NEWLINE, NO_NEWLINE},
        {"mode changes after initialisation only switch the file output; the path stays",
         [] {
             MsgLogger::log(2, "m.cpp", 1, "one\n");
             TolmarCntrl::setLogging(0);
             MsgLogger::log(2, "m.cpp", 2, "two\n");
             TolmarCntrl::setLogging(2);
             MsgLogger::log(2, "m.cpp", 3, "three\n");
             return std::string(TolmarCntrl::getLogFileName()) == "tarvo.log" ? 0 : 1;
         },
         "tarvo.log", "[MESSAGE: m.cpp:1] one\n[MESSAGE: m.cpp:3] three\n",
         "[MESSAGE: m.cpp:1] one\n[MESSAGE: m.cpp:2] two\n[MESSAGE: m.cpp:3] three\n"},
        {"file output switched on without a path writes no file",
         [] {
             TolmarCntrl::setLogging(0);
             MsgLogger::init();
             TolmarCntrl::setLogging(1);
             MsgLogger::log(0, "p.cpp", 1, "no path\n");
             return TolmarCntrl::getLogFileName()[0] == '\0' ? 0 : 1;
         },
         "", "", "[ERROR:   p.cpp:1] no path\n"},
        {"a log file that cannot be opened is skipped",
         [] {
             if (mkdir("tarvo.log", 0700) != 0)
                 return 1;  // a directory cannot be opened as a file
             MsgLogger::log(0, "u.cpp", 1, "still on stderr\n");
             return 0;
         },
         "", "", "[ERROR:   u.cpp:1] still on stderr\n"},
    };
    for (const Scenario& s : scenarios) {
        SCOPED_TRACE(s.name);
        expectLog(runIsolated(s.run), s.file, s.fileLines, s.stderrLines);
    }
}

TEST(MsgLogger, ModeTwoUsesTimeStampedFileName) {
    const IsolatedRun run = runIsolated([] {
        TolmarCntrl::setLogging(2);
        logEveryLevel();
        const std::string name = TolmarCntrl::getLogFileName();
        return std::regex_match(name, std::regex("tarvo_[0-9]{14}\\.log")) ? 0 : 1;
    });
    ASSERT_EQ(run.files.size(), 1u);
    const std::string name = run.files.begin()->first;
    bool stampedDuringTheRun = false;  // the name's time is a second within the child's life
    for (std::time_t t = run.before; t <= run.after; ++t) {
        std::tm local{};
        localtime_r(&t, &local);
        char stamped[32];
        std::strftime(stamped, sizeof stamped, "tarvo_%Y%m%d%H%M%S.log", &local);
        stampedDuringTheRun |= name == stamped;
    }
    EXPECT_TRUE(stampedDuringTheRun) << name;
    expectLog(run, name, LEVEL_LINES, LEVEL_LINES);
}

TEST(MsgLogger, BaseNameIsTakenAfterLastBackslashElseSlash) {
    struct Case {
        const char* file;
        const char* shown;
    };
    static const Case cases[] = {
        {"C:\\work\\tolmar\\TolmarCntrl.cpp", "TolmarCntrl.cpp"},
        {"/home/dev/tolmar2/src/UsbLink.cpp", "UsbLink.cpp"},
        {"Plain.cpp", "Plain.cpp"},
        {"src/win\\Mixed.cpp", "Mixed.cpp"},
        {"C:\\build\\src/Unix.cpp", "src/Unix.cpp"},  // the backslash rule wins
        {"dir/", ""},
        {"", ""},
    };
    const IsolatedRun run = runIsolated([] {
        TolmarCntrl::setLogging(0);
        for (const Case& c : cases) MsgLogger::log(1, c.file, 9, "t\n");
        MsgLogger::log(1, nullptr, 9, "t\n");
        return 0;
    });
    std::string expected;
    for (const Case& c : cases) expected += std::string("[WARNING: ") + c.shown + ":9] t\n";
    expected += "[WARNING: :9] t\n";
    expectLog(run, "", "", expected);
}

// Formatted logs name their call site; overlong texts and lines are cut keeping the newline.
TEST(MsgLogger, FormattedLogsAndOverlongLines) {
    const std::string longName(2000, 'n');
    constexpr int LINE = __LINE__ + 5;
    const IsolatedRun run = runIsolated([&longName] {
        TolmarCntrl::setLogging(0);
        const std::string text(1000, 't');
        TOLMAR_LOG_WARNING("%s %d 0x%04X\n", "value", -12, 0xBEEFu);
        TOLMAR_LOG_ERROR("%s\n", text.c_str());                        // formatted, 1001 characters
        MsgLogger::log(1, "y.cpp", 2, (text + "\n").c_str());          // direct, same length
        MsgLogger::log(2, "y.cpp", 3, text.c_str());                   // no newline to keep
        MsgLogger::log(2, "y.cpp", 4, std::string(255, 'e').c_str());  // fits exactly
        MsgLogger::log(2, longName.c_str(), 5, "short\n");             // the line buffer overflows
        MsgLogger::log(2, "y.cpp", 6, "end\n");
        return 0;
    });
    const std::string cut254 = std::string(254, 't') + "\n";
    const std::string longLine = "[MESSAGE: " + longName;
    const std::string expected =
        "[WARNING: msgloggertest.cpp:" + std::to_string(LINE - 1) + "] value -12 0xBEEF\n" +
        "[ERROR:   msgloggertest.cpp:" + std::to_string(LINE) + "] " + cut254 +
        "[WARNING: y.cpp:2] " + cut254 + "[MESSAGE: y.cpp:3] " + std::string(255, 't') +
        "[MESSAGE: y.cpp:4] " + std::string(255, 'e') + longLine.substr(0, 1022) + "\n" +
        "[MESSAGE: y.cpp:6] end\n";
    expectLog(run, "", "", expected);
}

// With the echo off the file still receives the header and every line; standard error stays
// empty, and switching the echo back on brings the lines back without a second header.
TEST(MsgLogger, EchoOffKeepsStandardErrorQuiet) {
    const IsolatedRun run = runIsolated([] {
        MsgLogger::setEcho(false);
        MsgLogger::log(2, "q.cpp", 7, "only in the file\n");
        if (MsgLogger::echo())
            return 1;
        MsgLogger::setEcho(true);
        MsgLogger::log(1, "q.cpp", 8, "both\n");
        return 0;
    });
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.stderrText, "[WARNING: q.cpp:8] both\n");
    ASSERT_EQ(run.files.count("tarvo.log"), 1u);
    std::string rest;
    ASSERT_TRUE(splitHeader(run, run.files.at("tarvo.log"), &rest));
    EXPECT_EQ(rest, "[MESSAGE: q.cpp:7] only in the file\n[WARNING: q.cpp:8] both\n");
}

// Several threads log at once, one of them also setting the (unchanged) mode; every line must
// arrive whole and exactly once. Mode 0 runs without file opening and closing, whose descriptor
// hand-over would hide unguarded state from a thread sanitizer build.
TEST(MsgLogger, ConcurrentCallersWriteWholeLines) {
    constexpr int THREADS = 4;
    constexpr int LINES = 200;
    std::multiset<std::string> expected;
    for (int t = 0; t < THREADS; ++t) {
        for (int i = 0; i < LINES; ++i) {
            expected.insert("[MESSAGE: t.cpp:" + std::to_string(t) + "] thread " +
                            std::to_string(t) + " line " + std::to_string(i));
        }
    }
    for (int mode : {0, 1}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        const IsolatedRun run = runIsolated([mode] {
            TolmarCntrl::setLogging(mode);
            std::vector<std::thread> threads;
            for (int t = 0; t < THREADS; ++t) {
                threads.emplace_back([t, mode] {
                    for (int i = 0; i < LINES; ++i) {
                        MsgLogger::logf(2, "t.cpp", t, "thread %d line %d\n", t, i);
                        if (t == 0)
                            TolmarCntrl::setLogging(mode);
                    }
                });
            }
            for (auto& thread : threads) thread.join();
            return 0;
        });
        ASSERT_EQ(run.exitCode, 0);
        ASSERT_EQ(run.files.size(), mode == 0 ? 0u : 1u);
        std::vector<const std::string*> outputs = {&run.stderrText};
        if (mode == 1)
            outputs.push_back(&run.files.at("tarvo.log"));
        for (const std::string* text : outputs) {
            std::string rest;
            ASSERT_TRUE(splitHeader(run, *text, &rest));
            std::multiset<std::string> seen;
            size_t start = 0;
            for (size_t end; (end = rest.find('\n', start)) != std::string::npos; start = end + 1) {
                seen.insert(rest.substr(start, end - start));
            }
            EXPECT_EQ(start, rest.size());
            EXPECT_EQ(seen, expected);
        }
    }
}

TEST(MsgLogger, CipherMisuseIsLoggedWithItsAssertionText) {
    const IsolatedRun run = runIsolated([] {
        TolmarCntrl::setLogging(0);
        AES aes;
        unsigned char block[16] = {};
        aes.startEncryption(TolmarCntrl::ENCKEY);
        if (aes.encrypt(block, block, 1, 2) != 0)
            return 1;
        aes.setParameters(100, 128);
        if (aes.startEncryption(TolmarCntrl::ENCKEY) != 0)
            return 2;
        return 0;
    });
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_NE(run.stderrText.find("Unknown mode!"), std::string::npos) << run.stderrText;
    EXPECT_NE(run.stderrText.find("Nk> 0"), std::string::npos) << run.stderrText;
}

}  // namespace
