#include "EcDomain.h"

#include <botan/asn1_oid.h>
#include <botan/ec_group.h>

#include <stdexcept>

#include "CryptoBytes.h"

namespace Brelt::Crypto {

EcDomain::EcDomain(const std::string& oid)
    : group_(std::make_unique<Botan::EC_Group>(Botan::OID(oid))), name_(oid)
{
}

EcDomain::EcDomain(const Brelt::MW::Base::HexBinary* encodedParameters)
{
    if (encodedParameters == nullptr)
        throw std::invalid_argument("EcDomain: no parameters");
    const auto ber = BytesOf(encodedParameters);
    group_ = std::make_unique<Botan::EC_Group>(ber.data(), ber.size());
}

EcDomain::~EcDomain() = default;

std::string EcDomain::GetName() const
{
    return name_;
}

}  // namespace Brelt::Crypto
