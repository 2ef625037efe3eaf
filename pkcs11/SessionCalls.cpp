// The internal operations of the session exports, by slot id and session
// handle. Each looks its slot or session up once and keeps the record alive
// until it returns.

#include "LogTrace.h"
#include "card/Slot.h"
#include "card/StatusCache.h"
#include "pkcs11/InternalOperations.h"
#include "pkcs11/Session.h"
#include "pkcs11/SessionOperations.h"

namespace Brelt::MW::Pkcs11 {

using Card::StatusCache;

CK_RV FindSlot(CK_SLOT_ID slotID, const char* exportName, int line) {
  if (StatusCache::GetSlot(slotID)) return CKR_OK;
  LogMessage(LOG_LEVEL_ERROR, true, exportName, line, true, "Invalid slot id: %lu", slotID);
  return CKR_SLOT_ID_INVALID;
}

CK_RV FindSession(CK_SESSION_HANDLE hSession) {
  SessionPtr session;
  return GetSessionByHandle(hSession, session);
}

CK_RV OpenSession(CK_SLOT_ID slotID, CK_FLAGS flags, CK_SESSION_HANDLE_PTR phSession) {
  // The frame has just probed the card (FindSlot).
  Card::SlotPtr slot = StatusCache::GetSlotWithoutProbe(slotID);
  if (!slot) return CKR_SLOT_ID_INVALID;
  // Opening runs inside a card transaction; only a transaction that this
  // call began is ended, never one that another operation holds.
  const bool began = slot->BeginCardTransaction() == SCARD_S_SUCCESS;
  const CK_RV rv = OpenSession(*slot, phSession, flags);
  if (began) slot->EndCardTransaction();
  return rv;
}

CK_RV CloseSession(CK_SESSION_HANDLE hSession) {
  // A session whose token has gone can still be closed.
  SessionPtr session = StatusCache::GetSession(hSession);
  if (!session) return CKR_SESSION_HANDLE_INVALID;
  return CloseSession(*session);
}

CK_RV CloseAllSessions(CK_SLOT_ID slotID) {
  FunctionTrace trace("CloseAllSessions");
  // Slot id 0 (no slot has it) stands for every session of the process.
  const auto sessions = slotID == 0 ? StatusCache::GetAllSessions() : StatusCache::GetSessions(slotID);
  for (const auto& session : sessions) CloseSession(*session);
  return CKR_OK;
}

CK_RV GetSessionInfo(CK_SESSION_HANDLE hSession, CK_SESSION_INFO_PTR pInfo) {
  SessionPtr session;
  if (CK_RV rv = GetSessionByHandle(hSession, session); rv != CKR_OK) return rv;
  return GetSessionInfo(*session, pInfo);
}

}  // namespace Brelt::MW::Pkcs11
