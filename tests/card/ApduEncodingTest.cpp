#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BaseTypes.h"
#include "card/Apdu.h"
#include "card/ApduEncoding.h"

using Brelt::MW::Base::HexBinary;
using namespace Brelt::MW::Card;

namespace {

std::vector<uint8_t> Bytes(const std::string& hex)
{
    HexBinary buffer(hex);
    return std::vector<uint8_t>(buffer.data, buffer.data + buffer.length);
}

std::vector<uint8_t> Encode(uint16_t lc, uint16_t le, bool forceExtended)
{
    ApduCommand command;
    SetApdu(&command, 0x00, 0x2A, 0x9E, 0x9A, le, kSwSuccess);
    std::vector<uint8_t> data(lc);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i);
    EXPECT_EQ(SetApduData(&command, lc, data.data(), 1), CKR_OK);
    std::vector<uint8_t> out;
    EXPECT_EQ(EncodeCommandApdu(command, forceExtended, out), CKR_OK);
    return out;
}

// Header 00 2A 9E 9A, then `lcField`, `lc` data bytes 00 01 02 ..., then `leField`.
std::vector<uint8_t> Expected(const std::string& lcField, uint16_t lc, const std::string& leField)
{
    std::vector<uint8_t> out = Bytes("002A9E9A" + lcField);
    for (uint16_t i = 0; i < lc; ++i) out.push_back(uint8_t(i));
    const std::vector<uint8_t> le = Bytes(leField);
    out.insert(out.end(), le.begin(), le.end());
    return out;
}

}  // namespace

TEST(ApduEncoding, ShortAndExtendedForms)
{
    ApduCommand selectMf;
    SetApdu(&selectMf, 0x00, 0xA4, 0x00, 0x0C, kNoLe, kSwSuccess);
    std::vector<uint8_t> out;
    ASSERT_EQ(EncodeCommandApdu(selectMf, false, out), CKR_OK);
    EXPECT_EQ(out, Bytes("00A4000C"));
    ASSERT_EQ(EncodeCommandApdu(selectMf, true, out), CKR_OK);
    EXPECT_EQ(out, Bytes("00A4000C"));  // forced, but no length to extend

    EXPECT_EQ(Encode(0, 0xF0, false), Expected("", 0, "F0"));
    EXPECT_EQ(Encode(0, 0, false), Expected("", 0, "00"));
    EXPECT_EQ(Encode(0, 0x100, false), Expected("", 0, "000100"));
    EXPECT_EQ(Encode(0, 0x10, true), Expected("", 0, "000010"));
    EXPECT_EQ(Encode(5, kNoLe, false), Expected("05", 5, ""));
    EXPECT_EQ(Encode(5, kNoLe, true), Expected("000005", 5, ""));
    EXPECT_EQ(Encode(255, 0, false), Expected("FF", 255, "00"));
    EXPECT_EQ(Encode(300, 0, false), Expected("00012C", 300, "0000"));
    EXPECT_EQ(Encode(5, 0, true), Expected("000005", 5, "0000"));
    // A long Le makes the Lc field extended too.
    EXPECT_EQ(Encode(10, 0x200, false), Expected("00000A", 10, "0200"));

    const std::vector<uint8_t> longest = Encode(0xFFFF, 0xFFFE, false);
    EXPECT_EQ(longest.size(), kMaxCommandApduSize);
    EXPECT_EQ(std::vector<uint8_t>(longest.begin(), longest.begin() + 7), Bytes("002A9E9A00FFFF"));
    EXPECT_EQ(std::vector<uint8_t>(longest.end() - 2, longest.end()), Bytes("FFFE"));
}

