#pragma once

#include <cstdint>
#include <memory>

#include "RsaEncryptor.h"
#include "RsaVerifier.h"
#include "pkcs11/cryptoki.h"

namespace Brelt::Crypto {

// RSA with a session public key, by PKCS#11 mechanism. Each answers a
// CRYPTO_ code (HostCryptoResult.h).

// 0 verified, 1 not verified, 10 for a mechanism without a PKCS#1 v1.5
// signature encoding or a null buffer with a non-zero length. Botan's
// exception passes for an unusable key.
int VerifyWithSessionPublicKey(const unsigned char* data, uint16_t dataLength,
                               const unsigned char* signature, uint16_t signatureLength,
                               const unsigned char* exponent, uint16_t exponentLength,
                               const unsigned char* modulus, uint16_t modulusLength,
                               CK_MECHANISM_TYPE mechanism);

// Turns the card's deciphered block into the plaintext: unchanged for
// CKM_RSA_PKCS, OAEP removed for CKM_RSA_PKCS_OAEP. 0, 1 (refused or bad
// block) or 12 (output too short; *outputLength then holds the size needed).
int DecryptToBuffer(const unsigned char* input, uint32_t inputLength, unsigned char* output,
                    uint32_t* outputLength, uint32_t modulusBits, const CK_MECHANISM* mechanism);

// PKCS#1 v1.5 or OAEP encoding on the host, then the bare RSA operation.
// 0, 1 or 12 (as DecryptToBuffer).
int EncryptWithSessionPublicKey(const unsigned char* data, uint32_t dataLength,
                                unsigned char* output, uint32_t* outputLength,
                                const unsigned char* exponent, uint32_t exponentLength,
                                const unsigned char* modulus, uint32_t modulusLength,
                                const CK_MECHANISM* mechanism);

void ReleaseRsaEncryptor(std::unique_ptr<RsaEncryptor>& holder);
void ReleaseRsaVerifier(std::unique_ptr<RsaVerifier>& holder);

}  // namespace Brelt::Crypto
