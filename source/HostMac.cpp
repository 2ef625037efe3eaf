#include "HostMac.h"

#include <algorithm>
#include <new>

#include "CryptoBytes.h"
#include "Des.h"
#include "HostCryptoResult.h"
#include "Iso9797Padding.h"

namespace Brelt::Crypto {

namespace {

constexpr size_t kBlock = 8;

void XorBlock(uint8_t* target, const uint8_t* other)
{
    for (size_t i = 0; i < kBlock; ++i)
        target[i] ^= other[i];
}

}  // namespace

int ComputeRetailMac(const unsigned char* key, uint32_t keyLength, const unsigned char* data,
                     uint32_t dataLength, std::vector<uint8_t>& mac, const unsigned char* iv)
{
    if (key == nullptr || (keyLength != 16 && keyLength != 24))
        return CRYPTO_BAD_KEY_LENGTH;
    if (data == nullptr || dataLength == 0 || dataLength % kBlock != 0)
        return CRYPTO_BAD_INPUT;
    try {
        const Des k1(key);
        const Des k2(key + 8);
        const Des k3(keyLength == 24 ? key + 16 : key);
        uint8_t h[kBlock] = {};
        if (iv != nullptr)
            std::copy_n(iv, kBlock, h);
        for (uint32_t offset = 0; offset < dataLength; offset += kBlock) {
            XorBlock(h, data + offset);
            k1.EncryptBlock(h, h);
        }
        k2.DecryptBlock(h, h);
        k3.EncryptBlock(h, h);
        mac.assign(h, h + kBlock);
        std::fill_n(static_cast<volatile uint8_t*>(h), kBlock, 0);
    } catch (const std::bad_alloc&) {
        return CRYPTO_FAILED;
    }
    return CRYPTO_OK;
}

int ComputeRetailMacPadded(const unsigned char* key, uint32_t keyLength, const unsigned char* data,
                           uint32_t dataLength, std::vector<uint8_t>& mac, const unsigned char* iv)
{
    if (data == nullptr && dataLength != 0)
        return CRYPTO_BAD_INPUT;
    try {
        const std::vector<uint8_t> padded = PadMethod2(data, dataLength);
        return ComputeRetailMac(key, keyLength, padded.data(), static_cast<uint32_t>(padded.size()), mac, iv);
    } catch (const std::bad_alloc&) {
        return CRYPTO_FAILED;
    }
}

int ComputeRetailMacZeroPadded(const unsigned char* key, uint32_t keyLength, const unsigned char* data,
                               uint32_t dataLength, std::vector<uint8_t>& mac, const unsigned char* iv)
{
    if (data == nullptr && dataLength != 0)
        return CRYPTO_BAD_INPUT;
    try {
        const std::vector<uint8_t> padded = PadMethod1(data, dataLength);
        return ComputeRetailMac(key, keyLength, padded.data(), static_cast<uint32_t>(padded.size()), mac, iv);
    } catch (const std::bad_alloc&) {
        return CRYPTO_FAILED;
    }
}

int ComputeX919Mac(const unsigned char* key, uint32_t keyLength, const unsigned char* data,
                   uint32_t dataLength, std::vector<uint8_t>& mac)
{
    if (key == nullptr || (data == nullptr && dataLength != 0))
        return CRYPTO_FAILED;
    try {
        const OctetStringHolder keyHolder = MakeOctetStringHolder(key, keyLength);
        const RetailMac retailMac(keyHolder);
        const auto input = MakeHexBinary(data, dataLength);
        const auto result = retailMac.ComputePadded(input.get());
        const auto bytes = BytesOf(result.get());
        mac.assign(bytes.begin(), bytes.end());
    } catch (...) {
        return CRYPTO_FAILED;
    }
    return CRYPTO_OK;
}

int DesCbcEncrypt(const unsigned char key[8], unsigned char* data, int32_t length, const unsigned char* iv)
{
    if (key == nullptr || data == nullptr || length <= 0 || length % static_cast<int32_t>(kBlock) != 0)
        return CRYPTO_BAD_INPUT;
    const Des des(key);
    uint8_t chain[kBlock] = {};
    if (iv != nullptr)
        std::copy_n(iv, kBlock, chain);
    for (int32_t offset = 0; offset < length; offset += static_cast<int32_t>(kBlock)) {
        XorBlock(data + offset, chain);
        des.EncryptBlock(data + offset, data + offset);
        std::copy_n(data + offset, kBlock, chain);
    }
    return CRYPTO_OK;
}

void ReleaseRetailMac(std::unique_ptr<RetailMac>& holder)
{
    holder.reset();
}

}  // namespace Brelt::Crypto
