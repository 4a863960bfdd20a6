// The library's message log: one per loaded library, shared by all controller objects.
// Every line goes to standard error (unless the echo is switched off) and, by the logging mode,
// to a log file in the working directory ("tarvo.log" for mode 1, "tarvo_%Y%m%d%H%M%S.log" for mode
// 2, none for mode 0). The file is opened and closed for every line so it stays complete if the
// process dies. Texts beyond MESSAGE_SIZE - 1 and lines beyond LINE_SIZE - 1 characters are cut,
// keeping a trailing newline. All calls are safe from several threads at once.
#ifndef TOLMAR2_MSGLOGGER_H
#define TOLMAR2_MSGLOGGER_H

#include <cstddef>

class MsgLogger {
public:
    enum Level { Error = 0, Warning = 1, Message = 2 };
    static constexpr size_t MESSAGE_SIZE = 256;  // the message text buffer
    static constexpr size_t LINE_SIZE = 1024;    // the composed line buffer

    // Writes the header once per process (file per mode, and standard error).
    static void init();
    // Writes one line: prefix by level, " <basename>:<line>] <text>". Initialises first if needed.
    static void log(int level, const char* file, int line, const char* text);
    // printf-style convenience: formats into the message text (cut to fit), then logs it.
    static void logf(int level, const char* file, int line, const char* format, ...)
        __attribute__((format(printf, 4, 5)));

    // Logging mode 0, 1 or 2; any other value is ignored.
    static void setMode(int mode);
    static int mode();
    // Whether lines and the header also go to standard error (on by default). A headless tool
    // switches it off to keep its own messages readable.
    static void setEcho(bool on);
    static bool echo();
    // Log file path fixed at initialisation (empty for mode 0 or before initialisation).
    static const char* fileName();
};

#define TOLMAR_LOG_ERROR(...) MsgLogger::logf(MsgLogger::Error, __FILE__, __LINE__, __VA_ARGS__)
#define TOLMAR_LOG_WARNING(...) MsgLogger::logf(MsgLogger::Warning, __FILE__, __LINE__, __VA_ARGS__)
#define TOLMAR_LOG_MESSAGE(...) MsgLogger::logf(MsgLogger::Message, __FILE__, __LINE__, __VA_ARGS__)

#endif  // TOLMAR2_MSGLOGGER_H
