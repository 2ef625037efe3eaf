// C_SetPIN with PINs from the caller and on the PIN pad.

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "LoginFixture.h"
#include "Logger.h"
#include "token/PinOperations.h"

namespace logintest {
namespace {

CK_RV SetPin(CK_SESSION_HANDLE session, const char* oldPin, const char* newPin)
{
  auto bytes = [](const char* pin) { return reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(pin)); };
  return C_SetPIN(session, bytes(oldPin), oldPin ? std::strlen(oldPin) : 0, bytes(newPin),
                  newPin ? std::strlen(newPin) : 0);
}

TEST_F(LoginTest, ChangeWithOldAndNewPinOrTheNewOneAfterLogin)
{
  Start("DEF50");
  const CK_SESSION_HANDLE session = Open();
  Commands();
  ASSERT_EQ(SetPin(session, "1234", "5678"), CKR_OK);
  EXPECT_TRUE(AnyContains(Commands(), "00 24 00 01 10 31 32 33 34 FF FF FF FF 35 36 37 38 FF FF FF FF"));
  EXPECT_EQ(card_->UserPin(), "5678");
  EXPECT_EQ(SetPin(session, "1234", "4321"), CKR_PIN_INCORRECT);
  EXPECT_EQ(card_->Pin(1)->retriesLeft, 2);

  // An old PIN of length 0 leaves the card's PIN to the login before.
  EXPECT_EQ(SetPin(session, "", "9876"), CKR_USER_NOT_LOGGED_IN);
  ASSERT_EQ(LoginWith(session, "5678"), CKR_OK);
  Commands();
  ASSERT_EQ(SetPin(session, "", "9876"), CKR_OK);
  EXPECT_TRUE(AnyContains(Commands(), "00 24 01 01 08 39 38 37 36 FF FF FF FF"));
  EXPECT_EQ(card_->UserPin(), "9876");
}

TEST_F(LoginTest, ChangeRefusals)
{
  Start("DEF50");
  const CK_SESSION_HANDLE ro = Open(kRO);
  const CK_SESSION_HANDLE rw = Open(kRW);
  Commands();
  EXPECT_EQ(SetPin(ro, "1234", "5678"), CKR_SESSION_READ_ONLY);
  EXPECT_EQ(SetPin(rw, nullptr, "5678"), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(SetPin(rw, "1234", nullptr), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(SetPin(rw, "1234", "12"), CKR_PIN_LEN_RANGE);
  CK_UTF8CHAR oldPin[] = "1234", newPin[] = "5678";
  EXPECT_EQ(C_SetPIN(rw, oldPin, 4, newPin, 256 + 4), CKR_PIN_LEN_RANGE) << "must not wrap to 4";
  EXPECT_EQ(C_SetPIN(rw, oldPin, CK_ULONG(1) << 40, newPin, 4), CKR_PIN_LEN_RANGE);
  EXPECT_FALSE(AnyContains(Commands(), "00 24")) << "nothing was changed";
  EXPECT_EQ(card_->UserPin(), "1234");
  // Both absent on a reader without a PIN pad: nothing can ask for them.
  EXPECT_EQ(SetPin(rw, nullptr, nullptr), CKR_FUNCTION_FAILED);
  EXPECT_EQ(card_->UserPin(), "1234");
}

// VERIFY and CHANGE REFERENCE DATA never go out with PINs they cannot
// carry: a padded PIN object without a length pads every PIN to nothing (a
// VERIFY without data is the status query, 90 00 once verified), and a PIN
// longer than its padded block would be cut.
TEST_F(LoginTest, PinBlocksThatCannotBeBuiltAreNeverSent)
{
  Start("DEF50");
  const CK_SESSION_HANDLE handle = Open();
  ASSERT_EQ(LoginWith(handle, "1234"), CKR_OK);
  ASSERT_EQ(C_Logout(handle), CKR_OK);
  const auto session = SessionOf(handle);
  ASSERT_TRUE(session);
  Brelt::MW::Card::PinReference pin;
  pin.initialized = 1, pin.needsPadding = 1, pin.pwdType = 1, pin.minLength = 4, pin.padChar = 0xFF;
  const uint8_t oldPin[] = "1234", newPin[] = "5678", longPin[] = "567890123";
  Commands();
  pin.maxLength = 0;
  EXPECT_EQ(Brelt::MW::Token::PresentCIAPin_DefaultProfile(*session, pin, 1, newPin, 4, false, CKU_USER, 3, nullptr),
            CKR_PIN_LEN_RANGE);
  EXPECT_EQ(Brelt::MW::Token::ChangePin(*session, 1, pin, newPin, 4, oldPin, 4), CKR_PIN_LEN_RANGE);
  EXPECT_EQ(Brelt::MW::Token::ChangePin(*session, 1, pin, newPin, 4, nullptr, 0), CKR_PIN_LEN_RANGE);
  pin.maxLength = 8;
  EXPECT_EQ(Brelt::MW::Token::ChangePin(*session, 1, pin, longPin, 9, oldPin, 4), CKR_PIN_LEN_RANGE);
  const auto commands = Commands();
  EXPECT_FALSE(AnyContains(commands, "00 24")) << ::testing::PrintToString(commands);
  // The token information asks for the PIN state once; no VERIFY follows it.
  EXPECT_EQ(std::count_if(commands.begin(), commands.end(),
                          [](const std::string& c) { return c.find("00 20") != std::string::npos; }),
            1) << ::testing::PrintToString(commands);
  EXPECT_EQ(card_->UserPin(), "1234");
}

TEST_F(LoginTest, ChangeOnThePinPad)
{
  Start("DEF50", kPinPadReader, cardsim::PinPad::Direct);
  const CK_SESSION_HANDLE session = Open();
  cardsim::ScriptPinPad(reader_, cardsim::PinEntry::Changing("1234", "5678"));
  ASSERT_EQ(SetPin(session, nullptr, nullptr), CKR_OK);
  EXPECT_EQ(card_->UserPin(), "5678");
  EXPECT_TRUE(script_->Events().empty()) << "a PIN change raises no dialog";

  cardsim::ScriptPinPad(reader_, cardsim::PinEntry::Mismatched("5678", "1111"));
  EXPECT_EQ(SetPin(session, nullptr, nullptr), CKR_FUNCTION_FAILED);
  cardsim::ScriptPinPad(reader_, cardsim::PinEntry::Changing("0000", "1111"));
  EXPECT_EQ(SetPin(session, nullptr, nullptr), CKR_PIN_INCORRECT);
  EXPECT_EQ(card_->UserPin(), "5678");
}

TEST_F(LoginTest, NoPinReachesTheLog)
{
  char folder[] = "/tmp/brelt-login-log-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string path = std::string(folder) + "/pkcs11.log";
  setenv("COPYRIGHT_BRELT_PKCS11_P", path.c_str(), 1);
  setenv("COPYRIGHT_BRELT_PKCS11_L", "5", 1);
  setenv("COPYRIGHT_BRELT_PKCS11_T", "0", 1);
  InitLogger();

  Start("DEF50", kPinPadReader, cardsim::PinPad::Direct);
  const CK_SESSION_HANDLE session = Open();
  EXPECT_EQ(SetPin(session, "1234", "9753"), CKR_OK);
  EXPECT_EQ(LoginWith(session, "9753"), CKR_OK);
  ASSERT_EQ(C_Logout(session), CKR_OK);
  cardsim::ScriptPinPad(reader_, cardsim::PinEntry::Typing("9753"));
  EXPECT_EQ(LoginWith(session, nullptr), CKR_OK);
  ASSERT_EQ(C_Logout(session), CKR_OK);
  C_Finalize(nullptr);
  Start("DEF50");
  EXPECT_EQ(SetPin(Open(), "1234", "9753"), CKR_OK);
  script_->AddPin("9753");
  EXPECT_EQ(LoginWith(Open(), nullptr), CKR_OK);

  CloseLogger();
  for (const char* name : {"COPYRIGHT_BRELT_PKCS11_P", "COPYRIGHT_BRELT_PKCS11_L", "COPYRIGHT_BRELT_PKCS11_T"}) unsetenv(name);
  std::stringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  const std::string log = text.str();
  std::filesystem::remove_all(folder);
  EXPECT_NE(log.find("Entering PresentCIAPin_DefaultProfile"), std::string::npos);
  EXPECT_NE(log.find("Entering SPE_VerifyPin"), std::string::npos);
  for (const char* pin : {"9753", "39 37 35 33", "39373533", "31 32 33 34 FF", "31323334FF"})
    EXPECT_EQ(log.find(pin), std::string::npos) << pin;
}

}  // namespace
}  // namespace logintest
