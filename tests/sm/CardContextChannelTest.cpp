// The channel steps of the card context: an application of the chip-
// authentication profile gets its channel made sure of and the master file
// selected under it; one of the application-container profile opens its
// channel only when the call takes the card (lock set).

#include <gtest/gtest.h>

#include "card/SecureMessaging.h"
#include "pkcs11/CardContext.h"
#include "tests/sm/SmTestSupport.h"

namespace {

using namespace Brelt::MW::Card;
using Brelt::MW::Pkcs11::EstablishCardContext;
using Brelt::MW::Pkcs11::ReleaseCardContext;

constexpr uint32_t kSigZepEp = 2;
constexpr uint32_t kQesEac = 4;

// Only the application's profile matters here.
class ProfileApplications final : public CardApplications {
public:
    explicit ProfileApplications(uint32_t profile) : profile_(profile) {}
    CK_RV LoadReaderApplications(const std::string&, Slot&, std::vector<SlotPtr>&, bool&) override
    {
        return CKR_FUNCTION_FAILED;
    }
    void InvalidateApplicationInfo(CK_SLOT_ID) override {}
    void RemoveAllInvalidApplications() override {}
    CK_RV GetApplicationFacts(CK_SLOT_ID slotId, std::optional<ApplicationFacts>& facts) override
    {
        if (slotId != 7) return CKR_FUNCTION_FAILED;
        facts = ApplicationFacts{};
        facts->cardProfile = profile_;
        return CKR_OK;
    }
    CK_RV GetTokenInfoEF(const Slot&, CK_TOKEN_INFO*) override { return CKR_FUNCTION_FAILED; }
    CK_RV ReadCardAccess(Slot&, std::vector<uint8_t>&) override { return CKR_FUNCTION_FAILED; }
    void ApplyCardAccessPinLength(CK_SLOT_ID, const std::vector<uint8_t>&) override {}

private:
    uint32_t profile_;
};

class CardContextChannel : public RegisteredCardTest {
protected:
    // The card in the reader as slot 7 of an application of `profile`.
    SlotPtr Register(uint32_t profile)
    {
        InstallCardApplications(std::make_shared<ProfileApplications>(profile));
        SlotPtr slot = RegisterSlot();
        Commands();
        return slot;
    }
};

TEST_F(CardContextChannel, ChipAuthenticationProfileSelectsTheMasterFileUnderItsChannel)
{
    auto card = Insert("QES50");
    const SlotPtr slot = Register(kQesEac);
    for (bool lock : {false, true}) {
        SCOPED_TRACE(lock);
        ASSERT_EQ(EstablishCardContext(session_, lock), CKR_OK);
        const auto sent = Commands();
        ASSERT_FALSE(sent.empty());
        EXPECT_EQ(sent.back().substr(0, 20), "0C A4 00 0C 0A 8E 08");
        EXPECT_EQ(AnyStartsWith(sent, "00 22 41 A6"), !lock) << "opened once, then reused";
        EXPECT_EQ(slot->IsTransactionOpen(), lock);
        EXPECT_TRUE(StatusCache::GetSecureMessaging(*slot));
        EXPECT_TRUE(card->SecureMessagingActive());
        EXPECT_EQ(ReleaseCardContext(session_, lock), CKR_OK);
    }

    // A card on which the channel cannot be opened fails the context and
    // leaves no transaction open.
    StatusCache::RemoveAllSlots();
    StatusCache::ClearAuthTable();
    Insert("QES50-NOKEY");
    const SlotPtr other = Register(kQesEac);
    EXPECT_EQ(EstablishCardContext(session_, true), CKR_FUNCTION_FAILED);
    EXPECT_FALSE(other->IsTransactionOpen());
}

TEST_F(CardContextChannel, ApplicationContainerProfileOpensItsChannelOnlyUnderTheLock)
{
    const auto card = CardWithModuleKeys("ZEP50");
    InsertIcc(cardsim::MakeIcc(card));
    Register(kSigZepEp);

    ASSERT_EQ(EstablishCardContext(session_, false), CKR_OK);
    EXPECT_TRUE(Commands().empty());
    EXPECT_FALSE(StatusCache::GetAuthContext(session_));

    ASSERT_EQ(EstablishCardContext(session_, true), CKR_OK);
    const SecureMessagingPtr context = StatusCache::GetAuthContext(session_);
    ASSERT_TRUE(context);
    EXPECT_EQ(context->GetType(), 2u);
    EXPECT_TRUE(context->SSC().empty());
    EXPECT_TRUE(card->SecureMessagingActive());
    EXPECT_TRUE(AnyStartsWith(Commands(), "00 82 00 95"));
    EXPECT_FALSE(StatusCache::GetSecureMessaging(*StatusCache::GetSlotWithoutProbe(7)))
        << "SendApdu leaves this channel to its users";
    EXPECT_EQ(ReleaseCardContext(session_, true), CKR_OK);
}

}  // namespace
