// What the module remembers of a card — the current file within a held
// transaction, the card's static data and public-key files per insertion —
// never outlives what it stands for. Each test changes the card behind the
// module's back in one way and checks that the module sees the change.

#include <cstring>

#include "SignFixture.h"
#include "token/CardObjects.h"

namespace signtest {
namespace {

// Another process resets the card through a PC/SC connection of its own.
LONG ResetByAnotherProcess()
{
    SCARDCONTEXT context = 0;
    SCARDHANDLE card = 0;
    DWORD protocol = 0;
    EXPECT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context), SCARD_S_SUCCESS);
    LONG rv = SCardConnect(context, kReader, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &card, &protocol);
    if (rv == SCARD_S_SUCCESS) rv = SCardReconnect(card, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, SCARD_RESET_CARD, &protocol);
    SCardDisconnect(card, SCARD_LEAVE_CARD);
    SCardReleaseContext(context);
    return rv;
}

// The serial number the card answers from now on (GET DATA 01 81).
const std::vector<uint8_t> kOtherSerial = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};

void AnswerSerialFromNowOn(const std::vector<uint8_t>& serial)
{
    std::vector<uint8_t> answer = serial;
    answer.insert(answer.end(), {0x90, 0x00});
    auto fault = cardsim::Fault::AnswerWith({0x00, 0xCA, 0x01, 0x81}, answer);
    fault.everyTime = true;
    cardsim::InjectFault(kReader, fault);
}

std::string Serial(CK_SLOT_ID slot, CK_RV* rv = nullptr)
{
    CK_TOKEN_INFO info;
    const CK_RV result = C_GetTokenInfo(slot, &info);
    if (rv != nullptr) *rv = result;
    if (result != CKR_OK) return {};
    return std::string(reinterpret_cast<const char*>(info.serialNumber), 16);
}

std::string Hex(const std::vector<uint8_t>& bytes)
{
    return Brelt::MW::Base::HexBinary(bytes.data(), int32_t(bytes.size()), true).ToString();
}

class CardMemoryTest : public SignTest {
protected:
    std::vector<CK_OBJECT_HANDLE> PublicKeys(CK_SESSION_HANDLE session)
    {
        CK_OBJECT_CLASS keyClass = CKO_PUBLIC_KEY;
        CK_ATTRIBUTE pattern{CKA_CLASS, &keyClass, sizeof keyClass};
        EXPECT_EQ(C_FindObjectsInit(session, &pattern, 1), CKR_OK);
        std::vector<CK_OBJECT_HANDLE> keys(8);
        CK_ULONG found = 0;
        EXPECT_EQ(C_FindObjects(session, keys.data(), keys.size(), &found), CKR_OK);
        C_FindObjectsFinal(session);
        keys.resize(found);
        return keys;
    }

    static CK_RV Modulus(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key, std::vector<uint8_t>& modulus)
    {
        std::vector<uint8_t> buffer(1024);
        CK_ATTRIBUTE attribute{CKA_MODULUS, buffer.data(), buffer.size()};
        const CK_RV rv = C_GetAttributeValue(session, key, &attribute, 1);
        modulus.assign(buffer.begin(), buffer.begin() + (rv == CKR_OK ? attribute.ulValueLen : 0));
        return rv;
    }
};

TEST_F(CardMemoryTest, PublicKeyFileWrittenByTheModuleIsReadAgain)
{
    const CK_SESSION_HANDLE session = LoadAndLogIn("DEF50");
    const auto keys = PublicKeys(session);
    ASSERT_EQ(keys.size(), 2u);
    std::vector<uint8_t> first, second;
    ASSERT_EQ(Modulus(session, keys[0], first), CKR_OK);
    ASSERT_EQ(Modulus(session, keys[1], second), CKR_OK);
    ASSERT_NE(first, second);

    // The second key's file written over the first's: both objects now hold the second key.
    const auto fileOfSecond = card_->FileContents({0x50, 0x15, 0x45, 0x02});
    ASSERT_TRUE(fileOfSecond);
    const uint8_t fileOfFirst[] = {0x45, 0x01};
    CK_ULONG status = 0;
    ASSERT_EQ(Brelt::MW::Token::WriteCardFile(slot_, &status, fileOfFirst, 2, fileOfSecond->data(),
                                               uint32_t(fileOfSecond->size()), 0),
              CKR_OK);
    std::vector<uint8_t> rewritten;
    ASSERT_EQ(Modulus(session, keys[0], rewritten), CKR_OK);
    EXPECT_EQ(rewritten, second);
}

// A reset by another process, or a failed transmission, may stand for a
// changed card: what the module read before is read again.
enum class Event { ResetByAnotherProcess, FailedTransmission };

class CardDataAfter : public CardMemoryTest, public ::testing::WithParamInterface<Event> {};

TEST_P(CardDataAfter, EventIsReadFromTheCardAgain)
{
    Load("DEF50");
    ASSERT_FALSE(Serial(slot_).empty());
    AnswerSerialFromNowOn(kOtherSerial);
    if (GetParam() == Event::ResetByAnotherProcess) {
        ASSERT_EQ(ResetByAnotherProcess(), SCARD_S_SUCCESS);
    } else {
        cardsim::InjectFault(kReader, cardsim::Fault::TransmitError(SCARD_F_COMM_ERROR));
        CK_RV rv = CKR_OK;
        Serial(slot_, &rv);
        ASSERT_NE(rv, CKR_OK);
    }
    EXPECT_EQ(Serial(slot_), Hex(kOtherSerial));
}

INSTANTIATE_TEST_SUITE_P(Events, CardDataAfter,
                         ::testing::Values(Event::ResetByAnotherProcess, Event::FailedTransmission));

TEST_F(CardMemoryTest, CardMovedByAnotherProcessBetweenTwoCallsIsSelectedAgain)
{
    const CK_SESSION_HANDLE session = LoadAndLogIn("DEF50");
    // The module's last call leaves its application selected ...
    ASSERT_FALSE(Serial(slot_).empty());
    // ... which another process changes before the next call.
    ASSERT_EQ(card_->Transmit({0x00, 0xA4, 0x00, 0x0C}), (cardsim::Bytes{0x90, 0x00}));
    ASSERT_EQ(card_->CurrentDfPath(), (cardsim::Bytes{0x3F, 0x00}));

    const auto keys = PrivateKeys();
    ASSERT_FALSE(keys.empty());
    std::vector<uint8_t> signature(512);
    CK_ULONG length = signature.size();
    auto data = DigestInfo();
    ASSERT_EQ(SignInit(session, keys[0]), CKR_OK);
    ASSERT_EQ(C_Sign(session, data.data(), data.size(), signature.data(), &length), CKR_OK);
    signature.resize(length);
    EXPECT_TRUE(Verifies(1, data, signature));
}

TEST_F(CardMemoryTest, CardSwappedWithinOnePollIsAnotherCard)
{
    // Readers polled on the caller's thread: nothing sees the swap before the next slot call.
    CK_C_INITIALIZE_ARGS args{};
    args.flags = CKF_OS_LOCKING_OK | CKF_LIBRARY_CANT_CREATE_OS_THREADS;
    Load("DEF50", cardsim::PinPad::None, &args);
    const CK_SESSION_HANDLE session = Open();
    const auto keys = PublicKeys(session);
    ASSERT_FALSE(keys.empty());
    std::vector<uint8_t> modulus;
    ASSERT_EQ(Modulus(session, keys[0], modulus), CKR_OK);
    ASSERT_FALSE(Serial(slot_).empty());

    const CK_SLOT_ID oldSlot = slot_;
    card_ = cardsim::InsertCard(kReader, "DEF50-UC");  // out and in again at once
    EXPECT_NE(Modulus(session, keys[0], modulus), CKR_OK) << "the session's card is gone";

    CK_ULONG count = 1;
    ASSERT_EQ(C_GetSlotList(CK_TRUE, &slot_, &count), CKR_OK);
    ASSERT_EQ(count, 1u);
    EXPECT_NE(slot_, oldSlot);
    const auto serial = card_->Transmit({0x00, 0xCA, 0x01, 0x81, 0x00});
    ASSERT_GE(serial.size(), 10u);
    EXPECT_EQ(Serial(slot_), Hex({serial.begin(), serial.end() - 2}));
}

}  // namespace
}  // namespace signtest
