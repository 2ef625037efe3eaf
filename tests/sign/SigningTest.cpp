// Signing on every admitted personalisation, checked against the card's
// certificates; data sizes, length queries, multi-part signing, operation
// states and the card transaction that signing holds.

#include "SignFixture.h"

namespace signtest {
namespace {

struct Signed {
    CK_RV rv = CKR_GENERAL_ERROR;
    std::vector<uint8_t> signature;
};

Signed SignOnce(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key, std::vector<uint8_t> data)
{
    Signed result;
    result.rv = SignInit(session, key);
    if (result.rv != CKR_OK) return result;
    CK_ULONG length = 0;
    result.rv = C_Sign(session, data.data(), data.size(), nullptr, &length);
    if (result.rv != CKR_OK) return result;
    result.signature.resize(length);
    result.rv = C_Sign(session, data.data(), data.size(), result.signature.data(), &length);
    result.signature.resize(length);
    return result;
}

class EveryCard : public SignTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(EveryCard, SignsWithFirstKeyAndCertificateVerifies)
{
    const CK_SESSION_HANDLE session = LoadAndLogIn(GetParam());
    const auto keys = PrivateKeys();
    ASSERT_FALSE(keys.empty());
    const std::vector<uint8_t> data = DigestInfo();
    const Signed result = SignOnce(session, keys[0], data);
    ASSERT_EQ(result.rv, CKR_OK);
    const bool big = std::string(GetParam()) == "DEF50-3K";
    EXPECT_EQ(result.signature.size(), big ? 384u : 256u);
    EXPECT_TRUE(Verifies(1, data, result.signature));
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
    const std::vector<uint8_t> data = DigestInfo(0x11);
    const Signed result = SignOnce(session, keys[1], data);
    ASSERT_EQ(result.rv, CKR_OK);
    EXPECT_TRUE(Verifies(2, data, result.signature));
    const auto commands = Commands();
    EXPECT_TRUE(AnyStartsWith(commands, "00 22 01 B8 00 00 03 84 01"));
    // 00, then 00 01, 218 x FF, 00 and the 35 bytes: 257 data bytes.
    EXPECT_TRUE(AnyStartsWith(commands, "00 2A 80 86 00 01 01 00 00 01 FF FF"));
}

TEST_F(SignTest, CardOs50UsesTheNineByteTemplate)
{
    const CK_SESSION_HANDLE session = LoadAndLogIn("DEF50");
    Commands();
    ASSERT_EQ(SignOnce(session, PrivateKeys()[0], DigestInfo()).rv, CKR_OK);
    const auto commands = Commands();
    EXPECT_TRUE(AnyStartsWith(commands, "00 22 41 B6 09 84 01"));
    EXPECT_TRUE(AnyStartsWith(commands, "00 2A 9E 9A 00 00 33"));
    EXPECT_TRUE(AnyStartsWith(commands, "00 CA 01 83"));
}

TEST_F(SignTest, DataOfModulusLengthPassesTheModuleAndLongerDataIsRefused)
{
    const CK_SESSION_HANDLE session = LoadAndLogIn("DEF44");
    const auto keys = PrivateKeys();

    // 257 bytes for a 2048-bit key: refused before any signing command.
    Commands();
    ASSERT_EQ(SignInit(session, keys[0]), CKR_OK);
    std::vector<uint8_t> data(257, 0x42), signature(256);
    CK_ULONG length = signature.size();
    EXPECT_EQ(C_Sign(session, data.data(), data.size(), signature.data(), &length), CKR_DATA_LEN_RANGE);
    auto commands = Commands();
    EXPECT_FALSE(AnyStartsWith(commands, "00 2A"));
    EXPECT_FALSE(AnyStartsWith(commands, "00 22"));
    EXPECT_FALSE(TransactionOpen());

    // 256 bytes in parts pass the module; a further byte does not.
    ASSERT_EQ(SignInit(session, keys[0]), CKR_OK);
    EXPECT_EQ(C_SignUpdate(session, data.data(), 200), CKR_OK);
    EXPECT_EQ(C_SignUpdate(session, data.data(), 56), CKR_OK);
    EXPECT_EQ(C_SignUpdate(session, data.data(), 1), CKR_DATA_LEN_RANGE);
    EXPECT_EQ(C_SignFinal(session, signature.data(), &length), CKR_OPERATION_NOT_INITIALIZED);

    // The key that signs by deciphering cannot pad 254 bytes into its
    // 256-byte block: no PSO reaches the card.
    Commands();
    ASSERT_EQ(SignInit(session, keys[1]), CKR_OK);
    EXPECT_EQ(C_Sign(session, data.data(), 254, signature.data(), &length), CKR_DATA_LEN_RANGE);
    commands = Commands();
    EXPECT_FALSE(AnyStartsWith(commands, "00 2A"));
    EXPECT_FALSE(TransactionOpen());
    // 245 bytes (k - 11) still fit.
    const Signed result = SignOnce(session, keys[1], std::vector<uint8_t>(245, 0x33));
    EXPECT_EQ(result.rv, CKR_OK);
    EXPECT_TRUE(Verifies(2, std::vector<uint8_t>(245, 0x33), result.signature));
}

TEST_F(SignTest, LengthQueriesAndShortBuffersKeepTheOperation)
{
    const CK_SESSION_HANDLE session = LoadAndLogIn("DEF50");
    const auto key = PrivateKeys()[0];
    const std::vector<uint8_t> data = DigestInfo();
    ASSERT_EQ(SignInit(session, key), CKR_OK);

    CK_ULONG length = 0;
    EXPECT_EQ(C_Sign(session, const_cast<uint8_t*>(data.data()), data.size(), nullptr, &length), CKR_OK);
    EXPECT_EQ(length, 256u);
    EXPECT_TRUE(TransactionOpen());
    std::vector<uint8_t> signature(300, 0);
    length = 255;
    Commands();
    EXPECT_EQ(C_Sign(session, const_cast<uint8_t*>(data.data()), data.size(), signature.data(), &length),
              CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, 256u);
    EXPECT_FALSE(AnyStartsWith(Commands(), "00 2A"));
    EXPECT_TRUE(TransactionOpen());
    length = signature.size();
    ASSERT_EQ(C_Sign(session, const_cast<uint8_t*>(data.data()), data.size(), signature.data(), &length), CKR_OK);
    EXPECT_EQ(length, 256u);
    signature.resize(length);
    EXPECT_TRUE(Verifies(1, data, signature));
    EXPECT_EQ(C_Sign(session, const_cast<uint8_t*>(data.data()), data.size(), signature.data(), &length),
              CKR_OPERATION_NOT_INITIALIZED);

    // Multi-part, with a length query and a short buffer at the end.
    ASSERT_EQ(SignInit(session, key), CKR_OK);
    ASSERT_EQ(C_SignUpdate(session, const_cast<uint8_t*>(data.data()), 10), CKR_OK);
    ASSERT_EQ(C_SignUpdate(session, const_cast<uint8_t*>(data.data()) + 10, data.size() - 10), CKR_OK);
    length = 0;
    EXPECT_EQ(C_SignFinal(session, nullptr, &length), CKR_OK);
    EXPECT_EQ(length, 256u);
    std::vector<uint8_t> second(256);
    length = 10;
    EXPECT_EQ(C_SignFinal(session, second.data(), &length), CKR_BUFFER_TOO_SMALL);
    length = second.size();
    ASSERT_EQ(C_SignFinal(session, second.data(), &length), CKR_OK);
    EXPECT_EQ(second, signature) << "PKCS#1 v1.5 signatures of the same data are equal";
    EXPECT_FALSE(TransactionOpen());
}

TEST_F(SignTest, OperationStatesAndRefusals)
{
    Load("DEF50");
    const CK_SESSION_HANDLE session = Open();
    const auto key = PrivateKeys()[0];
    std::vector<uint8_t> data = DigestInfo(), signature(256);
    CK_ULONG length = signature.size();

    // Not logged in: the private key cannot be used.
    EXPECT_EQ(SignInit(session, key), CKR_USER_NOT_LOGGED_IN);
    EXPECT_FALSE(TransactionOpen());
    LogIn(session);

    EXPECT_EQ(C_Sign(session, data.data(), data.size(), signature.data(), &length), CKR_OPERATION_NOT_INITIALIZED);
    EXPECT_EQ(C_SignUpdate(session, data.data(), data.size()), CKR_OPERATION_NOT_INITIALIZED);
    EXPECT_EQ(C_SignFinal(session, signature.data(), &length), CKR_OPERATION_NOT_INITIALIZED);
    EXPECT_EQ(SignInit(session, 0x00037777), CKR_KEY_HANDLE_INVALID);
    CK_MECHANISM sha = {CKM_SHA256_RSA_PKCS, nullptr, 0};
    EXPECT_EQ(C_SignInit(session, &sha, key), CKR_MECHANISM_INVALID);
    EXPECT_FALSE(TransactionOpen());

    ASSERT_EQ(SignInit(session, key), CKR_OK);
    EXPECT_EQ(SignInit(session, key), CKR_OPERATION_ACTIVE);
    ASSERT_EQ(C_SignUpdate(session, data.data(), 5), CKR_OK);
    // C_Sign after C_SignUpdate ends the operation.
    EXPECT_EQ(C_Sign(session, data.data(), data.size(), signature.data(), &length), CKR_DATA_INVALID);
    EXPECT_EQ(C_SignFinal(session, signature.data(), &length), CKR_OPERATION_NOT_INITIALIZED);
    EXPECT_FALSE(TransactionOpen());
}

TEST_F(SignTest, LoggingOutBetweenInitAndSignRefusesWithoutCardCommand)
{
    const CK_SESSION_HANDLE session = LoadAndLogIn("SIGG50");
    ASSERT_EQ(SignInit(session, PrivateKeys()[0]), CKR_OK);
    Brelt::MW::Card::StatusCache::GetSession(session)->SetState(CKS_RO_PUBLIC_SESSION);
    std::vector<uint8_t> data = DigestInfo(), signature(256);
    CK_ULONG length = signature.size();
    Commands();
    EXPECT_EQ(C_Sign(session, data.data(), data.size(), signature.data(), &length), CKR_USER_NOT_LOGGED_IN);
    EXPECT_FALSE(AnyStartsWith(Commands(), "00 2A"));
    EXPECT_FALSE(TransactionOpen());
}

TEST_F(SignTest, ClosingTheSessionEndsItsTransaction)
{
    Load("DEF50");
    const CK_SESSION_HANDLE first = Open();
    LogIn(first);
    ASSERT_EQ(SignInit(first, PrivateKeys()[0]), CKR_OK);
    EXPECT_TRUE(TransactionOpen());
    ASSERT_EQ(C_CloseSession(first), CKR_OK);
    EXPECT_FALSE(TransactionOpen());

    // Another session signs as usual afterwards.
    const CK_SESSION_HANDLE second = Open();
    LogIn(second);
    EXPECT_EQ(SignOnce(second, PrivateKeys()[0], DigestInfo()).rv, CKR_OK);
    EXPECT_FALSE(TransactionOpen());
}

TEST_F(SignTest, TransactionEndsOnceWhenTheCardFails)
{
    const CK_SESSION_HANDLE session = LoadAndLogIn("DEF50");
    ASSERT_EQ(SignInit(session, PrivateKeys()[0]), CKR_OK);
    cardsim::InjectFault(kReader, cardsim::Fault::StatusWordFor({0x00, 0x2A, 0x9E, 0x9A}, 0x69, 0x82));
    std::vector<uint8_t> data = DigestInfo(), signature(256);
    CK_ULONG length = signature.size();
    EXPECT_EQ(C_Sign(session, data.data(), data.size(), signature.data(), &length), CKR_FUNCTION_FAILED);
    CK_SESSION_INFO info{};
    ASSERT_EQ(C_GetSessionInfo(session, &info), CKR_OK);
    EXPECT_EQ(info.ulDeviceError, 0x6982u);
    EXPECT_FALSE(TransactionOpen());
    EXPECT_EQ(C_SignFinal(session, signature.data(), &length), CKR_OPERATION_NOT_INITIALIZED);

    // A card that answers 90 00 without a signature has not signed.
    ASSERT_EQ(SignInit(session, PrivateKeys()[0]), CKR_OK);
    cardsim::InjectFault(kReader, cardsim::Fault::AnswerWith({0x00, 0x2A, 0x9E, 0x9A}, {0x90, 0x00}));
    length = signature.size();
    EXPECT_EQ(C_Sign(session, data.data(), data.size(), signature.data(), &length), CKR_FUNCTION_FAILED);
    EXPECT_FALSE(TransactionOpen());
}


// Keys that demand the PIN for every signature.
using ContextLoginTest = SignTest;

TEST_F(ContextLoginTest, KeyForEveryUseNeedsThePinPad)
{
    const CK_SESSION_HANDLE session = LoadAndLogIn("DEF50-UC");
    CK_OBJECT_HANDLE key = PrivateKeys()[0];
    CK_BBOOL always = CK_FALSE;
    CK_ATTRIBUTE attribute = {CKA_ALWAYS_AUTHENTICATE, &always, sizeof(always)};
    ASSERT_EQ(C_GetAttributeValue(session, key, &attribute, 1), CKR_OK);
    ASSERT_EQ(always, CK_TRUE);

    ASSERT_EQ(SignInit(session, key), CKR_OK);
    std::vector<uint8_t> data = DigestInfo(), signature(256);
    CK_ULONG length = 0;
    // The length query asks for no PIN.
    EXPECT_EQ(C_Sign(session, data.data(), data.size(), nullptr, &length), CKR_OK);
    EXPECT_EQ(C_SignUpdate(session, data.data(), data.size()), CKR_USER_NOT_LOGGED_IN);
    EXPECT_FALSE(TransactionOpen());

    ASSERT_EQ(SignInit(session, key), CKR_OK);
    length = signature.size();
    Commands();
    EXPECT_EQ(C_Sign(session, data.data(), data.size(), signature.data(), &length), CKR_FUNCTION_FAILED);
    EXPECT_FALSE(AnyStartsWith(Commands(), "00 2A"));
    EXPECT_FALSE(TransactionOpen());
}

TEST_F(ContextLoginTest, PinPadEntryLetsTheKeySign)
{
    const CK_SESSION_HANDLE session = LoadAndLogIn("DEF50-UC", cardsim::PinPad::Direct);
    ASSERT_EQ(SignInit(session, PrivateKeys()[0]), CKR_OK);
    cardsim::ScriptPinPad(kReader, cardsim::PinEntry::Typing(card_->UserPin()));
    std::vector<uint8_t> data = DigestInfo(), signature(256);
    CK_ULONG length = signature.size();
    ASSERT_EQ(C_Sign(session, data.data(), data.size(), signature.data(), &length), CKR_OK);
    EXPECT_EQ(cardsim::PendingPinPadEntries(kReader), 0u);
    EXPECT_TRUE(Verifies(1, data, signature));
    EXPECT_FALSE(TransactionOpen());
}

TEST_F(ContextLoginTest, SecondSigGKeyIsRefusedBeforeItsSignatureApplication)
{
    const CK_SESSION_HANDLE session = LoadAndLogIn("SIGG50-2ND");
    const auto keys = PrivateKeys();
    ASSERT_EQ(keys.size(), 3u);
    ASSERT_EQ(SignInit(session, keys[2]), CKR_OK);
    std::vector<uint8_t> data = DigestInfo(), signature(256);
    CK_ULONG length = signature.size();
    Commands();
    EXPECT_EQ(C_Sign(session, data.data(), data.size(), signature.data(), &length), CKR_FUNCTION_FAILED);
    const auto commands = Commands();
    EXPECT_FALSE(AnyStartsWith(commands, "00 A4 08"));
    EXPECT_FALSE(AnyStartsWith(commands, "00 2A"));
    EXPECT_FALSE(TransactionOpen());
}

}  // namespace
}  // namespace signtest
