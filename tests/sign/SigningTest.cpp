// Signing on every admitted personalisation, checked against the card's
// certificates; data sizes, length queries, operation states and the card
// transaction that signing holds.

#include "SignFixture.h"

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

TEST_F(SignTest, CardOs4KeyThatDeciphersSignsByDeciphering)
{
    const CK_SESSION_HANDLE session = LoadAndLogIn("DEF44");
    const auto keys = PrivateKeys();
    ASSERT_GE(keys.size(), 2u);
    Commands();
    std::vector<uint8_t> signature;
    ASSERT_EQ(SignInit(session, keys[1]), CKR_OK);
    ASSERT_EQ(Sign(session, DigestInfo(0x11), &signature), CKR_OK);
    EXPECT_TRUE(Verifies(2, DigestInfo(0x11), signature));
    const auto commands = Commands();
    EXPECT_TRUE(AnyStartsWith(commands, "00 22 01 B8 00 00 03 84 01"));
    // 00, then 00 01, 218 x FF, 00 and the 35 bytes: 257 data bytes.
    EXPECT_TRUE(AnyStartsWith(commands, "00 2A 80 86 00 01 01 00 00 01 FF FF"));
}

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

    // The key that signs by deciphering cannot pad 254 bytes into its
    // 256-byte block: no PSO reaches the card; 245 bytes (k - 11) still fit.
    ASSERT_EQ(SignInit(session, keys[1]), CKR_OK);
    EXPECT_EQ(Sign(session, std::vector<uint8_t>(254, 0x42)), CKR_DATA_LEN_RANGE);
    EXPECT_FALSE(AnyStartsWith(Commands(), "00 2A"));
    EXPECT_FALSE(TransactionOpen());
    ASSERT_EQ(SignInit(session, keys[1]), CKR_OK);
    EXPECT_EQ(Sign(session, std::vector<uint8_t>(245, 0x33), &signature), CKR_OK);
    EXPECT_TRUE(Verifies(2, std::vector<uint8_t>(245, 0x33), signature));
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
