// GetSlotList, GetSlotInfo, GetTokenInfo and WaitForSlotEvent.

#include <algorithm>
#include <cstring>
#include <optional>
#include <thread>

#include <boost/thread/locks.hpp>

#include "LogTrace.h"
#include "Logger.h"
#include "card/CardApplications.h"
#include "card/ConnectionMgr.h"
#include "card/Slot.h"
#include "card/StatusCache.h"
#include "pkcs11/ApiMutexes.h"
#include "pkcs11/InternalOperations.h"
#include "pkcs11/LibraryLifecycle.h"
#include "pkcs11/SessionOperations.h"

namespace Brelt::MW::Pkcs11 {
namespace {

using Card::StatusCache;

// Blank-fills a fixed-size PKCS#11 text field and copies at most its size.
template <size_t N>
void FillBlankPadded(CK_UTF8CHAR (&field)[N], const std::string& text) {
  std::memset(field, ' ', N);
  std::memcpy(field, text.data(), std::min(text.size(), N));
}

}  // namespace

CK_RV GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR pSlotList, CK_ULONG_PTR pulCount) {
  FunctionTrace trace("GetSlotList");
  const CK_ULONG room = *pulCount;
  std::vector<CK_SLOT_ID> ids;
  {
    LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "GetSlotList before mutex...");
    boost::lock_guard<boost::mutex> slotListLock(SlotListMutex());
    LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "GetSlotList after mutex...");
    LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "GetSlotList before calling StatusCache::GetAllSlotIDs");
    ids = StatusCache::GetAllSlotIDs(tokenPresent != CK_FALSE);
    LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "GetSlotList after calling StatusCache::GetAllSlotIDs");
  }
  *pulCount = ids.size();
  if (pSlotList == nullptr) return trace.Result(CKR_OK);
  if (room < ids.size()) {
    LogMessage(LOG_LEVEL_ERROR, true, "GetSlotList", __LINE__, true, "Specified buffer too small");
    LogMessage(LOG_LEVEL_ERROR, true, "GetSlotList", __LINE__, true, "Specified: %lu slots, requested: %lu slots",
               room, static_cast<CK_ULONG>(ids.size()));
    return trace.Result(CKR_BUFFER_TOO_SMALL);
  }
  std::copy(ids.begin(), ids.end(), pSlotList);
  return trace.Result(CKR_OK);
}

CK_RV GetSlotInfo(CK_SLOT_ID slotID, CK_SLOT_INFO_PTR pInfo) {
  FunctionTrace trace("GetSlotInfo");
  std::memset(pInfo, 0, sizeof(*pInfo));
  const Card::SlotPtr slot = StatusCache::GetSlotWithoutProbe(slotID);
  if (!slot) {
    LOG_FAILED("GetSlotInfo", CKR_SLOT_ID_INVALID);
    return trace.Result(CKR_SLOT_ID_INVALID);
  }
  std::optional<Card::ApplicationFacts> application;
  if (const CK_RV rv = Card::Applications()->GetApplicationFacts(slotID, application); rv != CKR_OK) {
    LOG_FAILED("GetSlotInfo", rv);
    return trace.Result(rv);
  }
  if (!application) {
    LOG_FAILED("GetSlotInfo", CKR_FUNCTION_FAILED);
    return trace.Result(CKR_FUNCTION_FAILED);
  }
  FillBlankPadded(pInfo->slotDescription, slot->HasDisplayName() ? slot->DisplayName() : slot->ReaderName());
  FillBlankPadded(pInfo->manufacturerID, application->manufacturerId);
  pInfo->flags = CKF_REMOVABLE_DEVICE | CKF_HW_SLOT;
  if (slot->IsTokenPresent()) pInfo->flags |= CKF_TOKEN_PRESENT;
  pInfo->hardwareVersion = {0, 0};
  pInfo->firmwareVersion = {0, 0};
  return trace.Result(CKR_OK);
}

CK_RV GetTokenInfo(CK_SLOT_ID slotID, CK_TOKEN_INFO_PTR pInfo) {
  FunctionTrace trace("GetTokenInfo");
  const Card::SlotPtr slot = StatusCache::GetSlot(slotID);
  if (!slot) {
    LogMessage(LOG_LEVEL_ERROR, true, "GetTokenInfo", __LINE__, true, "Invalid slot id %lu", slotID);
    return trace.Result(CKR_SLOT_ID_INVALID);
  }
  if (!slot->IsTokenPresent()) {
    LogMessage(LOG_LEVEL_ERROR, true, "GetTokenInfo", __LINE__, true, "Token not present in slot %lu", slotID);
    return trace.Result(CKR_TOKEN_NOT_PRESENT);
  }
  if (const CK_RV rv = Card::Applications()->GetTokenInfoEF(*slot, pInfo); rv != CKR_OK) {
    LOG_FAILED("GetTokenInfo", rv);
    return trace.Result(rv);
  }
  pInfo->ulMaxSessionCount = CK_EFFECTIVELY_INFINITE;
  pInfo->ulMaxRwSessionCount = CK_EFFECTIVELY_INFINITE;
  pInfo->ulSessionCount = GetNumOfSessions(slotID, SessionCount::All);
  pInfo->ulRwSessionCount = GetNumOfSessions(slotID, SessionCount::ReadWrite);
  return trace.Result(CKR_OK);
}

CK_RV WaitForSlotEvent(CK_FLAGS flags, CK_SLOT_ID_PTR pSlot) {
  FunctionTrace trace("WaitForSlotEvent");
  // A wait belongs to the initialisation it began under: when the library
  // is finalised and initialised again within one poll, it still ends.
  const uint64_t generation = LibraryGeneration();
  // Without a monitor thread, each look for an event polls the readers first.
  PollReadersOnCallerThread();
  CK_RV rv = StatusCache::GetSlotIDWithEventOccured(pSlot);
  if (rv == CKR_OK || (flags & CKF_DONT_BLOCK) != 0) return trace.Result(rv);
  // The monitor sets the event flags; the caller's thread looks for them
  // once per poll until one is set or the library is finalised.
  const auto interval = Card::ConnectionMgr::PollInterval();
  const auto stillInitialized = [generation] { return IsLibraryInitialized() && LibraryGeneration() == generation; };
  for (;;) {
    if (!stillInitialized()) return trace.Result(CKR_CRYPTOKI_NOT_INITIALIZED);
    std::this_thread::sleep_for(interval);
    if (!stillInitialized()) return trace.Result(CKR_CRYPTOKI_NOT_INITIALIZED);
    PollReadersOnCallerThread();
    if (StatusCache::GetSlotIDWithEventOccured(pSlot) == CKR_OK) return trace.Result(CKR_OK);
  }
}

}  // namespace Brelt::MW::Pkcs11
