// Security infos: each recognised protocol builds its class with its fields;
// unknown protocols are skipped; a malformed entry of a known protocol gives
// the class's own MWException code and never crashes.
#include <botan/asn1_obj.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>

#include "ASN1Types.h"
#include "EidTestData.h"
#include "eID/SecurityInfos.h"

using namespace Brelt::Crypto::EIDStruct;
using Brelt::MW::Base::HexBinary;
using Brelt::MW::Base::MWException;
using namespace eidtest;

namespace {

std::unique_ptr<SecurityInfoBase> Instance(const Bytes& der) {
    Brelt::Crypto::ASN::ASN1Sequence node;
    const HexBinary hex = Hex(der);
    node.Parse(&hex);
    return SecurityInfoBase::GetInstance(&node);
}

template <typename T>
const T& As(const std::unique_ptr<SecurityInfoBase>& info) {
    EXPECT_NE(info, nullptr);
    const T* typed = dynamic_cast<const T*>(info.get());
    if (!typed) throw std::runtime_error("unexpected class");
    return *typed;
}

int32_t CodeOf(const Bytes& der) {
    try {
        Instance(der);
    } catch (const MWException& e) {
        return e.code;
    }
    return 0;
}

}  // namespace

TEST(SecurityInfos, UnrecognisedOrMissingProtocolIsSkipped) {
    EXPECT_EQ(Instance(IntInfo("0.4.0.127.0.7.2.2.4.2.1", 2, 13)), nullptr);  // PACE ECDH-GM 3DES
    EXPECT_EQ(Instance(IntInfo("0.4.0.127.0.7.2.2.3.2.2", 2, 1)), nullptr);   // CA ECDH AES-128
    EXPECT_EQ(Instance(IntInfo("0.4.0.127.0.7.2.2.5.1.1", 1)), nullptr);      // RI DH
    EXPECT_EQ(Instance(IntInfo("0.4.0.127.0.7.2.2.4.6.2", 2)), nullptr);      // PACE ECDH-IM
    EXPECT_EQ(Instance({0x30, 0x03, 0x02, 0x01, 0x02}), nullptr);             // no OID at all
    EXPECT_EQ(Instance({0x30, 0x03, 0x06, 0x01, 0x80}), nullptr);             // undecodable OID
    EXPECT_EQ(SecurityInfoBase::GetInstance(nullptr), nullptr);
}

TEST(SecurityInfos, MalformedEntriesGiveTheirClassCode) {
    EXPECT_EQ(CodeOf(Info(kOidCaEcdh3Des, [](Botan::DER_Encoder& d) { d.encode(size_t(2)).encode(size_t(1)).encode(size_t(0)); })),
              100003);  // too many elements
    // Missing or mistyped fields, one class each.
    const auto nullField = [](Botan::DER_Encoder& d) { d.encode_null(); };
    EXPECT_EQ(CodeOf(Info(kOidPaceEcdhGmAes128, nullField)), 100001);
    EXPECT_EQ(CodeOf(Info(kOidPaceEcdh, nullField)), 100002);
    EXPECT_EQ(CodeOf(Info(kOidCaEcdh3Des, nullField)), 100003);
    EXPECT_EQ(CodeOf(Info(kOidCaEcdh, nullField)), 100004);
    EXPECT_EQ(CodeOf(Info(kOidTerminalAuthentication, nullField)), 100005);
    EXPECT_EQ(CodeOf(Info(kOidCardInfoLocator, nullField)), 100006);
    EXPECT_EQ(CodeOf(Info(kOidPinInfo, nullField)), 100007);
    EXPECT_EQ(CodeOf(Info(kOidRiEcdhSha256, nullField)), 100011);
    EXPECT_EQ(CodeOf(Info(kOidRiEcdh, nullField)), 100012);
    EXPECT_EQ(CodeOf(Info(kOidPkEcdh, nullField)), 100013);
    EXPECT_EQ(CodeOf(Info(kOidEidSecurity, nullField)), 100014);

    // An integer above 32 bits is refused, not cut.
    EXPECT_EQ(CodeOf(Info(kOidCaEcdh3Des, [](Botan::DER_Encoder& d) { d.encode(Botan::BigInt("0x100000000")); })),
              100003);
}


TEST(SecurityInfos, FieldsOfEachProtocol) {
    auto pace = Instance(IntInfo(kOidPaceEcdhGmAes128, 2, 13));
    EXPECT_EQ(pace->GetType(), kTypePACEInfo);
    EXPECT_EQ(pace->GetProtocol(), kOidPaceEcdhGmAes128);
    EXPECT_EQ(As<PACEInfo>(pace).GetVersion(), 2u);
    EXPECT_EQ(As<PACEInfo>(pace).GetParameterId(), 13u);

    auto paceDomain = Instance(Info(kOidPaceEcdh, [](Botan::DER_Encoder& d) {
        StandardizedDomain(d, 13);
        d.encode(size_t(5));
    }));
    EXPECT_EQ(paceDomain->GetType(), kTypePACEDomainParameterInfo);
    EXPECT_EQ(As<PACEDomainParameterInfo>(paceDomain).GetDomainParameter().algorithm, kOidStandardizedDomainParameters);
    EXPECT_EQ(As<PACEDomainParameterInfo>(paceDomain).GetDomainParameter().parameters->ToString(), "02010D");
    EXPECT_EQ(As<PACEDomainParameterInfo>(paceDomain).GetParameterId(), 5u);

    auto ca = Instance(IntInfo(kOidCaEcdh3Des, 2, 1));
    EXPECT_EQ(ca->GetType(), kTypeChipAuthenticationInfo);
    EXPECT_EQ(As<ChipAuthenticationInfo>(ca).GetVersion(), 2u);
    EXPECT_EQ(As<ChipAuthenticationInfo>(ca).GetKeyId(), 1u);

    auto caDomain = Instance(Info(kOidCaEcdh, [](Botan::DER_Encoder& d) {
        StandardizedDomain(d, 13);
        d.encode(size_t(3));
    }));
    EXPECT_EQ(caDomain->GetType(), kTypeChipAuthenticationDomainParameterInfo);
    EXPECT_EQ(As<ChipAuthenticationDomainParameterInfo>(caDomain).GetKeyId(), 3u);

    const Bytes point{0x04, 0x11, 0x22};
    auto caKey = Instance(Info(kOidPkEcdh, [&](Botan::DER_Encoder& d) {
        d.start_cons(Botan::SEQUENCE).start_cons(Botan::SEQUENCE).encode(Botan::OID(kOidPkEcdh));
        StandardizedDomain(d, 13);
        d.end_cons().encode(point, Botan::BIT_STRING).end_cons().encode(size_t(3));
    }));
    EXPECT_EQ(caKey->GetType(), kTypeChipAuthenticationPublicKeyInfo);
    const SubjectPublicKeyInfo& key = As<ChipAuthenticationPublicKeyInfo>(caKey).GetChipAuthenticationPublicKey();
    EXPECT_EQ(key.algorithm.algorithm, kOidPkEcdh);
    EXPECT_EQ(key.publicKey->ToString(), "041122");
    EXPECT_EQ(As<ChipAuthenticationPublicKeyInfo>(caKey).GetKeyId(), 3u);

    const auto fileId = [](Botan::DER_Encoder& d, size_t elements) {
        d.start_cons(Botan::SEQUENCE).encode(Bytes{0x01, 0x1C}, Botan::OCTET_STRING);
        for (size_t i = 1; i < elements; ++i) d.encode(Bytes{0x1C}, Botan::OCTET_STRING);
        d.end_cons();
    };
    auto ta = Instance(Info(kOidTerminalAuthentication, [&](Botan::DER_Encoder& d) {
        d.encode(size_t(2));
        fileId(d, 2);
    }));
    EXPECT_EQ(ta->GetType(), kTypeTerminalAuthenticationInfo);
    EXPECT_EQ(As<TerminalAuthenticationInfo>(ta).GetVersion(), 2u);
    EXPECT_EQ(As<TerminalAuthenticationInfo>(ta).GetEfCVCA()->fid->ToString(), "011C");
    EXPECT_EQ(As<TerminalAuthenticationInfo>(ta).GetEfCVCA()->sfid->ToString(), "1C");
    // A FileID has a file identifier and at most a short one.
    EXPECT_EQ(CodeOf(Info(kOidTerminalAuthentication, [&](Botan::DER_Encoder& d) {
                  d.encode(size_t(2));
                  fileId(d, 3);
              })),
              100005);

    auto locator = Instance(Info(kOidCardInfoLocator, [&](Botan::DER_Encoder& d) {
        d.encode(Botan::ASN1_String("https://example.invalid/ci", Botan::IA5_STRING));
        fileId(d, 1);
    }));
    EXPECT_EQ(locator->GetType(), kTypeCardInfoLocator);
    EXPECT_EQ(As<CardInfoLocator>(locator).GetUrl(), "https://example.invalid/ci");
    EXPECT_EQ(As<CardInfoLocator>(locator).GetEfCardInfo()->fid->ToString(), "011C");
    EXPECT_EQ(As<CardInfoLocator>(locator).GetEfCardInfo()->sfid, nullptr);

    auto ri = Instance(Info(kOidRiEcdhSha1, [](Botan::DER_Encoder& d) {
        d.start_cons(Botan::SEQUENCE).encode(size_t(1)).encode(size_t(2)).encode(true).end_cons().encode(size_t(256));
    }));
    EXPECT_EQ(ri->GetType(), kTypeRestrictedIdentificationInfo);
    EXPECT_EQ(As<RestrictedIdentificationInfo>(ri).GetParams().version, 1u);
    EXPECT_EQ(As<RestrictedIdentificationInfo>(ri).GetParams().keyId, 2u);
    EXPECT_TRUE(As<RestrictedIdentificationInfo>(ri).GetParams().authorizedOnly);
    EXPECT_EQ(As<RestrictedIdentificationInfo>(ri).GetMaxKeyLen(), 256u);

    auto riDomain = Instance(Info(kOidRiEcdh, [](Botan::DER_Encoder& d) { StandardizedDomain(d, 13); }));
    EXPECT_EQ(riDomain->GetType(), kTypeRestrictedIdentificationDomainParameterInfo);
    EXPECT_EQ(As<RestrictedIdentificationDomainParameterInfo>(riDomain).GetDomainParameter().algorithm,
              kOidStandardizedDomainParameters);

    auto pin = Instance(IntInfo(kOidPinInfo, 1, 6));
    EXPECT_EQ(pin->GetType(), kTypePinInfo);
    EXPECT_EQ(As<PinInfo>(pin).GetFirstNumber(), 1u);
    EXPECT_EQ(As<PinInfo>(pin).GetPinLength(), 6u);

    const Botan::AlgorithmIdentifier sha256(Botan::OID("2.16.840.1.101.3.4.2.1"),
                                            Botan::AlgorithmIdentifier::USE_EMPTY_PARAM);
    auto eid = Instance(Info(kOidEidSecurity, [&](Botan::DER_Encoder& d) {
        d.start_cons(Botan::SEQUENCE).encode(sha256).start_cons(Botan::SEQUENCE)
            .start_cons(Botan::SEQUENCE).encode(size_t(1)).encode(Bytes{0xAA}, Botan::OCTET_STRING).end_cons()
            .end_cons().end_cons();
        d.start_cons(Botan::SEQUENCE)
            .encode(Botan::ASN1_String("1.0", Botan::PRINTABLE_STRING))
            .encode(Botan::ASN1_String("2.0", Botan::PRINTABLE_STRING))
            .end_cons();
    }));
    EXPECT_EQ(eid->GetType(), kTypeEidSecurityInfo);
    const EIDSecurityObject& object = As<EidSecurityInfo>(eid).GetEIDSecurityObject();
    EXPECT_EQ(object.hashAlgorithm.algorithm, "2.16.840.1.101.3.4.2.1");
    ASSERT_EQ(object.dataGroupHashValues.size(), 1u);
    EXPECT_EQ(object.dataGroupHashValues[0].dataGroupNumber, 1u);
    EXPECT_EQ(object.dataGroupHashValues[0].dataGroupHashValue->ToString(), "AA");
    ASSERT_NE(As<EidSecurityInfo>(eid).GetEIDVersionInfo(), nullptr);
    EXPECT_EQ(As<EidSecurityInfo>(eid).GetEIDVersionInfo()->GetEIDVersion(), "1.0");
    EXPECT_EQ(As<EidSecurityInfo>(eid).GetEIDVersionInfo()->GetUnicodeVersion(), "2.0");
}

// Optional fields a card leaves out read as zero or null.
TEST(SecurityInfos, AbsentOptionalFieldsAreZeroOrNull) {
    auto pace = Instance(IntInfo(kOidPaceEcdhGmAes128, 2));
    EXPECT_FALSE(As<PACEInfo>(pace).HasParameterId());
    EXPECT_EQ(As<PACEInfo>(pace).GetParameterId(), 0u);
    auto ca = Instance(IntInfo(kOidCaEcdh3Des, 2));
    EXPECT_FALSE(As<ChipAuthenticationInfo>(ca).HasKeyId());
    EXPECT_EQ(As<ChipAuthenticationInfo>(ca).GetKeyId(), 0u);
    EXPECT_EQ(As<TerminalAuthenticationInfo>(Instance(IntInfo(kOidTerminalAuthentication, 2))).GetEfCVCA(), nullptr);
    auto pin = Instance(IntInfo(kOidPinInfo, 1));
    EXPECT_FALSE(As<PinInfo>(pin).HasPinLength());
    EXPECT_EQ(As<PinInfo>(pin).GetPinLength(), 0u);
    auto eid = Instance(Info(kOidEidSecurity, [](Botan::DER_Encoder& d) {
        d.start_cons(Botan::SEQUENCE)
            .start_cons(Botan::SEQUENCE).encode(Botan::OID("2.16.840.1.101.3.4.2.1")).end_cons()
            .start_cons(Botan::SEQUENCE).end_cons()
            .end_cons();
    }));
    EXPECT_EQ(As<EidSecurityInfo>(eid).GetEIDVersionInfo(), nullptr);
}

// Standardized domain identifiers name the brainpool curves; an identifier
// without a curve (12 among them) is refused rather than read as explicit
// parameters.
TEST(SecurityInfos, StandardizedDomainIdentifiers) {
    const std::pair<size_t, const char*> named[] = {
        {9, kOidBrainpoolP192r1},  {11, kOidBrainpoolP224r1}, {13, kOidBrainpoolP256r1},
        {14, kOidBrainpoolP320r1}, {16, kOidBrainpoolP384r1}, {17, kOidBrainpoolP512r1},
    };
    const auto domainOf = [](size_t id) {
        auto info = Instance(Info(kOidCaEcdh, [&](Botan::DER_Encoder& d) { StandardizedDomain(d, id); }));
        return GetDomainParameters(As<ChipAuthenticationDomainParameterInfo>(info).GetDomainParameter());
    };
    for (const auto& [id, curve] : named) EXPECT_EQ(domainOf(id)->GetName(), curve) << id;
    for (size_t id : {0, 8, 10, 12, 15, 18}) EXPECT_ANY_THROW(domainOf(id)) << id;
}
