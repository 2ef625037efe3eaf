#pragma once

#include <memory>

#include "BaseTypes.h"

namespace Botan {
class ECDH_PrivateKey;
class ECDH_PublicKey;
}  // namespace Botan

namespace Brelt::Crypto {

class EcDomain;

using EcPrivateKeyHolder = std::unique_ptr<Botan::ECDH_PrivateKey>;
using EcPublicKeyHolder = std::unique_ptr<Botan::ECDH_PublicKey>;

EcPrivateKeyHolder GenerateEcKeyPair(const EcDomain& domain);
EcPublicKeyHolder MakeEcPublicKey(const EcPrivateKeyHolder& keyPair);
// Throws (Botan) for a point that does not decode or is not on the curve.
EcPublicKeyHolder MakeEcPublicKeyFromPoint(const EcDomain& domain,
                                           const Brelt::MW::Base::HexBinary* point);

// The public point, uncompressed (04 || X || Y).
std::unique_ptr<Brelt::MW::Base::HexBinary> GetEcPublicPoint(const EcPublicKeyHolder& key);
std::unique_ptr<Brelt::MW::Base::HexBinary> GetEcPublicPoint(const EcPrivateKeyHolder& key);

void ReleaseEcPrivateKey(EcPrivateKeyHolder& holder);
void ReleaseEcPublicKey(EcPublicKeyHolder& holder);

}  // namespace Brelt::Crypto
