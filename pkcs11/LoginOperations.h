#pragma once
// Login, logout and PIN change on a session, and the PIN look-ups they share
// with signing and deciphering. Run under TokenMutex inside the caller's card
// context.

#include <cstdint>

#include "card/PinReference.h"
#include "pkcs11/cryptoki.h"

namespace Brelt::MW::Pkcs11 {

class Session;

// PIN reference of the default and SigG applications.
inline constexpr uint8_t kDefaultPinReference = 1;
// PIN kind shown by the dialogs of the default and SigG applications ("PIN").
inline constexpr int kPinTypePin = 3;

CK_RV Login(Session& session, CK_USER_TYPE userType, const CK_UTF8CHAR* pin, CK_ULONG pinLength);
// Every session of the token returns to a public state; nothing is sent to the card.
CK_RV Logout(Session& session);
CK_RV SetPin(Session& session, const CK_UTF8CHAR* oldPin, CK_ULONG oldLength, const CK_UTF8CHAR* newPin,
             CK_ULONG newLength);

// Fills `out` from the application's user PIN object: with a non-zero
// `referenceFilter` the PIN object of that reference, else the first
// non-local one (unblocking and SO PINs never). With `checkInitialisation`
// the card is asked whether the PIN still waits for its first change.
CK_RV GetCIAPinAttributes(Session& session, Card::PinReference* out, bool checkInitialisation,
                          uint8_t referenceFilter);

// The reference of the PIN that guards a private key.
CK_RV GetPinRefForPrivateKey(Session& session, CK_OBJECT_HANDLE key, uint8_t* reference);

// CKR_PIN_EXPIRED while the user PIN waits for its initial change.
CK_RV CheckIfCIAPinInitialized(Session& session);

}  // namespace Brelt::MW::Pkcs11
