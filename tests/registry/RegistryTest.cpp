// Registry records: token ids, lookups of invalidated records, the 15-second
// purge, slot events, records outliving the purge, and the token's hold on
// an open PIN dialog. Sessions: state rules, handles, failed opening, and the
// copies of mechanism parameters.

#include <cstring>
#include <memory>
#include <set>

#include "../monitor/MonitorFixture.h"
#include "Dialogs/ui/PinDialogScript.h"
#include "Dialogs/ui/VirtualKeyboard.h"
#include "RegistryFixture.h"
#include "card/ReaderEventCount.h"
#include "card/Token.h"
#include "pkcs11/InternalOperations.h"
#include "pkcs11/OperationContext.h"
#include "pkcs11/Session.h"
#include "pkcs11/SessionOperations.h"

namespace registry_test {
namespace {

using Brelt::MW::Card::Token;
using namespace Brelt::MW::Pkcs11;

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

constexpr CK_FLAGS kRO = CKF_SERIAL_SESSION;
constexpr CK_FLAGS kRW = CKF_SERIAL_SESSION | CKF_RW_SESSION;

using SessionTest = RegistryTest;

CK_SESSION_HANDLE Open(const Slot& slot, CK_FLAGS flags) {
  CK_SESSION_HANDLE handle = 0;
  EXPECT_EQ(OpenSession(slot, &handle, flags), CKR_OK);
  EXPECT_NE(handle, 0u);
  return handle;
}

TEST_F(SessionTest, NewSessionsJoinTheLoginOfTheirCard) {
  auto slot1 = AddSlot(1, FakeCard(1));
  auto slot2 = AddSlot(2, FakeCard(1));  // second application, same card
  auto other = AddSlot(3, FakeCard(2), "Reader B");

  auto first = StatusCache::GetSession(Open(*slot1, kRO));
  EXPECT_EQ(first->State(), CKS_RO_PUBLIC_SESSION);
  EXPECT_EQ(StatusCache::GetSession(Open(*slot1, kRW))->State(), CKS_RW_PUBLIC_SESSION);

  first->SetState(CKS_RO_USER_FUNCTIONS);
  EXPECT_EQ(StatusCache::GetSession(Open(*slot2, kRO))->State(), CKS_RO_USER_FUNCTIONS);
  EXPECT_EQ(StatusCache::GetSession(Open(*slot2, kRW))->State(), CKS_RW_USER_FUNCTIONS);
  EXPECT_EQ(StatusCache::GetSession(Open(*other, kRW))->State(), CKS_RW_PUBLIC_SESSION);

  // A security-officer login elsewhere on the card gives a user state.
  first->SetState(CKS_RW_SO_FUNCTIONS);
  EXPECT_EQ(StatusCache::GetSession(Open(*slot1, kRO))->State(), CKS_RO_USER_FUNCTIONS);
}

// Every refused opening answers a zero handle and leaves no session behind.
void ExpectOpeningRefused(const Slot& slot, CK_RV expected) {
  CK_SESSION_HANDLE handle = 99;
  EXPECT_EQ(OpenSession(slot, &handle, kRW), expected);
  EXPECT_EQ(handle, 0u);
  EXPECT_EQ(StatusCache::GetSessionCount(), 0u);
}

TEST_F(SessionTest, RefusedOpeningsLeaveNoSessionBehind) {
  auto slot = AddSlot(1, FakeCard(1));
  EXPECT_EQ(OpenSession(*slot, nullptr, kRO), CKR_ARGUMENTS_BAD);
  slot->SetTokenPresent(false);
  ExpectOpeningRefused(*slot, CKR_TOKEN_NOT_PRESENT);

  // The slot went away; the caller's view is from before the removal.
  StatusCache::InvalidateSlot(1);
  slot->SetTokenPresent(true);
  ExpectOpeningRefused(*slot, CKR_FUNCTION_FAILED);

  // The card's application is gone (the table knows only another slot's).
  auto applications = std::make_shared<monitor_test::TestApplications>();
  applications->table[3] = {};
  Brelt::MW::Card::InstallCardApplications(applications);
  ExpectOpeningRefused(*AddSlot(2, FakeCard(2), "Reader B"), CKR_FUNCTION_FAILED);
  Brelt::MW::Card::InstallCardApplications(nullptr);
}

TEST_F(SessionTest, ClosedHandlesStayInvalidAfterManyNewSessions) {
  auto slot = AddSlot(1, FakeCard(1));
  const CK_SESSION_HANDLE closed = Open(*slot, kRW);
  ASSERT_EQ(CloseSession(*StatusCache::GetSession(closed)), CKR_OK);
  SessionPtr none;
  EXPECT_EQ(GetSessionByHandle(closed, none), CKR_SESSION_HANDLE_INVALID);

  std::set<CK_SESSION_HANDLE> seen{closed};
  for (int i = 0; i < 2000; ++i) {
    const CK_SESSION_HANDLE handle = Open(*slot, kRO);
    EXPECT_TRUE(seen.insert(handle).second) << "handle reused: " << handle;
    CloseSession(*StatusCache::GetSession(handle));
  }
  EXPECT_EQ(GetSessionByHandle(closed, none), CKR_SESSION_HANDLE_INVALID);
  EXPECT_EQ(GetSessionByHandle(0, none), CKR_SESSION_HANDLE_INVALID);
}

TEST_F(SessionTest, ASessionInUseOutlivesItsClosing) {
  auto slot = AddSlot(1, FakeCard(1));
  SessionPtr inCall = StatusCache::GetSession(Open(*slot, kRW));
  inCall->signContext.hKey = 5;
  inCall->signContext.data.assign(32, 0xAB);
  std::weak_ptr<Session> view = inCall;

  EXPECT_EQ(CloseAllSessions(1), CKR_OK);
  // The call that looked the session up (a sign waiting for a PIN) goes on.
  EXPECT_EQ(inCall->signContext.data.size(), 32u);
  EXPECT_EQ(inCall->Info().state, CKS_RW_PUBLIC_SESSION);
  inCall.reset();
  EXPECT_TRUE(view.expired());
}

TEST(OperationContextTest, MechanismCopiesOwnTheirParameters) {
  EXPECT_EQ(CopyMechanism(nullptr), nullptr);

  CK_MECHANISM plain{CKM_RSA_PKCS, nullptr, 0};
  auto copy = CopyMechanism(&plain);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->Get()->pParameter, nullptr);
  EXPECT_EQ(copy->Get()->ulParameterLen, 0u);

  CK_MECHANISM unreadable{CKM_RSA_PKCS, nullptr, 8};
  EXPECT_EQ(CopyMechanism(&unreadable), nullptr);

  unsigned char label[] = {'l', 'a', 'b', 'e', 'l'};
  CK_RSA_PKCS_OAEP_PARAMS params{CKM_SHA256, CKG_MGF1_SHA256, CKZ_DATA_SPECIFIED, label, sizeof(label)};
  CK_MECHANISM oaep{CKM_RSA_PKCS_OAEP, &params, sizeof(params)};
  copy = CopyMechanism(&oaep);
  ASSERT_NE(copy, nullptr);
  std::memset(label, 0, sizeof(label));  // the caller's buffers may go away
  params.hashAlg = 0;
  const auto* copied = static_cast<const CK_RSA_PKCS_OAEP_PARAMS*>(copy->Get()->pParameter);
  EXPECT_NE(copied, &params);
  EXPECT_EQ(copied->hashAlg, CKM_SHA256);
  ASSERT_EQ(copied->ulSourceDataLen, 5u);
  EXPECT_EQ(std::memcmp(copied->pSourceData, "label", 5), 0);

  params.pSourceData = nullptr;
  EXPECT_EQ(CopyMechanism(&oaep), nullptr);
}

}  // namespace
}  // namespace registry_test
