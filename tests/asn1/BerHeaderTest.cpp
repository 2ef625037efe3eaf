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
