// The part 10 structures byte by byte, the status-word mappings and the PIN
// padding.

#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "card/PinPad.h"
#include "token/PinOperations.h"

using namespace Brelt::MW;

namespace {

Card::PinReference EightDigitPin()
{
  Card::PinReference pin;
  pin.initialized = 1;
  pin.needsPadding = 1;
  pin.pwdType = 1;
  pin.minLength = 4;
  pin.maxLength = 8;
  pin.padChar = 0xFF;
  return pin;
}

std::vector<uint8_t> Bytes(const Card::PinPadStructure& s) { return {s.bytes.begin(), s.bytes.begin() + s.length}; }

TEST(PinPadStructure, VerifyWithPinBlockForTheReader)
{
  Card::PinPadStructure s;
  ASSERT_EQ(Card::BuildVerifyStructure(0x81, EightDigitPin(), 0xFF, 0xFF, nullptr, s), CKR_OK);
  const std::vector<uint8_t> expected = {0xFF, 0xFF, 0x02, 0x08, 0x00, 0x08, 0x04, 0x02, 0xFF, 0x1B, 0x04,
                                         0x00, 0x00, 0x00, 0x00, 0x0D, 0x00, 0x00, 0x00, 0x00, 0x20, 0x00,
                                         0x81, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(Bytes(s), expected);
}

TEST(PinPadStructure, VerifyOfAWrappedCommand)
{
  Card::ApduCommand wrapped;
  Card::SetApdu(&wrapped, 0x0C, 0x20, 0x00, 0x03, Card::kNoLe, Card::kSwSuccess);
  std::vector<uint8_t> data(0x20, 0xAB);
  ASSERT_EQ(Card::SetApduData(&wrapped, 0x20, data.data(), 1), CKR_OK);
  Card::PinPadStructure s;
  ASSERT_EQ(Card::BuildVerifyStructure(0x03, EightDigitPin(), 0xFF, 0xFF, &wrapped, s), CKR_OK);
  ASSERT_EQ(s.length, 19u + 0x26);
  EXPECT_EQ(s.bytes[2], 0xE2);
  EXPECT_EQ(s.bytes[3], 0x00);
  EXPECT_EQ(s.bytes[15], 0x26);
  EXPECT_EQ(s.bytes[19], 0x0C);
  EXPECT_EQ(s.bytes[23], 0x20);
  EXPECT_EQ(s.bytes[24], 0xAB);
  EXPECT_EQ(s.bytes[s.length - 1], 0x00);

  // A wrapped command whose structure would not fit is refused before anything is copied.
  std::vector<uint8_t> big(240, 0x11);
  ASSERT_EQ(Card::SetApduData(&wrapped, 240, big.data(), 1), CKR_OK);
  EXPECT_EQ(Card::BuildVerifyStructure(0x03, EightDigitPin(), 0xFF, 0xFF, &wrapped, s), CKR_GENERAL_ERROR);
  EXPECT_EQ(s.length, 0u);
}

TEST(PinPadStructure, ModifyWithAndWithoutTheOldPin)
{
  Card::PinPadStructure s;
  ASSERT_EQ(Card::BuildModifyStructure(0x01, EightDigitPin(), 3, 0xFF, 0xFF, 0x24, s), CKR_OK);
  EXPECT_EQ(s.length, 24u + 5 + 16);
  EXPECT_EQ(s.bytes[6], 8);     // bInsertionOffsetNew
  EXPECT_EQ(s.bytes[9], 3);     // bConfirmPIN
  EXPECT_EQ(s.bytes[20], 21);   // ulDataLength
  EXPECT_EQ(s.bytes[26], 0x00); // P1
  EXPECT_EQ(s.bytes[28], 16);

  ASSERT_EQ(Card::BuildModifyStructure(0x01, EightDigitPin(), 1, 0xFF, 0xFF, 0x24, s), CKR_OK);
  EXPECT_EQ(s.length, 24u + 5 + 8);
  EXPECT_EQ(s.bytes[6], 0);
  EXPECT_EQ(s.bytes[26], 0x01);
  EXPECT_EQ(s.bytes[28], 8);
}

TEST(PinPadStructure, OversizedPinObjectsAreRefused)
{
  Card::PinReference pin = EightDigitPin();
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

TEST(PinPadStructure, FeatureListsOfAnyLength)
{
  Card::PinPadFeatures features;
  auto add = [&](uint8_t tag, uint32_t code) {
    uint8_t* at = features.bytes.data() + features.length;
    at[0] = tag;
    at[1] = 4;
    at[2] = uint8_t(code >> 24);
    at[3] = uint8_t(code >> 16);
    at[4] = uint8_t(code >> 8);
    at[5] = uint8_t(code);
    features.length += 6;
  };
  for (uint8_t tag = 0x10; tag < 0x1C; ++tag) add(tag, 0x42330000u + tag);  // twelve unrelated entries first
  add(0x06, 0x42330006);
  EXPECT_FALSE(Card::SPE_HasPinPad(features));
  add(0x07, 0x42330007);
  EXPECT_TRUE(Card::SPE_HasPinPad(features));
  EXPECT_EQ(Card::SPE_GetFeatureCode(features, 0x07), 0x42330007u);
  EXPECT_EQ(Card::SPE_GetFeatureCode(features, 0x00), 0u);
  EXPECT_EQ(Card::SPE_GetFeatureCode(features, 0x11), 0u);  // above 10

  Card::PinPadFeatures startFinish;
  features = startFinish;
  for (uint8_t tag = 1; tag <= 3; ++tag) add(tag, 0x100 + tag);
  EXPECT_FALSE(Card::SPE_HasPinPad(features));
  add(4, 0x104);
  EXPECT_TRUE(Card::SPE_HasPinPad(features));
  features.length -= 3;  // a cut entry is not read
  EXPECT_FALSE(Card::SPE_HasPinPad(features));
}

TEST(PinStatusWords, PinPadAndCardAnswers)
{
  const std::pair<uint32_t, CK_RV> pad[] = {
      {0x9000, CKR_OK},           {0x63C1, CKR_PIN_INCORRECT},      {0x6300, CKR_PIN_INCORRECT},
      {0x63C0, CKR_PIN_LOCKED},   {0x6983, CKR_PIN_LOCKED},         {0x6A80, CKR_PIN_INVALID},
      {0x6984, CKR_USER_PIN_NOT_INITIALIZED}, {0x6400, CKR_FUNCTION_CANCELED}, {0x6401, CKR_FUNCTION_CANCELED},
      {0x6402, CKR_FUNCTION_FAILED}, {0x6403, CKR_PIN_LEN_RANGE},   {0x6F00, CKR_FUNCTION_FAILED}};
  for (const auto& [sw, rv] : pad) EXPECT_EQ(Card::SPE_EvaluateSW(sw), rv) << std::hex << sw;
  const std::pair<uint32_t, CK_RV> card[] = {
      {0x63C2, CKR_PIN_INCORRECT}, {0x63C0, CKR_PIN_LOCKED},         {0x6300, CKR_PIN_INCORRECT},
      {0x6700, CKR_PIN_LEN_RANGE}, {0x6982, CKR_USER_NOT_LOGGED_IN}, {0x6983, CKR_PIN_LOCKED},
      {0x6A88, CKR_PIN_INVALID},   {0x6984, CKR_FUNCTION_FAILED},    {0x80100069, CKR_DEVICE_ERROR}};
  for (const auto& [sw, rv] : card) EXPECT_EQ(Token::MapPinError(sw), rv) << std::hex << sw;
  EXPECT_EQ(Token::GetPinRetryCounter(0x63C2), 2);
  EXPECT_EQ(Token::GetPinRetryCounter(0x63C0), 0);
  EXPECT_EQ(Token::GetPinRetryCounter(0x9000), -1);
  EXPECT_EQ(Token::GetPinRetryCounter(0xFFFF), -1);  // all bits set, but no counter
  EXPECT_EQ(Card::SPE_GetPinFormat(2), 2);
  EXPECT_EQ(Card::SPE_GetPinFormat(9), 0);
}

TEST(PinPadding, PadsAndCuts)
{
  const uint8_t pin[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  uint8_t length = 4;
  auto padded = Token::ApplyPinPadding(pin, &length, 0xFF, 8);
  ASSERT_TRUE(padded);
  EXPECT_EQ(length, 8);
  EXPECT_EQ(padded->ToString(), "31323334FFFFFFFF");
  length = 9;
  padded = Token::ApplyPinPadding(pin, &length, 0x00, 8);
  ASSERT_TRUE(padded);
  EXPECT_EQ(padded->ToString(), "3132333435363738");
}

}  // namespace
