// Signing and deciphering on the cards whose applications work inside a
// secure channel (SigZepEp: the application-container channel; QesEac: chip
// authentication). The application table admits no such application to a
// slot, so the tests register one themselves, open the card's channel and
// drive the card sequences directly.

#include <gtest/gtest.h>

#include <botan/pubkey.h>
#include <botan/system_rng.h>

#include "card/ApduTransport.h"
#include "card/StatusCache.h"
#include "tests/sign/ChannelApplication.h"
#include "token/AttributeGetters.h"
#include "token/BitStringFlags.h"
#include "tests/sm/SmTestSupport.h"

namespace {

using namespace Brelt::MW;
using Base::HexBinary;
using Card::StatusCache;
using cardsim::Bytes;
using namespace channeltest;

class ChannelProfilesTest : public RegisteredCardTest {
protected:
    static constexpr CK_SLOT_ID kSlot = kSlotId;

    void TearDown() override
    {
        Token::ClearApplicationList();
        RegisteredCardTest::TearDown();
    }

    // Inserts the card (its answers to PSO commands altered while `tamper_`
    // is set) and registers a slot with the card's application holding the
    // signature key and the deciphering key.
    void Register(const ChannelCard& card, std::vector<int> signatureKeyRules = {3, 1, kPinRule})
    {
        StatusCache::RemoveAllSlots();
        StatusCache::ClearAuthTable();
        card_ = CardWithModuleKeys(card.name);
        InsertIcc(std::make_shared<TamperingIcc>(cardsim::MakeIcc(card_), [this](const Bytes& command, Bytes answer) {
            if (command.size() > 1 && command[1] == 0x2A) {
                if (tamper_ && answer.size() > 12) answer[10] ^= 0x01;
                if (!bareAnswer_.empty()) answer = bareAnswer_;
            }
            return answer;
        }));
        registered_ = RegisterSlot();
        application_ = RegisterApplication(card, kSlot, std::move(signatureKeyRules));
        df_ = card.df;
    }

    // Opens the channel of the card's profile and verifies the signing PIN.
    void Open(const ChannelCard& card)
    {
        Register(card);
        if (card.profile == Token::SigZepEpProfile) {
            channel_ = StatusCache::EstablishAuthContext(session_);
        } else {
            channel_ = StatusCache::CreateSecureMessaging(registered_.get(), &session_);
        }
        ASSERT_TRUE(channel_);
        ASSERT_TRUE(card_->SecureMessagingActive());
        ASSERT_EQ(Raw(kVerifySigningPin), "90 00");
        Commands();
    }

    CK_RV Sign(const Bytes& data, Bytes& signature, bool withChannel = true)
    {
        return SignInChannel(session_, application_, withChannel ? channel_ : nullptr, data, signature);
    }
    CK_RV Decrypt(const CK_MECHANISM& mechanism, const Bytes& cryptogram, Bytes& plain)
    {
        return Decipher(session_, mechanism, cryptogram, plain);
    }
    std::unique_ptr<Botan::Public_Key> CertificateKey(uint8_t index) const
    {
        return channeltest::CertificateKey(*card_, df_, index);
    }
    Bytes Encipher(const Bytes& secret, const char* padding) const
    {
        Botan::PK_Encryptor_EME encryptor(*CertificateKey(2), Botan::system_rng(), padding);
        return encryptor.encrypt(secret, Botan::system_rng());
    }

    std::shared_ptr<cardsim::Card> card_;
    Card::SlotPtr registered_;
    Token::ApplicationInfoPtr application_;
    Bytes df_;
    std::shared_ptr<Card::SecureMessaging> channel_;
    bool tamper_ = false;
    Bytes bareAnswer_;  // the card's answer to PSO commands, when set
};

class ChannelProfiles : public ChannelProfilesTest, public ::testing::WithParamInterface<ChannelCard> {};

TEST_P(ChannelProfiles, SignaturesVerifyWithTheCardCertificate)
{
    const bool zep = GetParam().profile == Token::SigZepEpProfile;
    Open(GetParam());
    Bytes signature;
    ASSERT_EQ(Sign(DigestInfo(), signature), CKR_OK);
    EXPECT_EQ(signature.size(), 256u);
    EXPECT_TRUE(Botan::PK_Verifier(*CertificateKey(1), "EMSA3(Raw)").verify_message(DigestInfo(), signature));
    const auto commands = Commands();
    EXPECT_TRUE(AnyStartsWith(commands, "0C 2A 9E 9A")) << ::testing::PrintToString(commands);
    EXPECT_FALSE(AnyStartsWith(commands, "00 2A")) << "the signature command went out in plain";
    if (zep) {
        EXPECT_TRUE(AnyStartsWith(commands, "00 A4 00 0C 02 4B 01")) << "key file selected by its identifier";
    } else {
        // The last rule that names an environment decides: 01, not 03.
        EXPECT_TRUE(AnyStartsWith(commands, "0C 22 F3 01")) << ::testing::PrintToString(commands);
        EXPECT_FALSE(AnyStartsWith(commands, "0C 22 F3 03"));
        for (const auto& command : commands) EXPECT_EQ(command.substr(0, 2), "0C") << command;
    }

    // An answer altered on its way fails its check: no signature.
    tamper_ = true;
    EXPECT_EQ(Sign(DigestInfo(), signature), CKR_FUNCTION_FAILED);
    EXPECT_TRUE(signature.empty());
    tamper_ = false;
    if (zep) {
        // Without the session's channel nothing is sent.
        Commands();
        EXPECT_EQ(Sign(DigestInfo(), signature, false), CKR_FUNCTION_FAILED);
        EXPECT_TRUE(Commands().empty());
    }
}

TEST_P(ChannelProfiles, PlaintextsComeBackAsTheyWereEnciphered)
{
    const bool zep = GetParam().profile == Token::SigZepEpProfile;
    Open(GetParam());
    const Bytes secret = Hex("0102030405060708090A0B0C0D0E0F10");
    const CK_MECHANISM pkcs{CKM_RSA_PKCS, nullptr, 0};
    Bytes plain;
    ASSERT_EQ(Decrypt(pkcs, Encipher(secret, "EME-PKCS1-v1_5"), plain), CKR_OK);
    EXPECT_EQ(plain, secret);
    auto commands = Commands();
    EXPECT_TRUE(AnyStartsWith(commands, "0C 2A 80 86")) << ::testing::PrintToString(commands);
    EXPECT_FALSE(AnyStartsWith(commands, "00 2A"));
    EXPECT_EQ(AnyStartsWith(commands, "0C 22 F3 03"), !zep) << "the deciphering key's environment";
    EXPECT_EQ(AnyStartsWith(commands, "00 A4 00 0C 02 4B 02"), zep) << "the deciphering key's file";

    CK_RSA_PKCS_OAEP_PARAMS params{CKM_SHA256, CKG_MGF1_SHA256, 0, nullptr, 0};
    const CK_MECHANISM oaep{CKM_RSA_PKCS_OAEP, &params, sizeof params};
    const Bytes oaepCryptogram = Encipher(secret, "EME1(SHA-256)");
    if (zep) {
        ASSERT_EQ(Decrypt(oaep, oaepCryptogram, plain), CKR_OK);
        EXPECT_EQ(plain, secret) << "OAEP removed on the host";
        commands = Commands();
        EXPECT_TRUE(AnyStartsWith(commands, "00 22 41 B8 06 84 01 02 80 01 08")) << ::testing::PrintToString(commands);
        EXPECT_TRUE(AnyStartsWith(commands, "0C 2A 80 86"));
    } else {
        // Under chip authentication this command would be protected twice.
        EXPECT_EQ(Decrypt(oaep, oaepCryptogram, plain), CKR_FUNCTION_FAILED);
        EXPECT_TRUE(Commands().empty());
    }

    tamper_ = true;
    EXPECT_EQ(Decrypt(pkcs, Encipher(secret, "EME-PKCS1-v1_5"), plain), CKR_FUNCTION_FAILED);
    tamper_ = false;

    // Without a channel of the card nothing is sent.
    StatusCache::RemoveCardAuth(handle_, true);
    Commands();
    EXPECT_EQ(Decrypt(pkcs, Encipher(secret, "EME-PKCS1-v1_5"), plain), CKR_FUNCTION_FAILED);
    EXPECT_TRUE(Commands().empty());
}

// A status word alone answers a PSO command in either channel: a success is
// no checked answer and fails, an error is the card's; the caller sees the
// status word in both cases.
TEST_P(ChannelProfiles, StatusWordAloneAnswersThePsoCommands)
{
    Open(GetParam());
    const CK_MECHANISM pkcs{CKM_RSA_PKCS, nullptr, 0};
    const Bytes cryptogram = Encipher(Hex("0102030405060708"), "EME-PKCS1-v1_5");
    for (const Bytes& answer : {Hex("90 00"), Hex("69 82")}) {
        bareAnswer_ = answer;
        Bytes output;
        *session_.LastStatusWord() = 0;
        EXPECT_EQ(Sign(DigestInfo(), output), CKR_FUNCTION_FAILED);
        EXPECT_EQ(*session_.LastStatusWord(), CK_ULONG(answer[0] << 8 | answer[1]));
        *session_.LastStatusWord() = 0;
        EXPECT_EQ(Decrypt(pkcs, cryptogram, output), CKR_FUNCTION_FAILED);
        EXPECT_EQ(*session_.LastStatusWord(), CK_ULONG(answer[0] << 8 | answer[1]));
    }
    // The channel is still in step with the card.
    bareAnswer_.clear();
    Bytes signature;
    EXPECT_EQ(Sign(DigestInfo(), signature), CKR_OK);
}

INSTANTIATE_TEST_SUITE_P(Cards, ChannelProfiles, ::testing::Values(kZep50, kZep44, kQes50, kQes44),
                         [](const ::testing::TestParamInfo<ChannelCard>& info) { return info.param.name; });

// MSE RESTORE takes the environment of the last access rule that names one
// (its seIdentifier for the key's use, its PIN for access mode 1); 0 restores
// nothing.
TEST_F(ChannelProfilesTest, EnvironmentOfTheLastRuleThatNamesOne)
{
    Open(kQes50);
    struct Case {
        std::vector<int> rules;
        int accessMode;
        const char* restored;  // null: no MSE RESTORE
    };
    const Case cases[] = {
        {{3, 1, kPinRule}, 3, "0C 22 F3 01"},
        {{kPinRule, 2}, 1, "0C 22 F3 03"},
        {{2, 0}, 3, nullptr},
        {{}, 3, nullptr},
    };
    for (const Case& c : cases) {
        const auto key = PrivateKey(kSignatureKey, 0x01, c.rules);
        EXPECT_EQ(Token::EvaluateAR(kSlot, session_.LastStatusWord(), *key, c.accessMode), CKR_OK);
        const auto commands = Commands();
        if (c.restored != nullptr) {
            EXPECT_TRUE(AnyStartsWith(commands, c.restored)) << ::testing::PrintToString(commands);
        } else {
            EXPECT_FALSE(AnyStartsWith(commands, "0C 22 F3")) << ::testing::PrintToString(commands);
        }
    }
}

// The key's file is selected with the P1 of the application's profile; an
// application of another profile selects nothing.
TEST_F(ChannelProfilesTest, KeyFileSelectedWithTheP1OfTheProfile)
{
    const Bytes pkcs15{0xA0, 0x00, 0x00, 0x00, 0x63, 0x50, 0x4B, 0x43, 0x53, 0x2D, 0x31, 0x35};
    const std::pair<uint32_t, const char*> cases[] = {{Token::DefaultProfile, "00 A4 09 0C 02 4B 01"},
                                                      {Token::SigGProfile, "00 A4 08 0C 02 4B 01"},
                                                      {Token::SigZepEpProfile, "00 A4 00 0C 02 4B 01"},
                                                      {Token::UnknownProfile, nullptr}};
    for (const auto& [profile, select] : cases) {
        SCOPED_TRACE(profile);
        Register({"DEF50", profile, Token::CardOSv50, pkcs15, {0x50, 0x15}});
        const CK_RV rv = Token::SelectPrivKeyDF(kSlot, session_.LastStatusWord(), *application_->FindObjectList(Token::kKindRsaPrivateKey)->objects.at(0));
        const auto commands = Commands();
        if (select != nullptr) {
            EXPECT_TRUE(AnyStartsWith(commands, select)) << ::testing::PrintToString(commands);
        } else {
            EXPECT_EQ(rv, CKR_FUNCTION_FAILED);
            for (const auto& command : commands) EXPECT_EQ(command.find("4B 01"), std::string::npos) << command;
        }
    }
}

// A default application on a card of no known OS gets no signature command,
// and no empty signature passes for one.
TEST_F(ChannelProfilesTest, UnknownCardOsSignsNothing)
{
    const Bytes pkcs15{0xA0, 0x00, 0x00, 0x00, 0x63, 0x50, 0x4B, 0x43, 0x53, 0x2D, 0x31, 0x35};
    Register({"DEF50", Token::DefaultProfile, Token::UnknownCardOS, pkcs15, {0x50, 0x15}});
    ASSERT_EQ(Raw(Hex("00 20 00 01 08 31 32 33 34 FF FF FF FF")), "90 00");
    Bytes signature;
    EXPECT_EQ(Sign(DigestInfo(), signature), CKR_FUNCTION_FAILED);
    EXPECT_TRUE(signature.empty());
    const auto commands = Commands();
    EXPECT_FALSE(AnyStartsWith(commands, "00 22")) << ::testing::PrintToString(commands);
    EXPECT_FALSE(AnyStartsWith(commands, "00 2A"));
}

// A CardOS 4 key that also deciphers signs by deciphering a type-1 block of
// its modulus size; a key of no known size (0) is refused as a key size, and
// the card sees no command for it.
TEST_F(ChannelProfilesTest, DecipheringKeyOfNoKnownSizeSignsNothing)
{
    const Bytes pkcs15{0xA0, 0x00, 0x00, 0x00, 0x63, 0x50, 0x4B, 0x43, 0x53, 0x2D, 0x31, 0x35};
    Register({"DEF44", Token::DefaultProfile, Token::CardOSv44, pkcs15, {0x50, 0x15}});
    Token::CIOObject& key = *application_->FindObjectList(Token::kKindRsaPrivateKey)->objects.at(0);
    key.AsCommonKeyAttributes()->usage = std::make_unique<HexBinary>(std::string("0800"));
    ASSERT_EQ(Token::SetFlagAttribute(Token::kUsageDecrypt, true, key.AsCommonKeyAttributes()->usage.get()), CKR_OK);
    Token::AttributeSource source;
    source.hasApplication = true;
    source.cardProfile = Token::DefaultProfile;
    source.cardOS = Token::CardOSv44;
    Token::SignatureKey signatureKey;
    signatureKey.slotId = kSlot;
    signatureKey.lastStatus = session_.LastStatusWord();
    signatureKey.userLoggedIn = true;
    signatureKey.source = &source;
    signatureKey.key = &key;
    signatureKey.handle = kSignatureKey;
    const Bytes data = DigestInfo();
    for (const uint16_t bits : {2048, 0}) {
        SCOPED_TRACE(bits);
        key.AsRSAKeyAttributes()->modulusLength = bits;
        Bytes signature(300);
        CK_ULONG length = signature.size();
        Commands();
        const CK_RV rv = Token::ComputeDigitalSignatureFinal(signatureKey, data.data(), uint16_t(data.size()),
                                                             signature.data(), &length);
        const auto commands = Commands();
        if (bits != 0) {
            // The same key with its size goes as far as the deciphering command.
            EXPECT_TRUE(AnyStartsWith(commands, "00 2A 80 86")) << ::testing::PrintToString(commands);
            continue;
        }
        EXPECT_EQ(rv, CKR_KEY_SIZE_RANGE);
        EXPECT_TRUE(commands.empty()) << ::testing::PrintToString(commands);
    }
}

}  // namespace
