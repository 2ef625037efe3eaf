#pragma once

#include <memory>

#include "BaseTypes.h"
#include "OctetStringHolder.h"

namespace Brelt::Crypto {

// The two session keys a key derivation hands to secure messaging
// (encipherment key first, MAC key second). Owns deep copies of both.
struct SessionKeyPair {
    SessionKeyPair(const Brelt::MW::Base::HexBinary* firstKey,
                   const Brelt::MW::Base::HexBinary* secondKey);
    SessionKeyPair(const SessionKeyPair& other);
    SessionKeyPair& operator=(const SessionKeyPair&) = delete;
    ~SessionKeyPair();

    OctetStringHolder FirstAsKey() const;
    OctetStringHolder SecondAsKey() const;

    std::unique_ptr<Brelt::MW::Base::HexBinary> first;
    std::unique_ptr<Brelt::MW::Base::HexBinary> second;
};

}  // namespace Brelt::Crypto
