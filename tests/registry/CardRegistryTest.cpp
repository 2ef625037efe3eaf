// The registry against the simulated readers: the card probe of a slot
// lookup (reset cards are reconnected, swapped cards never), no probe while a
// transaction is open, and the keep-alive thread on a real card handle.

#include <cardsim/Readers.h>

#include <chrono>
#include <thread>

#include "RegistryFixture.h"
#include "card/ApduTransport.h"
#include "card/CardProbe.h"
#include "card/Token.h"

namespace registry_test {
namespace {

using Brelt::MW::Card::SendGetDataApdu;
using Brelt::MW::Card::Token;

constexpr const char* kReader = cardsim::kDefaultReaderName;

LONG StatusOf(SCARDHANDLE card) {
  char name[200];
  DWORD nameLength = sizeof(name);
  DWORD state = 0, protocol = 0;
  BYTE atr[MAX_ATR_SIZE];
  DWORD atrLength = sizeof(atr);
  return SCardStatus(card, name, &nameLength, &state, &protocol, atr, &atrLength);
}

class CardRegistryTest : public RegistryTest {
 protected:
  void SetUp() override {
    cardsim::Configure(std::string("DEF50@") + kReader);
    cardsim::ClearFaults();
    RegistryTest::SetUp();
    ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context_), SCARD_S_SUCCESS);
    slotCard_ = Connect();
    otherCard_ = Connect();
  }
  void TearDown() override {
    RegistryTest::TearDown();
    SCardReleaseContext(context_);
    cardsim::ClearFaults();
  }
  SCARDHANDLE Connect() {
    SCARDHANDLE card = 0;
    DWORD protocol = 0;
    EXPECT_EQ(SCardConnect(context_, kReader, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &card, &protocol),
              SCARD_S_SUCCESS);
    return card;
  }

  SCARDCONTEXT context_ = 0;
  SCARDHANDLE slotCard_ = 0;   // the registry's connection
  SCARDHANDLE otherCard_ = 0;  // another application's connection
};

TEST_F(CardRegistryTest, LookupReconnectsAResetCard) {
  AddSlot(1, slotCard_, kReader);
  DWORD protocol = 0;
  ASSERT_EQ(SCardReconnect(otherCard_, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, SCARD_RESET_CARD, &protocol),
            SCARD_S_SUCCESS);
  ASSERT_EQ(StatusOf(slotCard_), SCARD_W_RESET_CARD);
  ASSERT_NE(StatusCache::GetSlot(1), nullptr);
  EXPECT_EQ(StatusOf(slotCard_), SCARD_S_SUCCESS);
}

TEST_F(CardRegistryTest, LookupNeverReconnectsToAnotherCard) {
  AddSlot(1, slotCard_, kReader);
  cardsim::RemoveCard(kReader);
  cardsim::InsertCard(kReader, "DEF44");  // another person's card, within one poll
  ASSERT_NE(StatusCache::GetSlot(1), nullptr);
  // The old connection stays dead: calls on it fail until the monitor
  // replaces the slot.
  EXPECT_EQ(StatusOf(slotCard_), SCARD_W_REMOVED_CARD);
  cardsim::ClearTranscript(kReader);
  SendGetDataApdu(slotCard_);
  EXPECT_TRUE(cardsim::Transcript(kReader).empty());
}

TEST_F(CardRegistryTest, NoProbeWhileATransactionIsOpen) {
  auto slot = AddSlot(1, slotCard_, kReader);
  ASSERT_EQ(slot->BeginCardTransaction(), SCARD_S_SUCCESS);
  cardsim::FailNextCalls(cardsim::ApiCall::Status, SCARD_W_RESET_CARD);
  ASSERT_NE(StatusCache::GetSlot(1), nullptr);
  ASSERT_EQ(slot->EndCardTransaction(), SCARD_S_SUCCESS);
  EXPECT_FALSE(slot->IsTransactionOpen());
  // The injected answer is still waiting: the lookup made no status call.
  EXPECT_EQ(StatusOf(slotCard_), SCARD_W_RESET_CARD);
  EXPECT_EQ(StatusOf(slotCard_), SCARD_S_SUCCESS);
}

TEST_F(CardRegistryTest, KeepAliveRunsUntilClosedOrTheCardGoes) {
  Token token(1, slotCard_);
  token.StartKeepConThread();
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_TRUE(token.IsKeepAliveRunning());
  token.CloseKeepConThread();  // interrupts the sleep and waits for the end
  EXPECT_FALSE(token.IsKeepAliveRunning());

  token.StartKeepConThread();
  cardsim::RemoveCard(kReader);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (token.IsKeepAliveRunning() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(token.IsKeepAliveRunning());
}

}  // namespace
}  // namespace registry_test
