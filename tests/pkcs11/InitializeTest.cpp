// C_Initialize / C_Finalize argument handling and re-initialisation after fork.

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include <future>
#include <mutex>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "cardsim/Readers.h"
#include "pkcs11/ApiMutexes.h"
#include "pkcs11/CallerIds.h"
#include "pkcs11/ProcessLifetime.h"
#include "pkcs11/cryptoki.h"

namespace {

CK_RV CreateMutexStub(CK_VOID_PTR_PTR) { return CKR_OK; }
CK_RV MutexStub(CK_VOID_PTR) { return CKR_OK; }

// The child ends with exit code 0.
void ExpectCleanExit(pid_t child) {
  ASSERT_NE(child, -1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

class InitializeTest : public ::testing::Test {
protected:
  void SetUp() override { C_Finalize(nullptr); }
  void TearDown() override { C_Finalize(nullptr); }

  static CK_C_INITIALIZE_ARGS AllMutexFunctions(CK_FLAGS flags) {
    CK_C_INITIALIZE_ARGS args{};
    args.CreateMutex = CreateMutexStub;
    args.DestroyMutex = MutexStub;
    args.LockMutex = MutexStub;
    args.UnlockMutex = MutexStub;
    args.flags = flags;
    return args;
  }
};

TEST_F(InitializeTest, NullArgumentsInitialiseAndSecondCallIsRefused) {
  int reserved = 0;
  EXPECT_EQ(C_Finalize(&reserved), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(C_Initialize(nullptr), CKR_OK);
  EXPECT_EQ(C_Initialize(nullptr), CKR_CRYPTOKI_ALREADY_INITIALIZED);
  // Already initialised wins over bad arguments.
  CK_C_INITIALIZE_ARGS bad{};
  bad.pReserved = &bad;
  EXPECT_EQ(C_Initialize(&bad), CKR_CRYPTOKI_ALREADY_INITIALIZED);
  EXPECT_EQ(C_Finalize(&reserved), CKR_ARGUMENTS_BAD);
  CK_INFO info;
  EXPECT_EQ(C_GetInfo(&info), CKR_OK) << "a refused C_Finalize must leave the library initialised";
  EXPECT_EQ(C_Finalize(nullptr), CKR_OK);
  EXPECT_EQ(C_Finalize(nullptr), CKR_CRYPTOKI_NOT_INITIALIZED);
}

TEST_F(InitializeTest, AcceptedArgumentCombinations) {
  // An application that forbids module threads is served without them.
  for (const CK_FLAGS flags : {CK_FLAGS{0}, CK_FLAGS{CKF_OS_LOCKING_OK}, CK_FLAGS{CKF_LIBRARY_CANT_CREATE_OS_THREADS},
                               CK_FLAGS{CKF_LIBRARY_CANT_CREATE_OS_THREADS | CKF_OS_LOCKING_OK}}) {
    CK_C_INITIALIZE_ARGS plain{};
    plain.flags = flags;
    EXPECT_EQ(C_Initialize(&plain), CKR_OK) << flags;
    C_Finalize(nullptr);
    if (flags == 0) continue;  // functions alone mean application locking only
    CK_C_INITIALIZE_ARGS withFunctions = AllMutexFunctions(flags);
    EXPECT_EQ(C_Initialize(&withFunctions), CKR_OK) << flags;
    C_Finalize(nullptr);
  }
}

TEST_F(InitializeTest, RefusedArgumentsLeaveTheLibraryUninitialised) {
  struct Case {
    const char* what;
    CK_C_INITIALIZE_ARGS args;
    CK_RV expected;
  };
  CK_C_INITIALIZE_ARGS reserved{};
  reserved.pReserved = &reserved;
  CK_C_INITIALIZE_ARGS twoFunctions{};
  twoFunctions.CreateMutex = CreateMutexStub;
  twoFunctions.LockMutex = MutexStub;
  CK_C_INITIALIZE_ARGS threeFunctions = AllMutexFunctions(CKF_OS_LOCKING_OK);
  threeFunctions.UnlockMutex = nullptr;
  CK_C_INITIALIZE_ARGS unknownFlag{};
  unknownFlag.flags = 4;
  // Forbidding module threads changes none of the other checks.
  CK_C_INITIALIZE_ARGS noThreadsReserved{};
  noThreadsReserved.flags = CKF_LIBRARY_CANT_CREATE_OS_THREADS;
  noThreadsReserved.pReserved = &noThreadsReserved;
  CK_C_INITIALIZE_ARGS noThreadsThreeFunctions = AllMutexFunctions(CKF_LIBRARY_CANT_CREATE_OS_THREADS);
  noThreadsThreeFunctions.DestroyMutex = nullptr;

  const Case cases[] = {
      {"reserved pointer set", reserved, CKR_ARGUMENTS_BAD},
      {"two of four mutex functions", twoFunctions, CKR_ARGUMENTS_BAD},
      {"three of four mutex functions", threeFunctions, CKR_ARGUMENTS_BAD},
      {"flags 4 alone", unknownFlag, CKR_ARGUMENTS_BAD},
      {"no threads, reserved pointer set", noThreadsReserved, CKR_ARGUMENTS_BAD},
      {"no threads, three of four mutex functions", noThreadsThreeFunctions, CKR_ARGUMENTS_BAD},
      {"application locking only", AllMutexFunctions(0), CKR_CANT_LOCK},
  };
  for (const Case& c : cases) {
    CK_C_INITIALIZE_ARGS args = c.args;
    EXPECT_EQ(C_Initialize(&args), c.expected) << c.what;
    CK_INFO info;
    EXPECT_EQ(C_GetInfo(&info), CKR_CRYPTOKI_NOT_INITIALIZED) << c.what;
  }
}

// A child process inherits "initialised" and must be able to initialise anew,
// even when another parent thread held an API lock at the time of fork().
TEST_F(InitializeTest, ForkChildInitialisesAgain) {
  Brelt::MW::Pkcs11::ProcessAttach();
  ASSERT_EQ(C_Initialize(nullptr), CKR_OK);

  // Another thread sits in C_Initialize's lock while the process forks.
  std::promise<void> locked;
  std::promise<void> forked;
  std::thread holder([&] {
    std::lock_guard<boost::mutex> lock(Brelt::MW::Pkcs11::InitializationMutex());
    locked.set_value();
    forked.get_future().wait();
  });
  locked.get_future().wait();

  const pid_t child = fork();
  if (child == 0) {
    alarm(20);  // a lock inherited in the locked state would hang the child
    CK_INFO info;
    int failures = 0;
    failures += C_GetInfo(&info) != CKR_CRYPTOKI_NOT_INITIALIZED;
    failures += C_Initialize(nullptr) != CKR_OK;
    failures += C_GetInfo(&info) != CKR_OK;
    failures += C_Finalize(nullptr) != CKR_OK;
    _exit(failures);
  }
  forked.set_value();
  holder.join();
  ExpectCleanExit(child);

  // The parent is unaffected.
  EXPECT_EQ(C_Initialize(nullptr), CKR_CRYPTOKI_ALREADY_INITIALIZED);
}

// The ids a session records are those of the thread that opens it, also
// in a child process after fork(), whose thread was asked in the parent.
TEST_F(InitializeTest, CallerIdsFollowTheThreadAndTheForkedChild) {
  using Brelt::MW::Pkcs11::CallerProcessId;
  using Brelt::MW::Pkcs11::CallerThreadId;
  Brelt::MW::Pkcs11::ProcessAttach();
  EXPECT_EQ(CallerThreadId(), uint32_t(gettid()));
  EXPECT_EQ(CallerProcessId(), uint32_t(getpid()));
  uint32_t otherThread = 0;
  pid_t otherTid = 0;
  std::thread([&] {
    otherThread = CallerThreadId();
    otherTid = gettid();
  }).join();
  EXPECT_EQ(otherThread, uint32_t(otherTid));

  const pid_t child = fork();
  if (child == 0) {
    _exit((CallerThreadId() != uint32_t(gettid())) + 2 * (CallerProcessId() != uint32_t(getpid())));
  }
  ExpectCleanExit(child);
}

// A host that exits without C_Finalize, with a card loaded and a digest
// running in a session: the library is finalised at exit without touching
// objects whose static destructors already ran. Runs in a fresh process (this
// test binary started again), where nothing of the library exists yet.
TEST_F(InitializeTest, ExitWithoutFinalizeLeavesTheProcessCleanly) {
  constexpr char kChildVariable[] = "BRELT_TEST_EXIT_WITHOUT_FINALIZE";
  if (std::getenv(kChildVariable) != nullptr) {
    alarm(30);
    // Stands for the loader's unload hook, which runs after every static
    // destructor of the process.
    std::atexit([] { Brelt::MW::Pkcs11::ProcessDetach(); });
    Brelt::MW::Pkcs11::ProcessAttach();
    cardsim::Configure("DEF50");
    if (C_Initialize(nullptr) != CKR_OK) _exit(2);
    CK_SLOT_ID slots[4];
    CK_ULONG count = 4;
    if (C_GetSlotList(CK_TRUE, slots, &count) != CKR_OK || count == 0) _exit(3);
    CK_SESSION_HANDLE session = 0;
    if (C_OpenSession(slots[0], CKF_SERIAL_SESSION, nullptr, nullptr, &session) != CKR_OK) _exit(4);
    CK_MECHANISM sha256{CKM_SHA256, nullptr, 0};
    CK_BYTE part[3] = {1, 2, 3};
    if (C_DigestInit(session, &sha256) != CKR_OK || C_DigestUpdate(session, part, sizeof(part)) != CKR_OK) _exit(5);
    std::exit(0);
  }
  const pid_t child = fork();
  if (child == 0) {
    setenv(kChildVariable, "1", 1);
    const std::string filter = "--gtest_filter=InitializeTest.ExitWithoutFinalizeLeavesTheProcessCleanly";
    execl("/proc/self/exe", "pkcs11_entry_test", filter.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  ExpectCleanExit(child);
}

}  // namespace
