// VERIFY and CHANGE REFERENCE DATA for the PINs of the card's applications,
// with the dialog loop that asks the user again after a wrong PIN.

#include "token/PinOperations.h"

#include <cstring>
#include <new>

#include "Dialogs/ui/VirtualKeyboard.h"
#include "LogTrace.h"
#include "Logger.h"
#include "card/Apdu.h"
#include "card/ApduTransport.h"
#include "card/CardCommands.h"
#include "card/PinPad.h"
#include "card/SecureMessaging.h"
#include "card/Slot.h"
#include "card/StatusCache.h"
#include "card/Token.h"
#include "pkcs11/Session.h"
#include "token/ApplicationInfoList.h"
#include "token/TokenInfo.h"

namespace Brelt::MW::Token {

using Base::HexBinary;
using Card::StatusCache;

namespace {

constexpr uint8_t kInsVerify = 0x20;
constexpr uint8_t kInsChangeReferenceData = 0x24;
constexpr uint8_t kPinPadTimeOut = 0xFF;

CK_RV Failed(FunctionTrace& trace, const char* function, int line, CK_RV rv)
{
  TraceFailed(function, line, rv);
  return trace.Result(rv);
}

// A zero-first-byte PIN argument of non-zero length becomes the dialog text.
std::unique_ptr<HexBinary> DialogText(const uint8_t* pin, uint8_t length)
{
  if (pin == nullptr || length == 0 || pin[0] != 0) return nullptr;
  return std::make_unique<HexBinary>(pin, length, true);
}

CK_RV SelectIasApplication(Pkcs11::Session& session, const Card::Slot& slot, const ApplicationInfo& application)
{
  return Card::SetIntoIasAppDF(session.LastStatusWord(), &slot, application.IasAid.get(), application.Profile,
                               [] { return false; });
}

// A PIN pad sends its command to the card itself, past the transport, so
// the transport's idea of the card's current file no longer holds.
void PinPadWillSend(const Card::Slot& slot)
{
  if (Card::CardMemory* memory = slot.Memory()) memory->ForgetCurrentFile();
}

// How a PIN command travels: the plain transport (never wrapped), SendApdu
// (which applies a chip-authentication channel by itself), or wrapped here
// with the card's application-container channel first.
struct PinRoute {
  bool plain = false;
  Card::SecureMessagingPtr channel;
};

// Builds the PIN command and sends it without logging its data. An
// unexpected status word is mapped through MapPinError.
CK_RV SendPinCommand(Pkcs11::Session& session, const Card::Slot& slot, uint8_t ins, uint8_t p1, uint8_t pinRef,
                     const uint8_t* data, uint16_t length, const PinRoute& route = {})
{
  Card::ApduCommand command;
  Card::ApduResponse response;
  Card::SetApdu(&command, 0x00, ins, p1, pinRef, Card::kNoLe, Card::kSwSuccess);
  if (length > 0) {
    if (CK_RV rv = Card::SetApduData(&command, length, data, 1); rv != CKR_OK) return rv;
  }
  CK_RV rv = CKR_OK;
  if (route.channel) {
    const std::unique_ptr<Card::ApduCommand> wrapped = route.channel->EncodeCommand(&command, Card::kSmWholeCommand);
    if (!wrapped) return CKR_FUNCTION_FAILED;
    rv = Card::SendApdu(&slot, wrapped.get(), &response, session.LastStatusWord(), 1, 0);
    // A success is only the card's when its answer passes the channel's check:
    // a bare 90 00 could come from anyone on the line.
    if (rv == CKR_OK && route.channel->DecodeResponse(&response) != CKR_OK) {
      Card::StoreLastStatus(session.LastStatusWord(), response.sw);
      return CKR_FUNCTION_FAILED;
    }
  } else if (route.plain) {
    rv = Card::SendApduImpl(&slot, &command, &response, session.LastStatusWord(), 1, 0);
  } else {
    rv = Card::SendApdu(&slot, &command, &response, session.LastStatusWord(), 1, 0);
  }
  if (rv == CKR_FUNCTION_FAILED) return MapPinError(session.DeviceError());
  return rv;
}

// The bytes one PIN occupies in a command: the PIN itself, or the PIN padded
// to the PIN object's length. A block of no bytes (a VERIFY without data
// only asks for the PIN state and answers 9000 once another caller verified)
// and a PIN longer than its padded length (it would be cut, and a wrong PIN
// with the right beginning would pass) are refused before anything is sent.
CK_RV PinBlock(const Card::PinReference& pin, const uint8_t* bytes, uint8_t length, std::unique_ptr<HexBinary>& out)
{
  out.reset();
  if (bytes == nullptr || length == 0) return CKR_PIN_LEN_RANGE;
  if (!pin.needsPadding) {
    out = std::make_unique<HexBinary>(bytes, length, true);
    return CKR_OK;
  }
  if (pin.maxLength == 0 || length > pin.maxLength) return CKR_PIN_LEN_RANGE;
  uint8_t padded = length;
  out = ApplyPinPadding(bytes, &padded, pin.padChar, pin.maxLength);
  return out ? CKR_OK : CKR_HOST_MEMORY;
}

// VERIFY with the PIN, padded when needed.
CK_RV SendVerify(Pkcs11::Session& session, const Card::Slot& slot, const Card::PinReference& pin, uint8_t pinRef,
                 const uint8_t* pinBytes, uint8_t pinLength, const PinRoute& route = {})
{
  std::unique_ptr<HexBinary> block;
  if (CK_RV rv = PinBlock(pin, pinBytes, pinLength, block); rv != CKR_OK) return rv;
  return SendPinCommand(session, slot, kInsVerify, 0x00, pinRef, block->data, static_cast<uint16_t>(block->length),
                        route);
}

// The PIN of a context login goes to the card only inside the card's secure
// channel, which the admitted applications never open: without one the PIN
// is refused before it is asked for or sent. An application-container
// channel is applied here; a chip-authentication channel by SendApdu itself
// (wrapping here as well would protect the command twice).
CK_RV ContextLoginRoute(const Pkcs11::Session& session, PinRoute& route)
{
  route = PinRoute{};
  Card::SecureMessagingPtr channel = StatusCache::GetAuthContext(session);
  if (!channel) {
    LogMessage(LOG_LEVEL_ERROR, true, "ContextLoginRoute", __LINE__, true, "%s",
               "No secure channel for a context-specific PIN");
    return CKR_FUNCTION_FAILED;
  }
  if (channel->GetType() != StatusCache::kAuthTypeChipAuthentication) route.channel = std::move(channel);
  return CKR_OK;
}

// What every PIN presentation starts from: the slot, its token info, and the
// slot's application with the IAS application selected on the card.
struct PinTarget {
  Card::SlotPtr slot;
  CK_TOKEN_INFO tokenInfo{};
  ApplicationInfoPtr application;
};

CK_RV PreparePinTarget(FunctionTrace& trace, Pkcs11::Session& session, PinTarget& target)
{
  const char* const name = trace.Function();
  target.slot = StatusCache::GetSlot(session.SlotId());
  const Card::SlotPtr& slot = target.slot;
  if (!slot) return Failed(trace, name, __LINE__, CKR_FUNCTION_FAILED);
  if (CK_RV rv = GetTokenInfoEF(*slot, &target.tokenInfo); rv != CKR_OK) return Failed(trace, name, __LINE__, rv);
  if (!StatusCache::GetToken(slot->TokenId())) return Failed(trace, name, __LINE__, CKR_FUNCTION_FAILED);
  if (CK_RV rv = GetApplicationInfo(static_cast<uint32_t>(session.SlotId()), target.application); rv != CKR_OK) {
    return Failed(trace, name, __LINE__, rv);
  }
  if (!target.application) return Failed(trace, name, __LINE__, CKR_FUNCTION_FAILED);
  if (CK_RV rv = SelectIasApplication(session, *slot, *target.application); rv != CKR_OK) {
    return Failed(trace, name, __LINE__, rv);
  }
  return CKR_OK;
}

}  // namespace

int GetPinRetryCounter(uint16_t sw)
{
  // Only 63C0 to 63CF carry a counter; a word that merely has those bits set
  // among others (FFFF, 6BC5) carries none.
  if ((sw & 0xFFF0) == 0x63C0) return sw & 0x0F;
  return -1;
}

CK_RV MapPinError(CK_ULONG lastStatus)
{
  if ((lastStatus >> 16) != 0) return CKR_DEVICE_ERROR;
  const auto sw = static_cast<uint16_t>(lastStatus);
  auto mapped = [](int line, const char* text, CK_RV rv) {
    LogMessage(LOG_LEVEL_ERROR, true, "MapPinError", line, true, "%s", text);
    return rv;
  };
  switch (sw) {
    case 0x6300:
      return mapped(__LINE__, "Authentication failed", CKR_PIN_INCORRECT);
    case 0x6700:
      return mapped(__LINE__, "Invalid PIN length", CKR_PIN_LEN_RANGE);
    case 0x6982:
      return mapped(__LINE__, "Required access right not granted", CKR_USER_NOT_LOGGED_IN);
    case 0x6983:
      return mapped(__LINE__, "Object blocked", CKR_PIN_LOCKED);
    case 0x6A88:
      return mapped(__LINE__, "Object not found", CKR_PIN_INVALID);
    default:
      break;
  }
  const int counter = GetPinRetryCounter(sw);
  if (counter >= 1) return mapped(__LINE__, "Authentication failed", CKR_PIN_INCORRECT);
  if (counter == 0) return mapped(__LINE__, "Object blocked", CKR_PIN_LOCKED);
  return CKR_FUNCTION_FAILED;
}

std::unique_ptr<HexBinary> ApplyPinPadding(const uint8_t* pin, uint8_t* length, uint8_t padChar, uint8_t maxLength)
{
  TraceEntering("ApplyPinPadding");
  std::unique_ptr<HexBinary> padded;
  try {
    padded = std::make_unique<HexBinary>();
    padded->data = new uint8_t[maxLength > 0 ? maxLength : 1];
    padded->length = maxLength;
    std::memset(padded->data, padChar, maxLength);
    const uint8_t copied = *length < maxLength ? *length : maxLength;
    if (copied > 0 && pin != nullptr) std::memcpy(padded->data, pin, copied);
    *length = maxLength;
  } catch (const std::bad_alloc&) {
    padded.reset();
  }
  LogMessage(LOG_LEVEL_TRACE, true, nullptr, 0, true, "Leaving %s, result = [%08Xh]", "ApplyPinPadding",
             static_cast<unsigned>(reinterpret_cast<uintptr_t>(padded.get())));
  return padded;
}

CK_RV PresentCIAPin_DefaultProfile(Pkcs11::Session& session, const Card::PinReference& pin, uint8_t pinRef,
                                   const uint8_t* pinBytes, uint8_t pinLength, bool contextLogin,
                                   CK_USER_TYPE /*userType*/, int pinType, VirtualKeyboard* keyboard)
{
  static constexpr const char* kName = "PresentCIAPin_DefaultProfile";
  FunctionTrace trace(kName);
  PinTarget target;
  if (CK_RV rv = PreparePinTarget(trace, session, target); rv != CKR_OK) return rv;
  const Card::SlotPtr& slot = target.slot;
  const CK_TOKEN_INFO& tokenInfo = target.tokenInfo;

  if (IsPinGiven(pinBytes, pinLength)) {
    LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "%s", "pin is defined =>send direct command to card");
    PinRoute route;
    if (contextLogin) {
      if (CK_RV rv = ContextLoginRoute(session, route); rv != CKR_OK) return Failed(trace, kName, __LINE__, rv);
    }
    const CK_RV rv = SendVerify(session, *slot, pin, pinRef, pinBytes, pinLength, route);
    if (rv != CKR_OK) return Failed(trace, kName, __LINE__, rv);
    return trace.Result(CKR_OK);
  }

  const std::unique_ptr<HexBinary> text = DialogText(pinBytes, pinLength);
  const bool pinPad = Card::SPE_HasPinPad(*slot);
  if (keyboard == nullptr) return Failed(trace, kName, __LINE__, CKR_FUNCTION_FAILED);
  const bool usePinPad = tokenInfo.flags != 0 && pinPad;
  PinRoute route;
  if (contextLogin && !usePinPad) {
    if (CK_RV rv = ContextLoginRoute(session, route); rv != CKR_OK) return Failed(trace, kName, __LINE__, rv);
  }

  for (;;) {
    CK_RV rv = CKR_OK;
    if (usePinPad) {
      LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "%s", "pin is NULL or empty => SPE will be used!");
      keyboard->SetRemainingAttempts(-1);
      if (CK_RV shown = keyboard->ShowPinPadDialog(text.get(), keyboard->GetPinType()); shown != CKR_OK) {
        LogMessage(LOG_LEVEL_ERROR, true, kName, __LINE__, true, "Show PinPad request dialog failed with error: %d",
                   static_cast<int>(shown));
      }
      PinPadWillSend(*slot);
      rv = Card::SPE_VerifyPin(slot->CardHandle(), pinRef, pin, kPinPadTimeOut, kPinPadTimeOut, nullptr);
      if (CK_RV closed = keyboard->ClosePinPadDialog(); closed != CKR_OK) {
        LogMessage(LOG_LEVEL_ERROR, true, kName, __LINE__, true, "Close PinPad request dialog failed with error: %d",
                   static_cast<int>(closed));
      }
    } else {
      LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "%s",
                 "pin is NULL or empty => virtual keyboard will be used!");
      keyboard->SetRemainingAttempts(-1);
      HexBinary* typedRaw = nullptr;
      rv = keyboard->ShowVirtKeyDialog(text.get(), &typedRaw);
      const std::unique_ptr<HexBinary> typed(typedRaw);
      if (rv != CKR_OK) return Failed(trace, kName, __LINE__, rv);
      if (!typed || typed->data == nullptr || typed->length <= 0) {
        return Failed(trace, kName, __LINE__, CKR_FUNCTION_FAILED);
      }
      // The keyboard limits the PIN to the PIN object's maximum, which fits a byte.
      const uint8_t typedLength = typed->length > 0xFF ? 0xFF : static_cast<uint8_t>(typed->length);
      rv = SendVerify(session, *slot, pin, pinRef, typed->data, typedLength, route);
    }

    switch (rv) {
      case CKR_OK:
        return trace.Result(CKR_OK);
      case CKR_PIN_INCORRECT:
        keyboard->SetRemainingAttempts(-1);
        if (CK_RV answer = keyboard->ShowInvalidPinDialog(); answer != CKR_OK) {
          return Failed(trace, kName, __LINE__, answer);
        }
        continue;
      case CKR_PIN_LOCKED:
        keyboard->ShowPinBlockedDialog();
        return Failed(trace, kName, __LINE__, CKR_PIN_LOCKED);
      case CKR_PIN_LEN_RANGE:
        keyboard->ShowPinLengthErrDialog(pinType);
        continue;
      default:
        return Failed(trace, kName, __LINE__, rv);
    }
  }
}

namespace {

// The PIN of a SigZepEp or QesEac application: plain without a context
// login; with one, inside the card's channel after selecting the IAS
// application again. QesEac commands travel under the chip-authentication
// channel that SendApdu applies by itself; the application-container channel
// of the other profile is applied here, and without one the PIN is refused
// before it is sent.
CK_RV SendSigZepEpPin(Pkcs11::Session& session, const Card::Slot& slot, const ApplicationInfo& application,
                      const Card::PinReference& pin, uint8_t pinRef, const uint8_t* bytes, uint8_t length,
                      bool contextLogin)
{
  PinRoute route;
  route.plain = true;
  if (contextLogin) {
    if (CK_RV rv = SelectIasApplication(session, slot, application); rv != CKR_OK) return rv;
    route.plain = false;
    if (application.Profile != QesEacProfile) {
      if (CK_RV rv = ContextLoginRoute(session, route); rv != CKR_OK) return rv;
    }
  }
  return SendVerify(session, slot, pin, pinRef, bytes, length, route);
}

// The ZEP PIN of a QesEac application on the PIN pad: the reader fills the
// PIN into a VERIFY whose header the chip-authentication channel protects;
// the channel's counter moves on by the one command the reader sent.
CK_RV VerifyOnPadUnderChannel(const Card::Slot& slot, const Card::PinReference& pin, uint8_t pinRef)
{
  const Card::SecureMessagingPtr channel = StatusCache::GetSecureMessaging(slot);
  if (!channel) return CKR_FUNCTION_FAILED;
  Card::ApduCommand verifyTemplate;
  Card::SetApdu(&verifyTemplate, 0x00, kInsVerify, 0x00, pinRef, Card::kNoLe, Card::kSwSuccess);
  static const uint8_t kTemplate[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  if (CK_RV rv = Card::SetApduData(&verifyTemplate, sizeof kTemplate, kTemplate, 1); rv != CKR_OK) return rv;
  const std::unique_ptr<Card::ApduCommand> wrapped = channel->EncodeCommand(&verifyTemplate, Card::kSmHeaderOnly);
  if (!wrapped) return CKR_FUNCTION_FAILED;
  PinPadWillSend(slot);
  const CK_RV rv = Card::SPE_VerifyPin(slot.CardHandle(), pinRef, pin, kPinPadTimeOut, kPinPadTimeOut, wrapped.get());
  channel->IncrementSSC();
  return rv;
}

// VERIFY without data: the tries left, or the blocked state, before an attempt.
CK_RV AskPinStatus(Pkcs11::Session& session, const Card::Slot& slot, uint8_t pinRef, bool contextLogin,
                   uint16_t* sw)
{
  Card::ApduCommand command;
  Card::ApduResponse response;
  Card::SetApdu(&command, 0x00, kInsVerify, 0x00, pinRef, Card::kNoLe, Card::kSwNotChecked);
  const CK_RV rv = contextLogin ? Card::SendApdu(&slot, &command, &response, session.LastStatusWord(), 0, 0)
                                : Card::SendApduImpl(&slot, &command, &response, session.LastStatusWord(), 0, 0);
  *sw = response.sw;
  return rv;
}

}  // namespace

CK_RV PresentCIAPin_SigZepEp(Pkcs11::Session& session, const Card::PinReference& pin, uint8_t pinRef,
                             const uint8_t* pinBytes, uint8_t pinLength, bool contextLogin,
                             CK_USER_TYPE /*userType*/, int pinType, VirtualKeyboard* keyboard)
{
  static constexpr const char* kName = "PresentCIAPin_SigZepEp";
  FunctionTrace trace(kName);
  PinTarget target;
  if (CK_RV rv = PreparePinTarget(trace, session, target); rv != CKR_OK) return rv;
  const Card::SlotPtr& slot = target.slot;
  const CK_TOKEN_INFO& tokenInfo = target.tokenInfo;
  const ApplicationInfoPtr& application = target.application;

  if (IsPinGiven(pinBytes, pinLength)) {
    LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "%s", "pin is defined =>send direct command to card");
    const CK_RV rv = SendSigZepEpPin(session, *slot, *application, pin, pinRef, pinBytes, pinLength, contextLogin);
    if (rv != CKR_OK) return Failed(trace, kName, __LINE__, rv);
    return trace.Result(CKR_OK);
  }

  const std::unique_ptr<HexBinary> text = DialogText(pinBytes, pinLength);
  const bool usePinPad = tokenInfo.flags != 0 && Card::SPE_HasPinPad(*slot);
  if (keyboard == nullptr) return Failed(trace, kName, __LINE__, CKR_FUNCTION_FAILED);

  for (;;) {
    uint16_t sw = 0;
    CK_RV rv = AskPinStatus(session, *slot, pinRef, contextLogin, &sw);
    if (rv == CKR_OK) rv = MapPinError(session.DeviceError());
    if (rv == CKR_PIN_LOCKED) {
      LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "%s", "PIN is blocked error");
      keyboard->ShowPinBlockedDialog();
      return Failed(trace, kName, __LINE__, CKR_PIN_LOCKED);
    }
    // 9000: the PIN is verified already and the card tells no count; the
    // PIN is asked for all the same, without a count.
    const bool verified = sw == Card::kSwSuccess;
    const int tries = verified ? -1 : GetPinRetryCounter(sw);
    if (!verified && tries < 1) return Failed(trace, kName, __LINE__, rv);

    if (usePinPad) {
      LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "%s", "pin is NULL or empty => SPE will be used!");
      keyboard->SetRemainingAttempts(tries);
      if (CK_RV shown = keyboard->ShowPinPadDialog(text.get(), keyboard->GetPinType()); shown != CKR_OK) {
        LogMessage(LOG_LEVEL_ERROR, true, kName, __LINE__, true, "Show PinPad request dialog failed with error: %d",
                   static_cast<int>(shown));
      }
      if (keyboard->GetPinType() == 1 && application->Profile == QesEacProfile) {
        rv = VerifyOnPadUnderChannel(*slot, pin, pinRef);
      } else {
        PinPadWillSend(*slot);
        rv = Card::SPE_VerifyPin(slot->CardHandle(), pinRef, pin, kPinPadTimeOut, kPinPadTimeOut, nullptr);
      }
      if (rv != CKR_OK) {
        LogMessage(LOG_LEVEL_ERROR, true, kName, __LINE__, true, "Insert PIN with PinPad failed with error: %d",
                   static_cast<int>(rv));
      }
      if (CK_RV closed = keyboard->ClosePinPadDialog(); closed != CKR_OK) {
        LogMessage(LOG_LEVEL_ERROR, true, kName, __LINE__, true, "Close PinPad request dialog failed with error: %d",
                   static_cast<int>(closed));
      }
      if (rv != CKR_OK) return Failed(trace, kName, __LINE__, rv);
      return trace.Result(CKR_OK);
    }

    LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "%s", "pin is NULL or empty => virtual keyboard will be used!");
    keyboard->SetRemainingAttempts(tries);
    HexBinary* typedRaw = nullptr;
    rv = keyboard->ShowVirtKeyDialog(text.get(), &typedRaw);
    const std::unique_ptr<HexBinary> typed(typedRaw);
    if (rv != CKR_OK) return Failed(trace, kName, __LINE__, rv);
    if (!typed || typed->data == nullptr || typed->length <= 0) {
      return Failed(trace, kName, __LINE__, CKR_FUNCTION_FAILED);
    }
    const uint8_t typedLength = typed->length > 0xFF ? 0xFF : static_cast<uint8_t>(typed->length);
    rv = SendSigZepEpPin(session, *slot, *application, pin, pinRef, typed->data, typedLength, contextLogin);

    switch (rv) {
      case CKR_OK:
        return trace.Result(CKR_OK);
      case CKR_PIN_INCORRECT:
        keyboard->SetRemainingAttempts(tries > 0 ? tries - 1 : -1);
        if (CK_RV answer = keyboard->ShowInvalidPinDialog(); answer != CKR_OK) {
          return Failed(trace, kName, __LINE__, answer);
        }
        continue;
      case CKR_PIN_LOCKED:
        keyboard->ShowPinBlockedDialog();
        return Failed(trace, kName, __LINE__, CKR_PIN_LOCKED);
      case CKR_PIN_LEN_RANGE:
        keyboard->ShowPinLengthErrDialog(pinType);
        continue;
      default:
        return Failed(trace, kName, __LINE__, rv);
    }
  }
}

bool ZepPinInitCheck(const Card::Slot& slot, const ApplicationInfo& application)
{
  static constexpr const char* kName = "ZepPinInitCheck";
  TraceEntering(kName);
  auto result = [](bool value) {
    if (value) {
      LogMessage(LOG_LEVEL_TRACE, true, nullptr, 0, true, "Leaving %s: TRUE", kName);
    } else {
      LogMessage(LOG_LEVEL_INFO, true, nullptr, 0, true, "Leaving %s: FALSE", kName);
    }
    return value;
  };
  const HexBinary* authId = nullptr;
  if (const CIOObjectList* keys = application.FindObjectList(kKindRsaPrivateKey)) {
    for (const auto& key : keys->objects) {
      const CommonObjectAttributes* common = key ? key->commonAttributes.get() : nullptr;
      if (common != nullptr && common->authId && common->authId->length > 0) {
        authId = common->authId.get();
        break;
      }
    }
  }
  if (authId == nullptr) return result(true);

  int32_t reference = -1;
  if (const CIOObjectList* pins = application.FindObjectList(kKindPin)) {
    for (const auto& object : pins->objects) {
      const auto* auth = object ? dynamic_cast<const CommonAuthObjectAttributes*>(object->classAttributes.get())
                                : nullptr;
      const PasswordAttributes* password = object ? object->AsPasswordAttributes() : nullptr;
      if (auth == nullptr || password == nullptr || !auth->authId || !auth->authId->Equals(authId)) continue;
      reference = password->pwdReference;
      break;
    }
  }
  if (reference <= 0 || reference > 0xFF || !application.IasAid || application.IasAid->length <= 0) {
    return result(false);
  }
  if (Card::SelectFile(nullptr, &slot, application.IasAid->data, static_cast<uint16_t>(application.IasAid->length),
                       0x04) != CKR_OK) {
    return result(false);
  }
  Card::ApduCommand command;
  Card::ApduResponse response;
  Card::SetApdu(&command, 0x00, kInsVerify, 0x00, static_cast<uint8_t>(reference), Card::kNoLe, Card::kSwNotChecked);
  if (Card::SendApdu(&slot, &command, &response, nullptr, 0, 0) != CKR_OK) return result(false);
  return result(response.sw != 0x6984);
}

CK_RV ChangePin(Pkcs11::Session& session, uint8_t pinRef, const Card::PinReference& pin, const uint8_t* newPin,
                uint8_t newLength, const uint8_t* oldPin, uint8_t oldLength)
{
  static constexpr const char* kName = "ChangePin";
  FunctionTrace trace(kName);
  const Card::SlotPtr slot = StatusCache::GetSlot(session.SlotId());
  if (!slot) return Failed(trace, kName, __LINE__, CKR_FUNCTION_FAILED);
  ApplicationInfoPtr application;
  if (GetApplicationInfo(static_cast<uint32_t>(session.SlotId()), application) != CKR_OK || !application ||
      SelectIasApplication(session, *slot, *application) != CKR_OK) {
    return Failed(trace, kName, __LINE__, CKR_FUNCTION_FAILED);
  }

  CK_RV rv = CKR_OK;
  if (!IsPinGiven(newPin, newLength)) {
    const uint8_t mode = oldPin != nullptr ? 3 : 1;
    PinPadWillSend(*slot);
    rv = Card::SPE_ModifyPin(slot->CardHandle(), pinRef, pin, mode, kPinPadTimeOut, kPinPadTimeOut);
  } else {
    std::unique_ptr<HexBinary> newBlock;
    std::unique_ptr<HexBinary> oldBlock;
    rv = PinBlock(pin, newPin, newLength, newBlock);
    const bool withOld = IsPinGiven(oldPin, oldLength);
    if (rv == CKR_OK && withOld) rv = PinBlock(pin, oldPin, oldLength, oldBlock);
    if (rv != CKR_OK) return Failed(trace, kName, __LINE__, rv);
    if (withOld) {
      HexBinary both(oldBlock->data, oldBlock->length, true);
      both.Append(newBlock.get());
      rv = SendPinCommand(session, *slot, kInsChangeReferenceData, 0x00, pinRef, both.data,
                          static_cast<uint16_t>(both.length));
    } else {
      rv = SendPinCommand(session, *slot, kInsChangeReferenceData, 0x01, pinRef, newBlock->data,
                          static_cast<uint16_t>(newBlock->length));
    }
  }
  if (rv == CKR_FUNCTION_NOT_SUPPORTED || rv == CKR_DATA_INVALID || rv == CKR_USER_PIN_NOT_INITIALIZED) {
    rv = CKR_FUNCTION_FAILED;
  }
  if (rv != CKR_OK) return Failed(trace, kName, __LINE__, rv);
  return trace.Result(CKR_OK);
}

CK_RV GetCIAPinInitStatus(Pkcs11::Session& session, Card::PinReference& pin, uint8_t pinRef)
{
  static constexpr const char* kName = "GetCIAPinInitStatus";
  FunctionTrace trace(kName);
  ApplicationInfoPtr application;
  if (CK_RV rv = GetApplicationInfo(static_cast<uint32_t>(session.SlotId()), application); rv != CKR_OK) {
    return Failed(trace, kName, __LINE__, rv);
  }
  if (!application) return Failed(trace, kName, __LINE__, CKR_FUNCTION_FAILED);
  const Card::SlotPtr slot = StatusCache::GetSlot(session.SlotId());
  if (!slot) return Failed(trace, kName, __LINE__, CKR_DEVICE_REMOVED);
  if (CK_RV rv = SelectIasApplication(session, *slot, *application); rv != CKR_OK) {
    return Failed(trace, kName, __LINE__, rv);
  }
  if (application->Profile == DefaultProfile || application->Profile == SigGProfile) {
    pin.initialized = 1;
    return trace.Result(CKR_OK);
  }

  Card::ApduCommand command;
  Card::ApduResponse response;
  Card::SetApdu(&command, 0x00, kInsVerify, 0x00, pinRef, Card::kNoLe, Card::kSwNotChecked);
  const CK_RV rv = Card::SendApdu(slot.get(), &command, &response, session.LastStatusWord(), 1, 0);
  if (rv == CKR_DATA_INVALID) return Failed(trace, kName, __LINE__, CKR_FUNCTION_FAILED);
  if (rv != CKR_OK) return Failed(trace, kName, __LINE__, rv);
  if (response.sw == Card::kSwSuccess) {
    pin.initialized = 1;
  } else if (response.sw == 0x6984) {
    pin.initialized = 0;
  } else if (GetPinRetryCounter(response.sw) >= 0) {
    pin.initialized = 1;
  } else {
    return Failed(trace, kName, __LINE__, MapPinError(session.DeviceError()));
  }
  return trace.Result(CKR_OK);
}

}  // namespace Brelt::MW::Token
