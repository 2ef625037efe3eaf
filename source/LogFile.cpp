// The log file itself: opening, rolling by day or size, and writing records.
// Every function here runs with the log lock held.

#include "LogInternal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <ctime>

namespace {

// Appends to the file, creating it readable and writable by its owner only
// (the log may hold card and session details). Folders are never created.
// In a folder that several users can write to, another user could plant a
// link or a file of their own under the log's name and have this process
// (a service, root) write where they choose: the file is opened without
// following a link, and used only when it is a regular file of the
// effective user.
FILE* OpenForAppend(const char* path)
{
    const int fd = open(path, O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0) return nullptr;
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != geteuid()) {
        close(fd);
        return nullptr;
    }
    FILE* file = fdopen(fd, "ab+");
    if (file == nullptr) close(fd);
    return file;
}

void FormatDate(time_t when, char (&date)[11])
{
    struct tm local {};
    if (localtime_r(&when, &local) == nullptr ||
        std::strftime(date, sizeof date, "%Y-%m-%d", &local) == 0) {
        std::strcpy(date, "2000-01-01");
    }
}

void CloseFile(LogConfig& config)
{
    std::fclose(config.file);
    config.file = nullptr;
}

bool RollByDay(LogConfig& config)
{
    char today[11];
    FormatDate(std::time(nullptr), today);
    if (std::strncmp(today, config.date, sizeof today) == 0) return true;

    CloseFile(config);
    // The old file is named after the day it belongs to: pkcs11.log.2018-04-03.
    const std::string target =
        std::string(config.path, strnlen(config.path, kDayRollBaseLength)) + "." + config.date;
    MoveLogFile(config.path, target.c_str());
    if (!OpenLogFile(config)) return false;
    std::memcpy(config.date, today, sizeof today);
    return true;
}

bool RollBySize(LogConfig& config)
{
    if (config.bytesWritten < (static_cast<uint32_t>(config.sizeLimit) << 20)) return true;

    CloseFile(config);
    // Shift every rolled file one number up (the oldest is replaced), then
    // the current file becomes number 0. The names come from the first 251
    // characters of the path, but the current file is moved under its own
    // name, also when the path is longer than that.
    const std::string base(config.path, strnlen(config.path, kSizeRollBaseLength));
    for (int i = config.rolledFileCount - 2; i >= 0; --i) {
        MoveLogFile(SizeRolledFileName(base, i).c_str(), SizeRolledFileName(base, i + 1).c_str());
    }
    MoveLogFile(config.path, SizeRolledFileName(base, 0).c_str());
    if (!OpenLogFile(config)) return false;
    config.bytesWritten = 0;
    return true;
}

}  // namespace

std::string SizeRolledFileName(const std::string& base, int number)
{
    // Decimal numbers: names stay distinct and in age order past nine files.
    return base + "." + std::to_string(number);
}

bool OpenLogFile(LogConfig& config)
{
    errno = 0;
    config.file = OpenForAppend(config.path);
    if (config.file == nullptr) {
        std::strncpy(config.path, kDefaultLogPath, kMaxLogPathLength);
        config.path[kMaxLogPathLength] = '\0';
        config.file = OpenForAppend(config.path);
    }
    return config.file != nullptr;
}

bool RollLogFile(LogConfig& config)
{
    if (config.file == nullptr) {
        if (!OpenLogFile(config)) return false;
        if (config.rollType == LOG_ROLL_SIZE) {
            if (std::fseek(config.file, 0, SEEK_END) == 0) {
                const long position = std::ftell(config.file);
                config.bytesWritten =
                    (position < 0 || position > static_cast<long>(UINT32_MAX))
                        ? kUnknownFileSize
                        : static_cast<uint32_t>(position);
            }
            if (std::ferror(config.file)) config.bytesWritten = kUnknownFileSize;
        } else if (config.rollType == LOG_ROLL_DAY) {
            struct stat status {};
            if (fstat(fileno(config.file), &status) == 0) {
                FormatDate(status.st_mtime, config.date);
            } else {
                std::strcpy(config.date, "2000-01-01");
            }
        }
    }
    if (config.rollType == LOG_ROLL_DAY && !RollByDay(config)) return false;
    if (config.rollType == LOG_ROLL_SIZE && !RollBySize(config)) return false;
    return config.file != nullptr;
}

void MoveLogFile(const char* from, const char* to)
{
    if (to == nullptr) return;
    // rename replaces the target in one step; when it fails (missing source,
    // no permission) both files stay as they were, so nothing is lost and the
    // source is simply appended to again.
    std::rename(from, to);
}

void WriteLogRecord(LogConfig& config, const char* text, unsigned length)
{
    if (config.file == nullptr) return;
    if (config.cipher != nullptr) {
        std::vector<unsigned char> bytes;
        try {
            bytes = config.cipher->EncipherRecord(text, length);
        } catch (...) {
            return;  // a record that cannot be enciphered is dropped
        }
        std::fwrite(bytes.data(), 1, bytes.size(), config.file);
        length = static_cast<unsigned>(bytes.size());
    } else {
        std::fwrite(text, 1, length, config.file);
    }
    std::fflush(config.file);
    if (config.rollType == LOG_ROLL_SIZE) config.bytesWritten += length;
}
