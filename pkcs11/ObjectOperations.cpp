// The object calls and the object search of a session: C_CreateObject,
// C_DestroyObject, C_GetAttributeValue, C_SetAttributeValue and
// C_FindObjectsInit / C_FindObjects / C_FindObjectsFinal.
//
// Object search holds the card's PC/SC transaction from C_FindObjectsInit to
// the first C_FindObjects. The session records that it holds it, so the
// transaction is ended exactly once: by that C_FindObjects, by
// C_FindObjectsFinal when no C_FindObjects came, by a new C_FindObjectsInit,
// or when the session closes.

#include <cstring>

#include "LogTrace.h"
#include "pkcs11/CardContext.h"
#include "pkcs11/InternalOperations.h"
#include "pkcs11/ObjectRecords.h"
#include "pkcs11/Session.h"
#include "pkcs11/SessionOperations.h"
#include "token/ApplicationInfoList.h"
#include "token/AttributeGetters.h"
#include "token/AttributeTemplate.h"
#include "token/ObjectHandles.h"
#include "token/ObjectSearch.h"
#include "token/SessionKeys.h"
#include "token/TokenInfo.h"

namespace Brelt::MW::Pkcs11 {

using namespace Brelt::MW::Token;

namespace {

bool IsUserState(CK_STATE state)
{
    return state == CKS_RO_USER_FUNCTIONS || state == CKS_RW_USER_FUNCTIONS || state == CKS_RW_SO_FUNCTIONS;
}

// A card context opened with the lock for the length of one call.
class CardContextScope {
public:
    explicit CardContextScope(Session& session) : session_(session) {}
    ~CardContextScope()
    {
        if (open_) ReleaseCardContext(session_, true);
    }
    CardContextScope(const CardContextScope&) = delete;
    CardContextScope& operator=(const CardContextScope&) = delete;

    CK_RV Open()
    {
        const CK_RV rv = EstablishCardContext(session_, true);
        open_ = rv == CKR_OK;
        return rv;
    }

private:
    Session& session_;
    bool open_ = false;
};

// Runs `body` inside the session's card context.
template <typename Body>
CK_RV InCardContext(CK_SESSION_HANDLE hSession, Body&& body)
{
    SessionPtr session;
    if (CK_RV rv = GetSessionByHandle(hSession, session); rv != CKR_OK) return rv;
    CardContextScope context(*session);
    if (CK_RV rv = context.Open(); rv != CKR_OK) return rv;
    return body(*session);
}

// Ends the search's transaction when the session still holds it.
void ReleaseFindTransaction(Session& session)
{
    if (session.TakeHeldTransaction(HeldTransaction::Find)) ReleaseCardContext(session, true);
}

CK_RV CreateObjectIn(Session& session, const CK_ATTRIBUTE* tmpl, CK_ULONG count, CK_OBJECT_HANDLE* phObject)
{
    FunctionTrace trace("CreateObject");
    auto fail = [&](CK_RV rv) {
        LOG_FAILED("CreateObject", rv);
        return trace.Result(rv);
    };
    *phObject = 0;
    if (CK_RV rv = Template_CheckValues(tmpl, count); rv != CKR_OK) return fail(rv);

    RsaPublicKeyData record;
    bool present = false;
    CK_BBOOL flag = CK_FALSE;
    if (CK_RV rv = Template_GetBool(tmpl, count, CKA_PRIVATE, &flag, &present); rv != CKR_OK) return fail(rv);
    if (present) record.isPrivate = flag;
    if (present && flag != CK_FALSE && !IsUserState(session.State())) return fail(CKR_USER_NOT_LOGGED_IN);
    bool tokenPresent = false;
    if (CK_RV rv = Template_GetBool(tmpl, count, CKA_TOKEN, &flag, &tokenPresent); rv != CKR_OK) return fail(rv);
    if (tokenPresent && flag != CK_FALSE && !session.IsReadWrite()) return fail(CKR_SESSION_READ_ONLY);

    CK_ULONG objectClass = 0;
    if (CK_RV rv = Template_GetUlong(tmpl, count, CKA_CLASS, &objectClass, &present); rv != CKR_OK) return fail(rv);
    if (!present) {
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, "Missing attribute %s", "CKA_CLASS");
        return fail(CKR_TEMPLATE_INCOMPLETE);
    }
    if (objectClass != CKO_PUBLIC_KEY) {
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true,
                   "Creation of the specified CKA_CLASS object (%08lX) is not supported", objectClass);
        return fail(CKR_ATTRIBUTE_VALUE_INVALID);
    }
    CK_ULONG keyType = 0;
    if (CK_RV rv = Template_GetUlong(tmpl, count, CKA_KEY_TYPE, &keyType, &present); rv != CKR_OK) return fail(rv);
    if (!present) return fail(CKR_TEMPLATE_INCOMPLETE);
    if (keyType != CKK_RSA) return fail(CKR_ATTRIBUTE_VALUE_INVALID);
    // Keys made by an application live in its session, never on the card.
    if (tokenPresent && flag != CK_FALSE) return fail(CKR_ATTRIBUTE_VALUE_INVALID);

    const void* value = nullptr;
    CK_ULONG length = 0;
    if (CK_RV rv = Template_GetAttrValue(tmpl, count, CKA_PUBLIC_EXPONENT, true, &length, &value); rv != CKR_OK)
        return fail(rv);
    if (length == 0 || length > 0xFFFF) return fail(CKR_ATTRIBUTE_VALUE_INVALID);
    record.publicExponent =
        std::make_unique<MW::Base::HexBinary>(static_cast<const unsigned char*>(value), static_cast<int32_t>(length), true);
    length = 0;
    if (CK_RV rv = Template_GetAttrValue(tmpl, count, CKA_MODULUS, true, &length, &value); rv != CKR_OK)
        return fail(rv);
    if (length == 0 || length > 0xFFFF) return fail(CKR_ATTRIBUTE_VALUE_INVALID);
    record.modulus =
        std::make_unique<MW::Base::HexBinary>(static_cast<const unsigned char*>(value), static_cast<int32_t>(length), true);
    CK_ULONG modulusBits = 0;
    if (CK_RV rv = Template_GetUlong(tmpl, count, CKA_MODULUS_BITS, &modulusBits, &present); rv != CKR_OK)
        return fail(rv);
    record.modulusBits = static_cast<uint16_t>(present ? modulusBits : length * 8);

    length = 0;
    if (Template_GetAttrValue(tmpl, count, CKA_LABEL, false, &length, &value) == CKR_OK && length > 0) {
        if (length > 0xFFFF) return fail(CKR_ATTRIBUTE_VALUE_INVALID);
        record.label = std::make_unique<MW::Base::HexBinary>(static_cast<const unsigned char*>(value),
                                                             static_cast<int32_t>(length), true);
    }
    length = 0;
    if (Template_GetAttrValue(tmpl, count, CKA_ID, false, &length, &value) == CKR_OK && length > 0) {
        if (length > 0xFFFF) return fail(CKR_ATTRIBUTE_VALUE_INVALID);
        if (CK_RV rv = CheckReservedId(static_cast<const uint8_t*>(value), length); rv != CKR_OK) return fail(rv);
        record.iD = std::make_unique<MW::Base::HexBinary>(static_cast<const unsigned char*>(value),
                                                          static_cast<int32_t>(length), true);
    }
    if (CK_RV rv = Template_GetBool(tmpl, count, CKA_MODIFIABLE, &flag, &present); rv != CKR_OK) return fail(rv);
    record.modifiable = present ? flag : CK_TRUE;

    // The template checks of public keys; the further checks of generated
    // key pairs belong to key generation, which no call offers.
    if (CK_RV rv = ValidatePublicKeyType(tmpl, count, record); rv != CKR_OK) return fail(rv);
    if (CK_RV rv = ValidateKeyMechanisms(tmpl, count, record); rv != CKR_OK) return fail(rv);

    ApplicationInfoPtr application;
    if (CK_RV rv = GetApplicationInfo(static_cast<uint32_t>(session.SlotId()), application); rv != CKR_OK)
        return fail(rv);
    if (!application) return fail(CKR_FUNCTION_FAILED);
    if (CK_RV rv = CreateSessionPubKey(*application, session.objectLists, record); rv != CKR_OK) return fail(rv);
    *phObject = record.handle;
    return trace.Result(CKR_OK);
}

CK_RV GetAttributeValueIn(Session& session, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE* tmpl, CK_ULONG count)
{
    FunctionTrace trace("GetAttributeValue");
    auto fail = [&](CK_RV rv) {
        LOG_FAILED("GetAttributeValue", rv);
        return trace.Result(rv);
    };
    if (count > 0x10000) return fail(CKR_ARGUMENTS_BAD);
    CIOObject* object = nullptr;
    CIOObjectType type = 0;
    if (GetObjectRecord(session, hObject, &object, &type) != CKR_OK || object == nullptr) {
        return fail(CKR_OBJECT_HANDLE_INVALID);
    }
    const AttributeGetter getter = GetAttributeGetter(type);
    if (getter == nullptr) return fail(CKR_OBJECT_HANDLE_INVALID);
    if (!IsSessionHandle(hObject) && !IsTokenPresent(session.SlotId())) {
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, "Token not present in slot %lu", session.SlotId());
        return fail(CKR_FUNCTION_FAILED);
    }
    const AttributeSource source = MakeAttributeSource(session);
    bool allowed = false;
    if (CheckPrivateObjectAccess(session, source, hObject, object, &allowed) != CKR_OK || !allowed) {
        return fail(CKR_OBJECT_HANDLE_INVALID);
    }

    CK_RV result = CKR_OK;
    for (CK_ULONG i = 0; i < count; ++i) {
        CK_RV rv = getter(source, hObject, object, tmpl[i].type, tmpl[i].pValue, &tmpl[i].ulValueLen);
        if (rv == CKR_OK && tmpl[i].ulValueLen == CK_UNAVAILABLE_INFORMATION) {
            rv = UnavailableAttributeResult(tmpl[i].type);
        }
        if (rv == CKR_OK) continue;
        if (rv == CKR_ATTRIBUTE_SENSITIVE || rv == CKR_ATTRIBUTE_TYPE_INVALID || rv == CKR_BUFFER_TOO_SMALL) {
            result = rv;
            continue;
        }
        return fail(CKR_FUNCTION_FAILED);
    }
    if (result != CKR_OK) LOG_FAILED("GetAttributeValue", result);
    return trace.Result(result);
}

CK_RV SetAttributeValueIn(Session& session, CK_OBJECT_HANDLE hObject, const CK_ATTRIBUTE* tmpl, CK_ULONG count)
{
    FunctionTrace trace("SetAttributeValue");
    auto fail = [&](CK_RV rv) {
        LOG_FAILED("SetAttributeValue", rv);
        return trace.Result(rv);
    };
    if (CK_RV rv = Template_CheckValues(tmpl, count); rv != CKR_OK) return fail(rv);
    const bool tokenObject = !IsSessionHandle(hObject);
    if (tokenObject && !session.IsReadWrite()) {
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, "Only session object can be modified in R/O session");
        return fail(CKR_SESSION_READ_ONLY);
    }
    CIOObject* object = nullptr;
    CIOObjectType type = 0;
    if (GetObjectRecord(session, hObject, &object, &type) != CKR_OK || object == nullptr) {
        return fail(CKR_OBJECT_HANDLE_INVALID);
    }
    const AttributeSetter setter = GetAttributeSetter(type);
    if (setter == nullptr) return fail(CKR_OBJECT_HANDLE_INVALID);
    if (tokenObject) {
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, "Only session objects can be modified!");
        return fail(CKR_ATTRIBUTE_READ_ONLY);
    }
    const AttributeSource source = MakeAttributeSource(session);
    bool allowed = false;
    if (CheckPrivateObjectAccess(session, source, hObject, object, &allowed) != CKR_OK || !allowed) {
        return fail(CKR_USER_NOT_LOGGED_IN);
    }
    for (CK_ULONG i = 0; i < count; ++i) {
        if (CK_RV rv = setter(object, tmpl[i].type, tmpl[i].pValue, tmpl[i].ulValueLen, false); rv != CKR_OK)
            return fail(rv);
    }
    return trace.Result(CKR_OK);
}

CK_RV DestroyObjectIn(Session& session, CK_OBJECT_HANDLE hObject)
{
    FunctionTrace trace("DestroyObject");
    auto fail = [&](CK_RV rv) {
        LOG_FAILED("DestroyObject", rv);
        return trace.Result(rv);
    };
    const bool tokenObject = !IsSessionHandle(hObject);
    if (tokenObject && !session.IsReadWrite()) {
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true,
                   "Only session objects can be destroyed during a read-only session!");
        return fail(CKR_SESSION_READ_ONLY);
    }
    if (hObject == 0) return fail(CKR_OBJECT_HANDLE_INVALID);
    if (tokenObject) {
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, "Only session object can be destroyed!");
        return fail(CKR_OBJECT_HANDLE_INVALID);
    }
    CIOObject* object = nullptr;
    if (GetObjectRecord(session, hObject, &object, nullptr) != CKR_OK || object == nullptr) {
        return fail(CKR_OBJECT_HANDLE_INVALID);
    }
    const AttributeSource source = MakeAttributeSource(session);
    bool allowed = false;
    if (CheckPrivateObjectAccess(session, source, hObject, object, &allowed) != CKR_OK || !allowed) {
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true,
                   "Only public objects can be destroyed unless the normal user is logged in!");
        return fail(CKR_OBJECT_HANDLE_INVALID);
    }
    if (CK_RV rv = DeleteObjectInfo(&session.objectLists, hObject); rv != CKR_OK) return fail(rv);
    return trace.Result(CKR_OK);
}

}  // namespace

CK_RV CreateObject(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount,
                   CK_OBJECT_HANDLE_PTR phObject)
{
    *phObject = 0;
    return InCardContext(hSession, [&](Session& session) { return CreateObjectIn(session, pTemplate, ulCount, phObject); });
}

CK_RV DestroyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject)
{
    return InCardContext(hSession, [&](Session& session) { return DestroyObjectIn(session, hObject); });
}

CK_RV GetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,
                        CK_ULONG ulCount)
{
    return InCardContext(hSession,
                         [&](Session& session) { return GetAttributeValueIn(session, hObject, pTemplate, ulCount); });
}

CK_RV SetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,
                        CK_ULONG ulCount)
{
    return InCardContext(hSession,
                         [&](Session& session) { return SetAttributeValueIn(session, hObject, pTemplate, ulCount); });
}

CK_RV FindObjectsInit(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount)
{
    SessionPtr session;
    if (CK_RV rv = GetSessionByHandle(hSession, session); rv != CKR_OK) return rv;
    // A search under way ends here, with the transaction it holds.
    ReleaseFindTransaction(*session);
    ResetFindContext(session->findContext);
    if (CK_RV rv = EstablishCardContext(*session, true); rv != CKR_OK) return rv;
    CK_RV rv = CKR_FUNCTION_FAILED;
    try {
        rv = Token::FindObjectsInit(session->findContext, pTemplate, ulCount);
    } catch (...) {
        ResetFindContext(session->findContext);
        ReleaseCardContext(*session, true);
        throw;
    }
    if (rv != CKR_OK) {
        ResetFindContext(session->findContext);
        ReleaseCardContext(*session, true);
        return rv;
    }
    session->NoteTransactionHeld(HeldTransaction::Find);
    return CKR_OK;
}

CK_RV FindObjects(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE_PTR phObject, CK_ULONG ulMaxObjectCount,
                  CK_ULONG_PTR pulObjectCount)
{
    SessionPtr session;
    if (CK_RV rv = GetSessionByHandle(hSession, session); rv != CKR_OK) return rv;
    *pulObjectCount = 0;
    CK_RV rv = CKR_FUNCTION_FAILED;
    try {
        const AttributeSource source = MakeAttributeSource(*session);
        SearchScope scope;
        scope.source = &source;
        scope.sessionObjects = &session->objectLists;
        scope.sessionState = session->State();
        rv = Token::FindObjects(session->findContext, scope, phObject, ulMaxObjectCount, pulObjectCount);
    } catch (...) {
        ReleaseFindTransaction(*session);
        throw;
    }
    // The first C_FindObjects ends the search's transaction, whatever its result.
    ReleaseFindTransaction(*session);
    return rv;
}

CK_RV FindObjectsFinal(CK_SESSION_HANDLE hSession)
{
    SessionPtr session;
    if (CK_RV rv = GetSessionByHandle(hSession, session); rv != CKR_OK) return rv;
    ReleaseFindTransaction(*session);
    return Token::FindObjectsFinal(session->findContext);
}

}  // namespace Brelt::MW::Pkcs11
