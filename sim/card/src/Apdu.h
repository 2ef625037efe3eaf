// Command APDU decoding (ISO 7816-4 cases 1, 2, 3, 4; short and extended)
// and response assembly.
#pragma once

#include <cardsim/Card.h>

#include <cstdint>
#include <optional>

namespace cardsim::detail {

struct Command {
    uint8_t cla = 0;
    uint8_t ins = 0;
    uint8_t p1 = 0;
    uint8_t p2 = 0;
    Bytes data;
    bool hasLe = false;
    size_t ne = 0;          // expected length; 256 / 65536 for a zero Le
    bool extended = false;
};

// Empty optional when the length fields do not match the APDU size.
std::optional<Command> ParseCommand(const Bytes& apdu);

namespace sw {
inline constexpr uint16_t kOk = 0x9000;
inline constexpr uint16_t kEndOfFile = 0x6282;
inline constexpr uint16_t kDeactivated = 0x6283;
inline constexpr uint16_t kVerificationFailed = 0x6300;
inline constexpr uint16_t kNoInformation = 0x6F00;
inline constexpr uint16_t kWrongLength = 0x6700;
inline constexpr uint16_t kSmNotSupported = 0x6882;
inline constexpr uint16_t kChainingNotSupported = 0x6884;
inline constexpr uint16_t kSmObjectsIncorrect = 0x6988;
inline constexpr uint16_t kIncompatibleFile = 0x6981;
inline constexpr uint16_t kSecurityNotSatisfied = 0x6982;
inline constexpr uint16_t kBlocked = 0x6983;
inline constexpr uint16_t kReferenceDataUnusable = 0x6984;
inline constexpr uint16_t kConditionsNotSatisfied = 0x6985;
inline constexpr uint16_t kNoCurrentEf = 0x6986;
inline constexpr uint16_t kWrongData = 0x6A80;
inline constexpr uint16_t kFunctionNotSupported = 0x6A81;
inline constexpr uint16_t kFileNotFound = 0x6A82;
inline constexpr uint16_t kRecordNotFound = 0x6A83;
inline constexpr uint16_t kWrongP1P2 = 0x6A86;
inline constexpr uint16_t kLcInconsistent = 0x6A87;
inline constexpr uint16_t kReferenceNotFound = 0x6A88;
inline constexpr uint16_t kFileExists = 0x6A89;
inline constexpr uint16_t kOffsetOutside = 0x6B00;
inline constexpr uint16_t kInsNotSupported = 0x6D00;
inline constexpr uint16_t kClaNotSupported = 0x6E00;
}  // namespace sw

Bytes Status(uint16_t sw);
Bytes Respond(const Bytes& data, uint16_t sw);

}  // namespace cardsim::detail
