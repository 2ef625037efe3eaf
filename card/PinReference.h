#pragma once
// What the module knows about the PIN object it presents or changes: filled
// from the PIN object's password attributes and read by the PIN routines and
// the PIN pad. Six bytes, owned by the caller.

#include <cstdint>

namespace Brelt::MW::Card {

struct PinReference {
  uint8_t initialized = 0;   // 1: usable, no initial change pending
  uint8_t needsPadding = 0;  // PIN padded to maxLength with padChar
  uint8_t pwdType = 0;       // 0 BCD, 1 and 2 ASCII, others binary
  uint8_t minLength = 0;
  uint8_t maxLength = 0;
  uint8_t padChar = 0;
};

}  // namespace Brelt::MW::Card
