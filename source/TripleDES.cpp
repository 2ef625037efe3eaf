#include "TripleDES.h"

#include <stdexcept>

namespace Brelt::Crypto {

namespace {
const Botan::OctetString& Require(const OctetStringHolder& holder, const char* what)
{
    if (!holder)
        throw std::invalid_argument(what);
    return *holder;
}
}  // namespace

TripleDES::TripleDES(const OctetStringHolder& key, const OctetStringHolder& iv)
    : BlockCipher("TripleDES/CBC/OneAndZeros", Require(key, "TripleDES: no key"),
                  Require(iv, "TripleDES: no IV"))
{
}

std::string TripleDES::GetName() const
{
    return "TripleDES";
}

}  // namespace Brelt::Crypto
