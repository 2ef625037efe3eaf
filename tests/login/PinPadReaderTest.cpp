// Login and context-specific login through a reader's PIN pad (direct and
// start/finish readers), with the user's keypad scripted.

#include "LoginFixture.h"

namespace logintest {
namespace {

using Events = std::vector<std::string>;

class PinPadLoginTest : public LoginTest, public ::testing::WithParamInterface<cardsim::PinPad> {};

TEST_P(PinPadLoginTest, LoginAndContextLoginOnThePad)
{
  Start("DEF50", kPinPadReader, GetParam());
  const CK_SESSION_HANDLE session = Open();
  CK_TOKEN_INFO info{};
  ASSERT_EQ(C_GetTokenInfo(slot_, &info), CKR_OK);
  EXPECT_NE(info.flags & CKF_PROTECTED_AUTHENTICATION_PATH, 0u);
  Commands();
  ASSERT_EQ(LoginWith(session, nullptr), CKR_OK);
  EXPECT_EQ(script_->Events(), (Events{"pinpad(3)", "pinpad-closed"}));
  const auto commands = Commands();
  EXPECT_TRUE(AnyContains(commands, "SCardControl")) << ::testing::PrintToString(commands);
  EXPECT_TRUE(AnyContains(commands, "00 20 00 01 08 31 32 33 34 FF FF FF FF"));
  EXPECT_EQ(State(session), CKS_RW_USER_FUNCTIONS);

  const auto state = ArmContextLogin(session);
  ASSERT_TRUE(state);
  EXPECT_EQ(LoginWith(session, "1234", CKU_CONTEXT_SPECIFIC), CKR_FUNCTION_FAILED)
      << "a typed PIN needs a secure channel";
  ASSERT_EQ(LoginWith(session, nullptr, CKU_CONTEXT_SPECIFIC), CKR_OK);
  EXPECT_TRUE(state->signContext.contextLoginDone);
  EXPECT_EQ(LoginWith(session, nullptr, CKU_CONTEXT_SPECIFIC), CKR_USER_ALREADY_LOGGED_IN);
}

TEST_P(PinPadLoginTest, BlockedPinOnAContextLoginLogsOut)
{
  Start("DEF50", kPinPadReader, GetParam());
  const CK_SESSION_HANDLE session = Open();
  const CK_SESSION_HANDLE other = Open(kRO);
  ASSERT_EQ(LoginWith(session, "1234"), CKR_OK);
  ArmContextLogin(session);
  for (int i = 0; i < 3; ++i) cardsim::ScriptPinPad(reader_, cardsim::PinEntry::Typing("9999"));
  script_->AddInvalidPinAnswer(CKR_OK);
  script_->AddInvalidPinAnswer(CKR_OK);
  EXPECT_EQ(LoginWith(session, nullptr, CKU_CONTEXT_SPECIFIC), CKR_PIN_LOCKED);
  EXPECT_EQ(script_->Events().back(), "blocked(3)");
  EXPECT_EQ(State(session), CKS_RW_PUBLIC_SESSION);
  EXPECT_EQ(State(other), CKS_RO_PUBLIC_SESSION);
}

INSTANTIATE_TEST_SUITE_P(Readers, PinPadLoginTest,
                         ::testing::Values(cardsim::PinPad::Direct, cardsim::PinPad::StartFinish,
                                           cardsim::PinPad::ManyFeatures));

TEST_F(LoginTest, PinPadAnswerOfTheWrongLengthIsAFailure)
{
  Start("DEF50", kPinPadReader, cardsim::PinPad::Direct);
  const CK_SESSION_HANDLE session = Open();
  // The card answers the VERIFY the pad built with a bare 90: not a status
  // word, even though the byte after it in the answer buffer reads 00.
  cardsim::InjectFault(reader_, cardsim::Fault::AnswerWith({0x00, 0x20, 0x00, 0x01, 0x08}, {0x90}));
  Commands();
  EXPECT_EQ(LoginWith(session, nullptr), CKR_FUNCTION_FAILED);
  EXPECT_TRUE(AnyContains(Commands(), "SCardControl VERIFY_PIN_DIRECT: 00 20 00 01 08")) << "the pad was asked";
  EXPECT_EQ(State(session), CKS_RW_PUBLIC_SESSION);
}

}  // namespace
}  // namespace logintest
