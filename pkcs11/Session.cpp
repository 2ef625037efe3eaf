#include "pkcs11/Session.h"

#include <unistd.h>

#include <bit>

namespace Brelt::MW::Pkcs11 {

Session::Session(CK_SLOT_ID slotId, CK_FLAGS flags)
    : slotId_(slotId),
      flags_(flags),
      state_((flags & CKF_RW_SESSION) != 0 ? CKS_RW_PUBLIC_SESSION : CKS_RO_PUBLIC_SESSION),
      ownerThreadId_(static_cast<uint32_t>(gettid())),
      ownerProcessId_(static_cast<uint32_t>(getpid())) {}

Session::~Session() = default;

CK_SESSION_INFO Session::Info() const {
  CK_SESSION_INFO info{};
  info.slotID = slotId_;
  info.state = state_.load();
  info.flags = flags_;
  info.ulDeviceError = deviceError_;
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
