#pragma once
// The public half of an RSA private key as the card carries it: the
// certificate with the key's iD or, without one, the public-key object with
// that iD. Each is read from the card once and then kept (a certificate in
// its object, a key file in the card's memory), so asking again costs no
// card command.

#include <cstdint>
#include <memory>
#include <vector>

#include "X509Certificate.h"
#include "pkcs11/cryptoki.h"
#include "token/AttributeSource.h"
#include "token/CIOObject.h"

namespace Brelt::MW::Token {

// The first certificate of the token's first certificate list whose iD is
// the key's: CKR_OK with null when there is none; the read's error otherwise.
CK_RV FindKeyCertificate(const AttributeSource& source, const CIOObject& key,
                         std::shared_ptr<Crypto::ParsedCertificate>& certificate);

// Modulus and exponent of the key's public half; false when the card
// carries none for the key or it cannot be read or used.
bool GetKeyPublicHalf(const AttributeSource& source, const CIOObject& key, RsaPublicValues& out);

// Size in bits of a big-endian magnitude (leading zero bytes do not count).
uint32_t MagnitudeBits(const std::vector<uint8_t>& magnitude);

}  // namespace Brelt::MW::Token
