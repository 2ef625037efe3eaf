#include "pkcs11/KeyRecords.h"

#include "LogTrace.h"
#include "pkcs11/ObjectRecords.h"
#include "token/AttributeGetters.h"

namespace Brelt::MW::Pkcs11 {

using namespace Brelt::MW::Token;

bool IsUserState(CK_STATE state)
{
    return state == CKS_RO_USER_FUNCTIONS || state == CKS_RW_USER_FUNCTIONS || state == CKS_RW_SO_FUNCTIONS;
}

CK_RV FindKeyRecord(Session& session, CK_OBJECT_HANDLE handle, KeyRecord& record)
{
    record = KeyRecord{};
    record.source = MakeAttributeSource(session);
    const CK_RV rv = GetObjectRecord(session, handle, &record.object, &record.type);
    if (rv == CKR_OK && record.object == nullptr) return CKR_OBJECT_HANDLE_INVALID;
    return rv;
}

CK_RV CheckKeyAccess(Session& session, KeyRecord& record, CK_OBJECT_HANDLE handle, bool* allowed)
{
    return CheckPrivateObjectAccess(session, record.source, handle, record.object, allowed);
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
