#pragma once
// The token information of a slot as the card and its application give it:
// model, firmware and hardware versions, memory, serial number, label, PIN
// lengths and flags by card OS and profile. The session counts are the
// PKCS#11 layer's.

#include <cstdint>

#include "card/Slot.h"
#include "pkcs11/cryptoki.h"
#include "token/ApplicationInfo.h"

namespace Brelt::MW::Token {

// Fills `info` from the card and the slot's reader (its PIN pad).
CK_RV GetTokenInfoEF(const Card::Slot& slot, CK_TOKEN_INFO* info);

// serialNumber := upper-case hex of the first min(length, 8) bytes; the rest
// of the field stays as it is.
void ExtractSerialNumber(const uint8_t* bytes, uint32_t length, CK_TOKEN_INFO* info);

// Whether the application holds a private object (a private key usable by
// the profile, or a private certificate): the user must log in.
bool HasPrivateObject(const ApplicationInfo& application);

// The token-present flag of the slot; false when there is no such slot.
bool IsTokenPresent(CK_SLOT_ID slotId);

}  // namespace Brelt::MW::Token
