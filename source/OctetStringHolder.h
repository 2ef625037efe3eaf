#pragma once

#include <botan/symkey.h>

#include <memory>
#include <string>

#include "BaseTypes.h"

namespace Brelt::Crypto {

// Owns one Botan octet string used as a symmetric key or an initialisation
// vector; empty (null) once released.
using OctetStringHolder = std::unique_ptr<Botan::OctetString>;

OctetStringHolder MakeOctetStringHolder(const unsigned char* bytes, size_t length);
// Two hex digits per byte; Botan's decoder throws on malformed text.
OctetStringHolder MakeOctetStringFromHex(const std::string& hex);
// A null buffer gives an empty octet string.
OctetStringHolder MakeOctetStringFromHexBinary(const Brelt::MW::Base::HexBinary* bytes);

void ReleaseOctetStringHolder(OctetStringHolder& holder);
void ReleaseKeyHolder(OctetStringHolder& holder);

}  // namespace Brelt::Crypto
