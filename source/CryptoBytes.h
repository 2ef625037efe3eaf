#pragma once

// Small conversions between HexBinary and the byte ranges Botan works with,
// shared by the cryptographic wrappers.

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "BaseTypes.h"

namespace Brelt::Crypto {

using Brelt::MW::Base::HexBinary;

// A new buffer holding a copy of the bytes; throws std::length_error when the
// count does not fit the buffer's signed 32-bit length.
std::unique_ptr<HexBinary> MakeHexBinary(const uint8_t* bytes, size_t count);

template <typename Container>
std::unique_ptr<HexBinary> MakeHexBinary(const Container& bytes)
{
    return MakeHexBinary(bytes.data(), bytes.size());
}

// The bytes of a buffer; a null buffer, a null array or a negative length
// read as no bytes.
std::span<const uint8_t> BytesOf(const HexBinary* buffer);

}  // namespace Brelt::Crypto
