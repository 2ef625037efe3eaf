#include "Commands.h"

#include <algorithm>

namespace cardsim::detail {

namespace {

// Checks shared by the EF commands; nullopt when the current EF may be used.
std::optional<Response> CheckCurrentEf(const CardState& state, FileType wanted)
{
    const File* ef = state.currentEf;
    if (ef == nullptr)
        return Error(sw::kNoCurrentEf);
    if (ef->type != wanted)
        return Error(sw::kIncompatibleFile);
    if (ef->deactivated)
        return Error(sw::kConditionsNotSatisfied);
    return std::nullopt;
}

}  // namespace

Response ReadBinary(CardState& state, const Command& cmd)
{
    // P1 b8 set: short EF identifier in P1, offset in P2. No file here has one.
    if ((cmd.p1 & 0x80) != 0)
        return Error(sw::kFileNotFound);
    if (!cmd.hasLe || !cmd.data.empty())
        return Error(sw::kWrongLength);
    if (auto refusal = CheckCurrentEf(state, FileType::Transparent))
        return *refusal;
    const File& ef = *state.currentEf;
    if (!state.AccessGranted(ef.read))
        return Error(sw::kSecurityNotSatisfied);
    const size_t offset = (size_t(cmd.p1) << 8) | cmd.p2;
    if (offset >= ef.data.size())
        return Error(sw::kOffsetOutside);
    const size_t count = std::min(cmd.ne, ef.data.size() - offset);
    Response response;
    response.data.assign(ef.data.begin() + offset, ef.data.begin() + offset + count);
    if (count < cmd.ne)
        response.sw = sw::kEndOfFile;
    return response;
}

Response UpdateBinary(CardState& state, const Command& cmd)
{
    if ((cmd.p1 & 0x80) != 0)
        return Error(sw::kFileNotFound);
    if (cmd.data.empty())
        return Error(sw::kWrongLength);
    if (auto refusal = CheckCurrentEf(state, FileType::Transparent))
        return *refusal;
    File& ef = *state.currentEf;
    if (!state.AccessGranted(ef.update))
        return Error(sw::kSecurityNotSatisfied);
    const size_t offset = (size_t(cmd.p1) << 8) | cmd.p2;
    // The file keeps the size it was created with.
    if (offset > ef.data.size() || cmd.data.size() > ef.data.size() - offset)
        return Error(sw::kOffsetOutside);
    std::copy(cmd.data.begin(), cmd.data.end(), ef.data.begin() + offset);
    return {};
}

Response ReadRecord(CardState& state, const Command& cmd)
{
    if ((cmd.p2 >> 3) != 0)  // short EF identifier: none on these cards
        return Error(sw::kFileNotFound);
    if (!cmd.hasLe || !cmd.data.empty())
        return Error(sw::kWrongLength);
    if (auto refusal = CheckCurrentEf(state, FileType::Record))
        return *refusal;
    const File& ef = *state.currentEf;
    if (!state.AccessGranted(ef.read))
        return Error(sw::kSecurityNotSatisfied);

    const size_t count = ef.records.size();
    size_t number = 0;
    const uint8_t mode = cmd.p2 & 0x07;
    if (mode == 0x04) {  // record number in P1, 00 = current record
        number = cmd.p1 == 0 ? state.recordPointer : cmd.p1;
    } else if (cmd.p1 != 0) {
        return Error(sw::kWrongP1P2);  // record identifiers are not used
    } else {
        switch (mode) {
        case 0x00: number = 1; break;
        case 0x01: number = count; break;
        case 0x02: number = state.recordPointer + 1; break;
        case 0x03: number = state.recordPointer == 0 ? count : state.recordPointer - 1; break;
        default: return Error(sw::kWrongP1P2);
        }
    }
    if (number == 0 || number > count)
        return Error(sw::kRecordNotFound);
    state.recordPointer = number;
    return {ef.records[number - 1], sw::kOk};
}

}  // namespace cardsim::detail
