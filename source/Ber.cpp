#include "Ber.h"

#include <string>

namespace Brelt::Crypto::Ber {

using MW::Base::HexBinary;
using MW::Base::MWException;

namespace {

constexpr int kBerErrorCode = 100019;

// The line numbers in the messages are fixed so that the texts stay the same
// from release to release (log readers and support staff key on them).
constexpr int kTagErrorLine = 33;
constexpr int kLengthErrorLine = 73;
constexpr int kTagValueErrorLine = 84;

[[noreturn]] void ThrowBerError(int line, const char* text)
{
    throw MWException(kBerErrorCode, MW::Base::ComposeExceptionMessage(".\\source\\Ber", line, text));
}

int SizeOf(const HexBinary* tlv)
{
    return (tlv == nullptr || tlv->data == nullptr || tlv->length < 0) ? 0 : tlv->length;
}

// Index of the first length octet; throws when the buffer ends before it.
int LengthOctetIndex(const HexBinary* tlv)
{
    const int index = GetTagLength(tlv);
    if (index >= SizeOf(tlv)) ThrowBerError(kLengthErrorLine, "Invalid ber tlv");
    return index;
}

}  // namespace

uint8_t GetTagLength(const HexBinary* tlv)
{
    const int size = SizeOf(tlv);
    if (size < 1) ThrowBerError(kTagErrorLine, "Invalid tag!");
    if ((tlv->data[0] & 0x1F) != 0x1F) return 1;
    // Long form: subsequent octets with bit 8 set continue the tag number.
    for (int index = 1; index < size && index < 0xFF; ++index) {
        if ((tlv->data[index] & 0x80) == 0) return static_cast<uint8_t>(index + 1);
    }
    ThrowBerError(kTagErrorLine, "Invalid tag!");
}

uint8_t GetLengthFieldSize(const HexBinary* tlv)
{
    const int index = LengthOctetIndex(tlv);
    const uint8_t first = tlv->data[index];
    if (first < 0x80) return 1;
    // 80 (indefinite length) has no length of its own to read.
    if (first == 0x80) ThrowBerError(kLengthErrorLine, "Invalid ber tlv");
    const int fieldSize = (first & 0x7F) + 1;
    if (index + fieldSize > SizeOf(tlv)) ThrowBerError(kLengthErrorLine, "Invalid ber tlv");
    return static_cast<uint8_t>(fieldSize);
}

uint32_t GetValueLength(const HexBinary* tlv)
{
    const int index = LengthOctetIndex(tlv);
    const int size = SizeOf(tlv);
    const uint8_t first = tlv->data[index];
    if (first < 0x80) return first;
    if (first == 0x81 && index + 2 <= size) return tlv->data[index + 1];
    if (first == 0x82 && index + 3 <= size)
        return (static_cast<uint32_t>(tlv->data[index + 1]) << 8) | tlv->data[index + 2];
    ThrowBerError(kLengthErrorLine, "Invalid ber tlv");
}

uint32_t GetTag(const HexBinary* tlv)
{
    switch (GetTagLength(tlv)) {
    case 1: return tlv->data[0];
    case 2: return (static_cast<uint32_t>(tlv->data[0]) << 8) | tlv->data[1];
    default: ThrowBerError(kTagValueErrorLine, "Invalid ber tlv");
    }
}

}  // namespace Brelt::Crypto::Ber
