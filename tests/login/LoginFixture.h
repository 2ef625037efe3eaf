#pragma once
// The library initialised on simulated readers, with the PIN dialogs
// answered by a script, for the login, logout and PIN-change calls.

#include <gtest/gtest.h>

#include <cardsim/Card.h>
#include <cardsim/Readers.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Dialogs/ui/PinDialogScript.h"
#include "card/StatusCache.h"
#include "pkcs11/Session.h"
#include "pkcs11/cryptoki.h"
#include "token/ApplicationInfoList.h"

namespace logintest {

inline constexpr CK_FLAGS kRO = CKF_SERIAL_SESSION;
inline constexpr CK_FLAGS kRW = CKF_SERIAL_SESSION | CKF_RW_SESSION;
inline constexpr const char* kPlainReader = "Card Reader 00";
inline constexpr const char* kPinPadReader = "PIN pad Reader 01";

class LoginTest : public ::testing::Test {
 protected:
  void TearDown() override
  {
    C_Finalize(nullptr);
    SetPinDialogScript(nullptr);
    cardsim::ClearFaults();
    cardsim::Configure(std::string("DEF50@") + cardsim::kDefaultReaderName);
  }

  // One reader with the card; a PIN-pad reader gets the given variant.
  void Start(const std::string& personalisation, const std::string& reader = kPlainReader,
             cardsim::PinPad pinPad = cardsim::PinPad::None)
  {
    cardsim::RemoveAllReaders();
    cardsim::ClearFaults();
    cardsim::AddReader(reader, pinPad);
    card_ = cardsim::InsertCard(reader, personalisation);
    reader_ = reader;
    script_ = std::make_shared<QueuedPinDialogScript>();
    SetPinDialogScript(script_);
    ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
    CK_ULONG count = 1;  // one reader, one slot
    ASSERT_EQ(C_GetSlotList(CK_TRUE, &slot_, &count), CKR_OK);
    ASSERT_EQ(count, 1u);
  }

  CK_SESSION_HANDLE Open(CK_FLAGS flags = kRW)
  {
    CK_SESSION_HANDLE handle = 0;
    EXPECT_EQ(C_OpenSession(slot_, flags, nullptr, nullptr, &handle), CKR_OK);
    return handle;
  }

  static CK_SESSION_INFO Info(CK_SESSION_HANDLE handle)
  {
    CK_SESSION_INFO info{};
    EXPECT_EQ(C_GetSessionInfo(handle, &info), CKR_OK);
    return info;
  }
  static CK_STATE State(CK_SESSION_HANDLE handle) { return Info(handle).state; }

  static CK_RV LoginWith(CK_SESSION_HANDLE handle, const char* pin, CK_USER_TYPE type = CKU_USER)
  {
    return C_Login(handle, type, reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(pin)),
                   pin == nullptr ? 0 : std::strlen(pin));
  }

  // The commands the card saw since the last call, as hex text.
  std::vector<std::string> Commands()
  {
    std::vector<std::string> commands;
    for (const auto& entry : cardsim::Transcript(reader_)) commands.push_back(entry.call + ": " + cardsim::ToHex(entry.command));
    cardsim::ClearTranscript(reader_);
    return commands;
  }

  static bool AnyContains(const std::vector<std::string>& lines, const std::string& part)
  {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(part) != std::string::npos; });
  }

  // Makes the session's signing key the application's first private key,
  // one that demands the PIN for every use.
  std::shared_ptr<Brelt::MW::Pkcs11::Session> ArmContextLogin(CK_SESSION_HANDLE handle)
  {
    auto state = SessionOf(handle);
    Brelt::MW::Token::ApplicationInfoPtr application;
    EXPECT_EQ(Brelt::MW::Token::GetApplicationInfo(static_cast<uint32_t>(slot_), application), CKR_OK);
    if (!state || !application) return state;
    state->signContext.hKey = application->FindObjectList(Brelt::MW::Token::kKindRsaPrivateKey)->objects.at(0)->handle;
    state->signContext.alwaysAuthenticate = true;
    return state;
  }

  static std::shared_ptr<Brelt::MW::Pkcs11::Session> SessionOf(CK_SESSION_HANDLE handle)
  {
    return Brelt::MW::Card::StatusCache::GetSession(handle);
  }

  std::shared_ptr<cardsim::Card> card_;
  std::shared_ptr<QueuedPinDialogScript> script_;
  std::string reader_;
  CK_SLOT_ID slot_ = 0;
};

}  // namespace logintest
