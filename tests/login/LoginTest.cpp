// C_Login and C_Logout on a card in a reader without a PIN pad: the PIN from
// the caller or from the (scripted) virtual keyboard, the session states of
// every session of the card, and the failure codes.

#include <sys/mman.h>
#include <unistd.h>

#include <functional>

#include "LoginFixture.h"
#include "card/SecureMessaging.h"
#include "card/Slot.h"

namespace logintest {
namespace {

using Events = std::vector<std::string>;

TEST_F(LoginTest, CallerPinLogsEverySessionInAndOut)
{
  Start("DEF50");
  const CK_SESSION_HANDLE ro = Open(kRO);
  const CK_SESSION_HANDLE rw = Open(kRW);
  Commands();
  ASSERT_EQ(LoginWith(rw, "1234"), CKR_OK);
  const auto commands = Commands();
  EXPECT_TRUE(AnyContains(commands, "00 20 00 01 08 31 32 33 34 FF FF FF FF")) << ::testing::PrintToString(commands);
  EXPECT_TRUE(card_->Pin(1)->verified);
  EXPECT_EQ(State(rw), CKS_RW_USER_FUNCTIONS);
  EXPECT_EQ(State(ro), CKS_RO_USER_FUNCTIONS);
  const CK_SESSION_HANDLE late = Open(kRO);
  EXPECT_EQ(State(late), CKS_RO_USER_FUNCTIONS) << "a new session joins the login";
  EXPECT_TRUE(script_->Events().empty()) << "a PIN given by the caller raises no dialog";

  EXPECT_EQ(LoginWith(ro, "1234"), CKR_USER_ALREADY_LOGGED_IN);
  EXPECT_EQ(LoginWith(ro, "1234", CKU_SO), CKR_USER_TYPE_INVALID);

  // A session that is public already does not stop the logout of the others.
  SessionOf(late)->SetState(CKS_RO_PUBLIC_SESSION);
  ASSERT_EQ(C_Logout(ro), CKR_OK);
  EXPECT_EQ(State(ro), CKS_RO_PUBLIC_SESSION);
  EXPECT_EQ(State(late), CKS_RO_PUBLIC_SESSION);
  EXPECT_EQ(State(rw), CKS_RW_PUBLIC_SESSION);
  EXPECT_TRUE(Commands().empty()) << "logout sends nothing";
  EXPECT_EQ(C_Logout(rw), CKR_USER_NOT_LOGGED_IN);
  EXPECT_EQ(LoginWith(rw, "1234", CKU_SO), CKR_USER_TYPE_INVALID);
  EXPECT_EQ(LoginWith(rw, "1234", CKU_CONTEXT_SPECIFIC), CKR_USER_TYPE_INVALID);
}

TEST_F(LoginTest, WrongBlockedAndHostilePinsFromTheCaller)
{
  Start("DEF50");
  const CK_SESSION_HANDLE session = Open();
  Commands();
  EXPECT_EQ(LoginWith(session, "12"), CKR_PIN_INCORRECT);
  EXPECT_EQ(LoginWith(session, "123456789"), CKR_PIN_INCORRECT);
  CK_UTF8CHAR pin[] = "1234";
  EXPECT_EQ(C_Login(session, CKU_USER, pin, 256 + 4), CKR_PIN_INCORRECT) << "must not wrap to 4";
  CK_UTF8CHAR longText[300] = {};
  EXPECT_EQ(C_Login(session, CKU_USER, longText, sizeof longText), CKR_PIN_INCORRECT) << "no keyboard for a cut text";
  EXPECT_FALSE(AnyContains(Commands(), "00 20 00 01 08")) << "no PIN was sent";
  EXPECT_EQ(C_Login(CK_SESSION_HANDLE(0xBAD), CKU_USER, pin, 4), CKR_SESSION_HANDLE_INVALID);
  // A null PIN with a length (even one beyond a byte), or an empty PIN text,
  // asks the keyboard; the empty queue cancels.
  EXPECT_EQ(C_Login(session, CKU_USER, nullptr, 4), CKR_FUNCTION_CANCELED);
  EXPECT_EQ(C_Login(session, CKU_USER, nullptr, 256 + 4), CKR_FUNCTION_CANCELED);
  CK_UTF8CHAR empty[4] = {0, 'a', 'b', 'c'};
  EXPECT_EQ(C_Login(session, CKU_USER, empty, sizeof empty), CKR_FUNCTION_CANCELED);
  EXPECT_EQ(script_->Events(), (Events{"keyboard(3)", "keyboard(3)", "keyboard(3)"}));
  EXPECT_EQ(card_->Pin(1)->retriesLeft, 3);

  EXPECT_EQ(LoginWith(session, "9999"), CKR_PIN_INCORRECT);
  EXPECT_EQ(Info(session).ulDeviceError, 0x63C2u);
  EXPECT_EQ(card_->Pin(1)->retriesLeft, 2);
  EXPECT_EQ(LoginWith(session, "9998"), CKR_PIN_INCORRECT);
  EXPECT_EQ(LoginWith(session, "9997"), CKR_PIN_LOCKED) << "63C0: the last try is gone";
  EXPECT_EQ(LoginWith(session, "1234"), CKR_PIN_LOCKED);
  EXPECT_EQ(State(session), CKS_RW_PUBLIC_SESSION);
  EXPECT_EQ(script_->Events().size(), 3u) << "a PIN from the caller raises no dialog";
}

// A PIN of length 0 is no PIN, whatever the pointer points to: no byte of it
// is read, and the keyboard or the PIN pad asks for the PIN.
TEST_F(LoginTest, ZeroLengthPinsAreNeverRead)
{
  const long pageSize = sysconf(_SC_PAGESIZE);
  void* page = mmap(nullptr, static_cast<size_t>(pageSize), PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(page, MAP_FAILED);
  const std::unique_ptr<void, std::function<void(void*)>> unmap(page, [pageSize](void* p) { munmap(p, pageSize); });
  auto* unreadable = static_cast<CK_UTF8CHAR*>(page);

  Start("DEF50");
  const CK_SESSION_HANDLE session = Open();
  script_->AddPin("1234");
  EXPECT_EQ(C_Login(session, CKU_USER, unreadable, 0), CKR_OK);
  EXPECT_EQ(script_->Events(), (Events{"keyboard(3)"}));
  C_Finalize(nullptr);

  Start("DEF50", kPinPadReader, cardsim::PinPad::Direct);
  const CK_SESSION_HANDLE rw = Open();
  cardsim::ScriptPinPad(reader_, cardsim::PinEntry::Changing("1234", "5678"));
  EXPECT_EQ(C_SetPIN(rw, unreadable, 0, unreadable, 0), CKR_OK);
  EXPECT_EQ(card_->UserPin(), "5678");
  cardsim::ScriptPinPad(reader_, cardsim::PinEntry::Typing("5678"));
  EXPECT_EQ(C_Login(rw, CKU_USER, unreadable, 0), CKR_OK);
  EXPECT_EQ(State(rw), CKS_RW_USER_FUNCTIONS);
  const auto state = ArmContextLogin(rw);
  ASSERT_TRUE(state);
  cardsim::ScriptPinPad(reader_, cardsim::PinEntry::Typing("5678"));
  EXPECT_EQ(C_Login(rw, CKU_CONTEXT_SPECIFIC, unreadable, 0), CKR_OK);
  EXPECT_TRUE(state->signContext.contextLoginDone);
}

// A typed PIN longer than the padded block is refused, not cut to the block:
// cut, a wrong PIN with the right beginning would verify.
TEST_F(LoginTest, KeyboardPinLongerThanItsBlockIsNotCut)
{
  Start("DEF50");
  const CK_SESSION_HANDLE session = Open();
  script_->AddPin(std::string("1234") + std::string(5, '\xFF'));
  Commands();
  EXPECT_EQ(LoginWith(session, nullptr), CKR_FUNCTION_CANCELED);
  EXPECT_EQ(script_->Events(), (Events{"keyboard(3)", "length(3)", "keyboard(3)"}));
  EXPECT_FALSE(AnyContains(Commands(), "00 20 00 01 08")) << "no PIN was sent";
  EXPECT_EQ(State(session), CKS_RW_PUBLIC_SESSION);
}

// Without a maximum in the PIN object nothing else bounds a PIN: one beyond
// a byte's range is refused, not cut to its low byte (a PIN of 262 bytes
// would be sent as its first 6, and C_SetPIN would set another PIN).
TEST_F(LoginTest, PinLengthsBeyondAByteWithoutAMaximum)
{
  Start("DEF43B");  // unpadded PIN "123456"
  {
    Brelt::MW::Token::ApplicationInfoPtr application;
    ASSERT_EQ(Brelt::MW::Token::GetApplicationInfo(static_cast<uint32_t>(slot_), application), CKR_OK);
    for (const auto& object : application->FindObjectList(Brelt::MW::Token::kKindPin)->objects)
      if (auto* password = object->AsPasswordAttributes()) password->maxLength = 0;
  }
  const CK_SESSION_HANDLE session = Open();
  std::vector<CK_UTF8CHAR> pin(256 + 6, 'x');
  std::copy_n("123456", 6, pin.begin());
  Commands();
  EXPECT_EQ(C_Login(session, CKU_USER, pin.data(), pin.size()), CKR_PIN_INCORRECT);
  EXPECT_EQ(State(session), CKS_RW_PUBLIC_SESSION);
  std::vector<CK_UTF8CHAR> newPin(256 + 6, 'y');
  std::copy_n("654321", 6, newPin.begin());
  EXPECT_EQ(C_SetPIN(session, pin.data(), 6, newPin.data(), newPin.size()), CKR_PIN_LEN_RANGE);
  EXPECT_FALSE(AnyContains(Commands(), "00 20 00 01 06")) << "no PIN was sent";
  EXPECT_EQ(card_->UserPin(), "123456");
}

// The keyboard cancelled, or the dialog after a wrong PIN; a blocked PIN; a
// PIN of a length the card refuses (67 00) asked for again.
TEST_F(LoginTest, KeyboardCancelBlockedAndLengthDialogs)
{
  Start("DEF50");
  const CK_SESSION_HANDLE session = Open();
  Commands();
  script_->AddKeyboardResult(CKR_FUNCTION_CANCELED);
  EXPECT_EQ(LoginWith(session, nullptr), CKR_FUNCTION_CANCELED);
  EXPECT_FALSE(AnyContains(Commands(), "00 20 00 01 08")) << "cancel sends no PIN";
  script_->AddPin("9999");
  script_->AddInvalidPinAnswer(CKR_FUNCTION_CANCELED);
  EXPECT_EQ(LoginWith(session, nullptr), CKR_FUNCTION_CANCELED);
  EXPECT_EQ(card_->Pin(1)->retriesLeft, 2);
  EXPECT_EQ(State(session), CKS_RW_PUBLIC_SESSION);

  C_Finalize(nullptr);

  Start("DEF50-BLOCKED");
  script_->AddPin("1234");
  EXPECT_EQ(LoginWith(Open(), nullptr), CKR_PIN_LOCKED);
  EXPECT_EQ(script_->Events(), (Events{"keyboard(3)", "blocked(3)"}));
  C_Finalize(nullptr);

  Start("DEF50");
  cardsim::InjectFault(reader_, cardsim::Fault::StatusWordFor({0x00, 0x20, 0x00, 0x01, 0x08}, 0x67, 0x00));
  script_->AddPin("1234");
  script_->AddPin("1234");
  ASSERT_EQ(LoginWith(Open(), nullptr), CKR_OK);
  EXPECT_EQ(script_->Events(), (Events{"keyboard(3)", "length(3)", "keyboard(3)"}));
}

TEST_F(LoginTest, VerifiedCardStillNeedsThePin)
{
  // A PIN verified by another process answers the status query with 90 00.
  Start("DEF50");
  const CK_SESSION_HANDLE session = Open();
  ASSERT_EQ(LoginWith(session, "1234"), CKR_OK);
  ASSERT_EQ(C_Logout(session), CKR_OK);
  CK_TOKEN_INFO info{};
  EXPECT_EQ(C_GetTokenInfo(slot_, &info), CKR_OK);
  EXPECT_EQ(LoginWith(session, "9999"), CKR_PIN_INCORRECT);
  EXPECT_EQ(LoginWith(session, "1234"), CKR_OK);
}

TEST_F(LoginTest, ContextSpecificLoginWithoutPinPadFails)
{
  Start("DEF50");
  const CK_SESSION_HANDLE session = Open();
  EXPECT_EQ(LoginWith(session, "1234", CKU_CONTEXT_SPECIFIC), CKR_USER_TYPE_INVALID) << "not logged in";
  ASSERT_EQ(LoginWith(session, "1234"), CKR_OK);
  EXPECT_EQ(LoginWith(session, nullptr, CKU_CONTEXT_SPECIFIC), CKR_OPERATION_NOT_INITIALIZED);

  const auto state = ArmContextLogin(session);
  ASSERT_TRUE(state);
  Commands();
  EXPECT_EQ(LoginWith(session, nullptr, CKU_CONTEXT_SPECIFIC), CKR_FUNCTION_FAILED);
  EXPECT_EQ(LoginWith(session, "1234", CKU_CONTEXT_SPECIFIC), CKR_FUNCTION_FAILED);
  EXPECT_FALSE(AnyContains(Commands(), "00 20 00 01 08")) << "no VERIFY";
  EXPECT_TRUE(script_->Events().empty()) << "the keyboard is not offered for a PIN that cannot be used";
  EXPECT_FALSE(state->signContext.contextLoginDone);
  EXPECT_EQ(State(session), CKS_RW_USER_FUNCTIONS);
}

TEST_F(LoginTest, ContextSpecificPinTravelsOnlyInsideTheCardChannel)
{
  Start("DEF50");
  const CK_SESSION_HANDLE session = Open();
  ASSERT_EQ(LoginWith(session, "1234"), CKR_OK);
  const auto state = ArmContextLogin(session);
  auto channel = std::make_shared<Brelt::MW::Card::SecureMessaging>();
  auto key = std::make_unique<uint8_t[]>(16);
  for (int i = 0; i < 16; ++i) key[i] = uint8_t(0x40 + i);
  ASSERT_EQ(channel->SetSessionKey(std::move(key), 16), CKR_OK);
  const auto slot = Brelt::MW::Card::StatusCache::GetSlot(slot_);
  Brelt::MW::Card::StatusCache::StoreAuthContext(slot->CardHandle(), channel,
                                                 Brelt::MW::Card::StatusCache::kAuthTypeAppContainer);
  Commands();
  // The simulated default card has no such channel and refuses the command.
  EXPECT_NE(LoginWith(session, "1234", CKU_CONTEXT_SPECIFIC), CKR_OK);
  const auto commands = Commands();
  EXPECT_TRUE(AnyContains(commands, "SCardTransmit: 0C 20 00 01")) << ::testing::PrintToString(commands);
  EXPECT_FALSE(AnyContains(commands, "31 32 33 34")) << "the PIN went out in plain";

  // Answers without the channel's protection: a bare success is no proof that
  // the card took the PIN; a bare error is the card's own refusal.
  const struct {
    uint8_t sw1, sw2;
    CK_RV expected;
  } bareAnswers[] = {{0x90, 0x00, CKR_FUNCTION_FAILED}, {0x63, 0xC2, CKR_PIN_INCORRECT}};
  for (const auto& answer : bareAnswers) {
    cardsim::InjectFault(reader_, cardsim::Fault::AnswerWith({0x0C, 0x20, 0x00, 0x01}, {answer.sw1, answer.sw2}));
    EXPECT_EQ(LoginWith(session, "1234", CKU_CONTEXT_SPECIFIC), answer.expected)
        << std::hex << int(answer.sw1) << int(answer.sw2);
    EXPECT_EQ(state->DeviceError(), CK_ULONG(answer.sw1 << 8 | answer.sw2));
    EXPECT_FALSE(state->signContext.contextLoginDone);
  }
  Brelt::MW::Card::StatusCache::RemoveCardAuth(slot->CardHandle(), true);
}

}  // namespace
}  // namespace logintest
