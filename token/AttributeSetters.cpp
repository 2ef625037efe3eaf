// The settable attributes of keys and certificates. Values are always read
// by copy: the caller's template is never written.

#include <cstring>
#include <exception>

#include "LogNames.h"
#include "LogTrace.h"
#include "X509Certificate.h"
#include "token/AttributeGetters.h"
#include "token/BitStringFlags.h"

namespace Brelt::MW::Token {

using MW::Base::HexBinary;

namespace {

constexpr CK_ULONG kMaxLabelOrIdLength = 255;
// RFC 5280 limits certificate serial numbers to 20 octets.
constexpr int32_t kMaxSerialLength = 20;

enum class Kind { Certificate, PrivateKey, PublicKey };

const char* KindName(Kind kind)
{
    switch (kind) {
    case Kind::Certificate: return "Certificate";
    case Kind::PrivateKey: return "Private Key";
    default: return "Public Key";
    }
}

bool ReadBool(const void* value, CK_ULONG length, bool* out)
{
    if (value == nullptr || length != sizeof(CK_BBOOL)) return false;
    *out = *static_cast<const CK_BBOOL*>(value) != CK_FALSE;
    return true;
}

bool ReadUlong(const void* value, CK_ULONG length, CK_ULONG* out)
{
    if (value == nullptr || length != sizeof(CK_ULONG)) return false;
    std::memcpy(out, value, sizeof(CK_ULONG));
    return true;
}

std::unique_ptr<HexBinary> CopyOf(const void* value, CK_ULONG length)
{
    if (value == nullptr || length == 0) return nullptr;
    return std::make_unique<HexBinary>(static_cast<const unsigned char*>(value), static_cast<int32_t>(length), true);
}

CK_RV MustBeUlong(const void* value, CK_ULONG length, CK_ULONG expected)
{
    CK_ULONG actual = 0;
    return ReadUlong(value, length, &actual) && actual == expected ? CKR_OK : CKR_ATTRIBUTE_VALUE_INVALID;
}

CK_RV MustBeBool(const void* value, CK_ULONG length, bool expected)
{
    bool actual = false;
    return ReadBool(value, length, &actual) && actual == expected ? CKR_OK : CKR_ATTRIBUTE_VALUE_INVALID;
}

CK_RV SetFlagFrom(const void* value, CK_ULONG length, uint32_t index, HexBinary* bitString)
{
    bool flag = false;
    if (!ReadBool(value, length, &flag)) return CKR_ATTRIBUTE_VALUE_INVALID;
    return SetFlagAttribute(index, flag, bitString);
}

HexBinary* ObjectFlags(CIOObject& object)
{
    CommonObjectAttributes* common = object.GetCommonObjectRecord();
    return common != nullptr ? common->flags.get() : nullptr;
}

CK_RV SetLabel(CIOObject& object, const void* value, CK_ULONG length)
{
    if (length > kMaxLabelOrIdLength || (value == nullptr && length != 0)) return CKR_ATTRIBUTE_VALUE_INVALID;
    if (CommonObjectAttributes* common = object.GetCommonObjectRecord()) common->label = CopyOf(value, length);
    return CKR_OK;
}

CK_RV SetId(CIOObject& object, Kind kind, const void* value, CK_ULONG length)
{
    if (length > kMaxLabelOrIdLength || (value == nullptr && length != 0)) return CKR_ATTRIBUTE_VALUE_INVALID;
    if (kind == Kind::Certificate) {
        if (CommonCertificateAttributes* common = object.AsCommonCertificateAttributes()) {
            common->iD = CopyOf(value, length);
        }
        return CKR_OK;
    }
    if (CK_RV rv = CheckReservedId(static_cast<const uint8_t*>(value), length); rv != CKR_OK) return rv;
    if (CommonKeyAttributes* key = object.AsCommonKeyAttributes()) key->iD = CopyOf(value, length);
    return CKR_OK;
}

CK_RV SetModulusBits(CIOObject& object, const void* value, CK_ULONG length)
{
    CK_ULONG bits = 0;
    if (!ReadUlong(value, length, &bits) || bits > 0xFFFF) return CKR_ATTRIBUTE_VALUE_INVALID;
    if (RSAKeyAttributes* rsa = object.AsRSAKeyAttributes()) rsa->modulusLength = static_cast<uint32_t>(bits);
    return CKR_OK;
}

CK_RV SetCertificateValue(CIOObject& object, const void* value, CK_ULONG length)
{
    CertificateAttributes* attributes = object.AsCertificateAttributes();
    if (value == nullptr || length == 0 || length > 0xFFFF) return CKR_ATTRIBUTE_VALUE_INVALID;
    try {
        const HexBinary der(static_cast<const unsigned char*>(value), static_cast<int32_t>(length), true);
        Crypto::CertificateHolder parsed = Crypto::ParseCertificate(&der);
        const auto serial = Crypto::GetCertificateSerial(parsed);
        if (!serial || serial->length > kMaxSerialLength) return CKR_ATTRIBUTE_VALUE_INVALID;
        if (attributes != nullptr) attributes->certificate = std::shared_ptr<Crypto::ParsedCertificate>(std::move(parsed));
    } catch (...) {
        return CKR_ATTRIBUTE_VALUE_INVALID;
    }
    return CKR_OK;
}

CK_RV SetInternal(CIOObject& object, Kind kind, CK_ATTRIBUTE_TYPE type, const void* value, CK_ULONG length,
                  bool* handled)
{
    *handled = true;
    CommonKeyAttributes* key = object.AsCommonKeyAttributes();
    switch (type) {
    case CKA_CLASS:
        return MustBeUlong(value, length,
                           kind == Kind::Certificate ? CKO_CERTIFICATE
                                                     : kind == Kind::PrivateKey ? CKO_PRIVATE_KEY : CKO_PUBLIC_KEY);
    case CKA_TOKEN:
        return MustBeBool(value, length, kind != Kind::PublicKey);
    case CKA_PRIVATE:
        return SetFlagFrom(value, length, kObjectFlagPrivate, ObjectFlags(object));
    case CKA_MODIFIABLE:
        if (kind == Kind::Certificate) {
            if (CK_RV rv = MustBeBool(value, length, false); rv != CKR_OK) return rv;
            return SetFlagAttribute(kObjectFlagModifiable, false, ObjectFlags(object));
        }
        return SetFlagFrom(value, length, kObjectFlagModifiable, ObjectFlags(object));
    default:
        break;
    }
    if (kind == Kind::Certificate) {
        switch (type) {
        case CKA_CERTIFICATE_TYPE: return MustBeUlong(value, length, CKC_X_509);
        case CKA_TRUSTED: return MustBeBool(value, length, false);
        case CKA_VALUE: return SetCertificateValue(object, value, length);
        default: break;
        }
    } else {
        switch (type) {
        case CKA_KEY_TYPE: return MustBeUlong(value, length, CKK_RSA);
        case CKA_MODULUS_BITS: return SetModulusBits(object, value, length);
        case CKA_LOCAL:
            if (kind == Kind::PrivateKey) {
                if (CK_RV rv = MustBeBool(value, length, true); rv != CKR_OK) return rv;
                return SetFlagAttribute(kAccessLocal, true, key != nullptr ? key->accessFlags.get() : nullptr);
            }
            return SetFlagFrom(value, length, kAccessLocal, key != nullptr ? key->accessFlags.get() : nullptr);
        case CKA_VERIFY:
            if (kind == Kind::PublicKey) {
                return SetFlagFrom(value, length, kUsageVerify, key != nullptr ? key->usage.get() : nullptr);
            }
            break;
        default: break;
        }
    }
    *handled = false;
    return CKR_ATTRIBUTE_TYPE_INVALID;
}

CK_RV SetAttribute(const char* function, Kind kind, CIOObject* object, CK_ATTRIBUTE_TYPE type, const void* value,
                   CK_ULONG length, bool internal)
{
    FunctionTrace trace(function);
    if (object == nullptr) return trace.Result(CKR_OBJECT_HANDLE_INVALID);
    CK_RV rv = CKR_ATTRIBUTE_TYPE_INVALID;
    bool handled = true;
    if (type == CKA_LABEL) {
        rv = SetLabel(*object, value, length);
    } else if (type == CKA_ID) {
        rv = SetId(*object, kind, value, length);
    } else if (internal) {
        rv = SetInternal(*object, kind, type, value, length, &handled);
    } else {
        handled = false;
    }
    if (!handled) {
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, internal ? "Not supported %s internal attribute: %08lX"
                                                                      : "Not supported %s attribute: %08lX",
                   KindName(kind), type);
        rv = CKR_ATTRIBUTE_TYPE_INVALID;
    }
    if (rv != CKR_OK) LOG_FAILED(function, rv);
    return trace.Result(rv);
}

}  // namespace

CK_RV SetPrivKeyAttribute(CIOObject* object, CK_ATTRIBUTE_TYPE type, const void* value, CK_ULONG length,
                          bool internal)
{
    return SetAttribute("SetPrivKeyAttribute", Kind::PrivateKey, object, type, value, length, internal);
}

CK_RV SetPubKeyAttribute(CIOObject* object, CK_ATTRIBUTE_TYPE type, const void* value, CK_ULONG length,
                         bool internal)
{
    return SetAttribute("SetPubKeyAttribute", Kind::PublicKey, object, type, value, length, internal);
}

CK_RV SetCertAttribute(CIOObject* object, CK_ATTRIBUTE_TYPE type, const void* value, CK_ULONG length,
                       bool internal)
{
    return SetAttribute("SetCertAttribute", Kind::Certificate, object, type, value, length, internal);
}

}  // namespace Brelt::MW::Token
