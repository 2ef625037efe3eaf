#pragma once
// Logger internals shared by the logger's own files and its tests.

#include "Logger.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

// The process-wide log configuration. Every field except `level` is only
// touched with the log lock held; `level` is also read without the lock so
// that a message above the configured level costs one comparison.
struct LogConfig {
    std::atomic<int> level{0};
    int rollType = 0;
    FILE* file = nullptr;
    uint8_t sizeLimit = 0;        // MiB, size rolling only
    uint8_t rolledFileCount = 0;  // size rolling only
    uint32_t bytesWritten = 0;    // size rolling only
    char date[11] = {};           // "%Y-%m-%d" of the current file, day rolling only
    char path[255] = {};
    bool encipheredSelected = false;
    std::unique_ptr<LogRecordCipher> cipher;
};

inline constexpr char kDefaultLogPath[] = BRELT_DEFAULT_LOG_PATH;

// The longest path kept from the environment, and the parts of it that
// name rolled files.
inline constexpr size_t kMaxLogPathLength = 254;
inline constexpr size_t kDayRollBaseLength = 243;
inline constexpr size_t kSizeRollBaseLength = 251;
// Seen as the size of a file whose size could not be determined: above
// every allowed limit, so the next record rolls the file.
inline constexpr uint32_t kUnknownFileSize = 0x0FF00000;

bool OpenLogFile(LogConfig& config);
bool RollLogFile(LogConfig& config);
void MoveLogFile(const char* from, const char* to);
void WriteLogRecord(LogConfig& config, const char* text, unsigned length);
// Name of the rolled file with the given number: "<base>.<number>".
std::string SizeRolledFileName(const std::string& base, int number);

int GetLogLevel();
int GetPlainLogLevel();
int GetRollType();

// A copy of the configuration as InitLogger left it, for checks.
struct LogSettings {
    int level;
    int rollType;
    int sizeLimit;
    int rolledFileCount;
    bool encipheredSelected;
    bool enciphered;
    bool fileOpen;
    std::string path;
};
LogSettings CurrentLogSettings();
