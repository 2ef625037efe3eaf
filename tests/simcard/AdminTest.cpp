#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {

using namespace simtest;

// CREATE FILE of a 256-byte transparent EF EF01: read always, update and
// deactivate with authentication 14, everything else never.
const Bytes kCreateEf01 = Hex("00 E0 01 00 25 62 23 80 02 01 00 83 02 EF 01 85 01 00 AB 14 80 01 01 90 00"
                              "80 01 8A A4 06 83 01 14 95 01 80 81 00 97 00 88 00");

TEST(CardAdministration, CreateWriteAndDeleteAFile)
{
    auto card = cardsim::MakePersonalisation("DEF50");
    ASSERT_EQ(card->Transmit(kSelectPkcs15), Hex("90 00"));
    ASSERT_EQ(card->Transmit(Hex("00 12 00 80")), Hex("90 00"));
    ASSERT_EQ(card->Transmit(kCreateEf01), Hex("90 00"));
    EXPECT_EQ(card->CurrentEf(), 0xEF01);
    EXPECT_EQ(card->Transmit(kCreateEf01), Hex("6A 89"));
    EXPECT_EQ(card->Transmit(Hex("00 D6 00 00 02 AA BB")), Hex("69 82")) << "update needs authentication 14";
    // Public-certificate attributes: update always.
    EXPECT_EQ(card->Transmit(Hex("00 DA 01 62 17 AB 15 80 01 01 90 00 80 01 02 90 00 80 01 40 A4 06 83 01 14 95 01 80")),
              Hex("90 00"));
    EXPECT_EQ(card->Transmit(Hex("00 D6 00 00 02 AA BB")), Hex("90 00"));
    EXPECT_EQ(card->Transmit(Hex("00 B0 00 00 02")), Hex("AA BB 90 00"));
    ASSERT_EQ(card->Transmit(Hex("00 12 00 81")), Hex("90 00"));

    // LIST names every EF of the DF, each in its own template.
    const Bytes listing = card->Transmit(Hex("80 16 02 00"));
    ASSERT_EQ(Sw(listing), 0x9000);
    const Bytes entry = Hex("6F 04 86 02 EF 01");
    EXPECT_NE(std::search(listing.begin(), listing.end(), entry.begin(), entry.end()), listing.end());

    // Deletion needs the administration life cycle.
    EXPECT_EQ(card->Transmit(Hex("00 E4 02 00 02 EF 01")), Hex("69 85"));
    ASSERT_EQ(card->Transmit(Hex("80 10 00 00")), Hex("90 00"));
    EXPECT_EQ(card->Transmit(Hex("00 CA 01 83 00")), Hex("20 90 00"));
    EXPECT_EQ(card->Transmit(Hex("00 E4 02 00 02 EF 01")), Hex("90 00"));
    EXPECT_FALSE(card->FileContents(Hex("5015 EF01")));
    ASSERT_EQ(card->Transmit(Hex("80 10 00 00")), Hex("90 00"));
    EXPECT_EQ(card->LifeCycle(), 0x24);
}

TEST(CardAdministration, DeactivatedKeyContainerDisablesItsKey)
{
    auto card = cardsim::MakePersonalisation("DEF50");
    ASSERT_EQ(card->Transmit(kSelectPkcs15), Hex("90 00"));
    EXPECT_EQ(card->Transmit(Hex("00 04 00 00 02 4B 01")), Hex("69 82"));
    ASSERT_EQ(card->Transmit(kVerifyUserPin), Hex("90 00"));
    EXPECT_EQ(card->Transmit(Hex("00 04 00 00 02 4B 01")), Hex("90 00"));
    EXPECT_EQ(card->Transmit(Hex("00 04 00 00 02 4B 01")), Hex("62 83"));
    EXPECT_EQ(card->Transmit(Hex("00 22 41 B6 03 84 01 01")), Hex("6A 88"));
    EXPECT_EQ(card->Transmit(Hex("00 22 41 B6 03 84 01 02")), Hex("90 00"));
    EXPECT_EQ(card->Transmit(Hex("00 22 F3 01")), Hex("90 00")) << "MSE RESTORE";
}

}  // namespace
