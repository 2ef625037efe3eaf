#include "BaseTypes.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

using Brelt::MW::Base::HexBinary;
using Brelt::MW::Base::MWException;

namespace {

std::string Hex(const HexBinary* buffer)
{
    return buffer->ToString();
}

std::string ThrownText(const std::function<void()>& action)
{
    try {
        action();
    } catch (const char* text) {
        return text;
    }
    return "<nothing thrown>";
}

}  // namespace

TEST(HexBinaryTest, ParsesHexTextInEitherCase)
{
    const HexBinary buffer(std::string("0a1B"));
    ASSERT_EQ(buffer.length, 2);
    EXPECT_EQ(buffer[0], 0x0A);
    EXPECT_EQ(buffer[1], 0x1B);
    EXPECT_EQ(buffer.ToString(), "0A1B");
    EXPECT_EQ(HexBinary(std::string("")).length, 0);
}

TEST(HexBinaryTest, EqualsAndCompare)
{
    const HexBinary a(std::string("0102"));
    const HexBinary b(std::string("010203"));
    const HexBinary builtEmpty;
    const HexBinary parsedEmpty(std::string(""));
    EXPECT_TRUE(builtEmpty.Equals(&parsedEmpty));
    EXPECT_FALSE(a.Equals(nullptr));
    EXPECT_TRUE(a.Equals(&a));
    EXPECT_FALSE(a.Equals(&b));
    EXPECT_LT(a.Compare(b), 0);  // a proper prefix compares lower
    EXPECT_GT(b.Compare(a), 0);
    EXPECT_EQ(a.Compare(HexBinary(std::string("0102"))), 0);
    EXPECT_LT(HexBinary(std::string("09")).Compare(HexBinary(std::string("0A"))), 0);
}

TEST(HexBinaryTest, RejectsMalformedHexText)
{
    auto messageOf = [](const std::string& text) {
        try {
            HexBinary buffer(text);
        } catch (const MWException& e) {
            EXPECT_EQ(e.code, 10009);
            return e.message;
        }
        return std::string("<nothing thrown>");
    };
    EXPECT_EQ(messageOf("abc"),
              "Exception at .\\source\\BaseTypes, Line: 13, Hex string must have even length");
    // Length is checked before the characters.
    EXPECT_EQ(messageOf("zzz"),
              "Exception at .\\source\\BaseTypes, Line: 13, Hex string must have even length");
    EXPECT_EQ(messageOf("0g"),
              "Exception at .\\source\\BaseTypes, Line: 16, Invalid character in hex string on position 1");
    EXPECT_EQ(messageOf("0011 2"),
              "Exception at .\\source\\BaseTypes, Line: 16, Invalid character in hex string on position 4");
}

TEST(HexBinaryTest, FromLengthGivesMinimalBigEndianBytes)
{
    auto fromLength = [](int32_t value) { return Hex(std::unique_ptr<HexBinary>(HexBinary::FromLength(value)).get()); };
    EXPECT_EQ(fromLength(0), "00");
    EXPECT_EQ(fromLength(0x7F), "7F");
    EXPECT_EQ(fromLength(255), "FF");
    EXPECT_EQ(fromLength(256), "0100");
    EXPECT_EQ(fromLength(-1), "FFFFFFFF");
    EXPECT_EQ(ThrownText([] { delete HexBinary::FromLength(65536); }), "Input parameter is bigger then 0xFFFF");
}

TEST(HexBinaryTest, RangeChecksItsBounds)
{
    const HexBinary buffer(std::string("01020304"));
    EXPECT_EQ(Hex(std::unique_ptr<HexBinary>(buffer.Range(0, 4)).get()), "01020304");
    EXPECT_EQ(Hex(std::unique_ptr<HexBinary>(buffer.Range(1, 2)).get()), "0203");
    EXPECT_EQ(std::unique_ptr<HexBinary>(buffer.Range(4, 0))->length, 0);
    EXPECT_EQ(ThrownText([&] { delete buffer.Range(-1, 1); }), "Invalid startIndex parameter");
    EXPECT_EQ(ThrownText([&] { delete buffer.Range(2, 3); }), "HexBinary->Range: Out of bounds request");
    EXPECT_EQ(ThrownText([&] { delete buffer.Range(2, -1); }), "HexBinary->Range: Out of bounds request");
    // start + count must not wrap around to a small number.
    EXPECT_EQ(ThrownText([&] { delete buffer.Range(2, INT32_MAX); }), "HexBinary->Range: Out of bounds request");
    EXPECT_EQ(ThrownText([&] { delete HexBinary().Range(0, 1); }), "HexBinary->Range: Out of bounds request");
    for (int index : {-1, 4, 1 << 30}) EXPECT_EQ(ThrownText([&] { (void)buffer[index]; }), "Index outside of array bound");
    EXPECT_EQ(ThrownText([] { (void)HexBinary()[0]; }), "Index outside of array bound");
}

TEST(HexBinaryTest, AppendCopyFromAndCopies)
{
    HexBinary buffer;
    buffer.Append(nullptr);
    EXPECT_EQ(buffer.length, 0);
    const HexBinary other(std::string("A1B2"));
    buffer.Append(&other);
    EXPECT_EQ(buffer.ToString(), "A1B2");
    buffer.Append(&buffer);
    EXPECT_EQ(buffer.ToString(), "A1B2A1B2");

    buffer.CopyFrom(&buffer);
    EXPECT_EQ(buffer.ToString(), "A1B2A1B2");
    buffer.CopyFrom(nullptr);
    EXPECT_EQ(buffer.ToString(), "A1B2A1B2");
    buffer.CopyFrom(&other);
    EXPECT_EQ(buffer.ToString(), "A1B2");

    HexBinary copy(buffer);
    copy[0] = 0;
    EXPECT_EQ(buffer.ToString(), "A1B2");
    copy = buffer;
    EXPECT_TRUE(copy.Equals(&buffer));

    const unsigned char chars[] = {'a', 0, 'b'};
    EXPECT_EQ(HexBinary(chars, 3, true).ToCharString(), std::string("a\0b", 3));
    auto* adopted = new unsigned char[2]{1, 2};
    EXPECT_EQ(HexBinary(adopted, 2, false).ToString(), "0102");
}

TEST(HexBinaryTest, RefusesInconsistentConstructorArguments)
{
    EXPECT_THROW(HexBinary(nullptr, 4, true), std::invalid_argument);
    const unsigned char byte = 1;
    EXPECT_THROW(HexBinary(&byte, -1, true), std::invalid_argument);
}

TEST(BotanConversionTest, ZeroIsEmptyAndOthersAreMinimalBigEndian)
{
    EXPECT_EQ(std::unique_ptr<HexBinary>(Brelt::MW::Base::BigIntToHexBinary(Botan::BigInt(0)))->length, 0);
    EXPECT_EQ(Hex(std::unique_ptr<HexBinary>(Brelt::MW::Base::BigIntToHexBinary(Botan::BigInt(0x100))).get()), "0100");
}
