#include "card/Slot.h"

#include <utility>

namespace Brelt::MW::Card {

Slot::Slot(CK_SLOT_ID slotId, std::string readerName, std::string displayName)
    : slotId_(slotId), readerName_(std::move(readerName)), displayName_(std::move(displayName)) {}

LONG Slot::BeginCardTransaction() {
  const LONG rv = SCardBeginTransaction(cardHandle_);
  if (rv == SCARD_S_SUCCESS) openTransactions_.fetch_add(1);
  if (memory_) memory_->TransactionBegun(rv == SCARD_S_SUCCESS);
  return rv;
}

LONG Slot::EndCardTransaction() {
  const LONG rv = SCardEndTransaction(cardHandle_, SCARD_LEAVE_CARD);
  if (memory_) memory_->TransactionEnded(rv == SCARD_S_SUCCESS);
  if (rv == SCARD_S_SUCCESS) {
    // Never below zero, even when a transaction begun elsewhere on the same
    // handle is ended through this slot.
    int open = openTransactions_.load();
    while (open > 0 && !openTransactions_.compare_exchange_weak(open, open - 1)) {
    }
  }
  return rv;
}

}  // namespace Brelt::MW::Card
