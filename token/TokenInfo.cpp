#include "token/TokenInfo.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "LogTrace.h"
#include "PinLengthBounds.h"
#include "card/ApduTransport.h"
#include "card/CardCommands.h"
#include "card/PinPad.h"
#include "card/StatusCache.h"
#include "token/ApplicationInfoList.h"
#include "token/BitStringFlags.h"
#include "token/CardText.h"

namespace Brelt::MW::Token {

namespace {

constexpr char kManufacturer[] = "Rada IT Solutions and Services";

// Bits of a PIN's pwdFlags that mark it as not the user's PIN.
constexpr uint32_t kPwdFlagLocal = 1;
constexpr uint32_t kPwdFlagUnblocking = 6;
constexpr uint32_t kPwdFlagSecurityOfficer = 7;

struct ModelWord {
    uint32_t profile;
    std::vector<uint8_t> iasAid;
    const char* word;
};

const std::vector<ModelWord>& ModelWords()
{
    static const std::vector<ModelWord> words = {
        {SigZepEpProfile, {0xD7, 0x03, 0x00, 0x00, 0x11, 0x00, 0x00, 0x01}, "SIGZEPv1"},
        {SigZepEpProfile, {0xD7, 0x03, 0x00, 0x00, 0x11, 0x00, 0x00, 0x02}, "SIGEPv1"},
        {QesEacProfile, {0xA0, 0x00, 0x00, 0x01, 0x67, 0x45, 0x53, 0x49, 0x47, 0x4E}, "QESEACv1"},
        {QesEacProfile, {0xD7, 0x03, 0x00, 0x00, 0x11, 0x00, 0x00, 0x0F}, "ESEACv1"},
    };
    return words;
}

// Serial bytes the serialNumber field shows (16 hex characters).
constexpr size_t kSerialBytes = 8;
// CardOS 4.x puts production data before the serial in its chip data.
constexpr size_t kCardOS4ProductionBytes = 8;

template <size_t N>
void CopyPadded(CK_UTF8CHAR (&field)[N], const uint8_t* bytes, size_t length)
{
    std::memset(field, ' ', N);
    if (bytes != nullptr) std::memcpy(field, bytes, std::min(length, N));
}

template <size_t N>
void CopyCardText(CK_UTF8CHAR (&field)[N], const uint8_t* bytes, size_t length, CardTextKind kind)
{
    CopyPadded(field, bytes, PrintableTextLength(bytes, length, N, kind));
}

// GET DATA 00 CA 01 p2 with its whole answer.
CK_RV GetCardData(const Card::Slot& slot, uint8_t p2, std::vector<uint8_t>& answer)
{
    answer.clear();
    Card::ApduCommand command;
    Card::ApduResponse response;
    Card::SetApdu(&command, 0x00, 0xCA, 0x01, p2, 0x00, Card::kSwSuccess);
    const CK_RV rv = Card::SendApdu(&slot, &command, &response, nullptr, 0, 0);
    if (rv == CKR_OK && response.data && response.length > 0) {
        answer.assign(response.data.get(), response.data.get() + response.length);
    }
    return rv;
}

std::string ModelOfCardOS5(const ApplicationInfo& application)
{
    std::string word;
    for (const ModelWord& candidate : ModelWords()) {
        const MW::Base::HexBinary* aid = application.IasAid.get();
        if (candidate.profile == application.Profile && aid != nullptr && aid->length >= 0 &&
            static_cast<size_t>(aid->length) == candidate.iasAid.size() &&
            std::memcmp(aid->data, candidate.iasAid.data(), candidate.iasAid.size()) == 0) {
            word = candidate.word;
            break;
        }
    }
    std::string keySize;
    const CIOObjectList* keys = application.FindObjectList(kKindRsaPrivateKey);
    if (keys != nullptr && !keys->objects.empty()) {
        const RSAKeyAttributes* rsa = keys->objects.front()->AsRSAKeyAttributes();
        if (rsa != nullptr && rsa->modulusLength == 2048) keySize = "2k";
        if (rsa != nullptr && rsa->modulusLength == 3072) keySize = "3k";
    }
    return "V50;" + word + ";" + keySize;
}

void SetPinLengths(const ApplicationInfo& application, CK_TOKEN_INFO* info)
{
    const CIOObjectList* pins = application.FindObjectList(kKindPin);
    if (pins == nullptr) return;
    for (const auto& pin : pins->objects) {
        const PasswordAttributes* password = pin->AsPasswordAttributes();
        if (password == nullptr || !password->pwdFlags) {
            LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, "%s", "No password attributes specified");
            continue;
        }
        auto isSet = [&](uint32_t index) {
            bool value = false;
            return GetFlagAtIndex(password->pwdFlags->data, password->pwdFlags->length, index, &value) && value;
        };
        if (isSet(kPwdFlagUnblocking) || isSet(kPwdFlagSecurityOfficer) || isSet(kPwdFlagLocal)) continue;
        // The lengths the PIN keyboard accepts for this entry.
        const Base::PinLengthBounds bounds = Base::EffectivePinLengthBounds(password->minLength, password->maxLength);
        info->ulMinPinLen = static_cast<CK_ULONG>(bounds.minimum);
        info->ulMaxPinLen = static_cast<CK_ULONG>(bounds.maximum);
        return;
    }
}

// The PIN status flags of a CardOS 5.0 card from VERIFY without data.
CK_RV SetPinStatusFlags(const Card::Slot& slot, const ApplicationInfo& application, CK_TOKEN_INFO* info)
{
    const uint8_t reference =
        application.Profile == DefaultProfile || application.Profile == SigGProfile ? 0x01 : 0x00;
    Card::ApduCommand command;
    Card::ApduResponse response;
    Card::SetApdu(&command, 0x00, 0x20, 0x00, reference, Card::kNoLe, Card::kSwNotChecked);
    if (CK_RV rv = Card::SendApdu(&slot, &command, &response, nullptr, 0, 0); rv != CKR_OK) return rv;
    const uint16_t sw = response.sw;
    if (sw == 0x6984) return CKR_OK;  // no PIN initialised: none of the flags
    info->flags |= CKF_USER_PIN_INITIALIZED;
    // 9000: the PIN is verified already (the card does not count tries then).
    if (sw == Card::kSwSuccess) return CKR_OK;
    if (sw == 0x63C1) info->flags |= CKF_USER_PIN_FINAL_TRY;
    if (sw == 0x63C2) info->flags |= CKF_USER_PIN_COUNT_LOW;
    if (sw == 0x6983 || sw == 0x63C0) info->flags |= CKF_USER_PIN_LOCKED;
    if ((sw & 0x63C0) != 0x63C0 && (sw & 0x6983) != 0x6983) {
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, "Unexpected PIN status word %04X", sw);
        return CKR_FUNCTION_FAILED;
    }
    return CKR_OK;
}

bool IsPrivateFlagSet(const CIOObject& object, bool* readable)
{
    *readable = true;
    const CommonObjectAttributes* common = object.GetCommonObjectRecord();
    if (common == nullptr || !common->flags) return false;
    bool value = false;
    // A BIT STRING too short to hold the bit says "not private".
    if (!GetFlagAtIndex(common->flags->data, common->flags->length, 0, &value)) return false;
    return value;
}

bool HasExecuteRule(const CIOObject& key)
{
    const CommonObjectAttributes* common = key.GetCommonObjectRecord();
    if (common == nullptr || common->accessControlRules.empty()) return true;
    for (const AccessControlRule& rule : common->accessControlRules) {
        bool execute = false;
        if (rule.accessMode && GetFlagAtIndex(rule.accessMode->data, rule.accessMode->length, 2, &execute) && execute)
            return true;
    }
    return false;
}

}  // namespace

void ExtractSerialNumber(const uint8_t* bytes, uint32_t length, CK_TOKEN_INFO* info)
{
    static const char digits[] = "0123456789ABCDEF";
    const uint32_t count = std::min<uint32_t>(length, 8);
    for (uint32_t i = 0; i < count; ++i) {
        info->serialNumber[2 * i] = static_cast<CK_CHAR>(digits[bytes[i] >> 4]);
        info->serialNumber[2 * i + 1] = static_cast<CK_CHAR>(digits[bytes[i] & 0x0F]);
    }
}

bool HasPrivateObject(const ApplicationInfo& application)
{
    for (const auto& list : application.ObjectLists) {
        if (!list) continue;
        if (list->kind == kKindRsaPrivateKey) {
            for (const auto& key : list->objects) {
                bool readable = true;
                if (!IsPrivateFlagSet(*key, &readable)) continue;
                if (application.Profile == DefaultProfile || application.Profile == SigGProfile) return true;
                if (application.Profile == SigZepEpProfile && HasExecuteRule(*key)) return true;
            }
        } else if (list->kind == kKindCertificate) {
            for (const auto& certificate : list->objects) {
                bool readable = true;
                if (IsPrivateFlagSet(*certificate, &readable)) return true;
            }
        }
    }
    return false;
}

bool IsTokenPresent(CK_SLOT_ID slotId)
{
    const Card::SlotPtr slot = Card::StatusCache::GetSlotWithoutProbe(slotId);
    const bool present = slot && slot->IsTokenPresent();
    if (present) {
        LogMessage(LOG_LEVEL_TRACE, true, nullptr, 0, true, "Leaving %s: TRUE", "IsTokenPresent");
    } else {
        LogMessage(LOG_LEVEL_INFO, true, nullptr, 0, true, "Leaving %s: FALSE", "IsTokenPresent");
    }
    return present;
}

CK_RV GetTokenInfoEF(const Card::Slot& slot, CK_TOKEN_INFO* info)
{
    FunctionTrace trace("GetTokenInfoEF");
    auto fail = [&](CK_RV rv) {
        LOG_FAILED("GetTokenInfoEF", rv);
        return trace.Result(rv);
    };

    ApplicationInfoPtr application;
    if (CK_RV rv = GetApplicationInfo(static_cast<uint32_t>(slot.SlotId()), application); rv != CKR_OK) return fail(rv);
    if (!application) return fail(CKR_FUNCTION_FAILED);

    // Text fields are blank-padded, never NUL.
    std::memset(info, 0, sizeof(*info));
    std::memset(info->label, ' ', sizeof info->label);
    std::memset(info->manufacturerID, ' ', sizeof info->manufacturerID);
    std::memset(info->model, ' ', sizeof info->model);
    std::memset(info->serialNumber, ' ', sizeof info->serialNumber);
    std::memset(info->utcTime, ' ', sizeof info->utcTime);
    info->ulMaxPinLen = CK_UNAVAILABLE_INFORMATION;
    info->ulMinPinLen = CK_UNAVAILABLE_INFORMATION;

    if (CK_RV rv = Card::SetIntoIasAppDF(nullptr, &slot, application->IasAid.get(), application->Profile,
                                         [] { return false; });
        rv != CKR_OK) {
        return fail(rv);
    }

    std::vector<uint8_t> answer;
    if (GetCardData(slot, 0x82, answer) == CKR_OK && answer.size() >= 2) {
        info->firmwareVersion.major = answer[0];
        info->firmwareVersion.minor = answer[1];
        if (application->CardOS == CardOSv50) {
            const std::string model = ModelOfCardOS5(*application);
            CopyPadded(info->model, reinterpret_cast<const uint8_t*>(model.data()), model.size());
        } else if (application->CardOS == CardOSv43 || application->CardOS == CardOSv44) {
            if (GetCardData(slot, 0x80, answer) == CKR_OK) {
                const std::string text(answer.begin(), answer.end());
                const size_t copyright = text.find("(C)");
                if (copyright != std::string::npos) {
                    CopyCardText(info->model, answer.data(), copyright, CardTextKind::Ascii);
                }
            }
        }
    }

    // Memory and hardware version; a short answer leaves the fields cleared.
    if (CK_RV rv = GetCardData(slot, 0x89, answer); rv != CKR_OK) return fail(rv);
    if (answer.size() >= 4) {
        const CK_ULONG total = (static_cast<CK_ULONG>(answer[2]) << 8 | answer[3]) * 1024;
        info->ulTotalPrivateMemory = total;
        info->ulTotalPublicMemory = total;
    }
    if (answer.size() >= 6) {
        info->hardwareVersion.major = answer[4];
        info->hardwareVersion.minor = answer[5];
    }
    if (CK_RV rv = GetCardData(slot, 0x8A, answer); rv != CKR_OK) return fail(rv);
    if (answer.size() >= 2) {
        const CK_ULONG free = static_cast<CK_ULONG>(answer[0]) << 8 | answer[1];
        info->ulFreePrivateMemory = free;
        info->ulFreePublicMemory = free;
    }

    // An answer too short to hold the whole serial gives the serial of a
    // card whose serial cannot be read, never a part of one.
    static const uint8_t kNoSerial[kSerialBytes] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    const size_t serialOffset =
        application->CardOS == CardOSv43 || application->CardOS == CardOSv44 ? kCardOS4ProductionBytes : 0;
    if (GetCardData(slot, 0x81, answer) != CKR_OK || answer.size() < serialOffset + kSerialBytes) {
        ExtractSerialNumber(kNoSerial, sizeof kNoSerial, info);
    } else {
        ExtractSerialNumber(answer.data() + serialOffset, static_cast<uint32_t>(answer.size() - serialOffset), info);
    }

    if (const CIAInfo* cia = application->CiaInfo.get()) {
        // The label is a UTF8String: its characters outside ASCII stay.
        if (cia->label && cia->label->length > 0) {
            CopyCardText(info->label, cia->label->data, static_cast<size_t>(cia->label->length), CardTextKind::Utf8);
        }
        if (cia->manufacturerID) {
            CopyPadded(info->manufacturerID, reinterpret_cast<const uint8_t*>(kManufacturer), sizeof kManufacturer - 1);
        }
    }

    SetPinLengths(*application, info);

    if (application->CardOS == CardOSv50) {
        if (CK_RV rv = SetPinStatusFlags(slot, *application, info); rv != CKR_OK) return fail(rv);
        if (application->Profile == SigZepEpProfile || application->Profile == QesEacProfile) {
            info->flags |= CKF_PROTECTED_AUTHENTICATION_PATH;
        }
    } else {
        info->flags |= CKF_USER_PIN_INITIALIZED;
    }
    info->flags |= CKF_RNG | CKF_TOKEN_INITIALIZED;
    if (Card::SPE_HasPinPad(slot)) info->flags |= CKF_PROTECTED_AUTHENTICATION_PATH;
    if (HasPrivateObject(*application)) info->flags |= CKF_LOGIN_REQUIRED;
    return trace.Result(CKR_OK);
}

}  // namespace Brelt::MW::Token
