#pragma once
// Common behaviour of the two eID card files that carry security infos:
// lookup by type, the consistency check between two files and the
// chip-authentication domain.

#include <memory>

#include "../BaseTypes.h"
#include "../EcDomain.h"
#include "SecurityInfos.h"

namespace Brelt::Crypto::EIDStruct {

class eIDCardFile {
public:
    virtual ~eIDCardFile();

    // True when either info is null or both have the same encoding.
    virtual bool CompareSecurityInfos(const SecurityInfoBase* a, const SecurityInfoBase* b) const;

    // The file's bytes as read (owned by the file).
    virtual const MW::Base::HexBinary* GetRawData() const;

    // Curve of the file's first ChipAuthenticationDomainParameterInfo; null
    // when the file has none. Throws when its parameters name no usable curve.
    virtual std::unique_ptr<EcDomain> GetChipAuthenticationDomain() const;

    // True when every info type both files hold (chip-authentication domain
    // parameters excepted) has the same first entry in each.
    virtual bool IsConsistentWith(const eIDCardFile* other) const;

    // The security infos of the file (null only while not yet parsed).
    virtual const SecurityInfoList* SecurityInfos() const = 0;

protected:
    eIDCardFile() = default;
    eIDCardFile(const eIDCardFile&) = delete;
    eIDCardFile& operator=(const eIDCardFile&) = delete;

    MW::Base::HexBinary raw_;
};

}  // namespace Brelt::Crypto::EIDStruct
