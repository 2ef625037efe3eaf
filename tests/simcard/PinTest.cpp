#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {

using namespace simtest;

const Bytes kWrongPin = Hex("00 20 00 01 08 39 39 39 39 FF FF FF FF");
const Bytes kStatusQuery = Hex("00 20 00 01");

TEST(CardPin, RetryCounterCountsDownAndBlocks)
{
    auto card = cardsim::MakePersonalisation("DEF50");
    EXPECT_EQ(card->Transmit(kStatusQuery), Hex("63 C3"));
    EXPECT_EQ(card->Transmit(kWrongPin), Hex("63 C2"));
    EXPECT_EQ(card->Transmit(kWrongPin), Hex("63 C1"));
    // A length outside the card's limits costs no try.
    EXPECT_EQ(card->Transmit(Hex("00 20 00 01 03 31 32 33")), Hex("67 00"));
    EXPECT_EQ(card->Transmit(Hex("00 20 00 01 09 31 32 33 34 FF FF FF FF FF")), Hex("67 00"));
    EXPECT_EQ(card->Pin(1)->retriesLeft, 1);
    EXPECT_EQ(card->Transmit(kWrongPin), Hex("63 C0"));
    EXPECT_EQ(card->Transmit(kVerifyUserPin), Hex("69 83")) << "blocked: even the right PIN fails";
    EXPECT_EQ(card->Transmit(kStatusQuery), Hex("69 83"));
    EXPECT_TRUE(card->Pin(1)->blocked);
    card->Reset();
    EXPECT_EQ(card->Transmit(kVerifyUserPin), Hex("69 83")) << "blocking survives a reset";

    // The PUK resets the counter and sets a new PIN.
    EXPECT_EQ(card->Transmit(Hex("00 2C 00 01 10 31 32 33 34 35 36 37 38 35 36 37 38 FF FF FF FF")), Hex("90 00"));
    EXPECT_EQ(card->Pin(1)->retriesLeft, 3);
    EXPECT_EQ(card->UserPin(), "5678");
    EXPECT_EQ(card->Transmit(Hex("00 20 00 01 08 35 36 37 38 FF FF FF FF")), Hex("90 00"));
    EXPECT_EQ(card->Transmit(Hex("00 20 00 07 04 31 32 33 34")), Hex("6A 88"));
}

TEST(CardPin, StatusQueryAndSecurityStatus)
{
    auto card = cardsim::MakePersonalisation("DEF50");
    EXPECT_EQ(card->Transmit(kWrongPin), Hex("63 C2"));
    EXPECT_EQ(card->Transmit(kVerifyUserPin), Hex("90 00"));
    EXPECT_EQ(card->Pin(1)->retriesLeft, 3) << "a right PIN restores the counter";
    EXPECT_EQ(card->Transmit(kStatusQuery), Hex("90 00"));
    EXPECT_EQ(card->Transmit(Hex("00 CA 01 84 00")), Hex("01 90 00"));
    EXPECT_EQ(card->SecurityStatus(), Hex("01"));
    // Leaving the MF for the application keeps the global PIN's status.
    ASSERT_EQ(Sw(card->Transmit(kSelectPkcs15)), 0x9000);
    EXPECT_EQ(card->SecurityStatus(), Hex("01"));
    // A wrong presentation withdraws it.
    EXPECT_EQ(card->Transmit(kWrongPin), Hex("63 C2"));
    EXPECT_TRUE(card->SecurityStatus().empty());

    EXPECT_EQ(cardsim::MakePersonalisation("DEF50-TRANSPORT")->Transmit(kStatusQuery), Hex("69 84"));
    EXPECT_EQ(cardsim::MakePersonalisation("DEF50-TRANSPORT")->Transmit(kVerifyUserPin), Hex("69 84"));
    EXPECT_EQ(cardsim::MakePersonalisation("DEF50-FINALTRY")->Transmit(kStatusQuery), Hex("63 C1"));
    EXPECT_EQ(cardsim::MakePersonalisation("DEF50-BLOCKED")->Transmit(kStatusQuery), Hex("69 83"));

    auto variant = cardsim::MakePersonalisation("DEF50-PIN63CX");
    ASSERT_EQ(variant->Transmit(kVerifyUserPin), Hex("90 00"));
    EXPECT_EQ(variant->Transmit(kStatusQuery), Hex("63 C3"));
}

TEST(CardPin, ChangeReferenceData)
{
    auto card = cardsim::MakePersonalisation("DEF50");
    // New value only: needs the PIN verified first.
    EXPECT_EQ(card->Transmit(Hex("00 24 01 01 08 35 36 37 38 FF FF FF FF")), Hex("69 82"));
    EXPECT_EQ(card->Transmit(Hex("00 24 00 01 10 39 39 39 39 FF FF FF FF 35 36 37 38 FF FF FF FF")), Hex("63 C2"));
    EXPECT_EQ(card->Transmit(Hex("00 24 00 01 0A 31 32 33 34 FF FF FF FF 35 36")), Hex("67 00"));
    EXPECT_EQ(card->Transmit(Hex("00 24 00 01 10 31 32 33 34 FF FF FF FF 35 36 37 38 FF FF FF FF")), Hex("90 00"));
    EXPECT_EQ(card->UserPin(), "5678");
    EXPECT_EQ(card->Pin(1)->retriesLeft, 3);
    EXPECT_TRUE(card->Pin(1)->verified);
    EXPECT_EQ(card->Transmit(Hex("00 24 01 01 08 31 31 31 31 FF FF FF FF")), Hex("90 00"));
    card->Reset();
    EXPECT_EQ(card->Transmit(Hex("00 20 00 01 08 31 31 31 31 FF FF FF FF")), Hex("90 00"));
}

TEST(CardPin, UnpaddedPinComparesTheExactBytes)
{
    auto card = cardsim::MakePersonalisation("DEF43B");
    EXPECT_EQ(card->Transmit(Hex("00 20 00 01 06 31 32 33 34 35 36")), Hex("90 00"));
    // A pad-filled block as a PIN pad builds it is a wrong PIN for this object.
    EXPECT_EQ(card->Transmit(Hex("00 20 00 01 08 31 32 33 34 35 36 00 00")), Hex("63 C2"));
    // Old and new are split at the length of the stored value.
    EXPECT_EQ(card->Transmit(Hex("00 24 00 01 0C 31 32 33 34 35 36 36 35 34 33 32 31")), Hex("90 00"));
    EXPECT_EQ(card->UserPin(), "654321");
}

}  // namespace
