// The application-container channel against the simulated card, and
// commands protected with its session key through SendApdu.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "card/AppContainerChannel.h"
#include "card/ApduTransport.h"
#include "card/CardCommands.h"
#include "tests/sm/SmTestSupport.h"

namespace {

using namespace Brelt::MW::Card;
using Brelt::MW::Base::HexBinary;

std::shared_ptr<SecureMessaging> g_protector;
std::shared_ptr<ApduProtector> TestLookup(const Slot&) { return g_protector; }

class AppContainerChannel : public SimulatedReaderTest {
protected:
    void TearDown() override
    {
        SetApduProtectorLookup(nullptr);
        g_protector.reset();
        SimulatedReaderTest::TearDown();
    }

    std::unique_ptr<SecureMessaging> Open()
    {
        const auto key = KeyBytes(smtest::kContainerKey);
        return CitizenAuthenticate(&status_, &slot_, kAppContainerKeyReference, key.data(), int32_t(key.size()),
                                   kAppContainerSessionKeyReference);
    }

    CK_ULONG status_ = 0;
};

TEST_F(AppContainerChannel, OpensTheChannelAndProtectsCommandsThroughSendApdu)
{
    const auto card = CardWithModuleKeys("ZEP50");
    InsertIcc(cardsim::MakeIcc(card));
    std::unique_ptr<SecureMessaging> context = Open();
    ASSERT_TRUE(context);
    const auto sent = Commands();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(NoSpaces(sent[0]), "00A4040C0FF0415050434F4E5441494E45523031");
    EXPECT_EQ(NoSpaces(sent[1]), "0084000020");
    const std::string authenticate = NoSpaces(sent[2]);
    EXPECT_EQ(authenticate.substr(0, 18), "008200953E7C2C8208");
    EXPECT_EQ(authenticate.substr(authenticate.size() - 32), "A406830195950140B406840117950130");

    // Every command of the card now goes out protected: SELECT MF (no data,
    // no Le: header padded before the MAC) and READ BINARY of EF.CardAccess.
    g_protector = std::move(context);
    SetApduProtectorLookup(&TestLookup);
    ASSERT_EQ(SelectMF(&slot_), CKR_OK);
    EXPECT_EQ(NoSpaces(Commands().at(0)).substr(0, 14), "0CA4000C0A8E08");
    cardsim::Bytes read;
    ASSERT_EQ(ReadCardFile(&status_, &slot_, 0x01, 0x1C, &read), CKR_OK);
    EXPECT_EQ(read, *card->FileContents({0x01, 0x1C}));
    for (const auto& command : Commands()) EXPECT_EQ(command.substr(0, 2), "0C") << command;
}

// The host challenge is the only fresh input of the host: two openings, even
// within one second, send different ones, and the application's own rand()
// sequence does not notice them.
TEST_F(AppContainerChannel, EveryOpeningSendsAFreshHostChallenge)
{
    InsertIcc(cardsim::MakeIcc(CardWithModuleKeys("ZEP50")));
    std::srand(4711);
    const int expected = std::rand();
    std::srand(4711);
    std::vector<std::string> challenges;
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(Open());
        const std::string authenticate = NoSpaces(Commands().back());
        // 00 82 00 95 3E | 7C 2C 82 08 M1 | 81 20 host challenge
        ASSERT_EQ(authenticate.substr(34, 4), "8120");
        challenges.push_back(authenticate.substr(38, 64));
    }
    EXPECT_NE(challenges[0], challenges[1]);
    EXPECT_EQ(std::rand(), expected);
}

TEST_F(AppContainerChannel, OpeningFailsWithoutContext)
{
    // A card holding another container key refuses the host's MAC.
    std::shared_ptr<cardsim::Card> card = cardsim::MakePersonalisation("ZEP50");
    card->SetApplicationContainerKeys(cardsim::Bytes(16, 0x11), KeyBytes(smtest::kSessionKeyDerivationKey));
    InsertIcc(cardsim::MakeIcc(card));
    EXPECT_FALSE(Open());
    EXPECT_EQ(status_, 0x6300u);
    EXPECT_FALSE(card->SecureMessagingActive());
    const auto key = KeyBytes(smtest::kContainerKey);
    EXPECT_FALSE(CitizenAuthenticate(&status_, nullptr, 0x95, key.data(), 16, 0x17));
    EXPECT_FALSE(CitizenAuthenticate(&status_, &slot_, 0x95, nullptr, 16, 0x17));

    // A card without the container fails the SELECT.
    Insert("DEF50");
    EXPECT_FALSE(Open());
    EXPECT_EQ(Commands().size(), 1u);
}

TEST_F(AppContainerChannel, CardAnswersAreCheckedBeforeUse)
{
    struct Case {
        const char* what;
        std::function<cardsim::Bytes(const cardsim::Bytes&, cardsim::Bytes)> tamper;
        bool opens;
    };
    const Case cases[] = {
        {"short challenge", OnIns(0x84, [](cardsim::Bytes& a) { a.erase(a.begin() + 16, a.end() - 2); }), false},
        {"another tag before the MAC", OnIns(0x82, [](cardsim::Bytes& a) { if (a.size() > 2) a[2] = 0x99; }), true},
        {"answer of 11 bytes",
         OnIns(0x82, [](cardsim::Bytes& a) { if (a.size() == 14) a.erase(a.begin() + 11, a.end() - 2); }), false},
        {"wrong card MAC", OnIns(0x82, [](cardsim::Bytes& a) { if (a.size() == 14) a[11] ^= 0x80; }), false},
    };
    for (const Case& c : cases) {
        InsertIcc(std::make_shared<TamperingIcc>(cardsim::MakeIcc(CardWithModuleKeys("ZEP50")), c.tamper));
        EXPECT_EQ(bool(Open()), c.opens) << c.what;
    }
}

}  // namespace
