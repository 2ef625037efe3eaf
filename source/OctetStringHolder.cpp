#include "OctetStringHolder.h"

#include <botan/secmem.h>

namespace Brelt::Crypto {

OctetStringHolder MakeOctetStringHolder(const unsigned char* bytes, size_t length)
{
    if (bytes == nullptr)
        length = 0;
    return std::make_unique<Botan::OctetString>(bytes, length);
}

OctetStringHolder MakeOctetStringFromHex(const std::string& hex)
{
    return std::make_unique<Botan::OctetString>(hex);
}

OctetStringHolder MakeOctetStringFromHexBinary(const Brelt::MW::Base::HexBinary* bytes)
{
    if (bytes == nullptr || bytes->data == nullptr || bytes->length <= 0)
        return std::make_unique<Botan::OctetString>();
    // Copy through a secure vector so the temporary is wiped when freed.
    const Botan::secure_vector<uint8_t> copy(bytes->data, bytes->data + bytes->length);
    return std::make_unique<Botan::OctetString>(copy);
}

void ReleaseOctetStringHolder(OctetStringHolder& holder)
{
    holder.reset();
}

void ReleaseKeyHolder(OctetStringHolder& holder)
{
    holder.reset();
}

}  // namespace Brelt::Crypto
