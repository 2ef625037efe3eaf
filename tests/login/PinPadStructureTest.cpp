// PIN-pad structure bounds and PIN status words.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "card/PinPad.h"
#include "token/PinOperations.h"

using namespace Brelt::MW;

namespace {

std::string Hex(const Card::PinPadStructure& s)
{
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  for (std::size_t i = 0; i < s.length; ++i) {
    if (i > 0) text += ' ';
    text += digits[s.bytes[i] >> 4];
    text += digits[s.bytes[i] & 0x0F];
  }
  return text;
}

// The structures byte by byte: time-outs, format, PIN block, extra digits
// (maximum low, minimum high), entry condition, messages, language 041B, data
// length (little-endian) and the command the reader completes.
TEST(PinPadStructure, HeadersAndCommandsByteForByte)
{
  Card::PinReference pin;
  pin.initialized = 1, pin.needsPadding = 1, pin.pwdType = 1, pin.minLength = 4, pin.maxLength = 8, pin.padChar = 0xFF;
  Card::PinPadStructure s;
  ASSERT_EQ(Card::BuildVerifyStructure(0x81, pin, 0xFF, 0xFF, nullptr, s), CKR_OK);
  EXPECT_EQ(Hex(s), "FF FF 02 08 00 08 04 02 FF 1B 04 00 00 00 00 0D 00 00 00 "
                    "00 20 00 81 08 FF FF FF FF FF FF FF FF");

  // A command protected for the reader: its header, Lc, data and a 00 Le.
  Card::ApduCommand wrapped;
  std::vector<uint8_t> data(0x20);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
  Card::SetApdu(&wrapped, 0x0C, 0x20, 0x00, 0x03, Card::kNoLe, Card::kSwSuccess);
  ASSERT_EQ(Card::SetApduData(&wrapped, static_cast<uint16_t>(data.size()), data.data(), 1), CKR_OK);
  ASSERT_EQ(Card::BuildVerifyStructure(0x03, pin, 0xFF, 0xFF, &wrapped, s), CKR_OK);
  EXPECT_EQ(s.length, 19u + 0x26u);
  EXPECT_EQ(Hex(s).substr(0, 3 * 24), "FF FF E2 00 00 08 04 02 FF 1B 04 00 00 00 00 26 00 00 00 0C 20 00 03 20 ");
  EXPECT_EQ(s.bytes[19 + 5 + 0x1F], 0x1F);
  EXPECT_EQ(s.bytes[s.length - 1], 0x00);

  // Old and new PIN on the pad, then only the new one.
  pin.pwdType = 0;
  ASSERT_EQ(Card::BuildModifyStructure(0x01, pin, 3, 0xFF, 0xFF, 0x24, s), CKR_OK);
  EXPECT_EQ(Hex(s), "FF FF 01 08 00 00 08 08 04 03 02 FF 1B 04 00 00 00 00 00 00 15 00 00 00 "
                    "00 24 00 01 10 FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF");
  ASSERT_EQ(Card::BuildModifyStructure(0x01, pin, 1, 0x30, 0x00, 0x24, s), CKR_OK);
  EXPECT_EQ(Hex(s), "30 00 01 08 00 00 00 08 04 01 02 FF 1B 04 00 00 00 00 00 00 0D 00 00 00 "
                    "00 24 01 01 08 FF FF FF FF FF FF FF FF");
}

TEST(PinPadStructure, OversizedPinObjectsAreRefused)
{
  Card::PinReference pin;
  pin.initialized = 1, pin.needsPadding = 1, pin.pwdType = 1, pin.minLength = 4, pin.padChar = 0xFF;
  pin.maxLength = 240;
  Card::PinPadStructure s;
  EXPECT_EQ(Card::BuildVerifyStructure(0x01, pin, 0xFF, 0xFF, nullptr, s), CKR_GENERAL_ERROR);
  pin.maxLength = 120;
  EXPECT_EQ(Card::BuildModifyStructure(0x01, pin, 3, 0xFF, 0xFF, 0x24, s), CKR_GENERAL_ERROR);
  pin.maxLength = 255;
  EXPECT_EQ(Card::BuildModifyKeyStructure(0x01, pin, 0xFF, s), CKR_ARGUMENTS_BAD);  // min differs from max
  pin.minLength = 255;
  EXPECT_EQ(Card::BuildModifyKeyStructure(0x01, pin, 0xFF, s), CKR_GENERAL_ERROR);
}

TEST(PinStatusWords, RetryCounterOnlyFromA63CxAnswer)
{
  EXPECT_EQ(Token::GetPinRetryCounter(0x63C2), 2);
  EXPECT_EQ(Token::GetPinRetryCounter(0x63C0), 0);
  EXPECT_EQ(Token::GetPinRetryCounter(0x9000), -1);
  EXPECT_EQ(Token::GetPinRetryCounter(0xFFFF), -1);  // all bits set, but no counter
  EXPECT_EQ(Card::SPE_EvaluateSW(0x6F00), CKR_FUNCTION_FAILED);  // an unknown pad answer is no success
}

}  // namespace
