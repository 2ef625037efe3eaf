// Sessions: state rules, handles, closing, failed opening, and the copies
// of mechanism parameters.

#include <cstring>
#include <set>

#include "../monitor/MonitorFixture.h"
#include "RegistryFixture.h"
#include "pkcs11/InternalOperations.h"
#include "pkcs11/OperationContext.h"
#include "pkcs11/Session.h"
#include "pkcs11/SessionOperations.h"

namespace registry_test {
namespace {

using namespace Brelt::MW::Pkcs11;

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
