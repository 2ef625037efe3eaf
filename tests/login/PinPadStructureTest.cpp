// PIN-pad structure bounds, feature lists and the status-word mappings.

#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "card/PinPad.h"
#include "token/PinOperations.h"

using namespace Brelt::MW;

namespace {

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

TEST(PinPadStructure, FeatureListsOfAnyLength)
{
  Card::PinPadFeatures features;
  auto add = [&](uint8_t tag, uint32_t code) {
    const uint8_t entry[] = {tag, 4, uint8_t(code >> 24), uint8_t(code >> 16), uint8_t(code >> 8), uint8_t(code)};
    std::memcpy(features.bytes.data() + features.length, entry, sizeof entry);
    features.length += sizeof entry;
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

}  // namespace
