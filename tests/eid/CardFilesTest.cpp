// EF.CardAccess and EF.CardSecurity: the files of the simulated eID cards,
// the consistency check between two files, and damaged files, which must
// give the documented MWException codes and never crash.
#include <gtest/gtest.h>

#include <cardsim/Card.h>
#include <cardsim/Personalisations.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ASN1Object.h"
#include "EidTestData.h"
#include "eID/CardAccess.h"
#include "eID/CardSecurity.h"

using namespace Brelt::Crypto::EIDStruct;
using Brelt::MW::Base::HexBinary;
using Brelt::MW::Base::MWException;
using namespace eidtest;

namespace {

Bytes CardFile(const std::string& personalisation, uint16_t fid) {
    const auto card = cardsim::MakePersonalisation(personalisation);
    const auto contents = card->FileContents({static_cast<uint8_t>(fid >> 8), static_cast<uint8_t>(fid)});
    if (!contents) throw std::runtime_error("no such file on " + personalisation);
    return *contents;
}

std::vector<uint32_t> TypesOf(const SecurityInfoList& infos) {
    std::vector<uint32_t> types;
    for (const auto& info : infos) types.push_back(info->GetType());
    return types;
}

template <typename File>
int32_t CodeOf(const Bytes& bytes) {
    const HexBinary hex = Hex(bytes);
    try {
        File file(&hex);
    } catch (const MWException& e) {
        return e.code;
    }
    return 0;
}

Bytes CaDomainInfo(size_t curveId) {
    return Info(kOidCaEcdh, [&](Botan::DER_Encoder& d) {
        StandardizedDomain(d, curveId);
        d.encode(size_t(3));
    });
}

// A SignedData as the cards store it around the given SET OF SecurityInfo;
// `certificates` is written as it is between the content and the signers.
Bytes SignedData(const Bytes& content, bool signedAttributes = false, const Bytes& certificates = {}) {
    const Botan::AlgorithmIdentifier sha256(Botan::OID("2.16.840.1.101.3.4.2.1"),
                                            Botan::AlgorithmIdentifier::USE_NULL_PARAM);
    Botan::DER_Encoder der;
    der.start_cons(Botan::SEQUENCE)
        .encode(size_t(3))
        .start_cons(Botan::SET).encode(sha256).end_cons()
        .start_cons(Botan::SEQUENCE)
        .encode(Botan::OID("0.4.0.127.0.7.3.2.1"))
        .start_cons(Botan::ASN1_Tag(0), Botan::CONTEXT_SPECIFIC).encode(content, Botan::OCTET_STRING).end_cons()
        .end_cons()
        .raw_bytes(certificates)
        .start_cons(Botan::SET)
        .start_cons(Botan::SEQUENCE)
        .encode(size_t(3))
        .encode(Bytes{0x01, 0x02}, Botan::OCTET_STRING)
        .encode(sha256);
    if (signedAttributes)
        der.start_cons(Botan::ASN1_Tag(0), Botan::CONTEXT_SPECIFIC).encode(size_t(1)).end_cons();
    der.encode(sha256).encode(Bytes{0x5A, 0x5A}, Botan::OCTET_STRING).end_cons().end_cons().end_cons();
    return der.get_contents_unlocked();
}

}  // namespace

TEST(CardFiles, SimulatedChipAuthenticationCard) {
    const HexBinary accessBytes = Hex(CardFile("QES50", 0x011C));
    const HexBinary securityBytes = Hex(CardFile("QES50", 0x011D));
    const CardAccess access(&accessBytes);
    const CardSecurity security(&securityBytes);
    // Seeds for the card-file fuzzer.
    if (const char* seedDir = std::getenv("BRELT_EID_SEED_DIR")) {
        std::ofstream(std::string(seedDir) + "/cardaccess.der", std::ios::binary)
            .write(reinterpret_cast<const char*>(accessBytes.data), accessBytes.length);
        std::ofstream(std::string(seedDir) + "/cardsecurity.der", std::ios::binary)
            .write(reinterpret_cast<const char*>(securityBytes.data), securityBytes.length);
    }

    EXPECT_EQ(TypesOf(access.GetSecurityInfos()),
              (std::vector<uint32_t>{kTypePinInfo, kTypeChipAuthenticationInfo, kTypePACEInfo,
                                     kTypeChipAuthenticationDomainParameterInfo}));
    EXPECT_TRUE(access.GetRawData()->Equals(&accessBytes));


    EXPECT_TRUE(access.IsConsistentWith(&security));
    EXPECT_TRUE(security.IsConsistentWith(&access));
    EXPECT_EQ(security.GetChipAuthenticationDomain()->GetName(), kOidBrainpoolP256r1);
    EXPECT_EQ(access.GetChipAuthenticationDomain()->GetName(), kOidBrainpoolP256r1);

    const auto* pk = dynamic_cast<const ChipAuthenticationPublicKeyInfo*>(FindSecurityInfoByType(
        &security.GetEncapsulatedContentInfo().GetSecurityInfos(), kTypeChipAuthenticationPublicKeyInfo));
    ASSERT_NE(pk, nullptr);
    EXPECT_EQ(pk->GetChipAuthenticationPublicKey().publicKey->length, 65);  // uncompressed P-256 point
}

TEST(CardFiles, PinLengthOfTheSimulatedCards) {
    for (const char* name : {"ZEP50", "ZEP44", "QES50"}) {
        const HexBinary bytes = Hex(CardFile(name, 0x011C));
        EXPECT_EQ(PinLengthFromCardAccess(&bytes), 6u) << name;
    }
    // No PinInfo, no length in it, a length no PIN has, damaged or no file.
    const std::vector<Bytes> without{
        SetOf({IntInfo(kOidCaEcdh3Des, 2, 1)}),
        SetOf({IntInfo(kOidPinInfo, 1)}),
        SetOf({IntInfo(kOidPinInfo, 1, 0x10000)}),
        SetOf({Info(kOidPinInfo, [](Botan::DER_Encoder& d) { d.encode_null(); })}),
        {0x31, 0x05, 0x30},
        {},
    };
    for (const Bytes& file : without) {
        const HexBinary bytes = Hex(file);
        EXPECT_EQ(PinLengthFromCardAccess(&bytes), 0u) << bytes.ToString();
    }
    EXPECT_EQ(PinLengthFromCardAccess(nullptr), 0u);
}

TEST(CardFiles, ConsistencyIgnoresOnlyTheDomainParameters) {
    const Bytes pace = IntInfo(kOidPaceEcdhGmAes128, 2, 13);
    const Bytes ca = IntInfo(kOidCaEcdh3Des, 2, 1);
    const HexBinary accessBytes = Hex(SetOf({pace, ca, CaDomainInfo(13)}));
    const CardAccess access(&accessBytes);

    const HexBinary sameBytes = Hex(SignedData(SetOf({pace, ca, CaDomainInfo(16)})));
    const CardSecurity same(&sameBytes);
    EXPECT_TRUE(access.IsConsistentWith(&same));

    const HexBinary otherKeyBytes = Hex(SignedData(SetOf({pace, IntInfo(kOidCaEcdh3Des, 2, 2)})));
    const CardSecurity otherKey(&otherKeyBytes);
    EXPECT_FALSE(access.IsConsistentWith(&otherKey));
    EXPECT_FALSE(otherKey.IsConsistentWith(&access));

    // A type only one file holds counts as equal.
    const HexBinary fewerBytes = Hex(SignedData(SetOf({ca})));
    const CardSecurity fewer(&fewerBytes);
    EXPECT_TRUE(access.IsConsistentWith(&fewer));
    EXPECT_FALSE(access.IsConsistentWith(nullptr));
}

TEST(CardFiles, EmptyOrUndecodableFilesGive100008) {
    EXPECT_EQ(CodeOf<CardAccess>({}), 100008);
    const HexBinary empty;
    try {
        CardSecurity security(&empty);
        FAIL();
    } catch (const MWException& e) {
        EXPECT_EQ(e.code, 100008);
        EXPECT_EQ(e.message, "Exception at .\\source\\eID\\CardSecurity, Line: 92, Invalid CardASecurity data");
    }
    // A SEQUENCE is not a SET OF SecurityInfo.
    EXPECT_EQ(CodeOf<CardAccess>(IntInfo(kOidCaEcdh3Des, 2, 1)), 100008);
    // A SignedData wrapped in a ContentInfo: the first element is no INTEGER.
    Botan::DER_Encoder wrapped;
    wrapped.start_cons(Botan::SEQUENCE).encode(Botan::OID("1.2.840.113549.1.7.2"))
        .start_cons(Botan::ASN1_Tag(0), Botan::CONTEXT_SPECIFIC)
        .raw_bytes(SignedData(SetOf({IntInfo(kOidCaEcdh3Des, 2, 1)})))
        .end_cons().end_cons();
    EXPECT_EQ(CodeOf<CardSecurity>(wrapped.get_contents_unlocked()), 100008);
}

// The certificates are read only from a SET inside [0]; other forms give
// none and do not fail the file.
TEST(CardFiles, CertificatesOnlyFromASet) {
    const HexBinary simulated = Hex(CardFile("QES50", 0x011D));
    const CardSecurity file(&simulated);
    EXPECT_TRUE(file.GetCertificates().empty());  // [0] holds the certificate itself
    Brelt::Crypto::ASN::ASN1Object root;
    root.Parse(&simulated);
    const auto* wrapper = root.FindChild(0xA0);
    ASSERT_NE(wrapper, nullptr);
    const std::unique_ptr<HexBinary> certificate(wrapper->GetChildren().at(0)->GetEncoded());
    const Bytes der(certificate->data, certificate->data + certificate->length);

    const Bytes content = SetOf({IntInfo(kOidCaEcdh3Des, 2, 1)});
    const auto certificatesOf = [&](const Bytes& inner) {
        Botan::DER_Encoder field;
        field.start_cons(Botan::ASN1_Tag(0), Botan::CONTEXT_SPECIFIC).raw_bytes(inner).end_cons();
        const HexBinary bytes = Hex(SignedData(content, false, field.get_contents_unlocked()));
        return CardSecurity(&bytes).GetCertificates().size();
    };
    EXPECT_EQ(certificatesOf(SetOf({der})), 1u);
    EXPECT_EQ(certificatesOf(der), 0u);
    EXPECT_EQ(certificatesOf(IntInfo(kOidCaEcdh3Des, 2, 1)), 0u);
}

TEST(CardFiles, DamagedPartsGiveTheirCodes) {
    const Bytes content = SetOf({IntInfo(kOidCaEcdh3Des, 2, 1)});
    EXPECT_EQ(CodeOf<CardSecurity>(SignedData(content, true)), 100010);  // signed attributes
    EXPECT_EQ(CodeOf<CardSecurity>(SignedData({0x30, 0x00})), 100009);    // content is no SET
    EXPECT_EQ(CodeOf<CardSecurity>(SignedData({0x31, 0x04, 0x30})), 100009);
    // A malformed recognised info keeps its own class code in either file.
    const Bytes badInfo = SetOf({Info(kOidCaEcdh3Des, [](Botan::DER_Encoder& d) { d.encode_null(); })});
    EXPECT_EQ(CodeOf<CardAccess>(badInfo), 100003);
    EXPECT_EQ(CodeOf<CardSecurity>(SignedData(badInfo)), 100003);
}

TEST(CardFiles, EveryTruncationOrByteFlipOfTheSimulatedFilesIsHandled) {
    const Bytes access = CardFile("QES50", 0x011C);
    const Bytes security = CardFile("QES50", 0x011D);
    const auto isDocumented = [](int32_t code) {
        return code == 0 || (code >= 100001 && code <= 100014);
    };
    for (size_t length = 0; length < access.size(); ++length)
        EXPECT_TRUE(isDocumented(CodeOf<CardAccess>(Bytes(access.begin(), access.begin() + static_cast<long>(length)))));
    for (size_t length = 0; length < security.size(); length += 7) {
        const int32_t code = CodeOf<CardSecurity>(Bytes(security.begin(), security.begin() + static_cast<long>(length)));
        EXPECT_EQ(code, 100008) << length;
    }
    for (size_t at = 0; at < access.size(); ++at) {
        Bytes flipped = access;
        flipped[at] ^= 0xFF;
        EXPECT_TRUE(isDocumented(CodeOf<CardAccess>(flipped))) << at;
    }
    for (size_t at = 0; at < 160 && at < security.size(); ++at) {
        Bytes flipped = security;
        flipped[at] ^= 0x5A;
        EXPECT_TRUE(isDocumented(CodeOf<CardSecurity>(flipped))) << at;
    }
}
