#pragma once
// Typed views of the security infos an eID application publishes in
// EF.CardAccess and EF.CardSecurity: each entry is a SEQUENCE that starts with
// a protocol OBJECT IDENTIFIER followed by protocol-specific data. Only the
// protocols the module takes part in are recognised; other entries are
// skipped by their readers.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "../ASN1Object.h"
#include "../BaseTypes.h"
#include "../EcDomain.h"

namespace Brelt::Crypto::EIDStruct {

// Type codes of the recognised security infos.
enum SecurityInfoType : uint32_t {
    kTypePACEInfo = 0,
    kTypePACEDomainParameterInfo = 1,
    kTypeChipAuthenticationInfo = 2,
    kTypeChipAuthenticationDomainParameterInfo = 3,
    kTypeChipAuthenticationPublicKeyInfo = 4,
    kTypeTerminalAuthenticationInfo = 5,
    kTypeCardInfoLocator = 6,
    kTypeRestrictedIdentificationInfo = 7,
    kTypeRestrictedIdentificationDomainParameterInfo = 8,
    kTypePinInfo = 9,
    kTypeEidSecurityInfo = 10,
    kTypeNotSet = 11,
};

// Protocol OIDs in dotted form.
inline constexpr const char* kOidPaceEcdhGmAes128 = "0.4.0.127.0.7.2.2.4.2.2";
inline constexpr const char* kOidPaceEcdh = "0.4.0.127.0.7.2.2.4.2";
inline constexpr const char* kOidCaEcdh3Des = "0.4.0.127.0.7.2.2.3.2.1";
inline constexpr const char* kOidCaEcdh = "0.4.0.127.0.7.2.2.3.2";
inline constexpr const char* kOidPkEcdh = "0.4.0.127.0.7.2.2.1.2";
inline constexpr const char* kOidTerminalAuthentication = "0.4.0.127.0.7.2.2.2";
inline constexpr const char* kOidCardInfoLocator = "0.4.0.127.0.7.2.2.6";
inline constexpr const char* kOidRiEcdhSha1 = "0.4.0.127.0.7.2.2.5.2.1";
inline constexpr const char* kOidRiEcdhSha224 = "0.4.0.127.0.7.2.2.5.2.2";
inline constexpr const char* kOidRiEcdhSha256 = "0.4.0.127.0.7.2.2.5.2.3";
inline constexpr const char* kOidRiEcdh = "0.4.0.127.0.7.2.2.5.2";
inline constexpr const char* kOidEidSecurity = "0.4.0.127.0.7.2.2.7";
inline constexpr const char* kOidPinInfo = "1.0.24727.3.0.9";

// Algorithm of standardized domain parameters (the parameters are an
// INTEGER naming the curve).
inline constexpr const char* kOidStandardizedDomainParameters = "0.4.0.127.0.7.1.2";

// Brainpool curves the standardized identifiers stand for.
inline constexpr const char* kOidBrainpoolP192r1 = "1.3.36.3.3.2.8.1.1.3";
inline constexpr const char* kOidBrainpoolP224r1 = "1.3.36.3.3.2.8.1.1.5";
inline constexpr const char* kOidBrainpoolP256r1 = "1.3.36.3.3.2.8.1.1.7";
inline constexpr const char* kOidBrainpoolP320r1 = "1.3.36.3.3.2.8.1.1.9";
inline constexpr const char* kOidBrainpoolP384r1 = "1.3.36.3.3.2.8.1.1.11";
inline constexpr const char* kOidBrainpoolP512r1 = "1.3.36.3.3.2.8.1.1.13";

using HexBinaryPtr = std::unique_ptr<MW::Base::HexBinary>;

// An AlgorithmIdentifier: the algorithm OID and the DER encoding of its
// parameters (empty when absent).
struct AlgorithmIdentifierData {
    std::string algorithm;
    HexBinaryPtr parameters;
};

struct FileID {
    HexBinaryPtr fid;
    HexBinaryPtr sfid;  // null when absent
};

struct ProtocolParams {
    uint32_t version = 0;
    uint32_t keyId = 0;
    bool authorizedOnly = false;
};

struct SubjectPublicKeyInfo {
    AlgorithmIdentifierData algorithm;
    HexBinaryPtr publicKey;  // BIT STRING contents without the unused-bits octet
};

struct DataGroupHash {
    uint32_t dataGroupNumber = 0;
    HexBinaryPtr dataGroupHashValue;
};

struct EIDSecurityObject {
    AlgorithmIdentifierData hashAlgorithm;
    std::vector<DataGroupHash> dataGroupHashValues;
};

// Reads an AlgorithmIdentifier node. Throws (Botan's exception or a plain
// text) when the node is not one.
AlgorithmIdentifierData ParseAlgorithmIdentifier(const ASN::ASN1Object* node);

// The curve an algorithm identifier names: a named brainpool curve for the
// standardized identifiers, else explicit parameters decoded from the
// parameter bytes. Throws when neither applies.
std::unique_ptr<EcDomain> GetDomainParameters(const AlgorithmIdentifierData& algorithm);

class SecurityInfoBase {
public:
    virtual ~SecurityInfoBase();
    SecurityInfoBase(const SecurityInfoBase&) = delete;
    SecurityInfoBase& operator=(const SecurityInfoBase&) = delete;

    // New copy of the DER encoding of the whole entry.
    virtual MW::Base::HexBinary* GetRawData() const;

    uint32_t GetType() const { return type_; }
    const std::string& GetProtocol() const { return protocol_; }

    // Builds the class the entry's protocol OID names. Null when the node has
    // no OID or the protocol is not recognised; an MWException with the
    // class's code when a recognised entry is malformed.
    static std::unique_ptr<SecurityInfoBase> GetInstance(const ASN::ASN1Object* node);

protected:
    explicit SecurityInfoBase(const MW::Base::HexBinary* encoding);

    // Parses the raw data as a SEQUENCE of at most `maxElements` elements and
    // reads the protocol OID. Throws a plain text on any mismatch.
    std::unique_ptr<ASN::ASN1Object> ParseSequence(size_t maxElements);

    MW::Base::HexBinary raw_;
    uint32_t type_ = kTypeNotSet;
    std::string protocol_;
};

class PACEInfo : public SecurityInfoBase {
public:
    explicit PACEInfo(const MW::Base::HexBinary* encoding);
    uint32_t GetVersion() const { return version_; }
    uint32_t GetParameterId() const { return parameterId_; }
    bool HasParameterId() const { return hasParameterId_; }

private:
    uint32_t version_ = 0;
    uint32_t parameterId_ = 0;
    bool hasParameterId_ = false;
};

class PACEDomainParameterInfo : public SecurityInfoBase {
public:
    explicit PACEDomainParameterInfo(const MW::Base::HexBinary* encoding);
    const AlgorithmIdentifierData& GetDomainParameter() const { return domainParameter_; }
    uint32_t GetParameterId() const { return parameterId_; }
    bool HasParameterId() const { return hasParameterId_; }

private:
    AlgorithmIdentifierData domainParameter_;
    uint32_t parameterId_ = 0;
    bool hasParameterId_ = false;
};

class ChipAuthenticationInfo : public SecurityInfoBase {
public:
    explicit ChipAuthenticationInfo(const MW::Base::HexBinary* encoding);
    uint32_t GetVersion() const { return version_; }
    uint32_t GetKeyId() const { return keyId_; }
    bool HasKeyId() const { return hasKeyId_; }

private:
    uint32_t version_ = 0;
    uint32_t keyId_ = 0;
    bool hasKeyId_ = false;
};

class ChipAuthenticationDomainParameterInfo : public SecurityInfoBase {
public:
    explicit ChipAuthenticationDomainParameterInfo(const MW::Base::HexBinary* encoding);
    const AlgorithmIdentifierData& GetDomainParameter() const { return domainParameter_; }
    uint32_t GetKeyId() const { return keyId_; }
    bool HasKeyId() const { return hasKeyId_; }

private:
    AlgorithmIdentifierData domainParameter_;
    uint32_t keyId_ = 0;
    bool hasKeyId_ = false;
};

class ChipAuthenticationPublicKeyInfo : public SecurityInfoBase {
public:
    explicit ChipAuthenticationPublicKeyInfo(const MW::Base::HexBinary* encoding);
    const SubjectPublicKeyInfo& GetChipAuthenticationPublicKey() const { return publicKey_; }
    uint32_t GetKeyId() const { return keyId_; }
    bool HasKeyId() const { return hasKeyId_; }

private:
    SubjectPublicKeyInfo publicKey_;
    uint32_t keyId_ = 0;
    bool hasKeyId_ = false;
};

class TerminalAuthenticationInfo : public SecurityInfoBase {
public:
    explicit TerminalAuthenticationInfo(const MW::Base::HexBinary* encoding);
    uint32_t GetVersion() const { return version_; }
    const FileID* GetEfCVCA() const { return efCVCA_.get(); }  // null when absent

private:
    uint32_t version_ = 0;
    std::unique_ptr<FileID> efCVCA_;
};

class CardInfoLocator : public SecurityInfoBase {
public:
    explicit CardInfoLocator(const MW::Base::HexBinary* encoding);
    const std::string& GetUrl() const { return url_; }
    const FileID* GetEfCardInfo() const { return efCardInfo_.get(); }  // null when absent

private:
    std::string url_;
    std::unique_ptr<FileID> efCardInfo_;
};

class RestrictedIdentificationInfo : public SecurityInfoBase {
public:
    explicit RestrictedIdentificationInfo(const MW::Base::HexBinary* encoding);
    const ProtocolParams& GetParams() const { return params_; }
    uint32_t GetMaxKeyLen() const { return maxKeyLen_; }
    bool HasMaxKeyLen() const { return hasMaxKeyLen_; }

private:
    ProtocolParams params_;
    uint32_t maxKeyLen_ = 0;
    bool hasMaxKeyLen_ = false;
};

class RestrictedIdentificationDomainParameterInfo : public SecurityInfoBase {
public:
    explicit RestrictedIdentificationDomainParameterInfo(const MW::Base::HexBinary* encoding);
    const AlgorithmIdentifierData& GetDomainParameter() const { return domainParameter_; }

private:
    AlgorithmIdentifierData domainParameter_;
};

class PinInfo : public SecurityInfoBase {
public:
    explicit PinInfo(const MW::Base::HexBinary* encoding);
    uint32_t GetFirstNumber() const { return firstNumber_; }
    // The number the card gives as the length of its PINs; 0 when absent.
    uint32_t GetPinLength() const { return pinLength_; }
    bool HasPinLength() const { return hasPinLength_; }

private:
    uint32_t firstNumber_ = 0;
    uint32_t pinLength_ = 0;
    bool hasPinLength_ = false;
};

// The version texts of an EIDVersionInfo; part of its EidSecurityInfo.
class EidVersionInfo : public SecurityInfoBase {
public:
    explicit EidVersionInfo(const MW::Base::HexBinary* encoding);
    const std::string& GetEIDVersion() const { return eIDVersion_; }
    const std::string& GetUnicodeVersion() const { return unicodeVersion_; }

private:
    std::string eIDVersion_;
    std::string unicodeVersion_;
};

class EidSecurityInfo : public SecurityInfoBase {
public:
    explicit EidSecurityInfo(const MW::Base::HexBinary* encoding);
    const EIDSecurityObject& GetEIDSecurityObject() const { return securityObject_; }
    const EidVersionInfo* GetEIDVersionInfo() const { return versionInfo_.get(); }  // null when absent

private:
    EIDSecurityObject securityObject_;
    std::unique_ptr<EidVersionInfo> versionInfo_;
};

using SecurityInfoList = std::vector<std::unique_ptr<SecurityInfoBase>>;

// First info of the type in the list; null when the list is missing, empty
// or holds none.
const SecurityInfoBase* FindSecurityInfoByType(const SecurityInfoList* infos, uint32_t type);

}  // namespace Brelt::Crypto::EIDStruct
