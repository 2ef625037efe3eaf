#include "PinPad.h"

#include <reader.h>

#include <array>

namespace cardsim::detail {

namespace {

// CCID drivers announce feature n under SCARD_CTL_CODE(0x330000 + n).
constexpr DWORD kFeatureCodeBase = SCARD_CTL_CODE(0x330000);

constexpr size_t kVerifyHeader = 19;  // PIN_VERIFY_STRUCTURE up to abData
constexpr size_t kModifyHeader = 24;  // PIN_MODIFY_STRUCTURE up to abData
constexpr size_t kApduHeader = 5;     // CLA INS P1 P2 Lc in abData

uint32_t LittleEndian32(const Bytes& bytes, size_t offset)
{
    return uint32_t(bytes[offset]) | uint32_t(bytes[offset + 1]) << 8 |
           uint32_t(bytes[offset + 2]) << 16 | uint32_t(bytes[offset + 3]) << 24;
}

KeypadOutcome ReaderAnswers(uint16_t sw)
{
    return KeypadOutcome{std::nullopt, sw};
}

// The bmFormatString / bmPINBlockString / bmPINLengthFormat triple.
struct PinFormat {
    unsigned positionBits = 0;  // PIN position from the start of the data field
    bool rightJustified = false;
    unsigned type = 0;          // 0 binary, 1 BCD, 2 ASCII
    unsigned blockBytes = 0;    // PIN block size, 0: not given
    unsigned lengthBits = 0;    // size of a PIN length field, 0: none
    unsigned lengthPositionBits = 0;
};

PinFormat ReadFormat(uint8_t formatString, uint8_t blockString, uint8_t lengthFormat)
{
    PinFormat format;
    const bool byteUnits = (formatString & 0x80) != 0;
    const unsigned position = (formatString >> 3) & 0x0F;
    format.positionBits = byteUnits ? position * 8 : position;
    format.rightJustified = (formatString & 0x04) != 0;
    format.type = formatString & 0x03;
    format.blockBytes = blockString & 0x0F;
    format.lengthBits = blockString >> 4;
    const unsigned lengthPosition = lengthFormat & 0x0F;
    format.lengthPositionBits = (lengthFormat & 0x10) != 0 ? lengthPosition * 8 : lengthPosition;
    return format;
}

// The APDU in abData must hold at least its header and the data its Lc names.
bool DataFieldPresent(const Bytes& apdu)
{
    return apdu.size() >= kApduHeader && apdu.size() >= kApduHeader + apdu[4];
}

void WriteNibble(Bytes& apdu, size_t bit, uint8_t value)
{
    uint8_t& target = apdu[bit / 8];
    if (bit % 8 == 0) {
        target = uint8_t((target & 0x0F) | (value << 4));
    } else {
        target = uint8_t((target & 0xF0) | (value & 0x0F));
    }
}

// Writes the digits into the data field, `insertion` bytes after its start.
// False when the format is unusable or the PIN would leave the data field.
bool PlacePin(Bytes& apdu, size_t insertion, const std::string& pin, const PinFormat& format)
{
    if (format.type == 3) {
        return false;
    }
    const size_t digitBits = format.type == 1 ? 4 : 8;
    const size_t pinBits = pin.size() * digitBits;
    size_t startBits = format.positionBits;
    if (format.blockBytes != 0 && pinBits > format.blockBytes * 8u) {
        return false;
    }
    if (format.rightJustified) {
        if (format.blockBytes == 0) {
            return false;
        }
        startBits += format.blockBytes * 8u - pinBits;
    }
    const size_t dataStart = kApduHeader * 8;
    const size_t dataEnd = (kApduHeader + apdu[4]) * 8;
    const size_t first = dataStart + insertion * 8 + startBits;
    if (first % digitBits != 0 || first + pinBits > dataEnd) {
        return false;
    }
    for (size_t i = 0; i < pin.size(); ++i) {
        const uint8_t digit = uint8_t(pin[i] - '0');
        const size_t bit = first + i * digitBits;
        if (format.type == 1) {
            WriteNibble(apdu, bit, digit & 0x0F);
        } else {
            apdu[bit / 8] = format.type == 2 ? uint8_t(pin[i]) : digit;
        }
    }
    return true;
}

bool PlaceLength(Bytes& apdu, size_t digits, const PinFormat& format)
{
    if (format.lengthBits == 0) {
        return true;
    }
    const size_t bit = kApduHeader * 8 + format.lengthPositionBits;
    const size_t dataEnd = (kApduHeader + apdu[4]) * 8;
    if (format.lengthBits == 8 && bit % 8 == 0 && bit + 8 <= dataEnd && digits <= 0xFF) {
        apdu[bit / 8] = uint8_t(digits);
        return true;
    }
    if (format.lengthBits == 4 && bit % 4 == 0 && bit + 4 <= dataEnd && digits <= 0x0F) {
        WriteNibble(apdu, bit, uint8_t(digits));
        return true;
    }
    return false;
}

bool LengthInRange(const std::string& pin, uint8_t minDigits, uint8_t maxDigits)
{
    return pin.size() >= minDigits && pin.size() <= maxDigits;
}

}  // namespace

DWORD FeatureControlCode(uint8_t feature)
{
    return kFeatureCodeBase + feature;
}

std::optional<uint8_t> FeatureOfControlCode(DWORD code)
{
    if (code > kFeatureCodeBase && code <= kFeatureCodeBase + 0xFF) {
        return uint8_t(code - kFeatureCodeBase);
    }
    return std::nullopt;
}

namespace {

std::vector<uint8_t> AnnouncedFeatures(PinPad pinPad)
{
    switch (pinPad) {
    case PinPad::None:
        return {};
    case PinPad::Direct:
        return {FEATURE_VERIFY_PIN_DIRECT, FEATURE_MODIFY_PIN_DIRECT};
    case PinPad::StartFinish:
        return {FEATURE_VERIFY_PIN_START, FEATURE_VERIFY_PIN_FINISH, FEATURE_MODIFY_PIN_START,
                FEATURE_MODIFY_PIN_FINISH};
    case PinPad::VerifyDirectOnly:
        return {FEATURE_VERIFY_PIN_DIRECT};
    case PinPad::ManyFeatures: {
        std::vector<uint8_t> all;
        for (uint8_t tag = FEATURE_VERIFY_PIN_START; tag <= FEATURE_SET_SPE_MESSAGE; ++tag) {
            all.push_back(tag);
        }
        return all;
    }
    }
    return {};
}

}  // namespace

bool Offers(PinPad pinPad, uint8_t feature)
{
    static constexpr std::array<uint8_t, 6> kWorking = {
        FEATURE_VERIFY_PIN_START, FEATURE_VERIFY_PIN_FINISH, FEATURE_MODIFY_PIN_START,
        FEATURE_MODIFY_PIN_FINISH, FEATURE_VERIFY_PIN_DIRECT, FEATURE_MODIFY_PIN_DIRECT};
    bool working = false;
    for (const uint8_t tag : kWorking) {
        working = working || tag == feature;
    }
    if (!working) {
        return false;
    }
    for (const uint8_t tag : AnnouncedFeatures(pinPad)) {
        if (tag == feature) {
            return true;
        }
    }
    return false;
}

Bytes FeatureList(PinPad pinPad)
{
    Bytes list;
    for (const uint8_t tag : AnnouncedFeatures(pinPad)) {
        const DWORD code = FeatureControlCode(tag);
        list.insert(list.end(), {tag, 4, uint8_t(code >> 24), uint8_t(code >> 16),
                                 uint8_t(code >> 8), uint8_t(code)});
    }
    return list;
}

KeypadOutcome BuildVerifyApdu(const Bytes& structure, const PinEntry& entry)
{
    if (structure.size() < kVerifyHeader ||
        LittleEndian32(structure, 15) != structure.size() - kVerifyHeader) {
        return ReaderAnswers(kSwBadStructure);
    }
    Bytes apdu(structure.begin() + kVerifyHeader, structure.end());
    if (!DataFieldPresent(apdu)) {
        return ReaderAnswers(kSwBadStructure);
    }
    if (entry.kind == PinEntry::Kind::Cancel) {
        return ReaderAnswers(kSwEntryCancelled);
    }
    if (entry.kind == PinEntry::Kind::Timeout) {
        return ReaderAnswers(kSwEntryTimeout);
    }
    const uint8_t maxDigits = structure[5];
    const uint8_t minDigits = structure[6];
    if (!LengthInRange(entry.pin, minDigits, maxDigits)) {
        return ReaderAnswers(kSwPinLengthRange);
    }
    const PinFormat format = ReadFormat(structure[2], structure[3], structure[4]);
    if (!PlacePin(apdu, 0, entry.pin, format) || !PlaceLength(apdu, entry.pin.size(), format)) {
        return ReaderAnswers(kSwBadStructure);
    }
    return KeypadOutcome{std::move(apdu), 0};
}

KeypadOutcome BuildModifyApdu(const Bytes& structure, const PinEntry& entry)
{
    if (structure.size() < kModifyHeader ||
        LittleEndian32(structure, 20) != structure.size() - kModifyHeader) {
        return ReaderAnswers(kSwBadStructure);
    }
    Bytes apdu(structure.begin() + kModifyHeader, structure.end());
    const PinFormat format = ReadFormat(structure[2], structure[3], structure[4]);
    // A PIN length field would be ambiguous with two PINs in one command.
    if (!DataFieldPresent(apdu) || format.lengthBits != 0) {
        return ReaderAnswers(kSwBadStructure);
    }
    if (entry.kind == PinEntry::Kind::Cancel) {
        return ReaderAnswers(kSwEntryCancelled);
    }
    if (entry.kind == PinEntry::Kind::Timeout) {
        return ReaderAnswers(kSwEntryTimeout);
    }
    const uint8_t offsetOld = structure[5];
    const uint8_t offsetNew = structure[6];
    const uint8_t maxDigits = structure[7];
    const uint8_t minDigits = structure[8];
    const bool asksCurrent = (structure[9] & 0x02) != 0;
    const bool asksConfirmation = (structure[9] & 0x01) != 0;
    if ((asksCurrent && !LengthInRange(entry.pin, minDigits, maxDigits)) ||
        !LengthInRange(entry.newPin, minDigits, maxDigits)) {
        return ReaderAnswers(kSwPinLengthRange);
    }
    if (asksConfirmation && entry.kind == PinEntry::Kind::MismatchedConfirmation) {
        return ReaderAnswers(kSwConfirmationMismatch);
    }
    if ((asksCurrent && !PlacePin(apdu, offsetOld, entry.pin, format)) ||
        !PlacePin(apdu, offsetNew, entry.newPin, format)) {
        return ReaderAnswers(kSwBadStructure);
    }
    return KeypadOutcome{std::move(apdu), 0};
}

}  // namespace cardsim::detail
