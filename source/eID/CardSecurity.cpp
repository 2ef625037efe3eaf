#include "CardSecurity.h"

#include <botan/data_src.h>

#include "../ASN1Types.h"
#include "../X509Certificate.h"

namespace Brelt::Crypto::EIDStruct {

using ASN::ASN1Object;
using MW::Base::HexBinary;
using MW::Base::MWException;

namespace {

constexpr const char* kSource = ".\\source\\eID\\CardSecurity";

constexpr uint8_t kIdInteger = 0x02;
constexpr uint8_t kIdOctetString = 0x04;
constexpr uint8_t kIdOid = 0x06;
constexpr uint8_t kIdSequence = 0x30;
constexpr uint8_t kIdSet = 0x31;
constexpr uint8_t kIdContext0 = 0xA0;
constexpr uint8_t kIdContext1 = 0xA1;

[[noreturn]] void Throw(int32_t code, int line, const char* text) {
    throw MWException(code, MW::Base::ComposeExceptionMessage(kSource, line, text));
}

[[noreturn]] void ThrowInvalidFile() { Throw(100008, 92, "Invalid CardASecurity data"); }

uint8_t Identifier(const ASN1Object* node) {
    return static_cast<uint8_t>(node->GetTypeTag() + node->GetClassTag());
}

std::unique_ptr<ASN1Object> ParseNode(const HexBinary* encoding) {
    auto node = std::make_unique<ASN1Object>();
    node->Parse(encoding);
    return node;
}

HexBinaryPtr Encoded(const ASN1Object* node) { return HexBinaryPtr(node->GetEncoded()); }

// Appends every SecurityInfo the SET holds (other elements and unknown
// protocols are skipped).
void CollectSecurityInfos(const ASN1Object& set, SecurityInfoList& infos) {
    for (const ASN1Object* element : set.GetChildren()) {
        if (Identifier(element) != kIdSequence) continue;
        if (auto info = SecurityInfoBase::GetInstance(element)) infos.push_back(std::move(info));
    }
}

bool IsMalformedSecurityInfoCode(int32_t code) {
    return (code >= 100001 && code <= 100007) || (code >= 100011 && code <= 100014);
}

}  // namespace

// ---------------------------------------------------------------------------

EncapsulatedContentInfo::EncapsulatedContentInfo(const HexBinary* encoding) {
    try {
        const auto node = ParseNode(encoding);
        if (Identifier(node.get()) != kIdSequence) throw "not a SEQUENCE";
        const auto* type = dynamic_cast<const ASN::ASN1ObjectIdentifier*>(node->FindChild(kIdOid));
        if (!type) throw "no content type";
        eContentType_ = type->GetValue();
        const ASN1Object* wrapper = node->FindChild(kIdContext0);
        if (!wrapper) throw "no content";
        const auto children = wrapper->GetChildren();
        if (children.empty() || Identifier(children[0]) != kIdOctetString) throw "content is not an OCTET STRING";
        const HexBinaryPtr content(children[0]->GetValue());
        eContent_.CopyFrom(content.get());
        ASN::ASN1Set set;
        set.Parse(&eContent_);
        if (Identifier(&set) != kIdSet) throw "content is not a SET";
        CollectSecurityInfos(set, infos_);
    } catch (const MWException& e) {
        // A malformed security info keeps the code of its own class.
        if (IsMalformedSecurityInfoCode(e.code)) throw;
        Throw(100009, 52, "Cannot parse EFCardSecurity : EncapsulatedContentInfo input data");
    } catch (...) {
        Throw(100009, 52, "Cannot parse EFCardSecurity : EncapsulatedContentInfo input data");
    }
}

// ---------------------------------------------------------------------------

SignerInfo::SignerInfo(const HexBinary* encoding) {
    try {
        if (encoding) raw_.CopyFrom(encoding);
        const auto node = ParseNode(&raw_);
        if (Identifier(node.get()) != kIdSequence) throw "not a SEQUENCE";
        const auto children = node->GetChildren();
        if (children.size() < 5) throw "too few elements";
        if (const auto* version = dynamic_cast<const ASN::ASN1Integer*>(children[0])) version_ = version->GetUInt();
        const ASN1Object* sid = children[1];
        if (Identifier(sid) == kIdOctetString) {
            sid_.subjectKeyIdentifier.reset(sid->GetValue());
        } else if (Identifier(sid) == kIdSequence) {
            const ASN1Object* issuer = sid->FindChild(kIdSequence);
            const ASN1Object* serial = sid->FindChild(kIdInteger);
            if (!issuer || !serial) throw "incomplete issuer and serial number";
            sid_.issuer.reset(issuer->GetValue());
            sid_.serialNumber.reset(serial->GetValue());
        }
        digestAlgorithm_ = ParseAlgorithmIdentifier(children[2]);
        signatureAlgorithm_ = ParseAlgorithmIdentifier(children[3]);
        const HexBinaryPtr signature(children[4]->GetValue());
        signature_.CopyFrom(signature.get());
    } catch (...) {
        Throw(100010, 267, "Cannot parse EFCardSecurity.SignerInfo input data");
    }
}

// ---------------------------------------------------------------------------

CardSecurity::CardSecurity(const HexBinary* data) {
    if (!data || data->length <= 0 || !data->data) ThrowInvalidFile();

    std::unique_ptr<ASN1Object> signedData;
    try {
        signedData = ParseNode(data);
    } catch (...) {
        ThrowInvalidFile();
    }
    if (Identifier(signedData.get()) != kIdSequence) ThrowInvalidFile();
    const auto elements = signedData->GetChildren();
    // version, digestAlgorithms, encapContentInfo and signerInfos at least.
    if (elements.size() < 4) ThrowInvalidFile();

    const auto* version = dynamic_cast<const ASN::ASN1Integer*>(elements[0]);
    if (!version) ThrowInvalidFile();
    try {
        version_ = version->GetUInt();
        if (Identifier(elements[1]) == kIdSet) {
            for (const ASN1Object* algorithm : elements[1]->GetChildren())
                digestAlgorithms_.push_back(ParseAlgorithmIdentifier(algorithm));
        }
    } catch (...) {
        ThrowInvalidFile();
    }

    encapContentInfo_ = std::make_unique<EncapsulatedContentInfo>(Encoded(elements[2]).get());

    try {
        const ASN1Object* certificates = signedData->FindChild(kIdContext0);
        if (certificates) {
            const auto inner = certificates->GetChildren();
            if (!inner.empty() && Identifier(inner[0]) == kIdSet) {
                for (const ASN1Object* certificate : inner[0]->GetChildren()) {
                    CertificateHolder parsed = ParseCertificate(Encoded(certificate).get());
                    certificates_.push_back(*parsed->certificate);
                }
            }
        }
        const ASN1Object* crls = signedData->FindChild(kIdContext1);
        if (crls) {
            const auto inner = crls->GetChildren();
            if (!inner.empty() && Identifier(inner[0]) == kIdSet) {
                for (const ASN1Object* crl : inner[0]->GetChildren()) {
                    const HexBinaryPtr encoded = Encoded(crl);
                    Botan::DataSource_Memory source(encoded->data, static_cast<size_t>(encoded->length));
                    crls_.emplace_back(source);
                }
            }
        }
    } catch (...) {
        ThrowInvalidFile();
    }

    const ASN1Object* signers = elements.back();
    if (Identifier(signers) != kIdSet) ThrowInvalidFile();
    for (const ASN1Object* signer : signers->GetChildren())
        signerInfos_.push_back(std::make_unique<SignerInfo>(Encoded(signer).get()));

    raw_.CopyFrom(data);
}

CardSecurity::~CardSecurity() = default;

const SecurityInfoList* CardSecurity::SecurityInfos() const {
    return encapContentInfo_ ? &encapContentInfo_->GetSecurityInfos() : nullptr;
}

}  // namespace Brelt::Crypto::EIDStruct
