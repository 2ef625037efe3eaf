#include "Pkcs15.h"

#include <botan/asn1_oid.h>
#include <botan/der_enc.h>

#include <algorithm>

namespace cardsim::detail {

namespace {

using Botan::ASN1_Tag;
using Botan::DER_Encoder;

constexpr auto kContext = Botan::CONTEXT_SPECIFIC;
constexpr auto kApplication = Botan::APPLICATION;

ASN1_Tag TagNumber(int n)
{
    return static_cast<ASN1_Tag>(n);
}

void AddUtf8(DER_Encoder& der, const std::string& text)
{
    der.add_object(Botan::UTF8_STRING, Botan::UNIVERSAL, text);
}

void AddCommon(DER_Encoder& der, const CommonAttributes& common)
{
    der.start_cons(Botan::SEQUENCE);
    AddUtf8(der, common.label);
    der.raw_bytes(EncodeBitString(common.flags));
    if (!common.authId.empty())
        der.encode(common.authId, Botan::OCTET_STRING);
    if (common.userConsent)
        der.encode(size_t(*common.userConsent));
    der.end_cons();
}

// A1 { 30 { 30 { 04 path } [02 modulusLength] } }
void AddKeyTypeAttributes(DER_Encoder& der, const Bytes& path, size_t modulusBits)
{
    der.start_cons(TagNumber(1), kContext)
        .start_cons(Botan::SEQUENCE)
        .start_cons(Botan::SEQUENCE)
        .encode(path, Botan::OCTET_STRING)
        .end_cons()
        .encode(modulusBits)
        .end_cons()
        .end_cons();
}

}  // namespace

Bytes EncodeBitString(const BitList& bits)
{
    Bytes value{0x00};
    if (!bits.empty()) {
        const int highest = *std::max_element(bits.begin(), bits.end());
        value.assign(1 + size_t(highest / 8 + 1), 0x00);
        for (int bit : bits)
            value[1 + size_t(bit / 8)] |= uint8_t(0x80 >> (bit % 8));
        value[0] = uint8_t(7 - highest % 8);  // unused bits of the last byte
    }
    DER_Encoder der;
    der.add_object(Botan::BIT_STRING, Botan::UNIVERSAL, value.data(), value.size());
    return der.get_contents_unlocked();
}

Bytes EncodeEfDirEntry(const Bytes& aid, const std::string& label, const Bytes& path)
{
    DER_Encoder der;
    der.start_cons(TagNumber(1), kApplication)
        .add_object(TagNumber(15), kApplication, aid.data(), aid.size())
        .add_object(TagNumber(16), kApplication, label);
    if (!path.empty())
        der.add_object(TagNumber(17), kApplication, path.data(), path.size());
    der.end_cons();
    return der.get_contents_unlocked();
}

Bytes EncodeCiaInfo(const std::string& label, uint32_t mechanism)
{
    const Bytes serial{0, 0, 0, 0, 0, 0, 0, 1};
    DER_Encoder der;
    der.start_cons(Botan::SEQUENCE)
        .encode(size_t(0))                                  // version
        .encode(serial, Botan::OCTET_STRING);               // serialNumber
    AddUtf8(der, "Emulated CardOS");                        // manufacturerID
    der.add_object(TagNumber(0), kContext, label)           // label
        .raw_bytes(EncodeBitString({1, 2}))                 // tokenflags: login required, prn generation
        .start_cons(TagNumber(2), kContext)                 // supportedAlgorithms
        .start_cons(Botan::SEQUENCE)
        .encode(size_t(0))                                  // reference
        .encode(size_t(mechanism))                          // algorithm (mechanism number)
        .encode_null()                                      // parameters
        .raw_bytes(EncodeBitString({1, 5}))                 // compute-signature, decipher
        .encode(Botan::OID("1.2.840.113549.1.1.1"))         // rsaEncryption
        .end_cons()
        .end_cons()
        .end_cons();
    return der.get_contents_unlocked();
}

Bytes EncodeOdf(const std::vector<OdfEntry>& entries)
{
    DER_Encoder der;
    for (const OdfEntry& entry : entries)
        der.start_cons(TagNumber(entry.choice), kContext)
            .start_cons(Botan::SEQUENCE)
            .encode(entry.path, Botan::OCTET_STRING)
            .end_cons()
            .end_cons();
    return der.get_contents_unlocked();
}

Bytes EncodePin(const PinObjectEntry& entry)
{
    DER_Encoder der;
    der.start_cons(Botan::SEQUENCE);
    AddCommon(der, entry.common);
    der.start_cons(Botan::SEQUENCE).encode(entry.authId, Botan::OCTET_STRING).end_cons();
    der.start_cons(TagNumber(1), kContext)
        .start_cons(Botan::SEQUENCE)
        .raw_bytes(EncodeBitString(entry.pwdFlags))
        .encode(size_t(entry.pwdType), Botan::ENUMERATED, Botan::UNIVERSAL)
        .encode(size_t(entry.minLength))
        .encode(size_t(entry.storedLength))
        .encode(size_t(entry.maxLength))
        .start_cons(TagNumber(0), kContext)                 // pwdReference
        .encode(size_t(entry.reference))
        .end_cons();
    if (entry.padChar)
        der.encode(Bytes{*entry.padChar}, Botan::OCTET_STRING);
    der.end_cons().end_cons().end_cons();
    return der.get_contents_unlocked();
}

Bytes EncodePrivateKey(const PrivateKeyEntry& entry)
{
    DER_Encoder der;
    der.start_cons(Botan::SEQUENCE);
    AddCommon(der, entry.common);
    der.start_cons(Botan::SEQUENCE)
        .encode(entry.id, Botan::OCTET_STRING)
        .raw_bytes(EncodeBitString(entry.usage))
        .raw_bytes(EncodeBitString(entry.accessFlags))
        .encode(size_t(entry.keyReference))
        .start_cons(TagNumber(1), kContext)                 // algReference
        .start_cons(Botan::SEQUENCE)
        .encode(size_t(entry.algReference))
        .end_cons()
        .end_cons()
        .end_cons();
    AddKeyTypeAttributes(der, entry.path, entry.modulusBits);
    der.end_cons();
    return der.get_contents_unlocked();
}

Bytes EncodePublicKey(const PublicKeyEntry& entry)
{
    DER_Encoder der;
    der.start_cons(Botan::SEQUENCE);
    AddCommon(der, entry.common);
    der.start_cons(Botan::SEQUENCE)
        .encode(entry.id, Botan::OCTET_STRING)
        .raw_bytes(EncodeBitString(entry.usage))
        .end_cons();
    AddKeyTypeAttributes(der, entry.path, entry.modulusBits);
    der.end_cons();
    return der.get_contents_unlocked();
}

Bytes EncodeCertificate(const CertificateEntry& entry)
{
    DER_Encoder der;
    der.start_cons(Botan::SEQUENCE);
    AddCommon(der, entry.common);
    der.start_cons(Botan::SEQUENCE).encode(entry.id, Botan::OCTET_STRING).end_cons();
    der.start_cons(TagNumber(1), kContext)
        .start_cons(Botan::SEQUENCE)
        .start_cons(Botan::SEQUENCE)
        .encode(entry.path, Botan::OCTET_STRING)
        .end_cons()
        .end_cons()
        .end_cons()
        .end_cons();
    return der.get_contents_unlocked();
}

Bytes EncodeDataObject(const DataObjectEntry& entry)
{
    DER_Encoder der;
    der.start_cons(Botan::SEQUENCE);
    AddCommon(der, entry.common);
    der.start_cons(Botan::SEQUENCE);
    AddUtf8(der, entry.applicationName);
    der.end_cons();
    // A1 { 30 { 30 { 04 path } } }: the path sits one SEQUENCE deeper.
    der.start_cons(TagNumber(1), kContext)
        .start_cons(Botan::SEQUENCE)
        .start_cons(Botan::SEQUENCE)
        .encode(entry.path, Botan::OCTET_STRING)
        .end_cons()
        .end_cons()
        .end_cons()
        .end_cons();
    return der.get_contents_unlocked();
}

}  // namespace cardsim::detail
