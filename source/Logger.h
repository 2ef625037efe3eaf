#pragma once
// The module's trace log: configured from the environment by InitLogger,
// written record by record through LogMessage, closed by CloseLogger.
// All functions are safe to call from any thread.

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

// Log levels: a message is written when its level is at or below the
// configured one.
enum LogLevel : int {
    LOG_LEVEL_OFF = 0,
    LOG_LEVEL_ERROR = 1,
    LOG_LEVEL_INFO = 2,
    LOG_LEVEL_DATA = 3,
    LOG_LEVEL_DEBUG = 4,
    LOG_LEVEL_TRACE = 5,
};

enum LogRollType : int {
    LOG_ROLL_NONE = 0,
    LOG_ROLL_DAY = 1,
    LOG_ROLL_SIZE = 2,
};

// Size of LogTextBuffer, the per-thread buffer that holds the texts returned
// by GetErrorText, the name functions and the dump helpers. A returned text
// stays valid until the same thread calls another of these functions.
inline constexpr size_t kLogTextBufferSize = 1024;
char* LogTextBuffer();

void InitLogger();
void CloseLogger();

// Writes one record. `function` may be null; `line` 0 means no line number.
void LogMessage(int level, bool withTime, const char* function, int line, bool newline,
                const char* format, ...) __attribute__((format(printf, 6, 7)));

bool IsLogLevelEnabled(int level);
void LogTimestamp();
// "[XXXXXXXXh] text" for a PC/SC or system error code; null while logging is off.
const char* GetErrorText(unsigned long code);
const char* LogLevelToString(int level);
const char* RollTypeToString(int rollType);

// Holds the log lock so that a group of records (a dump) is written without
// records of other threads in between. Recursive: LogMessage may be called
// while it is held.
std::unique_lock<std::recursive_mutex> AcquireLogLock();

// Makes the logger usable in the child of a fork: the lock may have been
// held by a parent thread that does not exist in the child.
void LoggerAfterForkChild();

// Enciphered log support. When the environment selects the enciphered log,
// InitLogger asks the registered factory for a cipher and writes every
// record through it; without a factory, or when it fails or answers null,
// logging is off.
class LogRecordCipher {
public:
    virtual ~LogRecordCipher() = default;
    // Returns the bytes that stand for one record in the log file.
    virtual std::vector<unsigned char> EncipherRecord(const char* text, size_t length) = 0;
};

using LogRecordCipherFactory = std::unique_ptr<LogRecordCipher> (*)();
void SetLogRecordCipherFactory(LogRecordCipherFactory factory);
