// Keys of the two secure channels against values computed once outside the
// project, with Python's hashlib and 'cryptography' packages:
// - the two keys stored in the module (ChannelKeyValues.h);
// - the chip-authentication keys: SHA-1(KSeed || 00000001) and
//   SHA-1(KSeed || 00000002), first 16 bytes each;
// - the application-container session key: SHA-1(card || host challenge),
//   first 15 bytes and 80, Triple-DES CBC under the derivation key.

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "BaseTypes.h"
#include "card/AppContainerChannel.h"
#include "card/ChipAuthentication.h"
#include "tests/sm/ChannelKeyValues.h"

namespace {

using Brelt::MW::Base::HexBinary;
using namespace Brelt::MW::Card;

HexBinary Counting(uint8_t first, size_t length)
{
    std::vector<uint8_t> bytes(length);
    std::iota(bytes.begin(), bytes.end(), first);
    return HexBinary(bytes.data(), static_cast<int32_t>(length), true);
}

std::string Hex(const std::unique_ptr<HexBinary>& bytes) { return bytes ? bytes->ToString() : "null"; }

TEST(ChannelKeys, ApplicationContainerKeys)
{
    EXPECT_EQ(Hex(UnwrapAppContainerKey()), smtest::kContainerKey);
    // Card challenge 00..1F, host challenge 20..3F, under
    // smtest::kSessionKeyDerivationKey.
    const HexBinary card = Counting(0x00, 32);
    const HexBinary host = Counting(0x20, 32);
    std::unique_ptr<uint8_t[]> key;
    uint16_t length = 0;
    ASSERT_EQ(DeriveSessionKey(host.data, card.data, 32, &key, &length), CKR_OK);
    ASSERT_EQ(length, 16);
    EXPECT_EQ(HexBinary(key.get(), length, true).ToString(), "7BA893157FE211BB7FD8321AFB638429");
    EXPECT_EQ(DeriveSessionKey(nullptr, card.data, 32, &key, &length), CKR_ARGUMENTS_BAD);
}

TEST(ChannelKeys, ChipAuthenticationKeysFromTheSharedSecret)
{
    const std::string p256 = "1.3.36.3.3.2.8.1.1.7";
    // A 32-byte secret is used as it is.
    const HexBinary secret = Counting(0x01, 32);
    auto seed = ZeroPadding(&secret, p256);
    auto keys = DeriveKeyFromKSeed(seed.get());
    ASSERT_TRUE(keys);
    EXPECT_EQ(Hex(keys->first), "617CD9D1AD1B855379B4E593C902AB88");
    EXPECT_EQ(Hex(keys->second), "A0C5D3ABD6ABACF3214089ED3194585B");

    // A shorter one (its leading byte was zero) gets that byte back.
    const HexBinary shortSecret = Counting(0x01, 31);
    seed = ZeroPadding(&shortSecret, p256);
    EXPECT_EQ(Hex(seed), "00" + shortSecret.ToString());
    keys = DeriveKeyFromKSeed(seed.get());
    ASSERT_TRUE(keys);
    EXPECT_EQ(Hex(keys->first), "A98FFB7CAEF3BD518FB7BC1B6CC89DBD");
    EXPECT_EQ(Hex(keys->second), "E6B6E6B5E405EB5E6FFB080C390C2CD8");

    // brainpoolP384r1 is not among the padded curves, and its 48-byte seed
    // is refused; so is any other length.
    const std::string p384 = "1.3.36.3.3.2.8.1.1.11";
    const HexBinary p384Secret = Counting(0x01, 48);
    seed = ZeroPadding(&p384Secret, p384);
    ASSERT_TRUE(seed);
    EXPECT_EQ(seed->length, 48);
    EXPECT_FALSE(DeriveKeyFromKSeed(seed.get()));
    const HexBinary p384Short = Counting(0x01, 47);
    EXPECT_EQ(ZeroPadding(&p384Short, p384)->length, 47);
    for (size_t length : {0, 16, 31, 65}) {
        const HexBinary bytes = Counting(0x01, length);
        EXPECT_FALSE(DeriveKeyFromKSeed(&bytes)) << length;
    }
    EXPECT_FALSE(DeriveKeyFromKSeed(nullptr));
    EXPECT_FALSE(ZeroPadding(nullptr, p256));
}

}  // namespace
