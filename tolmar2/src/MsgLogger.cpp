#include "tolmar2/MsgLogger.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <vector>

#include "tolmar2/TolmarCntrl.h"

namespace {

constexpr size_t PATH_SIZE = 32;

// Library-wide logger state. The library itself has one calling thread per controller, but the
// GUI calls it from several threads, so every access goes through stateMutex.
struct LoggerState {
    int mode = 1;
    bool echo = true;
    bool headerWritten = false;
    char path[PATH_SIZE] = "";
};

LoggerState state;
std::mutex stateMutex;

// Writes `size` bytes to the log file, when there is one to write to. The file is opened and
// closed around every write so that it stays complete if the process dies; a file that cannot
// be opened is skipped silently (the logger has no channel to report its own trouble).
void writeToFile(const char* openMode, const char* data, size_t size) {
    if (state.mode == 0 || state.path[0] == '\0')
        return;
    if (FILE* f = std::fopen(state.path, openMode)) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
}

// Caller holds stateMutex.
void writeToStderr(const char* data, size_t size) {
    if (state.echo)
        std::fwrite(data, 1, size, stderr);
}

// Caller holds stateMutex.
void initLocked() {
    if (state.headerWritten)
        return;

    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);

    if (state.mode == 1) {
        std::snprintf(state.path, PATH_SIZE, "%s", "tarvo.log");
    } else if (state.mode == 2) {
        std::strftime(state.path, PATH_SIZE, "tarvo_%Y%m%d%H%M%S.log", &local);
    }

    char date[32];  // asctime text, "Www Mmm dd hh:mm:ss yyyy\n"
    if (!asctime_r(&local, date))
        date[0] = '\0';

    const char* stars20 = "********************";
    const char* stars68 = "********************************************************************";
    char header[512];
    const int n = std::snprintf(header, sizeof header,
                                "\n%s Logged by Tarvo MsgLogger %s\n\n"
                                "\tAPI Version: %s\n"
                                "\tAPI Compilation date: %s %s\n"
                                "\tLog Date: %s\n"
                                "%s\n\n",
                                stars20, stars20, TolmarCntrl::API_VERSION, __DATE__, __TIME__,
                                date, stars68);
    const size_t size = n < 0 ? 0 : std::min(static_cast<size_t>(n), sizeof header - 1);

    writeToFile("w", header, size);
    writeToStderr(header, size);
    state.headerWritten = true;
}

const char* prefixFor(int level) {
    switch (level) {
        case MsgLogger::Error:
            return "[ERROR:  ";
        case MsgLogger::Warning:
            return "[WARNING:";
        default:
            return "[MESSAGE:";
    }
}

// The part of a source path after the last backslash, else after the last slash.
const char* baseName(const char* file) {
    if (!file)
        return "";
    if (const char* p = std::strrchr(file, '\\'))
        return p + 1;
    if (const char* p = std::strrchr(file, '/'))
        return p + 1;
    return file;
}

// After snprintf cut a text to fit `size` bytes, ends it with the newline the full text had so
// that the next line still starts on a line of its own. Returns the length of the result.
size_t fitted(char* buffer, size_t size, int wanted, bool endsWithNewline) {
    if (wanted < 0) {
        buffer[0] = '\0';
        return 0;
    }
    if (static_cast<size_t>(wanted) < size)
        return static_cast<size_t>(wanted);
    if (endsWithNewline)
        buffer[size - 2] = '\n';
    return size - 1;
}

}  // namespace

void MsgLogger::init() {
    std::lock_guard<std::mutex> lock(stateMutex);
    initLocked();
}

void MsgLogger::log(int level, const char* file, int line, const char* text) {
    if (!text)
        text = "";
    const size_t textLength = std::strlen(text);
    const bool newline = textLength > 0 && text[textLength - 1] == '\n';

    // The text as it fits the message buffer.
    char message[MESSAGE_SIZE];
    fitted(message, MESSAGE_SIZE, std::snprintf(message, MESSAGE_SIZE, "%s", text), newline);

    char composed[LINE_SIZE];
    const int wanted = std::snprintf(composed, LINE_SIZE, "%s %s:%d] %s", prefixFor(level),
                                     baseName(file), line, message);
    const size_t size = fitted(composed, LINE_SIZE, wanted, newline);

    std::lock_guard<std::mutex> lock(stateMutex);
    initLocked();
    writeToFile("a", composed, size);
    writeToStderr(composed, size);
}

void MsgLogger::logf(int level, const char* file, int line, const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    char text[MESSAGE_SIZE];
    const int wanted = std::vsnprintf(text, MESSAGE_SIZE, format ? format : "", args);
    va_end(args);
    if (wanted >= 0 && static_cast<size_t>(wanted) >= MESSAGE_SIZE) {
        // Too long for the message buffer: format in full once so that log() can cut it and
        // still see whether it ended with a newline.
        std::vector<char> full(static_cast<size_t>(wanted) + 1);
        std::vsnprintf(full.data(), full.size(), format, again);
        va_end(again);
        log(level, file, line, full.data());
        return;
    }
    va_end(again);
    if (wanted < 0)
        text[0] = '\0';
    log(level, file, line, text);
}

void MsgLogger::setMode(int mode) {
    if (mode < 0 || mode > 2)
        return;
    std::lock_guard<std::mutex> lock(stateMutex);
    state.mode = mode;
}

int MsgLogger::mode() {
    std::lock_guard<std::mutex> lock(stateMutex);
    return state.mode;
}

void MsgLogger::setEcho(bool on) {
    std::lock_guard<std::mutex> lock(stateMutex);
    state.echo = on;
}

bool MsgLogger::echo() {
    std::lock_guard<std::mutex> lock(stateMutex);
    return state.echo;
}

const char* MsgLogger::fileName() {
    // The path is written once, at initialisation, under the lock, and never again; before that
    // a constant empty text is handed out so that no caller reads the buffer while it is written.
    std::lock_guard<std::mutex> lock(stateMutex);
    return state.headerWritten ? state.path : "";
}
