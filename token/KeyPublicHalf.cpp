#include "token/KeyPublicHalf.h"

#include <botan/rsa.h>

#include "RsaKey.h"
#include "token/AttributeGetters.h"

namespace Brelt::MW::Token {

namespace {

bool SameId(const MW::Base::HexBinary* a, const std::unique_ptr<MW::Base::HexBinary>& b)
{
    return a != nullptr && b && b->Equals(a);
}

bool CertificateHalf(const AttributeSource& source, const CIOObject& key, RsaPublicValues& out)
{
    std::shared_ptr<Crypto::ParsedCertificate> parsed;
    if (FindKeyCertificate(source, key, parsed) != CKR_OK || !parsed) return false;
    try {
        const Crypto::RsaKeyHolder publicKey = Crypto::GetCertificatePublicKey(*parsed);
        const auto modulus = Crypto::GetRsaModulus(publicKey);
        const auto exponent = Crypto::GetRsaExponent(publicKey);
        out.modulus.assign(modulus->data, modulus->data + modulus->length);
        out.exponent.assign(exponent->data, exponent->data + exponent->length);
        return true;
    } catch (...) {
        // Not an RSA key.
        return false;
    }
}

bool PublicKeyObjectHalf(const AttributeSource& source, const CIOObject& key, RsaPublicValues& out)
{
    const CommonKeyAttributes* keyAttributes = key.AsCommonKeyAttributes();
    if (keyAttributes == nullptr || !keyAttributes->iD || !source.readPublicKey || source.tokenObjects == nullptr)
        return false;
    for (const auto& list : *source.tokenObjects) {
        if (!list || list->kind != kKindRsaPublicKey) continue;
        for (const auto& object : list->objects) {
            const CommonKeyAttributes* attributes = object ? object->AsCommonKeyAttributes() : nullptr;
            if (attributes == nullptr || !SameId(keyAttributes->iD.get(), attributes->iD)) continue;
            return source.readPublicKey(object->handle, out) == CKR_OK && !out.modulus.empty() &&
                   !out.exponent.empty();
        }
    }
    return false;
}

}  // namespace

CK_RV FindKeyCertificate(const AttributeSource& source, const CIOObject& key,
                         std::shared_ptr<Crypto::ParsedCertificate>& certificate)
{
    certificate.reset();
    const CommonKeyAttributes* keyAttributes = key.AsCommonKeyAttributes();
    if (keyAttributes == nullptr || !keyAttributes->iD || source.tokenObjects == nullptr) return CKR_OK;
    for (const auto& list : *source.tokenObjects) {
        if (!list || list->kind != kKindCertificate) continue;
        for (const auto& object : list->objects) {
            const CommonCertificateAttributes* attributes = object ? object->AsCommonCertificateAttributes() : nullptr;
            if (attributes == nullptr || !SameId(keyAttributes->iD.get(), attributes->iD)) continue;
            return LoadCertificate(source, *object, certificate);
        }
        // Only the first certificate list counts.
        break;
    }
    return CKR_OK;
}

bool GetKeyPublicHalf(const AttributeSource& source, const CIOObject& key, RsaPublicValues& out)
{
    out = {};
    if (key.type != kTypeRsaPrivateKey || source.ApplicationStatus() != CKR_OK) return false;
    switch (source.cardProfile) {
    case DefaultProfile:
    case SigGProfile:
        if (CertificateHalf(source, key, out)) return true;
        out = {};
        return PublicKeyObjectHalf(source, key, out);
    case SigZepEpProfile:
    case QesEacProfile:
        return source.findRsaPublicKey && source.findRsaPublicKey(key, out) == CKR_OK && !out.modulus.empty() &&
               !out.exponent.empty();
    default:
        return false;
    }
}

uint32_t MagnitudeBits(const std::vector<uint8_t>& magnitude)
{
    size_t first = 0;
    while (first < magnitude.size() && magnitude[first] == 0) ++first;
    if (first == magnitude.size()) return 0;
    uint32_t bits = static_cast<uint32_t>((magnitude.size() - first - 1) * 8);
    for (uint8_t top = magnitude[first]; top != 0; top >>= 1) ++bits;
    return bits;
}

}  // namespace Brelt::MW::Token
