#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "BaseTypes.h"

namespace Botan {
class Pipe;
}

namespace Brelt::Crypto {

// SHA-1 / SHA-2 digest, one-shot (Digest) or streaming (Start, Update, Final).
// A streaming object serves one message: Final reads message 0 of its pipe.
class MessageDigest {
public:
    MessageDigest();  // SHA-1
    explicit MessageDigest(const std::string& hashName);
    ~MessageDigest();
    MessageDigest(const MessageDigest&) = delete;
    MessageDigest& operator=(const MessageDigest&) = delete;

    std::unique_ptr<Brelt::MW::Base::HexBinary> Digest(const Brelt::MW::Base::HexBinary* data) const;

    void Start();
    void Update(const unsigned char* bytes, uint32_t length);
    std::unique_ptr<Brelt::MW::Base::HexBinary> Final();

    const std::string& GetHashName() const { return hashName_; }

private:
    std::string hashName_;
    std::unique_ptr<Botan::Pipe> pipe_;
};

}  // namespace Brelt::Crypto
