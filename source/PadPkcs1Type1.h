#pragma once

#include <cstdint>
#include <memory>

#include "BaseTypes.h"

namespace Brelt::Crypto {

// PKCS#1 v1.5 block type 1 of k = keyBits / 8 bytes:
// 00 01, k - n - 3 bytes FF, 00, the n data bytes.
// Answers null when the data does not fit (n + 3 > k, which includes a key
// size below 24 bits) or the data is null: the block is never overrun.
std::unique_ptr<Brelt::MW::Base::HexBinary> PadPkcs1Type1(const Brelt::MW::Base::HexBinary* data,
                                                          int32_t keyBits);

}  // namespace Brelt::Crypto
