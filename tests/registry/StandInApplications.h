#pragma once
// A stand-in application layer for the session tests: every card carries one
// application of the given profile, or the table answers that a slot has no
// application.

#include <map>
#include <mutex>

#include "card/CardApplications.h"
#include "card/ConnectionMgr.h"
#include "card/Slot.h"

namespace registry_test {

class StandInApplications final : public Brelt::MW::Card::CardApplications {
 public:
  using Slot = Brelt::MW::Card::Slot;
  using SlotPtr = Brelt::MW::Card::SlotPtr;
  using Facts = Brelt::MW::Card::ApplicationFacts;

  CK_RV LoadReaderApplications(const std::string& readerName, Slot& cardSlot, std::vector<SlotPtr>& newSlots,
                               bool& ownApplication) override {
    SlotPtr slot;
    if (CK_RV rv = Brelt::MW::Card::ConnectionMgr::CreateSlot(readerName, nullptr, cardSlot.SlotId(), slot);
        rv != CKR_OK)
      return rv;
    newSlots.push_back(slot);
    std::lock_guard lock(mutex_);
    table_[cardSlot.SlotId()] = true;
    return CKR_OK;
  }
  void InvalidateApplicationInfo(CK_SLOT_ID slotId) override {
    std::lock_guard lock(mutex_);
    if (auto it = table_.find(slotId); it != table_.end()) it->second = false;
  }
  void RemoveAllInvalidApplications() override {}
  CK_RV GetApplicationFacts(CK_SLOT_ID slotId, std::optional<Facts>& facts) override {
    std::lock_guard lock(mutex_);
    facts.reset();
    if (table_.empty()) return CKR_OK;
    auto it = table_.find(slotId);
    if (it == table_.end() || !it->second) return CKR_FUNCTION_FAILED;
    facts = Facts{};
    facts->cardProfile = 1;
    return CKR_OK;
  }
  CK_RV GetTokenInfoEF(const Slot&, CK_TOKEN_INFO* info) override {
    *info = CK_TOKEN_INFO{};
    return CKR_OK;
  }
  CK_RV ReadCardAccess(Slot&, std::vector<uint8_t>&) override { return CKR_FUNCTION_FAILED; }
  void ApplyCardAccessPinLength(CK_SLOT_ID, const std::vector<uint8_t>&) override {}

  // Registers an application for a slot id that the test made itself.
  void Add(CK_SLOT_ID slotId) {
    std::lock_guard lock(mutex_);
    table_[slotId] = true;
  }

 private:
  std::mutex mutex_;
  std::map<CK_SLOT_ID, bool> table_;  // slot id -> valid
};

}  // namespace registry_test
