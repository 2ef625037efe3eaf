// PIN presentation of the secure-channel profiles, run on a default card
// whose application is marked as a SigZepEp one (such applications never
// become slots, so only this way reaches them).

#include "Dialogs/ui/VirtualKeyboard.h"
#include "LoginFixture.h"
#include "token/CardTypes.h"
#include "pkcs11/LoginOperations.h"
#include "token/PinOperations.h"

namespace logintest {
namespace {

using Events = std::vector<std::string>;
using namespace Brelt::MW;

class SigZepEpTest : public LoginTest {
 protected:
  void StartAs(const std::string& personalisation)
  {
    Start(personalisation);
    Token::ApplicationInfoPtr application;
    ASSERT_EQ(Token::GetApplicationInfo(static_cast<uint32_t>(slot_), application), CKR_OK);
    application->Profile = Token::SigZepEpProfile;
    // The token information asks the state of PIN 00 on these profiles.
    cardsim::Fault status = cardsim::Fault::StatusWordFor({0x00, 0x20, 0x00, 0x00}, 0x63, 0xC3);
    status.everyTime = true;
    cardsim::InjectFault(reader_, status);
    session_ = Open();
  }

  CK_RV Present(const char* pin)
  {
    Card::PinReference reference;
    reference.initialized = 1;
    reference.needsPadding = 1;
    reference.minLength = 4;
    reference.maxLength = 8;
    reference.padChar = 0xFF;
    VirtualKeyboard keyboard("SK", 0);
    const auto* bytes = reinterpret_cast<const uint8_t*>(pin);
    return Token::PresentCIAPin_SigZepEp(*SessionOf(session_), reference, 0x01, bytes,
                                         pin ? uint8_t(std::strlen(pin)) : 0, false, CKU_USER, 0, &keyboard);
  }

  CK_SESSION_HANDLE session_ = 0;
};

TEST_F(SigZepEpTest, KeyboardShowsTheTriesLeft)
{
  StartAs("DEF50");
  script_->AddPin("9999");
  script_->AddInvalidPinAnswer(CKR_OK);
  script_->AddPin("1234");
  ASSERT_EQ(Present(nullptr), CKR_OK);
  EXPECT_EQ(script_->Events(), (Events{"keyboard(0)", "invalid(0,2)", "keyboard(0)"}));
  EXPECT_TRUE(card_->Pin(1)->verified);

  // Verified already: the card gives no count, the PIN is still asked for.
  script_->AddPin("1234");
  EXPECT_EQ(Present(nullptr), CKR_OK);
  EXPECT_EQ(Present("1234"), CKR_OK);
  EXPECT_EQ(Present("9999"), CKR_PIN_INCORRECT);
}

TEST_F(SigZepEpTest, BlockedPinIsReportedBeforeAnyAttempt)
{
  StartAs("DEF50-BLOCKED");
  EXPECT_EQ(Present(nullptr), CKR_PIN_LOCKED);
  EXPECT_EQ(script_->Events(), (Events{"blocked(0)"}));
}

TEST_F(SigZepEpTest, SharedSecurityStatusSkipsThePin)
{
  StartAs("DEF50");
  cardsim::InjectFault(reader_, cardsim::Fault::AnswerWith({0x00, 0xCA, 0x01, 0x84}, {0x03, 0x90, 0x00}));
  Commands();
  // Straight to the operation: the export's card context would first ask
  // for the profile's secure channel, which a default card cannot open.
  ASSERT_EQ(Pkcs11::Login(*SessionOf(session_), CKU_USER, nullptr, 0), CKR_OK);
  EXPECT_EQ(State(session_), CKS_RW_USER_FUNCTIONS);
  EXPECT_TRUE(script_->Events().empty());
  EXPECT_FALSE(AnyContains(Commands(), "00 20 00"));
}

TEST_F(SigZepEpTest, PinStateBeforeTheFirstChange)
{
  StartAs("DEF50-TRANSPORT");
  Token::ApplicationInfoPtr application;
  ASSERT_EQ(Token::GetApplicationInfo(static_cast<uint32_t>(slot_), application), CKR_OK);
  const auto slot = Card::StatusCache::GetSlot(slot_);
  EXPECT_FALSE(Token::ZepPinInitCheck(*slot, *application));
  Card::PinReference reference;
  ASSERT_EQ(Token::GetCIAPinInitStatus(*SessionOf(session_), reference, 0x01), CKR_OK);
  EXPECT_EQ(reference.initialized, 0);
}

}  // namespace
}  // namespace logintest
