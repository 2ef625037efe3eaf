#pragma once
// One card application, the unit behind every slot: its identifiers, the
// parsed CIAInfo and one object list per directory-file kind.

#include <boost/date_time/posix_time/posix_time_types.hpp>

#include <cstdint>
#include <memory>
#include <string>

#include "BaseTypes.h"
#include "pkcs11/cryptoki.h"
#include "token/CIOObject.h"
#include "token/CardTypes.h"
#include "token/CiaRecords.h"

namespace Brelt::MW::Token {

struct ApplicationInfo {
    ApplicationInfo();
    ~ApplicationInfo();
    ApplicationInfo(const ApplicationInfo&) = delete;
    ApplicationInfo& operator=(const ApplicationInfo&) = delete;

    Bytes DescriptiveString;  // null for applications of the default loader
    Bytes Aid;
    Bytes Fid;
    Bytes IasAid;
    uint32_t CiaLoaded = 0;  // 1 once CIAInfo and ODF have been read
    std::unique_ptr<CIAInfo> CiaInfo;
    CIOObjectLists ObjectLists;
    uint32_t CardOS = UnknownCardOS;
    uint32_t Profile = UnknownProfile;
    // Null while valid; the moment of invalidation afterwards.
    std::unique_ptr<boost::posix_time::ptime> Timestamp;

    // The object list of a kind, null when the application has none.
    CIOObjectList* FindObjectList(CioFileKind kind) const;

    std::string ToString() const;
    static const char* CardOSName(uint32_t os) { return Token::CardOSName(os); }
    static const char* CardProfileName(uint32_t profile) { return Token::CardProfileName(profile); }
};

// Applications are shared: the table holds one reference and every caller
// that looked an application up holds another until it is done, so removing
// an entry from the table never frees an application still in use.
using ApplicationInfoPtr = std::shared_ptr<ApplicationInfo>;

// Big-endian value of the last two of 1 to 4 bytes; 0 for other lengths.
uint16_t HexDataToInt(const MW::Base::HexBinary* data);

// Joins two buffers (either may be null) into a new one, null when both are
// empty. CKR_DEVICE_MEMORY when the joined length would exceed 65535 bytes.
CK_RV Concatenate(const MW::Base::HexBinary* first, const MW::Base::HexBinary* second, Bytes& out);

// The entries of one kind encoded for writing the directory file back,
// followed by one 00 byte. CKR_OK with `out` untouched when the application
// has no list of that kind; CKR_DEVICE_MEMORY when the file would exceed
// 65535 bytes; an object that cannot be encoded gives its result.
CK_RV GetEFData(const ApplicationInfo& application, CioFileKind kind, Bytes& out);

}  // namespace Brelt::MW::Token
