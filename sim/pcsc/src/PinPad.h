// The keypad side of a PC/SC part 10 PIN pad: the feature list a reader
// announces and the command APDU it builds from a PIN_VERIFY_STRUCTURE or
// PIN_MODIFY_STRUCTURE and what the user typed.
#pragma once

#include <cardsim/Readers.h>

#include <cstdint>
#include <optional>

namespace cardsim::detail {

// Control code under which a reader offers a feature (driver-defined; the
// usual CCID scheme).
DWORD FeatureControlCode(uint8_t feature);
// The feature tag behind a control code, if it is one of ours.
std::optional<uint8_t> FeatureOfControlCode(DWORD code);
bool Offers(PinPad pinPad, uint8_t feature);
// TLV list answered to the get-feature request.
Bytes FeatureList(PinPad pinPad);

// Status words the reader answers itself.
inline constexpr uint16_t kSwEntryTimeout = 0x6400;
inline constexpr uint16_t kSwEntryCancelled = 0x6401;
inline constexpr uint16_t kSwConfirmationMismatch = 0x6402;
inline constexpr uint16_t kSwPinLengthRange = 0x6403;
inline constexpr uint16_t kSwBadStructure = 0x6B80;

// Either the APDU to send to the card or the status word the reader answers
// without involving the card.
struct KeypadOutcome {
    std::optional<Bytes> apdu;
    uint16_t readerSw = 0;
};

KeypadOutcome BuildVerifyApdu(const Bytes& structure, const PinEntry& entry);
KeypadOutcome BuildModifyApdu(const Bytes& structure, const PinEntry& entry);

}  // namespace cardsim::detail
