#include "RsaVerifier.h"

#include <botan/pubkey.h>
#include <botan/rsa.h>

#include <stdexcept>

#include "CryptoBytes.h"

namespace Brelt::Crypto {

RsaVerifier::RsaVerifier(const RsaKeyHolder& key, const std::string& emsaName) : emsaName_(emsaName)
{
    if (!key)
        throw std::invalid_argument("RsaVerifier: no key");
    verifier_ = std::make_unique<Botan::PK_Verifier>(*key, emsaName_);
}

RsaVerifier::~RsaVerifier() = default;

bool RsaVerifier::Verify(const Brelt::MW::Base::HexBinary* message,
                         const Brelt::MW::Base::HexBinary* signature) const
{
    const auto msg = BytesOf(message);
    const auto sig = BytesOf(signature);
    return verifier_->verify_message(msg.data(), msg.size(), sig.data(), sig.size());
}

}  // namespace Brelt::Crypto
