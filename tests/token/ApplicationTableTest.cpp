// The application table: lookup, invalidation, purge and shared ownership;
// directory files encoded for writing back.

#include <gtest/gtest.h>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "DerBuild.h"
#include "token/ApplicationInfoList.h"
#include "token/CiaParsers.h"

using namespace Brelt::MW::Token;
using namespace testder;
using Brelt::MW::Base::HexBinary;
using boost::posix_time::ptime;
using boost::posix_time::seconds;

namespace {

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

Der CertEntry(const std::string& id, size_t labelLength = 1)
{
    return Tlv(0x30, {Tlv(0x30, {Tlv(0x0C, {Der(labelLength, 0x41)})}), Tlv(0x30, {Prim(0x04, id)}),
                      Tlv(0xA1, {Tlv(0x30, {Tlv(0x30, {Prim(0x04, "4301")})})})});
}

}  // namespace

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
    const Der entry = CertEntry("01", 40000);
    const HexBinary data = ToHex(Cat({entry, entry}));
    ASSERT_EQ(ParseCIOFile(&data, *list, DefaultProfile), CKR_OK);
    application.ObjectLists.push_back(std::move(list));
    Bytes out = std::make_unique<HexBinary>("AA");
    EXPECT_EQ(GetEFData(application, kKindCertificate, out), CKR_DEVICE_MEMORY);
    EXPECT_EQ(FromHex(out.get()), Hex("AA"));
}
