#pragma once
// Node classes for the universal ASN.1 types, each with its typed getter.
// They add no state to ASN1Object; the parser picks the class by tag.

#include <string>

#include "ASN1Object.h"

namespace Brelt::Crypto::ASN {

class ASN1Sequence : public ASN1Object {
public:
    ASN1Sequence();
};

class ASN1Set : public ASN1Object {
public:
    ASN1Set();
};

class ASN1ObjectIdentifier : public ASN1Object {
public:
    using ASN1Object::ASN1Object;
    // Dotted decimal text, e.g. "0.4.0.127.0.7.2.2.4.2.2".
    std::string GetValue() const;
};

class ASN1Integer : public ASN1Object {
public:
    ASN1Integer();
    explicit ASN1Integer(uint32_t value);
    using ASN1Object::ASN1Object;
    // Throws the plain text "Cannot parse to unsigned integer, ..." when the
    // value does not fit 32 bits unsigned or the contents are malformed.
    uint32_t GetUInt() const;
};

class ASN1Null : public ASN1Object {
public:
    ASN1Null();
    using ASN1Object::ASN1Object;
};

class ASN1Boolean : public ASN1Object {
public:
    explicit ASN1Boolean(bool value);
    using ASN1Object::ASN1Object;
    bool GetValue() const;
};

class ASN1OctetString : public ASN1Object {
public:
    explicit ASN1OctetString(const MW::Base::HexBinary* bytes);
    using ASN1Object::ASN1Object;
    // New buffer with the decoded octets: the contents of an OCTET STRING, or
    // of a BIT STRING without its unused-bits octet. The caller deletes it.
    MW::Base::HexBinary* GetValue() const;
};

class ASN1BitString : public ASN1Object {
public:
    using ASN1Object::ASN1Object;
    // Same decoding as ASN1OctetString::GetValue.
    MW::Base::HexBinary* GetValue() const;
};

// UTCTime and GeneralizedTime.
class ASN1UTCTime : public ASN1Object {
public:
    using ASN1Object::ASN1Object;
};

class ASN1String : public ASN1Object {
public:
    using ASN1Object::ASN1Object;
    std::string GetValue() const;
};

class ASN1NumericString : public ASN1String {
public:
    using ASN1String::ASN1String;
};

class ASN1PrintableString : public ASN1String {
public:
    using ASN1String::ASN1String;
};

class ASN1T61String : public ASN1String {
public:
    using ASN1String::ASN1String;
};

class ASN1IA5String : public ASN1String {
public:
    using ASN1String::ASN1String;
};

class ASN1VisibleString : public ASN1String {
public:
    using ASN1String::ASN1String;
};

class ASN1UTF8String : public ASN1String {
public:
    using ASN1String::ASN1String;
};

}  // namespace Brelt::Crypto::ASN
