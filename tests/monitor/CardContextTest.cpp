// The card context: the cross-process named mutex and the PC/SC transaction.

#include <sys/stat.h>
#include <unistd.h>

#include <boost/interprocess/sync/named_mutex.hpp>
#include <future>

#include "MonitorFixture.h"
#include "pkcs11/CardContext.h"
#include "pkcs11/Session.h"

namespace monitor_test {
namespace {

using namespace Brelt::MW::Pkcs11;
using Brelt::MW::Card::StatusCache;

constexpr const char* kMutexFile = "/dev/shm/sem.eID_mutex";

TEST(CardMutexTest, StuckOrBrokenMutexDoesNotBlockTheCard) {
  RemoveCardMutex();
  {
    // Another holder that never lets go: the call goes on after a while.
    boost::interprocess::named_mutex holder(boost::interprocess::open_or_create, kCardMutexName);
    holder.lock();
    auto call = std::async(std::launch::async, [] { PassThroughCardMutex(); });
    EXPECT_EQ(call.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    holder.unlock();
  }
  // A mutex that cannot be opened at all.
  RemoveCardMutex();
  ASSERT_EQ(mkdir(kMutexFile, 0700), 0);
  EXPECT_NO_THROW(PassThroughCardMutex());
  rmdir(kMutexFile);
}

TEST_F(MonitorTest, CardContextHoldsTheTransactionUntilReleased) {
  cardsim::AddReader("Reader A 00 00");
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

  // A context that fails to open leaves no transaction behind.
  applications->table[1].facts.cardProfile = 2;  // its secure channel cannot be opened
  EXPECT_EQ(EstablishCardContext(session, true), CKR_FUNCTION_FAILED);
  EXPECT_FALSE(slot->IsTransactionOpen());

  Session orphan(42, CKF_SERIAL_SESSION);
  EXPECT_EQ(EstablishCardContext(orphan, true), CKR_SLOT_ID_INVALID);
}

}  // namespace
}  // namespace monitor_test
