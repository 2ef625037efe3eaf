// The session exports end to end: the library finds the simulated cards,
// and sessions are opened, used and closed on their slots.

#include <cardsim/Readers.h>

#include <vector>

#include <gtest/gtest.h>

#include "StandInApplications.h"
#include "pkcs11/cryptoki.h"

namespace {

constexpr CK_FLAGS kRO = CKF_SERIAL_SESSION;
constexpr CK_FLAGS kRW = CKF_SERIAL_SESSION | CKF_RW_SESSION;

class SessionExportsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cardsim::Configure("DEF50@Reader A,DEF44@Reader B");
    Brelt::MW::Card::InstallCardApplications(std::make_shared<registry_test::StandInApplications>());
    ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
    CK_ULONG count = 0;
    ASSERT_EQ(C_GetSlotList(CK_TRUE, nullptr, &count), CKR_OK);
    slots_.resize(count);
    ASSERT_EQ(C_GetSlotList(CK_TRUE, slots_.data(), &count), CKR_OK);
    ASSERT_EQ(count, 2u);
  }
  void TearDown() override {
    C_Finalize(nullptr);
    Brelt::MW::Card::InstallCardApplications(nullptr);
    cardsim::Configure(std::string("DEF50@") + cardsim::kDefaultReaderName);
  }

  std::vector<CK_SLOT_ID> slots_;
};

TEST_F(SessionExportsTest, OpenUseAndCloseSessions) {
  CK_SESSION_HANDLE first = 0, second = 0, other = 0;
  ASSERT_EQ(C_OpenSession(slots_[0], kRO, nullptr, nullptr, &first), CKR_OK);
  ASSERT_EQ(C_OpenSession(slots_[0], kRW, nullptr, nullptr, &second), CKR_OK);
  ASSERT_EQ(C_OpenSession(slots_[1], kRO, nullptr, nullptr, &other), CKR_OK);
  EXPECT_NE(first, second);

  CK_SESSION_INFO info{};
  ASSERT_EQ(C_GetSessionInfo(second, &info), CKR_OK);
  EXPECT_EQ(info.slotID, slots_[0]);
  EXPECT_EQ(info.state, CKS_RW_PUBLIC_SESSION);
  EXPECT_EQ(info.flags, kRW);
  EXPECT_EQ(info.ulDeviceError, 0u);
  EXPECT_EQ(C_GetSessionInfo(second, nullptr), CKR_ARGUMENTS_BAD);

  EXPECT_EQ(C_CloseSession(first), CKR_OK);
  EXPECT_EQ(C_CloseSession(first), CKR_SESSION_HANDLE_INVALID);
  EXPECT_EQ(C_GetSessionInfo(first, &info), CKR_SESSION_HANDLE_INVALID);

  EXPECT_EQ(C_CloseAllSessions(slots_[0]), CKR_OK);
  EXPECT_EQ(C_GetSessionInfo(second, &info), CKR_SESSION_HANDLE_INVALID);
  EXPECT_EQ(C_GetSessionInfo(other, &info), CKR_OK);
}

TEST_F(SessionExportsTest, UnknownSlotsAndHandles) {
  CK_SESSION_HANDLE handle = 77;
  EXPECT_EQ(C_OpenSession(999, kRO, nullptr, nullptr, &handle), CKR_SLOT_ID_INVALID);
  EXPECT_EQ(C_OpenSession(slots_[0], kRO, nullptr, nullptr, nullptr), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(C_CloseAllSessions(999), CKR_SLOT_ID_INVALID);
  EXPECT_EQ(C_CloseSession(0), CKR_SESSION_HANDLE_INVALID);
  EXPECT_EQ(C_CloseSession(12345), CKR_SESSION_HANDLE_INVALID);
}

TEST_F(SessionExportsTest, HandlesDoNotSurviveReinitialisation) {
  CK_SESSION_HANDLE before = 0;
  ASSERT_EQ(C_OpenSession(slots_[0], kRO, nullptr, nullptr, &before), CKR_OK);
  ASSERT_EQ(C_Finalize(nullptr), CKR_OK);
  ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
  CK_SESSION_INFO info{};
  EXPECT_EQ(C_GetSessionInfo(before, &info), CKR_SESSION_HANDLE_INVALID);
  CK_SESSION_HANDLE after = 0;
  ASSERT_EQ(C_OpenSession(slots_[0], kRO, nullptr, nullptr, &after), CKR_OK);
  EXPECT_NE(after, before) << "a new session never gets an old handle";
}

TEST_F(SessionExportsTest, OpeningLeavesTheCardFreeForOthers) {
  CK_SESSION_HANDLE handle = 0;
  ASSERT_EQ(C_OpenSession(slots_[0], kRO, nullptr, nullptr, &handle), CKR_OK);
  SCARDCONTEXT context = 0;
  ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context), SCARD_S_SUCCESS);
  SCARDHANDLE card = 0;
  DWORD protocol = 0;
  ASSERT_EQ(SCardConnect(context, "Reader A", SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &card, &protocol),
            SCARD_S_SUCCESS);
  EXPECT_EQ(SCardBeginTransaction(card), SCARD_S_SUCCESS);
  EXPECT_EQ(SCardEndTransaction(card, SCARD_LEAVE_CARD), SCARD_S_SUCCESS);
  SCardReleaseContext(context);
}

}  // namespace
