#include "token/CardText.h"

#include <algorithm>

namespace Brelt::MW::Token {

namespace {

// Lead bytes of UTF-8 characters outside ASCII and the range their second
// byte must lie in: no overlong forms, surrogates, code points above
// U+10FFFF or C1 controls.
struct Utf8Lead {
    uint8_t first;
    uint8_t last;
    size_t width;
    uint8_t low;
    uint8_t high;
};

constexpr Utf8Lead kUtf8Leads[] = {
    {0xC2, 0xC2, 2, 0xA0, 0xBF}, {0xC3, 0xDF, 2, 0x80, 0xBF}, {0xE0, 0xE0, 3, 0xA0, 0xBF},
    {0xE1, 0xEC, 3, 0x80, 0xBF}, {0xED, 0xED, 3, 0x80, 0x9F}, {0xEE, 0xEF, 3, 0x80, 0xBF},
    {0xF0, 0xF0, 4, 0x90, 0xBF}, {0xF1, 0xF3, 4, 0x80, 0xBF}, {0xF4, 0xF4, 4, 0x80, 0x8F},
};

// Width of the printable character at `bytes` within `available` bytes; 0
// when none starts there.
size_t CharacterWidth(const uint8_t* bytes, size_t available, CardTextKind kind)
{
    if (bytes[0] >= 0x20 && bytes[0] <= 0x7E) return 1;
    if (kind != CardTextKind::Utf8) return 0;
    for (const Utf8Lead& lead : kUtf8Leads) {
        if (bytes[0] < lead.first || bytes[0] > lead.last) continue;
        if (lead.width > available || bytes[1] < lead.low || bytes[1] > lead.high) return 0;
        for (size_t i = 2; i < lead.width; ++i) {
            if ((bytes[i] & 0xC0) != 0x80) return 0;
        }
        return lead.width;
    }
    return 0;
}

}  // namespace

size_t PrintableTextLength(const uint8_t* bytes, size_t length, size_t room, CardTextKind kind)
{
    if (bytes == nullptr) return 0;
    const size_t limit = std::min(length, room);
    size_t end = 0;
    while (end < limit) {
        const size_t width = CharacterWidth(bytes + end, limit - end, kind);
        if (width == 0) break;
        end += width;
    }
    return end;
}

}  // namespace Brelt::MW::Token
