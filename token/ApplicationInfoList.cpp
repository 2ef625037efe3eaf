#include "token/ApplicationInfoList.h"

#include <boost/date_time/posix_time/posix_time.hpp>
#include "LogTrace.h"
#include "card/RecursiveMutexLock.h"

namespace Brelt::MW::Token {

namespace {
using Lock = Card::RecursiveMutexLock;

boost::posix_time::ptime Now()
{
    return boost::posix_time::microsec_clock::universal_time();
}
}  // namespace

// Both are never destroyed: a process that exits without C_Finalize runs the
// unload hook (and the reader monitor until it is stopped) after the static
// destructors.
ApplicationInfoList& GlobalApplicationList()
{
    static ApplicationInfoList& table = *new ApplicationInfoList();
    return table;
}

std::recursive_mutex& ApplicationListMutex()
{
    static std::recursive_mutex& mutex = *new std::recursive_mutex();
    return mutex;
}

CK_RV FindApplicationInfo(uint32_t slotId, ApplicationInfoPtr& out)
{
    FunctionTrace trace("FindApplicationInfo");
    out.reset();
    const ApplicationInfoList& table = GlobalApplicationList();
    if (table.empty()) {
        LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "Search in empty application table");
        return trace.Result(CKR_OK);
    }
    const bool debug = IsLogLevelEnabled(LOG_LEVEL_DEBUG);
    for (const auto& [id, application] : table) {
        if (debug) {
            LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "Iterating slot ids, id=%d", static_cast<int>(id));
            LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "Slot info: %s", application->ToString().c_str());
        }
        if (id != slotId) continue;
        LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "Found slot with requested id=%d", static_cast<int>(id));
        if (application->Timestamp) {
            LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "Slot timestamp is not NULL!!! id=%d",
                       static_cast<int>(id));
            continue;
        }
        LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "Slot timestamp is NULL id=%d", static_cast<int>(id));
        LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "Returning valid slot with id=%d", static_cast<int>(id));
        out = application;
        return trace.Result(CKR_OK);
    }
    return trace.Result(CKR_FUNCTION_FAILED);
}

CK_RV GetApplicationInfo(uint32_t slotId, ApplicationInfoPtr& out)
{
    FunctionTrace trace("GetApplicationInfo");
    Lock lock(&ApplicationListMutex());
    return trace.Result(FindApplicationInfo(slotId, out));
}

void InvalidateApplicationInfo(uint32_t slotId, const boost::posix_time::ptime& now)
{
    FunctionTrace trace("InvalidateApplicationInfo");
    Lock lock(&ApplicationListMutex());
    const auto found = GlobalApplicationList().find(slotId);
    if (found == GlobalApplicationList().end() || found->second->Timestamp) return;
    found->second->Timestamp = std::make_unique<boost::posix_time::ptime>(now);
}

void InvalidateApplicationInfo(uint32_t slotId)
{
    InvalidateApplicationInfo(slotId, Now());
}

CK_RV InvalidateApplicationList()
{
    FunctionTrace trace("InvalidateApplicationList");
    Lock lock(&ApplicationListMutex());
    const auto now = Now();
    for (auto& [id, application] : GlobalApplicationList()) {
        if (!application->Timestamp) application->Timestamp = std::make_unique<boost::posix_time::ptime>(now);
    }
    return trace.Result(CKR_OK);
}

CK_RV RemoveAllInvalidApplications(const boost::posix_time::ptime& now)
{
    FunctionTrace trace("RemoveAllInvalidApplications");
    Lock lock(&ApplicationListMutex());
    auto& table = GlobalApplicationList();
    for (auto it = table.begin(); it != table.end();) {
        const auto& stamp = it->second->Timestamp;
        if (stamp && (now - *stamp).total_seconds() > 15) {
            it = table.erase(it);
        } else {
            ++it;
        }
    }
    return trace.Result(CKR_OK);
}

CK_RV RemoveAllInvalidApplications()
{
    return RemoveAllInvalidApplications(Now());
}

CK_RV ClearApplicationList()
{
    FunctionTrace trace("ClearApplicationList");
    Lock lock(&ApplicationListMutex());
    GlobalApplicationList().clear();
    return trace.Result(CKR_OK);
}

}  // namespace Brelt::MW::Token
