#pragma once
// Small helpers shared by the readers and writers of card files: the
// identifier octet and contents of a parsed node, unsigned values, and a
// DER TLV writer for the encoders.

#include <cstdint>
#include <memory>
#include <vector>

#include "ASN1Object.h"
#include "BaseTypes.h"

namespace Brelt::MW::Token::Der {

// Identifier octet of a node: low 8 bits of type tag + class tag.
inline uint8_t TagByte(const Crypto::ASN::ASN1Object& node)
{
    return static_cast<uint8_t>((node.GetTypeTag() + node.GetClassTag()) & 0xFF);
}

// New buffer with the contents octets of a node.
std::unique_ptr<MW::Base::HexBinary> ContentOf(const Crypto::ASN::ASN1Object& node);

// Contents read as a non-negative integer of at most 32 bits. Throws the
// plain text of the ASN.1 layer for an empty, negative or larger value.
uint32_t UnsignedOf(const Crypto::ASN::ASN1Object& node);

// Child at `index`, null past the end.
const Crypto::ASN::ASN1Object* ChildAt(const Crypto::ASN::ASN1Object& node, size_t index);
size_t ChildCount(const Crypto::ASN::ASN1Object& node);

void AppendLength(std::vector<uint8_t>& out, size_t length);
void AppendTlv(std::vector<uint8_t>& out, uint8_t tag, const uint8_t* value, size_t length);
void AppendTlv(std::vector<uint8_t>& out, uint8_t tag, const std::vector<uint8_t>& value);
void AppendTlv(std::vector<uint8_t>& out, uint8_t tag, const MW::Base::HexBinary* value);
// Minimal DER INTEGER of an unsigned value.
void AppendUnsigned(std::vector<uint8_t>& out, uint32_t value);

// New buffer holding `bytes`.
std::unique_ptr<MW::Base::HexBinary> ToHex(const std::vector<uint8_t>& bytes);

}  // namespace Brelt::MW::Token::Der
