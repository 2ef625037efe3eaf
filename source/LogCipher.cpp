#include "LogCipher.h"

#include <stdexcept>

#include "CryptoBytes.h"
#include "Eme.h"

namespace Brelt::Crypto {

namespace {

// The log key, OAEP-encoded (SHA-256, 1024-bit block, empty label).
constexpr char kWrappedLogKey[] =
    "6213E6554777D1A00BCE32E5BCB4A8819AE1E70442EC66CF5216EF905C49763D"
    "C30226F7256A98EF325938B64F6519CC8C35D1B131E023F508B0284BC82149B4"
    "314AF23D9934566F4BAF30B19214D0A8020B6D830A3C47DDDC1E3B83E49381B5"
    "42A51FEC3B58061B823EB29B874AAEA0AD8D129F25C1E83EA06240E3D0425BD0";

constexpr char kZeroIv[] = "0000000000000000";
constexpr size_t kBlock = 8;

// The unwrapped log key, or null when the stored constant does not decode.
std::unique_ptr<Brelt::MW::Base::HexBinary> UnwrapLogKey()
{
    const Brelt::MW::Base::HexBinary wrapped{std::string(kWrappedLogKey)};
    const OAEP decoder("SHA-256", 1024, "");
    return decoder.Decode(&wrapped);
}

const uint8_t* KeyPart(const uint8_t* key, size_t length, size_t part)
{
    if (length != 16 && length != 24)
        throw std::invalid_argument("log key: neither 16 nor 24 bytes");
    // A two-key key uses its first part again as the third.
    return key + (part == 2 && length == 16 ? 0 : part * kBlock);
}

// DER length octets of an OCTET STRING holding `length` bytes.
void AppendDerLength(std::vector<unsigned char>& out, size_t length)
{
    if (length < 0x80) {
        out.push_back(static_cast<unsigned char>(length));
        return;
    }
    size_t octets = 0;
    for (size_t rest = length; rest != 0; rest >>= 8)
        ++octets;
    out.push_back(static_cast<unsigned char>(0x80 | octets));
    for (size_t i = octets; i > 0; --i)
        out.push_back(static_cast<unsigned char>(length >> (8 * (i - 1))));
}

}  // namespace

std::unique_ptr<TripleDES> MakeLogTripleDes()
{
    const auto keyBytes = UnwrapLogKey();
    if (!keyBytes)
        return nullptr;
    OctetStringHolder key = MakeOctetStringFromHexBinary(keyBytes.get());
    OctetStringHolder iv = MakeOctetStringFromHex(kZeroIv);
    auto cipher = std::make_unique<TripleDES>(key, iv);
    ReleaseKeyHolder(key);
    ReleaseOctetStringHolder(iv);
    return cipher;
}

LogRecordTripleDes::LogRecordTripleDes(const uint8_t* key, size_t length)
    : keys_{Des(KeyPart(key, length, 0)), Des(KeyPart(key, length, 1)), Des(KeyPart(key, length, 2))}
{
}

std::vector<unsigned char> LogRecordTripleDes::EncipherRecord(const char* text, size_t length)
{
    if (text == nullptr)
        length = 0;
    // OneAndZeros: 80 and then zeros up to the next block, always at least one byte.
    const size_t padded = (length / kBlock + 1) * kBlock;
    std::vector<unsigned char> record;
    record.reserve(padded + 6);
    record.push_back(0x04);
    AppendDerLength(record, padded);
    const size_t start = record.size();
    record.insert(record.end(), text, text + length);
    record.push_back(0x80);
    record.resize(start + padded, 0x00);

    // CBC from the zero IV, each block E(K3, D(K2, E(K1, block XOR previous))).
    uint8_t chain[kBlock] = {};
    for (size_t offset = start; offset < record.size(); offset += kBlock) {
        uint8_t* block = record.data() + offset;
        for (size_t i = 0; i < kBlock; ++i)
            block[i] ^= chain[i];
        keys_[0].EncryptBlock(block, block);
        keys_[1].DecryptBlock(block, block);
        keys_[2].EncryptBlock(block, block);
        std::copy_n(block, kBlock, chain);
    }
    return record;
}

std::unique_ptr<LogRecordCipher> MakeLogRecordCipher()
{
    const auto keyBytes = UnwrapLogKey();
    if (!keyBytes)
        return nullptr;
    const auto key = BytesOf(keyBytes.get());
    return std::make_unique<LogRecordTripleDes>(key.data(), key.size());
}

}  // namespace Brelt::Crypto
