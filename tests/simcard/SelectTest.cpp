#include <cardsim/Personalisations.h>

#include <gtest/gtest.h>

namespace {

TEST(CardSelect, SelectMasterFile)
{
    auto card = cardsim::MakePersonalisation("DEF50");
    EXPECT_EQ(card->Transmit({0x00, 0xA4, 0x00, 0x0C}), (cardsim::Bytes{0x90, 0x00}));
}

}  // namespace
