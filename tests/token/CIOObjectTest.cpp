// Directory entries read into objects, objects encoded back, and malformed
// directory files that load nothing.

#include <gtest/gtest.h>

#include "DerBuild.h"
#include "token/CIOObject.h"
#include "token/CiaParsers.h"

using namespace Brelt::MW::Token;
using namespace testder;
using Brelt::MW::Base::HexBinary;

namespace {

const Der kRules = Tlv(0x30, {
    Tlv(0x30, {Prim(0x03, "0640"), Prim(0x04, "01")}),
    Tlv(0x30, {Prim(0x03, "0780"), Tlv(0xA0, {Prim(0x04, "02")})}),
    Tlv(0x30, {Prim(0x03, "0780"),
               Tlv(0xA1, {Tlv(0x30, {Prim(0x05, ""), Tlv(0x30, {Prim(0x03, "0780"), Prim(0x02, "01")})})})}),
});
const Der kKeyCommon = Tlv(0x30, {Prim(0x0C, "5369676E"), Prim(0x03, "0640"), Prim(0x04, "01"), kRules});
const Der kKeyClass = Tlv(0x30, {Prim(0x04, "45"), Prim(0x03, "062040"), Prim(0x01, "00"), Prim(0x03, "03B8"),
                                   Prim(0x02, "02"), Tlv(0xA1, {Tlv(0x30, {Prim(0x02, "01"), Prim(0x02, "05")})})});
const Der kSubclass = Tlv(0xA0, {Tlv(0x30, {Tlv(0x30, {Prim(0x04, "")})})});
// keyInfo in its INTEGER reference form.
const Der kRsaType = Tlv(0xA1, {Tlv(0x30, {Tlv(0x30, {Prim(0x04, "3F004401")}), Prim(0x02, "0800"), Prim(0x02, "05")})});
const Der kRsaEntry = Tlv(0x30, {kKeyCommon, kKeyClass, kSubclass, kRsaType});

std::unique_ptr<CIOObject> Create(CioFileKind kind, const Der& der)
{
    CIOObjectList list(kind);
    std::unique_ptr<CIOObject> object;
    EXPECT_EQ(CreateCIOObject(object, *Node(der), list, DefaultProfile), CKR_OK);
    return object;
}

Der Encoded(const CIOObject& object, CK_RV expected = CKR_OK)
{
    HexBinary out;
    EXPECT_EQ(object.GetASN(out), expected);
    return FromHex(out);
}

}  // namespace

TEST(CIOObject, UnchangedEntryIsWrittenBackByteForByte)
{
    const auto key = Create(kKindRsaPrivateKey, kRsaEntry);
    ASSERT_NE(key, nullptr);
    // The [0] subclass element is not read, yet survives the write-back.
    EXPECT_EQ(Encoded(*key), kRsaEntry);
}

TEST(CIOObject, ChangedEntryIsReencodedAndReadsBackTheSame)
{
    const auto key = Create(kKindRsaPrivateKey, kRsaEntry);
    ASSERT_NE(key, nullptr);
    key->GetCommonObjectRecord()->label = std::make_unique<HexBinary>("4B6579");
    const Der rewritten = Encoded(*key);
    const Der newCommon = Tlv(0x30, {Prim(0x0C, "4B6579"), Prim(0x03, "0640"), Prim(0x04, "01"), kRules});
    // The INTEGER keyInfo keeps its tag and the and-condition its [1] { SEQUENCE } form.
    EXPECT_EQ(rewritten, Tlv(0x30, {newCommon, kKeyClass, kRsaType}));

    const auto again = Create(kKindRsaPrivateKey, rewritten);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(FromHex(again->AsRSAKeyAttributes()->keyInfo.get()), Hex("05"));
    EXPECT_EQ(again->GetCommonObjectRecord()->accessControlRules[2].condition->andCondition->always, 1u);
}

TEST(CreateCIOObject, RefusedEntriesLeaveTheHolderEmpty)
{
    CIOObjectList list(kKindRsaPrivateKey);
    std::unique_ptr<CIOObject> holder;
    const Der entries[] = {kRsaEntry, Tlv(0xA0, {Tlv(0x30, {})}), kRsaEntry};
    std::vector<uint32_t> handles;
    for (const Der& entry : entries) {
        // The holder is reused: a skipped entry must not hand the last object back.
        ASSERT_EQ(CreateCIOObject(holder, *Node(entry), list, DefaultProfile), CKR_OK);
        if (holder) {
            handles.push_back(holder->handle);
            list.objects.push_back(std::move(holder));
        }
    }
    EXPECT_EQ(handles, (std::vector<uint32_t>{0x00030000, 0x00030001}));

    CIOObjectList noKind(9);
    holder = std::make_unique<RSAPubKeyObject>();
    EXPECT_EQ(CreateCIOObject(holder, *Node(kRsaEntry), noKind, DefaultProfile), CKR_OK);
    EXPECT_EQ(holder, nullptr);
}

TEST(ParseCIOFile, MalformedFilesLoadNothing)
{
    Der deep = Prim(0x04, "01");
    for (int i = 0; i < 40; ++i) deep = Tlv(0x30, {deep});
    const Der& good = kRsaEntry;
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
