// The monitor with the module's own card detection on simulated CardOS
// cards: admitted cards become slots, refused and faulty ones do not, and
// none of them stops the monitoring.

#include "MonitorFixture.h"

namespace monitor_test {
namespace {

class SimulatedCardTest : public MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    Brelt::MW::Card::InstallCardApplications(nullptr);  // the module's own loader
  }
};

std::string Description(CK_SLOT_ID slot) {
  CK_SLOT_INFO info;
  EXPECT_EQ(C_GetSlotInfo(slot, &info), CKR_OK);
  std::string text(reinterpret_cast<const char*>(info.slotDescription), sizeof info.slotDescription);
  return text.substr(0, text.find_last_not_of(' ') + 1);
}

TEST_F(SimulatedCardTest, OnlyAdmittedCardsBecomeSlots) {
  const char* cards[][2] = {{"R1", "DEF50"}, {"R2", "ZEP50"},  {"R3", "NO-P15"},
                            {"R4", "MUTE"},  {"R5", "BAD-CIA"}, {"R6", "SIGG44"}};
  for (const auto& [reader, personalisation] : cards) {
    cardsim::AddReader(reader);
    cardsim::InsertCard(reader, personalisation);
  }
  ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
  const std::vector<CK_SLOT_ID> slots = Slots();
  ASSERT_EQ(slots.size(), 2u);
  EXPECT_EQ(Description(slots[0]).rfind("R1; ", 0), 0u);
  EXPECT_EQ(Description(slots[1]).rfind("R6; ", 0), 0u);

  CK_ULONG count = 0;
  ASSERT_EQ(C_GetMechanismList(slots[0], nullptr, &count), CKR_OK);
  EXPECT_EQ(count, 6u);
  CK_MECHANISM_TYPE mechanisms[6];
  count = 2;
  EXPECT_EQ(C_GetMechanismList(slots[0], mechanisms, &count), CKR_BUFFER_TOO_SMALL);
  EXPECT_EQ(count, 6u);
  CK_MECHANISM_INFO info;
  EXPECT_EQ(C_GetMechanismInfo(slots[0], CKM_SHA256_RSA_PKCS, &info), CKR_MECHANISM_INVALID);
  ASSERT_EQ(C_GetMechanismInfo(slots[0], CKM_RSA_PKCS, &info), CKR_OK);
  EXPECT_NE(info.flags & CKF_SIGN, 0u);
  EXPECT_GT(info.ulMaxKeySize, 0u);

  CK_TOKEN_INFO token;
  ASSERT_EQ(C_GetTokenInfo(slots[0], &token), CKR_OK);
  EXPECT_EQ(token.ulSessionCount, 0u);
  EXPECT_EQ(token.ulMaxSessionCount, CK_EFFECTIVELY_INFINITE);

  // Still monitoring: a card swapped into a refused card's reader is found.
  cardsim::InsertCard("R2", "DEF44");
  EXPECT_TRUE(Eventually([] { return Slots().size() == 3; }));
}

}  // namespace
}  // namespace monitor_test
