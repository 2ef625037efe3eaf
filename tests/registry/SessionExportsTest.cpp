// The session exports through the call frame.

#include "RegistryFixture.h"
#include "pkcs11/cryptoki.h"

namespace registry_test {
namespace {

class SessionExportsTest : public RegistryTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
    RegistryTest::SetUp();
  }
  void TearDown() override {
    RegistryTest::TearDown();
    C_Finalize(nullptr);
  }
};

TEST_F(SessionExportsTest, OpenUseAndCloseSessions) {
  AddSlot(1, FakeCard(1));
  AddSlot(2, FakeCard(2), "Reader B");
  CK_SESSION_HANDLE first = 0, second = 0, other = 0;
  ASSERT_EQ(C_OpenSession(1, CKF_SERIAL_SESSION, nullptr, nullptr, &first), CKR_OK);
  ASSERT_EQ(C_OpenSession(1, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &second), CKR_OK);
  ASSERT_EQ(C_OpenSession(2, CKF_SERIAL_SESSION, nullptr, nullptr, &other), CKR_OK);
  EXPECT_NE(first, second);

  CK_SESSION_INFO info{};
  ASSERT_EQ(C_GetSessionInfo(second, &info), CKR_OK);
  EXPECT_EQ(info.slotID, 1u);
  EXPECT_EQ(info.state, CKS_RW_PUBLIC_SESSION);
  EXPECT_EQ(C_GetSessionInfo(second, nullptr), CKR_ARGUMENTS_BAD);

  EXPECT_EQ(C_CloseSession(first), CKR_OK);
  EXPECT_EQ(C_CloseSession(first), CKR_SESSION_HANDLE_INVALID);
  EXPECT_EQ(C_GetSessionInfo(first, &info), CKR_SESSION_HANDLE_INVALID);

  EXPECT_EQ(C_CloseAllSessions(1), CKR_OK);
  EXPECT_EQ(C_GetSessionInfo(second, &info), CKR_SESSION_HANDLE_INVALID);
  EXPECT_EQ(C_GetSessionInfo(other, &info), CKR_OK);
}

TEST_F(SessionExportsTest, UnknownSlotsAndMissingCards) {
  CK_SESSION_HANDLE handle = 77;
  EXPECT_EQ(C_OpenSession(9, CKF_SERIAL_SESSION, nullptr, nullptr, &handle), CKR_SLOT_ID_INVALID);
  EXPECT_EQ(C_CloseAllSessions(9), CKR_SLOT_ID_INVALID);
  AddSlot(1, FakeCard(1))->SetTokenPresent(false);
  EXPECT_EQ(C_OpenSession(1, CKF_SERIAL_SESSION, nullptr, nullptr, &handle), CKR_TOKEN_NOT_PRESENT);
  EXPECT_EQ(handle, 0u);
  StatusCache::InvalidateSlot(1);
  EXPECT_EQ(C_OpenSession(1, CKF_SERIAL_SESSION, nullptr, nullptr, &handle), CKR_SLOT_ID_INVALID);
}

}  // namespace
}  // namespace registry_test
