// Digests against FIPS 180 known answers, random numbers from the card and
// deciphering answers.

#include <botan/hex.h>

#include "SignFixture.h"

namespace signtest {
namespace {

std::string Hex(const std::vector<uint8_t>& bytes) { return Botan::hex_encode(bytes, false); }

// Digests of "abc".
const std::pair<CK_MECHANISM_TYPE, const char*> kAnswers[] = {
    {CKM_SHA_1, "a9993e364706816aba3e25717850c26c9cd0d89d"},
    {CKM_SHA224, "23097d223405d8228642a477bda255b32aadbce4bda0b3f7e36c9da7"},
    {CKM_SHA256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {CKM_SHA384,
     "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
    {CKM_SHA512,
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd"
     "454d4423643ce80e2a9ac94fa54ca49f"},
};

// The engine itself is tested on its own; this checks the exports reach it.
TEST_F(SignTest, DigestsOfEveryMechanismInOneAndInParts)
{
    Load("DEF50");
    const CK_SESSION_HANDLE session = Open();
    uint8_t abc[] = {'a', 'b', 'c'};
    for (const auto& [type, answer] : kAnswers) {
        SCOPED_TRACE(answer);
        CK_MECHANISM mechanism = {type, nullptr, 0};
        std::vector<uint8_t> digest(64), parts(64);
        CK_ULONG length = digest.size(), partsLength = parts.size();
        ASSERT_EQ(C_DigestInit(session, &mechanism), CKR_OK);
        ASSERT_EQ(C_Digest(session, abc, 3, digest.data(), &length), CKR_OK);
        digest.resize(length);
        EXPECT_EQ(Hex(digest), answer);
        ASSERT_EQ(C_DigestInit(session, &mechanism), CKR_OK);
        ASSERT_EQ(C_DigestUpdate(session, abc, 1), CKR_OK);
        ASSERT_EQ(C_DigestUpdate(session, abc + 1, 2), CKR_OK);
        ASSERT_EQ(C_DigestFinal(session, parts.data(), &partsLength), CKR_OK);
        parts.resize(partsLength);
        EXPECT_EQ(Hex(parts), answer);
    }
    CK_MECHANISM md5 = {CKM_MD5, nullptr, 0};
    EXPECT_EQ(C_DigestInit(session, &md5), CKR_MECHANISM_INVALID);
    EXPECT_EQ(C_DigestUpdate(session, abc, 3), CKR_OPERATION_NOT_INITIALIZED);
}

TEST_F(SignTest, RandomNumbersFromTheCard)
{
    Load("DEF44");
    const CK_SESSION_HANDLE session = Open();
    std::vector<uint8_t> first(255, 0), second(255, 0);
    Commands();
    ASSERT_EQ(C_GenerateRandom(session, first.data(), 200), CKR_OK);
    const auto commands = Commands();
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands.back(), "00 84 00 00 C8");
    ASSERT_EQ(C_GenerateRandom(session, second.data(), 255), CKR_OK);
    EXPECT_EQ(C_GenerateRandom(session, first.data(), 256), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(C_GenerateRandom(session, nullptr, 8), CKR_ARGUMENTS_BAD);

    // A card that gives fewer bytes than asked gives no random block.
    cardsim::InjectFault(kReader, cardsim::Fault::AnswerWith({0x00, 0x84}, {0x01, 0x02, 0x90, 0x00}));
    EXPECT_EQ(C_GenerateRandom(session, first.data(), 16), CKR_FUNCTION_FAILED);
    EXPECT_FALSE(TransactionOpen());
}

TEST_F(SignTest, DecryptAnswersWithoutCardCommandAndEndsItsTransaction)
{
    const CK_SESSION_HANDLE session = LoadAndLogIn("DEF44");
    const auto keys = PrivateKeys();
    ASSERT_GE(keys.size(), 2u);
    CK_MECHANISM mechanism = kRsaPkcs;
    std::vector<uint8_t> cryptogram(256, 0x01), plain(256);
    CK_ULONG length = plain.size();

    EXPECT_EQ(C_Decrypt(session, cryptogram.data(), cryptogram.size(), plain.data(), &length),
              CKR_OPERATION_NOT_INITIALIZED);
    EXPECT_EQ(C_DecryptInit(session, &mechanism, keys[0]), CKR_KEY_FUNCTION_NOT_PERMITTED);
    EXPECT_FALSE(TransactionOpen());
    ASSERT_EQ(C_DecryptInit(session, &mechanism, keys[1]), CKR_OK);
    EXPECT_TRUE(TransactionOpen());
    EXPECT_EQ(C_DecryptInit(session, &mechanism, keys[1]), CKR_OPERATION_ACTIVE);
    length = 0;
    ASSERT_EQ(C_Decrypt(session, cryptogram.data(), cryptogram.size(), nullptr, &length), CKR_OK);
    EXPECT_EQ(length, 245u);
    Commands();
    length = plain.size();
    EXPECT_EQ(C_Decrypt(session, cryptogram.data(), cryptogram.size(), plain.data(), &length), CKR_FUNCTION_FAILED);
    EXPECT_TRUE(Commands().empty());
    EXPECT_FALSE(TransactionOpen());

    // OAEP: the hash and the mask function must pair.
    CK_RSA_PKCS_OAEP_PARAMS params = {CKM_SHA256, CKG_MGF1_SHA1, CKZ_DATA_SPECIFIED, nullptr, 0};
    CK_MECHANISM oaep = {CKM_RSA_PKCS_OAEP, &params, sizeof(params)};
    EXPECT_EQ(C_DecryptInit(session, &oaep, keys[1]), CKR_MECHANISM_PARAM_INVALID);
    oaep.ulParameterLen = 8;  // too short to hold the parameter
    EXPECT_EQ(C_DecryptInit(session, &oaep, keys[1]), CKR_MECHANISM_PARAM_INVALID);
    params.mgf = CKG_MGF1_SHA256;
    oaep.ulParameterLen = sizeof(params);
    ASSERT_EQ(C_DecryptInit(session, &oaep, keys[1]), CKR_OK);
    length = 0;
    ASSERT_EQ(C_Decrypt(session, cryptogram.data(), cryptogram.size(), nullptr, &length), CKR_OK);
    EXPECT_EQ(length, 256u - 2 * 32 - 2);

    // A session closed while it deciphers gives the card back.
    EXPECT_TRUE(TransactionOpen());
    EXPECT_EQ(C_CloseSession(session), CKR_OK);
    EXPECT_FALSE(TransactionOpen());
}

// An OAEP block holds two hashes and two more bytes: a 1024-bit key (128
// bytes) takes SHA-384 (98) but not SHA-512 (130).
TEST_F(SignTest, OaepDecryptionNeedsAKeyLargeEnoughForItsHash)
{
    const CK_SESSION_HANDLE session = LoadAndLogIn("DEF50-1K");
    const auto keys = PrivateKeys();
    ASSERT_GE(keys.size(), 2u);
    CK_RSA_PKCS_OAEP_PARAMS params = {CKM_SHA512, CKG_MGF1_SHA512, CKZ_DATA_SPECIFIED, nullptr, 0};
    CK_MECHANISM oaep = {CKM_RSA_PKCS_OAEP, &params, sizeof(params)};
    EXPECT_EQ(C_DecryptInit(session, &oaep, keys[1]), CKR_KEY_SIZE_RANGE);
    EXPECT_FALSE(TransactionOpen());
    std::vector<uint8_t> cryptogram(128, 0x01), plain(128);
    CK_ULONG length = plain.size();
    EXPECT_EQ(C_Decrypt(session, cryptogram.data(), cryptogram.size(), plain.data(), &length),
              CKR_OPERATION_NOT_INITIALIZED);

    params = {CKM_SHA384, CKG_MGF1_SHA384, CKZ_DATA_SPECIFIED, nullptr, 0};
    ASSERT_EQ(C_DecryptInit(session, &oaep, keys[1]), CKR_OK);
    length = 0;
    ASSERT_EQ(C_Decrypt(session, cryptogram.data(), cryptogram.size(), nullptr, &length), CKR_OK);
    EXPECT_EQ(length, 128u - 2 * 48 - 2);
}

}  // namespace
}  // namespace signtest
