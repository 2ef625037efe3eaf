#pragma once
// The process-wide table of card applications, keyed by slot id. Entries of
// a card that has gone are marked invalid and removed later; removing an
// entry only drops the table's reference (see ApplicationInfoPtr).

#include <boost/date_time/posix_time/posix_time_types.hpp>

#include <cstdint>
#include <map>
#include <mutex>

#include "pkcs11/cryptoki.h"
#include "token/ApplicationInfo.h"

namespace Brelt::MW::Token {

// Ordered by slot id. A loader fills a local table of the same type.
using ApplicationInfoList = std::map<uint32_t, ApplicationInfoPtr>;

// The global table and the recursive mutex guarding it. Card loading holds
// the mutex for the whole detection and loading of a card.
ApplicationInfoList& GlobalApplicationList();
std::recursive_mutex& ApplicationListMutex();

// The valid entry of a slot id. An empty table answers CKR_OK with a null
// entry; callers must treat a null entry as "no application". A table with
// no valid entry under that id answers CKR_FUNCTION_FAILED.
CK_RV GetApplicationInfo(uint32_t slotId, ApplicationInfoPtr& out);
// The same lookup for a caller that holds the mutex.
CK_RV FindApplicationInfo(uint32_t slotId, ApplicationInfoPtr& out);

// Marks the entry of a slot id invalid (the first mark is kept).
void InvalidateApplicationInfo(uint32_t slotId);
void InvalidateApplicationInfo(uint32_t slotId, const boost::posix_time::ptime& now);
CK_RV InvalidateApplicationList();
// Removes the entries invalidated 16 or more whole seconds ago.
CK_RV RemoveAllInvalidApplications();
CK_RV RemoveAllInvalidApplications(const boost::posix_time::ptime& now);
CK_RV ClearApplicationList();

}  // namespace Brelt::MW::Token
