#include "token/BerTlv.h"

#include <algorithm>

namespace Brelt::MW::Token {

uint16_t GetTlvTagSize(const uint8_t* bytes, uint32_t length)
{
    if (bytes == nullptr || length == 0) return kTlvInvalid;
    if ((bytes[0] & 0x1F) != 0x1F) return 1;
    // Multi-byte tag: continuation bytes have bit 8 set; the last one has not.
    for (uint32_t i = 1; i < length && i < kTlvInvalid; ++i) {
        if (bytes[i] < 0x80) return static_cast<uint16_t>(i + 1);
    }
    return kTlvInvalid;
}

uint16_t GetTlvLengthSize(const uint8_t* bytes, uint32_t length)
{
    const uint16_t tagSize = GetTlvTagSize(bytes, length);
    if (tagSize == kTlvInvalid || tagSize >= length) return kTlvInvalid;
    const uint8_t first = bytes[tagSize];
    if (first < 0x80) return 1;
    const uint32_t count = first & 0x7Fu;
    if (count == 0 || tagSize + 1u + count > length) return kTlvInvalid;
    return static_cast<uint16_t>(1 + count);
}

uint16_t GetTlvValueLength(const uint8_t* bytes, uint32_t length)
{
    const uint16_t tagSize = GetTlvTagSize(bytes, length);
    const uint16_t lengthSize = GetTlvLengthSize(bytes, length);
    if (tagSize == kTlvInvalid || lengthSize == kTlvInvalid) return kTlvInvalid;
    const uint8_t* l = bytes + tagSize;
    switch (lengthSize) {
    case 1: return l[0];
    case 2: return l[0] == 0x81 ? l[1] : kTlvInvalid;
    case 3: return l[0] == 0x82 ? static_cast<uint16_t>(l[1] * 256 + l[2]) : kTlvInvalid;
    default: return kTlvInvalid;
    }
}

void GetTlvHeader(const uint8_t* bytes, uint32_t length, uint16_t* valueLength, uint16_t* headerLength)
{
    *valueLength = kTlvInvalid;
    *headerLength = kTlvInvalid;
    const uint16_t tagSize = GetTlvTagSize(bytes, length);
    const uint16_t lengthSize = GetTlvLengthSize(bytes, length);
    const uint16_t value = GetTlvValueLength(bytes, length);
    if (tagSize == kTlvInvalid || lengthSize == kTlvInvalid || value == kTlvInvalid) return;
    if (static_cast<uint32_t>(tagSize) + lengthSize > length) return;
    *valueLength = value;
    *headerLength = static_cast<uint16_t>(tagSize + lengthSize);
}

uint16_t FindTlvTag(const uint8_t* buffer, uint32_t length, uint16_t tag, uint16_t* position, uint16_t* end)
{
    if (buffer == nullptr || position == nullptr || end == nullptr) return kTlvInvalid;
    while (*position < length) {
        const uint16_t offset = *position;
        const uint8_t* element = buffer + offset;
        const uint32_t remaining = length - offset;
        uint16_t valueLength = 0;
        uint16_t headerLength = 0;
        GetTlvHeader(element, remaining, &valueLength, &headerLength);
        // An element must lie within the answer, or its value would be read past it.
        if (headerLength == kTlvInvalid || static_cast<uint32_t>(headerLength) + valueLength > remaining) {
            return kTlvInvalid;
        }

        if (*end == 0) {
            // Enter the template: its children come next.
            const uint32_t inside = static_cast<uint32_t>(offset) + headerLength;
            *position = static_cast<uint16_t>(std::min<uint32_t>(inside, kTlvInvalid));
            *end = static_cast<uint16_t>(std::min<uint32_t>(inside + valueLength, kTlvInvalid - 1));
        } else {
            const uint32_t next = static_cast<uint32_t>(offset) + headerLength + valueLength;
            *position = static_cast<uint16_t>(std::min<uint32_t>(next, kTlvInvalid));
            if (*position >= *end) *end = 0;
        }

        const bool matches = tag > 0xFF
            ? remaining >= 2 && static_cast<uint16_t>(element[0] << 8 | element[1]) == tag
            : element[0] == tag;
        if (matches) return offset;
    }
    return kTlvInvalid;
}

uint16_t GetTagByteCount(uint16_t tag)
{
    return tag < 256 ? 1 : 2;
}

void PutTlvTag(uint8_t* buffer, uint16_t tag, uint16_t* position)
{
    if (tag >= 256) buffer[(*position)++] = static_cast<uint8_t>(tag >> 8);
    buffer[(*position)++] = static_cast<uint8_t>(tag);
}

void PutTlvLength(uint8_t* buffer, uint16_t length, uint16_t* position)
{
    if (length < 128) {
        buffer[(*position)++] = static_cast<uint8_t>(length);
    } else if (length < 256) {
        buffer[(*position)++] = 0x81;
        buffer[(*position)++] = static_cast<uint8_t>(length);
    } else {
        buffer[(*position)++] = 0x82;
        buffer[(*position)++] = static_cast<uint8_t>(length >> 8);
        buffer[(*position)++] = static_cast<uint8_t>(length);
    }
}

void ReverseBytes(uint8_t* buffer, uint32_t length)
{
    if (buffer != nullptr) std::reverse(buffer, buffer + length);
}

}  // namespace Brelt::MW::Token
