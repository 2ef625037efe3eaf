#pragma once
// The steps that signing and deciphering on the card share: the slot and
// application of the operation, the IAS application, one command of a key
// sequence, and such a command carried inside the card's secure channel.

#include <cstdint>
#include <vector>

#include "card/Apdu.h"
#include "card/SecureMessaging.h"
#include "card/Slot.h"
#include "card/StatusCache.h"
#include "pkcs11/cryptoki.h"
#include "token/ApplicationInfo.h"
#include "token/CIOObject.h"

namespace Brelt::MW::Token {

// The slot (without a card probe: the caller's card context holds the
// transaction) and its application.
CK_RV LookUpKeyApplication(CK_SLOT_ID slotId, Card::SlotPtr& slot, ApplicationInfoPtr& application);

// Selects the IAS application. A QesEac application needs its
// chip-authentication channel for that; it is opened when the card does not
// say that the application is usable without one.
CK_RV SelectKeyApplication(CK_ULONG* lastStatus, const Card::Slot& slot, const ApplicationInfo& application);

// One command of a key sequence (CLA 00, 9000 expected) through SendApdu,
// which protects it by itself under a chip-authentication channel.
CK_RV SendKeyCommand(const Card::Slot& slot, CK_ULONG* lastStatus, uint8_t ins, uint8_t p1, uint8_t p2,
                     const std::vector<uint8_t>& data, bool withLe, bool forceExtended, Card::ApduResponse& response);

// The same command protected whole by `channel` (mode 2); the answer is
// unwrapped in place, and an answer that fails its check fails the command.
CK_RV SendKeyCommandInChannel(Card::SecureMessaging& channel, const Card::Slot& slot, CK_ULONG* lastStatus,
                              uint8_t ins, uint8_t p1, uint8_t p2, const std::vector<uint8_t>& data, bool withLe,
                              bool forceExtended, Card::ApduResponse& response);

// The key's key reference; false when it has none.
bool KeyReferenceOf(const CIOObject& key, uint32_t* reference);

}  // namespace Brelt::MW::Token
