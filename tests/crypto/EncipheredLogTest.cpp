#include <gtest/gtest.h>

#include <cstdlib>
#include <dlfcn.h>
#include <sys/wait.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <unistd.h>

#include "EncipheredLogReader.h"
#include "LogCipher.h"
#include "Logger.h"
#include "TestBytes.h"

using namespace Brelt::Crypto;

namespace {

std::vector<uint8_t> Concat(const std::vector<std::vector<unsigned char>>& records)
{
    std::vector<uint8_t> file;
    for (const auto& r : records)
        file.insert(file.end(), r.begin(), r.end());
    return file;
}

}  // namespace

TEST(LogCipherTest, ReaderRoundTripAndDamagedFiles)
{
    const auto cipher = MakeLogRecordCipher();
    ASSERT_NE(cipher, nullptr);
    const std::vector<std::string> texts = {"first line\n", "", std::string(70000, 'L'), "last\n"};
    std::vector<std::vector<unsigned char>> records;
    for (const auto& t : texts)
        records.push_back(cipher->EncipherRecord(t.data(), t.size()));
    const auto file = Concat(records);

    const LogDecodeResult all = DecipherLogRecords(file);
    EXPECT_TRUE(all.complete) << all.error;
    EXPECT_EQ(all.records, texts);

    // Cut inside the last record: everything before it is still read.
    const std::vector<uint8_t> cut(file.begin(), file.end() - 3);
    const LogDecodeResult partial = DecipherLogRecords(cut);
    EXPECT_FALSE(partial.complete);
    EXPECT_EQ(partial.records.size(), 3u);
    EXPECT_EQ(partial.failedOffset, file.size() - records.back().size());

    auto wrongTag = file;
    wrongTag[0] = 0x30;
    EXPECT_FALSE(DecipherLogRecords(wrongTag).complete);
    EXPECT_FALSE(DecipherLogRecords({0x04}).complete);
    EXPECT_FALSE(DecipherLogRecords({0x04, 0x85, 1, 0, 0, 0, 0}).complete);
    EXPECT_FALSE(DecipherLogRecords({0x04, 0x07, 1, 2, 3, 4, 5, 6, 7}).complete);  // not whole blocks
    EXPECT_FALSE(DecipherLogRecords({0x04, 0x08, 1, 2, 3, 4, 5, 6, 7, 8}).complete);  // bad padding
    EXPECT_TRUE(DecipherLogRecords({}).complete);
}

TEST(LogCipherTest, LoggerWritesRecordsThatDecodeFromManyThreads)
{
    const auto dir = std::filesystem::temp_directory_path() / ("brelt-enclog-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const auto path = dir / "pkcs11.log";
    setenv("BRELT_PKCS11_LOG_PATH", path.c_str(), 1);
    setenv("BRELT_PKCS11_LOG_LEVEL", "5", 1);
    setenv("COPYRIGHT_BRELT_PKCS11_T", "0", 1);
    InitLogger();

    constexpr int kThreads = 6, kMessages = 40;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int m = 0; m < kMessages; ++m)
                LogMessage(LOG_LEVEL_INFO, false, nullptr, 0, true, "thread %d message %d", t, m);
        });
    for (auto& th : threads)
        th.join();
    CloseLogger();
    unsetenv("BRELT_PKCS11_LOG_PATH");
    unsetenv("BRELT_PKCS11_LOG_LEVEL");
    unsetenv("COPYRIGHT_BRELT_PKCS11_T");

    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove_all(dir);
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(file[0], 0x04);

    const LogDecodeResult decoded = DecipherLogRecords(file);
    ASSERT_TRUE(decoded.complete) << decoded.error << " at " << decoded.failedOffset;
    const std::multiset<std::string> records(decoded.records.begin(), decoded.records.end());
    for (int t = 0; t < kThreads; ++t)
        for (int m = 0; m < kMessages; ++m)
            EXPECT_EQ(records.count("thread " + std::to_string(t) + " message " + std::to_string(m) + "\n"), 1u);
    EXPECT_EQ(decoded.records.front(),
              "============================= START OF LOG ===============================\n");
    EXPECT_EQ(decoded.records.back(),
              "============================== END OF LOG ================================\n");
}

#ifdef BRELT_MODULE_PATH
TEST(LogCipherTest, ModuleUnloadedAtProcessExitWritesTheEndOfLog)
{
    // At exit() the module's unload hook runs after the static objects of the
    // libraries it uses were destroyed, and still writes the end banner.
    // The child is a fresh process (this program again, running only this
    // test): a forked copy would inherit the crypto library's worker pool
    // without its threads and wait for them at exit.
    constexpr const char* kChildVariable = "BRELT_EXIT_LOG_CHILD";
    if (std::getenv(kChildVariable) != nullptr) {
        alarm(30);
        if (dlopen(BRELT_MODULE_PATH, RTLD_NOW | RTLD_LOCAL) == nullptr)
            _exit(3);
        std::exit(0);
    }
    const auto dir = std::filesystem::temp_directory_path() / ("brelt-exitlog-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const auto path = dir / "pkcs11.log";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        setenv("BRELT_PKCS11_LOG_PATH", path.c_str(), 1);
        setenv(kChildVariable, "1", 1);
        execl("/proc/self/exe", "crypto_tests", "--gtest_filter=LogCipherTest.ModuleUnloadedAtProcessExitWritesTheEndOfLog",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << (WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                                : "status " + std::to_string(WEXITSTATUS(status)));

    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove_all(dir);
    const LogDecodeResult decoded = DecipherLogRecords(file);
    ASSERT_TRUE(decoded.complete) << decoded.error << " at " << decoded.failedOffset;
    ASSERT_FALSE(decoded.records.empty());
    EXPECT_EQ(decoded.records.back(),
              "============================== END OF LOG ================================\n");
}
#endif
