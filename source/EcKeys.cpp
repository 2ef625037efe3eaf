#include "EcKeys.h"

#include <botan/auto_rng.h>
#include <botan/ec_group.h>
#include <botan/ecdh.h>

#include <stdexcept>

#include "CryptoBytes.h"
#include "EcDomain.h"

namespace Brelt::Crypto {

EcPrivateKeyHolder GenerateEcKeyPair(const EcDomain& domain)
{
    Botan::AutoSeeded_RNG rng;
    return std::make_unique<Botan::ECDH_PrivateKey>(rng, domain.GetGroup());
}

EcPublicKeyHolder MakeEcPublicKey(const EcPrivateKeyHolder& keyPair)
{
    if (!keyPair)
        throw std::invalid_argument("MakeEcPublicKey: no key pair");
    return std::make_unique<Botan::ECDH_PublicKey>(keyPair->domain(), keyPair->public_point());
}

EcPublicKeyHolder MakeEcPublicKeyFromPoint(const EcDomain& domain,
                                           const Brelt::MW::Base::HexBinary* point)
{
    const auto bytes = BytesOf(point);
    if (bytes.empty())
        throw std::invalid_argument("MakeEcPublicKeyFromPoint: no point");
    const Botan::PointGFp decoded = domain.GetGroup().OS2ECP(bytes.data(), bytes.size());
    // A lone 04 (or 00) decodes to the point at infinity, which is no key.
    if (decoded.is_zero())
        throw std::invalid_argument("MakeEcPublicKeyFromPoint: point at infinity");
    return std::make_unique<Botan::ECDH_PublicKey>(domain.GetGroup(), decoded);
}

std::unique_ptr<Brelt::MW::Base::HexBinary> GetEcPublicPoint(const EcPublicKeyHolder& key)
{
    if (!key)
        throw std::invalid_argument("GetEcPublicPoint: no key");
    return MakeHexBinary(key->public_point().encode(Botan::PointGFp::UNCOMPRESSED));
}

std::unique_ptr<Brelt::MW::Base::HexBinary> GetEcPublicPoint(const EcPrivateKeyHolder& key)
{
    if (!key)
        throw std::invalid_argument("GetEcPublicPoint: no key");
    return MakeHexBinary(key->public_point().encode(Botan::PointGFp::UNCOMPRESSED));
}

void ReleaseEcPrivateKey(EcPrivateKeyHolder& holder)
{
    holder.reset();
}

void ReleaseEcPublicKey(EcPublicKeyHolder& holder)
{
    holder.reset();
}

}  // namespace Brelt::Crypto
