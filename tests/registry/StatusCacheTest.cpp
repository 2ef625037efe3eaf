// Registry records: token ids, lookups of invalidated records, the 15-second
// purge, slot events, records outliving the purge, and the token's hold on
// an open PIN dialog.

#include <memory>

#include "RegistryFixture.h"
#include "Dialogs/ui/PinDialogScript.h"
#include "Dialogs/ui/VirtualKeyboard.h"
#include "card/ReaderEventCount.h"
#include "card/Token.h"

namespace registry_test {
namespace {

using Brelt::MW::Card::Token;

TEST_F(RegistryTest, TokenIdsAreSharedPerCardAndTheLowestFreeOne) {
  auto a1 = AddSlot(1, FakeCard(1));
  auto a2 = AddSlot(2, FakeCard(1));
  auto b = AddSlot(3, FakeCard(2), "Reader B");
  auto c = AddSlot(4, FakeCard(3), "Reader C");
  EXPECT_EQ(a1->TokenId(), 1u);
  EXPECT_EQ(a2->TokenId(), 1u);
  EXPECT_EQ(b->TokenId(), 2u);
  EXPECT_EQ(c->TokenId(), 3u);

  // Card 2 goes: its token keeps id 2 until it is purged.
  StatusCache::InvalidateSlot(3);
  EXPECT_EQ(StatusCache::GetToken(2), nullptr);
  EXPECT_EQ(AddSlot(5, FakeCard(4), "Reader B")->TokenId(), 4u);
  AdvanceSeconds(16);
  Purge();
  EXPECT_EQ(AddSlot(6, FakeCard(5), "Reader D")->TokenId(), 2u);
}

TEST_F(RegistryTest, InvalidatedSlotIsAbsentAtOnceAndItsTokenGoesWithTheLastSlot) {
  AddSlot(1, FakeCard(1));
  AddSlot(2, FakeCard(1));
  AddSlot(3, FakeCard(2), "Reader B");

  StatusCache::InvalidateSlot(1);
  EXPECT_EQ(StatusCache::GetSlot(1), nullptr);
  EXPECT_NE(StatusCache::GetSlot(2), nullptr);
  EXPECT_NE(StatusCache::GetToken(1), nullptr) << "the card's other application still uses the token";
  EXPECT_EQ(StatusCache::GetAllSlotIDs(false), (std::vector<CK_SLOT_ID>{2, 3}));

  StatusCache::InvalidateSlot(2);
  EXPECT_EQ(StatusCache::GetToken(1), nullptr);
  EXPECT_EQ(StatusCache::GetAllInvalidSlots().size(), 2u);

  StatusCache::GetSlotWithoutProbe(3)->SetTokenPresent(false);
  EXPECT_TRUE(StatusCache::GetAllSlotIDs(true).empty());
  EXPECT_EQ(StatusCache::GetAllSlotIDs(false), (std::vector<CK_SLOT_ID>{3}));
}

TEST_F(RegistryTest, PurgeDropsRecordsOnlyWhenTheirMarkIsSixteenSecondsOld) {
  AddSlot(1, FakeCard(1));
  AddSlot(2, FakeCard(2), "Reader B");
  AddSlot(3, FakeCard(3), "Reader C");
  StatusCache::InvalidateSlot(1);
  StatusCache::InvalidateSlot(2);
  AdvanceSeconds(10);
  StatusCache::InvalidateSlot(3);

  AdvanceSeconds(5);  // 15 s after the first two marks
  Purge();
  EXPECT_EQ(StatusCache::GetAllInvalidSlots().size(), 3u);
  EXPECT_EQ(StatusCache::GetFreeTokenID(), 4u);

  AdvanceSeconds(1);  // 16 s: both old marks go in the same purge
  Purge();
  auto left = StatusCache::GetAllInvalidSlots();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0]->SlotId(), 3u);
  EXPECT_EQ(StatusCache::GetFreeTokenID(), 1u);

  AdvanceSeconds(10);  // 16 s after the last mark
  Purge();
  EXPECT_TRUE(StatusCache::GetAllInvalidSlots().empty());
}

TEST_F(RegistryTest, RecordsLookedUpBeforeAPurgeStayUsable) {
  AddSlot(7, FakeCard(1));
  SlotPtr slot = StatusCache::GetSlot(7);
  auto token = StatusCache::GetToken(slot->TokenId());
  ASSERT_TRUE(slot && token);
  std::weak_ptr<Slot> registryView = slot;

  StatusCache::InvalidateSlot(7);
  AdvanceSeconds(30);
  Purge();
  EXPECT_TRUE(StatusCache::GetAllInvalidSlots().empty());

  // A long call (a PIN-pad entry) still holds both records.
  EXPECT_EQ(slot->SlotId(), 7u);
  EXPECT_EQ(slot->ReaderName(), "Reader A");
  EXPECT_FALSE(slot->IsValid());
  EXPECT_EQ(token->CardHandle(), FakeCard(1));
  slot.reset();
  EXPECT_TRUE(registryView.expired()) << "the purge left no reference behind";
}

TEST_F(RegistryTest, SlotEventsReportRemovalsFirstAndEachEventOnce) {
  auto added = AddSlot(1, FakeCard(1));
  added->SetEvent(true);
  AddSlot(2, FakeCard(2), "Reader B");
  StatusCache::InvalidateSlot(2);

  CK_SLOT_ID id = 0;
  ASSERT_EQ(StatusCache::GetSlotIDWithEventOccured(&id), CKR_OK);
  EXPECT_EQ(id, 2u);
  ASSERT_EQ(StatusCache::GetSlotIDWithEventOccured(&id), CKR_OK);
  EXPECT_EQ(id, 1u);
  EXPECT_EQ(StatusCache::GetSlotIDWithEventOccured(&id), CKR_NO_EVENT);
  EXPECT_EQ(StatusCache::GetSlotIDWithEventOccured(nullptr), CKR_NO_EVENT);
}

TEST_F(RegistryTest, InvalidatingTheTokenCancelsTheOpenPinDialog) {
  auto script = std::make_shared<QueuedPinDialogScript>();
  SetPinDialogScript(script);
  auto slot = AddSlot(1, FakeCard(1));
  auto token = StatusCache::GetToken(slot->TokenId());
  VirtualKeyboard first("EN", 3), second("EN", 3);
  token->SetVirtualKeyboard(&first);
  token->SetVirtualKeyboard(&second);
  EXPECT_EQ(script->Events(), std::vector<std::string>{"cancel"}) << "a new login's keyboard replaces the old one";

  StatusCache::InvalidateSlot(1);
  EXPECT_EQ(script->Events().size(), 2u);

  // The login forgets its keyboard before deleting it; no cancel then.
  token->ClearVirtualKeyboard(&second);
  token->CancelVirtualKeyboard();
  EXPECT_EQ(script->Events().size(), 2u);
  SetPinDialogScript(nullptr);
}

TEST(ReaderEventCountTest, ACardSwappedWithinOnePollIsAReplacement) {
  using Brelt::MW::Card::IsCardReplaced;
  const DWORD present = SCARD_STATE_PRESENT | SCARD_STATE_CHANGED;
  EXPECT_FALSE(IsCardReplaced(0x00010000 | present, 0x00010000 | present));
  EXPECT_TRUE(IsCardReplaced(0x00010000 | present, 0x00030000 | present));
  EXPECT_FALSE(IsCardReplaced(0x00010000 | SCARD_STATE_EMPTY, 0x00020000 | present)) << "a plain insertion";
  EXPECT_FALSE(IsCardReplaced(0x00010000 | present, 0x00020000 | SCARD_STATE_EMPTY)) << "a plain removal";
}

}  // namespace
}  // namespace registry_test
