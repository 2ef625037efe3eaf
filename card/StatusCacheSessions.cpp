// StatusCache: the Session records and their handles.

#include <algorithm>
#include <atomic>
#include <utility>

#include "card/RecursiveMutexLock.h"
#include "card/RegistryTrace.h"
#include "card/Slot.h"
#include "card/StatusCache.h"
#include "pkcs11/Session.h"

namespace Brelt::MW::Card {

namespace {

// Session handles come from one counter for the life of the process, also
// across re-initialisation, so a handle never names a later session.
CK_SESSION_HANDLE NextSessionHandle() {
  static std::atomic<CK_SESSION_HANDLE>& next = *new std::atomic<CK_SESSION_HANDLE>(1);
  return next.fetch_add(1);
}

// Sessions are appended in handle order; finds the position of `handle`.
std::vector<SessionPtr>::const_iterator FindHandle(const std::vector<SessionPtr>& sessions,
                                                   CK_SESSION_HANDLE handle) {
  auto it = std::lower_bound(sessions.begin(), sessions.end(), handle,
                             [](const SessionPtr& session, CK_SESSION_HANDLE h) { return session->Handle() < h; });
  if (it != sessions.end() && (*it)->Handle() == handle) return it;
  return sessions.end();
}

}  // namespace

CK_SESSION_HANDLE StatusCache::AddNewSession(const SessionPtr& session,
                                             const std::function<bool(Pkcs11::Session&)>& beforeRegister) {
  FunctionTrace trace("StatusCache::AddNewSession");
  auto cache = Instance();
  if (!cache || !session) return 0;
  RecursiveMutexLock lock(&cache->mutex_);
  if (beforeRegister && !beforeRegister(*session)) return 0;
  const CK_SESSION_HANDLE handle = NextSessionHandle();
  session->AssignHandle(handle);
  cache->sessions_.push_back(session);
  return handle;
}

SessionPtr StatusCache::GetSession(CK_SESSION_HANDLE handle) {
  FunctionTrace trace("StatusCache::GetSession");
  auto cache = Instance();
  if (!cache || handle == 0) return nullptr;
  RecursiveMutexLock lock(&cache->mutex_);
  auto it = FindHandle(cache->sessions_, handle);
  return it != cache->sessions_.end() ? *it : nullptr;
}

std::vector<SessionPtr> StatusCache::GetSessions(CK_SLOT_ID slotId) {
  FunctionTrace trace("StatusCache::GetSessions");
  auto cache = Instance();
  if (!cache) return {};
  RecursiveMutexLock lock(&cache->mutex_);
  std::vector<SessionPtr> result;
  for (const auto& session : cache->sessions_)
    if (session->SlotId() == slotId) result.push_back(session);
  return result;
}

std::vector<SessionPtr> StatusCache::GetAllSessions() {
  FunctionTrace trace("StatusCache::GetAllSessions");
  auto cache = Instance();
  if (!cache) return {};
  RecursiveMutexLock lock(&cache->mutex_);
  std::vector<SessionPtr> result;
  for (const auto& session : cache->sessions_)
    if (session->IsValid()) result.push_back(session);
  return result;
}

size_t StatusCache::GetSessionCount() {
  auto cache = Instance();
  if (!cache) return 0;
  RecursiveMutexLock lock(&cache->mutex_);
  return cache->sessions_.size();
}

bool StatusCache::RemoveSession(const Pkcs11::Session& session) {
  FunctionTrace trace("StatusCache::RemoveSession");
  auto cache = Instance();
  if (!cache) return false;
  SessionPtr removed;  // released after the lock
  RecursiveMutexLock lock(&cache->mutex_);
  auto it = FindHandle(cache->sessions_, session.Handle());
  if (it == cache->sessions_.end() || it->get() != &session) return false;
  removed = *it;
  cache->sessions_.erase(it);
  return true;
}

void StatusCache::InvalidateAllSessions() {
  FunctionTrace trace("StatusCache::InvalidateAllSessions");
  auto cache = Instance();
  if (!cache) return;
  RecursiveMutexLock lock(&cache->mutex_);
  const RegistryTime now = Now();
  for (const auto& session : cache->sessions_)
    if (session->IsValid()) session->SetTimestamp(now);
  cache->ClearAuthTableLocked();
}

void StatusCache::RemoveAllInvalidSessions() {
  FunctionTrace trace("StatusCache::RemoveAllInvalidSessions");
  auto cache = Instance();
  if (!cache) return;
  std::vector<SessionPtr> removed;
  RecursiveMutexLock lock(&cache->mutex_);
  const RegistryTime now = Now();
  auto stale = std::stable_partition(cache->sessions_.begin(), cache->sessions_.end(),
                                     [now](const SessionPtr& session) { return !session->Invalidation().IsStale(now); });
  std::move(stale, cache->sessions_.end(), std::back_inserter(removed));
  cache->sessions_.erase(stale, cache->sessions_.end());
}

void StatusCache::RemoveAllSessions() {
  FunctionTrace trace("StatusCache::RemoveAllSessions");
  auto cache = Instance();
  if (!cache) return;
  std::vector<SessionPtr> removed;
  RecursiveMutexLock lock(&cache->mutex_);
  removed.swap(cache->sessions_);
  cache->ClearAuthTableLocked();
}

void StatusCache::ForEachSessionOfCard(SCARDHANDLE card, const std::function<void(const SessionPtr&)>& action) {
  auto cache = Instance();
  if (!cache || !action) return;
  RecursiveMutexLock lock(&cache->mutex_);
  for (const auto& session : cache->sessions_) {
    if (!session->IsValid()) continue;
    SlotPtr slot = cache->FindValidSlotLocked(session->SlotId());
    if (slot && slot->CardHandle() == card) action(session);
  }
}

}  // namespace Brelt::MW::Card
