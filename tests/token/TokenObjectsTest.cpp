// Directory entries read into objects and encoded back, malformed directory
// files that load nothing, and the application table: lookup, invalidation,
// purge and shared ownership.

#include <gtest/gtest.h>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "DerBuild.h"
#include "token/ApplicationInfoList.h"
#include "token/CIOObject.h"
#include "token/CiaParsers.h"

using namespace Brelt::MW::Token;
using namespace testder;
using Brelt::MW::Base::HexBinary;
using boost::posix_time::ptime;
using boost::posix_time::seconds;

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

Der Encoded(const CIOObject& object)
{
    HexBinary out;
    EXPECT_EQ(object.GetASN(out), CKR_OK);
    return FromHex(out);
}

class ApplicationTable : public ::testing::Test {
protected:
    void SetUp() override { ClearApplicationList(); }
    void TearDown() override { ClearApplicationList(); }

    static ApplicationInfoPtr Add(uint32_t slotId)
    {
        auto application = std::make_shared<ApplicationInfo>();
        application->Aid = std::make_unique<HexBinary>("A000000063504B43532D3135");
        GlobalApplicationList()[slotId] = application;
        return application;
    }

    const ptime t0 = boost::posix_time::time_from_string("2026-01-01 10:00:00");
};

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

TEST_F(ApplicationTable, LookupAnswersByTableState)
{
    ApplicationInfoPtr found = std::make_shared<ApplicationInfo>();
    EXPECT_EQ(GetApplicationInfo(3, found), CKR_OK);
    EXPECT_EQ(found, nullptr);

    const auto application = Add(3);
    EXPECT_EQ(GetApplicationInfo(3, found), CKR_OK);
    EXPECT_EQ(found, application);
    EXPECT_EQ(GetApplicationInfo(4, found), CKR_FUNCTION_FAILED);

    InvalidateApplicationInfo(3, t0);
    EXPECT_EQ(GetApplicationInfo(3, found), CKR_FUNCTION_FAILED);
    EXPECT_EQ(found, nullptr);
    // The first invalidation time is kept.
    InvalidateApplicationInfo(3, t0 + seconds(10));
    EXPECT_EQ(*application->Timestamp, t0);
}

TEST_F(ApplicationTable, PurgeAfterSixteenSecondsKeepsHeldEntriesAlive)
{
    Add(1);
    const auto held = Add(2);
    Add(3);
    InvalidateApplicationInfo(1, t0);
    InvalidateApplicationInfo(2, t0);
    RemoveAllInvalidApplications(t0 + seconds(15));
    EXPECT_EQ(GlobalApplicationList().size(), 3u);
    RemoveAllInvalidApplications(t0 + seconds(16));
    EXPECT_EQ(GlobalApplicationList().size(), 1u);
    EXPECT_EQ(GlobalApplicationList().count(3), 1u);
    // A caller still using an application keeps it after the purge.
    EXPECT_NE(held->Aid, nullptr);
    EXPECT_EQ(held.use_count(), 1);

    InvalidateApplicationList();
    EXPECT_NE(GlobalApplicationList().at(3)->Timestamp, nullptr);
}

TEST(GetEFData, RefusesFilesBeyondTheLargestCardFile)
{
    ApplicationInfo application;
    auto list = std::make_unique<CIOObjectList>(kKindCertificate);
    // Two certificate entries with labels of 40,000 bytes.
    const Der entry = Tlv(0x30, {Tlv(0x30, {Tlv(0x0C, {Der(40000, 0x41)})}), Tlv(0x30, {Prim(0x04, "01")}),
                                 Tlv(0xA1, {Tlv(0x30, {Tlv(0x30, {Prim(0x04, "4301")})})})});
    const HexBinary data = ToHex(Cat({entry, entry}));
    ASSERT_EQ(ParseCIOFile(&data, *list, DefaultProfile), CKR_OK);
    application.ObjectLists.push_back(std::move(list));
    Bytes out = std::make_unique<HexBinary>("AA");
    EXPECT_EQ(GetEFData(application, kKindCertificate, out), CKR_DEVICE_MEMORY);
    EXPECT_EQ(FromHex(out.get()), Hex("AA"));
}
