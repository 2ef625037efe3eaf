// The CARDSIM_CARDS setting: parsing, and configuring readers with real cards.
#include "StandInCard.h"

#include <cardsim/Card.h>

#include <stdexcept>

namespace cardsim::test {
namespace {

TEST(CardsSetting, NamesReadersAndFindsPinPads)
{
    const auto readers = ParseCardsSetting("DEF50, DEF44@PIN pad 1 ,@Spare reader,DEF43B");
    ASSERT_EQ(readers.size(), 4u);
    EXPECT_EQ(readers[0].reader, "Simulated Reader 00");
    EXPECT_EQ(readers[0].personalisation, "DEF50");
    EXPECT_EQ(readers[0].pinPad, PinPad::None);
    EXPECT_EQ(readers[1].reader, "PIN pad 1");
    EXPECT_EQ(readers[1].personalisation, "DEF44");
    EXPECT_EQ(readers[1].pinPad, PinPad::Direct);
    EXPECT_EQ(readers[2].reader, "Spare reader");
    EXPECT_TRUE(readers[2].personalisation.empty());
    EXPECT_EQ(readers[3].reader, "Simulated Reader 03");
    EXPECT_TRUE(ParseCardsSetting("  ").empty());
}

TEST(CardsSetting, RejectsMalformedSettings)
{
    for (const char* bad : {"DEF50,", ",DEF50", "DEF50@", "@", "DEF50@A,DEF44@A",
                            "DEF50@Simulated Reader 01,DEF44"}) {
        EXPECT_THROW(ParseCardsSetting(bad), std::invalid_argument) << bad;
    }
    std::string seventeen = "A";
    for (int i = 1; i < 17; ++i) {
        seventeen += ",A";
    }
    EXPECT_THROW(ParseCardsSetting(seventeen), std::invalid_argument);
    EXPECT_THROW(ParseCardsSetting("A@" + std::string(128, 'x')), std::invalid_argument);
}

TEST_F(ReadersTest, ConfigureInsertsPersonalisedCards)
{
    EXPECT_THROW(Configure("NO-SUCH-CARD"), std::invalid_argument);
    AddReader("Kept");
    EXPECT_THROW(Configure("DEF50,NO-SUCH-CARD"), std::invalid_argument);
    EXPECT_EQ(ReaderNames(), std::vector<std::string>{"Kept"});  // unchanged after a failure

    Configure("DEF50@PIN pad A,@Empty", "1234");
    EXPECT_EQ(ReaderNames(), (std::vector<std::string>{"PIN pad A", "Empty"}));
    const std::shared_ptr<Card> card = CardIn("PIN pad A");
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(CardIn("Empty"), nullptr);

    const SCARDHANDLE handle = Connect("PIN pad A");
    BYTE atr[33];
    DWORD atrLength = sizeof atr;
    ASSERT_EQ(SCardStatus(handle, nullptr, nullptr, nullptr, nullptr, atr, &atrLength),
              SCARD_S_SUCCESS);
    EXPECT_EQ(Bytes(atr, atr + atrLength), card->Atr());
    Bytes features(66);
    DWORD returned = 0;
    ASSERT_EQ(SCardControl(handle, CM_IOCTL_GET_FEATURE_REQUEST, nullptr, 0, features.data(), 66,
                           &returned),
              SCARD_S_SUCCESS);
    EXPECT_EQ(returned, 12u);
}

}  // namespace
}  // namespace cardsim::test
