#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "Ber.h"

using namespace Brelt::Crypto::Ber;
using Brelt::MW::Base::HexBinary;
using Brelt::MW::Base::MWException;

namespace {

// Runs `call` and returns the MWException message, or "" when none was thrown.
std::string ErrorOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const MWException& e) {
        EXPECT_EQ(e.code, 100019);
        return e.message;
    }
    return "";
}

const std::string kInvalidTag = "Exception at .\\source\\Ber, Line: 33, Invalid tag!";
const std::string kInvalidLength = "Exception at .\\source\\Ber, Line: 73, Invalid ber tlv";
const std::string kInvalidTagValue = "Exception at .\\source\\Ber, Line: 84, Invalid ber tlv";

}  // namespace

TEST(BerHeader, ReadsWellFormedHeaders)
{
    struct Case {
        const char* hex;
        int tagLength, lengthFieldSize;
        uint32_t valueLength, tag;
    };
    const Case cases[] = {
        {"0401AA", 1, 1, 1, 0x04},
        {"307F", 1, 1, 0x7F, 0x30},
        {"5F2903010203", 2, 1, 3, 0x5F29},
        {"7F4981FF", 2, 2, 0xFF, 0x7F49},
        {"308201000000", 1, 3, 256, 0x30},
        {"30820000", 1, 3, 0, 0x30},
    };
    for (const Case& c : cases) {
        HexBinary tlv(c.hex);
        EXPECT_EQ(GetTagLength(&tlv), c.tagLength) << c.hex;
        EXPECT_EQ(GetLengthFieldSize(&tlv), c.lengthFieldSize) << c.hex;
        EXPECT_EQ(GetValueLength(&tlv), c.valueLength) << c.hex;
        EXPECT_EQ(GetTag(&tlv), c.tag) << c.hex;
    }
    HexBinary longTag("1F81810100");
    EXPECT_EQ(GetTagLength(&longTag), 4);
    EXPECT_EQ(ErrorOf([&] { GetTag(&longTag); }), kInvalidTagValue);
    HexBinary wideLength("30830100000000");
    EXPECT_EQ(GetLengthFieldSize(&wideLength), 4);
    EXPECT_EQ(ErrorOf([&] { GetValueLength(&wideLength); }), kInvalidLength);
}

TEST(BerHeader, HeadersRunningPastTheBufferThrow)
{
    HexBinary empty;
    EXPECT_EQ(ErrorOf([&] { GetTagLength(&empty); }), kInvalidTag);
    EXPECT_EQ(ErrorOf([&] { GetTagLength(nullptr); }), kInvalidTag);
    EXPECT_EQ(ErrorOf([&] { GetValueLength(nullptr); }), kInvalidTag);

    for (const char* hex : {"1F", "1F81", "7F", "5F8080"}) {
        HexBinary tlv(hex);
        EXPECT_EQ(ErrorOf([&] { GetTagLength(&tlv); }), kInvalidTag) << hex;
        EXPECT_EQ(ErrorOf([&] { GetTag(&tlv); }), kInvalidTag) << hex;
    }
    // Tag present, length octets missing or cut short.
    for (const char* hex : {"04", "5F29", "3081", "3082", "308201", "30830100"}) {
        HexBinary tlv(hex);
        EXPECT_EQ(ErrorOf([&] { GetValueLength(&tlv); }), kInvalidLength) << hex;
        EXPECT_EQ(ErrorOf([&] { GetLengthFieldSize(&tlv); }), kInvalidLength) << hex;
    }
    // Indefinite length has no value length to report.
    HexBinary indefinite("30800000");
    EXPECT_EQ(ErrorOf([&] { GetLengthFieldSize(&indefinite); }), kInvalidLength);
    EXPECT_EQ(ErrorOf([&] { GetValueLength(&indefinite); }), kInvalidLength);

    // A very long tag never wraps the 8-bit count.
    HexBinary endless(std::string("1F") + std::string(600, '8') );
    EXPECT_EQ(ErrorOf([&] { GetTagLength(&endless); }), kInvalidTag);
}
