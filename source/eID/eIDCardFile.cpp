#include "eIDCardFile.h"

#include <cstring>

namespace Brelt::Crypto::EIDStruct {

namespace {

// Info types whose first entries must agree between two files. The
// chip-authentication domain parameters (3) may legitimately differ.
constexpr uint32_t kComparedTypes[] = {
    kTypePACEInfo,
    kTypePACEDomainParameterInfo,
    kTypeChipAuthenticationInfo,
    kTypeChipAuthenticationPublicKeyInfo,
    kTypeTerminalAuthenticationInfo,
    kTypeCardInfoLocator,
    kTypeRestrictedIdentificationInfo,
    kTypeRestrictedIdentificationDomainParameterInfo,
    kTypePinInfo,
    kTypeEidSecurityInfo,
};

}  // namespace

eIDCardFile::~eIDCardFile() = default;

bool eIDCardFile::CompareSecurityInfos(const SecurityInfoBase* a, const SecurityInfoBase* b) const {
    if (!a || !b) return true;
    const HexBinaryPtr rawA(a->GetRawData());
    const HexBinaryPtr rawB(b->GetRawData());
    return rawA->Equals(rawB.get());
}

const MW::Base::HexBinary* eIDCardFile::GetRawData() const { return &raw_; }

std::unique_ptr<EcDomain> eIDCardFile::GetChipAuthenticationDomain() const {
    const auto* info = dynamic_cast<const ChipAuthenticationDomainParameterInfo*>(
        FindSecurityInfoByType(SecurityInfos(), kTypeChipAuthenticationDomainParameterInfo));
    if (!info) return nullptr;
    return GetDomainParameters(info->GetDomainParameter());
}

bool eIDCardFile::IsConsistentWith(const eIDCardFile* other) const {
    if (!other) return false;
    const SecurityInfoList* theirs = other->SecurityInfos();
    if (!theirs) return false;
    const SecurityInfoList* ours = SecurityInfos();
    for (const uint32_t type : kComparedTypes) {
        if (!CompareSecurityInfos(FindSecurityInfoByType(ours, type), FindSecurityInfoByType(theirs, type)))
            return false;
    }
    return true;
}

}  // namespace Brelt::Crypto::EIDStruct
