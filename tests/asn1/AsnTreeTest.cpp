#include <gtest/gtest.h>

#include <botan/auto_rng.h>
#include <botan/ecdsa.h>
#include <botan/exceptn.h>
#include <botan/x509self.h>

#include <cstring>
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

std::string Hex(std::unique_ptr<HexBinary> buffer)
{
    return buffer->ToString();
}

std::string EncodedHex(const ASN1Object& node)
{
    return Hex(std::unique_ptr<HexBinary>(node.GetEncoded()));
}

std::string RoundTrip(const std::string& hex)
{
    return EncodedHex(*ParseHex(hex));
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

TEST(AsnTree, SequenceChildrenGetTypedClasses)
{
    auto root = ParseHex("30060201050401AA");
    auto* sequence = root.get();
    EXPECT_EQ(sequence->GetClassTag(), 0x20u);
    EXPECT_EQ(sequence->GetTypeTag(), 16u);
    auto children = sequence->GetChildren();
    ASSERT_EQ(children.size(), 2u);
    auto* integer = dynamic_cast<ASN1Integer*>(children[0]);
    auto* octets = dynamic_cast<ASN1OctetString*>(children[1]);
    ASSERT_NE(integer, nullptr);
    ASSERT_NE(octets, nullptr);
    EXPECT_EQ(integer->GetUInt(), 5u);
    EXPECT_EQ(Hex(std::unique_ptr<HexBinary>(octets->GetValue())), "AA");
    EXPECT_EQ(integer->GetParent(), sequence);
    EXPECT_EQ(sequence->FindChild(4), children[1]);
    EXPECT_EQ(sequence->FindChild(16), nullptr);
    EXPECT_EQ(children[0]->FindChild(2), nullptr);  // primitive: no children
}

TEST(AsnTree, ContextTagsGivePlainNodes)
{
    auto root = ParseHex("A003800101");
    EXPECT_EQ(typeid(*root), typeid(ASN1Object));
    EXPECT_EQ(root->GetClassTag(), 0xA0u);
    EXPECT_EQ(root->GetTypeTag(), 0u);
    ASN1Object* child = root->FindChild(0x80);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(typeid(*child), typeid(ASN1Object));
    EXPECT_EQ(child->GetClassTag(), 0x80u);
    EXPECT_EQ(Hex(std::unique_ptr<HexBinary>(child->GetValue())), "01");
}

TEST(AsnTree, UniversalTagsMapToNodeClasses)
{
    // One SEQUENCE holding one element of each universal type the parser knows.
    auto root = ParseHex("303F"
                         "0101FF" "0500" "06060400"  "7F000702"   // BOOLEAN, NULL, OID 0.4.0.127.0.7.2
                         "030200FF" "0C026869" "12023132" "13024142"
                         "14024344" "16024546" "170D3230303130313030303030305A"
                         "1A024748" "3100" "3000" "0A0101");
    std::vector<ASN1Object*> c = root->GetChildren();
    ASSERT_EQ(c.size(), 14u);
    EXPECT_TRUE(dynamic_cast<ASN1Boolean*>(c[0])->GetValue());
    EXPECT_NE(dynamic_cast<ASN1Null*>(c[1]), nullptr);
    EXPECT_EQ(dynamic_cast<ASN1ObjectIdentifier*>(c[2])->GetValue(), "0.4.0.127.0.7.2");
    EXPECT_EQ(Hex(std::unique_ptr<HexBinary>(dynamic_cast<ASN1BitString*>(c[3])->GetValue())), "FF");
    EXPECT_EQ(dynamic_cast<ASN1UTF8String*>(c[4])->GetValue(), "hi");
    EXPECT_EQ(dynamic_cast<ASN1NumericString*>(c[5])->GetValue(), "12");
    EXPECT_EQ(dynamic_cast<ASN1PrintableString*>(c[6])->GetValue(), "AB");
    EXPECT_EQ(dynamic_cast<ASN1T61String*>(c[7])->GetValue(), "CD");
    EXPECT_EQ(dynamic_cast<ASN1IA5String*>(c[8])->GetValue(), "EF");
    EXPECT_NE(dynamic_cast<ASN1UTCTime*>(c[9]), nullptr);
    EXPECT_EQ(dynamic_cast<ASN1VisibleString*>(c[10])->GetValue(), "GH");
    EXPECT_NE(dynamic_cast<ASN1Set*>(c[11]), nullptr);
    EXPECT_NE(dynamic_cast<ASN1Sequence*>(c[12]), nullptr);
    EXPECT_EQ(typeid(*c[13]), typeid(ASN1Object));  // ENUMERATED has no class of its own
    EXPECT_EQ(root->FindChild(17), c[11]);
    EXPECT_EQ(root->FindChild(16), c[12]);
}

TEST(AsnTree, ConstructedNodesAndEncodings)
{
    EXPECT_EQ(EncodedHex(ASN1Integer(0)), "020100");
    EXPECT_EQ(EncodedHex(ASN1Integer(128)), "02020080");
    EXPECT_EQ(EncodedHex(ASN1Integer(0xFFFFFFFFu)), "020500FFFFFFFF");
    EXPECT_EQ(ASN1Integer(0xFFFFFFFFu).GetUInt(), 0xFFFFFFFFu);
    EXPECT_EQ(EncodedHex(ASN1Boolean(true)), "0101FF");
    HexBinary bytes("0102");
    EXPECT_EQ(EncodedHex(ASN1OctetString(&bytes)), "04020102");

    ASN1Set set;
    set.AddChild(new ASN1Integer(2));
    set.AddChild(std::make_unique<ASN1Integer>(1));
    set.AddChild(nullptr);
    auto context = std::make_unique<ASN1Object>(0xA0, 7);
    context->AddChild(new ASN1Object(0x80, 1, &bytes));
    ASN1Object* contextRaw = context.get();
    set.AddChild(std::move(context));
    // Stored order is kept: DER SET OF sorting would put 01 first.
    EXPECT_EQ(EncodedHex(set), "310C020102020101A7048102" "0102");
    EXPECT_EQ(contextRaw->GetParent(), &set);

    ASN1Integer integer(5);
    integer.AddChild(new ASN1Integer(6));  // refused and destroyed
    EXPECT_FALSE(integer.HasChildren());
    EXPECT_EQ(EncodedHex(integer), "020105");

    // Private constructed: children when parsed, none when built by hand.
    ASN1Object privateNode(0xE0, 3);
    EXPECT_FALSE(privateNode.HasChildren());
    auto parsedPrivate = ParseHex("E303020105");
    EXPECT_EQ(parsedPrivate->GetChildren().size(), 1u);
    EXPECT_EQ(EncodedHex(*parsedPrivate), "E303020105");

    HexBinary contents("020107");
    ASN1Object withContents(0x20, 16, &contents);
    ASSERT_EQ(withContents.GetChildren().size(), 1u);
    EXPECT_EQ(EncodedHex(withContents), "3003020107");
}

TEST(AsnTree, RoundTripsKeepTheEncoding)
{
    EXPECT_EQ(RoundTrip("3106040101040100"), "3106040101040100");  // SET order kept
    EXPECT_EQ(RoundTrip("7F4903860100"), "7F4903860100");          // two-octet tag
    auto high = ParseHex("7F4903860100");
    EXPECT_EQ(high->GetTypeTag(), 0x49u);
    EXPECT_EQ(high->GetClassTag(), 0x60u);
    EXPECT_NE(high->FindChild(0x86), nullptr);
    // Bytes after the first object are ignored.
    EXPECT_EQ(RoundTrip("0401AA0401BB"), "0401AA");
    // Directory-style application template.
    const std::string dirRecord = "611A4F0FE828BD080FA000000167455349474E500750726F66696C65";
    EXPECT_EQ(RoundTrip(dirRecord), dirRecord);

    const std::vector<uint8_t> certificate = SelfSignedCertificate();
    HexBinary certBytes = FromBytes(certificate);
    ASN1Object cert;
    cert.Parse(&certBytes);
    EXPECT_EQ(EncodedHex(cert), certBytes.ToString());
    ASSERT_EQ(cert.GetChildren().size(), 3u);  // tbsCertificate, algorithm, signature
    EXPECT_NE(dynamic_cast<ASN1BitString*>(cert.GetChildren()[2]), nullptr);
}

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
