#include "Commands.h"
#include "Tlv.h"

#include <algorithm>

namespace cardsim::detail {

namespace {

constexpr uint8_t kOperationalLifeCycle = 0x24;
constexpr uint8_t kAdministrationLifeCycle = 0x20;
constexpr size_t kListEntriesPerAnswer = 40;

// First authentication condition inside an expanded security condition.
std::optional<Access> ConditionToAccess(const TlvElement& condition)
{
    switch (condition.tag) {
    case 0x90: return Access::Always();
    case 0x97: return Access::Never();
    case 0xA4: {
        const auto inner = ParseTlvs(condition.value);
        const TlvElement* ref = inner ? FindTlv(*inner, 0x83) : nullptr;
        if (ref == nullptr || ref->value.size() != 1)
            return std::nullopt;
        return Access::ByPin(ref->value[0]);
    }
    case 0xA0:  // OR of conditions
    case 0xAF: {  // AND of conditions
        const auto inner = ParseTlvs(condition.value);
        if (!inner || inner->empty())
            return std::nullopt;
        return ConditionToAccess(inner->front());
    }
    default:
        return std::nullopt;
    }
}

// Applies the expanded security attributes (tag AB) to the read and update
// access of `file`: pairs of an access-mode byte (80) and a condition.
bool ApplySecurityAttributes(File& file, const Bytes& attributes)
{
    const auto elements = ParseTlvs(attributes);
    if (!elements)
        return false;
    for (size_t i = 0; i + 1 < elements->size(); i += 2) {
        const TlvElement& mode = (*elements)[i];
        if (mode.tag < 0x80 || mode.tag > 0x8F)
            return false;
        const auto access = ConditionToAccess((*elements)[i + 1]);
        if (!access)
            return false;
        if (mode.tag != 0x80 || mode.value.size() != 1)
            continue;  // command-header descriptions concern other commands
        if (mode.value[0] & 0x01)
            file.read = *access;
        if (mode.value[0] & 0x02)
            file.update = *access;
    }
    return true;
}

File* ResolveTarget(CardState& state, const Bytes& path)
{
    if (path.empty() || path.size() % 2 != 0)
        return nullptr;
    if (path[0] == 0x3F && path[1] == 0x00)
        return state.Resolve(path);
    File* file = state.currentDf;
    for (size_t pos = 0; pos < path.size() && file != nullptr; pos += 2) {
        if (!file->IsDf())
            return nullptr;
        file = file->Child(uint16_t((path[pos] << 8) | path[pos + 1]));
    }
    return file;
}

}  // namespace

Response ListFiles(CardState& state, const Command& cmd)
{
    if (cmd.p1 < 0x01 || cmd.p1 > 0x03)
        return Error(sw::kWrongP1P2);
    std::vector<uint16_t> fids;
    for (const auto& child : state.currentDf->children) {
        const bool wanted = child->IsDf() ? (cmd.p1 & 0x01) != 0 : (cmd.p1 & 0x02) != 0;
        if (wanted)
            fids.push_back(child->fid);
    }
    if (cmd.p2 > fids.size())
        return Error(sw::kWrongP1P2);
    Bytes answer;
    size_t index = cmd.p2;
    for (; index < fids.size() && index - cmd.p2 < kListEntriesPerAnswer; ++index)
        answer = Concat({answer, Tlv(0x6F, Tlv(0x86, {uint8_t(fids[index] >> 8), uint8_t(fids[index] & 0xFF)}))});
    if (index < fids.size())
        answer = Concat({answer, Tlv(0x6F, Tlv(0x8A, {uint8_t(index)}))});
    if (!cmd.hasLe && !state.options.dataWithoutLe)
        return {};
    return {answer, sw::kOk};
}

Response ChangeLifeCycle(CardState& state, const Command& cmd)
{
    if (cmd.p1 != 0 || cmd.p2 != 0 || !cmd.data.empty())
        return Error(sw::kWrongP1P2);
    state.lifeCycle = state.lifeCycle == kAdministrationLifeCycle ? kOperationalLifeCycle
                                                                  : kAdministrationLifeCycle;
    return {};
}

Response CreateFile(CardState& state, const Command& cmd)
{
    const auto outer = ParseTlvs(cmd.data);
    if (!outer || outer->size() != 1 || outer->front().tag != 0x62)
        return Error(sw::kWrongData);
    const auto fcp = ParseTlvs(outer->front().value);
    if (!fcp)
        return Error(sw::kWrongData);
    const TlvElement* fidTlv = FindTlv(*fcp, 0x83);
    const TlvElement* sizeTlv = FindTlv(*fcp, 0x80);
    const TlvElement* descriptor = FindTlv(*fcp, 0x82);
    if (fidTlv == nullptr || fidTlv->value.size() != 2)
        return Error(sw::kWrongData);

    auto file = std::make_unique<File>();
    file->fid = uint16_t((fidTlv->value[0] << 8) | fidTlv->value[1]);
    file->update = Access::Always();
    const uint8_t fdb = descriptor && !descriptor->value.empty() ? descriptor->value[0] : 0x01;
    if (fdb == 0x38) {
        file->type = FileType::Df;
        if (const TlvElement* name = FindTlv(*fcp, 0x84))
            file->aid = name->value;
    } else if (fdb == 0x01) {
        if (sizeTlv == nullptr || sizeTlv->value.size() != 2)
            return Error(sw::kWrongData);
        file->data.assign((size_t(sizeTlv->value[0]) << 8) | sizeTlv->value[1], 0x00);
    } else if (fdb == 0x02 || fdb == 0x04) {
        file->type = FileType::Record;
    } else {
        return Error(sw::kFunctionNotSupported);
    }
    if (const TlvElement* attributes = FindTlv(*fcp, 0xAB))
        if (!ApplySecurityAttributes(*file, attributes->value))
            return Error(sw::kWrongData);
    if (file->fid == 0x3F00 || state.currentDf->Child(file->fid) != nullptr)
        return Error(sw::kFileExists);

    File& created = state.currentDf->AddChild(std::move(file));
    if (created.IsDf()) {
        state.EnterDf(&created);
        state.currentEf = nullptr;
    } else {
        state.currentEf = &created;
    }
    state.recordPointer = 0;
    return {};
}

Response DeleteFile(CardState& state, const Command& cmd)
{
    if (cmd.p1 != 0x00 && cmd.p1 != 0x02)
        return Error(sw::kWrongP1P2);
    File* target = ResolveTarget(state, cmd.data);
    if (target == nullptr || target->IsDf())
        return Error(sw::kFileNotFound);
    if (state.lifeCycle != kAdministrationLifeCycle)
        return Error(sw::kConditionsNotSatisfied);
    if (state.currentEf == target)
        state.currentEf = nullptr;
    auto& siblings = target->parent->children;
    siblings.erase(std::remove_if(siblings.begin(), siblings.end(),
                                  [target](const auto& child) { return child.get() == target; }),
                   siblings.end());
    return {};
}

Response DeactivateFile(CardState& state, const Command& cmd)
{
    if (cmd.p1 != 0x00 || cmd.p2 != 0x00)
        return Error(sw::kWrongP1P2);
    File* target = ResolveTarget(state, cmd.data);
    if (target == nullptr)
        return Error(sw::kFileNotFound);
    if (!state.AccessGranted(target->update))
        return Error(sw::kSecurityNotSatisfied);
    if (target->deactivated)
        return Error(sw::kDeactivated);
    target->deactivated = true;
    return {};
}

Response PutData(CardState& state, const Command& cmd)
{
    if (cmd.p1 != 0x01 || cmd.p2 != 0x62)
        return Error(sw::kReferenceNotFound);
    const auto outer = ParseTlvs(cmd.data);
    if (!outer || outer->size() != 1 || outer->front().tag != 0xAB)
        return Error(sw::kWrongData);
    File* file = state.currentEf != nullptr ? state.currentEf : state.currentDf;
    File updated = {};
    updated.read = file->read;
    updated.update = file->update;
    if (!ApplySecurityAttributes(updated, outer->front().value))
        return Error(sw::kWrongData);
    file->read = updated.read;
    file->update = updated.update;
    return {};
}

Response CardTransaction(CardState&, const Command& cmd)
{
    // Begin (80) and end (81) of a card-side transaction; writes are applied
    // immediately, so both only acknowledge.
    if (cmd.p1 != 0x00 || (cmd.p2 != 0x80 && cmd.p2 != 0x81) || !cmd.data.empty())
        return Error(sw::kWrongP1P2);
    return {};
}

}  // namespace cardsim::detail
