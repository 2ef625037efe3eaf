#include "RsaEncryptor.h"

#include <botan/auto_rng.h>
#include <botan/pubkey.h>
#include <botan/rsa.h>

#include <stdexcept>

#include "CryptoBytes.h"

namespace Brelt::Crypto {

RsaEncryptor::RsaEncryptor(const RsaKeyHolder& key, const std::string& emeName)
    : emeName_(emeName), rng_(std::make_unique<Botan::AutoSeeded_RNG>())
{
    if (!key)
        throw std::invalid_argument("RsaEncryptor: no key");
    encryptor_ = std::make_unique<Botan::PK_Encryptor_EME>(*key, *rng_, emeName_);
}

RsaEncryptor::~RsaEncryptor() = default;

std::unique_ptr<Brelt::MW::Base::HexBinary> RsaEncryptor::Encrypt(const Brelt::MW::Base::HexBinary* data) const
{
    if (data == nullptr)
        throw std::invalid_argument("RsaEncryptor: null data");
    const auto input = BytesOf(data);
    Botan::AutoSeeded_RNG rng;
    return MakeHexBinary(encryptor_->encrypt(input.data(), input.size(), rng));
}

}  // namespace Brelt::Crypto
