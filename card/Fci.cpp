#include "Fci.h"

namespace Brelt::MW::Card {

namespace {

// FCI templates nest two or three levels; anything deeper is not an FCI.
constexpr int kMaxDepth = 8;

TlvValue Find(const uint8_t* bytes, size_t length, uint8_t tag, int depth)
{
    size_t pos = 0;
    while (pos < length) {
        const uint8_t first = bytes[pos];
        if (first == 0x00 || first == 0xFF) {  // padding between elements
            ++pos;
            continue;
        }
        // Tag octets.
        size_t tagEnd = pos + 1;
        if ((first & 0x1F) == 0x1F) {
            while (tagEnd < length && (bytes[tagEnd] & 0x80) != 0) ++tagEnd;
            ++tagEnd;
        }
        if (tagEnd >= length) return {};
        // Length octets: short form, 81 or 82.
        size_t valueLength = bytes[tagEnd];
        size_t valueStart = tagEnd + 1;
        if (valueLength == 0x81 || valueLength == 0x82) {
            const size_t octets = valueLength & 0x7F;
            if (valueStart + octets > length) return {};
            valueLength = 0;
            for (size_t i = 0; i < octets; ++i) valueLength = (valueLength << 8) | bytes[valueStart + i];
            valueStart += octets;
        } else if (valueLength >= 0x80) {
            return {};
        }
        if (valueLength > length - valueStart) return {};

        const bool singleOctetTag = tagEnd == pos + 1;
        if (singleOctetTag && first == tag) return {bytes + valueStart, valueLength};
        if ((first & 0x20) != 0 && depth < kMaxDepth) {
            const TlvValue inner = Find(bytes + valueStart, valueLength, tag, depth + 1);
            if (inner.data != nullptr) return inner;
        }
        pos = valueStart + valueLength;
    }
    return {};
}

}  // namespace

TlvValue FindFciElement(const uint8_t* bytes, size_t length, uint8_t tag)
{
    if (bytes == nullptr) return {};
    return Find(bytes, length, tag, 0);
}

bool GetFciFileSize(const uint8_t* bytes, size_t length, uint32_t* fileSize)
{
    const TlvValue size = FindFciElement(bytes, length, 0x80);
    if (size.data == nullptr || size.length < 1 || size.length > 2 || fileSize == nullptr) return false;
    *fileSize = size.length == 1 ? size.data[0] : (uint32_t(size.data[0]) << 8) | size.data[1];
    return true;
}

}  // namespace Brelt::MW::Card
