#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "BaseTypes.h"

namespace Brelt::Crypto {

// Encoding methods for RSA encryption. Encode and Decode answer null on any
// failure (bad block, input too long for the key size, unknown hash, a key
// too small for the method): the callers test for null and never see an
// exception from here.
//
// Encoded blocks are key bits / 8 bytes long and carry no leading zero byte
// (OAEP: maskedSeed || maskedDB; PKCS#1 v1.5: 02 || PS || 00 || M). Decode
// takes the same form; a shorter OAEP block is taken as left-padded with
// zeros. With k = key bits / 8 + 1 (the block and its leading zero), OAEP
// needs k >= 2 hLen + 2 and PKCS#1 v1.5 k >= 11; a smaller key makes every
// call fail.
class EmeBase {
public:
    virtual ~EmeBase() = default;
    virtual std::unique_ptr<Brelt::MW::Base::HexBinary> Encode(const Brelt::MW::Base::HexBinary* data) const = 0;
    virtual std::unique_ptr<Brelt::MW::Base::HexBinary> Decode(const Brelt::MW::Base::HexBinary* block) const = 0;
};

// OAEP (EME1) with MGF1 over the same hash. Hash names: "SHA-1", "SHA-224",
// "SHA-256", "SHA-384", "SHA-512"; any other name makes every call fail.
class OAEP final : public EmeBase {
public:
    OAEP(const std::string& hashName, uint32_t keyBits, const std::string& label);
    ~OAEP() override = default;
    std::unique_ptr<Brelt::MW::Base::HexBinary> Encode(const Brelt::MW::Base::HexBinary* data) const override;
    std::unique_ptr<Brelt::MW::Base::HexBinary> Decode(const Brelt::MW::Base::HexBinary* block) const override;

private:
    uint32_t keyBits_;
    std::string hashName_;
    std::string label_;
};

// EME-PKCS1-v1_5 (random non-zero padding). Decode requires a block of
// exactly key bits / 8 bytes.
class EmePkcs1v15 final : public EmeBase {
public:
    explicit EmePkcs1v15(uint32_t keyBits);
    ~EmePkcs1v15() override = default;
    std::unique_ptr<Brelt::MW::Base::HexBinary> Encode(const Brelt::MW::Base::HexBinary* data) const override;
    std::unique_ptr<Brelt::MW::Base::HexBinary> Decode(const Brelt::MW::Base::HexBinary* block) const override;

private:
    uint32_t keyBits_;
};

}  // namespace Brelt::Crypto
