#include <gtest/gtest.h>

#include "Eme.h"
#include "PadPkcs1Type1.h"
#include "TestBytes.h"

using namespace Brelt::Crypto;
using cryptotest::Hex;
using cryptotest::ToHex;

TEST(Oaep, RoundTripForEveryHashAndLabel)
{
    const auto message = Hex("00112233445566778899AABBCCDDEEFF0011223344556677");
    for (const char* hash : {"SHA-1", "SHA-224", "SHA-256", "SHA-384", "SHA-512"}) {
        const OAEP oaep(hash, 2048, "label");
        const auto block = oaep.Encode(message.get());
        ASSERT_NE(block, nullptr) << hash;
        EXPECT_EQ(block->length, 256);
        EXPECT_TRUE(oaep.Decode(block.get())->Equals(message.get())) << hash;
        EXPECT_EQ(OAEP(hash, 2048, "other").Decode(block.get()), nullptr) << hash;
    }
}

TEST(Oaep, FailuresAnswerNull)
{
    const OAEP oaep("SHA-256", 1024, "");
    auto block = oaep.Encode(Hex("0102").get());
    block->data[60] ^= 0x40;
    EXPECT_EQ(oaep.Decode(block.get()), nullptr);
    EXPECT_EQ(oaep.Decode(Hex(std::string(256, '0')).get()), nullptr);
    EXPECT_EQ(oaep.Decode(Hex("").get()), nullptr);
    EXPECT_EQ(oaep.Decode(nullptr), nullptr);
    EXPECT_EQ(oaep.Encode(nullptr), nullptr);
    EXPECT_EQ(oaep.Encode(Hex(std::string(2 * 64, 'A')).get()), nullptr);  // too long for 1024 bits
    EXPECT_NE(oaep.Encode(Hex(std::string(2 * 63, 'A')).get()), nullptr);
    const OAEP unknownHash("MD5", 1024, "");
    EXPECT_EQ(unknownHash.Encode(Hex("01").get()), nullptr);
    EXPECT_EQ(unknownHash.Decode(block.get()), nullptr);
    EXPECT_EQ(OAEP("SHA-256", 0, "").Encode(Hex("01").get()), nullptr);
}

TEST(Pkcs1v15, RoundTripAndInvalidBlocks)
{
    const EmePkcs1v15 eme(1024);
    const auto message = Hex("000102030405");
    const auto block = eme.Encode(message.get());
    ASSERT_NE(block, nullptr);
    ASSERT_EQ(block->length, 128);
    EXPECT_EQ(block->data[0], 0x02);
    EXPECT_TRUE(eme.Decode(block.get())->Equals(message.get()));

    EXPECT_EQ(eme.Decode(Hex("01" + block->ToString().substr(2)).get()), nullptr);  // wrong type
    const auto shortBlock = block->Range(0, 127);
    EXPECT_EQ(eme.Decode(shortBlock), nullptr);
    delete shortBlock;
    EXPECT_EQ(eme.Decode(Hex("0200").get()), nullptr);
    // No zero separator at all.
    EXPECT_EQ(eme.Decode(Hex("02" + std::string(254, 'F')).get()), nullptr);
    EXPECT_EQ(eme.Encode(Hex(std::string(2 * 119, 'A')).get()), nullptr);
    EXPECT_EQ(eme.Decode(nullptr), nullptr);
}

// k = key bits / 8 + 1: OAEP needs k >= 2 hLen + 2, PKCS#1 v1.5 k >= 11.
// Below that Botan's pad and unpad run out of their buffers; the codecs
// refuse first. At the smallest k the empty message still goes both ways.
TEST(Eme, KeysTooSmallForTheMethodAreRefused)
{
    struct Case {
        const char* hash;  // null: PKCS#1 v1.5
        uint32_t keyBits;
        bool fits;
    };
    const Case cases[] = {
        {"SHA-1", 41 * 8, true},     {"SHA-1", 40 * 8, false},   {"SHA-256", 65 * 8, true},
        {"SHA-256", 64 * 8, false},  {"SHA-512", 129 * 8, true}, {"SHA-512", 1024, false},
        {"SHA-512", 1023, false},    {"SHA-512", 38 * 8, false}, {"SHA-512", 256, false},
        {"SHA-224", 7, false},       {"SHA-384", 0, false},      {nullptr, 80, true},
        {nullptr, 72, false},        {nullptr, 8, false},        {nullptr, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.hash ? c.hash : "PKCS#1 v1.5") + " " + std::to_string(c.keyBits));
        std::unique_ptr<EmeBase> eme;
        if (c.hash != nullptr)
            eme = std::make_unique<OAEP>(c.hash, c.keyBits, "");
        else
            eme = std::make_unique<EmePkcs1v15>(c.keyBits);
        const auto empty = Hex("");
        const auto block = eme->Encode(empty.get());
        const auto blockBytes = std::string(2 * (c.keyBits / 8), '5');
        if (!c.fits) {
            EXPECT_EQ(block, nullptr);
            EXPECT_EQ(eme->Decode(Hex(blockBytes).get()), nullptr);
            EXPECT_EQ(eme->Encode(Hex("01").get()), nullptr);
            continue;
        }
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(block->length, static_cast<int>(c.keyBits / 8));
        const auto message = eme->Decode(block.get());
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(message->length, 0);
        EXPECT_EQ(eme->Encode(Hex("01").get()), nullptr);  // no room for a byte
    }
}

TEST(Pkcs1Type1, BlockLayoutAndBounds)
{
    const auto data = Hex(std::string(51 * 2, 'A'));
    const auto block = PadPkcs1Type1(data.get(), 2048);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(ToHex(block.get()), "0001" + std::string(202 * 2, 'F') + "00" + data->ToString());

    EXPECT_EQ(ToHex(PadPkcs1Type1(Hex("").get(), 64).get()), "0001FFFFFFFFFF00");
    EXPECT_EQ(ToHex(PadPkcs1Type1(Hex("1122334455").get(), 64).get()), "0001001122334455");  // n = k - 3

    // Data that does not fit the block is refused, never written past it.
    EXPECT_EQ(PadPkcs1Type1(Hex("112233445566").get(), 64), nullptr);
    EXPECT_EQ(PadPkcs1Type1(Hex(std::string(254 * 2, 'A')).get(), 2048), nullptr);
    EXPECT_EQ(PadPkcs1Type1(Hex(std::string(256 * 2, 'A')).get(), 2048), nullptr);
    EXPECT_NE(PadPkcs1Type1(Hex(std::string(253 * 2, 'A')).get(), 2048), nullptr);
    EXPECT_EQ(PadPkcs1Type1(Hex("").get(), 0), nullptr);
    EXPECT_EQ(PadPkcs1Type1(Hex("").get(), 16), nullptr);
    EXPECT_EQ(PadPkcs1Type1(Hex("").get(), -2048), nullptr);
    EXPECT_EQ(PadPkcs1Type1(nullptr, 2048), nullptr);
}
