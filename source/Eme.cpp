#include "Eme.h"

#include <botan/auto_rng.h>
#include <botan/eme.h>
#include <botan/eme_pkcs.h>
#include <botan/hash.h>
#include <botan/oaep.h>

#include <optional>

#include "CryptoBytes.h"

namespace Brelt::Crypto {

namespace {

std::unique_ptr<Botan::HashFunction> MakeOaepHash(const std::string& name)
{
    for (const char* known : {"SHA-1", "SHA-224", "SHA-256", "SHA-384", "SHA-512"}) {
        if (name == known)
            return Botan::HashFunction::create_or_throw(name);
    }
    return nullptr;
}

// k, the RSA block a codec works for: the encoded block and its leading
// zero byte. Botan's pad and unpad write and read out of bounds below the
// smallest k of their method, so that is checked before they are called.
size_t RsaBlockBytes(uint32_t keyBits)
{
    return keyBits / 8 + 1;
}

constexpr size_t kSmallestPkcs1v15Block = 11;

// Null for an unknown hash or a key smaller than two hashes, the separator
// and the leading zero (k < 2 hLen + 2).
std::unique_ptr<Botan::EME> MakeOaep(const std::string& hashName, const std::string& label, uint32_t keyBits)
{
    auto hash = MakeOaepHash(hashName);
    if (!hash || RsaBlockBytes(keyBits) < 2 * hash->output_length() + 2)
        return nullptr;
    return std::make_unique<Botan::OAEP>(hash.release(), label);
}

// Botan's unpad expects the full 00 || block form and reports validity only
// through valid_mask (its output on failure is garbage). Blocks here carry
// no leading zero, so it is added; an OAEP block is first left-padded with
// zeros to the key size, and a longer one is invalid.
std::optional<Botan::secure_vector<uint8_t>> DecodeBlock(const Botan::EME& eme, bool oaep,
                                                         std::span<const uint8_t> in,
                                                         size_t keyBits)
{
    const size_t k = keyBits / 8;
    if (oaep ? in.size() > k : in.size() != k)
        return std::nullopt;
    Botan::secure_vector<uint8_t> em(1 + (oaep ? k : in.size()), 0);
    std::copy(in.begin(), in.end(), em.end() - static_cast<std::ptrdiff_t>(in.size()));
    uint8_t valid = 0;
    auto out = eme.unpad(valid, em.data(), em.size());
    if (valid != 0xFF)
        return std::nullopt;
    return out;
}

std::unique_ptr<Brelt::MW::Base::HexBinary> EncodeWith(const Botan::EME& eme,
                                                       const Brelt::MW::Base::HexBinary* data,
                                                       uint32_t keyBits)
{
    const auto input = BytesOf(data);
    Botan::AutoSeeded_RNG rng;
    return MakeHexBinary(eme.encode(input.data(), input.size(), keyBits, rng));
}

}  // namespace

OAEP::OAEP(const std::string& hashName, uint32_t keyBits, const std::string& label)
    : keyBits_(keyBits), hashName_(hashName), label_(label)
{
}

std::unique_ptr<Brelt::MW::Base::HexBinary> OAEP::Encode(const Brelt::MW::Base::HexBinary* data) const
{
    try {
        if (data == nullptr)
            return nullptr;
        const auto eme = MakeOaep(hashName_, label_, keyBits_);
        if (!eme)
            return nullptr;
        return EncodeWith(*eme, data, keyBits_);
    } catch (...) {
        return nullptr;
    }
}

std::unique_ptr<Brelt::MW::Base::HexBinary> OAEP::Decode(const Brelt::MW::Base::HexBinary* block) const
{
    try {
        if (block == nullptr)
            return nullptr;
        const auto eme = MakeOaep(hashName_, label_, keyBits_);
        if (!eme)
            return nullptr;
        const auto out = DecodeBlock(*eme, true, BytesOf(block), keyBits_);
        return out ? MakeHexBinary(*out) : nullptr;
    } catch (...) {
        return nullptr;
    }
}

EmePkcs1v15::EmePkcs1v15(uint32_t keyBits) : keyBits_(keyBits) {}

std::unique_ptr<Brelt::MW::Base::HexBinary> EmePkcs1v15::Encode(const Brelt::MW::Base::HexBinary* data) const
{
    try {
        if (data == nullptr || RsaBlockBytes(keyBits_) < kSmallestPkcs1v15Block)
            return nullptr;
        const Botan::EME_PKCS1v15 eme;
        return EncodeWith(eme, data, keyBits_);
    } catch (...) {
        return nullptr;
    }
}

std::unique_ptr<Brelt::MW::Base::HexBinary> EmePkcs1v15::Decode(const Brelt::MW::Base::HexBinary* block) const
{
    try {
        if (block == nullptr || RsaBlockBytes(keyBits_) < kSmallestPkcs1v15Block)
            return nullptr;
        const Botan::EME_PKCS1v15 eme;
        const auto out = DecodeBlock(eme, false, BytesOf(block), keyBits_);
        return out ? MakeHexBinary(*out) : nullptr;
    } catch (...) {
        return nullptr;
    }
}

}  // namespace Brelt::Crypto
