// Parsers of EF.DIR, CIAInfo, ODF and directory files, good and malformed.

#include <gtest/gtest.h>

#include "DerBuild.h"
#include "token/CiaParsers.h"

using namespace Brelt::MW::Token;
using namespace testder;
using Brelt::MW::Base::HexBinary;

namespace {

const Der kPkcs15Aid = Hex("A000000063504B43532D3135");

Der RsaEntry(const std::string& id)
{
    return Tlv(0x30, {Tlv(0x30, {Prim(0x0C, "4B")}), Tlv(0x30, {Prim(0x04, id), Prim(0x03, "0620")}),
                      Tlv(0xA1, {Tlv(0x30, {Tlv(0x30, {Prim(0x04, "4401")}), Prim(0x02, "0800")})})});
}

}  // namespace

TEST(ParseEFDir, ReadsTemplatesUpToFillerBytes)
{
    const Der file = Cat({Tlv(0x61, {Prim(0x4F, "A000000063504B43532D3135"), Prim(0x50, "504B4353"), Prim(0x51, "3F005015"),
                                     Tlv(0x73, {Prim(0x4F, "E828BD080F")})}),
                          Tlv(0x61, {Prim(0x4F, "D7030000110001")}), Hex("0000000000")});
    const HexBinary data = ToHex(file);
    EfDirRecords records(3);
    ASSERT_EQ(ParseEFDir(&data, records), CKR_OK);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(FromHex(records[0].aid.get()), kPkcs15Aid);
    EXPECT_EQ(FromHex(records[0].label.get()), Hex("504B4353"));
    EXPECT_EQ(FromHex(records[0].path.get()), Hex("3F005015"));
    EXPECT_EQ(FromHex(records[0].ddoAid.get()), Hex("E828BD080F"));
    EXPECT_EQ(records[1].label, nullptr);
    EXPECT_EQ(records[1].ddoAid, nullptr);

    const HexBinary emptyWithPointer(new unsigned char[1]{0x61}, 0, false);
    EXPECT_EQ(ParseEFDir(&emptyWithPointer, records), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(ParseEFDir(nullptr, records), CKR_ARGUMENTS_BAD);
    EXPECT_TRUE(records.empty());
}

TEST(ParseCIAInfo, ReadsTokenDataAndAlgorithms)
{
    const Der info = Tlv(0x30, {
        Prim(0x02, "01"), Prim(0x04, "1234"), Prim(0x0C, "41"), Prim(0x80, "4C6162656C"), Prim(0x03, "0640"),
        Tlv(0x30, {Tlv(0x30, {Prim(0x02, "01"), Prim(0x06, "2A03"), Prim(0x04, "AA")}), Prim(0x02, "05")}),
        Tlv(0xA2, {Tlv(0x30, {Prim(0x02, "01"), Prim(0x02, "0201"), Prim(0x05, ""), Prim(0x03, "0640"),
                              Prim(0x06, "2A8648"), Prim(0x02, "10")}),
                   Tlv(0x30, {Prim(0x02, "02"), Prim(0x04, "00")}),  // algorithm not an INTEGER: skipped
                   Tlv(0x30, {Prim(0x02, "03"), Prim(0x02, "01"), Prim(0x04, "BB"), Prim(0x03, "00"),
                              Prim(0x06, "2A")})})});
    const HexBinary data = ToHex(info);
    CIAInfo parsed;
    ASSERT_EQ(ParseCIAInfo(&data, parsed), CKR_OK);
    EXPECT_EQ(parsed.version, 1u);
    EXPECT_EQ(FromHex(parsed.label.get()), Hex("4C6162656C"));
    ASSERT_EQ(parsed.seInfo.size(), 1u);
    EXPECT_EQ(FromHex(parsed.seInfo[0].aid.get()), Hex("AA"));
    ASSERT_EQ(parsed.algorithms.size(), 2u);
    EXPECT_EQ(parsed.algorithms[0].parameters, nullptr);
    EXPECT_EQ(parsed.algorithms[0].algRef, 0x10u);
    EXPECT_EQ(FromHex(parsed.algorithms[1].parameters.get()), Hex("BB"));
    EXPECT_EQ(parsed.algorithms[1].algRef, 0u);

    // Two top-level elements, or a top-level element that is no SEQUENCE.
    for (const Der& bad : {Cat({info, info}), Tlv(0x31, {Prim(0x02, "01")}), Tlv(0x30, {Prim(0x02, "0100000000")})}) {
        const HexBinary badData = ToHex(bad);
        CIAInfo refused;
        EXPECT_EQ(ParseCIAInfo(&badData, refused), CKR_ARGUMENTS_BAD);
        EXPECT_EQ(refused.label, nullptr);
    }
}

TEST(ParseOD, IndexesChoicesAndSkipsEntriesWithoutPath)
{
    const Der odf = Cat({Tlv(0xA8, {Tlv(0x30, {Prim(0x04, "4401")})}), Tlv(0xA0, {Tlv(0x30, {Prim(0x04, "4402")})}),
                         Tlv(0xA3, {Tlv(0x30, {Prim(0x04, "4403")})}), Tlv(0xA4, {Tlv(0x30, {})}),
                         Tlv(0xAA, {Tlv(0x30, {Prim(0x04, "4404")})}), Hex("00")});
    const HexBinary data = ToHex(odf);
    OdfRecords records;
    ASSERT_EQ(ParseOD(&data, records), CKR_OK);
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].index, 8u);
    EXPECT_EQ(records[1].index, 0u);
    EXPECT_EQ(records[2].index, 3u);
    EXPECT_EQ(records[3].index, 9u);
    EXPECT_EQ(FromHex(records[1].path.get()), Hex("4402"));
}

TEST(ParseCIOFile, BuildsObjectsOfTheListKind)
{
    const Der file = Cat({RsaEntry("01"), Tlv(0xA0, {}), RsaEntry("02"), Hex("0000")});
    const HexBinary data = ToHex(file);
    CIOObjectList list(kKindRsaPrivateKey);
    ASSERT_EQ(ParseCIOFile(&data, list, DefaultProfile), CKR_OK);
    ASSERT_EQ(list.objects.size(), 2u);
    EXPECT_EQ(list.objects[1]->handle, 0x00030001u);
    EXPECT_EQ(FromHex(list.objects[1]->AsCommonKeyAttributes()->iD.get()), Hex("02"));
}

TEST(ParseCIOFile, MalformedFilesLoadNothing)
{
    Der deep = Prim(0x04, "01");
    for (int i = 0; i < 40; ++i) deep = Tlv(0x30, {deep});
    const Der good = RsaEntry("01");
    const Der truncated(good.begin(), good.end() - 3);
    const Der hugeLength = Hex("3084FFFFFFFF00");
    const Der oversizedInteger = Tlv(0x30, {Tlv(0x30, {Prim(0x02, "0123456789")})});
    const Der badInner = Cat({good, Hex("300302"), Hex("01")});
    for (const Der& bad : {Cat({good, truncated}), Cat({good, hugeLength}), Cat({good, oversizedInteger}),
                           Cat({good, deep}), badInner}) {
        const HexBinary data = ToHex(bad);
        CIOObjectList list(kKindRsaPrivateKey);
        list.objects.push_back(std::make_unique<RSAPrvKeyObject>(0x00030000, nullptr));
        EXPECT_EQ(ParseCIOFile(&data, list, DefaultProfile), CKR_ARGUMENTS_BAD);
        EXPECT_EQ(list.objects.size(), 1u);
    }
    EXPECT_EQ(ParseCIOFile(static_cast<const HexBinary*>(nullptr), *std::make_unique<CIOObjectList>(3), 1),
              CKR_ARGUMENTS_BAD);
}

TEST(ParsePublicKey, TakesModulusAndExponent)
{
    const Der body = Cat({Prim(0x81, "C0FFEE"), Prim(0x82, "010001")});
    Der element = Hex("7F49");
    element.push_back(static_cast<uint8_t>(body.size()));
    element.insert(element.end(), body.begin(), body.end());
    Bytes modulus = std::make_unique<HexBinary>("01");
    Bytes exponent;
    ASSERT_EQ(ParsePublicKey(element.data(), static_cast<uint16_t>(element.size()), modulus, exponent), CKR_OK);
    EXPECT_EQ(FromHex(modulus.get()), Hex("C0FFEE"));
    EXPECT_EQ(FromHex(exponent.get()), Hex("010001"));
    EXPECT_EQ(ParsePublicKey(nullptr, 0, modulus, exponent), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(modulus, nullptr);
    const Der truncated(element.begin(), element.end() - 2);
    EXPECT_EQ(ParsePublicKey(truncated.data(), static_cast<uint16_t>(truncated.size()), modulus, exponent),
              CKR_ARGUMENTS_BAD);
}
