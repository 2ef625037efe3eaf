// StatusCache: the secure-channel contexts, one per card handle.
//
// Only applications of the application-container and chip-authentication
// profiles open a secure channel, and the application table admits neither
// to a slot: for the slots that exist the map stays empty and every lookup
// gives null, which the callers answer as a failure of the operation that
// needed a channel.

#include <algorithm>
#include <utility>

#include "card/AppContainerChannel.h"
#include "card/CardCommands.h"
#include "card/ChipAuthentication.h"
#include "card/ApduTransport.h"
#include "card/RecursiveMutexLock.h"
#include "card/SecureMessaging.h"
#include "card/RegistryTrace.h"
#include "card/Slot.h"
#include "card/StatusCache.h"
#include "pkcs11/Session.h"

namespace Brelt::MW::Card {

namespace {

// SendApdu's question before every command: the card's chip-authentication
// context, if any.
std::shared_ptr<ApduProtector> FindCardProtector(const Slot& slot) { return StatusCache::GetSecureMessaging(slot); }

// The registered session's last-status word, or `local` for a caller's own
// record that only lends its slot id.
CK_ULONG* LastStatusOf(const Pkcs11::Session& session, CK_ULONG& local) {
  SessionPtr registered = session.Handle() != 0 ? StatusCache::GetSession(session.Handle()) : nullptr;
  local = session.DeviceError();
  return registered.get() == &session ? registered->LastStatusWord() : &local;
}

void TraceLeavingContext(const char* function, const void* context)
{
  if (IsLogLevelEnabled(LOG_LEVEL_TRACE))
    LogMessage(LOG_LEVEL_TRACE, true, nullptr, 0, true, "Leaving %s, result = [%08Xh]", function,
               static_cast<unsigned>(reinterpret_cast<uintptr_t>(context)));
}

}  // namespace

void StatusCache::ClearAuthTableLocked() {
  decltype(authContexts_) removed;
  removed.swap(authContexts_);
}

void StatusCache::RemoveCardAuthLocked(SCARDHANDLE card, bool forced) {
  if (!forced) {
    // Another application of the card may still use the channel.
    const auto users = std::count_if(slots_.begin(), slots_.end(), [card](const SlotPtr& slot) {
      return slot->IsValid() && slot->CardHandle() == card;
    });
    if (users >= 2) return;
  }
  authContexts_.erase(card);
}

void StatusCache::ClearAuthTable() {
  FunctionTrace trace("StatusCache::ClearAuthTable");
  auto cache = Instance();
  if (!cache) return;
  RecursiveMutexLock lock(&cache->mutex_);
  cache->ClearAuthTableLocked();
}

void StatusCache::RemoveCardAuth(SCARDHANDLE card, bool forced) {
  FunctionTrace trace("StatusCache::RemoveCardAuth");
  auto cache = Instance();
  if (!cache) return;
  RecursiveMutexLock lock(&cache->mutex_);
  cache->RemoveCardAuthLocked(card, forced);
}

void StatusCache::StoreAuthContext(SCARDHANDLE card, SecureMessagingPtr context, uint32_t type) {
  FunctionTrace trace("StatusCache::StoreAuthContext");
  auto cache = Instance();
  if (!cache || !context) return;
  // From the first chip-authentication context on, SendApdu asks for the
  // card's context before every command.
  if (type == kAuthTypeChipAuthentication) SetApduProtectorLookup(&FindCardProtector);
  RecursiveMutexLock lock(&cache->mutex_);
  cache->authContexts_[card] = AuthEntry{std::move(context), type, nullptr};
}

SecureMessagingPtr StatusCache::GetAuthContext(const Pkcs11::Session& session) {
  FunctionTrace trace("StatusCache::GetAuthContext");
  SlotPtr slot = GetSlot(session.SlotId());
  auto cache = Instance();
  if (!cache || !slot) return nullptr;
  RecursiveMutexLock lock(&cache->mutex_);
  auto it = cache->authContexts_.find(slot->CardHandle());
  if (it == cache->authContexts_.end()) return nullptr;
  const uint32_t type = it->second.type;
  return type == kAuthTypeChipAuthentication || type == kAuthTypeAppContainer ? it->second.context : nullptr;
}

SecureMessagingPtr StatusCache::GetSecureMessaging(const Slot& slot) {
  FunctionTrace trace("StatusCache::GetSecureMessaging");
  auto cache = Instance();
  if (!cache) return nullptr;
  RecursiveMutexLock lock(&cache->mutex_);
  auto it = cache->authContexts_.find(slot.CardHandle());
  if (it == cache->authContexts_.end() || it->second.type != kAuthTypeChipAuthentication) return nullptr;
  return it->second.context;
}

SecureMessagingPtr StatusCache::EstablishAuthContext(const Pkcs11::Session& session) {
  static constexpr const char* kName = "StatusCache::EstablishAuthContext";
  TraceEntering(kName);
  SlotPtr slot = GetSlot(session.SlotId());
  SecureMessagingPtr context;
  if (slot) {
    const auto key = UnwrapAppContainerKey();
    if (key) {
      CK_ULONG local = 0;
      CK_ULONG* lastStatus = LastStatusOf(session, local);
      context = CitizenAuthenticate(lastStatus, slot.get(), kAppContainerKeyReference, key->data, key->length,
                                    kAppContainerSessionKeyReference);
    } else {
      LogMessage(LOG_LEVEL_ERROR, true, kName, __LINE__, true, "Application-container key does not unwrap");
    }
  }
  if (context) StoreAuthContext(slot->CardHandle(), context, kAuthTypeAppContainer);
  TraceLeavingContext(kName, context.get());
  return context;
}

SecureMessagingPtr StatusCache::OpenChipAuthentication(const Slot& slot, const Pkcs11::Session& session, bool renew,
                                                       CardSecurityCachePtr cached) {
  static constexpr const char* kName = "StatusCache::OpenChipAuthentication";
  CK_ULONG local = 0;
  CK_ULONG* lastStatus = LastStatusOf(session, local);
  std::unique_ptr<SecureMessaging> opened;
  if (renew) {
    RenewChipAuthSecMessaging(lastStatus, &slot, &cached, &opened);
  } else {
    ChipAuthSecMessaging(lastStatus, &slot, &cached, &opened);
  }
  if (!opened) return nullptr;
  opened->SetType(kAuthTypeChipAuthentication);
  SecureMessagingPtr context(std::move(opened));
  LogMessage(LOG_LEVEL_DEBUG, true, kName, __LINE__, true, "New SM instance will be set with hCard: %lu",
             static_cast<unsigned long>(slot.CardHandle()));
  SetApduProtectorLookup(&FindCardProtector);
  auto cache = Instance();
  if (!cache) return context;
  RecursiveMutexLock lock(&cache->mutex_);
  cache->authContexts_[slot.CardHandle()] = AuthEntry{context, kAuthTypeChipAuthentication, std::move(cached)};
  return context;
}

SecureMessagingPtr StatusCache::CreateSecureMessaging(const Slot* slot, const Pkcs11::Session* session) {
  static constexpr const char* kName = "StatusCache::CreateSecureMessaging";
  FunctionTrace trace(kName);
  if (slot == nullptr || session == nullptr) return nullptr;
  SecureMessagingPtr context = GetAuthContext(*session);
  if (!context) {
    LogMessage(LOG_LEVEL_DEBUG, true, kName, __LINE__, true, "SM not found, going to create new SM instance");
    return OpenChipAuthentication(*slot, *session, false, nullptr);
  }
  LogMessage(LOG_LEVEL_DEBUG, true, kName, __LINE__, true, "SM found, test if SM instance is valid");
  if (SelectMF(slot) == CKR_OK) {
    LogMessage(LOG_LEVEL_DEBUG, true, kName, __LINE__, true, "SM instance found and is valid");
    return context;
  }
  LogMessage(LOG_LEVEL_DEBUG, true, kName, __LINE__, true,
             "Select commmand return error, going to create new SM instance");
  CardSecurityCachePtr cached = CachedCardSecurity(slot->CardHandle());
  RemoveCardAuth(slot->CardHandle(), true);
  return OpenChipAuthentication(*slot, *session, true, std::move(cached));
}

SecureMessagingPtr StatusCache::EnsureSecureMessaging(const Pkcs11::Session* session) {
  FunctionTrace trace("StatusCache::EnsureSecureMessaging");
  if (session == nullptr) return nullptr;
  SlotPtr slot = GetSlot(session->SlotId());
  return CreateSecureMessaging(slot.get(), session);
}

SecureMessagingPtr StatusCache::EnsureSecureMessagingForSlot(const Slot* slot) {
  FunctionTrace trace("StatusCache::EnsureSecureMessagingForSlot");
  if (slot == nullptr) return nullptr;
  // A temporary, unregistered session carrying the slot's id.
  const Pkcs11::Session session(slot->SlotId(), CKF_SERIAL_SESSION);
  return CreateSecureMessaging(slot, &session);
}

SecureMessagingPtr StatusCache::RenewSecureMessaging(const Pkcs11::Session* session) {
  FunctionTrace trace("StatusCache::RenewSecureMessaging");
  if (session == nullptr) return nullptr;
  SlotPtr slot = GetSlot(session->SlotId());
  if (!slot) return nullptr;
  return OpenChipAuthentication(*slot, *session, true, CachedCardSecurity(slot->CardHandle()));
}

StatusCache::CardSecurityCachePtr StatusCache::CachedCardSecurity(SCARDHANDLE card) {
  auto cache = Instance();
  if (!cache) return nullptr;
  RecursiveMutexLock lock(&cache->mutex_);
  const auto it = cache->authContexts_.find(card);
  return it == cache->authContexts_.end() ? nullptr : it->second.cardSecurity;
}

}  // namespace Brelt::MW::Card
