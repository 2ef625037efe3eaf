#pragma once

// Hex helpers for the cryptography tests.

#include <botan/hex.h>

#include <memory>
#include <string>
#include <vector>

#include "BaseTypes.h"

namespace cryptotest {

inline std::unique_ptr<Brelt::MW::Base::HexBinary> Hex(const std::string& hex)
{
    return std::make_unique<Brelt::MW::Base::HexBinary>(hex);
}

inline std::vector<uint8_t> Bytes(const std::string& hex)
{
    return Botan::hex_decode(hex);
}

inline std::string ToHex(const Brelt::MW::Base::HexBinary* buffer)
{
    return buffer == nullptr ? std::string("<null>") : buffer->ToString();
}

inline std::string ToHex(const std::vector<uint8_t>& bytes)
{
    return Botan::hex_encode(bytes);
}

}  // namespace cryptotest
