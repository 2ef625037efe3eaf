#include "ApduEncoding.h"

#include <cstdint>

namespace Brelt::MW::Card {

bool NeedsExtendedLengths(const ApduCommand& command, bool forceExtended)
{
    return forceExtended || command.lc > 0xFF || (command.le != kNoLe && command.le > 0xFF);
}

size_t MaxAnswerLength(const ApduCommand& command, bool forceExtended)
{
    if (command.le == kNoLe) return SIZE_MAX;
    if (command.le != 0) return command.le;
    return NeedsExtendedLengths(command, forceExtended) ? 0x10000 : 0x100;
}

CK_RV EncodeCommandApdu(const ApduCommand& command, bool forceExtended, std::vector<uint8_t>& out)
{
    if (command.lc != 0 && !command.data) return CKR_DATA_INVALID;

    const bool extended = NeedsExtendedLengths(command, forceExtended);
    out.clear();
    out.reserve(kMaxCommandApduSize);
    out.insert(out.end(), {command.cla, command.ins, command.p1, command.p2});

    if (command.lc != 0) {
        if (extended) {
            out.insert(out.end(), {0x00, uint8_t(command.lc >> 8), uint8_t(command.lc)});
        } else {
            out.push_back(uint8_t(command.lc));
        }
        out.insert(out.end(), command.data.get(), command.data.get() + command.lc);
    }

    if (command.le != kNoLe) {
        if (extended) {
            // Without an Lc field the extended Le carries the leading 00 itself.
            if (command.lc == 0) out.push_back(0x00);
            out.insert(out.end(), {uint8_t(command.le >> 8), uint8_t(command.le)});
        } else {
            out.push_back(uint8_t(command.le));  // 00 stands for 256
        }
    }
    return CKR_OK;
}

}  // namespace Brelt::MW::Card
