#pragma once

#include "BlockCipher.h"

namespace Brelt::Crypto {

// Two- or three-key Triple-DES in CBC mode with OneAndZeros padding
// (0x80 then zero bytes; always at least one padding byte).
class TripleDES final : public BlockCipher {
public:
    TripleDES(const OctetStringHolder& key, const OctetStringHolder& iv);

    std::string GetName() const override;
};

}  // namespace Brelt::Crypto
