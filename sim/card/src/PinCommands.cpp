#include "Commands.h"

#include <algorithm>

namespace cardsim::detail {

namespace {

uint16_t RetriesStatus(int retriesLeft)
{
    return uint16_t(0x63C0 | std::min(retriesLeft, 0x0F));
}

// Common refusals before any comparison; nullopt when the PIN may be tried.
std::optional<Response> CheckUsable(const PinObject& pin)
{
    if (pin.retriesLeft == 0)
        return Error(sw::kBlocked);
    if (!pin.usable)
        return Error(sw::kReferenceDataUnusable);
    return std::nullopt;
}

bool LengthAllowed(const PinObject& pin, size_t length)
{
    return length >= pin.minLength && length <= pin.maxLength;
}

void MarkVerified(CardState& state, PinObject& pin)
{
    pin.retriesLeft = pin.retryMax;
    pin.verified = true;
    std::vector<File*> pending{state.mf.get()};
    while (!pending.empty()) {
        File* file = pending.back();
        pending.pop_back();
        for (RsaKeyObject& key : file->keys)
            if (key.pinReference == pin.reference)
                key.operationsSinceVerify = 0;
        for (const auto& child : file->children)
            pending.push_back(child.get());
    }
}

// A wrong presentation costs one try; the last one blocks the PIN.
Response CountFailure(PinObject& pin)
{
    pin.verified = false;
    pin.retriesLeft = std::max(0, pin.retriesLeft - 1);
    return Error(RetriesStatus(pin.retriesLeft));
}

void SetValue(PinObject& pin, const Bytes& value)
{
    pin.value = value;
    pin.text.assign(value.begin(), value.end());
    if (pin.padChar)
        pin.text.erase(pin.text.find_last_not_of(char(*pin.padChar)) + 1);
}

}  // namespace

Response Verify(CardState& state, const Command& cmd)
{
    if (cmd.p1 != 0x00)
        return Error(sw::kWrongP1P2);
    PinObject* pin = state.FindPin(cmd.p2);
    if (pin == nullptr)
        return Error(sw::kReferenceNotFound);
    if (auto refusal = CheckUsable(*pin))
        return *refusal;
    if (cmd.data.empty()) {  // status query
        if (pin->verified && state.options.pinStatus9000WhenVerified)
            return {};
        return Error(RetriesStatus(pin->retriesLeft));
    }
    if (!LengthAllowed(*pin, cmd.data.size()))
        return Error(sw::kWrongLength);
    if (cmd.data != pin->value)
        return CountFailure(*pin);
    MarkVerified(state, *pin);
    return {};
}

Response ChangeReferenceData(CardState& state, const Command& cmd)
{
    if (cmd.p1 > 0x01)
        return Error(sw::kWrongP1P2);
    PinObject* pin = state.FindPin(cmd.p2);
    if (pin == nullptr)
        return Error(sw::kReferenceNotFound);
    if (auto refusal = CheckUsable(*pin))
        return *refusal;

    Bytes newValue;
    if (cmd.p1 == 0x01) {  // new value only: the PIN must be verified already
        if (!pin->verified)
            return Error(sw::kSecurityNotSatisfied);
        newValue = cmd.data;
        if (!LengthAllowed(*pin, newValue.size()))
            return Error(sw::kWrongLength);
    } else {
        // Old and new are concatenated; the old one is as long as the stored value.
        const size_t oldLength = pin->value.size();
        if (cmd.data.size() <= oldLength)
            return Error(sw::kWrongLength);
        newValue.assign(cmd.data.begin() + oldLength, cmd.data.end());
        if (!LengthAllowed(*pin, newValue.size()))
            return Error(sw::kWrongLength);
        if (!std::equal(pin->value.begin(), pin->value.end(), cmd.data.begin()))
            return CountFailure(*pin);
    }
    SetValue(*pin, newValue);
    MarkVerified(state, *pin);
    return {};
}

Response ResetRetryCounter(CardState& state, const Command& cmd)
{
    if (cmd.p1 > 0x01)
        return Error(sw::kWrongP1P2);
    PinObject* pin = state.FindPin(cmd.p2);
    if (pin == nullptr || !pin->unblockedBy)
        return Error(sw::kReferenceNotFound);
    PinObject* puk = state.FindPin(*pin->unblockedBy);
    if (puk == nullptr)
        return Error(sw::kReferenceNotFound);
    if (auto refusal = CheckUsable(*puk))
        return *refusal;
    const size_t pukLength = puk->value.size();
    if (cmd.data.size() < pukLength || (cmd.p1 == 0x01 && cmd.data.size() != pukLength))
        return Error(sw::kWrongLength);
    const Bytes newValue(cmd.data.begin() + pukLength, cmd.data.end());
    if (cmd.p1 == 0x00 && !LengthAllowed(*pin, newValue.size()))
        return Error(sw::kWrongLength);
    if (!std::equal(puk->value.begin(), puk->value.end(), cmd.data.begin()))
        return CountFailure(*puk);
    puk->retriesLeft = puk->retryMax;
    if (cmd.p1 == 0x00) {
        SetValue(*pin, newValue);
    }
    pin->retriesLeft = pin->retryMax;
    pin->verified = false;
    return {};
}

}  // namespace cardsim::detail
