#include "LogCipher.h"

#include <botan/asn1_obj.h>
#include <botan/der_enc.h>

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

}  // namespace

std::unique_ptr<TripleDES> MakeLogTripleDes()
{
    const Brelt::MW::Base::HexBinary wrapped{std::string(kWrappedLogKey)};
    const OAEP decoder("SHA-256", 1024, "");
    const auto keyBytes = decoder.Decode(&wrapped);
    if (!keyBytes)
        return nullptr;
    OctetStringHolder key = MakeOctetStringFromHexBinary(keyBytes.get());
    std::fill_n(static_cast<volatile unsigned char*>(keyBytes->data), keyBytes->length, 0);
    OctetStringHolder iv = MakeOctetStringFromHex(kZeroIv);
    auto cipher = std::make_unique<TripleDES>(key, iv);
    ReleaseKeyHolder(key);
    ReleaseOctetStringHolder(iv);
    return cipher;
}

LogRecordTripleDes::LogRecordTripleDes(std::unique_ptr<TripleDES> cipher) : cipher_(std::move(cipher)) {}

std::vector<unsigned char> LogRecordTripleDes::EncipherRecord(const char* text, size_t length)
{
    const auto plain = MakeHexBinary(reinterpret_cast<const uint8_t*>(text), text != nullptr ? length : 0);
    const auto enciphered = cipher_->Encrypt(plain.get());
    const auto bytes = BytesOf(enciphered.get());
    std::vector<unsigned char> record;
    Botan::DER_Encoder(record).encode(bytes.data(), bytes.size(), Botan::OCTET_STRING);
    return record;
}

std::unique_ptr<LogRecordCipher> MakeLogRecordCipher()
{
    auto cipher = MakeLogTripleDes();
    if (!cipher)
        return nullptr;
    return std::make_unique<LogRecordTripleDes>(std::move(cipher));
}

}  // namespace Brelt::Crypto
