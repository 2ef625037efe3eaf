#include "LogInternal.h"
#include "LogNames.h"
#include "LogTestSupport.h"
#include "Logger.h"

#include <sys/stat.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <stdexcept>
#include <condition_variable>
#include <mutex>
#include <cstdio>
#include <thread>

namespace fs = std::filesystem;

namespace {

void WriteBytes(const std::string& path, size_t count, char fill = 'x')
{
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    const std::string block(count, fill);
    std::fwrite(block.data(), 1, block.size(), file);
    std::fclose(file);
}

constexpr size_t kMiB = 1 << 20;

}  // namespace

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

TEST_F(LoggerConfigTest, LongPathIsCutAndUnusablePathFallsBack)
{
    // 300 characters; the first 254 name a file the test folder can hold.
    const std::string longPath = LogPath(std::string(299 - folder_.string().size(), 'q'));
    ASSERT_EQ(longPath.size(), 300u);
    const std::string cutPath = longPath.substr(0, 254);
    WriteBytes(cutPath, kMiB, 'c');
    SetVariable("COPYRIGHT_BRELT_PKCS11_P", longPath);
    SetVariable("COPYRIGHT_BRELT_PKCS11_D", "1");
    InitLogger();
    EXPECT_EQ(CurrentLogSettings().path, cutPath);
    CloseLogger();
    // Size rolling names its files after the first 251 characters.
    EXPECT_TRUE(ReadFile(longPath.substr(0, 251) + ".0") == std::string(kMiB, 'c'));
    EXPECT_EQ(ReadFile(cutPath).rfind("=====", 0), 0u);

    // A path that cannot be opened falls back to the default path.
    SetVariable("COPYRIGHT_BRELT_PKCS11_P", LogPath("missing-folder/pkcs11.log"));
    InitLogger();
    EXPECT_EQ(CurrentLogSettings().path, BRELT_DEFAULT_LOG_PATH);
}

// In a log folder other users can write to, what one of them plants under
// the log's name is never written to: logging goes off instead.
TEST_F(LoggerConfigTest, OnlyARegularFileOfTheUserIsLoggedTo)
{
    const std::string target = LogPath("someone-elses.txt");
    const std::pair<const char*, std::function<void()>> planted[] = {
        {"link to another file", [&] { fs::create_symlink(target, LogPath()); }},
        {"dangling link", [&] { fs::create_symlink(LogPath("new-file"), LogPath()); }},
        {"another user's file",
         [&] { WriteBytes(LogPath(), 3, 'o'), (void)!chown(LogPath().c_str(), 12345, 12345); }},
        {"pipe", [&] { mkfifo(LogPath().c_str(), 0666); }},
    };
    for (const auto& [what, plant] : planted) {
        fs::remove(LogPath());
        WriteBytes(target, 3, 't');
        plant();
        // Without the default folder there is nowhere else to go.
        SetVariable("COPYRIGHT_BRELT_PKCS11_P", LogPath());
        InitLogger();
        LogMessage(1, false, nullptr, 0, true, "secret");
        const LogSettings settings = CurrentLogSettings();
        CloseLogger();
        EXPECT_NE(settings.path, LogPath()) << what;
        if (settings.path != BRELT_DEFAULT_LOG_PATH) EXPECT_EQ(settings.level, 0) << what;
        EXPECT_EQ(ReadFile(target), "ttt") << what;
        EXPECT_FALSE(fs::exists(LogPath("new-file"))) << what;
        if (fs::is_regular_file(fs::symlink_status(LogPath())))
            EXPECT_EQ(ReadFile(LogPath()).find("secret"), std::string::npos) << what;
    }
}

namespace {

class FailingCipher : public LogRecordCipher {
public:
    std::vector<unsigned char> EncipherRecord(const char*, size_t) override { return {'x'}; }
};

}  // namespace

// Whoever asked for the enciphered log never gets a plain one.
TEST_F(LoggerConfigTest, EncipheredLogWithoutItsCipherIsOff)
{
    const LogRecordCipherFactory factories[] = {
        nullptr,
        [] { return std::unique_ptr<LogRecordCipher>(); },
        []() -> std::unique_ptr<LogRecordCipher> { throw std::runtime_error("no key"); },
    };
    for (const auto factory : factories) {
        for (const char* variable : {"BRELT_PKCS11_LOG_PATH", "BRELT_PKCS11_LOG_LEVEL"}) {
            SetLogRecordCipherFactory(factory);
            SetVariable("COPYRIGHT_BRELT_PKCS11_P", LogPath());
            SetVariable(variable, std::string(variable) == "BRELT_PKCS11_LOG_PATH" ? LogPath() : "3");
            InitLogger();
            LogMessage(1, false, nullptr, 0, true, "plain text");
            EXPECT_EQ(CurrentLogSettings().level, 0) << variable;
            CloseLogger();
            EXPECT_FALSE(fs::exists(LogPath())) << variable;
            unsetenv(variable);
        }
    }
    // With its cipher the records go through it.
    SetLogRecordCipherFactory([] { return std::unique_ptr<LogRecordCipher>(new FailingCipher); });
    SetVariable("BRELT_PKCS11_LOG_PATH", LogPath());
    SetVariable("COPYRIGHT_BRELT_PKCS11_T", "0");
    InitLogger();
    EXPECT_TRUE(CurrentLogSettings().enciphered);
    LogMessage(1, false, nullptr, 0, true, "plain text");
    CloseLogger();
    EXPECT_EQ(ReadFile(LogPath()).find("plain"), std::string::npos);
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
