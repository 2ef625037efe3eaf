#include "ASN1Types.h"

#include <botan/asn1_str.h>
#include <botan/asn1_oid.h>
#include <botan/ber_dec.h>
#include <botan/bigint.h>
#include <botan/der_enc.h>

#include <climits>

namespace Brelt::Crypto::ASN {

using MW::Base::HexBinary;

namespace {

HexBinary* ToHexBinary(const Botan::secure_vector<uint8_t>& bytes)
{
    if (bytes.empty()) return new HexBinary();
    if (bytes.size() > static_cast<size_t>(INT_MAX)) throw Botan::Decoding_Error("ASN.1 value too large");
    return new HexBinary(bytes.data(), static_cast<int>(bytes.size()), true);
}

// Contents of an OCTET STRING, or of a BIT STRING without its unused-bits
// octet, decoded with the node's own tags.
HexBinary* DecodeOctets(const ASN1Object& node, Botan::secure_vector<uint8_t> encoded)
{
    const Botan::ASN1_Tag realType = node.GetTypeTag() == Botan::BIT_STRING ? Botan::BIT_STRING
                                                                           : Botan::OCTET_STRING;
    Botan::secure_vector<uint8_t> octets;
    Botan::BER_Decoder(encoded).decode(octets, realType, static_cast<Botan::ASN1_Tag>(node.GetTypeTag()),
                                       static_cast<Botan::ASN1_Tag>(node.GetClassTag()));
    return ToHexBinary(octets);
}

}  // namespace

ASN1Sequence::ASN1Sequence() : ASN1Object(kClassConstructed, Botan::SEQUENCE) {}

ASN1Set::ASN1Set() : ASN1Object(kClassConstructed, Botan::SET) {}

std::string ASN1ObjectIdentifier::GetValue() const
{
    Botan::OID oid;
    Botan::BER_Decoder(EncodeDer()).decode(oid);
    return oid.to_string();
}

ASN1Integer::ASN1Integer() : ASN1Object(kClassUniversal, Botan::INTEGER) {}

ASN1Integer::ASN1Integer(uint32_t value) : ASN1Object(kClassUniversal, Botan::INTEGER)
{
    // Botan's DER gives the minimal two's-complement contents (0 -> 00, 128 -> 00 80).
    const Botan::secure_vector<uint8_t> encoded =
        Botan::DER_Encoder().encode(static_cast<size_t>(value)).get_contents();
    Botan::BER_Object object = Botan::BER_Decoder(encoded).get_next_object();
    SetTagged(kClassUniversal, Botan::INTEGER,
              Botan::secure_vector<uint8_t>(object.bits(), object.bits() + object.length()));
}

uint32_t ASN1Integer::GetUInt() const
{
    try {
        Botan::BigInt number;
        Botan::BER_Decoder(EncodeDer())
            .decode(number, static_cast<Botan::ASN1_Tag>(GetTypeTag()), static_cast<Botan::ASN1_Tag>(GetClassTag()));
        return number.to_u32bit();
    } catch (...) {
        throw "Cannot parse to unsigned integer, probably too big value or incorrect bytes";
    }
}

ASN1Null::ASN1Null() : ASN1Object(kClassUniversal, Botan::NULL_TAG) {}

ASN1Boolean::ASN1Boolean(bool value) : ASN1Object(kClassUniversal, Botan::BOOLEAN)
{
    SetTagged(kClassUniversal, Botan::BOOLEAN, Botan::secure_vector<uint8_t>{value ? uint8_t{0xFF} : uint8_t{0x00}});
}

bool ASN1Boolean::GetValue() const
{
    return !Contents().empty() && Contents()[0] != 0;
}

ASN1OctetString::ASN1OctetString(const HexBinary* bytes) : ASN1Object(kClassUniversal, Botan::OCTET_STRING)
{
    if (bytes != nullptr && bytes->data != nullptr && bytes->length > 0)
        SetTagged(kClassUniversal, Botan::OCTET_STRING,
                  Botan::secure_vector<uint8_t>(bytes->data, bytes->data + bytes->length));
}

HexBinary* ASN1OctetString::GetValue() const
{
    return DecodeOctets(*this, EncodeDer());
}

HexBinary* ASN1BitString::GetValue() const
{
    return DecodeOctets(*this, EncodeDer());
}

std::string ASN1String::GetValue() const
{
    Botan::ASN1_String text;
    Botan::BER_Decoder(EncodeDer()).decode(text);
    return text.value();
}

}  // namespace Brelt::Crypto::ASN
