// The host padding codecs with any hash, key size, label and input: Encode
// gives a block of the key size that decodes to the message, Decode of any
// block gives null or a message that fits the block, and nothing reads or
// writes out of bounds.
//
// Input: method (byte 0: OAEP with one of five hashes or an unknown one,
// else PKCS#1 v1.5), key bits (bytes 1-2, big-endian), label length
// (byte 3), label, then the data.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "Eme.h"

using Brelt::MW::Base::HexBinary;

namespace {

std::unique_ptr<HexBinary> Buffer(const uint8_t* data, size_t size)
{
    if (size == 0) return std::make_unique<HexBinary>();
    return std::make_unique<HexBinary>(data, static_cast<int>(size), true);
}

bool SameBytes(const HexBinary& a, const HexBinary& b)
{
    return a.length == b.length && (a.length == 0 || std::equal(a.data, a.data + a.length, b.data));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4) return 0;
    static const char* const kHashes[] = {"SHA-1", "SHA-224", "SHA-256", "SHA-384", "SHA-512", "MD5"};
    const size_t method = data[0] % 7;
    const uint32_t keyBits = static_cast<uint32_t>(data[1]) << 8 | data[2];
    const size_t labelLength = std::min<size_t>(data[3], size - 4);
    const std::string label(reinterpret_cast<const char*>(data + 4), labelLength);
    const auto message = Buffer(data + 4 + labelLength, size - 4 - labelLength);

    std::unique_ptr<Brelt::Crypto::EmeBase> eme;
    if (method < 6)
        eme = std::make_unique<Brelt::Crypto::OAEP>(kHashes[method], keyBits, label);
    else
        eme = std::make_unique<Brelt::Crypto::EmePkcs1v15>(keyBits);

    if (const auto block = eme->Encode(message.get())) {
        if (block->length != static_cast<int>(keyBits / 8)) abort();
        const auto decoded = eme->Decode(block.get());
        if (!decoded || !SameBytes(*decoded, *message)) abort();
    }
    // The same bytes taken as a block the card deciphered.
    if (const auto decoded = eme->Decode(message.get())) {
        if (decoded->length > message->length) abort();
    }
    return 0;
}
