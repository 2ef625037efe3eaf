// Conversions between byte buffers and Botan types, apart from the rest of
// BaseTypes.cpp so that code without Botan (the dialog library) can use the
// buffers alone.
#include "BaseTypes.h"

#include <limits>
#include <stdexcept>

namespace Brelt::MW::Base {

HexBinary* BigIntToHexBinary(const Botan::BigInt& value)
{
    const std::vector<uint8_t> bytes = Botan::BigInt::encode(value);
    if (bytes.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
        throw std::length_error("BigIntToHexBinary: number too large");
    return new HexBinary(bytes.data(), static_cast<int32_t>(bytes.size()), true);
}

Botan::BigInt* HexBinaryToBigInt(const HexBinary& buffer)
{
    if (buffer.data == nullptr || buffer.length <= 0) return new Botan::BigInt();
    return new Botan::BigInt(buffer.data, static_cast<size_t>(buffer.length));
}

Botan::BigInt* HexBinaryToBigInt(const HexBinary* buffer)
{
    return buffer != nullptr ? HexBinaryToBigInt(*buffer) : new Botan::BigInt();
}

Botan::secure_vector<uint8_t>* HexBinaryToSecureVector(const HexBinary& buffer)
{
    if (buffer.data == nullptr || buffer.length <= 0) return new Botan::secure_vector<uint8_t>();
    return new Botan::secure_vector<uint8_t>(buffer.data, buffer.data + buffer.length);
}

Botan::secure_vector<uint8_t>* HexBinaryToSecureVector(const HexBinary* buffer)
{
    return buffer != nullptr ? HexBinaryToSecureVector(*buffer)
                             : new Botan::secure_vector<uint8_t>();
}

namespace {

template <typename Bytes>
HexBinary* CopyToHexBinary(const Bytes& bytes)
{
    if (bytes.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
        throw std::length_error("HexBinary: byte region too large");
    return new HexBinary(bytes.data(), static_cast<int32_t>(bytes.size()), true);
}

}  // namespace

HexBinary* SecureVectorToHexBinary(const Botan::secure_vector<uint8_t>& bytes)
{
    return CopyToHexBinary(bytes);
}

HexBinary* BufferToHexBinary(const std::vector<uint8_t>& bytes)
{
    return CopyToHexBinary(bytes);
}

HexBinary* BufferToHexBinary(const Botan::secure_vector<uint8_t>& bytes)
{
    return CopyToHexBinary(bytes);
}

}  // namespace Brelt::MW::Base
