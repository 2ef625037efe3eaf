// Chip authentication against the simulated card, and commands protected by
// the registry's context through SendApdu.

#include <gtest/gtest.h>

#include <botan/ecdh.h>

#include <algorithm>

#include "card/ApduTransport.h"
#include "card/CardCommands.h"
#include "card/ChipAuthentication.h"
#include "card/StatusCache.h"
#include "pkcs11/Session.h"
#include "tests/sm/SmTestSupport.h"

namespace {

using namespace Brelt::MW::Card;
using Brelt::MW::Base::HexBinary;
using Brelt::Crypto::EcDomain;

constexpr const char* kBrainpoolP256 = "1.3.36.3.3.2.8.1.1.7";

class ChipAuthenticationTest : public SimulatedReaderTest {
protected:
    void SetUp() override { StatusCache::Initialize(); }
    void TearDown() override
    {
        StatusCache::ClearAuthTable();
        StatusCache::Dispose();
        SetApduProtectorLookup(nullptr);
        SimulatedReaderTest::TearDown();
    }

    // The card's static key: the uncompressed point of the BIT STRING in its
    // EF.CardSecurity.
    static HexBinary CardPoint(const cardsim::Card& card)
    {
        const auto file = card.FileContents({0x01, 0x1D});
        const cardsim::Bytes marker{0x03, 0x42, 0x00, 0x04};
        auto at = std::search(file->begin(), file->end(), marker.begin(), marker.end());
        EXPECT_NE(at, file->end());
        return HexBinary(&*(at + 3), 65, true);
    }

    CK_ULONG status_ = 0;
};

TEST_F(ChipAuthenticationTest, OpensTheChannelAndTheRegistryProtectsEveryCommand)
{
    auto card = Insert("QES50");
    const EcDomain domain(kBrainpoolP256);
    const HexBinary point = CardPoint(*card);
    const auto cardKey = Brelt::Crypto::MakeEcPublicKeyFromPoint(domain, &point);
    const auto ephemeral = Brelt::Crypto::GenerateEcKeyPair(domain);
    std::unique_ptr<SecureMessaging> context;
    ASSERT_EQ(ChipAuthentication(&status_, &slot_, domain, ephemeral, cardKey, &context), CKR_OK);
    ASSERT_TRUE(context);
    EXPECT_EQ(context->SSC(), std::vector<uint8_t>(8, 0x00));
    EXPECT_TRUE(card->SecureMessagingActive());
    const auto sent = Commands();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(NoSpaces(sent[0]), "00A4000C");
    const auto ephemeralPoint = Brelt::Crypto::GetEcPublicPoint(ephemeral);
    EXPECT_EQ(NoSpaces(sent[1]), "002241A646840103914104" + ephemeralPoint->ToString().substr(2));

    // Stored as a chip-authentication context, it protects SendApdu.
    context->SetType(StatusCache::kAuthTypeChipAuthentication);
    SecureMessagingPtr shared(std::move(context));
    StatusCache::StoreAuthContext(handle_, shared, StatusCache::kAuthTypeChipAuthentication);
    ASSERT_EQ(StatusCache::GetSecureMessaging(slot_), shared);
    ASSERT_EQ(SelectMF(&slot_), CKR_OK);
    EXPECT_EQ(shared->SSC().back(), 2);
    cardsim::Bytes read;
    ASSERT_EQ(ReadCardFile(&status_, &slot_, 0x01, 0x1C, &read), CKR_OK);
    EXPECT_EQ(read, *card->FileContents({0x01, 0x1C}));
    for (const auto& command : Commands()) EXPECT_EQ(command.substr(0, 2), "0C") << command;

    // A card that has lost the channel answers in the clear: refused.
    card->Reset();
    EXPECT_NE(SelectMF(&slot_), CKR_OK);
}

// The registry's entry: opened from EF.CardSecurity, reused while the card
// answers under it, renewed from the kept file when the card lost it.
TEST_F(ChipAuthenticationTest, RegistryOpensReusesAndRenewsTheChannel)
{
    auto card = Insert("QES50");
    auto slot = std::make_shared<Slot>(7, kReader);
    slot->SetCardHandle(handle_);
    slot->SetTokenPresent(true);
    slot->SetTokenId(StatusCache::GetOrCreateToken(handle_));
    StatusCache::AddNewSlot(slot);
    const Brelt::MW::Pkcs11::Session session(7, CKF_SERIAL_SESSION);

    const SecureMessagingPtr first = StatusCache::CreateSecureMessaging(slot.get(), &session);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->GetType(), 4u);
    EXPECT_TRUE(card->SecureMessagingActive());
    auto sent = Commands();
    EXPECT_TRUE(std::any_of(sent.begin(), sent.end(), [](const std::string& c) { return c.substr(0, 5) == "00 B0"; }));

    EXPECT_EQ(StatusCache::CreateSecureMessaging(slot.get(), &session), first);
    sent = Commands();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back().substr(0, 11), "0C A4 00 0C");

    card->Reset();
    const SecureMessagingPtr renewed = StatusCache::CreateSecureMessaging(slot.get(), &session);
    ASSERT_TRUE(renewed);
    EXPECT_NE(renewed, first);
    EXPECT_EQ(renewed->SSC(), std::vector<uint8_t>(8, 0x00));
    for (const auto& command : Commands()) EXPECT_NE(NoSpaces(command).substr(0, 4), "00B0") << "file kept";
    EXPECT_EQ(StatusCache::GetSecureMessaging(*slot), renewed);
    EXPECT_EQ(ReadCardFile(&status_, slot.get(), 0x01, 0x1C), CKR_OK);

    // A card without chip authentication gives no context and stores none.
    StatusCache::RemoveAllSlots();
    StatusCache::ClearAuthTable();
    Insert("DEF50");
    slot->SetCardHandle(handle_);
    StatusCache::AddNewSlot(slot);
    EXPECT_FALSE(StatusCache::CreateSecureMessaging(slot.get(), &session));
    EXPECT_FALSE(StatusCache::GetSecureMessaging(*slot));
    StatusCache::RemoveAllSlots();
}

}  // namespace
