#pragma once
// The object search of a session (C_FindObjectsInit, C_FindObjects,
// C_FindObjectsFinal) and the check whether a session may see an object.
//
// Template values match only when their lengths and bytes are equal. The
// search resumes after the last object it examined; since numbers within a
// list only grow, objects added or removed between calls never make it skip
// or repeat one.

#include <functional>

#include "pkcs11/cryptoki.h"
#include "token/AttributeSource.h"
#include "token/CIOObject.h"
#include "token/FindContext.h"

namespace Brelt::MW::Token {

// What one search call sees: the session's objects and state and the token.
struct SearchScope {
    const AttributeSource* source = nullptr;
    CIOObjectLists* sessionObjects = nullptr;
    CK_STATE sessionState = CKS_RO_PUBLIC_SESSION;
    // The module's own searches see keys without the execute right too.
    bool internal = false;
};

// Whether a session in `state` may see the object: always in a user state,
// else only when its CKA_PRIVATE answers false.
CK_RV CheckPrivateObjectAccess(const AttributeSource& source, CK_STATE state, CK_OBJECT_HANDLE handle,
                               CIOObject* object, bool* allowed);

// Starts a search (ending one under way). CKR_ARGUMENTS_BAD for a null
// template with entries; CKR_ATTRIBUTE_VALUE_INVALID for a value pointer that
// is null with a non-zero length and for a CKA_CLASS that is not one CK_ULONG.
CK_RV FindObjectsInit(FindContext& context, const CK_ATTRIBUTE* attributes, CK_ULONG count);

// Up to `maximum` further matches. CKR_OPERATION_NOT_INITIALIZED without a
// search; CKR_FUNCTION_FAILED without the token's application; a card or
// token lost while reading an attribute ends the call with CKR_GENERAL_ERROR
// (the handles found so far stay counted).
CK_RV FindObjects(FindContext& context, const SearchScope& scope, CK_OBJECT_HANDLE* handles, CK_ULONG maximum,
                  CK_ULONG* found);

CK_RV FindObjectsFinal(FindContext& context);
void ResetFindContext(FindContext& context);

// The extra filters of the profile with chip authentication.
CK_RV IsCertObjValid(const AttributeSource& source, CIOObject* object, bool* valid);
CK_RV IsPrivKeyValid(const AttributeSource& source, const MW::Base::HexBinary* keyId, bool* valid);

}  // namespace Brelt::MW::Token
