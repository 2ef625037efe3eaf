#include "Apdu.h"

namespace cardsim::detail {

std::optional<Command> ParseCommand(const Bytes& apdu)
{
    if (apdu.size() < 4)
        return std::nullopt;
    Command cmd;
    cmd.cla = apdu[0];
    cmd.ins = apdu[1];
    cmd.p1 = apdu[2];
    cmd.p2 = apdu[3];
    const size_t body = apdu.size() - 4;
    if (body == 0)
        return cmd;  // case 1
    const uint8_t b0 = apdu[4];
    if (body == 1) {  // case 2 short
        cmd.hasLe = true;
        cmd.ne = b0 == 0 ? 256 : b0;
        return cmd;
    }
    if (b0 != 0) {  // case 3 or 4 short
        const size_t lc = b0;
        if (body == 1 + lc) {
            cmd.data.assign(apdu.begin() + 5, apdu.end());
            return cmd;
        }
        if (body == 2 + lc) {
            cmd.data.assign(apdu.begin() + 5, apdu.end() - 1);
            cmd.hasLe = true;
            cmd.ne = apdu.back() == 0 ? 256 : apdu.back();
            return cmd;
        }
        return std::nullopt;
    }
    cmd.extended = true;
    if (body == 3) {  // case 2 extended
        const size_t le = (size_t(apdu[5]) << 8) | apdu[6];
        cmd.hasLe = true;
        cmd.ne = le == 0 ? 65536 : le;
        return cmd;
    }
    if (body < 3)
        return std::nullopt;
    const size_t lc = (size_t(apdu[5]) << 8) | apdu[6];
    if (lc == 0)
        return std::nullopt;
    if (body == 3 + lc) {  // case 3 extended
        cmd.data.assign(apdu.begin() + 7, apdu.end());
        return cmd;
    }
    if (body == 5 + lc) {  // case 4 extended
        cmd.data.assign(apdu.begin() + 7, apdu.end() - 2);
        const size_t le = (size_t(apdu[apdu.size() - 2]) << 8) | apdu.back();
        cmd.hasLe = true;
        cmd.ne = le == 0 ? 65536 : le;
        return cmd;
    }
    return std::nullopt;
}

Bytes Status(uint16_t sw)
{
    return {uint8_t(sw >> 8), uint8_t(sw & 0xFF)};
}

Bytes Respond(const Bytes& data, uint16_t sw)
{
    Bytes out(data);
    out.push_back(uint8_t(sw >> 8));
    out.push_back(uint8_t(sw & 0xFF));
    return out;
}

}  // namespace cardsim::detail
