#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BaseTypes.h"
#include "card/Fci.h"

using Brelt::MW::Base::HexBinary;
using namespace Brelt::MW::Card;

namespace {

bool FileSize(const std::string& hex, uint32_t* size)
{
    HexBinary fci(hex);
    return GetFciFileSize(fci.data, static_cast<size_t>(fci.length), size);
}

}  // namespace

TEST(Fci, FileSizeFromTheEightyElement)
{
    uint32_t size = 0;
    EXPECT_TRUE(FileSize("6207800201F4820101", &size));
    EXPECT_EQ(size, 500u);
    EXPECT_TRUE(FileSize("62038001" "05", &size));  // one-octet size
    EXPECT_EQ(size, 5u);
    EXPECT_TRUE(FileSize("6F0AA5088206010000000003" "", &size) == false);
    // Nested template, padding and a two-octet tag before the size.
    EXPECT_TRUE(FileSize("6F0C00FF5F2001AA620480020FA0", &size));
    EXPECT_EQ(size, 0x0FA0u);
    EXPECT_TRUE(FileSize("6F81058003000001", &size) == false);  // three-octet size
}

TEST(Fci, ElementsOutsideTheAnswerAreIgnored)
{
    uint32_t size = 0;
    for (const char* hex : {"", "62", "6203", "62038001", "620380", "62048002", "80020100" "",
                            "6282", "628201", "62830000", "1F", "1F8181", "6F05620380020100"}) {
        HexBinary fci(hex);
        const bool found = GetFciFileSize(fci.data, static_cast<size_t>(fci.length), &size);
        if (std::string(hex) == "80020100") {
            EXPECT_TRUE(found);
            continue;
        }
        EXPECT_FALSE(found) << hex;
    }
    EXPECT_FALSE(GetFciFileSize(nullptr, 4, &size));

    HexBinary records("620A820506010000" "04" "830150");  // descriptor of 5 octets only
    TlvValue descriptor = FindFciElement(records.data, records.length, 0x82);
    ASSERT_NE(descriptor.data, nullptr);
    EXPECT_EQ(descriptor.length, 5u);

    // Deep nesting ends the search instead of recursing without bound.
    std::vector<uint8_t> deep;
    for (int i = 0; i < 60; ++i) deep.insert(deep.end(), {0x62, uint8_t(2 * (60 - i) - 2 + 4)});
    EXPECT_EQ(FindFciElement(deep.data(), deep.size(), 0x80).data, nullptr);
}
