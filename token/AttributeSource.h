#pragma once
// What the attribute getters need to know beside the object itself: the card
// application behind the session's slot and the card reads that a few
// attributes need. The PKCS#11 layer fills one per call; tests fill their own.

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "BaseTypes.h"
#include "X509Certificate.h"
#include "pkcs11/cryptoki.h"
#include "token/CIOObject.h"

namespace Brelt::MW::Token {

// A public key's modulus and exponent as big-endian magnitudes.
struct RsaPublicValues {
    std::vector<uint8_t> modulus;
    std::vector<uint8_t> exponent;
};

struct AttributeSource {
    // Result of looking the application up. A lookup that succeeds without
    // an application counts as no application.
    CK_RV applicationResult = CKR_OK;
    bool hasApplication = false;

    uint32_t cardProfile = UnknownProfile;
    uint32_t cardOS = UnknownCardOS;
    std::vector<uint8_t> applicationAid;
    // The mechanism of each entry of the application's supported-algorithm
    // list, in list order (GetMechanismFromAlgorithmInfo).
    std::vector<CK_MECHANISM_TYPE> algorithms;
    // The token's objects (the application's lists); null without an application.
    CIOObjectLists* tokenObjects = nullptr;
    // Keeps what tokenObjects points into alive while the source is in use.
    std::shared_ptr<const void> keepAlive;

    // Reads and parses the certificate file at `path` (card access).
    std::function<CK_RV(const MW::Base::HexBinary& path, std::shared_ptr<Crypto::ParsedCertificate>& out)>
        readCertificate;
    // The public half of an on-card RSA private key (profiles with a secure channel).
    std::function<CK_RV(const CIOObject& key, RsaPublicValues& out)> findRsaPublicKey;
    // The values of a token RSA public key, read from its key file.
    std::function<CK_RV(CK_OBJECT_HANDLE handle, RsaPublicValues& out)> readPublicKey;

    // The lookup result as the getters answer it: CKR_OK only with an application.
    CK_RV ApplicationStatus() const
    {
        if (applicationResult != CKR_OK) return applicationResult;
        return hasApplication ? CKR_OK : CKR_FUNCTION_FAILED;
    }
};

}  // namespace Brelt::MW::Token
