// PC/SC part 10 PIN entry: feature list, verify and modify structures built
// byte by byte (multi-byte fields little-endian) and the status-word mapping.

#include "card/PinPad.h"

#include <reader.h>

#include <cstring>

#include "LogTrace.h"
#include "Logger.h"
#include "card/Slot.h"

namespace Brelt::MW::Card {

namespace {

constexpr uint16_t kLangId = 0x041B;
constexpr uint8_t kEntryValidationOkKey = 0x02;
constexpr uint8_t kWrappedFormat = 0xE2;  // length in bytes, PIN at offset 12, left-justified, ASCII
constexpr std::size_t kVerifyHeader = 19;
constexpr std::size_t kModifyHeader = 24;
constexpr uint8_t kInsChangeReferenceData = 0x24;

void PutLe16(uint8_t* at, uint16_t value)
{
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}

void PutLe32(uint8_t* at, uint32_t value)
{
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

const char* ErrorText(LONG rv) { return GetErrorText(static_cast<unsigned long>(rv)); }

// Sends the structure through the direct feature, or through start and
// finish, and maps the status word the reader returns. Exactly two answer
// bytes are a status word; any other count is a reader failure.
CK_RV RunPinPadOperation(SCARDHANDLE card, const PinPadFeatures& features, const PinPadStructure& structure,
                         uint8_t directTag, uint8_t startTag, uint8_t finishTag, const char* directText,
                         const char* startText, const char* finishText)
{
  uint8_t answer[2] = {0, 0};
  DWORD returned = 0;
  if (const uint32_t direct = SPE_GetFeatureCode(features, directTag); direct != 0) {
    const LONG rv = SCardControl(card, direct, structure.bytes.data(), static_cast<DWORD>(structure.length), answer,
                                 sizeof answer, &returned);
    if (rv != SCARD_S_SUCCESS) {
      LogMessage(LOG_LEVEL_ERROR, true, "RunPinPadOperation", __LINE__, true, directText, ErrorText(rv));
      return CKR_FUNCTION_FAILED;
    }
  } else {
    const uint32_t start = SPE_GetFeatureCode(features, startTag);
    const uint32_t finish = SPE_GetFeatureCode(features, finishTag);
    if (start == 0 || finish == 0) return CKR_FUNCTION_NOT_SUPPORTED;
    DWORD none = 0;
    LONG rv = SCardControl(card, start, structure.bytes.data(), static_cast<DWORD>(structure.length), nullptr, 0,
                           &none);
    if (rv != SCARD_S_SUCCESS) {
      LogMessage(LOG_LEVEL_ERROR, true, "RunPinPadOperation", __LINE__, true, startText, ErrorText(rv));
      return CKR_FUNCTION_FAILED;
    }
    rv = SCardControl(card, finish, nullptr, 0, answer, sizeof answer, &returned);
    if (rv != SCARD_S_SUCCESS) {
      LogMessage(LOG_LEVEL_ERROR, true, "RunPinPadOperation", __LINE__, true, finishText, ErrorText(rv));
      return CKR_FUNCTION_FAILED;
    }
  }
  if (returned != sizeof answer) {
    LogMessage(LOG_LEVEL_ERROR, true, "RunPinPadOperation", __LINE__, true,
               "PIN pad returned %lu bytes instead of a status word", static_cast<unsigned long>(returned));
    return CKR_FUNCTION_FAILED;
  }
  return SPE_EvaluateSW(static_cast<uint16_t>(answer[0] << 8 | answer[1]));
}

}  // namespace

CK_RV SPE_GetFeatures(SCARDHANDLE card, PinPadFeatures& features)
{
  features.bytes.fill(0);
  features.length = 0;
  DWORD returned = 0;
  const LONG rv = SCardControl(card, CM_IOCTL_GET_FEATURE_REQUEST, nullptr, 0, features.bytes.data(),
                               static_cast<DWORD>(features.bytes.size()), &returned);
  if (rv != SCARD_S_SUCCESS) {
    LogMessage(LOG_LEVEL_ERROR, true, "SPE_GetFeatures", __LINE__, true, "SCardControl() failed, result = %s",
               ErrorText(rv));
    return CKR_FUNCTION_FAILED;
  }
  features.length = returned < features.bytes.size() ? returned : features.bytes.size();
  return CKR_OK;
}

uint32_t SPE_GetFeatureCode(const PinPadFeatures& features, uint8_t tag)
{
  if (tag == 0 || tag > 10) return 0;
  const std::size_t entries = features.length / PinPadFeatures::kEntrySize;
  for (std::size_t i = 0; i < entries; ++i) {
    const uint8_t* entry = features.bytes.data() + i * PinPadFeatures::kEntrySize;
    if (entry[0] != tag) continue;
    return static_cast<uint32_t>(entry[2]) << 24 | static_cast<uint32_t>(entry[3]) << 16 |
           static_cast<uint32_t>(entry[4]) << 8 | entry[5];
  }
  return 0;
}

bool SPE_HasPinPad(const PinPadFeatures& features)
{
  auto has = [&](uint8_t tag) { return SPE_GetFeatureCode(features, tag) != 0; };
  if (has(kFeatureVerifyPinDirect) && has(kFeatureModifyPinDirect)) return true;
  return has(kFeatureVerifyPinStart) && has(kFeatureVerifyPinFinish) && has(kFeatureModifyPinStart) &&
         has(kFeatureModifyPinFinish);
}

bool SPE_HasPinPad(SCARDHANDLE card)
{
  PinPadFeatures features;
  if (SPE_GetFeatures(card, features) != CKR_OK) return false;
  return SPE_HasPinPad(features);
}

bool SPE_HasPinPad(const Slot& slot)
{
  CardMemory* const memory = slot.Memory();
  if (memory == nullptr) return SPE_HasPinPad(slot.CardHandle());
  if (const std::optional<bool> known = memory->PinPad()) return *known;
  const uint64_t generation = memory->Generation();
  PinPadFeatures features;
  // A failed request is asked again next time.
  if (SPE_GetFeatures(slot.CardHandle(), features) != CKR_OK) return false;
  const bool pinPad = SPE_HasPinPad(features);
  memory->KeepPinPad(pinPad, generation);
  return pinPad;
}

uint8_t SPE_GetPinFormat(uint8_t pwdType)
{
  switch (pwdType) {
    case 0:
      return 1;
    case 1:
    case 2:
      return 2;
    default:
      LogMessage(LOG_LEVEL_ERROR, true, "SPE_GetPinFormat", __LINE__, true, "Unsupported PIN type: %d, mapped to binary",
                 pwdType);
      return 0;
  }
}

CK_RV SPE_EvaluateSW(uint16_t sw)
{
  auto fail = [](const char* text, CK_RV rv) {
    LogMessage(LOG_LEVEL_ERROR, true, "SPE_EvaluateSW", __LINE__, true, "%s", text);
    return rv;
  };
  // 63C0: that was the last try. The PIN is blocked now, and a wrong-PIN
  // answer would only invite the user to enter it once more.
  if (sw == 0x63C0) return fail("PIN is blocked", CKR_PIN_LOCKED);
  if ((sw & 0xFF00) == 0x6300) sw = 0x6300;
  switch (sw) {
    case 0x9000:
      return CKR_OK;
    case 0x6300:
      return fail("Incorrect PIN entered", CKR_PIN_INCORRECT);
    case 0x6983:
      return fail("PIN is blocked", CKR_PIN_LOCKED);
    case 0x6A80:
    case 0x6A88:
      return fail("Referenced PIN not found", CKR_PIN_INVALID);
    case 0x6700:
      return fail("Lc invalid", CKR_PIN_LEN_RANGE);
    case 0x6984:
      return fail("PIN is not activated", CKR_USER_PIN_NOT_INITIALIZED);
    case 0x6400:
      return fail("SPE operation timed out", CKR_FUNCTION_CANCELED);
    case 0x6401:
      return fail("SPE operation was cancelled by the \"Cancel\" button", CKR_FUNCTION_CANCELED);
    case 0x6402:
      return fail("Modify PIN operation failed because two \"new PIN\" entries do not match", CKR_FUNCTION_FAILED);
    case 0x6403:
      return fail("User entered too short or too long PIN regarding MIN/MAX PIN Length", CKR_PIN_LEN_RANGE);
    case 0x6B80:
      return fail("Invalid parameter provided to SPE function", CKR_FUNCTION_FAILED);
    default:
      LogMessage(LOG_LEVEL_ERROR, true, "SPE_EvaluateSW", __LINE__, true, "SPE operation failed, returned SW = %04X",
                 sw);
      return CKR_FUNCTION_FAILED;
  }
}

CK_RV BuildVerifyStructure(uint8_t pinRef, const PinReference& pin, uint8_t timeOut, uint8_t timeOut2,
                           const ApduCommand* wrapped, PinPadStructure& out)
{
  out.bytes.fill(0);
  out.length = 0;
  if (wrapped != nullptr && wrapped->lc > 0 && !wrapped->data) return CKR_ARGUMENTS_BAD;
  const std::size_t dataLength = wrapped != nullptr ? std::size_t{wrapped->lc} + 6 : std::size_t{pin.maxLength} + 5;
  const std::size_t total = dataLength + kVerifyHeader;
  if (total > kPinPadStructureRoom) return CKR_GENERAL_ERROR;
  uint8_t* s = out.bytes.data();
  s[0] = timeOut;
  s[1] = timeOut2;
  s[2] = wrapped != nullptr ? kWrappedFormat : SPE_GetPinFormat(pin.pwdType);
  s[3] = wrapped != nullptr ? 0 : pin.maxLength;
  s[4] = 0;
  s[5] = pin.maxLength;  // wPINMaxExtraDigit: maximum in the low byte, minimum in the high byte
  s[6] = pin.minLength;
  s[7] = kEntryValidationOkKey;
  s[8] = 0xFF;
  PutLe16(s + 9, kLangId);
  s[11] = 0;
  PutLe32(s + 15, static_cast<uint32_t>(dataLength));
  uint8_t* data = s + kVerifyHeader;
  if (wrapped != nullptr) {
    data[0] = wrapped->cla;
    data[1] = wrapped->ins;
    data[2] = wrapped->p1;
    data[3] = wrapped->p2;
    data[4] = static_cast<uint8_t>(wrapped->lc);
    if (wrapped->lc > 0) std::memcpy(data + 5, wrapped->data.get(), wrapped->lc);
    data[5 + wrapped->lc] = 0x00;
  } else {
    data[0] = 0x00;
    data[1] = 0x20;
    data[2] = 0x00;
    data[3] = pinRef;
    data[4] = pin.maxLength;
    std::memset(data + 5, pin.padChar, pin.maxLength);
  }
  out.length = total;
  return CKR_OK;
}

CK_RV BuildModifyStructure(uint8_t pinRef, const PinReference& pin, uint8_t confirmPin, uint8_t timeOut,
                           uint8_t timeOut2, uint8_t ins, PinPadStructure& out)
{
  out.bytes.fill(0);
  out.length = 0;
  const bool bothPins = (confirmPin & 0x02) != 0;
  const std::size_t blockLength = bothPins ? 2 * std::size_t{pin.maxLength} : pin.maxLength;
  const std::size_t total = blockLength + 5 + kModifyHeader;
  if (total > kPinPadStructureRoom) return CKR_GENERAL_ERROR;
  uint8_t* s = out.bytes.data();
  s[0] = timeOut;
  s[1] = timeOut2;
  s[2] = SPE_GetPinFormat(pin.pwdType);
  s[3] = pin.maxLength;
  s[4] = 0;
  s[5] = 0;
  s[6] = bothPins ? pin.maxLength : 0;
  s[7] = pin.maxLength;
  s[8] = pin.minLength;
  s[9] = confirmPin;
  s[10] = kEntryValidationOkKey;
  s[11] = 0xFF;
  PutLe16(s + 12, kLangId);
  PutLe32(s + 20, static_cast<uint32_t>(blockLength + 5));
  uint8_t* data = s + kModifyHeader;
  data[0] = 0x00;
  data[1] = ins;
  data[2] = bothPins ? 0x00 : 0x01;
  data[3] = pinRef;
  data[4] = static_cast<uint8_t>(blockLength);
  std::memset(data + 5, pin.padChar, blockLength);
  out.length = total;
  return CKR_OK;
}

CK_RV BuildModifyKeyStructure(uint8_t keyRef, const PinReference& pin, uint8_t timeOut, PinPadStructure& out)
{
  out.bytes.fill(0);
  out.length = 0;
  if (pin.minLength != pin.maxLength) return CKR_ARGUMENTS_BAD;
  const std::size_t blockLength = pin.needsPadding ? pin.maxLength : 0;
  const std::size_t total = blockLength + 29;
  if (total > kPinPadStructureRoom) return CKR_GENERAL_ERROR;
  uint8_t* s = out.bytes.data();
  s[0] = timeOut;
  s[2] = SPE_GetPinFormat(pin.pwdType);
  s[3] = static_cast<uint8_t>(blockLength);
  s[7] = pin.maxLength;
  s[8] = pin.minLength;
  s[9] = 1;
  s[10] = kEntryValidationOkKey;
  PutLe32(s + 20, static_cast<uint32_t>(blockLength + 5));
  uint8_t* data = s + kModifyHeader;
  data[0] = 0x90;
  data[1] = 0x24;
  data[2] = 0x00;
  data[3] = keyRef;
  data[4] = static_cast<uint8_t>(blockLength);
  out.length = total;
  return CKR_OK;
}

CK_RV SPE_VerifyPin(SCARDHANDLE card, uint8_t pinRef, PinReference pin, uint8_t timeOut, uint8_t timeOut2,
                    const ApduCommand* wrapped)
{
  FunctionTrace trace("SPE_VerifyPin");
  PinPadFeatures features;
  if (CK_RV rv = SPE_GetFeatures(card, features); rv != CKR_OK) return trace.Result(rv);
  PinPadStructure structure;
  if (CK_RV rv = BuildVerifyStructure(pinRef, pin, timeOut, timeOut2, wrapped, structure); rv != CKR_OK) {
    return trace.Result(rv);
  }
  return trace.Result(RunPinPadOperation(card, features, structure, kFeatureVerifyPinDirect,
                                         kFeatureVerifyPinStart, kFeatureVerifyPinFinish,
                                         "VerifyPinDirect() failed, SCardControl() result = %s",
                                         "VerifyPinInit() failed, SCardControl() result = %s",
                                         "VerifyPinFinish() failed, SCardControl() result = %s"));
}

namespace {
CK_RV RunModify(SCARDHANDLE card, const PinPadStructure& structure, const PinPadFeatures& features)
{
  return RunPinPadOperation(card, features, structure, kFeatureModifyPinDirect, kFeatureModifyPinStart,
                            kFeatureModifyPinFinish, "ModifyPinDirect() failed, SCardControl() result = %s",
                            "ModifyPinInit() failed, SCardControl() result = %s",
                            "ModifyPinFinish() failed, SCardControl() result = %s");
}
}  // namespace

CK_RV SPE_UnblockModifyPin(SCARDHANDLE card, uint8_t pinRef, const PinReference& pin, uint8_t confirmPin,
                           uint8_t timeOut, uint8_t timeOut2, uint8_t ins)
{
  FunctionTrace trace("SPE_UnblockModifyPin");
  PinPadFeatures features;
  if (CK_RV rv = SPE_GetFeatures(card, features); rv != CKR_OK) return trace.Result(rv);
  PinPadStructure structure;
  if (CK_RV rv = BuildModifyStructure(pinRef, pin, confirmPin, timeOut, timeOut2, ins, structure); rv != CKR_OK) {
    return trace.Result(rv);
  }
  return trace.Result(RunModify(card, structure, features));
}

CK_RV SPE_ModifyPin(SCARDHANDLE card, uint8_t pinRef, const PinReference& pin, uint8_t confirmPin,
                    uint8_t timeOut, uint8_t timeOut2)
{
  return SPE_UnblockModifyPin(card, pinRef, pin, confirmPin, timeOut, timeOut2, kInsChangeReferenceData);
}

CK_RV SPE_ModifyKey(SCARDHANDLE card, uint8_t keyRef, const PinReference& pin, uint8_t timeOut)
{
  FunctionTrace trace("SPE_ModifyKey");
  PinPadStructure structure;
  if (CK_RV rv = BuildModifyKeyStructure(keyRef, pin, timeOut, structure); rv != CKR_OK) return trace.Result(rv);
  PinPadFeatures features;
  if (CK_RV rv = SPE_GetFeatures(card, features); rv != CKR_OK) return trace.Result(rv);
  return trace.Result(RunModify(card, structure, features));
}

}  // namespace Brelt::MW::Card
