#pragma once

#include <memory>
#include <string>

#include "BaseTypes.h"
#include "OctetStringHolder.h"

namespace Brelt::Crypto {

// ANSI X9.19 retail MAC (single-DES CBC-MAC, last block finished with the
// second key half). The key is 8 or 16 bytes; Botan refuses other lengths.
class RetailMac {
public:
    explicit RetailMac(const OctetStringHolder& key);
    ~RetailMac();
    RetailMac(const RetailMac&) = delete;
    RetailMac& operator=(const RetailMac&) = delete;

    // data must already be padded to a multiple of 8 bytes.
    std::unique_ptr<Brelt::MW::Base::HexBinary> Compute(const Brelt::MW::Base::HexBinary* data) const;
    bool Verify(const Brelt::MW::Base::HexBinary* data, const Brelt::MW::Base::HexBinary* expected) const;

    // Pad with ISO/IEC 9797-1 method 2 first.
    std::unique_ptr<Brelt::MW::Base::HexBinary> ComputePadded(const Brelt::MW::Base::HexBinary* data) const;
    bool VerifyPadded(const Brelt::MW::Base::HexBinary* data, const Brelt::MW::Base::HexBinary* expected) const;

private:
    std::string macName_;
    OctetStringHolder key_;
};

}  // namespace Brelt::Crypto
