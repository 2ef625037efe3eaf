#include "pkcs11/CardContext.h"

#include <sys/stat.h>

#include <optional>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/interprocess/exceptions.hpp>
#include <boost/interprocess/permissions.hpp>
#include <boost/interprocess/sync/named_mutex.hpp>

#include "LogTrace.h"
#include "Logger.h"
#include "card/CardApplications.h"
#include "card/CardCommands.h"
#include "card/Slot.h"
#include "card/StatusCache.h"
#include "pkcs11/Session.h"

namespace Brelt::MW::Pkcs11 {
namespace {

using Card::StatusCache;

constexpr uint32_t kProfileSigZepEp = 2;
constexpr uint32_t kProfileQesEac = 4;

// How long a call waits for another process that holds the named mutex
// before it goes on with the PC/SC transaction alone.
constexpr long kCardMutexWaitSeconds = 3;

// Boost keeps the named mutex as a POSIX semaphore in this file. The
// process umask narrows the permissions it is created with, so they are set
// again: every user of the machine who uses the card must be able to open it.
constexpr const char* kCardMutexFile = "/dev/shm/sem.eID_mutex";

CK_RV BeginSessionTransaction(const Session& session) {
  const Card::SlotPtr slot = StatusCache::GetSlotWithoutProbe(session.SlotId());
  if (!slot) return CKR_SLOT_ID_INVALID;
  const LONG rv = slot->BeginCardTransaction();
  if (rv != SCARD_S_SUCCESS) {
    LogMessage(LOG_LEVEL_ERROR, true, "PCSCBeginTransaction", __LINE__, true,
               "Cannot begin transaction with card, SCardBeginTransaction() result = %s",
               GetErrorText(static_cast<unsigned long>(rv)));
    return CKR_DEVICE_ERROR;
  }
  return CKR_OK;
}

CK_RV EndSessionTransaction(const Session& session) {
  const Card::SlotPtr slot = StatusCache::GetSlotWithoutProbe(session.SlotId());
  if (!slot) return CKR_SLOT_ID_INVALID;
  const LONG rv = slot->EndCardTransaction();
  if (rv != SCARD_S_SUCCESS) {
    LogMessage(LOG_LEVEL_ERROR, true, "PCSCEndTransaction", __LINE__, true,
               "Cannot end transaction with card, SCardEndTransaction() result = %s",
               GetErrorText(static_cast<unsigned long>(rv)));
    return CKR_DEVICE_ERROR;
  }
  return CKR_OK;
}

// The profile steps: the secure channel of the profiles that have one.
CK_RV EnsureSecureChannel(Session& session, bool lock) {
  std::optional<Card::ApplicationFacts> facts;
  if (const CK_RV rv = Card::Applications()->GetApplicationFacts(session.SlotId(), facts); rv != CKR_OK || !facts)
    return rv;
  if (facts->cardProfile == kProfileSigZepEp && lock) {
    if (!StatusCache::EstablishAuthContext(session)) return CKR_FUNCTION_FAILED;
  } else if (facts->cardProfile == kProfileQesEac) {
    if (!StatusCache::EnsureSecureMessaging(&session)) return CKR_FUNCTION_FAILED;
    const Card::SlotPtr slot = StatusCache::GetSlotWithoutProbe(session.SlotId());
    if (!slot) return CKR_SLOT_ID_INVALID;
    return Card::SelectMF(slot.get());
  }
  return CKR_OK;
}

}  // namespace

void RemoveCardMutex() { boost::interprocess::named_mutex::remove(kCardMutexName); }

void PassThroughCardMutex() {
  try {
    boost::interprocess::permissions everyone;
    everyone.set_unrestricted();
    boost::interprocess::named_mutex mutex(boost::interprocess::open_or_create, kCardMutexName, everyone);
    chmod(kCardMutexFile, 0666);  // fails harmlessly when another user created it
    const auto deadline = boost::posix_time::microsec_clock::universal_time() + boost::posix_time::seconds(kCardMutexWaitSeconds);
    if (mutex.timed_lock(deadline)) {
      mutex.unlock();
    } else {
      LogMessage(LOG_LEVEL_ERROR, true, "EstablishCardContext", __LINE__, true,
                 "Named mutex %s still held by another process, going on without it", kCardMutexName);
    }
  } catch (const boost::interprocess::interprocess_exception& e) {
    LogMessage(LOG_LEVEL_ERROR, true, "EstablishCardContext", __LINE__, true,
               "Cannot use named mutex %s, going on without it: %s", kCardMutexName, e.what());
  }
}

CK_RV EstablishCardContext(Session& session, bool lock) {
  FunctionTrace trace("EstablishCardContext");
  if (lock) {
    PassThroughCardMutex();
    if (const CK_RV rv = BeginSessionTransaction(session); rv != CKR_OK) {
      LOG_FAILED("EstablishCardContext", rv);
      return trace.Result(rv);
    }
  }
  CK_RV rv = CKR_FUNCTION_FAILED;
  try {
    rv = EnsureSecureChannel(session, lock);
  } catch (...) {
    if (lock) EndSessionTransaction(session);
    throw;
  }
  if (rv != CKR_OK) {
    LOG_FAILED("EstablishCardContext", rv);
    // The caller does not release a context that failed to open; a
    // transaction left open would lock every other process out of the card.
    if (lock) EndSessionTransaction(session);
  }
  return trace.Result(rv);
}

CK_RV ReleaseCardContext(Session& session, bool lock) {
  FunctionTrace trace("ReleaseCardContext");
  if (!lock) return trace.Result(CKR_OK);
  CK_RV rv = CKR_FUNCTION_FAILED;
  try {
    rv = EndSessionTransaction(session);
  } catch (...) {
    rv = CKR_FUNCTION_FAILED;
  }
  if (rv != CKR_OK) LOG_FAILED("ReleaseCardContext", rv);
  return trace.Result(rv);
}

}  // namespace Brelt::MW::Pkcs11
