#include <gtest/gtest.h>

#include <botan/auto_rng.h>

#include "Des.h"
#include "HostCryptoResult.h"
#include "HostMac.h"
#include "Iso9797Padding.h"
#include "RetailMac.h"
#include "TestBytes.h"
#include "TripleDES.h"

using namespace Brelt::Crypto;
using cryptotest::Bytes;
using cryptotest::Hex;
using cryptotest::ToHex;

namespace {

// FIPS 46-3 worked example; a Triple-DES key made of one DES key three times
// reduces to single DES.
constexpr char kDesKey[] = "133457799BBCDFF1";
constexpr char kDesPlain[] = "0123456789ABCDEF";
constexpr char kDesCipher[] = "85E813540F0AB405";

std::unique_ptr<TripleDES> MakeCipher(const std::string& keyHex)
{
    const OctetStringHolder key = MakeOctetStringFromHex(keyHex);
    const OctetStringHolder iv = MakeOctetStringFromHex("0000000000000000");
    return std::make_unique<TripleDES>(key, iv);
}

}  // namespace

TEST(TripleDes, KnownAnswerAndPaddingLengths)
{
    const auto cipher = MakeCipher(std::string(kDesKey) + kDesKey + kDesKey);
    const auto one = cipher->Encrypt(Hex(kDesPlain).get());
    ASSERT_EQ(one->length, 16);  // a full block gains a whole padding block
    EXPECT_EQ(ToHex(one.get()).substr(0, 16), kDesCipher);

    for (const auto& [in, out] : {std::pair{0, 8}, {7, 8}, {8, 16}, {9, 16}, {20, 24}}) {
        const auto plain = Hex(std::string(static_cast<size_t>(in) * 2, 'A'));
        const auto enciphered = cipher->Encrypt(plain.get());
        EXPECT_EQ(enciphered->length, out) << "input length " << in;
        EXPECT_TRUE(cipher->Decrypt(enciphered.get())->Equals(plain.get()));
        // Every call starts a fresh CBC message.
        EXPECT_TRUE(cipher->Encrypt(plain.get())->Equals(enciphered.get()));
    }
}

TEST(TripleDes, BadInputThrowsInsteadOfCrashing)
{
    const auto cipher = MakeCipher("0123456789ABCDEFFEDCBA9876543210");
    EXPECT_ANY_THROW(cipher->Decrypt(Hex("00112233445566").get()));  // not a multiple of 8
    EXPECT_ANY_THROW(cipher->Decrypt(Hex("").get()));
    // A block that deciphers to something not ending in 80 00..
    const auto noPadding = cipher->Encrypt(Hex("0011223344556677").get())->Range(0, 8);
    EXPECT_ANY_THROW(cipher->Decrypt(noPadding));
    delete noPadding;
    EXPECT_ANY_THROW(cipher->Encrypt(nullptr));
    EXPECT_ANY_THROW(MakeCipher("0123456789ABCDEF")->Encrypt(Hex("00").get()));  // 8-byte key
    const OctetStringHolder none;
    const OctetStringHolder iv = MakeOctetStringFromHex("0000000000000000");
    EXPECT_ANY_THROW(TripleDES(none, iv));
}

TEST(RetailMacTest, BothImplementationsAgreeAndMatchIsoExample)
{
    // ISO/IEC 9797-1 MAC algorithm 3 example: "Now is the time for all ",
    // K = 0123456789ABCDEF, K' = FEDCBA9876543210, padding method 1.
    const auto key = Bytes("0123456789ABCDEFFEDCBA9876543210");
    const auto data = Bytes("4E6F77206973207468652074696D6520666F7220616C6C20");
    std::vector<uint8_t> mac;
    ASSERT_EQ(ComputeRetailMac(key.data(), 16, data.data(), 24, mac, nullptr), CRYPTO_OK);
    EXPECT_EQ(ToHex(mac), "A1C72E74EA3FA9B6");

    const OctetStringHolder keyHolder = MakeOctetStringHolder(key.data(), key.size());
    const RetailMac x919(keyHolder);
    EXPECT_EQ(ToHex(x919.Compute(Hex(ToHex(data)).get()).get()), "A1C72E74EA3FA9B6");

    Botan::AutoSeeded_RNG rng;
    for (size_t length : {0, 1, 7, 8, 9, 31, 64}) {
        const auto message = rng.random_vec(length);
        std::vector<uint8_t> host, viaBotan;
        ASSERT_EQ(ComputeRetailMacPadded(key.data(), 16, message.data(), static_cast<uint32_t>(length), host, nullptr), CRYPTO_OK);
        ASSERT_EQ(ComputeX919Mac(key.data(), 16, message.data(), static_cast<uint32_t>(length), viaBotan), CRYPTO_OK);
        EXPECT_EQ(ToHex(host), ToHex(viaBotan)) << "length " << length;
        const auto input = Hex(Botan::hex_encode(message));
        EXPECT_EQ(ToHex(x919.ComputePadded(input.get()).get()), ToHex(host));
        EXPECT_TRUE(x919.VerifyPadded(input.get(), Hex(ToHex(host)).get()));
    }
}

TEST(HostRetailMac, KeyFormsIvAndPaddingVariants)
{
    const auto k16 = Bytes("0123456789ABCDEFFEDCBA9876543210");
    const auto k24 = Bytes("0123456789ABCDEFFEDCBA98765432100123456789ABCDEF");
    const auto data = Bytes("0011223344556677");
    std::vector<uint8_t> a, b;
    ASSERT_EQ(ComputeRetailMac(k16.data(), 16, data.data(), 8, a, nullptr), CRYPTO_OK);
    ASSERT_EQ(ComputeRetailMac(k24.data(), 24, data.data(), 8, b, nullptr), CRYPTO_OK);
    EXPECT_EQ(a, b);  // K3 = K1 is the two-key form

    std::vector<uint8_t> unused;
    EXPECT_EQ(ComputeRetailMac(k16.data(), 8, data.data(), 8, unused, nullptr), CRYPTO_BAD_KEY_LENGTH);
    EXPECT_EQ(ComputeRetailMac(nullptr, 16, data.data(), 8, unused, nullptr), CRYPTO_BAD_KEY_LENGTH);
    EXPECT_EQ(ComputeRetailMac(k16.data(), 16, data.data(), 7, unused, nullptr), CRYPTO_BAD_INPUT);
    EXPECT_EQ(ComputeRetailMac(k16.data(), 16, data.data(), 0, unused, nullptr), CRYPTO_BAD_INPUT);
    EXPECT_EQ(ComputeRetailMacPadded(k16.data(), 16, nullptr, 5, unused, nullptr), CRYPTO_BAD_INPUT);
    EXPECT_EQ(ComputeX919Mac(k24.data(), 24, data.data(), 8, unused), CRYPTO_FAILED);
}

TEST(HostDes, CbcEncryptInPlace)
{
    auto data = Bytes("4E6F77206973207468652074696D6520666F7220616C6C20");
    const auto key = Bytes("0123456789ABCDEF");
    const auto iv = Bytes("1234567890ABCDEF");
    // FIPS 81 CBC example.
    ASSERT_EQ(DesCbcEncrypt(key.data(), data.data(), 24, iv.data()), CRYPTO_OK);
    EXPECT_EQ(ToHex(data), "E5C7CDDE872BF27C43E934008C389C0F683788499A7C05F6");
    EXPECT_EQ(DesCbcEncrypt(key.data(), data.data(), 12, nullptr), CRYPTO_BAD_INPUT);
    EXPECT_EQ(DesCbcEncrypt(key.data(), data.data(), 0, nullptr), CRYPTO_BAD_INPUT);
    EXPECT_EQ(DesCbcEncrypt(key.data(), nullptr, 8, nullptr), CRYPTO_BAD_INPUT);
}

