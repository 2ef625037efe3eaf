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

