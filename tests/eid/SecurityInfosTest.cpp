// Security infos: each recognised protocol builds its class with its fields;
// unknown protocols are skipped; a malformed entry of a known protocol gives
// the class's own MWException code and never crashes.
#include <gtest/gtest.h>

#include <memory>
#include <string>

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

TEST(SecurityInfos, VersionAndIdInfos) {
    const auto ca = Instance(IntInfo(kOidCaEcdh3Des, 2, 1));
    EXPECT_EQ(ca->GetProtocol(), kOidCaEcdh3Des);
    EXPECT_EQ(As<ChipAuthenticationInfo>(ca).GetVersion(), 2u);
    EXPECT_EQ(As<ChipAuthenticationInfo>(ca).GetKeyId(), 1u);

    const auto pace = Instance(IntInfo(kOidPaceEcdhGmAes128, 2, 13));
    EXPECT_EQ(As<PACEInfo>(pace).GetVersion(), 2u);
    EXPECT_EQ(As<PACEInfo>(pace).GetParameterId(), 13u);

    const auto paceNoId = Instance(IntInfo(kOidPaceEcdhGmAes128, 2));
    EXPECT_FALSE(As<PACEInfo>(paceNoId).HasParameterId());

    const auto pin = Instance(IntInfo(kOidPinInfo, 1, 6));
    EXPECT_EQ(As<PinInfo>(pin).GetFirstNumber(), 1u);
    EXPECT_EQ(As<PinInfo>(pin).GetPinLength(), 6u);
    EXPECT_FALSE(As<PinInfo>(Instance(IntInfo(kOidPinInfo, 1))).HasPinLength());

    // The raw data is the whole entry.
    const Bytes der = IntInfo(kOidCaEcdh3Des, 2, 1);
    const std::unique_ptr<HexBinary> raw(ca->GetRawData());
    EXPECT_EQ(raw->ToString(), Hex(der).ToString());
}

TEST(SecurityInfos, DomainParameterInfosAndCurves) {
    const auto caDomain = Instance(Info(kOidCaEcdh, [](Botan::DER_Encoder& d) {
        StandardizedDomain(d, 13);
        d.encode(size_t(3));
    }));
    const auto& ca = As<ChipAuthenticationDomainParameterInfo>(caDomain);
    EXPECT_EQ(ca.GetKeyId(), 3u);
    EXPECT_EQ(ca.GetDomainParameter().algorithm, kOidStandardizedDomainParameters);
    EXPECT_EQ(GetDomainParameters(ca.GetDomainParameter())->GetName(), kOidBrainpoolP256r1);

    const auto paceDomain = Instance(Info(kOidPaceEcdh, [](Botan::DER_Encoder& d) {
        StandardizedDomain(d, 17);
        d.encode(size_t(5));
    }));
    EXPECT_EQ(As<PACEDomainParameterInfo>(paceDomain).GetParameterId(), 5u);
    EXPECT_EQ(GetDomainParameters(As<PACEDomainParameterInfo>(paceDomain).GetDomainParameter())->GetName(),
              kOidBrainpoolP512r1);

    const auto riDomain = Instance(Info(kOidRiEcdh, [](Botan::DER_Encoder& d) { StandardizedDomain(d, 9); }));
    EXPECT_EQ(riDomain->GetType(), kTypeRestrictedIdentificationDomainParameterInfo);

    // Identifier 12 names no curve and is no explicit parameter set either.
    const auto unmapped = Instance(Info(kOidCaEcdh, [](Botan::DER_Encoder& d) { StandardizedDomain(d, 12); }));
    EXPECT_ANY_THROW(GetDomainParameters(As<ChipAuthenticationDomainParameterInfo>(unmapped).GetDomainParameter()));
}

TEST(SecurityInfos, StructuredInfos) {
    const Bytes point{0x04, 0x01, 0x02, 0x03};
    const auto pk = Instance(Info(kOidPkEcdh, [&](Botan::DER_Encoder& d) {
        d.start_cons(Botan::SEQUENCE).start_cons(Botan::SEQUENCE).encode(Botan::OID(kOidPkEcdh));
        StandardizedDomain(d, 13);
        d.end_cons().encode(point, Botan::BIT_STRING).end_cons().encode(size_t(7));
    }));
    const auto& key = As<ChipAuthenticationPublicKeyInfo>(pk).GetChipAuthenticationPublicKey();
    EXPECT_EQ(key.algorithm.algorithm, kOidPkEcdh);
    EXPECT_EQ(key.publicKey->ToString(), "04010203");
    EXPECT_EQ(As<ChipAuthenticationPublicKeyInfo>(pk).GetKeyId(), 7u);

    const auto ta = Instance(Info(kOidTerminalAuthentication, [](Botan::DER_Encoder& d) {
        d.encode(size_t(1)).start_cons(Botan::SEQUENCE).encode(Bytes{0x01, 0x1C}, Botan::OCTET_STRING)
            .encode(Bytes{0x1C}, Botan::OCTET_STRING).end_cons();
    }));
    ASSERT_NE(As<TerminalAuthenticationInfo>(ta).GetEfCVCA(), nullptr);
    EXPECT_EQ(As<TerminalAuthenticationInfo>(ta).GetEfCVCA()->fid->ToString(), "011C");
    EXPECT_EQ(As<TerminalAuthenticationInfo>(ta).GetEfCVCA()->sfid->ToString(), "1C");

    const auto locator = Instance(Info(kOidCardInfoLocator, [](Botan::DER_Encoder& d) {
        d.encode(Botan::ASN1_String("http://card.example/info", Botan::IA5_STRING));
    }));
    EXPECT_EQ(As<CardInfoLocator>(locator).GetUrl(), "http://card.example/info");
    EXPECT_EQ(As<CardInfoLocator>(locator).GetEfCardInfo(), nullptr);

    for (const char* oid : {kOidRiEcdhSha1, kOidRiEcdhSha224, kOidRiEcdhSha256}) {
        const auto ri = Instance(Info(oid, [](Botan::DER_Encoder& d) {
            d.start_cons(Botan::SEQUENCE).encode(size_t(1)).encode(size_t(4)).encode(true).end_cons()
                .encode(size_t(256));
        }));
        EXPECT_EQ(As<RestrictedIdentificationInfo>(ri).GetParams().keyId, 4u);
        EXPECT_TRUE(As<RestrictedIdentificationInfo>(ri).GetParams().authorizedOnly);
        EXPECT_EQ(As<RestrictedIdentificationInfo>(ri).GetMaxKeyLen(), 256u);
    }

    const auto eid = Instance(Info(kOidEidSecurity, [](Botan::DER_Encoder& d) {
        d.start_cons(Botan::SEQUENCE)
            .encode(Botan::AlgorithmIdentifier(Botan::OID("2.16.840.1.101.3.4.2.1"),
                                               Botan::AlgorithmIdentifier::USE_NULL_PARAM))
            .start_cons(Botan::SEQUENCE)
            .start_cons(Botan::SEQUENCE).encode(size_t(1)).encode(Bytes{0xAA, 0xBB}, Botan::OCTET_STRING).end_cons()
            .start_cons(Botan::SEQUENCE).encode(size_t(2)).encode(Bytes{0xCC}, Botan::OCTET_STRING).end_cons()
            .end_cons()
            .end_cons()
            .start_cons(Botan::SEQUENCE)
            .encode(Botan::ASN1_String("2.0", Botan::PRINTABLE_STRING))
            .encode(Botan::ASN1_String("5.2", Botan::PRINTABLE_STRING))
            .end_cons();
    }));
    const auto& object = As<EidSecurityInfo>(eid).GetEIDSecurityObject();
    EXPECT_EQ(object.hashAlgorithm.algorithm, "2.16.840.1.101.3.4.2.1");
    ASSERT_EQ(object.dataGroupHashValues.size(), 2u);
    EXPECT_EQ(object.dataGroupHashValues[1].dataGroupNumber, 2u);
    EXPECT_EQ(object.dataGroupHashValues[0].dataGroupHashValue->ToString(), "AABB");
    ASSERT_NE(As<EidSecurityInfo>(eid).GetEIDVersionInfo(), nullptr);
    EXPECT_EQ(As<EidSecurityInfo>(eid).GetEIDVersionInfo()->GetEIDVersion(), "2.0");
    EXPECT_EQ(As<EidSecurityInfo>(eid).GetEIDVersionInfo()->GetUnicodeVersion(), "5.2");
}

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
    // Too many elements.
    try {
        Instance(Info(kOidCaEcdh3Des, [](Botan::DER_Encoder& d) { d.encode(size_t(2)).encode(size_t(1)).encode(size_t(0)); }));
        FAIL() << "four elements accepted";
    } catch (const MWException& e) {
        EXPECT_EQ(e.code, 100003);
        EXPECT_EQ(e.message,
                  "Exception at .\\source\\eID\\SecurityInfos, Line: 360, Cannot parse Chip authentication info input data");
    }
    EXPECT_EQ(CodeOf(Info(kOidRiEcdh, [](Botan::DER_Encoder& d) {
                  StandardizedDomain(d, 13);
                  d.encode(size_t(1));
              })),
              100012);

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

    // Third element of the wrong type, an integer above 32 bits, a FileID
    // that is not a SEQUENCE, ProtocolParams of two elements.
    EXPECT_EQ(CodeOf(Info(kOidPaceEcdhGmAes128, [](Botan::DER_Encoder& d) { d.encode(size_t(2)).encode_null(); })),
              100001);
    EXPECT_EQ(CodeOf(Info(kOidCaEcdh3Des, [](Botan::DER_Encoder& d) { d.encode(Botan::BigInt("0x100000000")); })),
              100003);
    EXPECT_EQ(CodeOf(Info(kOidTerminalAuthentication, [](Botan::DER_Encoder& d) {
                  d.encode(size_t(1)).encode(Bytes{0x01}, Botan::OCTET_STRING);
              })),
              100005);
    EXPECT_EQ(CodeOf(Info(kOidRiEcdhSha1, [](Botan::DER_Encoder& d) {
                  d.start_cons(Botan::SEQUENCE).encode(size_t(1)).encode(size_t(4)).end_cons();
              })),
              100011);
}

TEST(SecurityInfos, DirectConstructionRefusesDamagedEncodings) {
    const Bytes good = IntInfo(kOidCaEcdh3Des, 2, 1);
    // Every truncation and a SET in place of the SEQUENCE.
    for (size_t length = 0; length < good.size(); ++length) {
        const Bytes cut(good.begin(), good.begin() + static_cast<long>(length));
        const HexBinary hex = Hex(cut);
        try {
            ChipAuthenticationInfo info(&hex);
            ADD_FAILURE() << "accepted " << hex.ToString();
        } catch (const MWException& e) {
            EXPECT_EQ(e.code, 100003);
        }
    }
    Bytes set = good;
    set[0] = 0x31;
    const HexBinary hex = Hex(set);
    EXPECT_THROW(ChipAuthenticationInfo info(&hex), MWException);
    EXPECT_THROW(PinInfo info(nullptr), MWException);
}
