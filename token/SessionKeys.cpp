#include "token/SessionKeys.h"

#include <algorithm>
#include <cstring>

#include "LogTrace.h"
#include "token/AttributeGetters.h"
#include "token/AttributeTemplate.h"
#include "token/BitStringFlags.h"
#include "token/ObjectHandles.h"

namespace Brelt::MW::Token {

using MW::Base::HexBinary;

namespace {

// An empty BIT STRING of eight unused bits; setting a bit makes it used.
Bytes EmptyBits()
{
    return std::make_unique<HexBinary>(std::string("0800"));
}

Bytes Copy(const HexBinary* value)
{
    return value != nullptr && value->length > 0 ? std::make_unique<HexBinary>(*value) : nullptr;
}

CK_RV ReadOptionalBool(const CK_ATTRIBUTE* attributes, CK_ULONG count, CK_ATTRIBUTE_TYPE type, bool* present,
                       CK_BBOOL* value)
{
    return Template_GetBool(attributes, count, type, value, present);
}

}  // namespace

int8_t GetSupportedAlgorithmIndex(const CIAInfo* cia, CK_MECHANISM_TYPE mechanism)
{
    if (cia == nullptr) return -1;
    const size_t limit = std::min<size_t>(cia->algorithms.size(), 127);
    for (size_t i = 0; i < limit; ++i) {
        const HexBinary* algorithm = cia->algorithms[i].algorithm.get();
        if (algorithm == nullptr || algorithm->length <= 0) continue;
        if (GetMechanismFromAlgorithmInfo(algorithm->data, static_cast<size_t>(algorithm->length)) == mechanism) {
            return static_cast<int8_t>(i);
        }
    }
    return -1;
}

CK_RV ValidatePublicKeyType(const CK_ATTRIBUTE* attributes, CK_ULONG count, RsaPublicKeyData& record)
{
    FunctionTrace trace("ValidatePublicKeyType");
    CK_RV rv = ReadOptionalBool(attributes, count, CKA_VERIFY, &record.verifyPresent, &record.verify);
    if (rv == CKR_OK) rv = ReadOptionalBool(attributes, count, CKA_ENCRYPT, &record.encryptPresent, &record.encrypt);
    if (rv == CKR_OK && record.encryptPresent && record.encrypt != CK_FALSE) rv = CKR_ATTRIBUTE_VALUE_INVALID;
    if (rv == CKR_OK && !record.verifyPresent && !record.encryptPresent) rv = CKR_TEMPLATE_INCOMPLETE;
    if (rv == CKR_OK && record.verify == CK_FALSE && record.encrypt == CK_FALSE) rv = CKR_ATTRIBUTE_VALUE_INVALID;
    if (rv != CKR_OK) LOG_FAILED("ValidatePublicKeyType", rv);
    return trace.Result(rv);
}

CK_RV ValidateKeyMechanisms(const CK_ATTRIBUTE* attributes, CK_ULONG count, RsaPublicKeyData& record)
{
    FunctionTrace trace("ValidateKeyMechanisms");
    const void* value = nullptr;
    CK_ULONG length = 0;
    if (!Template_ValueAndLenOfAttribute(attributes, count, CKA_ALLOWED_MECHANISMS, &value, &length) || length == 0) {
        return trace.Result(CKR_OK);
    }
    if (value == nullptr || length % sizeof(CK_MECHANISM_TYPE) != 0) {
        LOG_FAILED("ValidateKeyMechanisms", CKR_ATTRIBUTE_VALUE_INVALID);
        return trace.Result(CKR_ATTRIBUTE_VALUE_INVALID);
    }
    record.allowedMechanisms.resize(length / sizeof(CK_MECHANISM_TYPE));
    std::memcpy(record.allowedMechanisms.data(), value, length);
    for (CK_MECHANISM_TYPE mechanism : record.allowedMechanisms) {
        if (mechanism != CKM_RSA_PKCS) {
            LOG_FAILED("ValidateKeyMechanisms", CKR_ATTRIBUTE_VALUE_INVALID);
            return trace.Result(CKR_ATTRIBUTE_VALUE_INVALID);
        }
    }
    // Every entry is CKM_RSA_PKCS here, so a key that signs or verifies has it.
    return trace.Result(CKR_OK);
}

CK_RV CreateRsaAlgReferenceList(const ApplicationInfo& application, CommonKeyAttributes& key,
                                const RsaPublicKeyData& record)
{
    FunctionTrace trace("CreateRsaAlgReferenceList");
    std::vector<int8_t> positions;
    if (!record.allowedMechanisms.empty()) {
        for (CK_MECHANISM_TYPE mechanism : record.allowedMechanisms) {
            const int8_t position = GetSupportedAlgorithmIndex(application.CiaInfo.get(), mechanism);
            if (position < 0) return trace.Result(CKR_FUNCTION_FAILED);
            positions.push_back(position);
        }
    } else {
        int8_t position = GetSupportedAlgorithmIndex(application.CiaInfo.get(), CKM_RSA_PKCS);
        if (position < 0 && application.CardOS == CardOSv50) {
            position = GetSupportedAlgorithmIndex(application.CiaInfo.get(), CKM_RSA_X_509);
        }
        if (position < 0) {
            LOG_FAILED("CreateRsaAlgReferenceList", CKR_FUNCTION_FAILED);
            return trace.Result(CKR_FUNCTION_FAILED);
        }
        positions.push_back(position);
    }
    for (int8_t position : positions) {
        const auto byte = static_cast<unsigned char>(position);
        key.algReference.push_back(std::make_unique<HexBinary>(&byte, 1, true));
    }
    return trace.Result(CKR_OK);
}

CK_RV CreateSessionPubKey(const ApplicationInfo& application, CIOObjectLists& sessionObjects,
                          RsaPublicKeyData& record)
{
    FunctionTrace trace("CreateSessionPubKey");
    auto key = std::make_unique<RSAPubKeyObject>();
    CommonObjectAttributes* common = key->GetCommonObjectRecord();
    CommonKeyAttributes* keyAttributes = key->AsCommonKeyAttributes();
    RSAKeyAttributes* rsa = key->AsRSAKeyAttributes();
    if (common == nullptr || keyAttributes == nullptr || rsa == nullptr) return trace.Result(CKR_HOST_MEMORY);

    common->label = Copy(record.label.get());
    keyAttributes->iD = Copy(record.iD.get());
    keyAttributes->usage = EmptyBits();
    SetFlagAttribute(kUsageEncrypt, record.encrypt != CK_FALSE, keyAttributes->usage.get());
    SetFlagAttribute(kUsageVerify, record.verify != CK_FALSE, keyAttributes->usage.get());
    if (CK_RV rv = CreateRsaAlgReferenceList(application, *keyAttributes, record); rv != CKR_OK) {
        LOG_FAILED("CreateSessionPubKey", rv);
        return trace.Result(rv);
    }
    keyAttributes->accessFlags = std::make_unique<HexBinary>(std::string("0348"));
    rsa->modulusLength = record.modulusBits;
    rsa->publicKey = std::make_unique<RSAPublicKeyAtt>();
    rsa->publicKey->modulus = Copy(record.modulus.get());
    rsa->publicKey->exponent = Copy(record.publicExponent.get());
    common->flags = EmptyBits();
    SetFlagAttribute(kObjectFlagPrivate, record.isPrivate != CK_FALSE, common->flags.get());
    SetFlagAttribute(kObjectFlagModifiable, record.modifiable != CK_FALSE, common->flags.get());

    // The handle is known only once the key is in its list; the key
    // reference repeats the handle's upper half.
    CK_OBJECT_HANDLE handle = 0;
    CIOObject* added = key.get();
    if (CK_RV rv = AddSessionObject(sessionObjects, kKindRsaPublicKey, std::move(key), &handle); rv != CKR_OK) {
        LOG_FAILED("CreateSessionPubKey", rv);
        return trace.Result(rv);
    }
    added->AsCommonKeyAttributes()->keyReference = std::make_unique<uint32_t>(static_cast<uint32_t>(handle >> 16));
    record.handle = handle;
    return trace.Result(CKR_OK);
}

}  // namespace Brelt::MW::Token
