#pragma once

#include <memory>
#include <string>

#include "BaseTypes.h"
#include "OctetStringHolder.h"

namespace Brelt::Crypto {

// A block cipher in a chaining mode with padding, described by a Botan
// transformation text. Every Encrypt or Decrypt is an independent message
// that starts from the stored IV: nothing chains from one call to the next.
class BlockCipher {
public:
    BlockCipher(const BlockCipher&) = delete;
    BlockCipher& operator=(const BlockCipher&) = delete;
    virtual ~BlockCipher();

    virtual std::string GetName() const = 0;

    // Botan's exceptions pass: bad key length, and on Decrypt a ciphertext
    // that is empty, not a multiple of the block size or wrongly padded.
    std::unique_ptr<Brelt::MW::Base::HexBinary> Encrypt(const Brelt::MW::Base::HexBinary* data) const;
    std::unique_ptr<Brelt::MW::Base::HexBinary> Decrypt(const Brelt::MW::Base::HexBinary* data) const;

protected:
    // Takes its own copies of key and IV; the caller keeps its holders.
    BlockCipher(std::string transformation, const Botan::OctetString& key,
                const Botan::OctetString& iv);

private:
    std::unique_ptr<Brelt::MW::Base::HexBinary> Run(const Brelt::MW::Base::HexBinary* data,
                                                    bool encrypt) const;

    std::string transformation_;
    OctetStringHolder key_;
    OctetStringHolder iv_;
};

}  // namespace Brelt::Crypto
