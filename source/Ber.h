#pragma once
// Readers for the header of one BER-TLV at the start of a buffer, without
// building a tree. Every function throws MWException 100019 when the header
// is malformed or runs past the end of the buffer.

#include <cstdint>

#include "BaseTypes.h"

namespace Brelt::Crypto::Ber {

// Number of tag octets (1 for a low tag number, more for the long form).
uint8_t GetTagLength(const MW::Base::HexBinary* tlv);

// Number of length octets (1 for the short form, 1 + n for the long form).
uint8_t GetLengthFieldSize(const MW::Base::HexBinary* tlv);

// Value length from the length octets; short form, 81 and 82 only.
uint32_t GetValueLength(const MW::Base::HexBinary* tlv);

// The tag octets as a number: one octet, or first * 256 + second for two.
uint32_t GetTag(const MW::Base::HexBinary* tlv);

}  // namespace Brelt::Crypto::Ber
