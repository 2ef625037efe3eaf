// Login, logout and PIN change: the session states, the PIN object of the
// application and the hand-over to the card-level PIN routines.

#include "pkcs11/LoginOperations.h"

#include <memory>
#include <vector>

#include "Dialogs/ui/VirtualKeyboard.h"
#include "LogTrace.h"
#include "Logger.h"
#include "card/CardCommands.h"
#include "card/Slot.h"
#include "card/StatusCache.h"
#include "card/Token.h"
#include "pkcs11/Session.h"
#include "pkcs11/SessionOperations.h"
#include "token/ApplicationInfoList.h"
#include "token/BitStringFlags.h"
#include "token/CardObjects.h"
#include "token/PinOperations.h"
#include "token/TokenInfo.h"

namespace Brelt::MW::Pkcs11 {

using Card::StatusCache;
using Token::ApplicationInfoPtr;

namespace {

// Bits of the PIN object's pwdFlags.
constexpr uint32_t kPwdFlagLocal = 1;
constexpr uint32_t kPwdFlagInitialized = 4;
constexpr uint32_t kPwdFlagNeedsPadding = 5;
constexpr uint32_t kPwdFlagUnblocking = 6;
constexpr uint32_t kPwdFlagSecurityOfficer = 7;

// Dialog PIN kinds of the secure-channel profiles.
constexpr int kPinTypeBok = 0;
constexpr int kPinTypeZep = 1;

// The longest PIN any PIN object describes: its lengths are single bytes.
constexpr CK_ULONG kLongestPin = 0xFF;

bool IsUserState(CK_STATE state)
{
  return state == CKS_RO_USER_FUNCTIONS || state == CKS_RW_USER_FUNCTIONS || state == CKS_RW_SO_FUNCTIONS;
}

CK_STATE LoggedInState(CK_STATE state)
{
  return state == CKS_RO_PUBLIC_SESSION || state == CKS_RO_USER_FUNCTIONS ? CKS_RO_USER_FUNCTIONS
                                                                          : CKS_RW_USER_FUNCTIONS;
}

bool IsAdmittedProfile(uint32_t profile)
{
  return profile == Token::DefaultProfile || profile == Token::SigGProfile;
}

CK_RV Failed(FunctionTrace& trace, const char* function, int line, CK_RV rv)
{
  TraceFailed(function, line, rv);
  return trace.Result(rv);
}

bool FlagSet(const Base::HexBinary* flags, uint32_t index)
{
  bool value = false;
  return flags != nullptr && Token::GetFlagAtIndex(flags->data, flags->length, index, &value) && value;
}

bool TokenPresent(const Session& session)
{
  const Card::SlotPtr slot = StatusCache::GetSlot(session.SlotId());
  return slot && slot->IsTokenPresent();
}

// The login's keyboard facade, handed to the card's token for the time of
// the login so that losing the card cancels its dialog. On every way out the
// token forgets it (if it still points to it) before it is deleted.
class LoginKeyboard {
 public:
  LoginKeyboard(int pinType, Card::TokenPtr token)
      : keyboard_(std::make_unique<VirtualKeyboard>("SK", pinType)), token_(std::move(token))
  {
    token_->SetVirtualKeyboard(keyboard_.get());
  }
  ~LoginKeyboard()
  {
    if (token_) token_->ClearVirtualKeyboard(keyboard_.get());
  }
  LoginKeyboard(const LoginKeyboard&) = delete;
  LoginKeyboard& operator=(const LoginKeyboard&) = delete;

  VirtualKeyboard* Get() const { return keyboard_.get(); }

 private:
  std::unique_ptr<VirtualKeyboard> keyboard_;
  Card::TokenPtr token_;
};

Card::TokenPtr TokenOfSlot(CK_SLOT_ID slotId)
{
  const Card::SlotPtr slot = StatusCache::GetSlot(slotId);
  if (!slot) return nullptr;
  return StatusCache::GetToken(StatusCache::GetTokenID(slot->CardHandle()));
}

// A context login marks its sign operation; a user login moves every
// session of the token to a user state.
CK_RV FinishLogin(Session& session, bool contextLogin, FunctionTrace& trace)
{
  if (contextLogin) {
    session.signContext.contextLoginDone = true;
    return trace.Result(CKR_OK);
  }
  session.SetState(LoggedInState(session.State()));
  std::vector<SessionPtr> sessions;
  if (CK_RV collected = GetAllTokenSessions(session, sessions); collected != CKR_OK) {
    return Failed(trace, "Login", __LINE__, collected);
  }
  for (const auto& other : sessions) other->SetState(LoggedInState(other->State()));
  return trace.Result(CKR_OK);
}

}  // namespace

CK_RV GetCIAPinAttributes(Session& session, Card::PinReference* out, bool checkInitialisation,
                          uint8_t referenceFilter)
{
  static constexpr const char* kName = "GetCIAPinAttributes";
  FunctionTrace trace(kName);
  if (out == nullptr) return Failed(trace, kName, __LINE__, CKR_ARGUMENTS_BAD);
  *out = Card::PinReference{};
  ApplicationInfoPtr application;
  if (CK_RV rv = Token::GetApplicationInfo(static_cast<uint32_t>(session.SlotId()), application); rv != CKR_OK) {
    return Failed(trace, kName, __LINE__, rv);
  }
  if (!application) return Failed(trace, kName, __LINE__, CKR_FUNCTION_FAILED);

  const Token::PasswordAttributes* found = nullptr;
  for (const auto& list : application->ObjectLists) {
    if (!list || list->kind != Token::kKindPin) continue;
    for (const auto& object : list->objects) {
      const Token::PasswordAttributes* password = object ? object->AsPasswordAttributes() : nullptr;
      if (password == nullptr) continue;
      if (referenceFilter != 0 && password->pwdReference != referenceFilter) continue;
      if (!password->pwdFlags) {
        LogMessage(LOG_LEVEL_ERROR, true, kName, __LINE__, true, "%s", "No password attributes specified");
        continue;
      }
      const Base::HexBinary* flags = password->pwdFlags.get();
      if (FlagSet(flags, kPwdFlagUnblocking) || FlagSet(flags, kPwdFlagSecurityOfficer)) continue;
      if (referenceFilter == 0 && FlagSet(flags, kPwdFlagLocal)) continue;
      found = password;
      break;
    }
    if (found != nullptr) break;
  }
  if (found == nullptr) {
    TraceLeaving(kName, CKR_FUNCTION_FAILED);
    return CKR_FUNCTION_FAILED;
  }

  const Base::HexBinary* flags = found->pwdFlags.get();
  out->needsPadding = FlagSet(flags, kPwdFlagNeedsPadding) ? 1 : 0;
  if (out->needsPadding) {
    if (!found->padChar) {
      LogMessage(LOG_LEVEL_ERROR, true, kName, __LINE__, true, "%s",
                 "No password padding char specified and padding is required");
    } else if (found->padChar->length != 1) {
      LogMessage(LOG_LEVEL_ERROR, true, kName, __LINE__, true, "Invalid padding character length: %d",
                 found->padChar->length);
    } else {
      out->padChar = found->padChar->data[0];
    }
  }
  if (found->pwdType && found->pwdType->length > 0) {
    out->pwdType = found->pwdType->data[0];
  } else {
    LogMessage(LOG_LEVEL_ERROR, true, kName, __LINE__, true, "%s", "No password type specified");
  }
  out->minLength = static_cast<uint8_t>(found->minLength);
  out->maxLength = static_cast<uint8_t>(found->maxLength);

  if (checkInitialisation) {
    const uint8_t reference = IsAdmittedProfile(application->Profile) ? kDefaultPinReference : referenceFilter;
    if (CK_RV rv = Token::GetCIAPinInitStatus(session, *out, reference); rv != CKR_OK) {
      return Failed(trace, kName, __LINE__, rv);
    }
  } else {
    out->initialized = FlagSet(flags, kPwdFlagInitialized) ? 1 : 0;
  }
  return trace.Result(CKR_OK);
}

CK_RV GetPinRefForPrivateKey(Session& session, CK_OBJECT_HANDLE key, uint8_t* reference)
{
  static constexpr const char* kName = "GetPinRefForPrivateKey";
  FunctionTrace trace(kName);
  if (reference == nullptr) return Failed(trace, kName, __LINE__, CKR_ARGUMENTS_BAD);
  Token::CIOObject* keyObject = nullptr;
  if (CK_RV rv = Token::GetTokenObjectRecord(session.SlotId(), key, &keyObject, nullptr); rv != CKR_OK) {
    return Failed(trace, kName, __LINE__, rv);
  }
  ApplicationInfoPtr application;
  if (CK_RV rv = Token::GetApplicationInfo(static_cast<uint32_t>(session.SlotId()), application); rv != CKR_OK) {
    return Failed(trace, kName, __LINE__, rv);
  }
  if (!application) return Failed(trace, kName, __LINE__, CKR_FUNCTION_FAILED);
  const Token::CommonObjectAttributes* keyCommon = keyObject ? keyObject->commonAttributes.get() : nullptr;
  for (const auto& list : application->ObjectLists) {
    if (!list || list->kind != Token::kKindPin) continue;
    for (const auto& object : list->objects) {
      const Token::PasswordAttributes* password = object ? object->AsPasswordAttributes() : nullptr;
      const Token::CommonObjectAttributes* common = object ? object->commonAttributes.get() : nullptr;
      if (password == nullptr || common == nullptr) continue;
      bool match = false;
      if (application->Profile == Token::QesEacProfile) {
        static constexpr char kSigningPinLabel[] = "Podpisovy PIN";
        match = common->label && common->label->length == static_cast<int32_t>(sizeof kSigningPinLabel - 1) &&
                std::equal(common->label->data, common->label->data + common->label->length, kSigningPinLabel);
      } else {
        const auto* auth = dynamic_cast<const Token::CommonAuthObjectAttributes*>(object->classAttributes.get());
        match = keyCommon != nullptr && keyCommon->authId && auth != nullptr && auth->authId &&
                auth->authId->Equals(keyCommon->authId.get());
      }
      if (match && password->pwdReference >= 0) {
        *reference = static_cast<uint8_t>(password->pwdReference);
        return trace.Result(CKR_OK);
      }
    }
  }
  LogMessage(LOG_LEVEL_ERROR, true, kName, __LINE__, true, "Cannot find pin ref for private key with handle %d",
             static_cast<int>(key));
  return Failed(trace, kName, __LINE__, CKR_FUNCTION_FAILED);
}

CK_RV CheckIfCIAPinInitialized(Session& session)
{
  static constexpr const char* kName = "CheckIfCIAPinInitialized";
  FunctionTrace trace(kName);
  Card::PinReference pin;
  if (CK_RV rv = Token::GetCIAPinInitStatus(session, pin, 0); rv != CKR_OK) return Failed(trace, kName, __LINE__, rv);
  if (!pin.initialized) {
    LogMessage(LOG_LEVEL_ERROR, true, kName, __LINE__, true, "%s", "Pin must be initially changed");
    return Failed(trace, kName, __LINE__, CKR_PIN_EXPIRED);
  }
  return trace.Result(CKR_OK);
}

CK_RV Login(Session& session, CK_USER_TYPE userType, const CK_UTF8CHAR* pin, CK_ULONG pinLength)
{
  static constexpr const char* kName = "Login";
  FunctionTrace trace(kName);
  if (!TokenPresent(session)) {
    LogMessage(LOG_LEVEL_ERROR, true, kName, __LINE__, true, "Token not present in slot %d",
               static_cast<int>(session.SlotId()));
    return Failed(trace, kName, __LINE__, CKR_FUNCTION_FAILED);
  }
  ApplicationInfoPtr application;
  if (CK_RV rv = Token::GetApplicationInfo(static_cast<uint32_t>(session.SlotId()), application); rv != CKR_OK) {
    return Failed(trace, kName, __LINE__, rv);
  }
  if (!application) return Failed(trace, kName, __LINE__, CKR_FUNCTION_FAILED);

  bool contextLogin = false;
  uint8_t reference = 0;
  if (IsUserState(session.State())) {
    if (userType == CKU_USER) return Failed(trace, kName, __LINE__, CKR_USER_ALREADY_LOGGED_IN);
    if (userType != CKU_CONTEXT_SPECIFIC) return Failed(trace, kName, __LINE__, CKR_USER_TYPE_INVALID);
    const CK_OBJECT_HANDLE key = session.signContext.hKey;
    if (key == 0 || !session.signContext.alwaysAuthenticate) {
      return Failed(trace, kName, __LINE__, CKR_OPERATION_NOT_INITIALIZED);
    }
    if (session.signContext.contextLoginDone) return Failed(trace, kName, __LINE__, CKR_USER_ALREADY_LOGGED_IN);
    if (CK_RV rv = GetPinRefForPrivateKey(session, key, &reference); rv != CKR_OK) {
      return Failed(trace, kName, __LINE__, rv);
    }
    contextLogin = true;
  } else if (userType != CKU_USER) {
    return Failed(trace, kName, __LINE__, CKR_USER_TYPE_INVALID);
  }

  const Card::SlotPtr slot = StatusCache::GetSlot(session.SlotId());
  if (!slot) return Failed(trace, kName, __LINE__, CKR_FUNCTION_FAILED);

  const bool pinGiven = Token::IsPinGiven(pin, pinLength);
  const bool admitted = IsAdmittedProfile(application->Profile);
  if (admitted) {
    LogMessage(LOG_LEVEL_ERROR, true, kName, __LINE__, true, "%s",
               "Card profile was not set to SigZepEpProfile or QesEacProfile, PIN will be required");
  } else if (userType == CKU_USER && !pinGiven) {
    if (uint32_t flags[4] = {}; Card::GetDataSecurityStatus(session.LastStatusWord(), slot.get(), flags) ==
                                           CKR_OK &&
                                       flags[0] == 1) {
      // The user PIN of these profiles stays verified for every process on
      // the card.
      LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "%s",
                 "Skip EID PIN logging..., security status has been set by other process");
      return FinishLogin(session, contextLogin, trace);
    }
  }
  // Lengths are single bytes on the card: a longer PIN cannot be right.
  if (pin != nullptr && pinLength > kLongestPin) {
    return Failed(trace, kName, __LINE__, CKR_PIN_INCORRECT);
  }

  const int pinType = admitted ? kPinTypePin : (contextLogin ? kPinTypeZep : kPinTypeBok);
  const Card::TokenPtr token = TokenOfSlot(session.SlotId());
  if (!token) return Failed(trace, kName, __LINE__, CKR_FUNCTION_FAILED);

  CK_RV rv = CKR_OK;
  {
    LoginKeyboard keyboard(pinType, token);
    Card::PinReference pinReference;
    rv = GetCIAPinAttributes(session, &pinReference, true, reference);
    if (rv == CKR_PIN_LOCKED) keyboard.Get()->ShowPinBlockedDialog();
    if (rv == CKR_OK && !pinReference.initialized) rv = CKR_USER_PIN_NOT_INITIALIZED;
    if (rv == CKR_OK && pinGiven &&
        (pinLength < pinReference.minLength || (pinReference.maxLength != 0 && pinLength > pinReference.maxLength))) {
      rv = CKR_PIN_INCORRECT;
    }
    if (rv == CKR_OK) {
      keyboard.Get()->SetMinMaxPinLength(pinReference.minLength, pinReference.maxLength);
      if (admitted) {
        rv = Token::PresentCIAPin_DefaultProfile(session, pinReference, kDefaultPinReference, pin,
                                                 static_cast<uint8_t>(pinLength), contextLogin, userType, pinType,
                                                 keyboard.Get());
      } else {
        rv = Token::PresentCIAPin_SigZepEp(session, pinReference, reference, pin, static_cast<uint8_t>(pinLength),
                                           contextLogin, userType, pinType, keyboard.Get());
      }
    }
    if (contextLogin && rv == CKR_PIN_LOCKED) Logout(session);
  }
  if (rv != CKR_OK) return Failed(trace, kName, __LINE__, rv);
  return FinishLogin(session, contextLogin, trace);
}

CK_RV Logout(Session& session)
{
  static constexpr const char* kName = "Logout";
  FunctionTrace trace(kName);
  if (!IsUserState(session.State())) return Failed(trace, kName, __LINE__, CKR_USER_NOT_LOGGED_IN);
  std::vector<SessionPtr> sessions;
  if (CK_RV rv = GetAllTokenSessions(session, sessions); rv != CKR_OK) return Failed(trace, kName, __LINE__, rv);
  auto toPublic = [](Session& each) {
    // A session that is public already (opened or logged out meanwhile)
    // stays as it is.
    if (!IsUserState(each.State())) return;
    each.SetState(each.State() == CKS_RO_USER_FUNCTIONS ? CKS_RO_PUBLIC_SESSION : CKS_RW_PUBLIC_SESSION);
  };
  toPublic(session);
  for (const auto& other : sessions) toPublic(*other);
  return trace.Result(CKR_OK);
}

CK_RV SetPin(Session& session, const CK_UTF8CHAR* oldPin, CK_ULONG oldLength, const CK_UTF8CHAR* newPin,
             CK_ULONG newLength)
{
  static constexpr const char* kName = "SetPin";
  FunctionTrace trace(kName);
  if (!TokenPresent(session)) {
    LogMessage(LOG_LEVEL_ERROR, true, kName, __LINE__, true, "Token not present in slot %d",
               static_cast<int>(session.SlotId()));
    return Failed(trace, kName, __LINE__, CKR_DEVICE_REMOVED);
  }
  if (session.State() == CKS_RO_PUBLIC_SESSION || session.State() == CKS_RO_USER_FUNCTIONS) {
    LogMessage(LOG_LEVEL_ERROR, true, kName, __LINE__, true, "%s", "R/W session is required");
    return Failed(trace, kName, __LINE__, CKR_SESSION_READ_ONLY);
  }
  if ((oldPin == nullptr) != (newPin == nullptr)) {
    LogMessage(LOG_LEVEL_ERROR, true, kName, __LINE__, true, "%s", "OldPIN is NULL and NewPin not or reverse");
    return Failed(trace, kName, __LINE__, CKR_ARGUMENTS_BAD);
  }
  ApplicationInfoPtr application;
  if (CK_RV rv = Token::GetApplicationInfo(static_cast<uint32_t>(session.SlotId()), application); rv != CKR_OK) {
    return Failed(trace, kName, __LINE__, rv);
  }
  if (!application) return Failed(trace, kName, __LINE__, CKR_FUNCTION_FAILED);
  Card::PinReference pinReference;
  if (CK_RV rv = GetCIAPinAttributes(session, &pinReference, true, 0); rv != CKR_OK) {
    return Failed(trace, kName, __LINE__, rv);
  }

  // Both PINs absent: the PIN pad asks for the current PIN as well.
  static const CK_UTF8CHAR kEmptyPin[1] = {0};
  if (oldPin == nullptr && newPin == nullptr) {
    oldPin = kEmptyPin;
    oldLength = 0;
  }
  if (!pinReference.initialized) return Failed(trace, kName, __LINE__, CKR_USER_PIN_NOT_INITIALIZED);

  auto outOfRange = [&](const CK_UTF8CHAR* value, CK_ULONG length) {
    // A PIN beyond a byte's range would be cut silently.
    if (value != nullptr && length > kLongestPin) return true;
    if (length != 0 && length < pinReference.minLength) return true;
    return pinReference.maxLength != 0 && length > pinReference.maxLength;
  };
  if (outOfRange(oldPin, oldLength) || outOfRange(newPin, newLength)) {
    return Failed(trace, kName, __LINE__, CKR_PIN_LEN_RANGE);
  }
  const uint8_t reference = IsAdmittedProfile(application->Profile) ? kDefaultPinReference : 0;
  const CK_RV rv = Token::ChangePin(session, reference, pinReference, newPin, static_cast<uint8_t>(newLength), oldPin,
                                    static_cast<uint8_t>(oldLength));
  if (rv != CKR_OK) return Failed(trace, kName, __LINE__, rv);
  return trace.Result(CKR_OK);
}

}  // namespace Brelt::MW::Pkcs11
