#pragma once
// The one road from the module to a card: SendApdu wraps the command in the
// card's secure messaging when it has a protected channel, SendApduImpl
// encodes it, exchanges it with SCardTransmit over T=1 and checks the status
// word.
//
// Result codes: CKR_OK; CKR_HOST_MEMORY; CKR_FUNCTION_FAILED (answer shorter
// than the status word, unexpected status word, answer too long, or a
// protected answer that fails its check); CKR_DATA_INVALID (Lc without data);
// CKR_DEVICE_ERROR (SCardTransmit failed); CKR_ARGUMENTS_BAD (null records).
//
// The last-status word: after an exchange it holds the SCardTransmit result
// (0 after a good exchange), then the answer's status word when that is not
// 9000, or whatever it is when a protected answer fails its check. Callers
// with a session pass the session's ulDeviceError; a skipped
// command leaves it untouched. A null pointer is allowed (nothing is stored).

#include <winscard.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include "Apdu.h"

namespace Brelt::MW::Card {

class Slot;

// Stores into a last-status word. A session's word is read by the session
// information without the token lock, so it is written atomically.
inline void StoreLastStatus(unsigned long* lastStatus, unsigned long value)
{
    if (lastStatus != nullptr) std::atomic_ref<unsigned long>(*lastStatus).store(value, std::memory_order_relaxed);
}

// Receive buffer room: the longest extended answer and its status word, plus
// a little slack so that an over-long answer is detected rather than cut.
inline constexpr unsigned long kApduReceiveRoom = 0x10008;

// What SendApdu needs from a card's secure-messaging context.
class ApduProtector {
public:
    virtual ~ApduProtector() = default;
    // A new protected command made from `plain` (the caller deletes it), or null.
    virtual ApduCommand* WrapCommand(const ApduCommand& plain) = 0;
    // Unwraps `response` in place; a nonzero result means the answer failed its
    // check and its data were removed.
    virtual CK_RV UnwrapResponse(ApduResponse& response) = 0;
};

// Finds the chip-authentication context of the slot's card, or null. The
// registry installs it (StatusCache::GetSecureMessaging); the shared pointer
// keeps the context alive for the whole exchange.
using ApduProtectorLookup = std::shared_ptr<ApduProtector> (*)(const Slot& slot);
void SetApduProtectorLookup(ApduProtectorLookup lookup);

CK_RV SendApdu(const Slot* slot, ApduCommand* command, ApduResponse* response, CK_ULONG* lastStatus,
               uint32_t noLog, uint32_t forceExtended);

// The plain exchange, never protected.
CK_RV SendApduImpl(const Slot* slot, ApduCommand* command, ApduResponse* response, CK_ULONG* lastStatus,
                   uint32_t noLog, uint32_t forceExtended);
CK_RV SendApduImpl(SCARDHANDLE cardHandle, ApduCommand* command, ApduResponse* response,
                   CK_ULONG* lastStatus, uint32_t noLog, uint32_t forceExtended);

// Sends GET DATA of the CardOS life-cycle byte (00 CA 01 83) straight to a
// card handle; the answer is dropped.
CK_RV SendGetDataApdu(SCARDHANDLE cardHandle);

}  // namespace Brelt::MW::Card
