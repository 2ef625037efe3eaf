#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "BaseTypes.h"
#include "EcKeys.h"

namespace Botan {
class AutoSeeded_RNG;
class PK_Key_Agreement;
}  // namespace Botan

namespace Brelt::Crypto {

// ECDH between our private key and a peer's public key. Neither key is owned;
// both key objects must outlive the agreement.
class EcdhAgreement {
public:
    EcdhAgreement(const EcPrivateKeyHolder& privateKey, const EcPublicKeyHolder& peerKey,
                  const std::string& kdfName);
    ~EcdhAgreement();
    EcdhAgreement(const EcdhAgreement&) = delete;
    EcdhAgreement& operator=(const EcdhAgreement&) = delete;

    // keyLength 0 = everything the KDF gives; with "Raw" that is the shared
    // secret (x-coordinate of the shared point) itself.
    std::unique_ptr<Brelt::MW::Base::HexBinary> Derive(uint32_t keyLength) const;

private:
    const Botan::ECDH_PrivateKey* privateKey_;
    const Botan::ECDH_PublicKey* peerKey_;
    std::string kdfName_;
    std::unique_ptr<Botan::AutoSeeded_RNG> rng_;  // used by the agreement for blinding
    std::unique_ptr<Botan::PK_Key_Agreement> agreement_;
};

}  // namespace Brelt::Crypto
