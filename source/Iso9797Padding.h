#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "BaseTypes.h"

namespace Brelt::Crypto {

// ISO/IEC 9797-1 padding method 2: 0x80, then zero bytes up to a multiple of
// 8; at least one byte is always added. The input is not changed; a null
// input pads like an empty one.
std::unique_ptr<Brelt::MW::Base::HexBinary> PadIso9797Method2(const Brelt::MW::Base::HexBinary* data);

// The same two paddings on plain byte ranges (method 1 adds zero bytes only,
// and nothing when the length is already a multiple of 8).
std::vector<uint8_t> PadMethod2(const uint8_t* data, size_t length);
std::vector<uint8_t> PadMethod1(const uint8_t* data, size_t length);

}  // namespace Brelt::Crypto
