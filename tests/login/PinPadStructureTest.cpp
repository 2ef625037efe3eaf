// PIN-pad structure bounds and PIN status words.

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

TEST(PinStatusWords, RetryCounterOnlyFromA63CxAnswer)
{
  EXPECT_EQ(Token::GetPinRetryCounter(0x63C2), 2);
  EXPECT_EQ(Token::GetPinRetryCounter(0x63C0), 0);
  EXPECT_EQ(Token::GetPinRetryCounter(0x9000), -1);
  EXPECT_EQ(Token::GetPinRetryCounter(0xFFFF), -1);  // all bits set, but no counter
  EXPECT_EQ(Card::SPE_EvaluateSW(0x6F00), CKR_FUNCTION_FAILED);  // an unknown pad answer is no success
}

}  // namespace
