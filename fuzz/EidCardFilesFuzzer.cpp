// Parses arbitrary bytes as EF.CardAccess and as EF.CardSecurity. A refused
// file must be refused with one of the parsers' own MWException codes; an
// accepted one must answer every query without crashing.
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "BaseTypes.h"
#include "eID/CardAccess.h"
#include "eID/CardSecurity.h"

using namespace Brelt::Crypto::EIDStruct;
using Brelt::MW::Base::HexBinary;
using Brelt::MW::Base::MWException;

namespace {

void CheckRefusal(const MWException& e)
{
    if (e.code < 100001 || e.code > 100014) abort();
}

void Query(const eIDCardFile& file, const eIDCardFile& other)
{
    file.IsConsistentWith(&file);
    file.IsConsistentWith(&other);
    for (const auto& info : *file.SecurityInfos()) delete info->GetRawData();
    try {
        file.GetChipAuthenticationDomain();
    } catch (...) {
        // Parameters naming no usable curve are refused by the curve code.
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const HexBinary bytes(data, static_cast<int32_t>(size), true);
    std::unique_ptr<CardAccess> access;
    std::unique_ptr<CardSecurity> security;
    try {
        access = std::make_unique<CardAccess>(&bytes);
    } catch (const MWException& e) {
        CheckRefusal(e);
    }
    try {
        security = std::make_unique<CardSecurity>(&bytes);
    } catch (const MWException& e) {
        CheckRefusal(e);
    }
    if (access) Query(*access, security ? static_cast<const eIDCardFile&>(*security) : *access);
    if (security) Query(*security, access ? static_cast<const eIDCardFile&>(*access) : *security);
    PinLengthFromCardAccess(&bytes);
    return 0;
}
