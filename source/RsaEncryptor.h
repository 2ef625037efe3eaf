#pragma once

#include <memory>
#include <string>

#include "BaseTypes.h"
#include "RsaKey.h"

namespace Botan {
class AutoSeeded_RNG;
class PK_Encryptor_EME;
}  // namespace Botan

namespace Brelt::Crypto {

// RSA public-key encryption with an EME name ("Raw" for the bare RSA
// operation on an already encoded block). The key must outlive the encryptor.
class RsaEncryptor {
public:
    RsaEncryptor(const RsaKeyHolder& key, const std::string& emeName);
    ~RsaEncryptor();
    RsaEncryptor(const RsaEncryptor&) = delete;
    RsaEncryptor& operator=(const RsaEncryptor&) = delete;

    // Botan's exceptions pass (input too long for the modulus).
    std::unique_ptr<Brelt::MW::Base::HexBinary> Encrypt(const Brelt::MW::Base::HexBinary* data) const;

private:
    std::string emeName_;
    std::unique_ptr<Botan::AutoSeeded_RNG> rng_;
    std::unique_ptr<Botan::PK_Encryptor_EME> encryptor_;
};

}  // namespace Brelt::Crypto
