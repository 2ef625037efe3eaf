#pragma once

#include <cstdint>
#include <memory>

#include "MessageDigest.h"
#include "pkcs11/cryptoki.h"

namespace Brelt::Crypto {

// The streaming digest of one session. hashSize is 1 for SHA-1, else 224,
// 256, 384 or 512; the caller sets it before HashInit.
struct DigestContext {
    std::unique_ptr<MessageDigest> digest;
    uint32_t hashSize = 0;
    uint32_t updateStarted = 0;
    uint32_t finished = 0;
    uint32_t failure = 0;  // once set, every later call answers it
};

// Each answers a CRYPTO_ code (HostCryptoResult.h).
int HashInit(DigestContext* context);
int HashUpdate(DigestContext* context, const unsigned char* data, uint32_t length);
// Copies the raw digest into output when *length is large enough; a too
// short buffer answers CRYPTO_BAD_INPUT and leaves the digest unfinished, so
// the caller can retry with a larger one. *length is not written back: the
// caller knows the size from GetDigestOutputLength.
int HashFinal(DigestContext* context, unsigned char* output, const uint32_t* length);
void ResetDigestContext(DigestContext* context);

int GetDigestOutputLength(uint32_t hashSize, uint32_t* length);
// Digests are returned raw, without an ASN.1 DigestInfo: the prefix is empty.
int GetDigestPrefix(uint32_t hashSize, unsigned char* buffer, uint32_t* length);
int GetDigestPrefixLength(uint32_t hashSize, uint32_t* length);
int GetDigestLength(CK_MECHANISM_TYPE mechanism, uint32_t* length);

void ReleaseMessageDigest(std::unique_ptr<MessageDigest>& holder);

}  // namespace Brelt::Crypto
