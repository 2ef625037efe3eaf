#include "token/AttributeGetters.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <optional>

#include <botan/rsa.h>

#include "LogNames.h"
#include "LogTrace.h"
#include "RsaKey.h"
#include "token/BitStringFlags.h"
#include "token/KeyPublicHalf.h"

namespace Brelt::MW::Token {

using MW::Base::HexBinary;

namespace {

// The outcome of computing one attribute before it is handed to the caller.
struct Computed {
    enum class Kind { Value, Unavailable, NotAnswered, Error };
    Kind kind = Kind::NotAnswered;
    std::vector<uint8_t> bytes;
    CK_RV rv = CKR_OK;

    static Computed Value(std::vector<uint8_t> bytes) { return {Kind::Value, std::move(bytes), CKR_OK}; }
    static Computed Unavailable() { return {Kind::Unavailable, {}, CKR_OK}; }
    static Computed NotAnswered() { return {Kind::NotAnswered, {}, CKR_OK}; }
    static Computed Error(CK_RV rv) { return {Kind::Error, {}, rv}; }
};

Computed Bool(bool value)
{
    return Computed::Value({static_cast<uint8_t>(value ? CK_TRUE : CK_FALSE)});
}

Computed Ulong(CK_ULONG value)
{
    std::vector<uint8_t> bytes(sizeof(CK_ULONG));
    std::memcpy(bytes.data(), &value, sizeof(CK_ULONG));
    return Computed::Value(std::move(bytes));
}

Computed BytesOf(const HexBinary* buffer)
{
    if (buffer == nullptr || buffer->data == nullptr || buffer->length <= 0) return Computed::Unavailable();
    return Computed::Value(std::vector<uint8_t>(buffer->data, buffer->data + buffer->length));
}

Computed BytesOf(const std::unique_ptr<HexBinary>& buffer)
{
    return BytesOf(buffer.get());
}

// A label or iD: present but empty on the card (0C 00, 04 00) is a value of
// length 0, not a missing one.
Computed StoredBytes(const std::unique_ptr<HexBinary>& buffer)
{
    if (buffer && buffer->length == 0) return Computed::Value({});
    return BytesOf(buffer.get());
}

// A bit of a BIT STRING; `missing` is the answer without the BIT STRING.
Computed Flag(const HexBinary* bitString, uint32_t index, Computed missing = Computed::Unavailable())
{
    if (bitString == nullptr) return missing;
    uint8_t value = CK_FALSE;
    uint16_t valueLength = 0;
    GetFlagAttribute(bitString, index, &value, &valueLength);
    if (valueLength != 1) return missing;
    return Computed::Value({value});
}

bool IsPrivateKeyType(CIOObjectType type) { return type == kTypeRsaPrivateKey || type == kTypeEcPrivateKey; }
bool IsPublicKeyType(CIOObjectType type) { return type == kTypeRsaPublicKey || type == kTypeEcPublicKey; }

bool SameBytes(const std::vector<uint8_t>& a, const uint8_t* b, size_t bLength)
{
    return a.size() == bLength && (bLength == 0 || std::memcmp(a.data(), b, bLength) == 0);
}

// Big-endian value of 1 to 4 bytes, of which only the last two count.
std::optional<uint16_t> AlgorithmPosition(const HexBinary* value)
{
    if (value == nullptr || value->data == nullptr || value->length < 1 || value->length > 4) return std::nullopt;
    uint16_t result = 0;
    for (int32_t i = 0; i < value->length; ++i) result = static_cast<uint16_t>(result << 8 | value->data[i]);
    return result;
}

// The application identifier of the signature profile whose private keys
// keep their own decipher bit.
constexpr uint8_t kSigZepSignatureAid[] = {0xE8, 0x28, 0xBD, 0x08, 0x0F, 0x01, 'S', 'I',
                                           'G',  '_',  'Z',  'E',  'P',  '_',  '0', '1'};

Computed GetCommonObjectAttribute(const AttributeSource& source, CIOObject& object, CK_ATTRIBUTE_TYPE type)
{
    const CommonObjectAttributes* common = object.GetCommonObjectRecord();
    switch (type) {
    case CKA_LABEL:
        return common != nullptr ? StoredBytes(common->label) : Computed::Unavailable();
    case CKA_PRIVATE:
        return common != nullptr ? Flag(common->flags.get(), kObjectFlagPrivate) : Computed::Unavailable();
    case CKA_MODIFIABLE:
        return common != nullptr ? Flag(common->flags.get(), kObjectFlagModifiable) : Computed::Unavailable();
    case CKA_KEY_FILE_ID: {
        const RSAKeyAttributes* rsa = object.type == kTypeRsaPrivateKey ? object.AsRSAKeyAttributes() : nullptr;
        if (rsa == nullptr || !rsa->path || rsa->path->length < 1) return Computed::Unavailable();
        return Computed::Value({rsa->path->data[rsa->path->length - 1]});
    }
    case CKA_SECONDARY_AUTH: {
        if (CK_RV rv = source.ApplicationStatus(); rv != CKR_OK) return Computed::Error(rv);
        switch (source.cardProfile) {
        case SigZepEpProfile:
            return Computed::Unavailable();
        case DefaultProfile:
        case SigGProfile: {
            if (!IsPrivateKeyType(object.type)) return Computed::NotAnswered();
            if (common == nullptr || !common->authId || common->authId->length < 1) return Computed::Unavailable();
            const bool firstPin = common->authId->length == 1 && common->authId->data[0] == 0x01;
            return Bool(!firstPin);
        }
        default:
            LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true,
                       "Unknown card profile, cannot get CKA_SECONDARY_AUTH attribute");
            return Computed::Error(CKR_FUNCTION_FAILED);
        }
    }
    case CKA_ALWAYS_AUTHENTICATE:
        if (!IsPrivateKeyType(object.type)) return Computed::NotAnswered();
        // Any user consent means a PIN for every use of the key.
        return Bool(common != nullptr && common->userConsent && *common->userConsent >= 1);
    default:
        return Computed::NotAnswered();
    }
}

Computed AllowedMechanisms(const AttributeSource& source, const CommonKeyAttributes* key)
{
    if (key == nullptr) return Computed::Unavailable();
    if (source.ApplicationStatus() != CKR_OK) return Computed::Error(CKR_FUNCTION_FAILED);
    std::vector<CK_MECHANISM_TYPE> mechanisms;
    for (const auto& reference : key->algReference) {
        const std::optional<uint16_t> position = AlgorithmPosition(reference.get());
        // A reference outside the application's list names no mechanism.
        if (!position || *position >= source.algorithms.size()) continue;
        mechanisms.push_back(source.algorithms[*position]);
    }
    std::vector<uint8_t> bytes(mechanisms.size() * sizeof(CK_MECHANISM_TYPE));
    if (!bytes.empty()) std::memcpy(bytes.data(), mechanisms.data(), bytes.size());
    return Computed::Value(std::move(bytes));
}

// A key's date as CK_DATE: the YYYYMMDD that begins its GeneralizedTime.
Computed KeyDate(const std::unique_ptr<HexBinary>& time)
{
    if (!time || time->data == nullptr || time->length < 8) return Computed::Unavailable();
    return Computed::Value(std::vector<uint8_t>(time->data, time->data + 8));
}

Computed GetCommonKeyAttribute(const AttributeSource& source, CIOObject& object, CK_ATTRIBUTE_TYPE type)
{
    const CommonKeyAttributes* key = object.AsCommonKeyAttributes();
    const bool isPrivate = IsPrivateKeyType(object.type);
    const bool isPublic = IsPublicKeyType(object.type);
    const HexBinary* usage = key != nullptr ? key->usage.get() : nullptr;
    const HexBinary* access = key != nullptr ? key->accessFlags.get() : nullptr;
    const Computed wrongKind = Computed::Error(CKR_FUNCTION_FAILED);

    switch (type) {
    case CKA_ID:
        return key != nullptr ? StoredBytes(key->iD) : Computed::Unavailable();
    case CKA_NON_REPUDIATION:
        return Flag(usage, kUsageNonRepudiation, Computed::Error(CKR_FUNCTION_FAILED));
    case CKA_ENCRYPT:
        return isPublic ? Flag(usage, kUsageEncrypt) : wrongKind;
    case CKA_DECRYPT: {
        if (!isPrivate) return wrongKind;
        if (CK_RV rv = source.ApplicationStatus(); rv != CKR_OK) return Computed::Error(rv);
        if (source.cardProfile == SigZepEpProfile &&
            !SameBytes(source.applicationAid, kSigZepSignatureAid, sizeof(kSigZepSignatureAid))) {
            return Bool(true);
        }
        return Flag(usage, kUsageDecrypt);
    }
    case CKA_SIGN:
        return isPrivate ? Flag(usage, kUsageSign) : wrongKind;
    case CKA_SIGN_RECOVER:
        return isPrivate ? Flag(usage, kUsageSignRecover) : wrongKind;
    case CKA_WRAP:
        return isPublic ? Flag(usage, kUsageWrap) : wrongKind;
    case CKA_UNWRAP:
        return isPrivate ? Flag(usage, kUsageUnwrap) : wrongKind;
    case CKA_VERIFY:
        return isPublic ? Flag(usage, kUsageVerify) : wrongKind;
    case CKA_VERIFY_RECOVER:
        return isPublic ? Flag(usage, kUsageVerifyRecover) : wrongKind;
    case CKA_DERIVE:
        return Flag(usage, kUsageDerive);
    case CKA_START_DATE:
        return key != nullptr ? KeyDate(key->startDate) : Computed::Unavailable();
    case CKA_END_DATE:
        return key != nullptr ? KeyDate(key->endDate) : Computed::Unavailable();
    case CKA_SENSITIVE:
        return isPrivate ? Flag(access, kAccessSensitive) : wrongKind;
    case CKA_EXTRACTABLE:
        return isPrivate ? Flag(access, kAccessExtractable) : wrongKind;
    case CKA_ALWAYS_SENSITIVE:
        return isPrivate ? Flag(access, kAccessAlwaysSensitive) : wrongKind;
    case CKA_NEVER_EXTRACTABLE:
        return isPrivate ? Flag(access, kAccessNeverExtractable) : wrongKind;
    case CKA_LOCAL:
        return Flag(access, kAccessLocal, Computed::Error(CKR_FUNCTION_FAILED));
    case CKA_ALLOWED_MECHANISMS:
        return AllowedMechanisms(source, key);
    default:
        return Computed::NotAnswered();
    }
}

// Step 4-6 of the answer protocol.
CK_RV Answer(const Computed& computed, void* value, CK_ULONG* length, const char* objectKind,
             CK_ATTRIBUTE_TYPE type, bool privateKey)
{
    CK_RV rv = CKR_OK;
    switch (computed.kind) {
    case Computed::Kind::Value:
        return FillAttribute(computed.bytes.data(), computed.bytes.size(), value, length);
    case Computed::Kind::Unavailable:
        *length = CK_UNAVAILABLE_INFORMATION;
        return CKR_OK;
    case Computed::Kind::NotAnswered:
        if (privateKey) {
            LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, "Not supported Private Key attribute: %s",
                       CkaToString(type));
        } else {
            LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, "Not supported %s attribute: %08lX", objectKind, type);
        }
        rv = CKR_ATTRIBUTE_TYPE_INVALID;
        break;
    case Computed::Kind::Error:
        // An attribute that cannot be computed for this object is answered as
        // one the object does not have, for size queries too, so that the
        // usual two-call pattern over a whole template keeps working.
        rv = computed.rv == CKR_FUNCTION_FAILED ? CKR_ATTRIBUTE_TYPE_INVALID : computed.rv;
        break;
    }
    *length = CK_UNAVAILABLE_INFORMATION;
    if (privateKey) {
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, "Failed with attribute: %s", CkaToString(type));
    }
    return rv;
}

Computed PublicValue(const RsaPublicValues& values, CK_ATTRIBUTE_TYPE type)
{
    const std::vector<uint8_t>& bytes = type == CKA_MODULUS ? values.modulus : values.exponent;
    if (bytes.empty()) return Computed::Unavailable();
    return Computed::Value(bytes);
}

// Modulus or exponent of a private key, from its certificate or the card.
Computed PrivateKeyPublicValue(const AttributeSource& source, CIOObject& key, CK_ATTRIBUTE_TYPE type)
{
    if (CK_RV rv = source.ApplicationStatus(); rv != CKR_OK) return Computed::Error(rv);
    switch (source.cardProfile) {
    case DefaultProfile:
    case SigGProfile: {
        std::shared_ptr<Crypto::ParsedCertificate> parsed;
        if (CK_RV rv = FindKeyCertificate(source, key, parsed); rv != CKR_OK) {
            return Computed::Error(rv == CKR_DEVICE_ERROR || rv == CKR_TOKEN_NOT_PRESENT ? rv : CKR_FUNCTION_FAILED);
        }
        if (!parsed) return Computed::Unavailable();
        try {
            const Crypto::RsaKeyHolder publicKey = Crypto::GetCertificatePublicKey(*parsed);
            const auto bytes = type == CKA_MODULUS ? Crypto::GetRsaModulus(publicKey)
                                                   : Crypto::GetRsaExponent(publicKey);
            return BytesOf(bytes);
        } catch (...) {
            // Not an RSA key: no modulus to give.
            return Computed::Unavailable();
        }
    }
    case SigZepEpProfile:
    case QesEacProfile: {
        RsaPublicValues values;
        if (!source.findRsaPublicKey || source.findRsaPublicKey(key, values) != CKR_OK) return Computed::Unavailable();
        return PublicValue(values, type);
    }
    default:
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, "Unknown card profile, cannot get private key attributes");
        return Computed::Unavailable();
    }
}

Computed PublicKeyValue(const AttributeSource& source, CK_OBJECT_HANDLE handle, CIOObject& key,
                        CK_ATTRIBUTE_TYPE type)
{
    if (IsSessionHandle(handle)) {
        // A session key carries its values itself.
        const RSAKeyAttributes* rsa = key.AsRSAKeyAttributes();
        if (rsa == nullptr || !rsa->publicKey) return Computed::Unavailable();
        return BytesOf(type == CKA_MODULUS ? rsa->publicKey->modulus : rsa->publicKey->exponent);
    }
    RsaPublicValues values;
    if (!source.readPublicKey || source.readPublicKey(handle, values) != CKR_OK) return Computed::Unavailable();
    return PublicValue(values, type);
}

Computed CertificateField(const AttributeSource& source, CIOObject& object, CK_ATTRIBUTE_TYPE type)
{
    std::shared_ptr<Crypto::ParsedCertificate> parsed;
    if (CK_RV rv = LoadCertificate(source, object, parsed); rv != CKR_OK) return Computed::Error(rv);
    if (!parsed || !parsed->certificate) return Computed::Unavailable();
    try {
        switch (type) {
        case CKA_VALUE: return BytesOf(Crypto::GetCertificateEncoding(*parsed));
        case CKA_ISSUER: return BytesOf(Crypto::GetCertificateIssuerDn(*parsed));
        case CKA_SUBJECT: return BytesOf(Crypto::GetCertificateSubjectDn(*parsed));
        case CKA_SERIAL_NUMBER: return BytesOf(Crypto::GetCertificateSerial(*parsed));
        case CKA_START_DATE:
        case CKA_END_DATE: {
            const std::string text = type == CKA_START_DATE ? Crypto::GetCertificateNotBefore(*parsed)
                                                            : Crypto::GetCertificateNotAfter(*parsed);
            CK_DATE date{};
            if (!ConvertToData(text, &date)) return Computed::Unavailable();
            const auto* bytes = reinterpret_cast<const uint8_t*>(&date);
            return Computed::Value(std::vector<uint8_t>(bytes, bytes + sizeof(date)));
        }
        default: return Computed::NotAnswered();
        }
    } catch (...) {
        return Computed::Unavailable();
    }
}

}  // namespace

CK_RV UnavailableAttributeResult(CK_ATTRIBUTE_TYPE type)
{
    switch (type) {
    case CKA_PRIVATE_EXPONENT:
    case CKA_PRIME_1:
    case CKA_PRIME_2:
    case CKA_EXPONENT_1:
    case CKA_EXPONENT_2:
    case CKA_COEFFICIENT: return CKR_ATTRIBUTE_SENSITIVE;
    default: return CKR_ATTRIBUTE_TYPE_INVALID;
    }
}

CK_RV FillAttribute(const void* valueBytes, CK_ULONG valueLength, void* buffer, CK_ULONG* length)
{
    if (buffer == nullptr) {
        *length = valueLength;
        return CKR_OK;
    }
    if (*length < valueLength) {
        *length = CK_UNAVAILABLE_INFORMATION;
        return CKR_BUFFER_TOO_SMALL;
    }
    // A flag read into a wider variable reads as 0 or 1; bytes past a
    // CK_ULONG are left alone, so a length larger than the buffer really is
    // never written beyond the value.
    std::memset(buffer, 0, std::min<CK_ULONG>(*length, sizeof(CK_ULONG)));
    if (valueLength != 0) std::memcpy(buffer, valueBytes, valueLength);
    *length = valueLength;
    return CKR_OK;
}

CK_RV LoadCertificate(const AttributeSource& source, CIOObject& object,
                      std::shared_ptr<Crypto::ParsedCertificate>& certificate)
{
    certificate.reset();
    CertificateAttributes* attributes = object.AsCertificateAttributes();
    if (attributes == nullptr) return CKR_OK;
    if (!attributes->certificate) {
        if (!attributes->path || attributes->path->length < 1 || !source.readCertificate) return CKR_OK;
        std::shared_ptr<Crypto::ParsedCertificate> parsed;
        if (CK_RV rv = source.readCertificate(*attributes->path, parsed); rv != CKR_OK) return rv;
        // Kept in the object so that the card file is read once.
        attributes->certificate = std::move(parsed);
    }
    certificate = attributes->certificate;
    return CKR_OK;
}

CK_RV GetCertAttribute(const AttributeSource& source, CK_OBJECT_HANDLE handle, CIOObject* object,
                       CK_ATTRIBUTE_TYPE type, void* value, CK_ULONG* length)
{
    FunctionTrace trace("GetCertAttribute");
    if (object == nullptr) {
        *length = CK_UNAVAILABLE_INFORMATION;
        return trace.Result(CKR_OBJECT_HANDLE_INVALID);
    }
    Computed computed;
    switch (type) {
    case CKA_CLASS: computed = Ulong(CKO_CERTIFICATE); break;
    case CKA_TOKEN: computed = Bool(!IsSessionHandle(handle)); break;
    case CKA_CERTIFICATE_TYPE: computed = Ulong(CKC_X_509); break;
    case CKA_TRUSTED: computed = Bool(false); break;
    case CKA_ID: {
        const CommonCertificateAttributes* common = object->AsCommonCertificateAttributes();
        computed = common != nullptr ? StoredBytes(common->iD) : Computed::Unavailable();
        break;
    }
    case CKA_VALUE:
    case CKA_ISSUER:
    case CKA_SUBJECT:
    case CKA_SERIAL_NUMBER:
    case CKA_START_DATE:
    case CKA_END_DATE: computed = CertificateField(source, *object, type); break;
    case CKA_CERTIFICATE_CATEGORY:
    case CKA_JAVA_MIDP_SECURITY_DOMAIN:
    case CKA_URL:
    case CKA_HASH_OF_SUBJECT_PUBLIC_KEY:
    case CKA_HASH_OF_ISSUER_PUBLIC_KEY:
    case CKA_CHECK_VALUE: computed = Computed::Unavailable(); break;
    default: computed = GetCommonObjectAttribute(source, *object, type); break;
    }
    const CK_RV rv = Answer(computed, value, length, "Certificate", type, false);
    if (rv != CKR_OK) LOG_FAILED("GetCertAttribute", rv);
    return trace.Result(rv);
}

CK_RV GetPrivKeyAttribute(const AttributeSource& source, CK_OBJECT_HANDLE handle, CIOObject* object,
                          CK_ATTRIBUTE_TYPE type, void* value, CK_ULONG* length)
{
    FunctionTrace trace("GetPrivKeyAttribute");
    if (object == nullptr) {
        *length = CK_UNAVAILABLE_INFORMATION;
        return trace.Result(CKR_OBJECT_HANDLE_INVALID);
    }
    const bool isRsa = object->type == kTypeRsaPrivateKey;
    Computed computed;
    switch (type) {
    case CKA_CLASS: computed = Ulong(CKO_PRIVATE_KEY); break;
    case CKA_TOKEN: computed = Bool(true); break;
    case CKA_TRUSTED: computed = Bool(true); break;
    case CKA_KEY_TYPE: computed = Ulong(object->type == kTypeEcPrivateKey ? CKK_EC : CKK_RSA); break;
    case CKA_MODULUS_BITS: {
        // The modulus the key's public half has, where the card carries one:
        // the directory's figure may contradict it.
        const RSAKeyAttributes* rsa = isRsa ? object->AsRSAKeyAttributes() : nullptr;
        RsaPublicValues half;
        if (rsa == nullptr)
            computed = Computed::Unavailable();
        else
            computed = Ulong(GetKeyPublicHalf(source, *object, half) ? MagnitudeBits(half.modulus) : rsa->modulusLength);
        break;
    }
    case CKA_MODULUS:
    case CKA_PUBLIC_EXPONENT: computed = PrivateKeyPublicValue(source, *object, type); break;
    case CKA_SUBJECT:
    case CKA_PRIVATE_EXPONENT:
    case CKA_PRIME_1:
    case CKA_PRIME_2:
    case CKA_EXPONENT_1:
    case CKA_EXPONENT_2:
    case CKA_COEFFICIENT:
    case CKA_KEY_GEN_MECHANISM:
    case CKA_WRAP_WITH_TRUSTED:
    case CKA_UNWRAP_TEMPLATE: computed = Computed::Unavailable(); break;
    default:
        computed = GetCommonObjectAttribute(source, *object, type);
        if (computed.kind == Computed::Kind::NotAnswered) computed = GetCommonKeyAttribute(source, *object, type);
        break;
    }
    const CK_RV rv = Answer(computed, value, length, "Private Key", type, true);
    if (rv != CKR_OK) LOG_FAILED("GetPrivKeyAttribute", rv);
    return trace.Result(rv);
}

CK_RV GetPubKeyAttribute(const AttributeSource& source, CK_OBJECT_HANDLE handle, CIOObject* object,
                         CK_ATTRIBUTE_TYPE type, void* value, CK_ULONG* length)
{
    FunctionTrace trace("GetPubKeyAttribute");
    if (object == nullptr) {
        *length = CK_UNAVAILABLE_INFORMATION;
        return trace.Result(CKR_OBJECT_HANDLE_INVALID);
    }
    const bool isRsa = object->type == kTypeRsaPublicKey;
    Computed computed;
    switch (type) {
    case CKA_CLASS: computed = Ulong(CKO_PUBLIC_KEY); break;
    case CKA_TOKEN:
    case CKA_TRUSTED: computed = Bool(!IsSessionHandle(handle)); break;
    case CKA_KEY_TYPE: computed = Ulong(object->type == kTypeEcPublicKey ? CKK_EC : CKK_RSA); break;
    case CKA_MODULUS_BITS: {
        const RSAKeyAttributes* rsa = isRsa ? object->AsRSAKeyAttributes() : nullptr;
        if (rsa == nullptr) {
            computed = Computed::Error(CKR_FUNCTION_FAILED);
            break;
        }
        // As for a private key: the modulus where it can be had.
        const Computed modulus = PublicKeyValue(source, handle, *object, CKA_MODULUS);
        const bool held = modulus.kind == Computed::Kind::Value && MagnitudeBits(modulus.bytes) > 0;
        computed = Ulong(held ? MagnitudeBits(modulus.bytes) : rsa->modulusLength);
        break;
    }
    case CKA_MODULUS:
    case CKA_PUBLIC_EXPONENT:
        computed = isRsa ? PublicKeyValue(source, handle, *object, type) : Computed::Unavailable();
        break;
    case CKA_SUBJECT:
    case CKA_KEY_GEN_MECHANISM:
    case CKA_WRAP_TEMPLATE: computed = Computed::Unavailable(); break;
    default:
        computed = GetCommonObjectAttribute(source, *object, type);
        if (computed.kind == Computed::Kind::NotAnswered) computed = GetCommonKeyAttribute(source, *object, type);
        break;
    }
    const CK_RV rv = Answer(computed, value, length, "Public Key", type, false);
    if (rv != CKR_OK) LOG_FAILED("GetPubKeyAttribute", rv);
    return trace.Result(rv);
}

AttributeGetter GetAttributeGetter(CIOObjectType type)
{
    switch (type) {
    case kTypeRsaPrivateKey:
    case kTypeEcPrivateKey: return &GetPrivKeyAttribute;
    case kTypeRsaPublicKey:
    case kTypeEcPublicKey: return &GetPubKeyAttribute;
    case kTypeCertificate:
    case kTypeCertificate2: return &GetCertAttribute;
    default: return nullptr;
    }
}

AttributeSetter GetAttributeSetter(CIOObjectType type)
{
    switch (type) {
    case kTypeRsaPrivateKey:
    case kTypeEcPrivateKey: return &SetPrivKeyAttribute;
    case kTypeRsaPublicKey:
    case kTypeEcPublicKey: return &SetPubKeyAttribute;
    case kTypeCertificate:
    case kTypeCertificate2: return &SetCertAttribute;
    default: return nullptr;
    }
}

CK_RV GetExecuteFlag(const CIOObject* object, bool* flag)
{
    *flag = false;
    const CommonObjectAttributes* common = object != nullptr ? object->GetCommonObjectRecord() : nullptr;
    if (common == nullptr) return CKR_FUNCTION_FAILED;
    for (const AccessControlRule& rule : common->accessControlRules) {
        bool execute = false;
        if (rule.accessMode && GetFlagAtIndex(rule.accessMode->data, rule.accessMode->length, kAccessModeExecute,
                                              &execute) &&
            execute) {
            *flag = true;
            break;
        }
    }
    LogMessage(LOG_LEVEL_DATA, true, nullptr, 0, true, "execute flag: %s", *flag ? "TRUE" : "FALSE");
    return CKR_OK;
}

CK_MECHANISM_TYPE GetMechanismFromAlgorithmInfo(const uint8_t* algorithm, size_t length)
{
    if (algorithm == nullptr || (length != 1 && length != 2 && length != 4)) return 0xFFFFFFFFUL;
    CK_MECHANISM_TYPE value = 0;
    for (size_t i = 0; i < length; ++i) value = value << 8 | algorithm[i];
    return value;
}

bool ConvertToData(const std::string& text, CK_DATE* date)
{
    // year "/" month "/" day, a blank and the time; month and day may lack
    // their leading zero.
    const size_t blank = text.find(' ');
    if (blank == std::string::npos || blank < 8 || text[4] != '/') return false;
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    for (size_t i = 0; i < 4; ++i) {
        if (!digit(text[i])) return false;
    }
    const char month0 = text[6] != '/' ? text[5] : '0';
    const char month1 = text[6] != '/' ? text[6] : text[5];
    const char day0 = text[blank - 2] != '/' ? text[blank - 2] : '0';
    const char day1 = text[blank - 1];
    if (!digit(month0) || !digit(month1) || !digit(day0) || !digit(day1)) return false;
    std::memcpy(date->year, text.data(), 4);
    date->month[0] = static_cast<CK_CHAR>(month0);
    date->month[1] = static_cast<CK_CHAR>(month1);
    date->day[0] = static_cast<CK_CHAR>(day0);
    date->day[1] = static_cast<CK_CHAR>(day1);
    return true;
}

CK_RV CheckReservedId(const uint8_t* iD, CK_ULONG length)
{
    if (iD == nullptr || length != 4) return CKR_OK;
    if (iD[1] == 0xFF && iD[2] == 0xFF && iD[3] == 0xFF && iD[0] < 0x0B) return CKR_ATTRIBUTE_VALUE_INVALID;
    return CKR_OK;
}

}  // namespace Brelt::MW::Token
