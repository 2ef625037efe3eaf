#include "EcdhAgreement.h"

#include <botan/auto_rng.h>
#include <botan/ecdh.h>
#include <botan/pubkey.h>

#include <stdexcept>

#include "CryptoBytes.h"

namespace Brelt::Crypto {

EcdhAgreement::EcdhAgreement(const EcPrivateKeyHolder& privateKey, const EcPublicKeyHolder& peerKey,
                             const std::string& kdfName)
    : privateKey_(privateKey.get()), peerKey_(peerKey.get()), kdfName_(kdfName),
      rng_(std::make_unique<Botan::AutoSeeded_RNG>())
{
    if (!privateKey_ || !peerKey_)
        throw std::invalid_argument("EcdhAgreement: missing key");
    agreement_ = std::make_unique<Botan::PK_Key_Agreement>(*privateKey_, *rng_, kdfName_);
}

EcdhAgreement::~EcdhAgreement() = default;

std::unique_ptr<Brelt::MW::Base::HexBinary> EcdhAgreement::Derive(uint32_t keyLength) const
{
    const std::vector<uint8_t> peerPoint = peerKey_->public_value();
    const Botan::SymmetricKey derived =
        agreement_->derive_key(keyLength, peerPoint.data(), peerPoint.size(), nullptr, 0);
    return MakeHexBinary(derived.begin(), derived.length());
}

}  // namespace Brelt::Crypto
