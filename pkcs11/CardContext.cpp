#include "pkcs11/CardContext.h"

#include <optional>

#include "LogTrace.h"
#include "Logger.h"
#include "card/CardApplications.h"
#include "card/CardCommands.h"
#include "card/Slot.h"
#include "card/StatusCache.h"
#include "pkcs11/CardMutex.h"
#include "pkcs11/LibraryLifecycle.h"
#include "pkcs11/Session.h"

namespace Brelt::MW::Pkcs11 {
namespace {

using Card::StatusCache;

constexpr uint32_t kProfileSigZepEp = 2;
constexpr uint32_t kProfileQesEac = 4;

CK_RV BeginSessionTransaction(const Session& session) {
  const Card::SlotPtr slot = StatusCache::GetSlotWithoutProbe(session.SlotId());
  if (!slot) return CKR_DEVICE_REMOVED;
  // A transaction this process holds already (a search or a signature in
  // another session) nests at once: no turn to wait for.
  std::optional<CardMutexTurn> turn;
  if (!slot->IsTransactionOpen()) turn.emplace();
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
  if (!slot) return CKR_DEVICE_REMOVED;
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
  std::optional<uint32_t> profile;
  if (const CK_RV rv = Card::Applications()->GetCardProfile(session.SlotId(), profile); rv != CKR_OK || !profile)
    return rv;
  if (*profile == kProfileSigZepEp && lock) {
    if (!StatusCache::EstablishAuthContext(session)) return CKR_FUNCTION_FAILED;
  } else if (*profile == kProfileQesEac) {
    if (!StatusCache::EnsureSecureMessaging(&session)) return CKR_FUNCTION_FAILED;
    const Card::SlotPtr slot = StatusCache::GetSlotWithoutProbe(session.SlotId());
    if (!slot) return CKR_DEVICE_REMOVED;
    return Card::SelectMF(slot.get());
  }
  return CKR_OK;
}

}  // namespace

CardMutexTurn::CardMutexTurn() {
  // Without a usable mutex (logged when it was opened) the PC/SC
  // transaction alone orders the card.
  std::shared_ptr<CardMutex> mutex = LibraryCardMutex();
  if (!mutex || mutex->InTurn()) return;
  // A holder that does not give it back is waited for a while only.
  held_ = mutex->Take();
  mutex_ = std::move(mutex);
}

CardMutexTurn::~CardMutexTurn() {
  if (!mutex_) return;
  // The turn runs from the moment the transaction has begun.
  mutex_->StartTurn();
  if (held_) mutex_->Give();
}

CK_RV EstablishCardContext(Session& session, bool lock) {
  FunctionTrace trace("EstablishCardContext");
  if (lock) {
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
