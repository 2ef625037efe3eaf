// The card context: the cross-process named mutex and the PC/SC transaction.

#include <semaphore.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>

#include "MonitorFixture.h"
#include "pkcs11/CardContext.h"
#include "pkcs11/CardMutex.h"
#include "pkcs11/LibraryLifecycle.h"
#include "pkcs11/Session.h"

namespace monitor_test {
namespace {

using namespace Brelt::MW::Pkcs11;
using Brelt::MW::Card::StatusCache;
namespace fs = std::filesystem;

// Someone else on the machine: owns the planted files.
constexpr uid_t kOtherUser = 12345;
constexpr uid_t kVictimUser = 65534;

void WriteFile(const std::string& path, size_t size, mode_t mode) {
  std::ofstream(path, std::ios::binary) << std::string(size, '\0');
  chmod(path.c_str(), mode);
}

// The mutex files live in a sticky folder of the test's own, as in /dev/shm.
class CardMutexTest : public MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    char name[] = "/tmp/card-mutex-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    folder_ = name;
    chmod(name, 01777);
    CardMutex::SetFolderForTesting(folder_);
  }
  void TearDown() override {
    MonitorTest::TearDown();
    CardMutex::SetFolderForTesting({});
    fs::remove_all(folder_);
  }
  std::string folder_;
};

TEST_F(CardMutexTest, OnlyTheUsersOwnSemaphoreFileIsMapped) {
  const std::string path = CardMutex::Path();
  EXPECT_EQ(path, folder_ + "/sem.eID_mutex." + std::to_string(geteuid()));
  {
    // Made afresh: owner-only, exactly one semaphore, free.
    auto mutex = CardMutex::Open(path);
    ASSERT_TRUE(mutex);
    struct stat status {};
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    EXPECT_EQ(status.st_size, static_cast<off_t>(sizeof(sem_t)));
    EXPECT_TRUE(mutex->PassThrough(std::chrono::milliseconds(0)));
    // Opened again as it is; one of the user's own left open to others is
    // narrowed to the owner first.
    ASSERT_EQ(chmod(path.c_str(), 0666), 0);
    EXPECT_TRUE(CardMutex::Open(path));
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
  }
  const std::string good = folder_ + "/good";
  ASSERT_TRUE(fs::copy_file(path, good));
  const std::pair<const char*, std::function<void()>> planted[] = {
      {"empty file", [&] { WriteFile(path, 0, 0666); }},
      {"short file", [&] { WriteFile(path, sizeof(sem_t) / 2, 0600); }},
      {"long file", [&] { WriteFile(path, sizeof(sem_t) + 1, 0600); }},
      {"another user's", [&] { fs::copy_file(good, path), chown(path.c_str(), kOtherUser, kOtherUser); }},
      {"symbolic link", [&] { fs::create_symlink(good, path); }},
      {"folder", [&] { fs::create_directory(path); }},
      {"pipe", [&] { mkfifo(path.c_str(), 0600); }},
  };
  for (const auto& [what, plant] : planted) {
    fs::remove(path);
    plant();
    EXPECT_FALSE(CardMutex::Open(path)) << what;
  }
}

// What another user plants before the victim's process starts: the victim
// can neither use nor remove it (sticky folder), and goes on with the PC/SC
// transaction alone. The test process takes the victim's user id for it.
TEST_F(CardMutexTest, PlantedFileOfAnotherUserNeitherCrashesNorStalls) {
  Insert("Reader A 00 00", 1);
  const std::string path = folder_ + "/sem.eID_mutex." + std::to_string(kVictimUser);
  const std::pair<const char*, std::function<void()>> planted[] = {
      // What used to make every card call die with SIGBUS.
      {"empty file", [&] { WriteFile(path, 0, 0666); }},
      // A taken semaphore: every card call used to wait its full 3 seconds.
      {"taken semaphore",
       [&] {
         WriteFile(path, 0, 0666);
         sem_t taken;
         sem_init(&taken, 1, 0);
         std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(&taken), sizeof taken);
       }},
      {"symbolic link", [&] { fs::create_symlink("/dev/zero", path); }},
  };
  for (const auto& [what, plant] : planted) {
    fs::remove(path);
    plant();
    ASSERT_EQ(seteuid(kVictimUser), 0);
    const CK_RV initialized = C_Initialize(nullptr);
    const bool mapped = LibraryCardMutex() != nullptr;
    CK_RV opened = CKR_GENERAL_ERROR;
    CK_RV released = CKR_GENERAL_ERROR;
    if (StatusCache::GetSlotWithoutProbe(1)) {
      Session session(1, CKF_SERIAL_SESSION);
      opened = EstablishCardContext(session, true);
      released = ReleaseCardContext(session, true);
    }
    C_Finalize(nullptr);
    ASSERT_EQ(seteuid(0), 0);
    EXPECT_EQ(initialized, CKR_OK) << what;
    EXPECT_FALSE(mapped) << what;
    EXPECT_EQ(opened, CKR_OK) << what;
    EXPECT_EQ(released, CKR_OK) << what;
    EXPECT_TRUE(fs::symlink_status(path).type() != fs::file_type::not_found) << what;
  }
}

TEST_F(CardMutexTest, HeldByAnotherProcessOfTheUserIsWaitedForAWhile) {
  Insert("Reader A 00 00", 1);
  ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
  // Opened once by the initialisation and kept until finalisation.
  const std::shared_ptr<CardMutex> mutex = LibraryCardMutex();
  ASSERT_TRUE(mutex);
  EXPECT_EQ(LibraryCardMutex(), mutex);

  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t holder = fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    auto own = CardMutex::Open(CardMutex::Path());
    const char taken = own && own->TryTake() ? 1 : 0;
    (void)!write(ready[1], &taken, 1);
    pause();
    _exit(0);
  }
  char taken = 0;
  ASSERT_EQ(read(ready[0], &taken, 1), 1);
  close(ready[0]);
  close(ready[1]);
  EXPECT_EQ(taken, 1);
  // The call waits its while, then goes on with the PC/SC transaction.
  EXPECT_FALSE(mutex->PassThrough());
  mutex->EndTurn();
  Session session(1, CKF_SERIAL_SESSION);
  EXPECT_EQ(EstablishCardContext(session, true), CKR_OK);
  EXPECT_EQ(ReleaseCardContext(session, true), CKR_OK);
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);

  // The holder died holding it; the next initialisation starts afresh.
  C_Finalize(nullptr);
  EXPECT_EQ(LibraryCardMutex(), nullptr);
  ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
  ASSERT_TRUE(LibraryCardMutex());
  EXPECT_TRUE(LibraryCardMutex()->PassThrough(std::chrono::milliseconds(0)));
}

// A process that waits for the card holds the user's mutex until it has the
// card: a process whose turn is over then waits behind it instead of taking
// the card again at once.
TEST_F(CardMutexTest, WaitingForTheCardHoldsTheTurn) {
  Insert("Reader A 00 00", 1);
  ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
  auto otherProcess = CardMutex::Open(CardMutex::Path());
  ASSERT_TRUE(otherProcess);
  OtherClient cardHolder("Reader A 00 00");
  ASSERT_TRUE(cardHolder.Begin());

  Session session(1, CKF_SERIAL_SESSION);
  LibraryCardMutex()->EndTurn();
  auto waiting = std::async(std::launch::async, [&] { return EstablishCardContext(session, true); });
  EXPECT_TRUE(Eventually([&] {
    if (!otherProcess->TryTake()) return true;  // held by the waiting call
    otherProcess->Give();
    return false;
  }));
  cardHolder.End();
  EXPECT_EQ(waiting.get(), CKR_OK);
  // Had the card: the mutex is free again, and the turn runs.
  EXPECT_TRUE(otherProcess->PassThrough(std::chrono::milliseconds(0)));
  EXPECT_TRUE(LibraryCardMutex()->InTurn());
  EXPECT_EQ(ReleaseCardContext(session, true), CKR_OK);
}

TEST_F(MonitorTest, CardContextHoldsTheTransactionUntilReleased) {
  Insert("Reader A 00 00", 1);
  ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
  Session session(1, CKF_SERIAL_SESSION);
  const auto slot = StatusCache::GetSlotWithoutProbe(1);
  ASSERT_TRUE(slot);

  ASSERT_EQ(EstablishCardContext(session, true), CKR_OK);
  EXPECT_TRUE(slot->IsTransactionOpen());
  EXPECT_EQ(ReleaseCardContext(session, true), CKR_OK);
  EXPECT_FALSE(slot->IsTransactionOpen());
  EXPECT_NE(ReleaseCardContext(session, true), CKR_OK);  // nothing left to end

  // Without the lock, nothing is taken.
  EXPECT_EQ(EstablishCardContext(session, false), CKR_OK);
  EXPECT_FALSE(slot->IsTransactionOpen());

  // A session whose slot has gone: its token was removed.
  Session orphan(42, CKF_SERIAL_SESSION);
  EXPECT_EQ(EstablishCardContext(orphan, true), CKR_DEVICE_REMOVED);
}

// A session of an earlier initialisation whose last reference goes only
// after C_Finalize and C_Initialize: the slot of its id now belongs to the
// new initialisation, whose transaction it must leave alone.
TEST_F(MonitorTest, SessionOfAnEarlierInitialisationEndsNoTransactionOfTheNext) {
  Insert("Reader A 00 00", 1);
  ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
  auto earlier = std::make_unique<Session>(1, CKF_SERIAL_SESSION);
  ASSERT_EQ(EstablishCardContext(*earlier, true), CKR_OK);
  ASSERT_TRUE(earlier->NoteTransactionHeld(HeldTransaction::Sign));
  ASSERT_EQ(C_Finalize(nullptr), CKR_OK);

  ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
  const auto slot = StatusCache::GetSlotWithoutProbe(1);
  ASSERT_TRUE(slot);
  Session current(1, CKF_SERIAL_SESSION);
  ASSERT_EQ(EstablishCardContext(current, true), CKR_OK);
  earlier.reset();
  EXPECT_TRUE(slot->IsTransactionOpen());
  EXPECT_EQ(ReleaseCardContext(current, true), CKR_OK);
  EXPECT_FALSE(slot->IsTransactionOpen());
}

}  // namespace
}  // namespace monitor_test
