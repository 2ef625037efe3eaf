// Registry operations from many threads at once: sessions opened, used and
// closed while a monitor thread adds, invalidates and purges slots. Built
// with ThreadSanitizer as well (label "tsan").

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "RegistryFixture.h"
#include "pkcs11/InternalOperations.h"
#include "pkcs11/Session.h"
#include "pkcs11/SessionOperations.h"

namespace registry_test {
namespace {

using namespace Brelt::MW::Pkcs11;

using ConcurrencyTest = RegistryTest;

TEST_F(ConcurrencyTest, SessionsComeAndGoWhileTheMonitorInvalidatesAndPurges) {
  constexpr int kRounds = 150;
  constexpr int kWorkers = 4;
  std::atomic<bool> done{false};
  std::atomic<int> opened{0};
  std::atomic<int> started{0};

  for (CK_SLOT_ID id = 1; id <= 3; ++id) AddSlot(id, FakeCard(static_cast<int>(id)));

  std::thread monitor([&] {
    while (started.load() < kWorkers) std::this_thread::yield();
    CK_SLOT_ID next = 4;
    for (int round = 0; round < kRounds; ++round) {
      AddSlot(next, FakeCard(static_cast<int>(next % 7)), "Reader " + std::to_string(next % 3));
      StatusCache::InvalidateSlot(next - 3);
      ++next;
      if (round % 25 == 0) StatusCache::InvalidateAllSessions();
      AdvanceSeconds(4);
      Purge();
      std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    done = true;
  });

  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w) {
    workers.emplace_back([&, w] {
      std::vector<CK_SESSION_HANDLE> mine;
      ++started;
      while (!done) {
        for (CK_SLOT_ID id : StatusCache::GetAllSlotIDs(false)) {
          SlotPtr slot = w == 0 ? StatusCache::GetSlot(id) : StatusCache::GetSlotWithoutProbe(id);
          if (!slot) continue;
          CK_SESSION_HANDLE handle = 0;
          if (OpenSession(*slot, &handle, CKF_SERIAL_SESSION | (w % 2 ? CKF_RW_SESSION : 0)) == CKR_OK) {
            ++opened;
            mine.push_back(handle);
          }
          CK_SESSION_INFO info{};
          if (GetSessionInfo(handle, &info) == CKR_OK) {
            EXPECT_EQ(info.slotID, id);
          }
          GetNumOfSessions(id, SessionCount::ReadWrite);
        }
        if (mine.size() > 8) {
          CloseSession(mine.front());
          mine.erase(mine.begin());
        }
        if (w == 1) CloseAllSessions(0);
      }
      for (CK_SESSION_HANDLE handle : mine) CloseSession(handle);
    });
  }
  monitor.join();
  for (auto& worker : workers) worker.join();

  EXPECT_GT(opened.load(), 0);
  std::set<CK_SESSION_HANDLE> handles;
  for (const auto& session : StatusCache::GetAllSessions()) EXPECT_TRUE(handles.insert(session->Handle()).second);
}

TEST_F(ConcurrencyTest, ASessionClosedByTwoThreadsAtOnceClosesOnce) {
  auto slot = AddSlot(1, FakeCard(1));
  constexpr int kSessions = 300;
  std::vector<CK_SESSION_HANDLE> handles(kSessions);
  for (auto& handle : handles) ASSERT_EQ(OpenSession(*slot, &handle, CKF_SERIAL_SESSION), CKR_OK);

  std::atomic<int> closed{0};
  std::atomic<int> refused{0};
  auto closer = [&] {
    for (CK_SESSION_HANDLE handle : handles) {
      const CK_RV rv = CloseSession(handle);
      (rv == CKR_OK ? closed : refused)++;
    }
  };
  std::thread a(closer), b(closer);
  a.join();
  b.join();
  EXPECT_EQ(closed.load(), kSessions);
  EXPECT_EQ(refused.load(), kSessions);
  EXPECT_EQ(StatusCache::GetSessionCount(), 0u);
}

TEST_F(ConcurrencyTest, LoginStateChangesAndNewSessionsDoNotMissEachOther) {
  auto slot = AddSlot(1, FakeCard(1));
  SessionPtr first;
  {
    CK_SESSION_HANDLE handle = 0;
    ASSERT_EQ(OpenSession(*slot, &handle, CKF_SERIAL_SESSION), CKR_OK);
    first = StatusCache::GetSession(handle);
  }
  std::thread login([&] {
    StatusCache::ForEachSessionOfCard(FakeCard(1),
                                      [](const SessionPtr& session) { session->SetState(CKS_RO_USER_FUNCTIONS); });
  });
  std::vector<SessionPtr> opened;
  for (int i = 0; i < 50; ++i) {
    CK_SESSION_HANDLE handle = 0;
    ASSERT_EQ(OpenSession(*slot, &handle, CKF_SERIAL_SESSION), CKR_OK);
    opened.push_back(StatusCache::GetSession(handle));
  }
  login.join();
  // Every session opened after the login sees it; those before were changed by it.
  for (const auto& session : opened) EXPECT_EQ(session->State(), CKS_RO_USER_FUNCTIONS);
  EXPECT_EQ(first->State(), CKS_RO_USER_FUNCTIONS);
}

}  // namespace
}  // namespace registry_test
