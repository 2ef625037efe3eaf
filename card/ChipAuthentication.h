#pragma once
// Chip authentication (elliptic-curve Diffie-Hellman, Triple-DES secure
// messaging): an ephemeral key pair on the card's chip-authentication
// domain, MSE SET AT with its public point, key agreement with the card's
// static key, K_enc and K_mac from the shared secret, and a context with a
// send sequence counter.
//
// lastStatus is the caller's last-status word (a session's device error) or
// null.

#include <cstdint>
#include <memory>
#include <string>

#include "BaseTypes.h"
#include "EcDomain.h"
#include "EcKeys.h"
#include "SessionKeyPair.h"
#include "card/SecureMessaging.h"
#include "pkcs11/cryptoki.h"

namespace Brelt::Crypto::EIDStruct {
class CardSecurity;
}

namespace Brelt::MW::Card {

class Slot;

// The parsed EF.CardSecurity kept for later renewals of the channel.
using CardSecurityCache = std::shared_ptr<const Brelt::Crypto::EIDStruct::CardSecurity>;

// The chip-authentication key the module asks the card to use.
inline constexpr int32_t kChipAuthenticationKeyId = 3;

// 84 01 keyId || 91 L publicKey. Throws the plain text "Max value of KeyID
// is 0xff" for a key id above 255; null for a null key.
std::unique_ptr<MW::Base::HexBinary> BuildMseSetAtData(const MW::Base::HexBinary* publicKey, int32_t keyId);

// The shared secret left-padded with zero bytes to the field size of the
// named brainpool curves of 192, 224, 256 and 512 bits; any other domain
// gets a copy. Null for a null secret.
std::unique_ptr<MW::Base::HexBinary> ZeroPadding(const MW::Base::HexBinary* secret, const std::string& domainName);

// K_enc = SHA-1(KSeed || 00000001)[0..16), K_mac = SHA-1(KSeed || 00000002)[0..16).
// Null unless the seed has 24, 28, 32 or 64 bytes.
std::unique_ptr<Brelt::Crypto::SessionKeyPair> DeriveKeyFromKSeed(const MW::Base::HexBinary* kSeed);

// SELECT MF, MSE SET AT, key agreement and key derivation; CKR_OK and a
// context with a counter (type still 2: the registry marks it 4) in *out.
CK_RV ChipAuthentication(CK_ULONG* lastStatus, const Slot* slot, const Brelt::Crypto::EcDomain& domain,
                         const Brelt::Crypto::EcPrivateKeyHolder& ephemeral,
                         const Brelt::Crypto::EcPublicKeyHolder& cardKey, std::unique_ptr<SecureMessaging>* out);

// A copy of the public key of the file's first ChipAuthenticationPublicKeyInfo;
// null when it has none.
std::unique_ptr<MW::Base::HexBinary> GetChipAuthPublicKey(const Brelt::Crypto::EIDStruct::CardSecurity& file);

// Reads and parses EF.CardSecurity (into *cache), then runs chip
// authentication with its domain and key. Always CKR_OK; *out receives the
// context on success and is left alone otherwise.
CK_RV ChipAuthSecMessaging(CK_ULONG* lastStatus, const Slot* slot, CardSecurityCache* cache,
                           std::unique_ptr<SecureMessaging>* out);
// The same with the file already in *cache (read only when the cache is empty).
CK_RV RenewChipAuthSecMessaging(CK_ULONG* lastStatus, const Slot* slot, CardSecurityCache* cache,
                                std::unique_ptr<SecureMessaging>* out);

}  // namespace Brelt::MW::Card
