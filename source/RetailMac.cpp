#include "RetailMac.h"

#include <botan/filters.h>
#include <botan/hex_filt.h>
#include <botan/pipe.h>

#include <stdexcept>

#include "CryptoBytes.h"
#include "Iso9797Padding.h"

namespace Brelt::Crypto {

RetailMac::RetailMac(const OctetStringHolder& key) : macName_("X9.19-MAC")
{
    if (!key)
        throw std::invalid_argument("RetailMac: no key");
    key_ = MakeOctetStringFromHex(key->to_string());
}

RetailMac::~RetailMac() = default;

std::unique_ptr<Brelt::MW::Base::HexBinary> RetailMac::Compute(const Brelt::MW::Base::HexBinary* data) const
{
    if (data == nullptr)
        throw std::invalid_argument("RetailMac: null data");
    const auto input = BytesOf(data);
    // Built one at a time so that nothing leaks when the key is refused.
    auto mac = std::make_unique<Botan::MAC_Filter>(macName_, *key_);
    auto hex = std::make_unique<Botan::Hex_Encoder>();
    Botan::Pipe pipe(mac.release(), hex.release());
    pipe.process_msg(input.data(), input.size());
    return std::make_unique<Brelt::MW::Base::HexBinary>(pipe.read_all_as_string(0));
}

bool RetailMac::Verify(const Brelt::MW::Base::HexBinary* data, const Brelt::MW::Base::HexBinary* expected) const
{
    if (expected == nullptr)
        return false;
    return Compute(data)->Equals(expected);
}

std::unique_ptr<Brelt::MW::Base::HexBinary> RetailMac::ComputePadded(const Brelt::MW::Base::HexBinary* data) const
{
    const auto padded = PadIso9797Method2(data);
    return Compute(padded.get());
}

bool RetailMac::VerifyPadded(const Brelt::MW::Base::HexBinary* data,
                             const Brelt::MW::Base::HexBinary* expected) const
{
    const auto padded = PadIso9797Method2(data);
    return Verify(padded.get(), expected);
}

}  // namespace Brelt::Crypto
