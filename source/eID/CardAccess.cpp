#include "CardAccess.h"

#include "../ASN1Types.h"

namespace Brelt::Crypto::EIDStruct {

using MW::Base::HexBinary;
using MW::Base::MWException;

namespace {

constexpr const char* kSource = ".\\source\\eID\\CardAccess";
constexpr int32_t kInvalidDataCode = 100008;
constexpr int kInvalidDataLine = 17;
constexpr uint8_t kIdSet = 0x31;

[[noreturn]] void ThrowInvalid() {
    throw MWException(kInvalidDataCode,
                      MW::Base::ComposeExceptionMessage(kSource, kInvalidDataLine, "Invalid CardAccess data"));
}

// Largest PIN length a PinInfo may announce; longer values cannot be a PIN
// the card accepts and would make every PIN entry impossible.
constexpr uint32_t kMaxPinLength = 64;

}  // namespace

CardAccess::CardAccess(const HexBinary* data) {
    if (!data || data->length <= 0 || !data->data) ThrowInvalid();
    ASN::ASN1Set set;
    try {
        set.Parse(data);
    } catch (...) {
        ThrowInvalid();
    }
    // The file is a SET OF; anything else is not EF.CardAccess.
    if (static_cast<uint8_t>(set.GetTypeTag() + set.GetClassTag()) != kIdSet) ThrowInvalid();
    for (const ASN::ASN1Object* element : set.GetChildren()) {
        if (!dynamic_cast<const ASN::ASN1Sequence*>(element)) continue;
        if (auto info = SecurityInfoBase::GetInstance(element)) infos_.push_back(std::move(info));
    }
    raw_.CopyFrom(data);
}

CardAccess::~CardAccess() = default;

uint32_t PinLengthFromCardAccess(const HexBinary* data) {
    if (!data || data->length <= 0) return 0;
    try {
        const CardAccess cardAccess(data);
        const auto* pinInfo =
            dynamic_cast<const PinInfo*>(FindSecurityInfoByType(cardAccess.SecurityInfos(), kTypePinInfo));
        if (!pinInfo || !pinInfo->HasPinLength()) return 0;
        const uint32_t length = pinInfo->GetPinLength();
        return length <= kMaxPinLength ? length : 0;
    } catch (...) {
        return 0;
    }
}

}  // namespace Brelt::Crypto::EIDStruct
