#pragma once
// Command and response APDU records. A record lives on the caller's stack
// for one exchange; SetApdu resets it, so one record serves a sequence of
// commands.

#include <cstdint>
#include <memory>

#include "pkcs11/cryptoki.h"

namespace Brelt::MW::Card {

// Le value meaning "no Le field", and expected SW meaning "not checked".
inline constexpr uint16_t kNoLe = 0xFFFF;
inline constexpr uint16_t kSwNotChecked = 0xFFFF;
inline constexpr uint16_t kSwSuccess = 0x9000;

struct ApduCommand {
    uint8_t cla = 0;
    uint8_t ins = 0;
    uint8_t p1 = 0;
    uint8_t p2 = 0;
    uint16_t lc = 0;                     // length of the command data; 0 = no data field
    std::unique_ptr<uint8_t[]> data;     // command data (may hold a PIN: wiped when freed)
    uint16_t le = 0;                     // kNoLe = no Le field; 0 = the short-form 00
    uint16_t expectedSw = 0;             // kSwNotChecked = any SW is accepted
    uint32_t skip = 0;                   // nonzero: the send returns CKR_OK without sending

    ApduCommand() = default;
    ApduCommand(const ApduCommand&) = delete;
    ApduCommand& operator=(const ApduCommand&) = delete;
    ~ApduCommand();

    // Frees (and wipes) the data and zeroes every field.
    void Clear();
};

struct ApduResponse {
    uint16_t sw = 0;                     // SW1 SW2
    uint16_t length = 0;                 // data bytes, the status word not counted
    std::unique_ptr<uint8_t[]> data;     // null when length is 0

    ApduResponse() = default;
    ApduResponse(const ApduResponse&) = delete;
    ApduResponse& operator=(const ApduResponse&) = delete;
    ~ApduResponse();

    // Frees (and wipes) the data and zeroes SW and length.
    void Clear();
};

// Clears the record, then sets the header, Le and the expected SW (Lc 0).
void SetApdu(ApduCommand* command, uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2, uint16_t le,
             uint16_t expectedSw);

// Sets the command data. copy nonzero: copies `length` bytes of `data` (a null
// `data` leaves the new bytes zero). copy 0: adopts `data`, which must come
// from new[] (the record frees it). Earlier data of the record are replaced.
// CKR_FUNCTION_FAILED without a record, CKR_HOST_MEMORY when allocation fails.
CK_RV SetApduData(ApduCommand* command, uint16_t length, const uint8_t* data, uint32_t copy);

// Deletes the held command and clears the holder.
void DeleteApduCommand(ApduCommand** holder);

}  // namespace Brelt::MW::Card
