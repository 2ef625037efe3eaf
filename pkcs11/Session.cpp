#include "pkcs11/Session.h"

#include <bit>

#include "Logger.h"
#include "card/Slot.h"
#include "card/StatusCache.h"
#include "pkcs11/CallerIds.h"
#include "pkcs11/LibraryLifecycle.h"

namespace Brelt::MW::Pkcs11 {

Session::Session(CK_SLOT_ID slotId, CK_FLAGS flags)
    : slotId_(slotId),
      flags_(flags),
      state_((flags & CKF_RW_SESSION) != 0 ? CKS_RW_PUBLIC_SESSION : CKS_RO_PUBLIC_SESSION),
      ownerThreadId_(CallerThreadId()),
      ownerProcessId_(CallerProcessId()),
      libraryGeneration_(LibraryGeneration()) {}

Session::~Session() {
  // Transactions still held by operations of a closed session: nothing else
  // will end them, and every other process would be locked out of the card.
  const int held = TakeAllHeldTransactions();
  if (held == 0 || libraryGeneration_ != LibraryGeneration()) return;
  try {
    const Card::SlotPtr slot = Card::StatusCache::GetSlotWithoutProbe(slotId_);
    for (int i = 0; slot && i < held; ++i) {
      const LONG end = slot->EndCardTransaction();
      if (end != SCARD_S_SUCCESS)
        LogMessage(LOG_LEVEL_ERROR, true, "CloseSession", __LINE__, true,
                   "Cannot end transaction with card, SCardEndTransaction() result = %s",
                   GetErrorText(static_cast<unsigned long>(end)));
    }
  } catch (...) {
    // A destructor lets nothing out; the card's removal ends the transaction.
  }
}

CK_SESSION_INFO Session::Info() const {
  CK_SESSION_INFO info{};
  info.slotID = slotId_;
  info.state = state_.load();
  info.flags = flags_;
  info.ulDeviceError = DeviceError();
  return info;
}

bool Session::NoteTransactionHeld(HeldTransaction operation) {
  const unsigned bit = static_cast<unsigned>(operation);
  return (heldTransactions_.fetch_or(bit) & bit) == 0;
}

bool Session::HoldsTransaction(HeldTransaction operation) const {
  return (heldTransactions_.load() & static_cast<unsigned>(operation)) != 0;
}

bool Session::TakeHeldTransaction(HeldTransaction operation) {
  const unsigned bit = static_cast<unsigned>(operation);
  return (heldTransactions_.fetch_and(~bit) & bit) != 0;
}

int Session::TakeAllHeldTransactions() { return std::popcount(heldTransactions_.exchange(0)); }

}  // namespace Brelt::MW::Pkcs11
