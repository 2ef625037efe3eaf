#pragma once
// The PIN length bounds the PIN entry enforces, from the lengths a PIN
// directory entry gives. The on-screen keyboard and the token information
// both use them, so that an application is told the lengths the user can
// actually type.

#include <algorithm>
#include <cstdint>

namespace Brelt::MW::Base {

// Most digits a PIN entry holds, and the maximum used when the entry gives
// none or one below its minimum.
inline constexpr int kPinCapacity = 255;
inline constexpr int kDefaultMaxPinLength = 12;

struct PinLengthBounds {
    int minimum;
    int maximum;
};

// At least one digit and at most kPinCapacity; a maximum below the minimum
// (0 when the entry has none) gives the default maximum, never less than the
// minimum. The minimum never exceeds the maximum.
constexpr PinLengthBounds EffectivePinLengthBounds(int64_t minLength, int64_t maxLength)
{
    const int minimum = static_cast<int>(std::clamp<int64_t>(minLength, 1, kPinCapacity));
    if (maxLength < minimum) return {minimum, std::max(kDefaultMaxPinLength, minimum)};
    return {minimum, static_cast<int>(std::min<int64_t>(maxLength, kPinCapacity))};
}

}  // namespace Brelt::MW::Base
