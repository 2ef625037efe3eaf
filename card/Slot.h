#pragma once
// One card application in one reader, seen by the application as one
// PKCS#11 slot. All slots of one card share the card's PC/SC handle and its
// Token (same token id).
//
// Slots are created by the reader monitor, filled in before they are
// registered, and then shared through std::shared_ptr: the registry holds
// one reference, and every call that looked the slot up holds another until
// it returns, so a purge never frees a slot that a call still uses. The
// fields that change after registration are atomics because API threads read
// them while the monitor writes them.

#include <winscard.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "card/CardMemory.h"
#include "card/InvalidationMark.h"
#include "pkcs11/cryptoki.h"

namespace Brelt::MW::Card {

class Slot {
 public:
  // Reader state bits kept from the PC/SC event state.
  static constexpr uint32_t kReaderStateMask = 0x1F0;

  Slot(CK_SLOT_ID slotId, std::string readerName, std::string displayName = {});
  virtual ~Slot() = default;

  Slot(const Slot&) = delete;
  Slot& operator=(const Slot&) = delete;

  CK_SLOT_ID SlotId() const { return slotId_; }
  const std::string& ReaderName() const { return readerName_; }
  // Empty when the slot has no display name of its own.
  const std::string& DisplayName() const { return displayName_; }
  bool HasDisplayName() const { return !displayName_.empty(); }

  // Set by the monitor before the slot is registered, fixed afterwards.
  uint32_t TokenId() const { return tokenId_; }
  void SetTokenId(uint32_t tokenId) { tokenId_ = tokenId; }
  SCARDHANDLE CardHandle() const { return cardHandle_; }
  void SetCardHandle(SCARDHANDLE card) { cardHandle_ = card; }
  // What the module remembers of the card, shared by the card's slots; null
  // when nothing is to be remembered (every command goes to the card).
  CardMemory* Memory() const { return memory_.get(); }
  void SetCardMemory(std::shared_ptr<CardMemory> memory) { memory_ = std::move(memory); }

  uint32_t ReaderState() const { return readerState_.load(); }
  void SetReaderState(uint32_t eventState) { readerState_.store(eventState & kReaderStateMask); }

  bool IsTokenPresent() const { return tokenPresent_.load(); }
  void SetTokenPresent(bool present) { tokenPresent_.store(present); }

  bool HasEvent() const { return eventFlag_.load(); }
  void SetEvent(bool event) { eventFlag_.store(event); }
  // Clears the event flag; true when it was set (each event is taken once).
  bool TakeEvent() { return eventFlag_.exchange(false); }

  // PC/SC transactions on the card handle. pcsc-lite counts nested
  // transactions of one handle, and so does the slot: the card counts as in a
  // transaction while any begun one has not been ended. A failed end leaves
  // the count as it was.
  LONG BeginCardTransaction();
  LONG EndCardTransaction();
  bool IsTransactionOpen() const { return openTransactions_.load() > 0; }
  int OpenTransactionCount() const { return openTransactions_.load(); }

  bool IsValid() const { return !invalidation_.IsSet(); }
  const InvalidationMark& Invalidation() const { return invalidation_; }
  void SetTimestamp(RegistryTime now) { invalidation_.Set(now); }

 private:
  const CK_SLOT_ID slotId_;
  const std::string readerName_;
  const std::string displayName_;
  uint32_t tokenId_ = 0;
  SCARDHANDLE cardHandle_ = 0;
  std::shared_ptr<CardMemory> memory_;
  std::atomic<uint32_t> readerState_{0};
  std::atomic<bool> tokenPresent_{false};
  std::atomic<bool> eventFlag_{false};
  std::atomic<int> openTransactions_{0};
  InvalidationMark invalidation_;
};

}  // namespace Brelt::MW::Card
