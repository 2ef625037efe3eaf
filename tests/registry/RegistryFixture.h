#pragma once
// A fresh registry per test with a clock the test moves by hand, and helpers
// that register slots the way the reader monitor does.

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "card/Slot.h"
#include "card/StatusCache.h"

namespace registry_test {

using Brelt::MW::Card::RegistryTime;
using Brelt::MW::Card::Slot;
using Brelt::MW::Card::SlotPtr;
using Brelt::MW::Card::StatusCache;

inline std::atomic<long long> fakeSeconds{1000};

inline RegistryTime FakeNow() { return RegistryTime(std::chrono::seconds(fakeSeconds.load())); }
inline void AdvanceSeconds(long long seconds) { fakeSeconds.fetch_add(seconds); }

// Card handles that no PC/SC layer knows: probes and disconnects on them
// fail harmlessly.
inline SCARDHANDLE FakeCard(int n) { return static_cast<SCARDHANDLE>(0x7E000000 + n); }

// Registers a slot for one application of `card`, as the monitor does.
inline SlotPtr AddSlot(CK_SLOT_ID slotId, SCARDHANDLE card, const std::string& reader = "Reader A") {
  auto slot = std::make_shared<Slot>(slotId, reader);
  slot->SetCardHandle(card);
  slot->SetTokenPresent(true);
  slot->SetTokenId(StatusCache::GetOrCreateToken(card));
  StatusCache::AddNewSlot(slot);
  return slot;
}

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StatusCache::SetClock(&FakeNow);
    StatusCache::Initialize();
  }
  void TearDown() override {
    StatusCache::RemoveAllSessions();
    StatusCache::RemoveAllSlots();
    StatusCache::RemoveAllTokens();
    StatusCache::Dispose();
    StatusCache::SetClock(nullptr);
  }

  // The monitor's purge after a poll.
  static void Purge() {
    StatusCache::RemoveAllInvalidTokens();
    StatusCache::RemoveAllInvalidSlots();
    StatusCache::RemoveAllInvalidSessions();
  }
};

}  // namespace registry_test
