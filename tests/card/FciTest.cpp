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

TEST(Fci, FileSizeOnlyFromInsideTheAnswer)
{
    uint32_t size = 0;
    EXPECT_TRUE(FileSize("62038001" "05", &size));  // one-octet size
    EXPECT_EQ(size, 5u);
    // Nested template, padding and a two-octet tag before the size.
    EXPECT_TRUE(FileSize("6F0C00FF5F2001AA620480020FA0", &size));
    EXPECT_EQ(size, 0x0FA0u);
    for (const char* hex : {"", "62038001", "620380", "62048002", "6282", "628201", "62830000", "1F8181",
                            "6F05620380020100", "6F81058003000001"}) {
        EXPECT_FALSE(FileSize(hex, &size)) << hex;
    }
    EXPECT_FALSE(GetFciFileSize(nullptr, 4, &size));

    // Deep nesting ends the search instead of recursing without bound.
    std::vector<uint8_t> deep;
    for (int i = 0; i < 60; ++i) deep.insert(deep.end(), {0x62, uint8_t(2 * (60 - i) - 2 + 4)});
    EXPECT_EQ(FindFciElement(deep.data(), deep.size(), 0x80).data, nullptr);
}
