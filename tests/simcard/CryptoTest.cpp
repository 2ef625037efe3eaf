#include "TestSupport.h"

#include <botan/hash.h>
#include <botan/pubkey.h>
#include <botan/rsa.h>
#include <botan/x509cert.h>

#include <gtest/gtest.h>

namespace {

using namespace simtest;

// DigestInfo of SHA-256("cardsim") as a host puts it into PSO CDS.
Bytes DigestInfo()
{
    const auto digest = Botan::HashFunction::create_or_throw("SHA-256")->process("cardsim");
    return Cat(Hex("30 31 30 0D 06 09 60 86 48 01 65 03 04 02 01 05 00 04 20"), Bytes(digest.begin(), digest.end()));
}

// PSO COMPUTE DIGITAL SIGNATURE in the forced extended form.
Bytes PsoSign(const Bytes& input)
{
    return Cat(Cat(Hex("00 2A 9E 9A 00"), {uint8_t(input.size() >> 8), uint8_t(input.size())}),
               Cat(input, Hex("00 00")));
}

Bytes PsoDecipher(const Bytes& block)
{
    const size_t lc = block.size() + 1;
    return Cat(Cat(Hex("00 2A 80 86 00"), {uint8_t(lc >> 8), uint8_t(lc), 0x00}), Cat(block, Hex("00 00")));
}

bool VerifiesWithCertificate(const cardsim::Card& card, const Bytes& certPath, const Bytes& signature)
{
    const Botan::X509_Certificate certificate(*card.FileContents(certPath));
    const auto publicKey = certificate.load_subject_public_key();
    Botan::PK_Verifier verifier(*publicKey, "EMSA3(SHA-256)");
    return verifier.verify_message(reinterpret_cast<const uint8_t*>("cardsim"), 7, signature.data(),
                                   signature.size());
}

TEST(CardCrypto, CardOs50SignatureVerifiesWithTheCertificate)
{
    auto card = cardsim::MakePersonalisation("DEF50");
    const Bytes mse = Hex("00 22 41 B6 09 84 01 01 95 01 40 80 01 10");
    ASSERT_EQ(card->Transmit(kSelectPkcs15), Hex("90 00"));
    ASSERT_EQ(card->Transmit(Hex("00 A4 09 0C 02 4B 01")), Hex("90 00"));
    ASSERT_EQ(card->Transmit(mse), Hex("90 00"));
    EXPECT_EQ(card->Transmit(PsoSign(DigestInfo())), Hex("69 82")) << "PIN not verified";
    ASSERT_EQ(card->Transmit(kVerifyUserPin), Hex("90 00"));
    const Bytes answer = card->Transmit(PsoSign(DigestInfo()));
    ASSERT_EQ(Sw(answer), 0x9000);
    EXPECT_EQ(Data(answer).size(), 256u);
    EXPECT_TRUE(VerifiesWithCertificate(*card, Hex("5015 4301"), Data(answer)));
    // The certificate matches the key the card holds.
    const Botan::X509_Certificate certificate(*card->FileContents(Hex("5015 4301")));
    EXPECT_EQ(certificate.serial_number().size(), 8u);
    EXPECT_EQ(certificate.load_subject_public_key()->public_key_bits(),
              card->Key(Hex("5015"), 1)->public_key_bits());

    // Input longer than the key allows, a sign-only key asked to decipher, a
    // cryptogram not below the modulus.
    EXPECT_EQ(card->Transmit(PsoSign(Bytes(246, 0x01))), Hex("67 00"));
    ASSERT_EQ(card->Transmit(Hex("00 22 41 B8 03 84 01 01")), Hex("90 00"));
    EXPECT_EQ(card->Transmit(PsoDecipher(Bytes(256, 0x01))), Hex("69 85"));
    ASSERT_EQ(card->Transmit(Hex("00 22 41 B8 03 84 01 02")), Hex("90 00"));
    EXPECT_EQ(card->Transmit(PsoDecipher(Bytes(256, 0xFF))), Hex("6A 80"));
    EXPECT_EQ(card->Transmit(Hex("00 22 41 B6 03 84 01 07")), Hex("6A 88"));
    // Changing the DF drops the environment.
    ASSERT_EQ(card->Transmit(mse), Hex("90 00"));
    EXPECT_EQ(card->Environment().signatureKey, 0x01);
    ASSERT_EQ(card->Transmit(Hex("00 A4 00 0C")), Hex("90 00"));
    EXPECT_FALSE(card->Environment().signatureKey);
    ASSERT_EQ(card->Transmit(kSelectPkcs15), Hex("90 00"));
    EXPECT_EQ(card->Transmit(PsoSign(DigestInfo())), Hex("69 85"));
}

TEST(CardCrypto, LongSignatureNeedsAnExtendedAnswer)
{
    auto card = cardsim::MakePersonalisation("DEF50-3K");
    ASSERT_EQ(card->Transmit(kVerifyUserPin), Hex("90 00"));
    ASSERT_EQ(card->Transmit(kSelectPkcs15), Hex("90 00"));
    ASSERT_EQ(card->Transmit(Hex("00 22 41 B6 09 84 01 01 95 01 40 80 01 10")), Hex("90 00"));
    const Bytes signature = card->Transmit(PsoSign(DigestInfo()));
    ASSERT_EQ(Sw(signature), 0x9000);
    EXPECT_EQ(Data(signature).size(), 384u);
    EXPECT_TRUE(VerifiesWithCertificate(*card, Hex("5015 4301"), Data(signature)));
    const Bytes shortForm = Cat(Cat(Hex("00 2A 9E 9A"), {uint8_t(DigestInfo().size())}), Cat(DigestInfo(), Hex("00")));
    EXPECT_EQ(card->Transmit(shortForm), Hex("67 00"));
}

}  // namespace
