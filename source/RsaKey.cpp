#include "RsaKey.h"

#include <botan/bigint.h>
#include <botan/rsa.h>

#include <stdexcept>

#include "CryptoBytes.h"

namespace Brelt::Crypto {

namespace {
Botan::BigInt ToBigInt(const Brelt::MW::Base::HexBinary* value)
{
    const auto bytes = BytesOf(value);
    return Botan::BigInt(bytes.data(), bytes.size());
}

void RequireKey(const RsaKeyHolder& key)
{
    if (!key)
        throw std::invalid_argument("RSA key: no key");
}
}  // namespace

RsaKeyHolder MakeRsaPublicKey(const Brelt::MW::Base::HexBinary* modulus,
                              const Brelt::MW::Base::HexBinary* exponent)
{
    const Botan::BigInt n = ToBigInt(modulus);
    const Botan::BigInt e = ToBigInt(exponent);
    // Botan 2 accepts any values here and fails late; refuse the unusable
    // ones at once so that no operation runs with them.
    if (n < 3 || n.is_even() || e < 3 || e.is_even() || e >= n)
        throw std::invalid_argument("RSA key: invalid modulus or exponent");
    return std::make_unique<Botan::RSA_PublicKey>(n, e);
}

std::unique_ptr<Brelt::MW::Base::HexBinary> GetRsaModulus(const RsaKeyHolder& key)
{
    RequireKey(key);
    return MakeHexBinary(Botan::BigInt::encode(key->get_n()));
}

std::unique_ptr<Brelt::MW::Base::HexBinary> GetRsaExponent(const RsaKeyHolder& key)
{
    RequireKey(key);
    return MakeHexBinary(Botan::BigInt::encode(key->get_e()));
}

void ReleaseRsaKey(RsaKeyHolder& holder)
{
    holder.reset();
}

}  // namespace Brelt::Crypto
