#pragma once
// The process-wide registry of everything the module knows about readers and
// cards: the library-initialised flag, the two PC/SC contexts, the Token,
// Slot and Session records and the secure-channel contexts per card handle.
//
// Every PKCS#11 call looks its slot or session up here; the reader monitor
// adds and invalidates records. An invalidated record counts as absent for
// lookups that ask for valid records and is purged once its mark is more
// than 15 whole seconds old.
//
// Ownership: the registry holds std::shared_ptr references and lookups hand
// out further references. Removing or purging a record only drops the
// registry's reference, so a record stays alive as long as any call that
// looked it up still uses it.
//
// Locking: one recursive mutex guards the lists and the map; it is taken
// after SlotListMutex and TokenMutex, never before them. PC/SC calls that may
// wait on the card (status, reconnect, disconnect) and waits for the
// keep-alive thread are made outside it.

#include <winscard.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "card/InvalidationMark.h"
#include "pkcs11/cryptoki.h"

namespace Brelt::MW::Pkcs11 {
class Session;
}

namespace Brelt::Crypto::EIDStruct {
class CardSecurity;
}

namespace Brelt::MW::Card {

class Slot;
class Token;
class SecureMessaging;

using SlotPtr = std::shared_ptr<Slot>;
using TokenPtr = std::shared_ptr<Token>;
using SessionPtr = std::shared_ptr<Pkcs11::Session>;
using SecureMessagingPtr = std::shared_ptr<SecureMessaging>;

class StatusCache {
 public:
  // Secure-channel context types.
  static constexpr uint32_t kAuthTypeAppContainer = 2;
  static constexpr uint32_t kAuthTypeChipAuthentication = 4;
  // Token ids run from 1 to this number.
  static constexpr uint32_t kMaxTokenId = 999;

  using ClockFunction = RegistryTime (*)();

  virtual ~StatusCache();
  StatusCache(const StatusCache&) = delete;
  StatusCache& operator=(const StatusCache&) = delete;

  // Lifetime and contexts.
  static void Initialize();
  static void Dispose();
  static void InvalidateContent();
  // In a child process after fork(): forgets the parent's registry without
  // touching it. Its records name the parent's card connections, which the
  // child must neither disconnect nor end transactions on, and a parent
  // thread may have held one of its locks at the time of the fork.
  static void AbandonAfterFork();
  static bool GetLibraryInitialized();
  static SCARDCONTEXT GetContextHandle();
  static void SetContextHandle(SCARDCONTEXT context);
  static SCARDCONTEXT GetContextHandleWait();
  static void SetContextHandleWait(SCARDCONTEXT context);

  // The clock of the invalidation marks and the purge. Tests install their
  // own; null restores the monotonic system clock.
  static RegistryTime Now();
  static void SetClock(ClockFunction clock);

  // Slots.
  static void AddNewSlot(SlotPtr slot);
  static std::vector<SlotPtr> GetAllSlots();
  static std::vector<SlotPtr> GetAllInvalidSlots();
  // The valid slot with that id after probing its card (ReconnectIfNeeded).
  static SlotPtr GetSlot(CK_SLOT_ID slotId);
  // The valid slot with that id, without any PC/SC call.
  static SlotPtr GetSlotWithoutProbe(CK_SLOT_ID slotId);
  static std::vector<SlotPtr> GetSlotsForReaderName(const std::string& readerName);
  static std::vector<CK_SLOT_ID> GetAllSlotIDs(bool presentOnly);
  static void InvalidateSlot(CK_SLOT_ID slotId);
  static void InvalidateAllSlots();
  static void RemoveAllSlots();
  static void RemoveAllInvalidSlots();
  static CK_RV GetSlotIDWithEventOccured(CK_SLOT_ID* slotId);
  // Probes the card of the slot and reconnects it after a reset. Nothing
  // while the slot holds an open transaction. A removed or replaced card is
  // never reconnected: the call that uses it fails and the monitor
  // invalidates the slot.
  static void ReconnectIfNeeded(Slot& slot);

  // Sessions. A session handle is an opaque number given at registration,
  // never reused in the life of the process.
  // Registers the session and gives it its handle (0 for a null session).
  // `beforeRegister` runs under the registry lock just before the session
  // joins the list, so that it sees a stable set of other sessions; when it
  // answers false the session is not registered and the result is 0.
  static CK_SESSION_HANDLE AddNewSession(const SessionPtr& session,
                                         const std::function<bool(Pkcs11::Session&)>& beforeRegister = {});
  static SessionPtr GetSession(CK_SESSION_HANDLE handle);
  static std::vector<SessionPtr> GetSessions(CK_SLOT_ID slotId);
  static std::vector<SessionPtr> GetAllSessions();
  static size_t GetSessionCount();
  // Unregisters the session; false when it was not registered.
  static bool RemoveSession(const Pkcs11::Session& session);
  static void InvalidateAllSessions();
  static void RemoveAllInvalidSessions();
  static void RemoveAllSessions();
  // Runs `action` under the registry lock on every valid session whose valid
  // slot uses `card` (the sessions of one card change login state together).
  static void ForEachSessionOfCard(SCARDHANDLE card, const std::function<void(const SessionPtr&)>& action);

  // Tokens.
  static std::vector<TokenPtr> GetAllTokens();
  static TokenPtr GetToken(uint32_t tokenId);
  static int GetTokenIndex(uint32_t tokenId);
  static bool IsToken(SCARDHANDLE card);
  static uint32_t GetTokenID(SCARDHANDLE card);
  static uint32_t GetFreeTokenID();
  static uint32_t GetOrCreateToken(SCARDHANDLE card);
  static void AddNewToken(TokenPtr token);
  static void InvalidateToken(uint32_t tokenId);
  static void InvalidateAllTokens();
  static void RemoveAllTokens();
  static void RemoveAllInvalidTokens();

  // Secure-channel contexts, one per card handle.
  static void ClearAuthTable();
  static void RemoveCardAuth(SCARDHANDLE card, bool forced);
  // Stores `context` of the given type for the card, replacing an earlier one.
  static void StoreAuthContext(SCARDHANDLE card, SecureMessagingPtr context, uint32_t type);
  static SecureMessagingPtr GetAuthContext(const Pkcs11::Session& session);
  static SecureMessagingPtr GetSecureMessaging(const Slot& slot);
  static SecureMessagingPtr EstablishAuthContext(const Pkcs11::Session& session);
  static SecureMessagingPtr CreateSecureMessaging(const Slot* slot, const Pkcs11::Session* session);
  static SecureMessagingPtr EnsureSecureMessaging(const Pkcs11::Session* session);
  static SecureMessagingPtr EnsureSecureMessagingForSlot(const Slot* slot);
  static SecureMessagingPtr RenewSecureMessaging(const Pkcs11::Session* session);

 private:
  using CardSecurityCachePtr = std::shared_ptr<const Crypto::EIDStruct::CardSecurity>;
  struct AuthEntry {
    SecureMessagingPtr context;
    uint32_t type = 0;
    // The card's parsed EF.CardSecurity, reused when the channel is renewed.
    CardSecurityCachePtr cardSecurity;
  };

  // Opens or renews chip authentication and stores the context as type 4.
  static SecureMessagingPtr OpenChipAuthentication(const Slot& slot, const Pkcs11::Session& session, bool renew,
                                                   CardSecurityCachePtr cached);
  static CardSecurityCachePtr CachedCardSecurity(SCARDHANDLE card);

  StatusCache() = default;

  static std::shared_ptr<StatusCache> Instance();

  SlotPtr FindValidSlotLocked(CK_SLOT_ID slotId) const;
  TokenPtr FindValidTokenLocked(uint32_t tokenId) const;
  bool IsTokenLocked(SCARDHANDLE card) const;
  uint32_t GetTokenIDLocked(SCARDHANDLE card) const;
  uint32_t GetFreeTokenIDLocked() const;
  // Marks a valid slot invalid; the caller disconnects the card and
  // invalidates the token outside the lock.
  void MarkSlotInvalidLocked(Slot& slot, RegistryTime now);
  // Marks the token invalid when no valid slot uses it any more; returns it
  // so that the caller can stop its thread and cancel its dialog.
  TokenPtr MarkTokenInvalidLocked(uint32_t tokenId, RegistryTime now);
  void RemoveCardAuthLocked(SCARDHANDLE card, bool forced);
  void ClearAuthTableLocked();
  static void InvalidateTokenOutsideLock(const TokenPtr& token);
  std::vector<SlotPtr> CopySlots(bool valid);

  mutable std::recursive_mutex mutex_;
  bool libraryInitialized_ = false;
  SCARDCONTEXT cardContext_ = 0;
  SCARDCONTEXT waitContext_ = 0;
  std::vector<TokenPtr> tokens_;
  std::vector<SlotPtr> slots_;
  std::vector<SessionPtr> sessions_;  // in registration order, so ordered by handle
  std::map<SCARDHANDLE, AuthEntry> authContexts_;
};

}  // namespace Brelt::MW::Card
