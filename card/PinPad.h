#pragma once
// Secure PIN entry on a reader's PIN pad (PC/SC part 10). The reader collects
// the PIN on its keypad, builds the VERIFY or CHANGE REFERENCE DATA command
// from the structure handed to it and returns the card's status word; the PIN
// never passes through the host.

#include <winscard.h>

#include <array>
#include <cstddef>
#include <cstdint>

#include "card/Apdu.h"
#include "card/PinReference.h"
#include "pkcs11/cryptoki.h"

namespace Brelt::MW::Card {

class Slot;

// Part 10 feature tags.
inline constexpr uint8_t kFeatureVerifyPinStart = 0x01;
inline constexpr uint8_t kFeatureVerifyPinFinish = 0x02;
inline constexpr uint8_t kFeatureModifyPinStart = 0x03;
inline constexpr uint8_t kFeatureModifyPinFinish = 0x04;
inline constexpr uint8_t kFeatureVerifyPinDirect = 0x06;
inline constexpr uint8_t kFeatureModifyPinDirect = 0x07;

// The reader's feature list: room for as many entries as a driver may
// announce (pcsc-lite's MAX_BUFFER_SIZE); `length` is what the reader returned.
struct PinPadFeatures {
  static constexpr std::size_t kEntrySize = 6;
  std::array<uint8_t, 264> bytes{};
  std::size_t length = 0;
};

// The structures are built in a buffer of this size; a larger one is refused.
inline constexpr std::size_t kPinPadStructureRoom = 255;

// Reads the feature list. CKR_FUNCTION_FAILED when SCardControl fails.
CK_RV SPE_GetFeatures(SCARDHANDLE card, PinPadFeatures& features);
// The control code of the first entry with that tag; 0 when absent or when
// the tag is 0 or above 10.
uint32_t SPE_GetFeatureCode(const PinPadFeatures& features, uint8_t tag);
// Both direct features, or all four start/finish features.
bool SPE_HasPinPad(SCARDHANDLE card);
bool SPE_HasPinPad(const PinPadFeatures& features);
// The same for the slot's card, asked of the reader once per insertion.
bool SPE_HasPinPad(const Slot& slot);

// PIN format bits of bmFormatString: 1 BCD, 2 ASCII, 0 binary.
uint8_t SPE_GetPinFormat(uint8_t pwdType);
// Maps the status word the reader returned.
CK_RV SPE_EvaluateSW(uint16_t sw);

// The structures as handed to the reader; `length` is the byte count to send.
// CKR_GENERAL_ERROR when the structure would not fit.
struct PinPadStructure {
  std::array<uint8_t, kPinPadStructureRoom> bytes{};
  std::size_t length = 0;
};
CK_RV BuildVerifyStructure(uint8_t pinRef, const PinReference& pin, uint8_t timeOut, uint8_t timeOut2,
                           const ApduCommand* wrapped, PinPadStructure& out);
CK_RV BuildModifyStructure(uint8_t pinRef, const PinReference& pin, uint8_t confirmPin, uint8_t timeOut,
                           uint8_t timeOut2, uint8_t ins, PinPadStructure& out);
CK_RV BuildModifyKeyStructure(uint8_t keyRef, const PinReference& pin, uint8_t timeOut, PinPadStructure& out);

// PIN verification on the pad. `wrapped`: a VERIFY already protected by
// secure messaging whose data hold the PIN block at offset 12, or null.
CK_RV SPE_VerifyPin(SCARDHANDLE card, uint8_t pinRef, PinReference pin, uint8_t timeOut, uint8_t timeOut2,
                    const ApduCommand* wrapped);
// PIN change on the pad; bit 1 of `confirmPin` (value 2): the old PIN is entered too.
CK_RV SPE_UnblockModifyPin(SCARDHANDLE card, uint8_t pinRef, const PinReference& pin, uint8_t confirmPin,
                           uint8_t timeOut, uint8_t timeOut2, uint8_t ins);
// CHANGE REFERENCE DATA (INS 24) on the pad.
CK_RV SPE_ModifyPin(SCARDHANDLE card, uint8_t pinRef, const PinReference& pin, uint8_t confirmPin,
                    uint8_t timeOut, uint8_t timeOut2);
CK_RV SPE_ModifyKey(SCARDHANDLE card, uint8_t keyRef, const PinReference& pin, uint8_t timeOut);

}  // namespace Brelt::MW::Card
