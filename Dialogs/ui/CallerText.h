#pragma once
// Decoding of the optional text a caller shows in a dialog's heading.

#include <QString>
#include <optional>

namespace Brelt::MW::Base {
class HexBinary;
}

// The buffer's byte 0 is a marker; bytes 1 .. end, stopping at the first
// zero byte and never past the end, are UTF-8 text. Null or empty buffers
// give no text (the form keeps its heading); a marker-only buffer gives an
// empty text.
std::optional<QString> DecodeCallerText(const Brelt::MW::Base::HexBinary* text);
