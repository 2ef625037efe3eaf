// StatusCache: the Token records.

#include <algorithm>
#include <utility>

#include "card/RecursiveMutexLock.h"
#include "card/RegistryTrace.h"
#include "card/Slot.h"
#include "card/StatusCache.h"
#include "card/Token.h"

namespace Brelt::MW::Card {

TokenPtr StatusCache::FindValidTokenLocked(uint32_t tokenId) const {
  for (const auto& token : tokens_)
    if (token->IsValid() && token->TokenId() == tokenId) return token;
  return nullptr;
}

bool StatusCache::IsTokenLocked(SCARDHANDLE card) const { return GetTokenIDLocked(card) != 0; }

uint32_t StatusCache::GetTokenIDLocked(SCARDHANDLE card) const {
  for (const auto& token : tokens_) {
    if (!token->IsValid()) continue;
    for (const auto& slot : slots_)
      if (slot->IsValid() && slot->TokenId() == token->TokenId() && slot->CardHandle() == card)
        return token->TokenId();
  }
  return 0;
}

uint32_t StatusCache::GetFreeTokenIDLocked() const {
  // Invalidated tokens keep their id until they are purged.
  for (uint32_t id = 1; id <= kMaxTokenId; ++id) {
    const bool taken =
        std::any_of(tokens_.begin(), tokens_.end(), [id](const TokenPtr& token) { return token->TokenId() == id; });
    if (!taken) return id;
  }
  return 0;
}

std::vector<TokenPtr> StatusCache::GetAllTokens() {
  FunctionTrace trace("StatusCache::GetAllTokens");
  auto cache = Instance();
  if (!cache) return {};
  RecursiveMutexLock lock(&cache->mutex_);
  std::vector<TokenPtr> result;
  for (const auto& token : cache->tokens_)
    if (token->IsValid()) result.push_back(token);
  return result;
}

TokenPtr StatusCache::GetToken(uint32_t tokenId) {
  FunctionTrace trace("StatusCache::GetToken");
  auto cache = Instance();
  if (!cache) return nullptr;
  RecursiveMutexLock lock(&cache->mutex_);
  return cache->FindValidTokenLocked(tokenId);
}

int StatusCache::GetTokenIndex(uint32_t tokenId) {
  FunctionTrace trace("StatusCache::GetTokenIndex");
  auto cache = Instance();
  if (!cache) return -1;
  RecursiveMutexLock lock(&cache->mutex_);
  int index = 0;
  for (const auto& token : cache->tokens_) {
    if (!token->IsValid()) continue;
    if (token->TokenId() == tokenId) return index;
    ++index;
  }
  return -1;
}

bool StatusCache::IsToken(SCARDHANDLE card) {
  static constexpr const char* kName = "StatusCache::IsToken";
  TraceEntering(kName);
  bool found = false;
  if (auto cache = Instance()) {
    RecursiveMutexLock lock(&cache->mutex_);
    found = cache->IsTokenLocked(card);
  }
  return TraceLeavingBool(kName, found);
}

uint32_t StatusCache::GetTokenID(SCARDHANDLE card) {
  FunctionTrace trace("StatusCache::GetTokenID");
  auto cache = Instance();
  if (!cache) return 0;
  RecursiveMutexLock lock(&cache->mutex_);
  return cache->GetTokenIDLocked(card);
}

uint32_t StatusCache::GetFreeTokenID() {
  FunctionTrace trace("StatusCache::GetFreeTokenID");
  auto cache = Instance();
  if (!cache) return 0;
  RecursiveMutexLock lock(&cache->mutex_);
  return cache->GetFreeTokenIDLocked();
}

uint32_t StatusCache::GetOrCreateToken(SCARDHANDLE card) {
  static constexpr const char* kName = "StatusCache::GetOrCreateToken";
  FunctionTrace trace(kName);
  auto cache = Instance();
  if (!cache) return 0;
  RecursiveMutexLock lock(&cache->mutex_);
  LogMessage(LOG_LEVEL_DEBUG, true, kName, __LINE__, true, "Token table size = %zu", cache->tokens_.size());
  if (const uint32_t existing = cache->GetTokenIDLocked(card); existing != 0) return existing;
  const uint32_t id = cache->GetFreeTokenIDLocked();
  LogMessage(LOG_LEVEL_DEBUG, true, kName, __LINE__, true, "New token is created with tokenID = %u", id);
  cache->tokens_.push_back(std::make_shared<Token>(id, card));
  return id;
}

void StatusCache::AddNewToken(TokenPtr token) {
  FunctionTrace trace("StatusCache::AddNewToken");
  auto cache = Instance();
  if (!cache || !token) return;
  RecursiveMutexLock lock(&cache->mutex_);
  cache->tokens_.push_back(std::move(token));
}

TokenPtr StatusCache::MarkTokenInvalidLocked(uint32_t tokenId, RegistryTime now) {
  const bool inUse = std::any_of(slots_.begin(), slots_.end(), [tokenId](const SlotPtr& slot) {
    return slot->IsValid() && slot->TokenId() == tokenId;
  });
  if (inUse) return nullptr;
  TokenPtr token = FindValidTokenLocked(tokenId);
  if (token) token->SetTimestamp(now);
  return token;
}

void StatusCache::InvalidateTokenOutsideLock(const TokenPtr& token) {
  token->CloseKeepConThread();
  // A PIN dialog for a card that is gone can only be cancelled.
  token->CancelVirtualKeyboard();
}

void StatusCache::InvalidateToken(uint32_t tokenId) {
  FunctionTrace trace("StatusCache::InvalidateToken");
  auto cache = Instance();
  if (!cache) return;
  TokenPtr token;
  {
    RecursiveMutexLock lock(&cache->mutex_);
    token = cache->MarkTokenInvalidLocked(tokenId, Now());
  }
  if (token) InvalidateTokenOutsideLock(token);
}

void StatusCache::InvalidateAllTokens() {
  FunctionTrace trace("StatusCache::InvalidateAllTokens");
  auto cache = Instance();
  if (!cache) return;
  std::vector<TokenPtr> invalidated;
  {
    RecursiveMutexLock lock(&cache->mutex_);
    const RegistryTime now = Now();
    for (const auto& token : cache->tokens_) {
      if (!token->IsValid()) continue;
      if (auto marked = cache->MarkTokenInvalidLocked(token->TokenId(), now)) invalidated.push_back(marked);
    }
  }
  for (const auto& token : invalidated) InvalidateTokenOutsideLock(token);
}

void StatusCache::RemoveAllTokens() {
  FunctionTrace trace("StatusCache::RemoveAllTokens");
  auto cache = Instance();
  if (!cache) return;
  std::vector<TokenPtr> removed;
  {
    RecursiveMutexLock lock(&cache->mutex_);
    removed.swap(cache->tokens_);
  }
  // A call may still hold a token; its thread stops now all the same.
  for (const auto& token : removed) token->CloseKeepConThread();
}

void StatusCache::RemoveAllInvalidTokens() {
  static constexpr const char* kName = "StatusCache::RemoveAllInvalidTokens";
  FunctionTrace trace(kName);
  auto cache = Instance();
  if (!cache) return;
  std::vector<TokenPtr> removed;
  {
    RecursiveMutexLock lock(&cache->mutex_);
    const RegistryTime now = Now();
    auto stale = std::stable_partition(cache->tokens_.begin(), cache->tokens_.end(),
                                       [now](const TokenPtr& token) { return !token->Invalidation().IsStale(now); });
    std::move(stale, cache->tokens_.end(), std::back_inserter(removed));
    cache->tokens_.erase(stale, cache->tokens_.end());
    for (const auto& token : removed) {
      for (const auto& slot : cache->slots_) {
        if (slot->TokenId() != token->TokenId()) continue;
        cache->RemoveCardAuthLocked(slot->CardHandle(), true);
        LogMessage(LOG_LEVEL_DEBUG, true, kName, __LINE__, true, "StatusCache::RemoveAllInvalidTokens() call");
        if (slot->IsValid()) cache->MarkSlotInvalidLocked(*slot, now);
      }
    }
  }
  for (const auto& token : removed) SCardDisconnect(token->CardHandle(), SCARD_LEAVE_CARD);
}

}  // namespace Brelt::MW::Card
