#pragma once

#include <memory>
#include <string>

#include "BaseTypes.h"
#include "RsaKey.h"

namespace Botan {
class PK_Verifier;
}

namespace Brelt::Crypto {

// RSA signature check with an EMSA name such as "EMSA3(SHA-256)" or
// "EMSA3(Raw)". The key must outlive the verifier.
class RsaVerifier {
public:
    RsaVerifier(const RsaKeyHolder& key, const std::string& emsaName);
    ~RsaVerifier();
    RsaVerifier(const RsaVerifier&) = delete;
    RsaVerifier& operator=(const RsaVerifier&) = delete;

    // False for a wrong, malformed or oversized signature.
    bool Verify(const Brelt::MW::Base::HexBinary* message,
                const Brelt::MW::Base::HexBinary* signature) const;

private:
    std::string emsaName_;
    std::unique_ptr<Botan::PK_Verifier> verifier_;
};

}  // namespace Brelt::Crypto
