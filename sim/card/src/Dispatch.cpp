#include "Commands.h"

namespace cardsim::detail {

namespace {

constexpr uint8_t kClaIso = 0x00;
constexpr uint8_t kClaProprietary = 0x80;

Response ExecuteIso(CardState& state, const Command& cmd)
{
    switch (cmd.ins) {
    case 0xA4: return Select(state, cmd);
    case 0xB0: return ReadBinary(state, cmd);
    case 0xD6: return UpdateBinary(state, cmd);
    case 0xB2: return ReadRecord(state, cmd);
    case 0xCA: return GetData(state, cmd);
    case 0x20: return Verify(state, cmd);
    case 0x24: return ChangeReferenceData(state, cmd);
    case 0x2C: return ResetRetryCounter(state, cmd);
    case 0x22: return ManageSecurityEnvironment(state, cmd);
    case 0x2A: return PerformSecurityOperation(state, cmd);
    case 0x84: return GetChallenge(state, cmd);
    case 0x47: return GenerateKeyPair(state, cmd);
    case 0xE0: return CreateFile(state, cmd);
    case 0xE4: return DeleteFile(state, cmd);
    case 0x04: return DeactivateFile(state, cmd);
    case 0xDA: return PutData(state, cmd);
    case 0x12: return CardTransaction(state, cmd);
    case 0x82: return Authenticate(state, cmd);
    case 0x88:  // no keys for internal authentication
        return Error(sw::kReferenceNotFound);
    default: return Error(sw::kInsNotSupported);
    }
}

Response ExecuteProprietary(CardState& state, const Command& cmd)
{
    switch (cmd.ins) {
    case 0x10: return ChangeLifeCycle(state, cmd);
    case 0x16: return ListFiles(state, cmd);
    default: return Error(sw::kInsNotSupported);
    }
}

}  // namespace

Response Execute(CardState& state, const Command& cmd)
{
    if ((cmd.cla & 0x10) != 0)
        return Error(sw::kChainingNotSupported);
    if ((cmd.cla & 0x0C) != 0)
        return Error(sw::kSmNotSupported);  // protection inside protection
    Response response;
    if (cmd.cla == kClaIso)
        response = ExecuteIso(state, cmd);
    else if (cmd.cla == kClaProprietary)
        response = ExecuteProprietary(state, cmd);
    else
        return Error(sw::kClaNotSupported);
    // A short APDU cannot carry more than 256 response bytes.
    const size_t limit = cmd.extended ? 65536 : 256;
    if (response.data.size() > limit)
        return Error(sw::kWrongLength);
    return response;
}

}  // namespace cardsim::detail
