#pragma once
// The session operations behind C_OpenSession, C_CloseSession,
// C_CloseAllSessions and C_GetSessionInfo, the session counts of the token
// information, and the lookups of the sessions of one card.

#include <memory>
#include <vector>

#include "pkcs11/cryptoki.h"

namespace Brelt::MW::Card {
class Slot;
}
namespace Brelt::MW::Token {
class CIOObject;
}

namespace Brelt::MW::Pkcs11 {

class Session;
using SessionPtr = std::shared_ptr<Session>;

// Opens a session on the slot's token. The handle reaches `*phSession` only
// on success; on any failure `*phSession` is 0 and no session stays behind.
CK_RV OpenSession(const Card::Slot& slot, CK_SESSION_HANDLE_PTR phSession, CK_FLAGS flags);

// Creates and registers a session. Its state follows the login of the other
// sessions on the same card.
CK_RV AddSession(CK_SLOT_ID slotId, CK_FLAGS flags, CK_SESSION_HANDLE_PTR phSession);

// Unregisters the session and ends the card transactions its operations
// still hold. The object goes when the last call using it returns.
CK_RV CloseSession(Session& session);

// The registered session with that handle; CKR_SESSION_HANDLE_INVALID when
// there is none or when its token has gone.
CK_RV GetSessionByHandle(CK_SESSION_HANDLE hSession, SessionPtr& session);

CK_RV GetSessionInfo(const Session& session, CK_SESSION_INFO_PTR pInfo);

// Counting modes of GetNumOfSessions.
enum class SessionCount { All = 0, ReadWrite = 1, SecurityOfficer = 2 };
CK_ULONG GetNumOfSessions(CK_SLOT_ID slotId, SessionCount mode);

// The registered, valid sessions on the same card as `session` (itself
// included when registered).
CK_RV GetAllTokenSessions(const Session& session, std::vector<SessionPtr>& sessions);

// The session object with that handle, or null.
Token::CIOObject* GetSessionObject(Session& session, CK_OBJECT_HANDLE handle);

// The first registered session of that slot and state (and, unless
// `ownerProcessId` is 0, of that owner process).
SessionPtr FindSessionOfType(CK_SLOT_ID slotId, CK_STATE state, uint32_t ownerProcessId);

}  // namespace Brelt::MW::Pkcs11
