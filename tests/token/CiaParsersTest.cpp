// Directory files that are malformed load nothing.

#include <gtest/gtest.h>

#include "DerBuild.h"
#include "token/CiaParsers.h"

using namespace Brelt::MW::Token;
using namespace testder;
using Brelt::MW::Base::HexBinary;

namespace {

Der RsaEntry(const std::string& id)
{
    return Tlv(0x30, {Tlv(0x30, {Prim(0x0C, "4B")}), Tlv(0x30, {Prim(0x04, id), Prim(0x03, "0620")}),
                      Tlv(0xA1, {Tlv(0x30, {Tlv(0x30, {Prim(0x04, "4401")}), Prim(0x02, "0800")})})});
}

}  // namespace

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
