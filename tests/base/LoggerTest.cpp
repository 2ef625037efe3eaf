#include "LogInternal.h"
#include "LogNames.h"
#include "LogTestSupport.h"
#include "Logger.h"

#include <sys/stat.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <cstdio>
#include <thread>

namespace fs = std::filesystem;

using LoggerConfigTest = LogTest;

TEST_F(LoggerConfigTest, NoVariablesMeansPlainInfoLogAtTheDefaultPath)
{
    InitLogger();
    const LogSettings settings = CurrentLogSettings();
    EXPECT_EQ(settings.path, BRELT_DEFAULT_LOG_PATH);
    EXPECT_FALSE(settings.encipheredSelected);
    EXPECT_EQ(settings.rollType, LOG_ROLL_SIZE);
    EXPECT_EQ(settings.sizeLimit, 1);
    EXPECT_EQ(settings.rolledFileCount, 2);
    // The module never creates the folder: without it logging is silently off.
    if (!fs::exists(fs::path(BRELT_DEFAULT_LOG_PATH).parent_path())) {
        EXPECT_EQ(settings.level, 0);
        EXPECT_FALSE(settings.fileOpen);
    } else {
        EXPECT_EQ(settings.level, 2);
    }
}

TEST_F(LoggerConfigTest, PlainPathAndLevel)
{
    SetVariable("COPYRIGHT_BRELT_PKCS11_P", LogPath());
    SetVariable("COPYRIGHT_BRELT_PKCS11_L", "4");
    InitLogger();
    LogSettings settings = CurrentLogSettings();
    EXPECT_EQ(settings.path, LogPath());
    EXPECT_EQ(settings.level, 4);
    EXPECT_FALSE(settings.encipheredSelected);
    CloseLogger();

    const std::string text = ReadFile(LogPath());
    EXPECT_EQ(text.rfind("============================= START OF LOG ===============================\n", 0), 0u);
    EXPECT_NE(text.find("\nLibrary version: 2.30\nLOG level: DEBUG\nLOG file rolling strategy: SIZE ROLLING FILE\n\n"),
              std::string::npos);
    EXPECT_NE(text.find("\n============================== END OF LOG ================================\n"), std::string::npos);
    struct stat status {};
    ASSERT_EQ(stat(LogPath().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
}

TEST_F(LoggerConfigTest, LevelValues)
{
    SetVariable("COPYRIGHT_BRELT_PKCS11_P", LogPath());
    const std::pair<const char*, int> cases[] = {
        {"0", 0}, {"5", 5}, {" 3", 3}, {"1x", 1}, {"9", 2}, {"-1", 2}, {"99999999999", 2}, {"", 0}, {"abc", 0},
    };
    for (const auto& [text, expected] : cases) {
        SetVariable("COPYRIGHT_BRELT_PKCS11_L", text);
        InitLogger();
        EXPECT_EQ(CurrentLogSettings().level, expected) << "level text '" << text << "'";
        CloseLogger();
    }
    // A level of 0 never creates the file.
    fs::remove(LogPath());
    SetVariable("COPYRIGHT_BRELT_PKCS11_L", "abc");
    InitLogger();
    EXPECT_FALSE(fs::exists(LogPath()));
    EXPECT_FALSE(CurrentLogSettings().fileOpen);
}

using LogRecordTest = LogTest;

TEST_F(LogRecordTest, RecordLayout)
{
    StartPlainLog(3);
    LogMessage(1, true, "Token::Refresh", 42, true, "FAILED, result = %s", CkrToString(CKR_DEVICE_ERROR));
    LogMessage(2, false, "C_Login", 0, false, "no line%s", "\n");
    LogMessage(3, false, nullptr, 7, true, "bare");
    LogMessage(4, false, nullptr, 0, true, "above the level");
    EXPECT_TRUE(IsLogLevelEnabled(3));
    EXPECT_FALSE(IsLogLevelEnabled(4));
    const std::vector<std::string> lines = SplitLines(BodyAfterClose());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(StartsWithTime(lines[0])) << lines[0];
    EXPECT_EQ(lines[0].substr(10), "Token::Refresh(), line 42: FAILED, result = CKR_DEVICE_ERROR");
    EXPECT_EQ(lines[1], "C_Login(): no line");
    EXPECT_EQ(lines[2], "bare");
}

TEST_F(LogRecordTest, OversizedRecordIsCut)
{
    StartPlainLog(1);
    const std::string huge(70000, 'h');
    LogMessage(1, false, "F", 1, true, "%s", huge.c_str());
    const std::string body = BodyAfterClose();
    ASSERT_EQ(body.size(), 65534u);
    EXPECT_EQ(body.back(), '\n');
    EXPECT_EQ(body.rfind("F(), line 1: hhh", 0), 0u);
}

using LogRollingTest = LogTest;

TEST_F(LogRollingTest, SizeRollingKeepsAgeOrderWithManyFiles)
{
    for (const int count : {2, 12}) {
        SCOPED_TRACE(count);
        SetVariable("COPYRIGHT_BRELT_PKCS11_P", LogPath());
        SetVariable("COPYRIGHT_BRELT_PKCS11_D", std::to_string(count));
        InitLogger();
        // Records of 64 KiB: 16 per file, numbered so the age order can be checked.
        const std::string filler(65000, 'f');
        const int records = 16 * (count + 2);
        for (int i = 0; i < records; ++i) LogMessage(1, false, nullptr, 0, true, "#%06d %s", i, filler.c_str());
        CloseLogger();

        auto recordNumbers = [](const std::string& path) {
            std::vector<int> numbers;
            for (const std::string& line : SplitLines(ReadFile(path)))
                if (line.size() > 7 && line[0] == '#') numbers.push_back(std::stoi(line.substr(1, 6)));
            return numbers;
        };
        int newerFirst = recordNumbers(LogPath()).front();
        for (int i = 0; i < count; ++i) {
            const std::string path = LogPath() + "." + std::to_string(i);
            ASSERT_TRUE(fs::exists(path)) << path;
            const std::vector<int> numbers = recordNumbers(path);
            ASSERT_FALSE(numbers.empty()) << path;
            EXPECT_EQ(numbers.back() + 1, newerFirst) << path;
            newerFirst = numbers.front();
        }
        EXPECT_FALSE(fs::exists(LogPath() + "." + std::to_string(count)));
        for (const auto& entry : fs::directory_iterator(folder_)) {
            const std::string name = entry.path().filename().string();
            EXPECT_EQ(name.find_first_not_of("pkcs11.log0123456789"), std::string::npos) << name;
        }
        fs::remove_all(folder_);
        fs::create_directory(folder_);
    }
}

TEST_F(LogRecordTest, ThreadsNeverInterleaveRecords)
{
    SetVariable("COPYRIGHT_BRELT_PKCS11_P", LogPath());
    SetVariable("COPYRIGHT_BRELT_PKCS11_L", "5");
    SetVariable("COPYRIGHT_BRELT_PKCS11_D", "3");
    InitLogger();
    constexpr int kThreads = 8;
    constexpr int kRecords = 150;
    std::atomic<int> wrongTexts{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &wrongTexts] {
            const std::string payload(1500 + t, static_cast<char>('a' + t));
            for (int i = 0; i < kRecords; ++i) {
                // Per-thread name texts must survive other threads' calls.
                const std::string expected = "[" + std::to_string(100 + t) + "] UNKNOWN KEY TYPE";
                const char* name = CkkToString(100 + t);
                std::this_thread::yield();
                if (expected != name) ++wrongTexts;
                LogMessage(2, true, "Worker", t, true, "%d %d %s", t, i, payload.c_str());
            }
        });
    }
    for (auto& thread : threads) thread.join();
    CloseLogger();
    EXPECT_EQ(wrongTexts, 0);

    int count = 0;
    for (const std::string name : {"pkcs11.log", "pkcs11.log.0", "pkcs11.log.1", "pkcs11.log.2"}) {
        for (const std::string& line : SplitLines(ReadFile(LogPath(name)))) {
            if (line.find("Worker") == std::string::npos) continue;
            // "hh:mm:ss  Worker()[, line t]: t i payload", payload of one thread only.
            ASSERT_TRUE(StartsWithTime(line)) << line.substr(0, 80);
            const size_t colon = line.find(": ");
            int t = -1, i = -1, consumed = 0;
            ASSERT_EQ(std::sscanf(line.c_str() + colon + 2, "%d %d %n", &t, &i, &consumed), 2) << line.substr(0, 80);
            ASSERT_TRUE(t >= 0 && t < kThreads);
            EXPECT_EQ(line.substr(colon + 2 + consumed), std::string(1500 + t, static_cast<char>('a' + t)));
            ++count;
        }
    }
    EXPECT_EQ(count, kThreads * kRecords);
}

TEST_F(LogRecordTest, ForkChildCanLogWhileAParentThreadHeldTheLock)
{
    StartPlainLog(1);
    std::mutex gate;
    std::condition_variable changed;
    bool locked = false;
    bool release = false;
    std::thread holder([&] {
        auto logLock = AcquireLogLock();
        std::unique_lock<std::mutex> lock(gate);
        locked = true;
        changed.notify_all();
        changed.wait(lock, [&] { return release; });
    });
    {
        std::unique_lock<std::mutex> lock(gate);
        changed.wait(lock, [&] { return locked; });
    }
    const pid_t child = fork();
    if (child == 0) {
        alarm(10);  // a deadlock ends the child instead of the test run
        LoggerAfterForkChild();
        LogMessage(1, false, nullptr, 0, true, "from the child");
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    {
        std::lock_guard<std::mutex> lock(gate);
        release = true;
    }
    changed.notify_all();
    holder.join();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_NE(BodyAfterClose().find("from the child\n"), std::string::npos);
}
