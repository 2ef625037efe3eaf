#include <gtest/gtest.h>

#include "DigestEngine.h"
#include "HostCryptoResult.h"
#include "MessageDigest.h"
#include "TestBytes.h"

using namespace Brelt::Crypto;
using cryptotest::Hex;
using cryptotest::ToHex;

namespace {

// FIPS 180 "abc" vectors.
const std::pair<uint32_t, const char*> kAbcDigests[] = {
    {1, "A9993E364706816ABA3E25717850C26C9CD0D89D"},
    {224, "23097D223405D8228642A477BDA255B32AADBCE4BDA0B3F7E36C9DA7"},
    {256, "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"},
    {384, "CB00753F45A35E8BB5A03D699AC65007272C32AB0EDED1631A8B605A43FF5BED8086072BA1E7CC2358BAECA134C825A7"},
    {512, "DDAF35A193617ABACC417349AE20413112E6FA4E89A97EA20A9EEEE64B55D39A2192992A274FC1A836BA3C23A3FEEBBD454D4423643CE80E2A9AC94FA54CA49F"},
};

}  // namespace

TEST(DigestEngineTest, EveryHashSizeGivesItsVector)
{
    for (const auto& [size, expected] : kAbcDigests) {
        DigestContext context;
        context.hashSize = size;
        ASSERT_EQ(HashInit(&context), CRYPTO_OK);
        ASSERT_EQ(HashUpdate(&context, reinterpret_cast<const unsigned char*>("ab"), 2), CRYPTO_OK);
        ASSERT_EQ(HashUpdate(&context, reinterpret_cast<const unsigned char*>("c"), 1), CRYPTO_OK);
        uint32_t length = 0;
        ASSERT_EQ(GetDigestOutputLength(size, &length), CRYPTO_OK);
        std::vector<uint8_t> out(length);
        ASSERT_EQ(HashFinal(&context, out.data(), &length), CRYPTO_OK);
        EXPECT_EQ(ToHex(out), expected);
    }
}

TEST(DigestEngineTest, StateMachine)
{
    DigestContext context;
    context.hashSize = 256;
    ASSERT_EQ(HashInit(&context), CRYPTO_OK);
    std::vector<uint8_t> out(32);
    uint32_t length = 32;
    ASSERT_EQ(HashFinal(&context, out.data(), &length), CRYPTO_OK);
    EXPECT_EQ(HashFinal(&context, out.data(), &length), CRYPTO_ALREADY_FINAL);
    EXPECT_EQ(HashUpdate(&context, out.data(), 0), CRYPTO_OK);  // empty update always passes
    EXPECT_EQ(HashUpdate(&context, out.data(), 1), CRYPTO_UPDATE_AFTER_FINAL);
    EXPECT_EQ(HashFinal(&context, out.data(), &length), CRYPTO_UPDATE_AFTER_FINAL);
    EXPECT_EQ(HashUpdate(&context, out.data(), 1), CRYPTO_UPDATE_AFTER_FINAL);
}

TEST(DigestEngineTest, TooShortBufferKeepsTheDigestForARetry)
{
    DigestContext context;
    context.hashSize = 1;
    ASSERT_EQ(HashInit(&context), CRYPTO_OK);
    ASSERT_EQ(HashUpdate(&context, reinterpret_cast<const unsigned char*>("abc"), 3), CRYPTO_OK);
    std::vector<uint8_t> out(20, 0xEE);
    uint32_t shortLength = 19;
    EXPECT_EQ(HashFinal(&context, out.data(), &shortLength), CRYPTO_BAD_INPUT);
    EXPECT_EQ(out[0], 0xEE);  // nothing copied
    uint32_t length = 20;
    ASSERT_EQ(HashFinal(&context, out.data(), &length), CRYPTO_OK);
    EXPECT_EQ(ToHex(out), kAbcDigests[0].second);
}

TEST(DigestEngineTest, BadArguments)
{
    DigestContext context;
    context.hashSize = 160;
    EXPECT_EQ(HashInit(&context), CRYPTO_BAD_INPUT);
    EXPECT_EQ(HashInit(nullptr), CRYPTO_BAD_INPUT);
    EXPECT_EQ(HashUpdate(nullptr, nullptr, 4), CRYPTO_BAD_INPUT);
    EXPECT_EQ(HashUpdate(&context, nullptr, 4), CRYPTO_BAD_INPUT);
    EXPECT_EQ(HashUpdate(&context, reinterpret_cast<const unsigned char*>("x"), 1), CRYPTO_BAD_INPUT);  // no digest
    uint32_t length = 64;
    std::vector<uint8_t> out(64);
    EXPECT_EQ(HashFinal(nullptr, out.data(), &length), CRYPTO_BAD_INPUT);
    EXPECT_EQ(HashFinal(&context, out.data(), &length), CRYPTO_BAD_INPUT);
    context.hashSize = 512;
    ASSERT_EQ(HashInit(&context), CRYPTO_OK);
    EXPECT_EQ(HashFinal(&context, nullptr, &length), CRYPTO_BAD_INPUT);
    EXPECT_EQ(HashFinal(&context, out.data(), nullptr), CRYPTO_BAD_INPUT);
}

