#include "DigestEngine.h"

#include <cstring>

#include "HostCryptoResult.h"

namespace Brelt::Crypto {

namespace {

const char* HashNameForSize(uint32_t hashSize)
{
    switch (hashSize) {
    case 1: return "SHA-1";
    case 224: return "SHA-224";
    case 256: return "SHA-256";
    case 384: return "SHA-384";
    case 512: return "SHA-512";
    default: return nullptr;
    }
}

uint32_t DigestBytesForSize(uint32_t hashSize)
{
    switch (hashSize) {
    case 1: return 20;
    case 224: return 28;
    case 256: return 32;
    case 384: return 48;
    case 512: return 64;
    default: return 0;
    }
}

}  // namespace

int HashInit(DigestContext* context)
{
    if (context == nullptr)
        return CRYPTO_BAD_INPUT;
    const uint32_t hashSize = context->hashSize;
    ResetDigestContext(context);
    context->hashSize = hashSize;
    const char* name = HashNameForSize(hashSize);
    if (name == nullptr)
        return CRYPTO_BAD_INPUT;
    context->digest = std::make_unique<MessageDigest>(name);
    context->digest->Start();
    return CRYPTO_OK;
}

int HashUpdate(DigestContext* context, const unsigned char* data, uint32_t length)
{
    if (context != nullptr)
        context->updateStarted = 1;
    if (length == 0)
        return CRYPTO_OK;
    if (context == nullptr || data == nullptr)
        return CRYPTO_BAD_INPUT;
    if (context->finished != 0) {
        context->failure = CRYPTO_UPDATE_AFTER_FINAL;
        return CRYPTO_UPDATE_AFTER_FINAL;
    }
    if (context->failure != 0)
        return static_cast<int>(context->failure);
    if (!context->digest)
        return CRYPTO_BAD_INPUT;
    try {
        context->digest->Update(data, length);
    } catch (...) {
        return CRYPTO_BAD_INPUT;
    }
    return CRYPTO_OK;
}

int HashFinal(DigestContext* context, unsigned char* output, const uint32_t* length)
{
    if (context == nullptr)
        return CRYPTO_BAD_INPUT;
    if (context->failure != 0)
        return static_cast<int>(context->failure);
    if (context->finished != 0)
        return CRYPTO_ALREADY_FINAL;
    // Check the caller's room before finishing: a too short buffer must not
    // use up the digest.
    uint32_t needed = 0;
    if (!context->digest || GetDigestOutputLength(context->hashSize, &needed) != CRYPTO_OK)
        return CRYPTO_BAD_INPUT;
    if (output == nullptr || length == nullptr || *length < needed)
        return CRYPTO_BAD_INPUT;
    context->finished = 1;
    const auto result = context->digest->Final();
    if (result->length < 0 || static_cast<uint32_t>(result->length) > *length)
        return CRYPTO_BAD_INPUT;
    if (result->length > 0)
        std::memcpy(output, result->data, static_cast<size_t>(result->length));
    return CRYPTO_OK;
}

void ResetDigestContext(DigestContext* context)
{
    if (context == nullptr)
        return;
    context->digest.reset();
    context->hashSize = 0;
    context->updateStarted = 0;
    context->finished = 0;
    context->failure = 0;
}

int GetDigestOutputLength(uint32_t hashSize, uint32_t* length)
{
    const uint32_t bytes = DigestBytesForSize(hashSize);
    if (length != nullptr)
        *length = bytes;
    return bytes == 0 ? CRYPTO_FAILED : CRYPTO_OK;
}

int GetDigestPrefix(uint32_t /*hashSize*/, unsigned char* /*buffer*/, uint32_t* length)
{
    if (length != nullptr)
        *length = 0;
    return CRYPTO_OK;
}

int GetDigestPrefixLength(uint32_t /*hashSize*/, uint32_t* length)
{
    if (length != nullptr)
        *length = 0;
    return CRYPTO_OK;
}

int GetDigestLength(CK_MECHANISM_TYPE mechanism, uint32_t* length)
{
    uint32_t bytes = 0;
    switch (mechanism) {
    case CKM_SHA_1: bytes = 20; break;
    case CKM_SHA224: bytes = 28; break;
    case CKM_SHA256: bytes = 32; break;
    case CKM_SHA384: bytes = 48; break;
    case CKM_SHA512: bytes = 64; break;
    default: break;
    }
    if (length != nullptr)
        *length = bytes;
    return bytes == 0 ? CRYPTO_FAILED : CRYPTO_OK;
}

void ReleaseMessageDigest(std::unique_ptr<MessageDigest>& holder)
{
    holder.reset();
}

}  // namespace Brelt::Crypto
