// Signing on every admitted personalisation, checked against the card's
// certificates; data sizes, length queries, operation states and the card
// transaction that signing holds.

#include <botan/rsa.h>

#include "SignFixture.h"
#include "token/BitStringFlags.h"
#include "token/CardTypes.h"

namespace signtest {
namespace {

// One C_Sign into a buffer of `room` bytes; the signature keeps its length.
CK_RV Sign(CK_SESSION_HANDLE session, std::vector<uint8_t> data, std::vector<uint8_t>* signature = nullptr,
           CK_ULONG room = 512)
{
    std::vector<uint8_t> local;
    if (!signature) signature = &local;
    signature->assign(room, 0);
    CK_ULONG length = room;
    const CK_RV rv = C_Sign(session, data.data(), data.size(), signature->data(), &length);
    signature->resize(rv == CKR_OK ? length : 0);
    return rv;
}

class EveryCard : public SignTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(EveryCard, SignsWithFirstKeyAndCertificateVerifies)
{
    const CK_SESSION_HANDLE session = LoadAndLogIn(GetParam());
    const auto keys = PrivateKeys();
    ASSERT_FALSE(keys.empty());
    std::vector<uint8_t> signature;
    ASSERT_EQ(SignInit(session, keys[0]), CKR_OK);
    ASSERT_EQ(Sign(session, DigestInfo(), &signature), CKR_OK);
    EXPECT_EQ(signature.size(), std::string(GetParam()) == "DEF50-3K" ? 384u : 256u);
    EXPECT_TRUE(Verifies(1, DigestInfo(), signature));
    EXPECT_FALSE(TransactionOpen());
}

INSTANTIATE_TEST_SUITE_P(Admitted, EveryCard,
                         ::testing::Values("DEF50", "DEF44", "DEF43B", "SIGG50", "SIGG44", "DEF50-3K"));

TEST_F(SignTest, DataOfModulusLengthPassesTheModuleAndLongerDataIsRefused)
{
    const CK_SESSION_HANDLE session = LoadAndLogIn("DEF44");
    const auto keys = PrivateKeys();

    // 257 bytes for a 2048-bit key: refused before any signing command.
    Commands();
    ASSERT_EQ(SignInit(session, keys[0]), CKR_OK);
    std::vector<uint8_t> data(257, 0x42), signature(256);
    EXPECT_EQ(Sign(session, data), CKR_DATA_LEN_RANGE);
    auto commands = Commands();
    EXPECT_FALSE(AnyStartsWith(commands, "00 2A"));
    EXPECT_FALSE(AnyStartsWith(commands, "00 22"));
    EXPECT_FALSE(TransactionOpen());

    // 256 bytes in parts pass the module; a further byte does not.
    ASSERT_EQ(SignInit(session, keys[0]), CKR_OK);
    EXPECT_EQ(C_SignUpdate(session, data.data(), 200), CKR_OK);
    EXPECT_EQ(C_SignUpdate(session, data.data(), 56), CKR_OK);
    EXPECT_EQ(C_SignUpdate(session, data.data(), 1), CKR_DATA_LEN_RANGE);
    CK_ULONG length = signature.size();
    EXPECT_EQ(C_SignFinal(session, signature.data(), &length), CKR_OPERATION_NOT_INITIALIZED);
    // A part length that wraps the collected length around is refused too.
    ASSERT_EQ(SignInit(session, keys[0]), CKR_OK);
    ASSERT_EQ(C_SignUpdate(session, data.data(), 1), CKR_OK);
    EXPECT_EQ(C_SignUpdate(session, data.data(), ~CK_ULONG(0)), CKR_DATA_LEN_RANGE);
    EXPECT_FALSE(TransactionOpen());

    // The CardOS 4 key that signs by deciphering cannot pad 254 bytes into
    // its 256-byte block: no PSO reaches the card; 245 bytes (k - 11) still fit.
    ASSERT_EQ(SignInit(session, keys[1]), CKR_OK);
    EXPECT_EQ(Sign(session, std::vector<uint8_t>(254, 0x42)), CKR_DATA_LEN_RANGE);
    EXPECT_FALSE(AnyStartsWith(Commands(), "00 2A"));
    EXPECT_FALSE(TransactionOpen());
    ASSERT_EQ(SignInit(session, keys[1]), CKR_OK);
    EXPECT_EQ(Sign(session, std::vector<uint8_t>(245, 0x33), &signature), CKR_OK);
    EXPECT_TRUE(Verifies(2, std::vector<uint8_t>(245, 0x33), signature));
    commands = Commands();
    EXPECT_TRUE(AnyStartsWith(commands, "00 22 01 B8 00 00 03 84 01"));
    // 00, then 00 01, 8 x FF, 00 and the 245 bytes: 257 data bytes.
    EXPECT_TRUE(AnyStartsWith(commands, "00 2A 80 86 00 01 01 00 00 01 FF FF"));
}

TEST_F(SignTest, LengthQueriesAndShortBuffersKeepTheOperation)
{
    const CK_SESSION_HANDLE session = LoadAndLogIn("DEF50");
    std::vector<uint8_t> data = DigestInfo(), signature;
    ASSERT_EQ(SignInit(session, PrivateKeys()[0]), CKR_OK);
    CK_ULONG length = 0;
    EXPECT_EQ(C_Sign(session, data.data(), data.size(), nullptr, &length), CKR_OK);
    EXPECT_EQ(length, 256u);
    EXPECT_TRUE(TransactionOpen());
    Commands();
    EXPECT_EQ(Sign(session, data, &signature, 255), CKR_BUFFER_TOO_SMALL);
    EXPECT_FALSE(AnyStartsWith(Commands(), "00 2A"));
    EXPECT_TRUE(TransactionOpen());
    ASSERT_EQ(Sign(session, data, &signature, 300), CKR_OK);
    EXPECT_EQ(signature.size(), 256u);
    EXPECT_TRUE(Verifies(1, data, signature));
    EXPECT_EQ(Sign(session, data), CKR_OPERATION_NOT_INITIALIZED);
    EXPECT_FALSE(TransactionOpen());
}

// C_SignFinal answers a short buffer before the card signs and keeps the
// collected data: the retry signs them once.
TEST_F(SignTest, SignFinalShortBufferRetrySignsTheDataOnce)
{
    const CK_SESSION_HANDLE session = LoadAndLogIn("DEF44");
    const auto data = DigestInfo(0x21);
    ASSERT_EQ(SignInit(session, PrivateKeys()[0]), CKR_OK);
    ASSERT_EQ(C_SignUpdate(session, const_cast<uint8_t*>(data.data()), 20), CKR_OK);
    ASSERT_EQ(C_SignUpdate(session, const_cast<uint8_t*>(data.data()) + 20, data.size() - 20), CKR_OK);
    Commands();
    std::vector<uint8_t> signature(256);
    CK_ULONG length = 255;
    EXPECT_EQ(C_SignFinal(session, signature.data(), &length), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, 256u);
    EXPECT_FALSE(AnyStartsWith(Commands(), "00 2A"));
    EXPECT_TRUE(TransactionOpen());
    ASSERT_EQ(C_SignFinal(session, signature.data(), &length), CKR_OK);
    EXPECT_EQ(length, 256u);
    EXPECT_TRUE(Verifies(1, data, signature));
    EXPECT_FALSE(TransactionOpen());
}

// CardOS 5.0 sets one template for every key: 84 01 <key reference>
// 95 01 40 80 01 10, in the short form.
TEST_F(SignTest, CardOs5SignatureTemplateForEveryKey)
{
    const CK_SESSION_HANDLE session = LoadAndLogIn("DEF50-KREF81");
    const auto keys = PrivateKeys();
    ASSERT_GE(keys.size(), 2u);
    for (uint8_t index : {1, 2}) {
        SCOPED_TRACE(index);
        ASSERT_EQ(SignInit(session, keys[index - 1]), CKR_OK);
        Commands();
        std::vector<uint8_t> signature;
        ASSERT_EQ(Sign(session, DigestInfo(index), &signature), CKR_OK);
        EXPECT_TRUE(Verifies(index, DigestInfo(index), signature));
        const std::string mse = "00 22 41 B6 09 84 01 8" + std::to_string(index) + " 95 01 40 80 01 10";
        const auto commands = Commands();
        EXPECT_TRUE(std::find(commands.begin(), commands.end(), mse) != commands.end())
            << ::testing::PrintToString(commands);
    }
}

// A SigG key that asks for a secondary authentication is refused before the
// card is asked to select its signature application or to sign.
TEST_F(SignTest, SigGKeyWithSecondaryAuthenticationIsRefusedBeforeTheCard)
{
    const CK_SESSION_HANDLE session = LoadAndLogIn("SIGG50-2ND");
    const auto keys = PrivateKeys();
    ASSERT_EQ(keys.size(), 3u);
    CK_BBOOL secondary = CK_FALSE;
    CK_ATTRIBUTE attribute = {CKA_SECONDARY_AUTH, &secondary, sizeof secondary};
    ASSERT_EQ(C_GetAttributeValue(session, keys[2], &attribute, 1), CKR_OK);
    ASSERT_EQ(secondary, CK_TRUE);
    ASSERT_EQ(SignInit(session, keys[2]), CKR_OK);
    Commands();
    EXPECT_EQ(Sign(session, DigestInfo()), CKR_FUNCTION_FAILED);
    const auto commands = Commands();
    EXPECT_FALSE(AnyStartsWith(commands, "00 A4 08")) << ::testing::PrintToString(commands);
    EXPECT_FALSE(AnyStartsWith(commands, "00 2A"));
    EXPECT_FALSE(TransactionOpen());
}

TEST_F(SignTest, OperationStatesAndRefusals)
{
    Load("DEF50");
    const CK_SESSION_HANDLE session = Open();
    const auto key = PrivateKeys()[0];
    std::vector<uint8_t> data = DigestInfo(), signature(256);
    CK_ULONG length = signature.size();

    EXPECT_EQ(SignInit(session, key), CKR_USER_NOT_LOGGED_IN);
    EXPECT_FALSE(TransactionOpen());
    LogIn(session);
    EXPECT_EQ(Sign(session, data), CKR_OPERATION_NOT_INITIALIZED);
    EXPECT_EQ(SignInit(session, 0x00037777), CKR_KEY_HANDLE_INVALID);
    CK_MECHANISM sha = {CKM_SHA256_RSA_PKCS, nullptr, 0};
    EXPECT_EQ(C_SignInit(session, &sha, key), CKR_MECHANISM_INVALID);
    EXPECT_FALSE(TransactionOpen());

    ASSERT_EQ(SignInit(session, key), CKR_OK);
    EXPECT_EQ(SignInit(session, key), CKR_OPERATION_ACTIVE);
    ASSERT_EQ(C_SignUpdate(session, data.data(), 5), CKR_OK);
    // C_Sign after C_SignUpdate ends the operation.
    EXPECT_EQ(Sign(session, data), CKR_DATA_INVALID);
    EXPECT_EQ(C_SignFinal(session, signature.data(), &length), CKR_OPERATION_NOT_INITIALIZED);
    EXPECT_FALSE(TransactionOpen());

    // A session closed while it signs gives the card back to other processes.
    ASSERT_EQ(SignInit(session, key), CKR_OK);
    EXPECT_TRUE(TransactionOpen());
    EXPECT_EQ(C_CloseSession(session), CKR_OK);
    EXPECT_FALSE(TransactionOpen());
}

TEST_F(SignTest, TransactionEndsOnceWhenTheCardFails)
{
    const CK_SESSION_HANDLE session = LoadAndLogIn("DEF50");
    ASSERT_EQ(SignInit(session, PrivateKeys()[0]), CKR_OK);
    cardsim::InjectFault(kReader, cardsim::Fault::StatusWordFor({0x00, 0x2A, 0x9E, 0x9A}, 0x69, 0x82));
    EXPECT_EQ(Sign(session, DigestInfo()), CKR_FUNCTION_FAILED);
    CK_SESSION_INFO info{};
    ASSERT_EQ(C_GetSessionInfo(session, &info), CKR_OK);
    EXPECT_EQ(info.ulDeviceError, 0x6982u);
    EXPECT_FALSE(TransactionOpen());
    EXPECT_EQ(Sign(session, DigestInfo()), CKR_OPERATION_NOT_INITIALIZED);

    // A card that answers 90 00 without a signature has not signed.
    ASSERT_EQ(SignInit(session, PrivateKeys()[0]), CKR_OK);
    cardsim::InjectFault(kReader, cardsim::Fault::AnswerWith({0x00, 0x2A, 0x9E, 0x9A}, {0x90, 0x00}));
    EXPECT_EQ(Sign(session, DigestInfo()), CKR_FUNCTION_FAILED);
    EXPECT_FALSE(TransactionOpen());
}

// A session RSA public key made from certificate `index` of the card, with an
// 8-byte CKA_MODULUS_BITS as every LP64 caller passes it.
CK_RV CreateVerifyKey(CK_SESSION_HANDLE session, const std::shared_ptr<cardsim::Card>& card, uint8_t index,
                      CK_OBJECT_HANDLE* key)
{
    const auto certificateKey = channeltest::CertificateKey(*card, {0x50, 0x15}, index);
    const auto& rsa = dynamic_cast<const Botan::RSA_PublicKey&>(*certificateKey);
    std::vector<uint8_t> modulus = Botan::BigInt::encode(rsa.get_n());
    std::vector<uint8_t> exponent = Botan::BigInt::encode(rsa.get_e());
    CK_OBJECT_CLASS objectClass = CKO_PUBLIC_KEY;
    CK_KEY_TYPE keyType = CKK_RSA;
    CK_ULONG modulusBits = rsa.get_n().bits();
    CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
    CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &objectClass, sizeof objectClass},
                                 {CKA_KEY_TYPE, &keyType, sizeof keyType},
                                 {CKA_TOKEN, &no, 1},
                                 {CKA_VERIFY, &yes, 1},
                                 {CKA_MODULUS_BITS, &modulusBits, sizeof modulusBits},
                                 {CKA_MODULUS, modulus.data(), modulus.size()},
                                 {CKA_PUBLIC_EXPONENT, exponent.data(), exponent.size()}};
    return C_CreateObject(session, attributes, 7, key);
}

CK_RV Verify(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key, std::vector<uint8_t> data,
             std::vector<uint8_t> signature)
{
    CK_MECHANISM mechanism = kRsaPkcs;
    if (CK_RV rv = C_VerifyInit(session, &mechanism, key); rv != CKR_OK) return rv;
    return C_Verify(session, data.data(), data.size(), signature.data(), signature.size());
}

// Verification on the host with a session public key: a card signature
// verifies in one part and in several; a changed signature or one of another
// length than the modulus does not.
TEST_F(SignTest, VerificationWithASessionPublicKey)
{
    const CK_SESSION_HANDLE session = LoadAndLogIn("DEF50");
    std::vector<uint8_t> data = DigestInfo(0x3C), signature;
    ASSERT_EQ(SignInit(session, PrivateKeys()[0]), CKR_OK);
    ASSERT_EQ(Sign(session, data, &signature), CKR_OK);
    CK_OBJECT_HANDLE key = 0;
    ASSERT_EQ(CreateVerifyKey(session, card_, 1, &key), CKR_OK);
    CK_ULONG bits = 0;
    CK_ATTRIBUTE modulusBits = {CKA_MODULUS_BITS, &bits, sizeof bits};
    ASSERT_EQ(C_GetAttributeValue(session, key, &modulusBits, 1), CKR_OK);
    EXPECT_EQ(bits, 2048u);

    EXPECT_EQ(Verify(session, key, data, signature), CKR_OK);
    auto tampered = signature;
    tampered[100] ^= 0x01;
    EXPECT_EQ(Verify(session, key, data, tampered), CKR_SIGNATURE_INVALID);
    auto otherData = data;
    otherData.back() ^= 0x01;
    EXPECT_EQ(Verify(session, key, otherData, signature), CKR_SIGNATURE_INVALID);

    // Lengths other than the modulus: one byte short, a leading 00, junk behind.
    auto padded = signature;
    padded.insert(padded.begin(), 0x00);
    auto junk = signature;
    junk.insert(junk.end(), 65536, 0x5A);
    for (const auto& wrong : {std::vector<uint8_t>(signature.begin(), signature.end() - 1), padded, junk})
        EXPECT_EQ(Verify(session, key, data, wrong), CKR_SIGNATURE_LEN_RANGE) << wrong.size();

    CK_MECHANISM mechanism = kRsaPkcs;
    ASSERT_EQ(C_VerifyInit(session, &mechanism, key), CKR_OK);
    ASSERT_EQ(C_VerifyUpdate(session, data.data(), 7), CKR_OK);
    ASSERT_EQ(C_VerifyUpdate(session, data.data() + 7, data.size() - 7), CKR_OK);
    EXPECT_EQ(C_VerifyFinal(session, signature.data(), signature.size()), CKR_OK);
    ASSERT_EQ(C_VerifyInit(session, &mechanism, key), CKR_OK);
    ASSERT_EQ(C_VerifyUpdate(session, data.data(), data.size()), CKR_OK);
    EXPECT_EQ(C_VerifyFinal(session, padded.data(), padded.size()), CKR_SIGNATURE_LEN_RANGE);
    EXPECT_EQ(C_VerifyFinal(session, signature.data(), signature.size()), CKR_OPERATION_NOT_INITIALIZED);

    // Parts beyond the modulus, also one whose length wraps the sum around.
    ASSERT_EQ(C_VerifyInit(session, &mechanism, key), CKR_OK);
    ASSERT_EQ(C_VerifyUpdate(session, data.data(), 1), CKR_OK);
    EXPECT_EQ(C_VerifyUpdate(session, data.data(), ~CK_ULONG(0)), CKR_DATA_LEN_RANGE);
    ASSERT_EQ(C_VerifyInit(session, &mechanism, key), CKR_OK);
    std::vector<uint8_t> tooLong(257, 0x01);
    EXPECT_EQ(C_Verify(session, tooLong.data(), tooLong.size(), signature.data(), signature.size()),
              CKR_DATA_LEN_RANGE);
    EXPECT_FALSE(TransactionOpen());
}

// A created public key verifies and nothing else (usage: verify only), is
// extractable and local (access flags 03 48), carries the key reference
// 8004 and refers to the card's CKM_RSA_PKCS algorithm entry.
TEST_F(SignTest, CreatedPublicKeyUsageAndAccessBits)
{
    const CK_SESSION_HANDLE session = LoadAndLogIn("DEF50");
    CK_OBJECT_HANDLE handle = 0;
    ASSERT_EQ(CreateVerifyKey(session, card_, 1, &handle), CKR_OK);
    EXPECT_EQ(handle, 0x80040000u);
    CK_BBOOL verify = CK_FALSE, encrypt = CK_TRUE, token = CK_TRUE;
    CK_ATTRIBUTE flags[] = {{CKA_VERIFY, &verify, 1}, {CKA_ENCRYPT, &encrypt, 1}, {CKA_TOKEN, &token, 1}};
    ASSERT_EQ(C_GetAttributeValue(session, handle, flags, 3), CKR_OK);
    EXPECT_EQ(verify, CK_TRUE);
    EXPECT_EQ(encrypt, CK_FALSE);
    EXPECT_EQ(token, CK_FALSE);

    const auto state = Brelt::MW::Card::StatusCache::GetSession(session);
    ASSERT_TRUE(state);
    const Brelt::MW::Token::CIOObject* object = nullptr;
    for (const auto& list : state->objectLists)
        if (list && list->kind == Brelt::MW::Token::kKindRsaPublicKey && !list->objects.empty())
            object = list->objects.front().get();
    ASSERT_NE(object, nullptr);
    const auto* attributes = object->AsCommonKeyAttributes();
    ASSERT_TRUE(attributes && attributes->usage && attributes->accessFlags && attributes->keyReference);
    for (uint32_t bit = 0; bit < 10; ++bit) {
        bool set = false;
        Brelt::MW::Token::GetFlagAtIndex(attributes->usage->data, attributes->usage->length, bit, &set);
        EXPECT_EQ(set, bit == 6) << "usage bit " << bit;
    }
    EXPECT_EQ(attributes->accessFlags->ToString(), "0348");
    EXPECT_EQ(*attributes->keyReference, 0x8004u);
    ASSERT_EQ(attributes->algReference.size(), 1u);
    EXPECT_EQ(attributes->algReference[0]->ToString(), "00");
}

// A card whose algorithm list names only raw RSA: CardOS 5.0 takes that entry
// for a created key; other card OS versions refuse the key.
TEST_F(SignTest, RawRsaAlgorithmStandsInOnlyOnCardOs5)
{
    for (const auto& [personalisation, expected] :
         {std::pair{"X509-ONLY", CKR_OK}, std::pair{"X509-ONLY44", CKR_FUNCTION_FAILED}}) {
        SCOPED_TRACE(personalisation);
        Load(personalisation);
        CK_OBJECT_HANDLE handle = 0;
        EXPECT_EQ(CreateVerifyKey(Open(), card_, 1, &handle), expected);
        EXPECT_EQ(handle != 0, expected == CKR_OK);
        TearDown();
    }
}

// A key that demands the PIN for every signature, on a reader without a PIN pad.
TEST_F(SignTest, KeyForEveryUseNeedsThePinPad)
{
    const CK_SESSION_HANDLE session = LoadAndLogIn("DEF50-UC");
    CK_OBJECT_HANDLE key = PrivateKeys()[0];
    CK_BBOOL always = CK_FALSE;
    CK_ATTRIBUTE attribute = {CKA_ALWAYS_AUTHENTICATE, &always, sizeof(always)};
    ASSERT_EQ(C_GetAttributeValue(session, key, &attribute, 1), CKR_OK);
    ASSERT_EQ(always, CK_TRUE);

    ASSERT_EQ(SignInit(session, key), CKR_OK);
    std::vector<uint8_t> data = DigestInfo();
    CK_ULONG length = 0;
    // The length query asks for no PIN.
    EXPECT_EQ(C_Sign(session, data.data(), data.size(), nullptr, &length), CKR_OK);
    EXPECT_EQ(C_SignUpdate(session, data.data(), data.size()), CKR_USER_NOT_LOGGED_IN);
    EXPECT_FALSE(TransactionOpen());

    ASSERT_EQ(SignInit(session, key), CKR_OK);
    Commands();
    EXPECT_EQ(Sign(session, data), CKR_FUNCTION_FAILED);
    EXPECT_FALSE(AnyStartsWith(Commands(), "00 2A"));
    EXPECT_FALSE(TransactionOpen());
}

}  // namespace
}  // namespace signtest
