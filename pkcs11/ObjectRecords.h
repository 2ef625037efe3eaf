#pragma once
// How the PKCS#11 layer reaches the objects of a session: the attribute
// source bound to the session's slot and application, and the object behind
// a handle.

#include "pkcs11/Session.h"
#include "pkcs11/cryptoki.h"
#include "token/AttributeSource.h"
#include "token/CIOObject.h"

namespace Brelt::MW::Pkcs11 {

// The application of the session's slot and the card reads of the getters,
// with the session's last-status word. Keeps the application alive while
// the source lives.
Token::AttributeSource MakeAttributeSource(Session& session);

// The object with that handle: a token object from the slot's application
// (CKR_TOKEN_NOT_PRESENT without the token, CKR_OBJECT_HANDLE_INVALID when
// absent), a session object from the session (CKR_FUNCTION_FAILED when
// absent). Handles above 0xFFFFFFFF name no object.
CK_RV GetObjectRecord(Session& session, CK_OBJECT_HANDLE handle, Token::CIOObject** object,
                      Token::CIOObjectType* type);

// Whether the session may see the object (looked up by handle when null).
CK_RV CheckPrivateObjectAccess(Session& session, const Token::AttributeSource& source, CK_OBJECT_HANDLE handle,
                               Token::CIOObject* object, bool* allowed);

}  // namespace Brelt::MW::Pkcs11
