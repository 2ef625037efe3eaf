#pragma once
// The key behind a handle given to a cryptographic operation: a token key of
// the session's application or a session key, with what the attribute
// getters need to answer for it.

#include "pkcs11/Session.h"
#include "pkcs11/cryptoki.h"
#include "token/AttributeSource.h"
#include "token/CIOObject.h"

namespace Brelt::MW::Pkcs11 {

struct KeyRecord {
    // Keeps the application (and so a token key) alive while in use.
    Token::AttributeSource source;
    Token::CIOObject* object = nullptr;
    Token::CIOObjectType type = 0;
};

// CKR_OBJECT_HANDLE_INVALID when the handle names no object of the session
// or its token (CKR_TOKEN_NOT_PRESENT without the token).
CK_RV FindKeyRecord(Session& session, CK_OBJECT_HANDLE handle, KeyRecord& record);

// Whether the session may use the key: every key in a user session, only
// keys that are not private in a public one.
CK_RV CheckKeyAccess(Session& session, KeyRecord& record, CK_OBJECT_HANDLE handle, bool* allowed);

// Reads the key's attributes into the template (values and lengths, as
// C_GetAttributeValue does); the first failure is answered.
CK_RV ReadKeyAttributes(KeyRecord& record, CK_OBJECT_HANDLE handle, CK_ATTRIBUTE* attributes, CK_ULONG count);

// The user states, in which a session may use private keys.
bool IsUserState(CK_STATE state);

}  // namespace Brelt::MW::Pkcs11
