#pragma once
// ISO 7816-4 byte encoding of a command APDU in short or extended form.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "Apdu.h"

namespace Brelt::MW::Card {

// Longest encoded command: header, extended Lc, 65,535 data bytes, extended Le.
inline constexpr size_t kMaxCommandApduSize = 4 + 3 + 0xFFFF + 2;

// True when the command goes out in the extended form: forced, or Lc or Le
// above 255. One extended length makes both lengths extended.
bool NeedsExtendedLengths(const ApduCommand& command, bool forceExtended);

// The most answer data the command asks for (Ne): Le, with 00 standing for
// 256 or, in the extended form, 65,536; no limit without an Le field.
size_t MaxAnswerLength(const ApduCommand& command, bool forceExtended);

// Writes the command bytes to `out`. CKR_DATA_INVALID when Lc is not 0 but
// the command has no data.
CK_RV EncodeCommandApdu(const ApduCommand& command, bool forceExtended, std::vector<uint8_t>& out);

}  // namespace Brelt::MW::Card
