#include "SecurityInfos.h"

#include <botan/alg_id.h>
#include <botan/ber_dec.h>

#include <array>
#include <cstring>
#include <functional>

#include "../ASN1Types.h"
#include "../ILogger.h"

namespace Brelt::Crypto::EIDStruct {

using ASN::ASN1Object;
using MW::Base::HexBinary;
using MW::Base::MWException;

namespace {

constexpr const char* kSource = ".\\source\\eID\\SecurityInfos";

constexpr uint8_t kIdInteger = 0x02;
constexpr uint8_t kIdBitString = 0x03;
constexpr uint8_t kIdOctetString = 0x04;
constexpr uint8_t kIdOid = 0x06;
constexpr uint8_t kIdPrintableString = 0x13;
constexpr uint8_t kIdIa5String = 0x16;
constexpr uint8_t kIdBoolean = 0x01;
constexpr uint8_t kIdSequence = 0x30;

// The error each class reports for a malformed entry.
struct ParseError {
    int32_t code;
    int line;
    const char* text;
};

constexpr ParseError kPaceInfoError{100001, 287, "Cannot parse PACEInfo input data"};
constexpr ParseError kPaceDomainError{100002, 322, "Cannot parse PACEDomainParameterInfo input data"};
constexpr ParseError kCaInfoError{100003, 360, "Cannot parse Chip authentication info input data"};
constexpr ParseError kCaDomainError{100004, 394, "Cannot parse ChipAuthenticationDomainParameterInfo input data"};
constexpr ParseError kTaInfoError{100005, 427, "Cannot parse TerminalAuthenticationInfo input data"};
constexpr ParseError kCardInfoLocatorError{100006, 463, "Cannot parse CardInfoLocator input data"};
constexpr ParseError kPinInfoError{100007, 495, "Cannot parse PinInfo input data"};
constexpr ParseError kRiInfoError{100011, 549, "Cannot parse RestrictedIdentificationInfo input data"};
constexpr ParseError kRiDomainError{100012, 582,
                                    "Cannot parse RestrictedIdentificationDomainParameterInfo input data"};
constexpr ParseError kCaPublicKeyError{100013, 616, "Cannot parse ChipAuthenticationPublicKeyInfo input data"};
constexpr ParseError kEidSecurityError{100014, 653, "Cannot parse EidSecurityInfo input data"};

constexpr int kMissingOidLogLine = 180;

// Runs `parse`; whatever it throws becomes the class's MWException.
void ParseOrThrow(const ParseError& error, const std::function<void()>& parse) {
    try {
        parse();
    } catch (...) {
        throw MWException(error.code, MW::Base::ComposeExceptionMessage(kSource, error.line, error.text));
    }
}

uint8_t Identifier(const ASN1Object* node) {
    return static_cast<uint8_t>(node->GetTypeTag() + node->GetClassTag());
}

// Element `index` of `children`, which must carry `identifier`.
const ASN1Object* ElementAt(const std::vector<ASN1Object*>& children, size_t index, uint8_t identifier) {
    if (index >= children.size()) throw "missing element";
    const ASN1Object* node = children[index];
    if (Identifier(node) != identifier) throw "element of the wrong type";
    return node;
}

// First child with `identifier`; a missing one is a failure.
const ASN1Object* RequiredChild(const ASN1Object& parent, uint8_t identifier) {
    const ASN1Object* node = parent.FindChild(identifier);
    if (!node) throw "missing element";
    return node;
}

uint32_t ReadUInt(const ASN1Object* node) {
    const auto* integer = dynamic_cast<const ASN::ASN1Integer*>(node);
    if (!integer) throw "not an INTEGER";
    return integer->GetUInt();
}

HexBinaryPtr ContentsOf(const ASN1Object* node) {
    return HexBinaryPtr(node->GetValue());
}

std::unique_ptr<ASN1Object> ParseNode(const HexBinary& encoding) {
    auto node = std::make_unique<ASN1Object>();
    node->Parse(&encoding);
    return node;
}

std::unique_ptr<ASN1Object> ParseSequenceOf(const HexBinary& encoding) {
    auto node = ParseNode(encoding);
    if (Identifier(node.get()) != kIdSequence) throw "not a SEQUENCE";
    return node;
}

FileID ParseFileID(const ASN1Object* node) {
    if (Identifier(node) != kIdSequence) throw "FileID is not a SEQUENCE";
    const auto children = node->GetChildren();
    FileID file;
    file.fid = ContentsOf(ElementAt(children, 0, kIdOctetString));
    if (children.size() == 2) file.sfid = ContentsOf(ElementAt(children, 1, kIdOctetString));
    if (children.size() > 2) throw "FileID has too many elements";
    return file;
}

ProtocolParams ParseProtocolParams(const ASN1Object* node) {
    const auto children = node->GetChildren();
    if (children.size() != 3) throw "ProtocolParams needs three elements";
    ProtocolParams params;
    params.version = ReadUInt(ElementAt(children, 0, kIdInteger));
    params.keyId = ReadUInt(ElementAt(children, 1, kIdInteger));
    const auto* flag = dynamic_cast<const ASN::ASN1Boolean*>(ElementAt(children, 2, kIdBoolean));
    if (!flag || flag->Contents().size() != 1) throw "not a BOOLEAN";
    params.authorizedOnly = flag->GetValue();
    return params;
}

SubjectPublicKeyInfo ParseSubjectPublicKeyInfo(const ASN1Object* node) {
    if (Identifier(node) != kIdSequence) throw "SubjectPublicKeyInfo is not a SEQUENCE";
    const auto children = node->GetChildren();
    if (children.size() != 2) throw "SubjectPublicKeyInfo needs two elements";
    SubjectPublicKeyInfo info;
    info.algorithm = ParseAlgorithmIdentifier(children[0]);
    const auto* key = dynamic_cast<const ASN::ASN1BitString*>(ElementAt(children, 1, kIdBitString));
    if (!key || key->Contents().empty()) throw "not a BIT STRING";
    info.publicKey.reset(key->GetValue());
    return info;
}

EIDSecurityObject ParseEIDSecurityObject(const ASN1Object* node) {
    if (Identifier(node) != kIdSequence) throw "EIDSecurityObject is not a SEQUENCE";
    const auto children = node->GetChildren();
    EIDSecurityObject object;
    object.hashAlgorithm = ParseAlgorithmIdentifier(ElementAt(children, 0, kIdSequence));
    for (const ASN1Object* entry : ElementAt(children, 1, kIdSequence)->GetChildren()) {
        if (Identifier(entry) != kIdSequence) throw "DataGroupHash is not a SEQUENCE";
        const auto fields = entry->GetChildren();
        DataGroupHash hash;
        hash.dataGroupNumber = ReadUInt(ElementAt(fields, 0, kIdInteger));
        hash.dataGroupHashValue = ContentsOf(ElementAt(fields, 1, kIdOctetString));
        object.dataGroupHashValues.push_back(std::move(hash));
    }
    return object;
}

const char* CurveForStandardizedId(uint32_t id) {
    switch (id) {
        case 9: return kOidBrainpoolP192r1;
        case 11: return kOidBrainpoolP224r1;
        case 13: return kOidBrainpoolP256r1;
        case 14: return kOidBrainpoolP320r1;
        case 16: return kOidBrainpoolP384r1;
        case 17: return kOidBrainpoolP512r1;
        default: return nullptr;
    }
}

}  // namespace

AlgorithmIdentifierData ParseAlgorithmIdentifier(const ASN1Object* node) {
    if (!node || Identifier(node) != kIdSequence) throw "AlgorithmIdentifier is not a SEQUENCE";
    const HexBinaryPtr encoding(node->GetEncoded());
    Botan::AlgorithmIdentifier identifier;
    Botan::BER_Decoder decoder(encoding->data, static_cast<size_t>(encoding->length));
    decoder.decode(identifier).verify_end();
    AlgorithmIdentifierData data;
    data.algorithm = identifier.get_oid().to_string();
    const std::vector<uint8_t>& parameters = identifier.get_parameters();
    data.parameters = std::make_unique<HexBinary>(parameters.data(), static_cast<int32_t>(parameters.size()), true);
    return data;
}

std::unique_ptr<EcDomain> GetDomainParameters(const AlgorithmIdentifierData& algorithm) {
    const HexBinary empty;
    const HexBinary& parameters = algorithm.parameters ? *algorithm.parameters : empty;
    const char* curve = nullptr;
    if (algorithm.algorithm == kOidStandardizedDomainParameters) {
        try {
            ASN::ASN1Integer identifier;
            identifier.Parse(&parameters);
            if (Identifier(&identifier) == kIdInteger) curve = CurveForStandardizedId(identifier.GetUInt());
        } catch (...) {
            curve = nullptr;  // not an identifier: read as explicit parameters below
        }
    }
    if (curve) return std::make_unique<EcDomain>(std::string(curve));
    return std::make_unique<EcDomain>(&parameters);
}

// ---------------------------------------------------------------------------

SecurityInfoBase::SecurityInfoBase(const HexBinary* encoding) {
    if (encoding) raw_.CopyFrom(encoding);
}

SecurityInfoBase::~SecurityInfoBase() = default;

HexBinary* SecurityInfoBase::GetRawData() const { return new HexBinary(raw_); }

std::unique_ptr<ASN1Object> SecurityInfoBase::ParseSequence(size_t maxElements) {
    auto node = ParseSequenceOf(raw_);
    if (node->GetChildren().size() > maxElements) throw "too many elements";
    const auto* oid = dynamic_cast<const ASN::ASN1ObjectIdentifier*>(RequiredChild(*node, kIdOid));
    if (!oid) throw "no protocol OID";
    protocol_ = oid->GetValue();
    return node;
}

namespace {

using Factory = std::unique_ptr<SecurityInfoBase> (*)(const HexBinary*);

template <typename T>
std::unique_ptr<SecurityInfoBase> Make(const HexBinary* encoding) {
    return std::make_unique<T>(encoding);
}

struct ProtocolEntry {
    const char* oid;
    uint32_t type;
    Factory make;
};

// In the order the protocols are tried.
const std::array<ProtocolEntry, 13> kProtocols{{
    {kOidPaceEcdhGmAes128, kTypePACEInfo, &Make<PACEInfo>},
    {kOidPaceEcdh, kTypePACEDomainParameterInfo, &Make<PACEDomainParameterInfo>},
    {kOidCaEcdh3Des, kTypeChipAuthenticationInfo, &Make<ChipAuthenticationInfo>},
    {kOidCaEcdh, kTypeChipAuthenticationDomainParameterInfo, &Make<ChipAuthenticationDomainParameterInfo>},
    {kOidPkEcdh, kTypeChipAuthenticationPublicKeyInfo, &Make<ChipAuthenticationPublicKeyInfo>},
    {kOidTerminalAuthentication, kTypeTerminalAuthenticationInfo, &Make<TerminalAuthenticationInfo>},
    {kOidCardInfoLocator, kTypeCardInfoLocator, &Make<CardInfoLocator>},
    {kOidRiEcdhSha1, kTypeRestrictedIdentificationInfo, &Make<RestrictedIdentificationInfo>},
    {kOidRiEcdhSha224, kTypeRestrictedIdentificationInfo, &Make<RestrictedIdentificationInfo>},
    {kOidRiEcdhSha256, kTypeRestrictedIdentificationInfo, &Make<RestrictedIdentificationInfo>},
    {kOidRiEcdh, kTypeRestrictedIdentificationDomainParameterInfo,
     &Make<RestrictedIdentificationDomainParameterInfo>},
    {kOidEidSecurity, kTypeEidSecurityInfo, &Make<EidSecurityInfo>},
    {kOidPinInfo, kTypePinInfo, &Make<PinInfo>},
}};

}  // namespace

std::unique_ptr<SecurityInfoBase> SecurityInfoBase::GetInstance(const ASN1Object* node) {
    if (!node) return nullptr;
    const auto* oidNode = dynamic_cast<const ASN::ASN1ObjectIdentifier*>(node->FindChild(kIdOid));
    std::string oid;
    if (oidNode) {
        try {
            oid = oidNode->GetValue();
        } catch (...) {
            oidNode = nullptr;  // undecodable OID contents: no protocol to go by
        }
    }
    if (!oidNode) {
        MW::Base::GlobalLogger->LogError(
            "Crypto", MW::Base::ComposeExceptionMessage(kSource, kMissingOidLogLine,
                                                        "SecurityInfoBase->GetInstance: Cannot find protocol oid"));
        return nullptr;
    }
    for (const ProtocolEntry& entry : kProtocols) {
        if (oid != entry.oid) continue;
        const HexBinaryPtr encoding(node->GetEncoded());
        std::unique_ptr<SecurityInfoBase> info = entry.make(encoding.get());
        info->type_ = entry.type;
        return info;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------

PACEInfo::PACEInfo(const HexBinary* encoding) : SecurityInfoBase(encoding) {
    ParseOrThrow(kPaceInfoError, [&] {
        const auto node = ParseSequence(3);
        const auto children = node->GetChildren();
        version_ = ReadUInt(RequiredChild(*node, kIdInteger));
        if (children.size() == 3) {
            parameterId_ = ReadUInt(ElementAt(children, 2, kIdInteger));
            hasParameterId_ = true;
        }
    });
}

PACEDomainParameterInfo::PACEDomainParameterInfo(const HexBinary* encoding) : SecurityInfoBase(encoding) {
    ParseOrThrow(kPaceDomainError, [&] {
        const auto node = ParseSequence(3);
        domainParameter_ = ParseAlgorithmIdentifier(RequiredChild(*node, kIdSequence));
        if (node->GetChildren().size() == 3) {
            parameterId_ = ReadUInt(RequiredChild(*node, kIdInteger));
            hasParameterId_ = true;
        }
    });
}

ChipAuthenticationInfo::ChipAuthenticationInfo(const HexBinary* encoding) : SecurityInfoBase(encoding) {
    ParseOrThrow(kCaInfoError, [&] {
        const auto node = ParseSequence(3);
        const auto children = node->GetChildren();
        version_ = ReadUInt(RequiredChild(*node, kIdInteger));
        if (children.size() == 3) {
            keyId_ = ReadUInt(ElementAt(children, 2, kIdInteger));
            hasKeyId_ = true;
        }
    });
}

ChipAuthenticationDomainParameterInfo::ChipAuthenticationDomainParameterInfo(const HexBinary* encoding)
    : SecurityInfoBase(encoding) {
    ParseOrThrow(kCaDomainError, [&] {
        const auto node = ParseSequence(3);
        const auto children = node->GetChildren();
        domainParameter_ = ParseAlgorithmIdentifier(RequiredChild(*node, kIdSequence));
        if (children.size() == 3) {
            keyId_ = ReadUInt(ElementAt(children, 2, kIdInteger));
            hasKeyId_ = true;
        }
    });
}

ChipAuthenticationPublicKeyInfo::ChipAuthenticationPublicKeyInfo(const HexBinary* encoding)
    : SecurityInfoBase(encoding) {
    ParseOrThrow(kCaPublicKeyError, [&] {
        const auto node = ParseSequence(3);
        publicKey_ = ParseSubjectPublicKeyInfo(RequiredChild(*node, kIdSequence));
        if (node->GetChildren().size() == 3) {
            keyId_ = ReadUInt(RequiredChild(*node, kIdInteger));
            hasKeyId_ = true;
        }
    });
}

TerminalAuthenticationInfo::TerminalAuthenticationInfo(const HexBinary* encoding) : SecurityInfoBase(encoding) {
    ParseOrThrow(kTaInfoError, [&] {
        const auto node = ParseSequence(3);
        const auto children = node->GetChildren();
        version_ = ReadUInt(RequiredChild(*node, kIdInteger));
        if (children.size() == 3) efCVCA_ = std::make_unique<FileID>(ParseFileID(children[2]));
    });
}

CardInfoLocator::CardInfoLocator(const HexBinary* encoding) : SecurityInfoBase(encoding) {
    ParseOrThrow(kCardInfoLocatorError, [&] {
        const auto node = ParseSequence(3);
        const auto children = node->GetChildren();
        const auto* url = dynamic_cast<const ASN::ASN1String*>(RequiredChild(*node, kIdIa5String));
        if (!url) throw "not an IA5String";
        url_ = url->GetValue();
        if (children.size() == 3) efCardInfo_ = std::make_unique<FileID>(ParseFileID(children[2]));
    });
}

RestrictedIdentificationInfo::RestrictedIdentificationInfo(const HexBinary* encoding) : SecurityInfoBase(encoding) {
    ParseOrThrow(kRiInfoError, [&] {
        const auto node = ParseSequence(3);
        params_ = ParseProtocolParams(RequiredChild(*node, kIdSequence));
        if (node->GetChildren().size() == 3) {
            maxKeyLen_ = ReadUInt(RequiredChild(*node, kIdInteger));
            hasMaxKeyLen_ = true;
        }
    });
}

RestrictedIdentificationDomainParameterInfo::RestrictedIdentificationDomainParameterInfo(const HexBinary* encoding)
    : SecurityInfoBase(encoding) {
    ParseOrThrow(kRiDomainError, [&] {
        const auto node = ParseSequence(2);
        if (node->GetChildren().size() != 2) throw "needs exactly two elements";
        domainParameter_ = ParseAlgorithmIdentifier(RequiredChild(*node, kIdSequence));
    });
}

PinInfo::PinInfo(const HexBinary* encoding) : SecurityInfoBase(encoding) {
    ParseOrThrow(kPinInfoError, [&] {
        const auto node = ParseSequence(3);
        const auto children = node->GetChildren();
        firstNumber_ = ReadUInt(ElementAt(children, 1, kIdInteger));
        if (children.size() == 3) {
            pinLength_ = ReadUInt(ElementAt(children, 2, kIdInteger));
            hasPinLength_ = true;
        }
    });
}

EidVersionInfo::EidVersionInfo(const HexBinary* encoding) : SecurityInfoBase(encoding) {
    ParseOrThrow(kEidSecurityError, [&] {
        const auto node = ParseSequenceOf(raw_);
        const auto children = node->GetChildren();
        if (children.size() != 2) throw "EIDVersionInfo needs two elements";
        const auto* version = dynamic_cast<const ASN::ASN1String*>(ElementAt(children, 0, kIdPrintableString));
        const auto* unicode = dynamic_cast<const ASN::ASN1String*>(ElementAt(children, 1, kIdPrintableString));
        if (!version || !unicode) throw "not a PrintableString";
        eIDVersion_ = version->GetValue();
        unicodeVersion_ = unicode->GetValue();
    });
}

EidSecurityInfo::EidSecurityInfo(const HexBinary* encoding) : SecurityInfoBase(encoding) {
    ParseOrThrow(kEidSecurityError, [&] {
        const auto node = ParseSequence(3);
        const auto children = node->GetChildren();
        securityObject_ = ParseEIDSecurityObject(ElementAt(children, 1, kIdSequence));
        if (children.size() == 3) {
            const HexBinaryPtr versionEncoding(ElementAt(children, 2, kIdSequence)->GetEncoded());
            versionInfo_ = std::make_unique<EidVersionInfo>(versionEncoding.get());
        }
    });
}

const SecurityInfoBase* FindSecurityInfoByType(const SecurityInfoList* infos, uint32_t type) {
    if (!infos) return nullptr;
    for (const auto& info : *infos)
        if (info && info->GetType() == type) return info.get();
    return nullptr;
}

}  // namespace Brelt::Crypto::EIDStruct
