#include "pkcs11/ObjectRecords.h"

#include "LogTrace.h"
#include "token/ApplicationInfoList.h"
#include "token/ApplicationOperations.h"
#include "token/AttributeGetters.h"
#include "token/CardObjects.h"
#include "token/ObjectHandles.h"
#include "token/ObjectSearch.h"

namespace Brelt::MW::Pkcs11 {

using namespace Brelt::MW::Token;

Token::AttributeSource MakeAttributeSource(Session& session)
{
    AttributeSource source;
    const CK_SLOT_ID slotId = session.SlotId();
    ApplicationInfoPtr application;
    source.applicationResult = GetApplicationInfo(static_cast<uint32_t>(slotId), application);
    if (source.applicationResult == CKR_OK && application) {
        source.hasApplication = true;
        source.cardProfile = application->Profile;
        source.cardOS = application->CardOS;
        if (application->Aid && application->Aid->length > 0) {
            source.applicationAid.assign(application->Aid->data, application->Aid->data + application->Aid->length);
        }
        if (application->CiaInfo) {
            for (const AlgorithmInfo& entry : application->CiaInfo->algorithms) {
                const auto* algorithm = entry.algorithm.get();
                source.algorithms.push_back(algorithm != nullptr && algorithm->length > 0
                                                ? GetMechanismFromAlgorithmInfo(algorithm->data,
                                                                                static_cast<size_t>(algorithm->length))
                                                : 0xFFFFFFFFUL);
            }
        }
        source.tokenObjects = &application->ObjectLists;
        source.keepAlive = application;
    }
    source.readCertificate = [slotId](const MW::Base::HexBinary& path,
                                      std::shared_ptr<Crypto::ParsedCertificate>& out) {
        Crypto::CertificateHolder parsed;
        const CK_RV rv = ReadCertObject(slotId, path, parsed);
        if (rv == CKR_OK) out = std::shared_ptr<Crypto::ParsedCertificate>(std::move(parsed));
        return rv;
    };
    CK_ULONG* lastStatus = session.LastStatusWord();
    source.findRsaPublicKey = [slotId, lastStatus](const CIOObject& key, RsaPublicValues& out) {
        return FindRSAPublicKey(slotId, lastStatus, key, out);
    };
    source.readPublicKey = [slotId](CK_OBJECT_HANDLE handle, RsaPublicValues& out) {
        return ReadPublicKey(slotId, handle, out, nullptr);
    };
    return source;
}

CK_RV GetObjectRecord(Session& session, CK_OBJECT_HANDLE handle, CIOObject** object, CIOObjectType* type)
{
    FunctionTrace trace("GetObjectRecord");
    *object = nullptr;
    if (type != nullptr) *type = 0;
    if (handle > 0xFFFFFFFFUL) return trace.Result(CKR_OBJECT_HANDLE_INVALID);
    if (!IsSessionHandle(handle)) return trace.Result(GetTokenObjectRecord(session.SlotId(), handle, object, type));
    if (FindObjectByHandle(&session.objectLists, object, type, handle) != CKR_OK || *object == nullptr) {
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, "%s", "Cannot find session object");
        *object = nullptr;
        LOG_FAILED("GetObjectRecord", CKR_FUNCTION_FAILED);
        return trace.Result(CKR_FUNCTION_FAILED);
    }
    return trace.Result(CKR_OK);
}

CK_RV CheckPrivateObjectAccess(Session& session, const Token::AttributeSource& source, CK_OBJECT_HANDLE handle,
                               CIOObject* object, bool* allowed)
{
    FunctionTrace trace("CheckPrivateObjectAccess");
    *allowed = false;
    const CK_STATE state = session.State();
    if (object == nullptr && state != CKS_RO_USER_FUNCTIONS && state != CKS_RW_USER_FUNCTIONS &&
        state != CKS_RW_SO_FUNCTIONS) {
        if (CK_RV rv = GetObjectRecord(session, handle, &object, nullptr); rv != CKR_OK) return trace.Result(rv);
    }
    return trace.Result(Token::CheckPrivateObjectAccess(source, state, handle, object, allowed));
}

}  // namespace Brelt::MW::Pkcs11
