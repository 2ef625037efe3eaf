#include "token/ObjectSearch.h"

#include <cstring>

#include "LogTrace.h"
#include "token/AttributeGetters.h"
#include "token/AttributeTemplate.h"
#include "token/ObjectHandles.h"

namespace Brelt::MW::Token {

namespace {

bool IsUserState(CK_STATE state)
{
    return state == CKS_RO_USER_FUNCTIONS || state == CKS_RW_USER_FUNCTIONS || state == CKS_RW_SO_FUNCTIONS;
}

enum class Match { Yes, No, CardLost };

Match MatchesTemplate(const AttributeSource& source, const FindContext& context, CIOObject& object,
                      AttributeGetter getter)
{
    std::vector<unsigned char> scratch;
    for (const CK_ATTRIBUTE& wanted : context.searchTemplate) {
        scratch.assign(wanted.ulValueLen + 1, 0);
        CK_ULONG length = wanted.ulValueLen;
        const CK_RV rv = getter(source, object.handle, &object, wanted.type, scratch.data(), &length);
        if (rv == CKR_DEVICE_ERROR || rv == CKR_TOKEN_NOT_PRESENT) return Match::CardLost;
        if (rv != CKR_OK || length != wanted.ulValueLen) return Match::No;
        if (length != 0 && std::memcmp(scratch.data(), wanted.pValue, length) != 0) return Match::No;
    }
    return Match::Yes;
}

// Examines one object; CKR_OK with `matched` telling whether it is returned.
CK_RV Examine(const FindContext& context, const SearchScope& scope, const CIOObjectList& list, CIOObject& object,
              bool* matched)
{
    *matched = false;
    const AttributeSource& source = *scope.source;
    if (CK_RV rv = source.ApplicationStatus(); rv != CKR_OK) return rv;

    if (source.cardProfile == SigZepEpProfile && !scope.internal && list.kind == kKindRsaPrivateKey) {
        bool execute = false;
        if (CK_RV rv = GetExecuteFlag(&object, &execute); rv != CKR_OK) return rv;
        if (!execute) return CKR_OK;
    }

    bool allowed = false;
    const CK_RV access = CheckPrivateObjectAccess(source, scope.sessionState, object.handle, &object, &allowed);
    if (access == CKR_DEVICE_ERROR || access == CKR_TOKEN_NOT_PRESENT) return CKR_GENERAL_ERROR;
    if (access != CKR_OK || !allowed) return CKR_OK;

    const AttributeGetter getter = GetAttributeGetter(object.type);
    if (getter == nullptr) return CKR_OK;

    const Match match = MatchesTemplate(source, context, object, getter);
    if (match == Match::CardLost) return CKR_GENERAL_ERROR;
    bool result = match == Match::Yes;

    if (source.cardProfile == QesEacProfile) {
        bool valid = false;
        if (object.type == kTypeCertificate || object.type == kTypeCertificate2) {
            result = result && IsCertObjValid(source, &object, &valid) == CKR_OK && valid;
        } else if (object.type == kTypeRsaPrivateKey || object.type == kTypeEcPrivateKey) {
            const CommonKeyAttributes* key = object.AsCommonKeyAttributes();
            result = result && IsPrivKeyValid(source, key != nullptr ? key->iD.get() : nullptr, &valid) == CKR_OK &&
                     valid;
        }
    }
    *matched = result;
    return CKR_OK;
}

// Searches one vector of lists from where the search stands.
CK_RV SearchLists(FindContext& context, const SearchScope& scope, CIOObjectLists* lists, bool sessionLists,
                  CK_OBJECT_HANDLE* handles, CK_ULONG maximum, CK_ULONG* found)
{
    if (lists == nullptr) return CKR_OK;
    // Where the last examined object lies: in this vector, which kind, which number.
    const bool positionHere = context.position != 0 && IsSessionHandle(context.position) == sessionLists;
    size_t firstKind = 0;
    if (positionHere) {
        const CioFileKind kind = HandleListKind(context.position);
        while (firstKind < context.kinds.size() && context.kinds[firstKind] != kind) ++firstKind;
    }
    for (size_t k = firstKind; k < context.kinds.size() && *found < maximum; ++k) {
        CIOObjectList* list = FindObjectList(lists, static_cast<CioFileKind>(context.kinds[k]));
        if (list == nullptr) continue;
        const bool resume = positionHere && k == firstKind;
        const uint32_t after = static_cast<uint32_t>(context.position & 0xFFFF);
        // Index loop: an object found here may be destroyed by the caller
        // between calls, never during one.
        for (size_t i = 0; i < list->objects.size() && *found < maximum; ++i) {
            CIOObject* object = list->objects[i].get();
            if (object == nullptr) continue;
            if (resume && (object->handle & 0xFFFFu) <= after) continue;
            context.position = object->handle;
            bool matched = false;
            if (CK_RV rv = Examine(context, scope, *list, *object, &matched); rv != CKR_OK) return rv;
            if (matched) handles[(*found)++] = object->handle;
        }
    }
    return CKR_OK;
}

}  // namespace

CK_RV CheckPrivateObjectAccess(const AttributeSource& source, CK_STATE state, CK_OBJECT_HANDLE handle,
                               CIOObject* object, bool* allowed)
{
    *allowed = false;
    if (IsUserState(state)) {
        *allowed = true;
        return CKR_OK;
    }
    if (object == nullptr) return CKR_OBJECT_HANDLE_INVALID;
    const AttributeGetter getter = GetAttributeGetter(object->type);
    if (getter == nullptr) return CKR_ARGUMENTS_BAD;
    CK_BBOOL isPrivate = CK_TRUE;
    CK_ULONG length = sizeof(isPrivate);
    const CK_RV rv = getter(source, handle, object, CKA_PRIVATE, &isPrivate, &length);
    if (rv == CKR_OK) *allowed = length == sizeof(isPrivate) && isPrivate == CK_FALSE;
    return rv;
}

void ResetFindContext(FindContext& context)
{
    context.Reset();
}

CK_RV FindObjectsInit(FindContext& context, const CK_ATTRIBUTE* attributes, CK_ULONG count)
{
    FunctionTrace trace("FindObjectsInit");
    if (context.active) FindObjectsFinal(context);
    ResetFindContext(context);

    if (CK_RV rv = Template_CheckValues(attributes, count); rv != CKR_OK) {
        LOG_FAILED("FindObjectsInit", rv);
        return trace.Result(rv);
    }
    for (CK_ULONG i = 0; i < count; ++i) {
        if (attributes[i].type != CKA_CLASS) continue;
        CK_ULONG objectClass = 0;
        if (!ReadUlongValue(attributes[i], &objectClass)) {
            LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, "Invalid attribute %s size specified: %lu",
                       "CKA_CLASS", attributes[i].ulValueLen);
            return trace.Result(CKR_ATTRIBUTE_VALUE_INVALID);
        }
    }

    context.active = true;
    if (count > 0) {
        if (CK_RV rv = Template_CopyInto(attributes, count, context.searchTemplate, context.values); rv != CKR_OK) {
            LOG_FAILED("FindObjectsInit", rv);
            return trace.Result(rv);
        }
    }

    bool anyClass = false;
    for (const CK_ATTRIBUTE& entry : context.searchTemplate) {
        if (entry.type != CKA_CLASS) continue;
        anyClass = true;
        CK_ULONG objectClass = 0;
        ReadUlongValue(entry, &objectClass);
        CK_ULONG kind = 0;
        switch (objectClass) {
        case CKO_CERTIFICATE: kind = kKindCertificate; break;
        case CKO_PUBLIC_KEY: kind = kKindRsaPublicKey; break;
        case CKO_PRIVATE_KEY: kind = kKindRsaPrivateKey; break;
        default: break;
        }
        if (kind != 0 && !VectorContains(&context.kinds, kind)) context.kinds.push_back(kind);
    }
    if (!anyClass) context.kinds = {kKindRsaPrivateKey, kKindRsaPublicKey, kKindCertificate};
    return trace.Result(CKR_OK);
}

CK_RV FindObjects(FindContext& context, const SearchScope& scope, CK_OBJECT_HANDLE* handles, CK_ULONG maximum,
                  CK_ULONG* found)
{
    FunctionTrace trace("FindObjects");
    *found = 0;
    if (!context.active) return trace.Result(CKR_OPERATION_NOT_INITIALIZED);
    if (maximum == 0) return trace.Result(CKR_OK);
    if (scope.source == nullptr || scope.source->ApplicationStatus() != CKR_OK) {
        LOG_FAILED("FindObjects", CKR_FUNCTION_FAILED);
        return trace.Result(CKR_FUNCTION_FAILED);
    }

    bool searchSession = true;
    bool searchToken = true;
    for (const CK_ATTRIBUTE& entry : context.searchTemplate) {
        if (entry.type != CKA_TOKEN || entry.pValue == nullptr || entry.ulValueLen == 0) continue;
        const bool token = *static_cast<const unsigned char*>(entry.pValue) != 0;
        searchSession = !token;
        searchToken = token;
        break;
    }

    // A search that has moved on to the token's objects is done with the session's.
    if (context.position != 0 && !IsSessionHandle(context.position)) searchSession = false;

    CK_RV rv = CKR_OK;
    if (searchSession) rv = SearchLists(context, scope, scope.sessionObjects, true, handles, maximum, found);
    if (rv == CKR_OK && searchToken && *found < maximum) {
        rv = SearchLists(context, scope, scope.source->tokenObjects, false, handles, maximum, found);
    }
    if (rv != CKR_OK) LOG_FAILED("FindObjects", rv);
    return trace.Result(rv);
}

CK_RV FindObjectsFinal(FindContext& context)
{
    FunctionTrace trace("FindObjectsFinal");
    ResetFindContext(context);
    return trace.Result(CKR_OK);
}

CK_RV IsCertObjValid(const AttributeSource& source, CIOObject* object, bool* valid)
{
    *valid = false;
    if (object == nullptr) return CKR_OBJECT_HANDLE_INVALID;
    if (object->type != kTypeCertificate && object->type != kTypeCertificate2) return CKR_OK;
    std::shared_ptr<Crypto::ParsedCertificate> parsed;
    *valid = LoadCertificate(source, *object, parsed) == CKR_OK && parsed != nullptr;
    return CKR_OK;
}

CK_RV IsPrivKeyValid(const AttributeSource& source, const MW::Base::HexBinary* keyId, bool* valid)
{
    *valid = false;
    if (keyId == nullptr || source.tokenObjects == nullptr) return CKR_OK;
    for (const auto& list : *source.tokenObjects) {
        if (!list || list->kind != kKindCertificate) continue;
        for (const auto& certificate : list->objects) {
            std::shared_ptr<Crypto::ParsedCertificate> parsed;
            if (LoadCertificate(source, *certificate, parsed) != CKR_OK || !parsed) continue;
            const CommonCertificateAttributes* common = certificate->AsCommonCertificateAttributes();
            if (common != nullptr && common->iD && common->iD->Equals(keyId)) {
                *valid = true;
                return CKR_OK;
            }
        }
    }
    return CKR_OK;
}

}  // namespace Brelt::MW::Token
