// Token information and the card-level object operations against the
// simulated cards.

#include <algorithm>
#include <cstring>

#include "BaseTypes.h"
#include "CardTokenFixture.h"
#include "token/ApplicationInfoList.h"
#include "token/CardObjects.h"
#include "token/ObjectHandles.h"
#include "token/TokenInfo.h"

using namespace attrstest;
using namespace Brelt::MW::Token;

namespace {

std::string Field(const CK_UTF8CHAR* bytes, size_t size)
{
    std::string text(reinterpret_cast<const char*>(bytes), size);
    return text.substr(0, text.find_last_not_of(' ') + 1);
}

struct Expected {
    const char* personalisation;
    const char* model;
    CK_VERSION firmware;
    bool cardOs5;
};

class TokenInfoTest : public CardTokenTest, public ::testing::WithParamInterface<Expected> {
protected:
    std::string CardSerial()
    {
        const auto answer = card_->Transmit({0x00, 0xCA, 0x01, 0x81, 0x00});
        const size_t skip = GetParam().cardOs5 ? 0 : 8;
        const size_t end = std::min(skip + 8, answer.size() < 2 ? 0 : answer.size() - 2);
        if (end <= skip) return {};
        return Brelt::MW::Base::HexBinary(answer.data() + skip, static_cast<int32_t>(end - skip), true).ToString();
    }

    void VerifyUserPin()
    {
        const std::string pin = card_->UserPin();
        std::vector<uint8_t> verify{0x00, 0x20, 0x00, 0x01};
        std::vector<uint8_t> data(pin.begin(), pin.end());
        if (std::string(GetParam().personalisation).rfind("DEF43B", 0) != 0) data.resize(8, 0xFF);
        verify.push_back(uint8_t(data.size()));
        verify.insert(verify.end(), data.begin(), data.end());
        ASSERT_EQ(Raw(verify), "90 00");
    }
};

TEST_P(TokenInfoTest, FromTheCardBeforeAndAfterThePinIsVerified)
{
    const Expected& expected = GetParam();
    Load(expected.personalisation);
    for (const bool verified : {false, true}) {
        if (verified) VerifyUserPin();
        CK_TOKEN_INFO info;
        std::memset(&info, 0xAB, sizeof info);
        ASSERT_EQ(GetTokenInfoEF(*slot_, &info), CKR_OK) << verified;
        EXPECT_EQ(Field(info.model, sizeof info.model), expected.model);
        EXPECT_EQ(info.firmwareVersion.major, expected.firmware.major);
        EXPECT_EQ(info.firmwareVersion.minor, expected.firmware.minor);
        EXPECT_EQ(Field(info.serialNumber, sizeof info.serialNumber), CardSerial());
        EXPECT_EQ(Field(info.manufacturerID, sizeof info.manufacturerID), "Rada IT Solutions and Services");
        EXPECT_NE(Field(info.label, sizeof info.label), "");
        EXPECT_NE(info.ulMaxPinLen, CK_UNAVAILABLE_INFORMATION);
        EXPECT_LE(info.ulMinPinLen, info.ulMaxPinLen);
        EXPECT_GT(info.ulTotalPublicMemory, 0u);
        EXPECT_EQ(info.flags & ~CKF_PROTECTED_AUTHENTICATION_PATH,
                  CKF_RNG | CKF_TOKEN_INITIALIZED | CKF_USER_PIN_INITIALIZED | CKF_LOGIN_REQUIRED);
    }
}

INSTANTIATE_TEST_SUITE_P(
    AdmittedCards, TokenInfoTest,
    ::testing::Values(Expected{"DEF50", "V50;;2k", {0xC9, 0x01}, true}, Expected{"DEF50-3K", "V50;;3k", {0xC9, 0x01}, true},
                      Expected{"DEF44", "CardOS V4.4", {0xC8, 0x0D}, false},
                      // Its OS query goes without Le and gets no data: it runs as CardOS 5.0.
                      Expected{"DEF44-STRICT", "V50;;2k", {0xC8, 0x0D}, true},
                      Expected{"DEF43B", "CardOS V4.3B", {0xC8, 0x08}, false},
                      Expected{"SIGG50-2ND", "V50;;2k", {0xC9, 0x01}, true},
                      Expected{"X509-ONLY44", "CardOS V4.4", {0xC8, 0x0D}, false}),
    [](const auto& info) {
        std::string name = info.param.personalisation;
        for (char& c : name)
            if (c == '-') c = '_';
        return name;
    });

TEST_F(CardTokenTest, TokenInfoWithShortOrOddCardAnswers)
{
    Load("DEF50");
    // A memory answer too short for its fields leaves them cleared.
    cardsim::InjectFault(kReader, cardsim::Fault::AnswerWith({0x00, 0xCA, 0x01, 0x89}, {0x00, 0x01, 0x90, 0x00}));
    cardsim::InjectFault(kReader, cardsim::Fault::AnswerWith({0x00, 0xCA, 0x01, 0x82}, {0xC9, 0x90, 0x00}));
    cardsim::InjectFault(kReader, cardsim::Fault::StatusWordFor({0x00, 0xCA, 0x01, 0x81}, 0x6A, 0x88));
    CK_TOKEN_INFO info;
    ASSERT_EQ(GetTokenInfoEF(*slot_, &info), CKR_OK);
    EXPECT_EQ(info.ulTotalPublicMemory, 0u);
    EXPECT_EQ(info.hardwareVersion.major, 0);
    EXPECT_EQ(info.firmwareVersion.major, 0);
    EXPECT_EQ(Field(info.model, sizeof info.model), "");
    EXPECT_EQ(Field(info.serialNumber, sizeof info.serialNumber), "FFFFFFFFFFFFFFFF");

    cardsim::InjectFault(kReader, cardsim::Fault::StatusWordFor({0x00, 0x20, 0x00, 0x01}, 0x63, 0xC1));
    ASSERT_EQ(GetTokenInfoEF(*slot_, &info), CKR_OK);
    EXPECT_TRUE(info.flags & CKF_USER_PIN_FINAL_TRY);
    cardsim::InjectFault(kReader, cardsim::Fault::StatusWordFor({0x00, 0x20, 0x00, 0x01}, 0x69, 0x83));
    ASSERT_EQ(GetTokenInfoEF(*slot_, &info), CKR_OK);
    EXPECT_TRUE(info.flags & CKF_USER_PIN_LOCKED);
    cardsim::InjectFault(kReader, cardsim::Fault::StatusWordFor({0x00, 0x20, 0x00, 0x01}, 0x69, 0x84));
    ASSERT_EQ(GetTokenInfoEF(*slot_, &info), CKR_OK);
    EXPECT_FALSE(info.flags & CKF_USER_PIN_INITIALIZED);
    cardsim::InjectFault(kReader, cardsim::Fault::StatusWordFor({0x00, 0x20, 0x00, 0x01}, 0x6A, 0x82));
    EXPECT_EQ(GetTokenInfoEF(*slot_, &info), CKR_FUNCTION_FAILED);
    cardsim::InjectFault(kReader, cardsim::Fault::StatusWordFor({0x00, 0xCA, 0x01, 0x8A}, 0x6A, 0x88));
    EXPECT_NE(GetTokenInfoEF(*slot_, &info), CKR_OK);
}

TEST_F(CardTokenTest, TransactionGuardsCountAndRefuseUnknownSlots)
{
    Load("DEF50");
    EXPECT_EQ(PCSCBeginTransaction(slot_->SlotId()), CKR_OK);
    EXPECT_TRUE(slot_->IsTransactionOpen());
    EXPECT_EQ(PCSCEndTransaction(slot_->SlotId()), CKR_OK);
    EXPECT_FALSE(slot_->IsTransactionOpen());
    EXPECT_EQ(PCSCEndTransaction(slot_->SlotId()), CKR_DEVICE_ERROR) << "nothing left to end";
    EXPECT_EQ(PCSCBeginTransaction(CK_SLOT_ID{4242}), CKR_SLOT_ID_INVALID);
    cardsim::FailNextCalls(cardsim::ApiCall::BeginTransaction, SCARD_E_SHARING_VIOLATION);
    EXPECT_EQ(PCSCBeginTransaction(*slot_), CKR_DEVICE_ERROR);
    EXPECT_FALSE(slot_->IsTransactionOpen());
}

}  // namespace
