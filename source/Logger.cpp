#include "Logger.h"

#include "LogInternal.h"
#include "LogCipher.h"
#include "ModuleVersion.h"

#include <winscard.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

namespace {

constexpr size_t kRecordBufferSize = 65535;
constexpr int kDefaultLevel = LOG_LEVEL_INFO;
constexpr int kDefaultRollType = LOG_ROLL_SIZE;
constexpr int kDefaultSizeLimit = 1;
constexpr int kDefaultRolledFileCount = 2;

constexpr char kStartBanner[] =
    "============================= START OF LOG ===============================";
constexpr char kEndBanner[] =
    "============================== END OF LOG ================================";

// Process-wide logger state. Allocated once and never destroyed: the
// library's unload hook logs after the static destructors ran at exit.
struct LoggerState {
    std::recursive_mutex mutex;
    LogConfig config;
    LogRecordCipherFactory cipherFactory = &Brelt::Crypto::MakeLogRecordCipher;
    char record[kRecordBufferSize];
};

LoggerState& State()
{
    static LoggerState* const state = new LoggerState();
    return *state;
}

// Reads a numeric variable the way atoi does (leading blanks and a sign
// accepted, text that does not start with a number reads as 0), except that
// numbers beyond the int range are reported as out of range.
bool ReadNumberVariable(const char* name, long* value)
{
    const char* text = std::getenv(name);
    if (text == nullptr) return false;
    errno = 0;
    const long number = std::strtol(text, nullptr, 10);
    *value = (errno == ERANGE || number < INT_MIN || number > INT_MAX) ? LONG_MAX : number;
    return true;
}

int ReadBoundedVariable(const char* name, long lowest, long highest, int fallback)
{
    long value = 0;
    if (!ReadNumberVariable(name, &value)) return fallback;
    return (value >= lowest && value <= highest) ? static_cast<int>(value) : fallback;
}

void CopyPath(char (&target)[255], const char* source)
{
    std::strncpy(target, source, kMaxLogPathLength);
    target[kMaxLogPathLength] = '\0';
}

size_t FormatLocalTime(char* buffer, size_t size, const char* format)
{
    const time_t now = std::time(nullptr);
    struct tm local {};
    if (localtime_r(&now, &local) == nullptr) {
        buffer[0] = '\0';
        return 0;
    }
    return std::strftime(buffer, size, format, &local);
}

}  // namespace

char* LogTextBuffer()
{
    thread_local char buffer[kLogTextBufferSize];
    return buffer;
}

std::unique_lock<std::recursive_mutex> AcquireLogLock()
{
    return std::unique_lock<std::recursive_mutex>(State().mutex);
}

void LoggerAfterForkChild()
{
    // Only the forking thread exists in the child; a lock that another
    // parent thread held would never be released. Build a fresh one in place
    // (the old one is abandoned, not destroyed, as destroying a held mutex is
    // undefined).
    new (&State().mutex) std::recursive_mutex();
}

void SetLogRecordCipherFactory(LogRecordCipherFactory factory)
{
    LoggerState& state = State();
    std::lock_guard<std::recursive_mutex> lock(state.mutex);
    state.cipherFactory = factory;
}

int GetLogLevel()
{
    return ReadBoundedVariable("BRELT_PKCS11_LOG_LEVEL", LOG_LEVEL_OFF, LOG_LEVEL_TRACE, kDefaultLevel);
}

int GetPlainLogLevel()
{
    return ReadBoundedVariable("COPYRIGHT_BRELT_PKCS11_L", LOG_LEVEL_OFF, LOG_LEVEL_TRACE, kDefaultLevel);
}

int GetRollType()
{
    return ReadBoundedVariable("COPYRIGHT_BRELT_PKCS11_T", LOG_ROLL_NONE, LOG_ROLL_SIZE, kDefaultRollType);
}

void InitLogger()
{
    LoggerState& state = State();
    std::lock_guard<std::recursive_mutex> lock(state.mutex);
    LogConfig& config = state.config;

    // Start from a clean configuration; a file left open by an earlier
    // configuration is closed without a banner.
    config.level = LOG_LEVEL_OFF;
    if (config.file != nullptr) std::fclose(config.file);
    config.file = nullptr;
    config.rollType = LOG_ROLL_NONE;
    config.sizeLimit = 0;
    config.rolledFileCount = 0;
    config.bytesWritten = 0;
    std::memset(config.date, 0, sizeof config.date);
    std::memset(config.path, 0, sizeof config.path);
    config.encipheredSelected = false;
    config.cipher.reset();

    int level = kDefaultLevel;
    if (const char* path = std::getenv("BRELT_PKCS11_LOG_PATH"); path != nullptr) {
        CopyPath(config.path, path);
        level = GetLogLevel();
    } else if (const char* plainPath = std::getenv("COPYRIGHT_BRELT_PKCS11_P"); plainPath != nullptr) {
        CopyPath(config.path, plainPath);
        level = GetPlainLogLevel();
    } else {
        CopyPath(config.path, kDefaultLogPath);
    }
    if (level == LOG_LEVEL_OFF) return;

    config.encipheredSelected = std::getenv("BRELT_PKCS11_LOG_PATH") != nullptr ||
                                std::getenv("BRELT_PKCS11_LOG_LEVEL") != nullptr;
    if (config.encipheredSelected) {
        try {
            if (state.cipherFactory != nullptr) config.cipher = state.cipherFactory();
        } catch (...) {
            config.cipher.reset();
        }
        // Whoever asked for the enciphered log must not get the records in plain.
        if (config.cipher == nullptr) return;
    }

    config.rollType = GetRollType();
    if (config.rollType == LOG_ROLL_SIZE) {
        config.sizeLimit = static_cast<uint8_t>(
            ReadBoundedVariable("COPYRIGHT_BRELT_PKCS11_S", 1, 254, kDefaultSizeLimit));
        config.rolledFileCount = static_cast<uint8_t>(
            ReadBoundedVariable("COPYRIGHT_BRELT_PKCS11_D", 1, 100, kDefaultRolledFileCount));
    }

    tzset();
    if (!RollLogFile(config)) return;
    config.level = level;

    LogMessage(LOG_LEVEL_ERROR, false, nullptr, 0, true, "%s", kStartBanner);
    LogTimestamp();
    LogMessage(LOG_LEVEL_ERROR, false, nullptr, 0, true, "Library version: %d.%d",
               Brelt::MW::kLibraryVersionMajor, Brelt::MW::kLibraryVersionMinor);
    LogMessage(LOG_LEVEL_ERROR, false, nullptr, 0, true, "LOG level: %s", LogLevelToString(level));
    LogMessage(LOG_LEVEL_ERROR, false, nullptr, 0, true, "LOG file rolling strategy: %s\n",
               RollTypeToString(config.rollType));
}

void CloseLogger()
{
    LoggerState& state = State();
    std::lock_guard<std::recursive_mutex> lock(state.mutex);
    LogConfig& config = state.config;
    if (config.level != LOG_LEVEL_OFF && config.file != nullptr) {
        LogMessage(LOG_LEVEL_ERROR, false, nullptr, 0, true, "\n");
        LogTimestamp();
        LogMessage(LOG_LEVEL_ERROR, false, nullptr, 0, true, "%s", kEndBanner);
    }
    if (config.file != nullptr) std::fclose(config.file);
    config.file = nullptr;
    config.level = LOG_LEVEL_OFF;
}

void LogMessage(int level, bool withTime, const char* function, int line, bool newline,
                const char* format, ...)
{
    LoggerState& state = State();
    LogConfig& config = state.config;
    const int configured = config.level.load(std::memory_order_relaxed);
    if (configured == LOG_LEVEL_OFF || level > configured) return;

    std::lock_guard<std::recursive_mutex> lock(state.mutex);
    // The logger may have been closed while this thread waited for the lock.
    if (config.level == LOG_LEVEL_OFF || level > config.level) return;
    if (!RollLogFile(config)) {
        config.level = LOG_LEVEL_OFF;
        return;
    }

    // Every piece is formatted with the room left, so an oversized record is
    // cut instead of overrunning the buffer; one byte stays for the line feed.
    char* const record = state.record;
    const size_t room = kRecordBufferSize - 1;
    size_t used = 0;
    auto advance = [&](int written) {
        if (written > 0) used = std::min(room - 1, used + static_cast<size_t>(written));
    };
    record[0] = '\0';
    if (withTime) used = FormatLocalTime(record, 32, "%X  ");
    if (function != nullptr) {
        advance(std::snprintf(record + used, room - used, "%s()", function));
        if (line != 0) advance(std::snprintf(record + used, room - used, ", line %d", line));
        advance(std::snprintf(record + used, room - used, ": "));
    }
    va_list arguments;
    va_start(arguments, format);
    advance(std::vsnprintf(record + used, room - used, format, arguments));
    va_end(arguments);
    if (newline) {
        record[used++] = '\n';
        record[used] = '\0';
    }
    WriteLogRecord(config, record, static_cast<unsigned>(used));
}

bool IsLogLevelEnabled(int level)
{
    const int configured = State().config.level.load(std::memory_order_relaxed);
    return level <= configured;
}

void LogTimestamp()
{
    char text[64];
    FormatLocalTime(text, sizeof text, "%x %X");
    LogMessage(LOG_LEVEL_ERROR, false, nullptr, 0, true, "%s", text);
}

const char* GetErrorText(unsigned long code)
{
    if (State().config.level.load(std::memory_order_relaxed) == LOG_LEVEL_OFF) return nullptr;

    // PC/SC results are 0x8010xxxx; accept them also sign-extended from a
    // 32-bit value.
    const unsigned long high = code >> 32;
    const unsigned long low = code & 0xFFFFFFFFUL;
    const bool pcsc = (high == 0 || high == 0xFFFFFFFFUL) && (low & 0xFFFF0000UL) == 0x80100000UL;

    char systemText[256];
    const char* text = nullptr;
    if (pcsc) {
        text = pcsc_stringify_error(static_cast<LONG>(low));
    } else if (code <= static_cast<unsigned long>(INT_MAX)) {
        text = strerror_r(static_cast<int>(code), systemText, sizeof systemText);
    }
    if (text == nullptr) text = "Unknown error";

    size_t length = std::strlen(text);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n')) --length;
    char* buffer = LogTextBuffer();
    std::snprintf(buffer, kLogTextBufferSize, "[%08lXh] %.*s", code, static_cast<int>(length), text);
    return buffer;
}

const char* LogLevelToString(int level)
{
    static constexpr const char* kNames[] = {"OFF", "ERROR", "INFO", "DATA", "DEBUG", "TRACE"};
    if (level >= LOG_LEVEL_OFF && level <= LOG_LEVEL_TRACE) return kNames[level];
    char* buffer = LogTextBuffer();
    std::snprintf(buffer, kLogTextBufferSize, "[%d] UNKNOWN LOG LEVEL", level);
    return buffer;
}

const char* RollTypeToString(int rollType)
{
    static constexpr const char* kNames[] = {"NO ROLLING", "DAY ROLLING FILE", "SIZE ROLLING FILE"};
    if (rollType >= LOG_ROLL_NONE && rollType <= LOG_ROLL_SIZE) return kNames[rollType];
    char* buffer = LogTextBuffer();
    std::snprintf(buffer, kLogTextBufferSize, "[%d] UNKNOWN LOG TYPE", rollType);
    return buffer;
}

LogSettings CurrentLogSettings()
{
    LoggerState& state = State();
    std::lock_guard<std::recursive_mutex> lock(state.mutex);
    const LogConfig& config = state.config;
    return LogSettings{config.level,
                       config.rollType,
                       config.sizeLimit,
                       config.rolledFileCount,
                       config.encipheredSelected,
                       config.cipher != nullptr,
                       config.file != nullptr,
                       config.path};
}
