#pragma once
// The attribute sets of a card object: the common part every object has, the
// class set (authentication object, key, certificate, data object) and the
// type set (password, CVC, RSA or EC key, certificate, opaque data). Byte
// values hold the content octets of their DER element; a BIT STRING keeps its
// unused-bits octet. Absent values are null.

#include <cstdint>
#include <memory>
#include <vector>

#include "BaseTypes.h"

namespace Brelt::Crypto {
struct ParsedCertificate;
}

namespace Brelt::MW::Token {

using Bytes = std::unique_ptr<MW::Base::HexBinary>;

struct AuthReference {
    Bytes authMethod;    // BIT STRING content
    Bytes seIdentifier;  // INTEGER content
};

// A node of an access condition tree.
struct SecurityCondition {
    uint32_t always = 0;  // 1 when the condition is the NULL alternative
    Bytes authId;
    std::unique_ptr<AuthReference> authReference;
    std::unique_ptr<SecurityCondition> notCondition;
    std::unique_ptr<SecurityCondition> andCondition;
};

struct AccessControlRule {
    Bytes accessMode;  // BIT STRING content
    std::unique_ptr<SecurityCondition> condition;
};

struct CommonObjectAttributes {
    Bytes label;   // UTF8String content
    Bytes flags;   // BIT STRING content
    Bytes authId;  // OCTET STRING content
    std::unique_ptr<uint32_t> userConsent;
    std::vector<AccessControlRule> accessControlRules;
};

class ClassAttributes {
public:
    virtual ~ClassAttributes() = default;
};

class CommonAuthObjectAttributes : public ClassAttributes {
public:
    Bytes authId;
    uint32_t authReference = 0;
    uint32_t seIdentifier = 0;
};

class CommonKeyAttributes : public ClassAttributes {
public:
    Bytes iD;
    Bytes usage;  // BIT STRING content
    uint8_t native = 1;
    Bytes accessFlags;  // BIT STRING content
    std::unique_ptr<uint32_t> keyReference;
    Bytes startDate;  // GeneralizedTime content
    Bytes endDate;    // GeneralizedTime content
    std::vector<Bytes> algReference;  // INTEGER contents
};

class CommonCertificateAttributes : public ClassAttributes {
public:
    Bytes iD;
    std::unique_ptr<uint8_t> authority;
};

class CommonDCObjectAttributes : public ClassAttributes {
public:
    Bytes applicationName;  // UTF8String content
    Bytes applicationOID;   // OID content octets
    Bytes iD;
};

class TypeAttributes {
public:
    virtual ~TypeAttributes() = default;
};

class PasswordAttributes : public TypeAttributes {
public:
    Bytes pwdFlags;  // BIT STRING content
    Bytes pwdType;   // content of the element after pwdFlags
    uint32_t minLength = 0;
    uint32_t storedLength = 0;
    uint32_t maxLength = 0;
    int32_t pwdReference = -1;  // -1: none
    Bytes padChar;
    Bytes lastPasswordChange;  // GeneralizedTime content
    Bytes path;
};

class CVCAttributes : public TypeAttributes {
public:
    Bytes value;
};

// Public key values of a session RSA public key.
class RSAPublicKeyAtt : public TypeAttributes {
public:
    Bytes modulus;
    Bytes exponent;
};

class RSAKeyAttributes : public TypeAttributes {
public:
    Bytes path;
    // As the directory states it; sizes past 16 bits are kept so that they
    // can be refused.
    uint32_t modulusLength = 0;
    Bytes keyInfo;
    uint8_t keyInfoTag = 0x30;  // tag the keyInfo element had on the card
    std::unique_ptr<RSAPublicKeyAtt> publicKey;
};

class ECKeyAttributes : public TypeAttributes {
public:
    Bytes path;
    Bytes keyInfo;
    uint8_t keyInfoTag = 0x30;
};

class CertificateAttributes : public TypeAttributes {
public:
    Bytes path;
    Bytes serial;  // INTEGER content
    // Parsed on first use by the attribute getters; shared so that the type
    // may stay incomplete here.
    std::shared_ptr<Crypto::ParsedCertificate> certificate;
};

class OpaqueDOAttributes : public TypeAttributes {
public:
    Bytes path;
};

}  // namespace Brelt::MW::Token
