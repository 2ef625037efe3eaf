#pragma once
// EF.CardAccess: a plain SET OF SecurityInfo, readable without
// authentication.

#include "../BaseTypes.h"
#include "SecurityInfos.h"
#include "eIDCardFile.h"

namespace Brelt::Crypto::EIDStruct {

class CardAccess : public eIDCardFile {
public:
    // Parses the file. MWException 100008 for a null, empty or undecodable
    // file; the code of an entry's class for a malformed recognised entry.
    explicit CardAccess(const MW::Base::HexBinary* data);
    ~CardAccess() override;

    const SecurityInfoList& GetSecurityInfos() const { return infos_; }
    const SecurityInfoList* SecurityInfos() const override { return &infos_; }

private:
    SecurityInfoList infos_;
};

// The PIN length the card's PinInfo announces, or 0 when the file holds no
// usable one (no PinInfo, no length number, a length no PIN can have).
// Never throws; malformed files give 0.
uint32_t PinLengthFromCardAccess(const MW::Base::HexBinary* data);

}  // namespace Brelt::Crypto::EIDStruct
