#pragma once

#include <array>
#include <cstdint>

namespace Brelt::Crypto {

// Single DES (FIPS 46-3), self-contained. Key bytes are set to odd parity
// before the key schedule, so parity bits never matter.
class Des {
public:
    explicit Des(const uint8_t key[8]);
    ~Des();

    void EncryptBlock(const uint8_t in[8], uint8_t out[8]) const;
    void DecryptBlock(const uint8_t in[8], uint8_t out[8]) const;

private:
    uint64_t Crypt(uint64_t block, bool decrypt) const;

    std::array<uint64_t, 16> roundKeys_{};
};

}  // namespace Brelt::Crypto
