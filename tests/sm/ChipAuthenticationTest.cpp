// Chip authentication against the simulated card, and commands protected by
// the registry's context through SendApdu.

#include <gtest/gtest.h>

#include <botan/ecdh.h>

#include <algorithm>

#include "card/ApduTransport.h"
#include "card/CardCommands.h"
#include "card/ChipAuthentication.h"
#include "card/PinPad.h"
#include "card/StatusCache.h"
#include "Dialogs/ui/PinDialogScript.h"
#include "Dialogs/ui/VirtualKeyboard.h"
#include "pkcs11/Session.h"
#include "tests/sign/ChannelApplication.h"
#include "tests/sm/SmTestSupport.h"
#include "token/PinOperations.h"

namespace {

using namespace Brelt::MW::Card;
using Brelt::MW::Base::HexBinary;
using Brelt::Crypto::EcDomain;

constexpr const char* kBrainpoolP256 = "1.3.36.3.3.2.8.1.1.7";

class ChipAuthenticationTest : public RegisteredCardTest {
protected:
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

    // Slot 7 registered and its channel opened through the registry.
    SecureMessagingPtr OpenChannel(SlotPtr& slot)
    {
        slot = RegisterSlot();
        return StatusCache::CreateSecureMessaging(slot.get(), &session_);
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
    // Whole 240-byte chunks: each protected answer is longer than the 256
    // bytes its command's Le 00 names, its checksum vouches for it.
    ASSERT_GT(card->FileContents({0x01, 0x1D})->size(), 240u);
    ASSERT_EQ(ReadCardFile(&status_, &slot_, 0x01, 0x1D, &read), CKR_OK);
    EXPECT_EQ(read, *card->FileContents({0x01, 0x1D}));
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
    SlotPtr slot;
    const SecureMessagingPtr first = OpenChannel(slot);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->GetType(), 4u);
    EXPECT_TRUE(card->SecureMessagingActive());
    auto sent = Commands();
    EXPECT_TRUE(AnyStartsWith(sent, "00 B0"));

    EXPECT_EQ(StatusCache::CreateSecureMessaging(slot.get(), &session_), first);
    sent = Commands();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back().substr(0, 11), "0C A4 00 0C");

    // The file stays with the card: a renewal for another session of it
    // does not read it again.
    card->Reset();
    const Brelt::MW::Pkcs11::Session other(7, CKF_SERIAL_SESSION);
    const SecureMessagingPtr renewed = StatusCache::CreateSecureMessaging(slot.get(), &other);
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
    EXPECT_FALSE(StatusCache::CreateSecureMessaging(slot.get(), &session_));
    EXPECT_FALSE(StatusCache::GetSecureMessaging(*slot));
    StatusCache::RemoveAllSlots();
}

// A card whose EF.CardSecurity lacks the key or the domain, names a curve
// the module does not know, or does not parse: the opening ends after the
// file was read, without a context, and nothing is thrown.
TEST_F(ChipAuthenticationTest, CardSecurityWithoutWhatTheChannelNeedsEndsWithoutContext)
{
    // 06 07 <0.4.0.127.0.7.1.2> 02 01 0D: brainpoolP256r1 by its identifier 13.
    const cardsim::Bytes standardized13 = Hex("06 07 04 00 7F 00 07 01 02 02 01 0D");
    const struct {
        const char* what;
        const char* personalisation;
        TamperingIcc::Tamper tamper;
    } cases[] = {
        {"no public key", "QES50-NOKEY", nullptr},
        {"no domain parameters", "QES50-NODOMAIN", nullptr},
        {"unknown standardized domain 12", "QES50", OnIns(0xB0, [&](cardsim::Bytes& a) {
             for (auto at = a.begin(); (at = std::search(at, a.end(), standardized13.begin(), standardized13.end())) != a.end();)
                 *(at += standardized13.size() - 1) = 0x0C;
         })},
        {"undecodable file", "QES50", OnIns(0xB0, [](cardsim::Bytes& a) { if (a.size() > 2) a[0] = 0x31; })},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::shared_ptr<cardsim::Card> card = cardsim::MakePersonalisation(c.personalisation);
        if (c.tamper) InsertIcc(std::make_shared<TamperingIcc>(cardsim::MakeIcc(card), c.tamper));
        else InsertIcc(cardsim::MakeIcc(card));
        SlotPtr slot;
        SecureMessagingPtr context;
        EXPECT_NO_THROW(context = OpenChannel(slot));
        EXPECT_FALSE(context);
        EXPECT_FALSE(StatusCache::GetSecureMessaging(*slot));
        EXPECT_FALSE(card->SecureMessagingActive());
        const auto sent = Commands();
        ASSERT_FALSE(sent.empty());
        EXPECT_EQ(sent.back().substr(0, 5), "00 B0") << "nothing after the file";
        StatusCache::RemoveAllSlots();
        StatusCache::ClearAuthTable();
    }
}

// The counter's low byte wraps many times over on a live channel; both ends
// carry into the next byte.
TEST_F(ChipAuthenticationTest, CounterCarriesOverOnALiveChannel)
{
    auto card = Insert("QES50");
    SlotPtr slot;
    const SecureMessagingPtr channel = OpenChannel(slot);
    ASSERT_TRUE(channel);
    for (int i = 0; i < 260; ++i) ASSERT_EQ(SelectMF(slot.get()), CKR_OK) << i;
    EXPECT_EQ(channel->SSC(), (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0x02, 0x08}));
    cardsim::Bytes read;
    ASSERT_EQ(ReadCardFile(&status_, slot.get(), 0x01, 0x1C, &read), CKR_OK);
    EXPECT_EQ(read, *card->FileContents({0x01, 0x1C}));
}

// To a protected command, a success in the clear is no answer of the card:
// refused, the status word kept. An error in the clear is the card's answer.
TEST_F(ChipAuthenticationTest, SuccessWithoutProtectedObjectsIsAFailedCheck)
{
    Insert("QES50");
    SlotPtr slot;
    ASSERT_TRUE(OpenChannel(slot));

    const struct {
        cardsim::Bytes answer;
        uint16_t expectedSw;
        CK_RV rv;
        CK_ULONG status;
    } cases[] = {
        {{0x90, 0x00}, kSwSuccess, CKR_FUNCTION_FAILED, 0x9000},
        {{0x61, 0x10}, kSwNotChecked, CKR_FUNCTION_FAILED, 0x6110},
        {{0x6A, 0x82}, kSwNotChecked, CKR_OK, 0x6A82},
        {{0x69, 0x88}, kSwSuccess, CKR_FUNCTION_FAILED, 0x6988},
    };
    for (const auto& c : cases) {
        cardsim::InjectFault(kReader, cardsim::Fault::AnswerWith({0x0C, 0xA4}, c.answer));
        ApduCommand command;
        ApduResponse response;
        SetApdu(&command, 0x00, 0xA4, 0x00, 0x0C, kNoLe, c.expectedSw);
        status_ = 0;
        EXPECT_EQ(SendApdu(slot.get(), &command, &response, &status_, 0, 0), c.rv) << std::hex << c.status;
        EXPECT_EQ(status_, c.status);
        EXPECT_EQ(response.length, 0);
    }
}

// The ZEP PIN of a chip-authentication application on the PIN pad: the
// reader sends the VERIFY whose header the channel protects, the module
// takes the reader's result as it is and steps the counter for the answer
// it never sees. Every other command went through the channel, two steps
// each.
TEST_F(ChipAuthenticationTest, ZepPinOnThePinPadStepsTheCounterWithoutAnAnswerToCheck)
{
    Insert("QES50-FCP", cardsim::PinPad::Direct);
    SlotPtr slot;
    const SecureMessagingPtr channel = OpenChannel(slot);
    ASSERT_TRUE(channel);
    channeltest::RegisterApplication(channeltest::kQes50, kSlotId);
    auto script = std::make_shared<QueuedPinDialogScript>();
    SetPinDialogScript(script);
    struct Cleanup {
        ~Cleanup()
        {
            SetPinDialogScript(nullptr);
            Brelt::MW::Token::ClearApplicationList();
        }
    } cleanup;
    Commands();
    const uint8_t before = channel->SSC().back();

    cardsim::ScriptPinPad(kReader, cardsim::PinEntry::Typing("123456"));
    cardsim::InjectFault(kReader, cardsim::Fault::AnswerWith({0x0C, 0x20, 0x00, 0x00, 0x12}, {0x90, 0x00}));
    VirtualKeyboard keyboard("SK", 1);
    const PinReference pin{1, 1, 1, 6, 6, 0xFF};
    EXPECT_EQ(Brelt::MW::Token::PresentCIAPin_SigZepEp(session_, pin, 0x00, nullptr, 0, true, CKU_CONTEXT_SPECIFIC,
                                                       1, &keyboard),
              CKR_OK);
    const auto sent = Commands();
    EXPECT_TRUE(AnyStartsWith(sent, "0C 20 00 00 12 8E 08")) << ::testing::PrintToString(sent);
    for (const auto& command : sent) EXPECT_EQ(command.substr(0, 2), "0C") << command;
    EXPECT_EQ(channel->SSC().back(), uint8_t(before + 2 * sent.size()));
    EXPECT_EQ(script->Events(), (std::vector<std::string>{"pinpad(1)", "pinpad-closed"}));
}

}  // namespace
