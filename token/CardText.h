#pragma once
// Text the card gives (GET DATA answers, directory labels) as it may reach
// an application in a fixed PKCS#11 text field.

#include <cstddef>
#include <cstdint>

namespace Brelt::MW::Token {

enum class CardTextKind {
    Ascii,  // printable ASCII only
    Utf8,   // printable ASCII and whole UTF-8 characters outside ASCII
};

// Length of the leading text of `bytes` that fits `room` bytes and ends
// before the first byte that does not start a whole printable character of
// that kind, so that no NUL, FF or control byte passes and no character is
// cut in half.
size_t PrintableTextLength(const uint8_t* bytes, size_t length, size_t room, CardTextKind kind);

}  // namespace Brelt::MW::Token
