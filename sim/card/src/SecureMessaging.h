// Card side of ISO 7816-4 secure messaging with Triple-DES keys and a send
// sequence counter, as set up by chip authentication.
#pragma once

#include "Apdu.h"

#include <optional>

namespace cardsim::detail {

struct SmSession {
    Bytes kEnc;
    Bytes kMac;
    Bytes ssc = Bytes(8, 0x00);  // empty: a session without send sequence counter
};

// Chip authentication: keys from the agreed secret: first 16 bytes of SHA-1(secret || counter).
SmSession DeriveSession(const Bytes& sharedSecret);

// Checks and deciphers a protected command (CLA with bits 0C set); empty
// optional when the checksum or the data objects are wrong.
std::optional<Command> UnwrapCommand(SmSession& session, const Command& protectedCmd);

// Protects response data and status word: [87] 99 8E, status word outside.
Bytes WrapResponse(SmSession& session, const Bytes& data, uint16_t status);

Bytes Pad2(const Bytes& data);
// MAC algorithm 3 of ISO/IEC 9797-1 over already padded data; 16- or 24-byte key.
Bytes RetailMac(const Bytes& key, const Bytes& paddedData);
Bytes TripleDesCbc(const Bytes& key, const Bytes& data, bool encrypt);

}  // namespace cardsim::detail
