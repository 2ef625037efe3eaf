#include "CryptoBytes.h"

#include <limits>
#include <stdexcept>

namespace Brelt::Crypto {

std::unique_ptr<HexBinary> MakeHexBinary(const uint8_t* bytes, size_t count)
{
    if (count > static_cast<size_t>(std::numeric_limits<int>::max()))
        throw std::length_error("byte count too large for a buffer");
    if (count == 0)
        return std::make_unique<HexBinary>();
    return std::make_unique<HexBinary>(bytes, static_cast<int>(count), true);
}

std::span<const uint8_t> BytesOf(const HexBinary* buffer)
{
    if (buffer == nullptr || buffer->data == nullptr || buffer->length <= 0)
        return {};
    return {buffer->data, static_cast<size_t>(buffer->length)};
}

}  // namespace Brelt::Crypto
