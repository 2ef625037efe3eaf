// Digests against FIPS 180 known answers, random numbers from the card,
// deciphering answers and verification with a session public key.

#include <botan/rsa.h>

#include <botan/hex.h>

#include "SignFixture.h"

namespace signtest {
namespace {

std::string Hex(const std::vector<uint8_t>& bytes) { return Botan::hex_encode(bytes, false); }

struct KnownAnswer {
    CK_MECHANISM_TYPE mechanism;
    const char* abc;  // digest of "abc"
};

const KnownAnswer kAnswers[] = {
    {CKM_SHA_1, "a9993e364706816aba3e25717850c26c9cd0d89d"},
    {CKM_SHA224, "23097d223405d8228642a477bda255b32aadbce4bda0b3f7e36c9da7"},
    {CKM_SHA256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {CKM_SHA384,
     "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
    {CKM_SHA512,
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd"
     "454d4423643ce80e2a9ac94fa54ca49f"},
};

TEST_F(SignTest, DigestsOfEveryMechanismInOneAndInParts)
{
    Load("DEF50");
    const CK_SESSION_HANDLE session = Open();
    uint8_t abc[] = {'a', 'b', 'c'};
    for (const KnownAnswer& answer : kAnswers) {
        SCOPED_TRACE(answer.abc);
        CK_MECHANISM mechanism = {answer.mechanism, nullptr, 0};
        const size_t size = std::string(answer.abc).size() / 2;

        ASSERT_EQ(C_DigestInit(session, &mechanism), CKR_OK);
        CK_ULONG length = 0;
        ASSERT_EQ(C_Digest(session, abc, 3, nullptr, &length), CKR_OK);
        EXPECT_EQ(length, size);
        std::vector<uint8_t> digest(64);
        length = size - 1;
        EXPECT_EQ(C_Digest(session, abc, 3, digest.data(), &length), CKR_BUFFER_TOO_SMALL);
        EXPECT_EQ(length, size);
        length = digest.size();  // a larger buffer takes the digest too
        ASSERT_EQ(C_Digest(session, abc, 3, digest.data(), &length), CKR_OK);
        digest.resize(length);
        EXPECT_EQ(Hex(digest), answer.abc);
        EXPECT_EQ(C_Digest(session, abc, 3, digest.data(), &length), CKR_OPERATION_NOT_INITIALIZED);

        ASSERT_EQ(C_DigestInit(session, &mechanism), CKR_OK);
        ASSERT_EQ(C_DigestUpdate(session, abc, 1), CKR_OK);
        ASSERT_EQ(C_DigestUpdate(session, abc + 1, 0), CKR_OK);
        ASSERT_EQ(C_DigestUpdate(session, abc + 1, 2), CKR_OK);
        EXPECT_EQ(C_Digest(session, abc, 3, digest.data(), &length), CKR_OPERATION_NOT_INITIALIZED);
        length = 0;
        ASSERT_EQ(C_DigestFinal(session, nullptr, &length), CKR_OK);
        EXPECT_EQ(length, size);
        std::vector<uint8_t> parts(size);
        length = 1;
        EXPECT_EQ(C_DigestFinal(session, parts.data(), &length), CKR_BUFFER_TOO_SMALL);
        length = parts.size();
        ASSERT_EQ(C_DigestFinal(session, parts.data(), &length), CKR_OK);
        EXPECT_EQ(Hex(parts), answer.abc);
        EXPECT_EQ(C_DigestFinal(session, parts.data(), &length), CKR_OPERATION_NOT_INITIALIZED);
    }
    CK_MECHANISM md5 = {CKM_MD5, nullptr, 0};
    EXPECT_EQ(C_DigestInit(session, &md5), CKR_MECHANISM_INVALID);
    CK_ULONG length = 32;
    EXPECT_EQ(C_DigestUpdate(session, abc, 3), CKR_OPERATION_NOT_INITIALIZED);
    EXPECT_EQ(C_DigestFinal(session, nullptr, &length), CKR_OPERATION_NOT_INITIALIZED);
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
    EXPECT_NE(first, second);
    EXPECT_NE(second, std::vector<uint8_t>(255, 0));
    uint8_t one = 0;
    EXPECT_EQ(C_GenerateRandom(session, &one, 1), CKR_OK);
    EXPECT_EQ(C_GenerateRandom(session, first.data(), 0), CKR_OK);
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
    oaep.pParameter = nullptr;
    oaep.ulParameterLen = 0;
    EXPECT_EQ(C_DecryptInit(session, &oaep, keys[1]), CKR_MECHANISM_PARAM_INVALID);
    oaep.pParameter = &params;
    oaep.ulParameterLen = 8;  // too short to hold the parameter
    EXPECT_EQ(C_DecryptInit(session, &oaep, keys[1]), CKR_MECHANISM_PARAM_INVALID);
    params.mgf = CKG_MGF1_SHA256;
    oaep.ulParameterLen = sizeof(params);
    ASSERT_EQ(C_DecryptInit(session, &oaep, keys[1]), CKR_OK);
    length = 0;
    ASSERT_EQ(C_Decrypt(session, cryptogram.data(), cryptogram.size(), nullptr, &length), CKR_OK);
    EXPECT_EQ(length, 256u - 2 * 32 - 2);
    ASSERT_EQ(C_CloseSession(session), CKR_OK);
    EXPECT_FALSE(TransactionOpen());
}

TEST_F(SignTest, VerifiesWithASessionPublicKey)
{
    const CK_SESSION_HANDLE session = LoadAndLogIn("DEF50");
    const auto keys = PrivateKeys();
    const std::vector<uint8_t> data = DigestInfo(0x77);
    CK_MECHANISM mechanism = kRsaPkcs;
    ASSERT_EQ(SignInit(session, keys[0]), CKR_OK);
    std::vector<uint8_t> signature(256);
    CK_ULONG length = signature.size();
    ASSERT_EQ(C_Sign(session, const_cast<uint8_t*>(data.data()), data.size(), signature.data(), &length), CKR_OK);

    // The certificate's key as a session key, as C_CreateObject makes it.
    const auto certificateKey = CertificateKey(1);
    const auto* rsa = dynamic_cast<const Botan::RSA_PublicKey*>(certificateKey.get());
    ASSERT_NE(rsa, nullptr);
    const auto modulus = Botan::BigInt::encode(rsa->get_n());
    const auto exponent = Botan::BigInt::encode(rsa->get_e());
    CK_OBJECT_CLASS keyClass = CKO_PUBLIC_KEY;
    CK_KEY_TYPE keyType = CKK_RSA;
    CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
    CK_ATTRIBUTE tmpl[] = {
        {CKA_CLASS, &keyClass, sizeof(keyClass)},
        {CKA_KEY_TYPE, &keyType, sizeof(keyType)},
        {CKA_TOKEN, &no, sizeof(no)},
        {CKA_VERIFY, &yes, sizeof(yes)},
        {CKA_MODULUS, const_cast<uint8_t*>(modulus.data()), modulus.size()},
        {CKA_PUBLIC_EXPONENT, const_cast<uint8_t*>(exponent.data()), exponent.size()},
    };
    CK_OBJECT_HANDLE created = 0;
    ASSERT_EQ(C_CreateObject(session, tmpl, 6, &created), CKR_OK);
    const CK_OBJECT_HANDLE publicKey = created;

    ASSERT_EQ(C_VerifyInit(session, &mechanism, publicKey), CKR_OK);
    EXPECT_EQ(C_VerifyInit(session, &mechanism, publicKey), CKR_OPERATION_ACTIVE);
    EXPECT_EQ(C_Verify(session, const_cast<uint8_t*>(data.data()), data.size(), signature.data(), 256), CKR_OK);
    EXPECT_EQ(C_VerifyFinal(session, signature.data(), 256), CKR_OPERATION_NOT_INITIALIZED);

    ASSERT_EQ(C_VerifyInit(session, &mechanism, publicKey), CKR_OK);
    ASSERT_EQ(C_VerifyUpdate(session, const_cast<uint8_t*>(data.data()), 7), CKR_OK);
    ASSERT_EQ(C_VerifyUpdate(session, const_cast<uint8_t*>(data.data()) + 7, data.size() - 7), CKR_OK);
    EXPECT_EQ(C_VerifyFinal(session, signature.data(), 256), CKR_OK);

    signature[100] ^= 0x01;
    ASSERT_EQ(C_VerifyInit(session, &mechanism, publicKey), CKR_OK);
    EXPECT_EQ(C_Verify(session, const_cast<uint8_t*>(data.data()), data.size(), signature.data(), 256),
              CKR_SIGNATURE_INVALID);
    ASSERT_EQ(C_VerifyInit(session, &mechanism, publicKey), CKR_OK);
    std::vector<uint8_t> tooLong(257, 1);
    EXPECT_EQ(C_Verify(session, tooLong.data(), tooLong.size(), signature.data(), 256), CKR_DATA_LEN_RANGE);

    // Only session public keys verify.
    EXPECT_EQ(C_VerifyInit(session, &mechanism, keys[0]), CKR_KEY_HANDLE_INVALID);
    EXPECT_EQ(C_Verify(session, tooLong.data(), 4, signature.data(), 256), CKR_OPERATION_NOT_INITIALIZED);
}

}  // namespace
}  // namespace signtest
