#pragma once
// One PKCS#11 session: its CK_SESSION_INFO, the contexts of the operations
// that run in it, and the card transactions those operations hold.
//
// Sessions are registered in the StatusCache and shared through
// std::shared_ptr. Closing a session unregisters it; the object itself lives
// until the last call that looked it up has returned, so a call running on
// another thread never sees it freed.
//
// The operation contexts are used only by the token calls, which run under
// TokenMutex, and so do the card commands that write the device error. The
// session state and the held-transaction flags are also read and changed
// without that lock (session information, new sessions, closing) and are
// therefore atomics.

#include <atomic>
#include <cstdint>

#include "DigestEngine.h"
#include "card/InvalidationMark.h"
#include "pkcs11/OperationContext.h"
#include "pkcs11/cryptoki.h"
#include "token/CIOObject.h"
#include "token/FindContext.h"

namespace Brelt::MW::Pkcs11 {

// The operations that keep the card's PC/SC transaction open from their Init
// call to the call that ends them. A session may hold several at once (a
// search and a signature).
enum class HeldTransaction : unsigned {
  Find = 1u << 0,
  Sign = 1u << 1,
  Decrypt = 1u << 2,
};

class Session {
 public:
  Session(CK_SLOT_ID slotId, CK_FLAGS flags);
  virtual ~Session();

  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // The handle the application sees; 0 until the session is registered.
  CK_SESSION_HANDLE Handle() const { return handle_.load(); }
  // Called once by the registry when it registers the session.
  void AssignHandle(CK_SESSION_HANDLE handle) { handle_.store(handle); }

  CK_SLOT_ID SlotId() const { return slotId_; }
  CK_FLAGS Flags() const { return flags_; }
  bool IsReadWrite() const { return (flags_ & CKF_RW_SESSION) != 0; }

  CK_STATE State() const { return state_.load(); }
  void SetState(CK_STATE state) { state_.store(state); }

  // The last-status word of the card commands of this session's operations:
  // the transmit result, then the status word of a failed command. The card
  // commands write it through this pointer (Card::StoreLastStatus) under
  // TokenMutex; the session information reads it without that lock, so
  // every access is atomic.
  CK_ULONG* LastStatusWord() { return &deviceError_; }
  CK_ULONG DeviceError() const { return std::atomic_ref<CK_ULONG>(deviceError_).load(std::memory_order_relaxed); }
  void SetDeviceError(CK_ULONG value) { std::atomic_ref<CK_ULONG>(deviceError_).store(value, std::memory_order_relaxed); }

  // Slot id, state, flags and device error as one record.
  CK_SESSION_INFO Info() const;

  // Thread and process that opened the session.
  uint32_t OwnerThreadId() const { return ownerThreadId_; }
  uint32_t OwnerProcessId() const { return ownerProcessId_; }

  bool IsValid() const { return !invalidation_.IsSet(); }
  const Card::InvalidationMark& Invalidation() const { return invalidation_; }
  void SetTimestamp(Card::RegistryTime now) { invalidation_.Set(now); }

  // Card transactions held by operations of this session. Each one is ended
  // exactly once: the call that takes the flag ends the transaction. An Init
  // call that begins a transaction for an operation which still holds one
  // takes and ends the old one first. Closing a session ends nothing itself:
  // the session's last owner ends what it still holds when the object goes,
  // so a close racing an Init call or a running signature neither misses a
  // transaction nor ends one under a running operation.
  // Records that `operation` now holds a transaction; false when it already
  // held one (the caller then holds one transaction too many).
  bool NoteTransactionHeld(HeldTransaction operation);
  bool HoldsTransaction(HeldTransaction operation) const;
  // Clears the flag; true when it was set (the caller then ends the transaction).
  bool TakeHeldTransaction(HeldTransaction operation);
  // Clears every flag and answers how many were set.
  int TakeAllHeldTransactions();

  FindContext findContext;
  Crypto::DigestContext digestContext;
  OperationContext signContext;
  OperationContext verifyContext;
  OperationContext encryptContext;
  OperationContext decryptContext;
  // Objects created in this session, one list per kind; they go with it.
  Token::CIOObjectLists objectLists;

 private:
  std::atomic<CK_SESSION_HANDLE> handle_{0};
  const CK_SLOT_ID slotId_;
  const CK_FLAGS flags_;
  std::atomic<CK_STATE> state_;
  alignas(std::atomic_ref<CK_ULONG>::required_alignment) mutable CK_ULONG deviceError_ = 0;
  const uint32_t ownerThreadId_;
  const uint32_t ownerProcessId_;
  // The initialisation the session belongs to: the slot ids of a later one
  // name other cards.
  const uint64_t libraryGeneration_;
  std::atomic<unsigned> heldTransactions_{0};
  Card::InvalidationMark invalidation_;
};

}  // namespace Brelt::MW::Pkcs11
