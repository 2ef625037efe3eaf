#include "token/CIOObject.h"

#include <exception>

#include "LogTrace.h"
#include "token/DerUtil.h"

namespace Brelt::MW::Token {

using Crypto::ASN::ASN1Object;
using MW::Base::HexBinary;

CIOObject::CIOObject(CIOObjectType objectType, uint32_t objectHandle, const HexBinary* entry)
    : type(objectType), handle(objectHandle)
{
    FunctionTrace trace("CIOObject::CIOObject");
    InitObjectAttributes();
    if (entry != nullptr && entry->length > 0) ParseEntry(*entry);
}

CIOObject::~CIOObject() = default;

void CIOObject::InitObjectAttributes()
{
    FunctionTrace trace("CIOObject::InitObjectAttributes");
    commonAttributes = std::make_unique<CommonObjectAttributes>();
    switch (type) {
    case kTypePin:
    case kTypeCvc: classAttributes = std::make_unique<CommonAuthObjectAttributes>(); break;
    case kTypeRsaPrivateKey:
    case kTypeEcPrivateKey:
    case kTypeRsaPublicKey:
    case kTypeEcPublicKey: classAttributes = std::make_unique<CommonKeyAttributes>(); break;
    case kTypeCertificate:
    case kTypeCertificate2: classAttributes = std::make_unique<CommonCertificateAttributes>(); break;
    case kTypeDataObject:
    case kTypeDataObject2: classAttributes = std::make_unique<CommonDCObjectAttributes>(); break;
    default: break;
    }
    switch (type) {
    case kTypePin: typeAttributes = std::make_unique<PasswordAttributes>(); break;
    case kTypeCvc: typeAttributes = std::make_unique<CVCAttributes>(); break;
    case kTypeRsaPrivateKey:
    case kTypeRsaPublicKey: typeAttributes = std::make_unique<RSAKeyAttributes>(); break;
    case kTypeEcPrivateKey:
    case kTypeEcPublicKey: typeAttributes = std::make_unique<ECKeyAttributes>(); break;
    case kTypeCertificate:
    case kTypeCertificate2: typeAttributes = std::make_unique<CertificateAttributes>(); break;
    case kTypeDataObject: typeAttributes = std::make_unique<OpaqueDOAttributes>(); break;
    default: break;
    }
}

CK_RV CIOObject::GetASN(HexBinary&) const
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}

bool CIOObject::EncodeFields(std::vector<uint8_t>&) const
{
    return false;
}

void CIOObject::KeepOriginalEntry(const HexBinary& entry)
{
    originalEntry_ = std::make_unique<HexBinary>(entry);
    loadedEncoding_.clear();
    hasLoadedEncoding_ = EncodeFields(loadedEncoding_);
}

CK_RV CIOObject::WriteBack(HexBinary& out) const
{
    std::vector<uint8_t> fresh;
    const bool encoded = EncodeFields(fresh);
    if (originalEntry_ && (!hasLoadedEncoding_ || (encoded && fresh == loadedEncoding_))) {
        out.CopyFrom(originalEntry_.get());
        return CKR_OK;
    }
    if (!encoded) return CKR_FUNCTION_NOT_SUPPORTED;
    out = HexBinary(fresh.data(), static_cast<int32_t>(fresh.size()), true);
    return CKR_OK;
}

CommonKeyAttributes* CIOObject::AsCommonKeyAttributes() const
{
    return dynamic_cast<CommonKeyAttributes*>(classAttributes.get());
}

CommonAuthObjectAttributes* CIOObject::GetCommonAuthObjectAttributes() const
{
    return dynamic_cast<CommonAuthObjectAttributes*>(classAttributes.get());
}

CommonCertificateAttributes* CIOObject::AsCommonCertificateAttributes() const
{
    return dynamic_cast<CommonCertificateAttributes*>(classAttributes.get());
}

PasswordAttributes* CIOObject::AsPasswordAttributes() const
{
    return dynamic_cast<PasswordAttributes*>(typeAttributes.get());
}

RSAKeyAttributes* CIOObject::AsRSAKeyAttributes() const
{
    return dynamic_cast<RSAKeyAttributes*>(typeAttributes.get());
}

ECKeyAttributes* CIOObject::AsECKeyAttributes() const
{
    return dynamic_cast<ECKeyAttributes*>(typeAttributes.get());
}

CertificateAttributes* CIOObject::AsCertificateAttributes() const
{
    return dynamic_cast<CertificateAttributes*>(typeAttributes.get());
}

PINAuthenticationObject::PINAuthenticationObject(uint32_t h, const HexBinary* entry) : CIOObject(kTypePin, h, entry) {}

CK_RV PINAuthenticationObject::GetASN(HexBinary& out) const
{
    FunctionTrace trace("PINAuthenticationObject::GetASN");
    if (OriginalEntry() == nullptr) return trace.Result(CKR_FUNCTION_NOT_SUPPORTED);
    out.CopyFrom(OriginalEntry());
    return trace.Result(CKR_OK);
}

CVCAuthenticationObject::CVCAuthenticationObject(uint32_t h, const HexBinary* entry) : CIOObject(kTypeCvc, h, entry) {}

RSAPrvKeyObject::RSAPrvKeyObject(uint32_t h, const HexBinary* entry) : CIOObject(kTypeRsaPrivateKey, h, entry) {}

ECPrvKeyObject::ECPrvKeyObject(uint32_t h, const HexBinary* entry) : CIOObject(kTypeEcPrivateKey, h, entry) {}

RSAPubKeyObject::RSAPubKeyObject() : CIOObject(kTypeRsaPublicKey, 0, nullptr) {}

RSAPubKeyObject::RSAPubKeyObject(uint32_t h, const HexBinary* entry) : CIOObject(kTypeRsaPublicKey, h, entry) {}

ECPubKeyObject::ECPubKeyObject(uint32_t h, const HexBinary* entry) : CIOObject(kTypeEcPublicKey, h, entry) {}

CertificateObject::CertificateObject(uint32_t h, const HexBinary* entry) : CIOObject(kTypeCertificate, h, entry) {}

OpaqueDataObject::OpaqueDataObject(uint32_t h, const HexBinary* entry) : CIOObject(kTypeDataObject, h, entry) {}

namespace {

// Outer tag byte of the entries of each kind.
uint8_t EntryTagOfKind(CioFileKind kind)
{
    switch (kind) {
    case kKindCvc: return 0xA2;
    case kKindEcPrivateKey:
    case kKindEcPublicKey: return 0xA0;
    default: return 0x30;
    }
}

std::unique_ptr<CIOObject> MakeObject(CioFileKind kind, uint32_t handle, const HexBinary* der)
{
    switch (kind) {
    case kKindPin: return std::make_unique<PINAuthenticationObject>(handle, der);
    case kKindCvc: return std::make_unique<CVCAuthenticationObject>(handle, der);
    case kKindRsaPrivateKey: return std::make_unique<RSAPrvKeyObject>(handle, der);
    case kKindRsaPublicKey: return std::make_unique<RSAPubKeyObject>(handle, der);
    case kKindEcPrivateKey: return std::make_unique<ECPrvKeyObject>(handle, der);
    case kKindEcPublicKey: return std::make_unique<ECPubKeyObject>(handle, der);
    case kKindCertificate: return std::make_unique<CertificateObject>(handle, der);
    case kKindDataObject: return std::make_unique<OpaqueDataObject>(handle, der);
    default: return nullptr;
    }
}

}  // namespace

CK_RV CreateCIOObject(std::unique_ptr<CIOObject>& out, const ASN1Object& entry, const CIOObjectList& list,
                      uint32_t cardProfile)
{
    // Reset first, so a caller reusing one holder never gets an earlier object back.
    out.reset();
    try {
        const std::unique_ptr<HexBinary> der(entry.GetEncoded());
        if (!der || der->length < 1) return CKR_OK;
        const CioFileKind kind = list.kind;
        if (kind < kFirstKind || kind > kLastKind) return CKR_OK;
        if (der->data[0] != EntryTagOfKind(kind)) return CKR_OK;

        const uint32_t handle = (kind << 16) | static_cast<uint32_t>(list.objects.size());
        const bool wrapped = kind == kKindEcPrivateKey && cardProfile == QesEacProfile;
        std::unique_ptr<CIOObject> object;
        if (wrapped) {
            const auto inner = Der::ContentOf(entry);
            object = MakeObject(kind, handle, inner.get());
        } else {
            object = MakeObject(kind, handle, der.get());
        }
        object->SetWrappedEntry(wrapped);
        object->KeepOriginalEntry(*der);
        out = std::move(object);
        return CKR_OK;
    } catch (const char*) {
    } catch (const std::exception&) {
    } catch (const MW::Base::MWException&) {
    }
    LOG_FAILED("CreateCIOObject", CKR_ARGUMENTS_BAD);
    return CKR_ARGUMENTS_BAD;
}

void DeleteSessionObjects(CIOObjectLists* lists)
{
    if (lists == nullptr) return;
    lists->clear();
}

}  // namespace Brelt::MW::Token
