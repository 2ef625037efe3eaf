#pragma once
// PIN presentation, PIN change and PIN state on the card. The only place
// where VERIFY and CHANGE REFERENCE DATA are built. Every command that carries
// a PIN is sent with the no-log flag, and every PIN copy is wiped when freed.
//
// The routines run under TokenMutex inside the caller's card context. They
// send their commands with the session's last-status word, which
// MapPinError reads.

#include <cstdint>
#include <memory>

#include "BaseTypes.h"
#include "card/PinReference.h"
#include "card/Slot.h"
#include "token/ApplicationInfo.h"
#include "pkcs11/cryptoki.h"

class VirtualKeyboard;

namespace Brelt::MW::Pkcs11 {
class Session;
}

namespace Brelt::MW::Token {

// The tries left in a 63Cx status word; -1 when the word carries none.
int GetPinRetryCounter(uint16_t sw);

// Maps the last-status word of a failed PIN command.
CK_RV MapPinError(CK_ULONG lastStatus);

// A buffer of `maxLength` bytes of `padChar` that starts with the first
// min(*length, maxLength) PIN bytes; *length becomes maxLength.
std::unique_ptr<MW::Base::HexBinary> ApplyPinPadding(const uint8_t* pin, uint8_t* length, uint8_t padChar,
                                                     uint8_t maxLength);

// A PIN argument counts as given when the pointer is not null, the length is
// above 0 and its first byte is not zero. No byte of a zero-length PIN is read.
inline bool IsPinGiven(const uint8_t* pin, CK_ULONG length) { return pin != nullptr && length > 0 && pin[0] != 0; }

// Presents the PIN of a default or SigG application: the caller's PIN, or
// the one entered on the reader's PIN pad or typed on the virtual keyboard,
// asking again after a wrong or wrongly sized PIN. A context login needs the
// card's secure channel unless the PIN pad is used.
CK_RV PresentCIAPin_DefaultProfile(Pkcs11::Session& session, const Card::PinReference& pin, uint8_t pinRef,
                                   const uint8_t* pinBytes, uint8_t pinLength, bool contextLogin,
                                   CK_USER_TYPE userType, int pinType, VirtualKeyboard* keyboard);

// Presents the PIN of a SigZepEp or QesEac application: as above, with the
// tries left read from the card before each attempt and shown in the
// dialogs, and at most one attempt on the PIN pad.
CK_RV PresentCIAPin_SigZepEp(Pkcs11::Session& session, const Card::PinReference& pin, uint8_t pinRef,
                             const uint8_t* pinBytes, uint8_t pinLength, bool contextLogin, CK_USER_TYPE userType,
                             int pinType, VirtualKeyboard* keyboard);

// Changes the PIN: on the PIN pad when no new PIN is given, else CHANGE
// REFERENCE DATA with the new PIN (and the old one when given).
CK_RV ChangePin(Pkcs11::Session& session, uint8_t pinRef, const Card::PinReference& pin, const uint8_t* newPin,
                uint8_t newLength, const uint8_t* oldPin, uint8_t oldLength);

// Sets pin.initialized: whether the PIN is usable without an initial change.
CK_RV GetCIAPinInitStatus(Pkcs11::Session& session, Card::PinReference& pin, uint8_t pinRef);

// True unless the PIN guarding the application's first private key still
// waits for its initial change (or cannot be asked about).
bool ZepPinInitCheck(const Card::Slot& slot, const ApplicationInfo& application);

}  // namespace Brelt::MW::Token
