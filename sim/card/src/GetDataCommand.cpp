#include "Commands.h"

namespace cardsim::detail {

namespace {

constexpr uint8_t kLifeCycleTag = 0x83;
constexpr uint8_t kSecurityStatusTag = 0x84;

}  // namespace

Response GetData(CardState& state, const Command& cmd)
{
    if (cmd.p1 != 0x01)
        return Error(sw::kReferenceNotFound);
    if (!cmd.data.empty())
        return Error(sw::kWrongLength);

    Bytes value;
    if (cmd.p2 == kLifeCycleTag) {
        value = {state.lifeCycle};
    } else if (cmd.p2 == kSecurityStatusTag) {
        for (const PinObject& pin : state.pins)
            if (pin.verified)
                value.push_back(pin.reference);
    } else {
        const auto found = state.dataObjects.find(cmd.p2);
        if (found == state.dataObjects.end())
            return Error(sw::kReferenceNotFound);
        value = found->second;
    }
    // Without Le a strictly ISO card expects no response data (case 1).
    if (!cmd.hasLe && !state.options.dataWithoutLe)
        return {};
    return {value, sw::kOk};
}

}  // namespace cardsim::detail
