#pragma once
// A cryptogram deciphered by a private key on the card, inside the card's
// secure channel, with the command sequence of the application's profile.

#include <cstdint>
#include <memory>
#include <vector>

#include "card/SecureMessaging.h"
#include "pkcs11/cryptoki.h"
#include "token/CIOObject.h"

namespace Brelt::MW::Token {

struct DecipherKey {
    CK_SLOT_ID slotId = 0;
    // The calling session's last-status word, or null.
    CK_ULONG* lastStatus = nullptr;
    // The session's secure channel to the card (required).
    std::shared_ptr<Card::SecureMessaging> channel;
    const CIOObject* key = nullptr;
};

// The card's answer to PSO DECIPHER of 00 || cryptogram: the plaintext for
// CKM_RSA_PKCS, the whole block for CKM_RSA_PKCS_OAEP (the card is told to
// leave the padding, which the host removes). Protected by the application-
// container channel, or for a QesEac key by SendApdu under the chip-
// authentication channel after the key's environment is restored. A QesEac
// key with OAEP is refused (CKR_FUNCTION_FAILED) before any command: its
// command would be protected twice.
CK_RV DecipherOnCard(const DecipherKey& key, CK_MECHANISM_TYPE mechanism, const uint8_t* cryptogram, size_t length,
                     std::vector<uint8_t>& answer);

}  // namespace Brelt::MW::Token
