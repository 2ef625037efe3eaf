#pragma once
// Reading and setting single bits of DER BIT STRING contents (the first byte
// counts the unused bits; bit index 0 is the most significant bit of the
// second byte), as the PKCS#15 flag fields hold them.

#include <cstdint>

#include "BaseTypes.h"
#include "pkcs11/cryptoki.h"

namespace Brelt::MW::Token {

// True when `index` lies within the used bits; `value` then receives the bit.
bool GetFlagAtIndex(const uint8_t* bytes, int32_t length, uint32_t index, bool* value);

// Sets or clears the bit. An index in the unused tail makes it used (the
// unused-bit count shrinks); an index past the contents is refused (false).
bool SetFlagAtIndex(uint8_t* bytes, int32_t length, uint32_t index, bool value);

// With a BIT STRING: `value` := the bit as CK_BBOOL (false for an index past
// the used bits, which is logged) and `valueLength` := 1. Without one nothing
// is written. Always CKR_OK.
CK_RV GetFlagAttribute(const MW::Base::HexBinary* bitString, uint32_t index, uint8_t* value,
                       uint16_t* valueLength);

// SetFlagAtIndex on the buffer, logging an index that does not fit. Always CKR_OK.
CK_RV SetFlagAttribute(uint32_t index, bool value, MW::Base::HexBinary* bitString);

}  // namespace Brelt::MW::Token
