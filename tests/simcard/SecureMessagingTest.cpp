#include "TestSupport.h"

#include <botan/ber_dec.h>
#include <botan/cipher_mode.h>
#include <botan/ecdh.h>
#include <botan/hash.h>
#include <botan/mac.h>
#include <botan/pubkey.h>
#include <botan/system_rng.h>
#include <botan/x509cert.h>

#include <gtest/gtest.h>

#include <optional>

#include <algorithm>

namespace {

using namespace simtest;

// Terminal side of chip authentication and Triple-DES secure messaging,
// written from the ISO 7816-4 / TR-03110 rules independently of the card.
class Terminal {
public:
    Terminal(Bytes kEnc, Bytes kMac, Bytes ssc) : kEnc_(std::move(kEnc)), kMac_(std::move(kMac)), ssc_(std::move(ssc)) {}

    // Chip authentication: keys from the agreed secret, counter from zero.
    static Terminal FromSecret(const Bytes& secret)
    {
        auto derive = [&](uint8_t counter) {
            auto sha1 = Botan::HashFunction::create_or_throw("SHA-1");
            sha1->update(secret);
            sha1->update(Bytes{0, 0, 0, counter});
            const auto digest = sha1->final();
            return Bytes(digest.begin(), digest.begin() + 16);
        };
        return Terminal(derive(1), derive(2), Bytes(8, 0));
    }

    static Bytes RetailMac(const Bytes& key, const Bytes& data)
    {
        auto mac = Botan::MessageAuthenticationCode::create_or_throw("X9.19-MAC");
        mac->set_key(key);
        const auto tag = mac->process(Pad(data));
        return Bytes(tag.begin(), tag.end());
    }

    Bytes Wrap(const Bytes& header, const Bytes& data, std::optional<uint8_t> le)
    {
        Step();
        Bytes objects;
        if (!data.empty())
            objects = Cat(Cat({0x87, uint8_t(Des(Pad(data), true).size() + 1), 0x01}, {}), Des(Pad(data), true));
        if (le)
            objects = Cat(objects, {0x97, 0x01, *le});
        Bytes protectedHeader = header;
        protectedHeader[0] |= 0x0C;
        const Bytes mac = Mac(Cat(Pad(protectedHeader), objects));
        objects = Cat(objects, Cat({0x8E, 0x08}, mac));
        return Cat(Cat(protectedHeader, {uint8_t(objects.size())}), Cat(objects, {0x00}));
    }

    // Checks the response's checksum; returns the deciphered data.
    std::optional<Bytes> Unwrap(const Bytes& response)
    {
        Step();
        const Bytes body = Data(response);
        const auto macAt = std::search(body.begin(), body.end(), kMacTag.begin(), kMacTag.end());
        if (macAt == body.end() || body.end() - macAt != 10)
            return std::nullopt;
        const Bytes covered(body.begin(), macAt);
        if (Bytes(macAt + 2, body.end()) != Mac(covered))
            return std::nullopt;
        if (covered.empty() || covered[0] != 0x87)
            return Bytes{};
        const Bytes plain = Des(Bytes(covered.begin() + 3, covered.begin() + 2 + covered[1]), false);
        const auto end = std::find_if(plain.rbegin(), plain.rend(), [](uint8_t b) { return b != 0; });
        return Bytes(plain.begin(), end.base() - 1);
    }

private:
    void Step()
    {
        for (size_t i = ssc_.size(); i-- > 0;)
            if (++ssc_[i] != 0)
                break;
    }
public:
    static Bytes Pad(Bytes data)
    {
        data.push_back(0x80);
        while (data.size() % 8)
            data.push_back(0x00);
        return data;
    }
    Bytes Mac(const Bytes& input) const { return RetailMac(kMac_, Cat(ssc_, input)); }
    Bytes Des(const Bytes& data, bool encrypt) const { return Des(kEnc_, data, encrypt); }
    static Bytes Des(const Bytes& key, const Bytes& data, bool encrypt)
    {
        auto mode = Botan::Cipher_Mode::create_or_throw("TripleDES/CBC/NoPadding",
                                                        encrypt ? Botan::ENCRYPTION : Botan::DECRYPTION);
        mode->set_key(key);
        mode->start(Bytes(8, 0));
        Botan::secure_vector<uint8_t> buffer(data.begin(), data.end());
        mode->finish(buffer);
        return Bytes(buffer.begin(), buffer.end());
    }

private:
    const Bytes kMacTag{0x8E, 0x08};
    Bytes kEnc_, kMac_, ssc_;
};

// Runs chip authentication against `card`; the terminal shares its keys.
Terminal Authenticate(cardsim::Card& card)
{
    const Bytes security = *card.FileContents(Hex("011D"));
    const Bytes keyTag = Hex("03 42 00 04");
    const auto at = std::search(security.begin(), security.end(), keyTag.begin(), keyTag.end());
    EXPECT_NE(at, security.end());
    const Bytes cardPoint(at + 3, at + 3 + 65);
    const Botan::EC_Group group("brainpool256r1");
    const Botan::ECDH_PrivateKey ephemeral(Botan::system_rng(), group);
    const Bytes point = ephemeral.public_value();
    const Bytes mse = Cat(Hex("00 22 41 A6 46 84 01 03 91 41"), point);
    EXPECT_EQ(card.Transmit(mse), Hex("90 00"));
    Botan::PK_Key_Agreement agreement(ephemeral, Botan::system_rng(), "Raw");
    const auto secret = agreement.derive_key(0, cardPoint).bits_of();
    return Terminal::FromSecret(Bytes(secret.begin(), secret.end()));
}

TEST(CardSecureMessaging, CardSecurityIsSignedByTheEmbeddedCertificate)
{
    auto card = cardsim::MakePersonalisation("QES50");
    const Bytes security = *card->FileContents(Hex("011D"));
    Botan::BER_Decoder file(security);
    Botan::BER_Decoder signedData = file.start_cons(Botan::SEQUENCE);
    size_t version = 0;
    signedData.decode(version);
    EXPECT_EQ(version, 3u);
    signedData.get_next_object();  // digestAlgorithms
    Bytes content;
    Botan::OID contentType;
    Botan::BER_Decoder encapsulated = signedData.start_cons(Botan::SEQUENCE);
    encapsulated.decode(contentType);
    encapsulated.start_cons(Botan::ASN1_Tag(0), Botan::CONTEXT_SPECIFIC).decode(content, Botan::OCTET_STRING).end_cons();
    const Botan::BER_Object certificates = signedData.get_next_object();
    const Botan::X509_Certificate signer(certificates.bits(), certificates.length());
    Botan::BER_Decoder signerInfo = signedData.start_cons(Botan::SET).start_cons(Botan::SEQUENCE);
    signerInfo.decode(version);
    signerInfo.get_next_object();  // issuerAndSerialNumber
    Botan::AlgorithmIdentifier digest, signatureAlgorithm;
    Bytes signature;
    signerInfo.decode(digest).decode(signatureAlgorithm).decode(signature, Botan::OCTET_STRING);
    Botan::PK_Verifier verifier(*signer.load_subject_public_key(), "EMSA3(SHA-256)");
    EXPECT_TRUE(verifier.verify_message(content, signature));
    // The card access file repeats the security infos that need no signature.
    const Bytes access = *card->FileContents(Hex("011C"));
    EXPECT_EQ(access[0], 0x31);
}

TEST(CardSecureMessaging, ChipAuthenticationOpensProtectedCommands)
{
    auto card = cardsim::MakePersonalisation("QES50");
    EXPECT_EQ(card->Transmit(Hex("0C 84 00 00 00")), Hex("68 82")) << "no session yet";

    Terminal terminal = Authenticate(*card);
    EXPECT_TRUE(card->SecureMessagingActive());
    const Bytes challenge = card->Transmit(terminal.Wrap(Hex("00 84 00 00"), {}, 0x08));
    EXPECT_EQ(Sw(challenge), 0x9000);
    const auto random = terminal.Unwrap(challenge);
    ASSERT_TRUE(random);
    EXPECT_EQ(random->size(), 8u);

    const Bytes select = card->Transmit(terminal.Wrap(Hex("00 A4 00 0C"), Hex("01 1C"), std::nullopt));
    EXPECT_EQ(Sw(select), 0x9000);
    EXPECT_EQ(terminal.Unwrap(select), Bytes{});
    EXPECT_EQ(card->CurrentEf(), 0x011C);
    // The status word inside the protection matches the one outside.
    const Bytes missing = card->Transmit(terminal.Wrap(Hex("00 A4 00 0C"), Hex("77 77"), std::nullopt));
    EXPECT_EQ(Sw(missing), 0x6A82);
    EXPECT_EQ(Bytes(missing.begin(), missing.begin() + 4), Hex("99 02 6A 82"));
    EXPECT_TRUE(terminal.Unwrap(missing));

    // A command with a wrong checksum ends the session.
    Bytes forged = terminal.Wrap(Hex("00 84 00 00"), {}, 0x08);
    forged[forged.size() - 2] ^= 0x01;
    EXPECT_EQ(card->Transmit(forged), Hex("69 88"));
    EXPECT_FALSE(card->SecureMessagingActive());
}

TEST(CardSecureMessaging, SessionEndsWithResetOrOnRequestWithPlainCommands)
{
    auto card = cardsim::MakePersonalisation("QES50");
    Authenticate(*card);
    EXPECT_EQ(card->Transmit(Hex("00 A4 00 0C")), Hex("90 00"));
    EXPECT_TRUE(card->SecureMessagingActive()) << "plain commands pass by default";
    card->Reset();
    EXPECT_FALSE(card->SecureMessagingActive());

    auto options = card->Options();
    options.plainCommandEndsSecureMessaging = true;
    card->SetOptions(options);
    Authenticate(*card);
    EXPECT_EQ(card->Transmit(Hex("00 A4 00 0C")), Hex("90 00"));
    EXPECT_FALSE(card->SecureMessagingActive());

    // Cards without a chip-authentication key refuse the key agreement.
    auto plainCard = cardsim::MakePersonalisation("DEF50");
    EXPECT_EQ(plainCard->Transmit(Cat(Hex("00 22 41 A6 46 84 01 03 91 41 04"), Bytes(64, 0x01))), Hex("6A 88"));
}

TEST(CardSecureMessaging, ApplicationContainerMutualAuthenticationAndSessionKey)
{
    auto card = cardsim::MakePersonalisation("ZEP50");
    const Bytes key = Hex("00112233445566778899AABBCCDDEEFF");
    const Bytes derivationKey = Hex("0123456789ABCDEFFEDCBA9876543210");
    card->SetApplicationContainerKeys(key, derivationKey);
    ASSERT_EQ(card->Transmit(Hex("00 A4 04 0C 0F F0 41 50 50 43 4F 4E 54 41 49 4E 45 52 30 31")), Hex("90 00"));

    const Bytes cardChallenge = Data(card->Transmit(Hex("00 84 00 00 20")));
    ASSERT_EQ(cardChallenge.size(), 32u);
    const Bytes hostChallenge(32, 0x5A);
    auto authenticate = [&](const Bytes& hostMac) {
        const Bytes dynamic = Cat(Cat(Hex("7C 2C 82 08"), hostMac), Cat(Hex("81 20"), hostChallenge));
        const Bytes data = Cat(dynamic, Hex("A4 06 83 01 95 95 01 40 B4 06 84 01 17 95 01 30"));
        return card->Transmit(Cat(Hex("00 82 00 95 3E"), data));
    };
    const Bytes answer = authenticate(Terminal::RetailMac(key, cardChallenge));
    ASSERT_EQ(Sw(answer), 0x9000);
    EXPECT_EQ(Data(answer), Cat(Hex("7C 0A 82 08"), Terminal::RetailMac(key, hostChallenge)));
    EXPECT_EQ(authenticate(Terminal::RetailMac(key, cardChallenge)), Hex("69 85")) << "challenge used up";

    // Session key 17: SHA-1(RC || RH), 15 bytes and 80, enciphered under the derivation key.
    const auto digest = Botan::HashFunction::create_or_throw("SHA-1")->process(Cat(cardChallenge, hostChallenge));
    Bytes block(digest.begin(), digest.begin() + 15);
    block.push_back(0x80);
    const Bytes sessionKey = Terminal::Des(derivationKey, block, true);
    Terminal terminal(sessionKey, sessionKey, {});
    const Bytes random = card->Transmit(terminal.Wrap(Hex("00 84 00 00"), {}, 0x10));
    EXPECT_EQ(Sw(random), 0x9000);
    const auto plain = terminal.Unwrap(random);
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->size(), 16u);

    // A wrong host MAC fails the authentication.
    card->Reset();
    ASSERT_EQ(card->Transmit(Hex("00 A4 04 0C 0F F0 41 50 50 43 4F 4E 54 41 49 4E 45 52 30 31")), Hex("90 00"));
    ASSERT_EQ(Sw(card->Transmit(Hex("00 84 00 00 20"))), 0x9000);
    EXPECT_EQ(authenticate(Bytes(8, 0x00)), Hex("63 00"));
    EXPECT_FALSE(card->SecureMessagingActive());
}

}  // namespace
