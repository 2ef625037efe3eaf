#include "token/CardSignature.h"

#include <cstring>
#include <vector>

#include "HostCryptoResult.h"
#include "HostRsa.h"
#include "LogTrace.h"
#include "PadPkcs1Type1.h"
#include "card/CardCommands.h"
#include "token/AttributeGetters.h"
#include "token/CardKeyCommands.h"
#include "token/KeyPublicHalf.h"

namespace Brelt::MW::Token {

namespace {

constexpr uint8_t kSelectKeyFileDefault = 0x09;
constexpr uint8_t kSelectKeyFileSigG = 0x08;
constexpr uint8_t kSelectKeyFileSigZepEp = 0x00;
constexpr uint8_t kInsPso = 0x2A;
constexpr uint8_t kInsMse = 0x22;
// The largest key the 16-bit sizes of the signing path can carry.
constexpr CK_ULONG kMaxModulusBits = 0xFFFF;

CK_RV Failed(FunctionTrace& trace, int line, CK_RV rv)
{
    TraceFailed(trace.Function(), line, rv);
    return trace.Result(rv);
}

CK_RV ComputeSignatureCommand(const Card::Slot& slot, CK_ULONG* lastStatus, const std::vector<uint8_t>& data,
                              Card::ApduResponse& response)
{
    return SendKeyCommand(slot, lastStatus, kInsPso, 0x9E, 0x9A, data, true, true, response);
}

// The first byte of the key's key reference, as the MSE commands carry it.
bool KeyReferenceByte(const CIOObject& key, uint8_t* byte)
{
    uint32_t reference = 0;
    if (!KeyReferenceOf(key, &reference)) return false;
    *byte = static_cast<uint8_t>(reference & 0xFF);
    return true;
}

// A private-key attribute read through the getter into a value of type T.
template <typename T>
CK_RV ReadKeyAttribute(const SignatureKey& key, CK_ATTRIBUTE_TYPE type, T* value, bool* available)
{
    CK_ULONG length = sizeof(T);
    const CK_RV rv = GetPrivKeyAttribute(*key.source, key.handle, key.key, type, value, &length);
    *available = rv == CKR_OK && length == sizeof(T);
    return rv;
}

CK_RV SignDefaultProfile(const SignatureKey& key, const Card::Slot& slot, const ApplicationInfo& application,
                         const uint8_t* data, uint16_t length, uint16_t modulusBits, Card::ApduResponse& response)
{
    if (CK_RV rv = SelectKeyApplication(key.lastStatus, slot, application); rv != CKR_OK) return rv;
    if (CK_RV rv = SelectPrivKeyDF(key.slotId, key.lastStatus, *key.key); rv != CKR_OK) return rv;
    uint8_t keyReference = 0;
    if (!KeyReferenceByte(*key.key, &keyReference)) {
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, "Private key has no key reference");
        return CKR_FUNCTION_FAILED;
    }
    const std::vector<uint8_t> input(data, data + length);

    switch (application.CardOS) {
    case CardOSv43:
    case CardOSv44: {
        CK_BBOOL decrypt = CK_FALSE;
        bool decryptAvailable = false;
        if (CK_RV rv = ReadKeyAttribute(key, CKA_DECRYPT, &decrypt, &decryptAvailable); rv != CKR_OK) return rv;
        const std::vector<uint8_t> mse = {0x84, 0x01, keyReference};
        if (!decryptAvailable || decrypt == CK_FALSE) {
            if (CK_RV rv = SendKeyCommand(slot, key.lastStatus, kInsMse, 0x41, 0xB6, mse, false, true, response);
                rv != CKR_OK)
                return rv;
            return ComputeSignatureCommand(slot, key.lastStatus, input, response);
        }
        // The key signs by deciphering a type-1 block made here; a block
        // that cannot be made is refused before the card sees anything.
        const auto block = EncodePkcs1Type1(data, length, modulusBits);
        if (!block) return CKR_DATA_LEN_RANGE;
        if (CK_RV rv = SendKeyCommand(slot, key.lastStatus, kInsMse, 0x01, 0xB8, mse, false, true, response);
            rv != CKR_OK)
            return rv;
        std::vector<uint8_t> decipher;
        decipher.reserve(static_cast<size_t>(block->length) + 1);
        decipher.push_back(0x00);
        decipher.insert(decipher.end(), block->data, block->data + block->length);
        return SendKeyCommand(slot, key.lastStatus, kInsPso, 0x80, 0x86, decipher, true, true, response);
    }
    case CardOSv50: {
        const std::vector<uint8_t> mse = {0x84, 0x01, keyReference, 0x95, 0x01, 0x40, 0x80, 0x01, 0x10};
        if (CK_RV rv = SendKeyCommand(slot, key.lastStatus, kInsMse, 0x41, 0xB6, mse, false, false, response);
            rv != CKR_OK)
            return rv;
        return ComputeSignatureCommand(slot, key.lastStatus, input, response);
    }
    default:
        // No command for an unknown card OS, and so no signature.
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, "Unknown card OS, cannot compute digital signature");
        return CKR_FUNCTION_FAILED;
    }
}

CK_RV SignSigGProfile(const SignatureKey& key, const Card::Slot& slot, const uint8_t* data, uint16_t length,
                      Card::ApduResponse& response, bool& refused)
{
    int type = 0;
    if (CK_RV rv = GetSigAppTypeFromKey(key, &type); rv != CKR_OK) return rv;
    uint16_t id = 0;
    GetSigAppIdFromKey(key, &id);
    refused = true;
    if (type != 2) return CKR_FUNCTION_FAILED;
    if (!key.userLoggedIn) return CKR_USER_NOT_LOGGED_IN;
    refused = false;
    uint8_t path[4] = {};
    uint16_t pathLength = 0;
    GetSigAppPath(static_cast<uint8_t>(id), path, &pathLength);
    if (CK_RV rv = Card::SelectFile(key.lastStatus, &slot, path, pathLength, kSelectKeyFileSigG); rv != CKR_OK)
        return rv;
    return ComputeSignatureCommand(slot, key.lastStatus, std::vector<uint8_t>(data, data + length), response);
}

// PSO COMPUTE DIGITAL SIGNATURE protected by the session's
// application-container channel, on the key file selected first.
CK_RV SignSigZepEpProfile(const SignatureKey& key, const Card::Slot& slot, const ApplicationInfo& application,
                          const uint8_t* data, uint16_t length, Card::ApduResponse& response)
{
    if (!key.channel) {
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, "No secure channel to the card for the signature");
        return CKR_FUNCTION_FAILED;
    }
    if (CK_RV rv = SelectKeyApplication(key.lastStatus, slot, application); rv != CKR_OK) return rv;
    if (CK_RV rv = SelectPrivKeyDF(key.slotId, key.lastStatus, *key.key); rv != CKR_OK) return rv;
    return SendKeyCommandInChannel(*key.channel, slot, key.lastStatus, kInsPso, 0x9E, 0x9A,
                                   std::vector<uint8_t>(data, data + length), true, true, response);
}

// The key's security environment restored, then PSO COMPUTE DIGITAL
// SIGNATURE, which SendApdu protects under the chip-authentication channel.
CK_RV SignQesEacProfile(const SignatureKey& key, const Card::Slot& slot, const ApplicationInfo& application,
                        const uint8_t* data, uint16_t length, Card::ApduResponse& response)
{
    if (CK_RV rv = SelectKeyApplication(key.lastStatus, slot, application); rv != CKR_OK) return rv;
    if (CK_RV rv = EvaluateAR(key.slotId, key.lastStatus, *key.key, 3); rv != CKR_OK) return rv;
    return ComputeSignatureCommand(slot, key.lastStatus, std::vector<uint8_t>(data, data + length), response);
}

// Whether the card's signature is the key's signature of the data (the
// PKCS#1 type-1 block the card was asked to sign), checked on the host.
bool SignatureVerifies(const RsaPublicValues& half, const uint8_t* data, uint16_t length,
                       const Card::ApduResponse& response)
{
    if (half.modulus.size() > 0xFFFF || half.exponent.size() > 0xFFFF) return false;
    try {
        return Crypto::VerifyWithSessionPublicKey(data, length, response.data.get(), response.length,
                                                  half.exponent.data(), static_cast<uint16_t>(half.exponent.size()),
                                                  half.modulus.data(), static_cast<uint16_t>(half.modulus.size()),
                                                  CKM_RSA_PKCS) == Crypto::CRYPTO_OK;
    } catch (...) {
        // A public half the host cannot use verifies nothing.
        return false;
    }
}

}  // namespace

std::unique_ptr<MW::Base::HexBinary> EncodePkcs1Type1(const uint8_t* data, uint16_t length, uint16_t modulusBits)
{
    if (data == nullptr && length > 0) return nullptr;
    const MW::Base::HexBinary input(data, length, true);
    return Crypto::PadPkcs1Type1(&input, modulusBits);
}

CK_RV GetSigAppTypeFromKey(const SignatureKey& key, int* type)
{
    CK_BBOOL secondary = CK_FALSE;
    CK_ULONG length = sizeof(secondary);
    const CK_RV rv = GetPrivKeyAttribute(*key.source, key.handle, key.key, CKA_SECONDARY_AUTH, &secondary, &length);
    if (rv != CKR_OK) return rv;
    // An unavailable answer is no secondary authentication.
    *type = length == sizeof(secondary) && secondary != CK_FALSE ? 1 : 2;
    return CKR_OK;
}

CK_RV GetSigAppIdFromKey(const SignatureKey& key, uint16_t* id)
{
    uint8_t fileId = 0;
    CK_ULONG length = sizeof(fileId);
    const CK_RV rv = GetPrivKeyAttribute(*key.source, key.handle, key.key, CKA_KEY_FILE_ID, &fileId, &length);
    *id = rv == CKR_OK && length == sizeof(fileId) ? fileId : 0xFFFF;
    return CKR_OK;
}

CK_RV GetSigAppPath(uint8_t id, uint8_t path[4], uint16_t* length)
{
    path[0] = 0x3F;
    path[1] = 0x00;
    path[2] = 0xDF;
    path[3] = id;
    *length = 4;
    return CKR_OK;
}

CK_RV SelectPrivKeyDF(CK_SLOT_ID slotId, CK_ULONG* lastStatus, const CIOObject& key)
{
    FunctionTrace trace("SelectPrivKeyDF");
    Card::SlotPtr slot;
    ApplicationInfoPtr application;
    if (CK_RV rv = LookUpKeyApplication(slotId, slot, application); rv != CKR_OK) return Failed(trace, __LINE__, rv);
    if (CK_RV rv = SelectKeyApplication(lastStatus, *slot, *application); rv != CKR_OK)
        return Failed(trace, __LINE__, rv);
    const RSAKeyAttributes* rsa = key.AsRSAKeyAttributes();
    if (rsa == nullptr || !rsa->path || rsa->path->length < 2 || rsa->path->length > 0xFF) {
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, "Invalid RSA private key path");
        return Failed(trace, __LINE__, CKR_FUNCTION_FAILED);
    }
    uint8_t p1 = 0;
    switch (application->Profile) {
    case SigGProfile: p1 = kSelectKeyFileSigG; break;
    case SigZepEpProfile: p1 = kSelectKeyFileSigZepEp; break;
    case DefaultProfile: p1 = kSelectKeyFileDefault; break;
    default:
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, "Unknown card profile, cannot select private key DF");
        return Failed(trace, __LINE__, CKR_FUNCTION_FAILED);
    }
    const CK_RV rv = Card::SelectFile(lastStatus, slot.get(), rsa->path->data,
                                      static_cast<uint16_t>(rsa->path->length), p1);
    if (rv != CKR_OK) return Failed(trace, __LINE__, rv);
    return trace.Result(CKR_OK);
}

CK_RV EvaluateAR(CK_SLOT_ID slotId, CK_ULONG* lastStatus, const CIOObject& key, int accessMode)
{
    FunctionTrace trace("EvaluateAR");
    Card::SlotPtr slot;
    ApplicationInfoPtr application;
    if (CK_RV rv = LookUpKeyApplication(slotId, slot, application); rv != CKR_OK) return Failed(trace, __LINE__, rv);
    if (CK_RV rv = SelectKeyApplication(lastStatus, *slot, *application); rv != CKR_OK)
        return Failed(trace, __LINE__, rv);

    uint8_t environment = 0;
    if (const CommonObjectAttributes* common = key.GetCommonObjectRecord()) {
        for (const AccessControlRule& rule : common->accessControlRules) {
            const SecurityCondition* condition = rule.condition.get();
            if (condition == nullptr) continue;
            const MW::Base::HexBinary* value = nullptr;
            if (accessMode == 3 && condition->authReference) value = condition->authReference->seIdentifier.get();
            if (accessMode == 1) value = condition->authId.get();
            if (value != nullptr && value->length > 0) environment = value->data[0];
        }
    }
    if (environment != 0) {
        Card::ApduResponse response;
        if (CK_RV rv = SendKeyCommand(*slot, lastStatus, kInsMse, 0xF3, environment, {}, false, true, response);
            rv != CKR_OK)
            return Failed(trace, __LINE__, rv);
    }
    return trace.Result(CKR_OK);
}

CK_RV ComputeDigitalSignatureFinal(const SignatureKey& key, const uint8_t* data, uint16_t length, uint8_t* output,
                                   CK_ULONG* outputLength)
{
    FunctionTrace trace("ComputeDigitalSignatureFinal");
    if (outputLength == nullptr || key.key == nullptr || key.source == nullptr || (data == nullptr && length > 0))
        return Failed(trace, __LINE__, CKR_ARGUMENTS_BAD);
    Card::SlotPtr slot;
    ApplicationInfoPtr application;
    if (CK_RV rv = LookUpKeyApplication(key.slotId, slot, application); rv != CKR_OK)
        return Failed(trace, __LINE__, rv);

    // The signature is exactly as long as the key's modulus: a short buffer
    // is told so before the card signs anything.
    CK_ULONG modulusBits = 0;
    bool bitsAvailable = false;
    if (CK_RV rv = ReadKeyAttribute(key, CKA_MODULUS_BITS, &modulusBits, &bitsAvailable); rv != CKR_OK)
        return Failed(trace, __LINE__, rv);
    if (!bitsAvailable || modulusBits == 0 || modulusBits > kMaxModulusBits)
        return Failed(trace, __LINE__, CKR_KEY_SIZE_RANGE);
    const CK_ULONG signatureLength = (modulusBits + 7) / 8;
    if (*outputLength < signatureLength) {
        *outputLength = signatureLength;
        return Failed(trace, __LINE__, CKR_BUFFER_TOO_SMALL);
    }
    if (output == nullptr) return Failed(trace, __LINE__, CKR_ARGUMENTS_BAD);
    // Found before the card signs, so that a key file read costs no command
    // between the signature and its check. Held already after C_SignInit.
    RsaPublicValues half;
    const bool checkable = GetKeyPublicHalf(*key.source, *key.key, half);

    Card::ApduResponse response;
    CK_RV rv = CKR_OK;
    switch (application->Profile) {
    case DefaultProfile:
        rv = SignDefaultProfile(key, *slot, *application, data, length, static_cast<uint16_t>(modulusBits),
                                response);
        break;
    case SigGProfile: {
        // The two refusals of the signature application come before any
        // command of its own and are not failures of the card.
        bool refused = false;
        rv = SignSigGProfile(key, *slot, data, length, response, refused);
        if (refused) return trace.Result(rv);
        break;
    }
    case SigZepEpProfile:
        rv = SignSigZepEpProfile(key, *slot, *application, data, length, response);
        break;
    case QesEacProfile:
        rv = SignQesEacProfile(key, *slot, *application, data, length, response);
        break;
    default:
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, "Unknown card profile, cannot compute digital signature");
        return Failed(trace, __LINE__, CKR_FUNCTION_FAILED);
    }
    if (rv != CKR_OK) return Failed(trace, __LINE__, rv);
    // An answer without a signature is no signature, whatever its status word.
    if (response.length == 0 || !response.data) return Failed(trace, __LINE__, CKR_FUNCTION_FAILED);
    // A card that computes wrongly must not have its answer pass for the
    // signature; a faulty RSA-CRT signature would even give the key away.
    if (response.length != signatureLength) {
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, "Card signature has %u bytes, the key's modulus %lu",
                   static_cast<unsigned>(response.length), signatureLength);
        return Failed(trace, __LINE__, CKR_DEVICE_ERROR);
    }
    if (checkable && !SignatureVerifies(half, data, length, response)) {
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, "Card signature does not verify with the key's public key");
        return Failed(trace, __LINE__, CKR_DEVICE_ERROR);
    }
    std::memcpy(output, response.data.get(), response.length);
    *outputLength = response.length;
    return trace.Result(CKR_OK);
}

}  // namespace Brelt::MW::Token
