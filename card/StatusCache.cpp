// StatusCache: lifetime, PC/SC contexts, clock, slots and the card probe.

#include "card/StatusCache.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <utility>

#include "card/RecursiveMutexLock.h"
#include "card/RegistryTrace.h"
#include "card/Slot.h"
#include "card/Token.h"
#include "pkcs11/Session.h"
#include "token/ApplicationInfoList.h"

namespace Brelt::MW::Card {

namespace {

// The process-wide pointer to the registry, and what must outlive every
// registry instance. Never destroyed: the unload hook may run after the
// module's static destructors and still reaches it.
struct RegistryHolder {
  std::mutex mutex;  // guards `instance` (not the registry's content)
  std::shared_ptr<StatusCache> instance;
  std::atomic<StatusCache::ClockFunction> clock{nullptr};
};

RegistryHolder& Holder() {
  static RegistryHolder& holder = *new RegistryHolder;
  return holder;
}

unsigned long MarkForLog(const InvalidationMark& mark) {
  const auto when = mark.Get();
  return when ? static_cast<unsigned long>(when->time_since_epoch().count()) : 0UL;
}

}  // namespace

StatusCache::~StatusCache() = default;

std::shared_ptr<StatusCache> StatusCache::Instance() {
  RegistryHolder& holder = Holder();
  std::lock_guard lock(holder.mutex);
  return holder.instance;
}

// ---------------------------------------------------------------------------
// Lifetime and contexts

void StatusCache::Initialize() {
  FunctionTrace trace("StatusCache::Initialize");
  if (Instance()) {
    LogMessage(LOG_LEVEL_DATA, true, "StatusCache::Initialize", __LINE__, true,
               "StatusCache Initialize, contect detected, remove all");
    RemoveAllSlots();
    RemoveAllTokens();
    RemoveAllSessions();
    MW::Token::ClearApplicationList();
  }
  std::shared_ptr<StatusCache> fresh(new StatusCache());
  fresh->libraryInitialized_ = true;
  std::shared_ptr<StatusCache> old;
  {
    RegistryHolder& holder = Holder();
    std::lock_guard lock(holder.mutex);
    old = std::exchange(holder.instance, std::move(fresh));
  }
  // `old` goes here, outside every lock, once no call uses it any more.
}

void StatusCache::Dispose() {
  FunctionTrace trace("StatusCache::Dispose");
  LogMessage(LOG_LEVEL_DATA, true, "StatusCache::Dispose", __LINE__, true, "StatusCache Dispose, calling destructor...");
  std::shared_ptr<StatusCache> old;
  {
    RegistryHolder& holder = Holder();
    std::lock_guard lock(holder.mutex);
    old = std::exchange(holder.instance, nullptr);
  }
}

void StatusCache::InvalidateContent() {
  FunctionTrace trace("StatusCache::InvalidateContent");
  InvalidateAllSlots();
  InvalidateAllTokens();
  InvalidateAllSessions();
  MW::Token::InvalidateApplicationList();
  if (auto cache = Instance()) {
    RecursiveMutexLock lock(&cache->mutex_);
    cache->libraryInitialized_ = false;
  }
}

void StatusCache::AbandonAfterFork() {
  RegistryHolder& holder = Holder();
  new (&holder.mutex) std::mutex();
  // Kept alive for good: its destructor would release the parent's records.
  static auto& abandoned = *new std::vector<std::shared_ptr<StatusCache>>;
  abandoned.push_back(std::move(holder.instance));
  holder.instance = nullptr;
}

bool StatusCache::GetLibraryInitialized() {
  static constexpr const char* kName = "StatusCache::GetLibraryInitialized";
  TraceEntering(kName);
  bool initialized = false;
  if (auto cache = Instance()) {
    RecursiveMutexLock lock(&cache->mutex_);
    initialized = cache->libraryInitialized_;
  }
  return TraceLeavingBool(kName, initialized);
}

SCARDCONTEXT StatusCache::GetContextHandle() {
  auto cache = Instance();
  if (!cache) return 0;
  RecursiveMutexLock lock(&cache->mutex_);
  return cache->cardContext_;
}

void StatusCache::SetContextHandle(SCARDCONTEXT context) {
  auto cache = Instance();
  if (!cache) return;
  RecursiveMutexLock lock(&cache->mutex_);
  cache->cardContext_ = context;
}

SCARDCONTEXT StatusCache::GetContextHandleWait() {
  auto cache = Instance();
  if (!cache) return 0;
  RecursiveMutexLock lock(&cache->mutex_);
  return cache->waitContext_;
}

void StatusCache::SetContextHandleWait(SCARDCONTEXT context) {
  auto cache = Instance();
  if (!cache) return;
  RecursiveMutexLock lock(&cache->mutex_);
  cache->waitContext_ = context;
}

RegistryTime StatusCache::Now() {
  const ClockFunction clock = Holder().clock.load();
  return clock != nullptr ? clock() : RegistryClock::now();
}

void StatusCache::SetClock(ClockFunction clock) { Holder().clock.store(clock); }

// ---------------------------------------------------------------------------
// Slots

SlotPtr StatusCache::FindValidSlotLocked(CK_SLOT_ID slotId) const {
  for (const auto& slot : slots_)
    if (slot->IsValid() && slot->SlotId() == slotId) return slot;
  return nullptr;
}

std::vector<SlotPtr> StatusCache::CopySlots(bool valid) {
  RecursiveMutexLock lock(&mutex_);
  std::vector<SlotPtr> result;
  for (const auto& slot : slots_)
    if (slot->IsValid() == valid) result.push_back(slot);
  return result;
}

void StatusCache::AddNewSlot(SlotPtr slot) {
  FunctionTrace trace("StatusCache::AddNewSlot");
  auto cache = Instance();
  if (!cache || !slot) return;
  RecursiveMutexLock lock(&cache->mutex_);
  cache->slots_.push_back(std::move(slot));
}

std::vector<SlotPtr> StatusCache::GetAllSlots() {
  static constexpr const char* kName = "StatusCache::GetAllSlots";
  FunctionTrace trace(kName);
  auto cache = Instance();
  if (!cache) return {};
  auto slots = cache->CopySlots(true);
  if (IsLogLevelEnabled(LOG_LEVEL_DEBUG)) {
    LogMessage(LOG_LEVEL_DEBUG, true, kName, __LINE__, true, "StatusCache::GetAllSlots table size = %zu", slots.size());
    for (const auto& slot : slots) {
      LogMessage(LOG_LEVEL_DEBUG, true, kName, __LINE__, true, "StatusCache::GetAllSlots slot with id  = %lu",
                 slot->SlotId());
      LogMessage(LOG_LEVEL_DEBUG, true, kName, __LINE__, true, "StatusCache::GetAllSlots slot timestamp  = [%08lXh]",
                 MarkForLog(slot->Invalidation()));
    }
  }
  return slots;
}

std::vector<SlotPtr> StatusCache::GetAllInvalidSlots() {
  static constexpr const char* kName = "StatusCache::GetAllInvalidSlots";
  FunctionTrace trace(kName);
  auto cache = Instance();
  if (!cache) return {};
  auto slots = cache->CopySlots(false);
  if (IsLogLevelEnabled(LOG_LEVEL_DEBUG)) {
    LogMessage(LOG_LEVEL_DEBUG, true, kName, __LINE__, true, "StatusCache::GetAllInvalidSlots table size = %zu",
               slots.size());
    for (const auto& slot : slots) {
      LogMessage(LOG_LEVEL_DEBUG, true, kName, __LINE__, true, "StatusCache::GetAllInvalidSlots slot with id  = %lu",
                 slot->SlotId());
      LogMessage(LOG_LEVEL_DEBUG, true, kName, __LINE__, true,
                 "StatusCache::GetAllInvalidSlots slot timestamp  = [%08lXh]", MarkForLog(slot->Invalidation()));
    }
  }
  return slots;
}

SlotPtr StatusCache::GetSlotWithoutProbe(CK_SLOT_ID slotId) {
  auto cache = Instance();
  if (!cache) return nullptr;
  RecursiveMutexLock lock(&cache->mutex_);
  return cache->FindValidSlotLocked(slotId);
}

SlotPtr StatusCache::GetSlot(CK_SLOT_ID slotId) {
  FunctionTrace trace("StatusCache::GetSlot");
  SlotPtr slot = GetSlotWithoutProbe(slotId);
  // The probe may wait on the card: it runs outside the registry lock.
  if (slot) ReconnectIfNeeded(*slot);
  return slot;
}

std::vector<SlotPtr> StatusCache::GetSlotsForReaderName(const std::string& readerName) {
  FunctionTrace trace("StatusCache::GetSlotsForReaderName");
  auto cache = Instance();
  if (!cache) return {};
  RecursiveMutexLock lock(&cache->mutex_);
  std::vector<SlotPtr> result;
  for (const auto& slot : cache->slots_)
    if (slot->IsValid() && slot->ReaderName() == readerName) result.push_back(slot);
  return result;
}

std::vector<CK_SLOT_ID> StatusCache::GetAllSlotIDs(bool presentOnly) {
  FunctionTrace trace("StatusCache::GetAllSlotIDs");
  auto cache = Instance();
  if (!cache) return {};
  RecursiveMutexLock lock(&cache->mutex_);
  std::vector<CK_SLOT_ID> ids;
  for (const auto& slot : cache->slots_)
    if (slot->IsValid() && (!presentOnly || slot->IsTokenPresent())) ids.push_back(slot->SlotId());
  return ids;
}

void StatusCache::MarkSlotInvalidLocked(Slot& slot, RegistryTime now) {
  slot.SetTokenPresent(false);
  slot.SetEvent(true);
  LogMessage(LOG_LEVEL_DEBUG, true, "StatusCache::InvalidateSlot", __LINE__, true,
             "Invalidating slot (from InvalidateSlot) with id %lu", slot.SlotId());
  slot.SetTimestamp(now);
  // The sessions of a token that is gone count as closed from now on; their
  // records are purged with the slot's.
  for (const auto& session : sessions_)
    if (session->SlotId() == slot.SlotId() && session->IsValid()) session->SetTimestamp(now);
}

void StatusCache::InvalidateSlot(CK_SLOT_ID slotId) {
  FunctionTrace trace("StatusCache::InvalidateSlot");
  auto cache = Instance();
  if (!cache) return;
  SlotPtr slot;
  {
    RecursiveMutexLock lock(&cache->mutex_);
    slot = cache->FindValidSlotLocked(slotId);
    if (!slot) return;
    cache->MarkSlotInvalidLocked(*slot, Now());
    cache->RemoveCardAuthLocked(slot->CardHandle(), false);
  }
  // A call that still holds the slot must not be answered from what the
  // module remembers of a card that has gone.
  if (CardMemory* memory = slot->Memory()) memory->ForgetAll();
  SCardDisconnect(slot->CardHandle(), SCARD_LEAVE_CARD);
  InvalidateToken(slot->TokenId());
}

void StatusCache::InvalidateAllSlots() {
  static constexpr const char* kName = "StatusCache::InvalidateAllSlots";
  FunctionTrace trace(kName);
  auto cache = Instance();
  if (!cache) return;
  std::vector<SCARDHANDLE> cards;
  {
    RecursiveMutexLock lock(&cache->mutex_);
    for (const auto& token : cache->tokens_)
      if (token->IsValid()) cards.push_back(token->CardHandle());
    const RegistryTime now = Now();
    for (const auto& slot : cache->slots_) {
      if (!slot->IsValid()) continue;
      LogMessage(LOG_LEVEL_DEBUG, true, kName, __LINE__, true,
                 "Invalidating slot (from InvalidateAllSlots) with id %lu", slot->SlotId());
      slot->SetTimestamp(now);
      if (CardMemory* memory = slot->Memory()) memory->ForgetAll();
    }
  }
  for (SCARDHANDLE card : cards) SCardDisconnect(card, SCARD_LEAVE_CARD);
}

void StatusCache::RemoveAllSlots() {
  FunctionTrace trace("StatusCache::RemoveAllSlots");
  auto cache = Instance();
  if (!cache) return;
  std::vector<SCARDHANDLE> cards;
  std::vector<SlotPtr> removed;
  {
    RecursiveMutexLock lock(&cache->mutex_);
    for (const auto& token : cache->tokens_) {
      cards.push_back(token->CardHandle());
      for (const auto& slot : cache->slots_)
        if (slot->TokenId() == token->TokenId()) cache->RemoveCardAuthLocked(slot->CardHandle(), true);
    }
    removed.swap(cache->slots_);
  }
  for (SCARDHANDLE card : cards) SCardDisconnect(card, SCARD_LEAVE_CARD);
}

void StatusCache::RemoveAllInvalidSlots() {
  FunctionTrace trace("StatusCache::RemoveAllInvalidSlots");
  auto cache = Instance();
  if (!cache) return;
  std::vector<SlotPtr> removed;
  RecursiveMutexLock lock(&cache->mutex_);
  const RegistryTime now = Now();
  auto stale = std::stable_partition(cache->slots_.begin(), cache->slots_.end(),
                                     [now](const SlotPtr& slot) { return !slot->Invalidation().IsStale(now); });
  std::move(stale, cache->slots_.end(), std::back_inserter(removed));
  cache->slots_.erase(stale, cache->slots_.end());
}

CK_RV StatusCache::GetSlotIDWithEventOccured(CK_SLOT_ID* slotId) {
  static constexpr const char* kName = "StatusCache::GetSlotIDWithEventOccured";
  TraceEntering(kName);
  CK_RV rv = CKR_NO_EVENT;
  auto cache = Instance();
  if (cache && slotId != nullptr) {
    RecursiveMutexLock lock(&cache->mutex_);
    // A removed card's slot is reported before a newly added one.
    SlotPtr found;
    for (const auto& slot : cache->slots_)
      if (!slot->IsValid() && slot->HasEvent()) {
        found = slot;
        break;
      }
    if (!found)
      for (const auto& slot : cache->slots_)
        if (slot->IsValid() && slot->HasEvent()) {
          found = slot;
          break;
        }
    if (found && found->TakeEvent()) {
      *slotId = found->SlotId();
      rv = CKR_OK;
    }
  }
  TraceLeaving(kName, rv);
  return rv;
}

void StatusCache::ReconnectIfNeeded(Slot& slot) {
  static constexpr const char* kName = "StatusCache::ReconnectIfNeeded";
  FunctionTrace trace(kName);
  // The transaction keeps the card as it is; a probe would only wait.
  if (slot.IsTransactionOpen()) return;

  char readerName[200];
  DWORD readerLength = sizeof(readerName);
  DWORD state = 0;
  DWORD protocol = 0;
  BYTE atr[MAX_ATR_SIZE];
  DWORD atrLength = sizeof(atr);
  const LONG status =
      SCardStatus(slot.CardHandle(), readerName, &readerLength, &state, &protocol, atr, &atrLength);
  if (status == SCARD_S_SUCCESS) return;
  // Reset, removed or unreachable: nothing remembered of the card holds.
  if (CardMemory* memory = slot.Memory()) memory->ForgetAll();

  // Only a reset or unpowered card is the same card: reconnect it. After a
  // removal the reader may already hold another person's card; reconnecting
  // would hand it the old card's objects and login state.
  if (status != SCARD_W_RESET_CARD && status != SCARD_W_UNPOWERED_CARD) {
    LogMessage(LOG_LEVEL_DEBUG, true, kName, __LINE__, true, "SCardStatus returned %s, not reconnecting",
               GetErrorText(static_cast<unsigned long>(status)));
    return;
  }
  LogMessage(LOG_LEVEL_DEBUG, true, kName, __LINE__, true, "Going to reconnect because SCardStatus returned %s",
             GetErrorText(static_cast<unsigned long>(status)));
  DWORD activeProtocol = 0;
  const LONG reconnect =
      SCardReconnect(slot.CardHandle(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, SCARD_LEAVE_CARD, &activeProtocol);
  if (reconnect != SCARD_S_SUCCESS)
    LogMessage(LOG_LEVEL_ERROR, true, kName, __LINE__, true, "SCardReconnect() failed with result result = %s",
               GetErrorText(static_cast<unsigned long>(reconnect)));
  // The reset ended any secure channel with the card.
  RemoveCardAuth(slot.CardHandle(), true);
}

}  // namespace Brelt::MW::Card
