#include "SessionKeyPair.h"

#include <algorithm>

#include "CryptoBytes.h"

namespace Brelt::Crypto {

namespace {
std::unique_ptr<Brelt::MW::Base::HexBinary> CopyOf(const Brelt::MW::Base::HexBinary* key)
{
    const auto bytes = BytesOf(key);
    return MakeHexBinary(bytes.data(), bytes.size());
}

void Wipe(std::unique_ptr<Brelt::MW::Base::HexBinary>& key)
{
    if (key && key->data != nullptr && key->length > 0)
        std::fill_n(static_cast<volatile unsigned char*>(key->data), key->length, 0);
    key.reset();
}
}  // namespace

SessionKeyPair::SessionKeyPair(const Brelt::MW::Base::HexBinary* firstKey,
                               const Brelt::MW::Base::HexBinary* secondKey)
    : first(CopyOf(firstKey)), second(CopyOf(secondKey))
{
}

SessionKeyPair::SessionKeyPair(const SessionKeyPair& other)
    : first(CopyOf(other.first.get())), second(CopyOf(other.second.get()))
{
}

SessionKeyPair::~SessionKeyPair()
{
    Wipe(first);
    Wipe(second);
}

OctetStringHolder SessionKeyPair::FirstAsKey() const
{
    return MakeOctetStringFromHexBinary(first.get());
}

OctetStringHolder SessionKeyPair::SecondAsKey() const
{
    return MakeOctetStringFromHexBinary(second.get());
}

}  // namespace Brelt::Crypto
