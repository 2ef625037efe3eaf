#include <gtest/gtest.h>

#include <botan/auto_rng.h>
#include <botan/ecdsa.h>
#include <botan/exceptn.h>
#include <botan/x509self.h>

#include <memory>
#include <string>

#include "ASN1Object.h"
#include "ASN1Types.h"

using namespace Brelt::Crypto::ASN;
using Brelt::MW::Base::HexBinary;

namespace {

std::unique_ptr<ASN1Object> ParseHex(const std::string& hex)
{
    HexBinary bytes(hex);
    auto node = std::make_unique<ASN1Object>();
    node->Parse(&bytes);
    return node;
}

HexBinary FromBytes(const std::vector<uint8_t>& bytes)
{
    return HexBinary(bytes.data(), static_cast<int>(bytes.size()), true);
}

std::vector<uint8_t> SelfSignedCertificate()
{
    Botan::AutoSeeded_RNG rng;
    Botan::ECDSA_PrivateKey key(rng, Botan::EC_Group("secp256r1"));
    Botan::X509_Cert_Options options("Test Holder/SK/Brelt/Unit");
    options.email = "holder@example.org";
    return Botan::X509::create_self_signed_cert(options, key, "SHA-256", rng).BER_encode();
}

}  // namespace

TEST(AsnTree, GetUIntRefusesOversizedAndNegativeValues)
{
    for (const char* hex : {"0100000000", "FF", "FF00", "8000000000"}) {
        HexBinary contents(hex);
        ASN1Integer integer(0x00, 2, &contents);
        try {
            integer.GetUInt();
            ADD_FAILURE() << "no exception for " << hex;
        } catch (const char* text) {
            EXPECT_STREQ(text, "Cannot parse to unsigned integer, probably too big value or incorrect bytes");
        }
    }
}

TEST(AsnTree, MalformedInputThrowsBotanErrors)
{
    // Empty input: Botan's no-object marker, no children.
    auto empty = ParseHex("");
    EXPECT_EQ(empty->GetTypeTag(), 0xFF00u);
    EXPECT_EQ(empty->GetClassTag(), 0xFF00u);
    EXPECT_FALSE(empty->HasChildren());

    for (const char* hex : {"3005020105", "30", "3084FFFFFFFF", "30030201", "3003020205",
                            "1F", "1F8181", "0481"}) {
        EXPECT_THROW(ParseHex(hex), Botan::Exception) << hex;
    }
    // Bad BIT STRING contents only fail when read.
    auto bits = ParseHex("3003030108");
    auto* bitString = dynamic_cast<ASN1BitString*>(bits->GetChildren().at(0));
    ASSERT_NE(bitString, nullptr);
    EXPECT_THROW(delete bitString->GetValue(), Botan::Exception);

    // Every truncation of a real certificate either parses or throws.
    const std::vector<uint8_t> certificate = SelfSignedCertificate();
    for (size_t cut = 0; cut < certificate.size(); ++cut) {
        HexBinary prefix(certificate.data(), static_cast<int>(cut), true);
        ASN1Object node;
        try {
            node.Parse(&prefix);
        } catch (const Botan::Exception&) {
        }
    }
}

TEST(AsnTree, NestingDepthIsBounded)
{
    auto nested = [](int levels) {
        std::vector<uint8_t> bytes = {0x05, 0x00};
        for (int i = 0; i < levels; ++i) {
            std::vector<uint8_t> outer = {0x30, 0x82, uint8_t(bytes.size() >> 8), uint8_t(bytes.size())};
            outer.insert(outer.end(), bytes.begin(), bytes.end());
            bytes.swap(outer);
        }
        return bytes;
    };
    HexBinary ok = FromBytes(nested(kMaxNestingDepth - 1));
    ASN1Object accepted;
    accepted.Parse(&ok);
    int depth = 1;
    for (ASN1Object* node = &accepted; node->HasChildren(); node = node->GetChildren().at(0)) ++depth;
    EXPECT_EQ(depth, kMaxNestingDepth);

    HexBinary tooDeep = FromBytes(nested(kMaxNestingDepth));
    ASN1Object refused;
    EXPECT_THROW(refused.Parse(&tooDeep), Botan::Decoding_Error);
    HexBinary hostile = FromBytes(nested(16000));  // about 64 KiB of headers
    EXPECT_THROW(refused.Parse(&hostile), Botan::Decoding_Error);
    EXPECT_THROW(ASN1Object(0x20, 16, &hostile), Botan::Decoding_Error);
}
