#include "pkcs11/SessionOperations.h"

#include <new>
#include <optional>

#include "card/RegistryTrace.h"
#include "card/Slot.h"
#include "card/StatusCache.h"
#include "card/CardApplications.h"
#include "card/CardCommands.h"
#include "card/Token.h"
#include "pkcs11/Session.h"
#include "pkcs11/TransactionKeepAlive.h"
#include "token/ObjectHandles.h"

namespace Brelt::MW::Pkcs11 {

using Card::StatusCache;

namespace {

bool IsLoggedInState(CK_STATE state) {
  return state == CKS_RO_USER_FUNCTIONS || state == CKS_RW_USER_FUNCTIONS || state == CKS_RW_SO_FUNCTIONS;
}

// Starts the keep-alive thread of the slot's card, where the resource
// manager ends idle transactions.
CK_RV StartKeepAliveIfNeeded(const Card::Slot& slot) {
  if (!IsTransactionKeepAliveNeeded()) return CKR_OK;
  const uint32_t tokenId = StatusCache::GetOrCreateToken(slot.CardHandle());
  Card::TokenPtr token = StatusCache::GetToken(tokenId);
  if (!token) return CKR_FUNCTION_FAILED;
  return token->StartKeepConThread();
}

// The profile steps of a new session: chip-authentication cards get their
// secure messaging and the master file selected.
CK_RV PrepareApplication(const Card::Slot& slot, CK_SESSION_HANDLE handle) {
  constexpr uint32_t kQesEacProfile = 4;
  std::optional<uint32_t> profile;
  if (CK_RV rv = Card::Applications()->GetCardProfile(slot.SlotId(), profile); rv != CKR_OK) return rv;
  if (!profile || *profile != kQesEacProfile) return CKR_OK;
  SessionPtr session = StatusCache::GetSession(handle);
  if (!session || !StatusCache::EnsureSecureMessaging(session.get())) return CKR_FUNCTION_FAILED;
  return Card::SelectMF(&slot);
}

}  // namespace

CK_RV OpenSession(const Card::Slot& slot, CK_SESSION_HANDLE_PTR phSession, CK_FLAGS flags) {
  static constexpr const char* kName = "OpenSession";
  TraceEntering(kName);
  CK_RV rv = CKR_OK;
  CK_SESSION_HANDLE handle = 0;
  if (phSession == nullptr) {
    rv = CKR_ARGUMENTS_BAD;
  } else {
    *phSession = 0;
    if (!slot.IsTokenPresent()) {
      LogMessage(LOG_LEVEL_ERROR, true, kName, __LINE__, true, "Token not present in slot %lu", slot.SlotId());
      rv = CKR_TOKEN_NOT_PRESENT;
    } else {
      rv = AddSession(slot.SlotId(), flags, &handle);
      if (rv == CKR_OK) rv = StartKeepAliveIfNeeded(slot);
      if (rv == CKR_OK) rv = PrepareApplication(slot, handle);
      // A session that could not be completed is closed again: it must not
      // count, follow the login or hold memory without a handle.
      if (rv != CKR_OK && handle != 0) {
        if (SessionPtr session = StatusCache::GetSession(handle)) CloseSession(*session);
      } else if (rv == CKR_OK) {
        *phSession = handle;
      }
    }
  }
  TraceLeaving(kName, rv);
  return rv;
}

CK_RV AddSession(CK_SLOT_ID slotId, CK_FLAGS flags, CK_SESSION_HANDLE_PTR phSession) {
  static constexpr const char* kName = "AddSession";
  TraceEntering(kName);
  CK_RV rv = CKR_OK;
  SessionPtr session;
  try {
    session = std::make_shared<Session>(slotId, flags);
  } catch (const std::bad_alloc&) {
    rv = CKR_HOST_MEMORY;
  }
  if (rv == CKR_OK) {
    // The state is decided under the registry lock, so that a login of the
    // card's other sessions cannot pass the new one by.
    const CK_SESSION_HANDLE handle = StatusCache::AddNewSession(session, [&rv](Session& added) {
      std::vector<SessionPtr> cardSessions;
      rv = GetAllTokenSessions(added, cardSessions);
      if (rv != CKR_OK) return false;
      for (const auto& other : cardSessions) {
        if (!IsLoggedInState(other->State())) continue;
        const bool readOnly = added.State() == CKS_RO_PUBLIC_SESSION || added.State() == CKS_RO_USER_FUNCTIONS;
        added.SetState(readOnly ? CKS_RO_USER_FUNCTIONS : CKS_RW_USER_FUNCTIONS);
        break;
      }
      return true;
    });
    if (rv == CKR_OK && handle == 0) rv = CKR_FUNCTION_FAILED;  // no registry
    if (rv == CKR_OK && phSession != nullptr) *phSession = handle;
  }
  TraceLeaving(kName, rv);
  return rv;
}

CK_RV CloseSession(Session& session) {
  static constexpr const char* kName = "CloseSession";
  TraceEntering(kName);
  CK_RV rv = CKR_OK;
  if (!StatusCache::RemoveSession(session)) {
    LogMessage(LOG_LEVEL_ERROR, true, kName, __LINE__, true, "Invalid session handle: %08lx", session.Handle());
    rv = CKR_SESSION_HANDLE_INVALID;
  }
  // The transactions its operations still hold are ended when the last call
  // using the session lets it go (Session::~Session).
  TraceLeaving(kName, rv);
  return rv;
}

CK_RV GetSessionByHandle(CK_SESSION_HANDLE hSession, SessionPtr& session) {
  session = StatusCache::GetSession(hSession);
  // A session whose token went (card removed or replaced, reader unplugged)
  // is closed for the application, though its record stays until the purge.
  if (session && !session->IsValid()) session.reset();
  return session ? CKR_OK : CKR_SESSION_HANDLE_INVALID;
}

CK_RV GetSessionInfo(const Session& session, CK_SESSION_INFO_PTR pInfo) {
  static constexpr const char* kName = "GetSessionInfo";
  TraceEntering(kName);
  CK_RV rv = CKR_OK;
  if (pInfo == nullptr)
    rv = CKR_ARGUMENTS_BAD;
  else
    *pInfo = session.Info();
  TraceLeaving(kName, rv);
  return rv;
}

CK_ULONG GetNumOfSessions(CK_SLOT_ID slotId, SessionCount mode) {
  CK_ULONG count = 0;
  for (const auto& session : StatusCache::GetSessions(slotId)) {
    if (!session->IsValid()) continue;
    const CK_STATE state = session->State();
    switch (mode) {
      case SessionCount::All:
        ++count;
        break;
      case SessionCount::ReadWrite:
        if (state == CKS_RW_PUBLIC_SESSION || state == CKS_RW_USER_FUNCTIONS || state == CKS_RW_SO_FUNCTIONS) ++count;
        break;
      case SessionCount::SecurityOfficer:
        if (state == CKS_RW_SO_FUNCTIONS) ++count;
        break;
    }
  }
  return count;
}

CK_RV GetAllTokenSessions(const Session& session, std::vector<SessionPtr>& sessions) {
  static constexpr const char* kName = "GetAllTokenSessions";
  TraceEntering(kName);
  CK_RV rv = CKR_OK;
  // Only the card handle is needed: no probe of the card.
  Card::SlotPtr slot = StatusCache::GetSlotWithoutProbe(session.SlotId());
  if (!slot) {
    rv = CKR_FUNCTION_FAILED;
  } else {
    StatusCache::ForEachSessionOfCard(slot->CardHandle(),
                                      [&sessions](const SessionPtr& other) { sessions.push_back(other); });
  }
  TraceLeaving(kName, rv);
  return rv;
}

Token::CIOObject* GetSessionObject(Session& session, CK_OBJECT_HANDLE handle) {
  Token::CIOObject* object = nullptr;
  Token::CIOObjectType type{};
  if (Token::FindObjectByHandle(&session.objectLists, &object, &type, handle) != CKR_OK) return nullptr;
  return object;
}

SessionPtr FindSessionOfType(CK_SLOT_ID slotId, CK_STATE state, uint32_t ownerProcessId) {
  static constexpr const char* kName = "FindSessionOfType";
  FunctionTrace trace(kName);
  for (const auto& session : StatusCache::GetSessions(slotId)) {
    LogMessage(LOG_LEVEL_DEBUG, true, kName, __LINE__, true, "session->info.slotID=%lu", session->SlotId());
    LogMessage(LOG_LEVEL_DEBUG, true, kName, __LINE__, true, "slotID=%lu", slotId);
    LogMessage(LOG_LEVEL_DEBUG, true, kName, __LINE__, true, "session->info.state=%lu", session->State());
    LogMessage(LOG_LEVEL_DEBUG, true, kName, __LINE__, true, "type=%lu", state);
    if (session->State() == state && (ownerProcessId == 0 || session->OwnerProcessId() == ownerProcessId))
      return session;
  }
  return nullptr;
}

}  // namespace Brelt::MW::Pkcs11
