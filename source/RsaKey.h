#pragma once

#include <memory>

#include "BaseTypes.h"

namespace Botan {
class RSA_PublicKey;
}

namespace Brelt::Crypto {

using RsaKeyHolder = std::unique_ptr<Botan::RSA_PublicKey>;

// Modulus and public exponent as big-endian magnitudes. Botan refuses
// (throws) an even, too small or otherwise unusable modulus or exponent.
RsaKeyHolder MakeRsaPublicKey(const Brelt::MW::Base::HexBinary* modulus,
                              const Brelt::MW::Base::HexBinary* exponent);

std::unique_ptr<Brelt::MW::Base::HexBinary> GetRsaModulus(const RsaKeyHolder& key);
std::unique_ptr<Brelt::MW::Base::HexBinary> GetRsaExponent(const RsaKeyHolder& key);

void ReleaseRsaKey(RsaKeyHolder& holder);

}  // namespace Brelt::Crypto
