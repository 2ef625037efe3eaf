// The call frame: trace lines, secrets kept out of the log, the catch-all,
// and the lock of C_GenerateRandom.

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "../base/LogTestSupport.h"
#include "Logger.h"
#include "cardsim/Readers.h"
#include "pkcs11/ApiFrame.h"
#include "pkcs11/ApiMutexes.h"
#include "pkcs11/cryptoki.h"

namespace {

using Brelt::MW::Pkcs11::RunExport;

// A plain log at level 5 in a private folder, read back after closing.
class CallFrameTest : public LogTest {
protected:
  void SetUp() override {
    LogTest::SetUp();
    StartPlainLog(5);
    C_Finalize(nullptr);
  }

  void TearDown() override {
    C_Finalize(nullptr);
    LogTest::TearDown();
  }

  std::string ReadLog() {
    CloseLogger();
    return ReadFile(LogPath());
  }
};

TEST_F(CallFrameTest, CallAndResultLinesFrameEachExport) {
  ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
  CK_INFO info;
  ASSERT_EQ(C_GetInfo(&info), CKR_OK);
  EXPECT_EQ(C_GetSlotInfo(42, nullptr), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(C_EncryptInit(0, nullptr, 0), CKR_FUNCTION_NOT_SUPPORTED);

  const std::string log = ReadLog();
  const std::string pt = "[P:" + [] {
    char text[32];
    std::snprintf(text, sizeof(text), "%08X,T:%08X]", static_cast<unsigned>(getpid()),
                  static_cast<unsigned>(gettid()));
    return std::string(text);
  }();
  EXPECT_NE(log.find("==> API_CALL " + pt + ": C_GetInfo()"), std::string::npos) << log;
  EXPECT_NE(log.find(pt + ": C_GetInfo(): SUCCESS, result = CKR_OK\n" + std::string(75, '-')), std::string::npos);
  EXPECT_NE(log.find("Out:"), std::string::npos);
  EXPECT_NE(log.find("  => pInfo: "), std::string::npos);
  EXPECT_NE(log.find(pt + ": C_GetSlotInfo(): FAILED, result = CKR_ARGUMENTS_BAD"), std::string::npos);
  EXPECT_NE(log.find("  > API_PARAM slotID = 42"), std::string::npos);
  EXPECT_NE(log.find("  > API_PARAM pInfo = NULL"), std::string::npos);
  // Encryption exports write only the result line.
  EXPECT_EQ(log.find("API_CALL " + pt + ": C_EncryptInit()"), std::string::npos);
  EXPECT_NE(log.find(pt + ": C_EncryptInit(): FAILED, result = CKR_FUNCTION_NOT_SUPPORTED"), std::string::npos);
}

TEST_F(CallFrameTest, PinsAndSecretTemplateValuesStayOutOfTheLog) {
  ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
  CK_UTF8CHAR pin[] = "735291";
  CK_UTF8CHAR newPin[] = "864208";
  EXPECT_EQ(C_Login(7, CKU_USER, pin, 6), CKR_SESSION_HANDLE_INVALID);
  EXPECT_EQ(C_SetPIN(7, pin, 6, newPin, 6), CKR_SESSION_HANDLE_INVALID);

  CK_OBJECT_CLASS keyClass = CKO_PRIVATE_KEY;
  CK_BYTE exponent[] = "SECRET-EXPONENT-BYTES";
  CK_ATTRIBUTE secretTemplate[] = {{CKA_CLASS, &keyClass, sizeof(keyClass)},
                                   {CKA_PRIVATE_EXPONENT, exponent, sizeof(exponent) - 1}};
  CK_OBJECT_HANDLE object = 0;
  EXPECT_EQ(C_CreateObject(7, secretTemplate, 2, &object), CKR_SESSION_HANDLE_INVALID);
  CK_BYTE random[16];
  EXPECT_EQ(C_GenerateRandom(7, random, sizeof(random)), CKR_SESSION_HANDLE_INVALID);

  const std::string log = ReadLog();
  EXPECT_NE(log.find("C_Login()"), std::string::npos);
  EXPECT_NE(log.find("  > API_PARAM userType = CKU_USER"), std::string::npos);
  EXPECT_NE(log.find("  > API_PARAM ulPinLen = 6"), std::string::npos);
  EXPECT_NE(log.find("  > API_PARAM ulRandomLen = 0010h"), std::string::npos);
  for (const char* secret : {"735291", "864208", "SECRET-EXPONENT", "33 35 32 39", "53 45 43 52"})
    EXPECT_EQ(log.find(secret), std::string::npos) << secret << " found in\n" << log;
}

TEST_F(CallFrameTest, RandomBlocksStayOutOfTheLog) {
  cardsim::Configure("DEF50");
  ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
  CK_SLOT_ID slots[4];
  CK_ULONG count = 4;
  ASSERT_EQ(C_GetSlotList(CK_TRUE, slots, &count), CKR_OK);
  ASSERT_GT(count, 0u);
  CK_SESSION_HANDLE session = 0;
  ASSERT_EQ(C_OpenSession(slots[0], CKF_SERIAL_SESSION, nullptr, nullptr, &session), CKR_OK);
  CK_BYTE random[32] = {};
  ASSERT_EQ(C_GenerateRandom(session, random, sizeof(random)), CKR_OK);
  C_Finalize(nullptr);
  cardsim::RemoveAllReaders();

  const std::string log = ReadLog();
  EXPECT_NE(log.find("  > API_PARAM randomData = [32 bytes, not logged]"), std::string::npos) << log;
  // Neither the card's answer nor the returned block is dumped.
  char firstBytes[32];
  std::snprintf(firstBytes, sizeof(firstBytes), "%02X %02X %02X %02X %02X %02X", random[0], random[1], random[2],
                random[3], random[4], random[5]);
  EXPECT_EQ(log.find(firstBytes), std::string::npos) << firstBytes << " found in\n" << log;
}

TEST_F(CallFrameTest, CatchAllAnswersFunctionFailedAndCleansUp) {
  int cleanups = 0;
  EXPECT_EQ(RunExport("C_Thrower", nullptr, []() -> CK_RV { throw std::runtime_error("card gone"); },
                      [&] { ++cleanups; }),
            CKR_FUNCTION_FAILED);
  EXPECT_EQ(RunExport("C_Thrower", &Brelt::MW::Pkcs11::TokenMutex(), []() -> CK_RV { throw 42; },
                      [&] {
                        ++cleanups;
                        throw std::logic_error("clean-up failed too");
                      }),
            CKR_FUNCTION_FAILED);
  EXPECT_EQ(cleanups, 2);
  // The lock was released on the way out.
  ASSERT_TRUE(Brelt::MW::Pkcs11::TokenMutex().try_lock());
  Brelt::MW::Pkcs11::TokenMutex().unlock();

  const std::string log = ReadLog();
  EXPECT_NE(log.find("C_Thrower(), line "), std::string::npos);
  EXPECT_NE(log.find("Catching top-level exception"), std::string::npos);
  EXPECT_NE(log.find("C_Thrower(): FAILED, result = CKR_FUNCTION_FAILED"), std::string::npos);
}

// Random numbers come from the card, so C_GenerateRandom must wait for other
// token work to finish instead of sending commands in between.
TEST(GenerateRandomLockTest, WaitsForTokenMutex) {
  ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
  std::atomic<bool> returned{false};
  std::thread caller;
  {
    std::lock_guard<boost::mutex> tokenWork(Brelt::MW::Pkcs11::TokenMutex());
    caller = std::thread([&] {
      CK_BYTE random[8];
      C_GenerateRandom(1, random, sizeof(random));
      returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(returned.load());
  }
  caller.join();
  EXPECT_TRUE(returned.load());
  C_Finalize(nullptr);
}

}  // namespace
