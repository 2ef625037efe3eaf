#include "pkcs11/KeyRecords.h"

#include "LogTrace.h"
#include "pkcs11/SessionOperations.h"
#include "token/ApplicationInfoList.h"
#include "token/AttributeGetters.h"
#include "token/CardObjects.h"

namespace Brelt::MW::Pkcs11 {

using namespace Brelt::MW::Token;

namespace {

// The parts of the application the key attributes are computed from; the
// attributes of signing and deciphering keys need no card read.
void FillSource(const ApplicationInfoPtr& application, AttributeSource& source)
{
    if (!application) return;
    source.hasApplication = true;
    source.cardProfile = application->Profile;
    source.cardOS = application->CardOS;
    if (application->Aid && application->Aid->length > 0)
        source.applicationAid.assign(application->Aid->data, application->Aid->data + application->Aid->length);
    if (application->CiaInfo) {
        for (const AlgorithmInfo& entry : application->CiaInfo->algorithms) {
            const MW::Base::HexBinary* algorithm = entry.algorithm.get();
            source.algorithms.push_back(
                algorithm != nullptr && algorithm->length > 0
                    ? GetMechanismFromAlgorithmInfo(algorithm->data, static_cast<size_t>(algorithm->length))
                    : 0xFFFFFFFFUL);
        }
    }
    source.tokenObjects = &application->ObjectLists;
    source.keepAlive = application;
}

}  // namespace

bool IsUserState(CK_STATE state)
{
    return state == CKS_RO_USER_FUNCTIONS || state == CKS_RW_USER_FUNCTIONS || state == CKS_RW_SO_FUNCTIONS;
}

CK_RV FindKeyRecord(Session& session, CK_OBJECT_HANDLE handle, KeyRecord& record)
{
    record = KeyRecord{};
    if (handle > 0xFFFFFFFFUL) return CKR_OBJECT_HANDLE_INVALID;
    record.source.applicationResult = GetApplicationInfo(static_cast<uint32_t>(session.SlotId()), record.application);
    if (record.source.applicationResult == CKR_OK) FillSource(record.application, record.source);

    if (IsSessionHandle(handle)) {
        record.object = GetSessionObject(session, handle);
        if (record.object == nullptr) return CKR_OBJECT_HANDLE_INVALID;
        record.type = record.object->type;
        return CKR_OK;
    }
    return GetTokenObjectRecord(session.SlotId(), handle, &record.object, &record.type);
}

CK_RV CheckKeyAccess(const Session& session, KeyRecord& record, CK_OBJECT_HANDLE handle, bool* allowed)
{
    *allowed = false;
    if (IsUserState(session.State())) {
        *allowed = true;
        return CKR_OK;
    }
    const AttributeGetter getter = GetAttributeGetter(record.type);
    if (getter == nullptr) return CKR_ARGUMENTS_BAD;
    CK_BBOOL isPrivate = CK_TRUE;
    CK_ULONG length = sizeof(isPrivate);
    const CK_RV rv = getter(record.source, handle, record.object, CKA_PRIVATE, &isPrivate, &length);
    if (rv == CKR_OK) *allowed = length == sizeof(isPrivate) && isPrivate == CK_FALSE;
    return rv;
}

CK_RV ReadKeyAttributes(KeyRecord& record, CK_OBJECT_HANDLE handle, CK_ATTRIBUTE* attributes, CK_ULONG count)
{
    const AttributeGetter getter = GetAttributeGetter(record.type);
    if (getter == nullptr) return CKR_KEY_TYPE_INCONSISTENT;
    for (CK_ULONG i = 0; i < count; ++i) {
        CK_ATTRIBUTE& attribute = attributes[i];
        const CK_RV rv = getter(record.source, handle, record.object, attribute.type, attribute.pValue,
                                &attribute.ulValueLen);
        if (rv != CKR_OK) return rv;
    }
    return CKR_OK;
}

}  // namespace Brelt::MW::Pkcs11
