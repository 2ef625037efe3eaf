// Drives the module's reader monitor with simulated readers and a stand-in
// application layer: each test card tells the stand-in loader how many
// applications it carries, how slowly it answers and whether its data is
// malformed.
#pragma once

#include <cardsim/Readers.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "card/CardApplications.h"
#include "card/ConnectionMgr.h"
#include "card/Slot.h"
#include "card/StatusCache.h"
#include "pkcs11/cryptoki.h"

namespace monitor_test {

using namespace std::chrono_literals;
using Brelt::MW::Card::ApplicationFacts;
using Brelt::MW::Card::SlotPtr;

inline constexpr auto kPoll = 40ms;

// Answers the stand-in loader's one command (80 CA 00 00 02) with
// [applications, malformed] 90 00, `delay` late; anything else 6D 00.
class TestCard final : public cardsim::Icc {
 public:
  // malformed: 0 well-formed, 1 the loader throws, 2 a parser refuses a file.
  explicit TestCard(int applications, int malformed = 0, std::chrono::milliseconds delay = 0ms)
      : answer_{static_cast<uint8_t>(applications), static_cast<uint8_t>(malformed), 0x90, 0x00}, delay_(delay) {}
  cardsim::Bytes Atr() const override { return {0x3B, 0x02, 0x14, 0x50}; }
  void Reset() override {}
  cardsim::Bytes Transmit(const cardsim::Bytes& apdu) override {
    std::this_thread::sleep_for(delay_);
    if (apdu.size() == 5 && apdu[0] == 0x80 && apdu[1] == 0xCA) return answer_;
    return {0x6D, 0x00};
  }

 private:
  const cardsim::Bytes answer_;
  const std::chrono::milliseconds delay_;
};

// Another client's connection to the card in a reader.
class OtherClient {
 public:
  explicit OtherClient(const std::string& reader) {
    DWORD protocol = 0;
    SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context_);
    connected_ = SCardConnect(context_, reader.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &card_, &protocol) ==
                 SCARD_S_SUCCESS;
  }
  ~OtherClient() {
    End();
    SCardDisconnect(card_, SCARD_LEAVE_CARD);
    SCardReleaseContext(context_);
  }
  // Takes the card's transaction: false while the module holds it.
  bool Begin() { return connected_ && SCardBeginTransaction(card_) == SCARD_S_SUCCESS; }
  void End() { SCardEndTransaction(card_, SCARD_LEAVE_CARD); }

 private:
  SCARDCONTEXT context_ = 0;
  SCARDHANDLE card_ = 0;
  bool connected_ = false;
};

// The application layer as the tests see it: one entry per slot id.
class TestApplications final : public Brelt::MW::Card::CardApplications {
 public:
  CK_RV LoadReaderApplications(const std::string& readerName, Brelt::MW::Card::Slot& cardSlot,
                               std::vector<SlotPtr>& newSlots, bool& ownApplication) override {
    loads.fetch_add(1);
    loading.store(true);
    const std::shared_ptr<void> done(nullptr, [this](void*) { loading.store(false); });
    const uint8_t command[] = {0x80, 0xCA, 0x00, 0x00, 0x02};
    uint8_t answer[16];
    DWORD answerLength = sizeof answer;
    if (SCardTransmit(cardSlot.CardHandle(), SCARD_PCI_T1, command, sizeof command, nullptr, answer, &answerLength) !=
            SCARD_S_SUCCESS ||
        answerLength != 4)
      return CKR_DEVICE_ERROR;
    if (answer[1] == 1) throw std::runtime_error("malformed directory entry");
    if (answer[1] == 2) return CKR_ARGUMENTS_BAD;  // a parser refused a file
    if (answer[0] == 0) {
      ownApplication = false;
      return CKR_OK;
    }
    std::lock_guard lock(mutex);
    for (int i = 0; i < answer[0]; ++i) {
      const CK_SLOT_ID id = cardSlot.SlotId() + i;
      SlotPtr slot;
      const std::string display = readerName + "; App" + std::to_string(i);
      if (Brelt::MW::Card::ConnectionMgr::CreateSlot(readerName, display.c_str(), id, slot) != CKR_OK)
        return CKR_HOST_MEMORY;
      newSlots.push_back(slot);
      ApplicationFacts facts;
      facts.manufacturerId = "Test maker";
      facts.cardProfile = 1;
      facts.algorithms.push_back({true, CKM_RSA_PKCS, 1, {0x06, 0x40}});  // bit 1: sign
      facts.rsaModulusBits = {2048, 3072};
      table[id] = Entry{facts, false};
    }
    return CKR_OK;
  }
  void InvalidateApplicationInfo(CK_SLOT_ID slotId) override {
    std::lock_guard lock(mutex);
    if (auto it = table.find(slotId); it != table.end()) it->second.invalid = true;
  }
  void RemoveAllInvalidApplications() override {
    std::lock_guard lock(mutex);
    std::erase_if(table, [](const auto& entry) { return entry.second.invalid; });
  }
  CK_RV GetApplicationFacts(CK_SLOT_ID slotId, std::optional<ApplicationFacts>& facts) override {
    std::lock_guard lock(mutex);
    facts.reset();
    if (table.empty()) return CKR_OK;
    const auto it = table.find(slotId);
    if (it == table.end() || it->second.invalid) return CKR_FUNCTION_FAILED;
    facts = it->second.facts;
    return CKR_OK;
  }
  CK_RV GetTokenInfoEF(const Brelt::MW::Card::Slot&, CK_TOKEN_INFO* info) override {
    *info = CK_TOKEN_INFO{};
    return CKR_OK;
  }
  CK_RV ReadCardAccess(Brelt::MW::Card::Slot&, std::vector<uint8_t>&) override { return CKR_FUNCTION_FAILED; }
  void ApplyCardAccessPinLength(CK_SLOT_ID, const std::vector<uint8_t>&) override {}

  struct Entry {
    ApplicationFacts facts;
    bool invalid = false;
  };
  std::mutex mutex;
  std::map<CK_SLOT_ID, Entry> table;
  std::atomic<int> loads{0};
  std::atomic<bool> loading{false};
};

// Readers emptied, faults cleared, the stand-in application layer installed
// and the poll shortened; the library is finalised after each test.
class MonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cardsim::RemoveAllReaders();
    cardsim::ClearFaults();
    applications = std::make_shared<TestApplications>();
    Brelt::MW::Card::InstallCardApplications(applications);
    Brelt::MW::Card::ConnectionMgr::SetPollIntervalForTesting(kPoll);
  }
  void TearDown() override {
    C_Finalize(nullptr);
    Brelt::MW::Card::InstallCardApplications(nullptr);
    Brelt::MW::Card::StatusCache::SetClock(nullptr);
  }

  // Puts a test card into the reader, which is added when missing.
  static std::shared_ptr<TestCard> Insert(const std::string& reader, int applications, int malformed = 0,
                                          std::chrono::milliseconds delay = 0ms) {
    const auto readers = cardsim::ReaderNames();
    if (std::find(readers.begin(), readers.end(), reader) == readers.end()) cardsim::AddReader(reader);
    auto card = std::make_shared<TestCard>(applications, malformed, delay);
    cardsim::InsertIcc(reader, card);
    return card;
  }

  // The slot list by the two-call protocol; the monitor may add a slot
  // between the two calls, which the caller meets by asking again.
  static std::vector<CK_SLOT_ID> Slots(CK_BBOOL present = CK_FALSE) {
    for (;;) {
      CK_ULONG count = 0;
      EXPECT_EQ(C_GetSlotList(present, nullptr, &count), CKR_OK);
      std::vector<CK_SLOT_ID> ids(count);
      const CK_RV rv = C_GetSlotList(present, ids.data(), &count);
      if (rv == CKR_BUFFER_TOO_SMALL) continue;
      EXPECT_EQ(rv, CKR_OK);
      ids.resize(count);
      return ids;
    }
  }

  // Waits for the monitor: gives up only after a generous number of polls,
  // so that a slow sanitizer run still passes.
  static bool Eventually(const std::function<bool()>& condition) {
    for (int i = 0; i < 200; ++i) {
      if (condition()) return true;
      std::this_thread::sleep_for(kPoll / 2);
    }
    return false;
  }
  static bool SlotsBecome(const std::vector<CK_SLOT_ID>& expected) {
    return Eventually([&] { return Slots() == expected; });
  }

  std::shared_ptr<TestApplications> applications;
};

}  // namespace monitor_test
