#pragma once

#include <memory>
#include <string>

#include "BaseTypes.h"

namespace Botan {
class EC_Group;
}

namespace Brelt::Crypto {

// Elliptic-curve domain parameters, either a named curve (by dotted OID text)
// or explicit parameters (DER ECParameters). Botan's exceptions pass for an
// unknown OID or undecodable parameters.
class EcDomain {
public:
    explicit EcDomain(const std::string& oid);
    explicit EcDomain(const Brelt::MW::Base::HexBinary* encodedParameters);
    ~EcDomain();
    EcDomain(const EcDomain&) = delete;
    EcDomain& operator=(const EcDomain&) = delete;

    // The OID text for a named curve, "" for explicit parameters.
    std::string GetName() const;
    const Botan::EC_Group& GetGroup() const { return *group_; }

private:
    std::unique_ptr<Botan::EC_Group> group_;
    std::string name_;
};

}  // namespace Brelt::Crypto
