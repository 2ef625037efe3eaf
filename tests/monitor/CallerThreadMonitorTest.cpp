// The reader monitor when the application forbids module threads: no thread
// is started, and the slot calls poll the readers on the caller's thread.

#include <dirent.h>

#include <future>
#include <set>

#include "MonitorFixture.h"
#include "pkcs11/LibraryLifecycle.h"

namespace monitor_test {
namespace {

using Brelt::MW::Pkcs11::LibraryHasMonitorThread;

constexpr const char* kReaderA = "Reader A 00 00";
constexpr const char* kReaderB = "Reader B 00 00";

int ThreadsOfThisProcess() {
  int count = 0;
  if (DIR* tasks = opendir("/proc/self/task")) {
    while (const dirent* entry = readdir(tasks))
      if (entry->d_name[0] != '.') ++count;
    closedir(tasks);
  }
  return count;
}

CK_RV InitializeWithoutThreads(CK_FLAGS flags = CKF_LIBRARY_CANT_CREATE_OS_THREADS) {
  CK_C_INITIALIZE_ARGS args{};
  args.flags = flags;
  return C_Initialize(&args);
}

class CallerThreadMonitorTest : public MonitorTest {};

TEST_F(CallerThreadMonitorTest, NoThreadIsStartedAndCardsPresentAtStartHaveSlots) {
  Insert(kReaderA, 2);
  for (const CK_FLAGS flags :
       {CKF_LIBRARY_CANT_CREATE_OS_THREADS, CKF_LIBRARY_CANT_CREATE_OS_THREADS | CKF_OS_LOCKING_OK}) {
    const int threadsBefore = ThreadsOfThisProcess();
    ASSERT_EQ(InitializeWithoutThreads(flags), CKR_OK) << flags;
    EXPECT_FALSE(LibraryHasMonitorThread());
    EXPECT_EQ(Slots(), (std::vector<CK_SLOT_ID>{1, 2}));
    CK_SLOT_ID slot = 0;
    EXPECT_EQ(C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr), CKR_NO_EVENT);
    CK_TOKEN_INFO token;
    EXPECT_EQ(C_GetTokenInfo(2, &token), CKR_OK);
    EXPECT_EQ(ThreadsOfThisProcess(), threadsBefore);
    ASSERT_EQ(C_Finalize(nullptr), CKR_OK);
  }

  // The default keeps its thread.
  ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
  EXPECT_TRUE(LibraryHasMonitorThread());
}

TEST_F(CallerThreadMonitorTest, EachSlotCallSeesCardsThatCameAndWent) {
  cardsim::AddReader(kReaderA);
  cardsim::AddReader(kReaderB);
  ASSERT_EQ(InitializeWithoutThreads(), CKR_OK);
  EXPECT_TRUE(Slots().empty());

  // No waiting: the next call itself finds the card.
  Insert(kReaderA, 2);
  EXPECT_EQ(Slots(), (std::vector<CK_SLOT_ID>{1, 2}));
  CK_SLOT_ID slot = 0;
  ASSERT_EQ(C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr), CKR_OK);
  EXPECT_EQ(slot, 1u);
  ASSERT_EQ(C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr), CKR_OK);
  EXPECT_EQ(slot, 2u);
  EXPECT_EQ(C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr), CKR_NO_EVENT);

  Insert(kReaderB, 1);
  CK_SLOT_INFO info;
  EXPECT_EQ(C_GetSlotInfo(3, &info), CKR_OK);
  CK_SESSION_HANDLE session = 0;
  cardsim::RemoveCard(kReaderB);
  EXPECT_EQ(C_OpenSession(3, CKF_SERIAL_SESSION, nullptr, nullptr, &session), CKR_SLOT_ID_INVALID);

  // A call that holds the token lock polls too; the purge of what went is
  // left to a later call.
  cardsim::RemoveCard(kReaderA);
  CK_TOKEN_INFO token;
  EXPECT_EQ(C_GetTokenInfo(1, &token), CKR_SLOT_ID_INVALID);
  EXPECT_TRUE(Slots().empty());
  std::set<CK_SLOT_ID> events;
  while (C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr) == CKR_OK) events.insert(slot);
  EXPECT_EQ(events, (std::set<CK_SLOT_ID>{1, 2, 3}));

  // A reader that goes takes its slots; ids are never reused.
  Insert(kReaderB, 1);
  EXPECT_EQ(Slots(), (std::vector<CK_SLOT_ID>{4}));
  cardsim::RemoveReader(kReaderB);
  EXPECT_TRUE(Slots().empty());
}

TEST_F(CallerThreadMonitorTest, BlockingWaitPollsOnItsOwnThreadAndEndsAtFinalize) {
  cardsim::AddReader(kReaderA);
  ASSERT_EQ(InitializeWithoutThreads(), CKR_OK);
  auto waiter = std::async(std::launch::async, [] {
    CK_SLOT_ID id = 0;
    return std::make_pair(C_WaitForSlotEvent(0, &id, nullptr), id);
  });
  std::this_thread::sleep_for(3 * kPoll);
  Insert(kReaderA, 1);
  const auto [rv, id] = waiter.get();
  EXPECT_EQ(rv, CKR_OK);
  EXPECT_EQ(id, 1u);

  auto blocked = std::async(std::launch::async, [] {
    CK_SLOT_ID id = 0;
    return C_WaitForSlotEvent(0, &id, nullptr);
  });
  std::this_thread::sleep_for(3 * kPoll);
  ASSERT_EQ(C_Finalize(nullptr), CKR_OK);
  EXPECT_EQ(blocked.get(), CKR_CRYPTOKI_NOT_INITIALIZED);
}

}  // namespace
}  // namespace monitor_test
