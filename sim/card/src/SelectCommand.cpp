#include "Commands.h"
#include "Tlv.h"

namespace cardsim::detail {

namespace {

constexpr uint16_t kMfFid = 0x3F00;

uint16_t FidAt(const Bytes& data, size_t pos)
{
    return uint16_t((data[pos] << 8) | data[pos + 1]);
}

// P1 00: the card's search order for a bare file identifier.
File* SearchByFid(const CardState& state, uint16_t fid)
{
    if (fid == kMfFid)
        return state.mf.get();
    File* df = state.currentDf;
    if (File* child = df->Child(fid))
        return child;
    if (df->fid == fid)
        return df;
    if (df->parent != nullptr) {
        if (df->parent->fid == fid)
            return df->parent;
        if (File* sibling = df->parent->Child(fid))
            return sibling;
    }
    return nullptr;
}

File* WalkPath(File* start, const Bytes& path, size_t pos)
{
    File* file = start;
    for (; pos < path.size(); pos += 2) {
        if (!file->IsDf())
            return nullptr;
        file = file->Child(FidAt(path, pos));
        if (file == nullptr)
            return nullptr;
    }
    return file;
}

}  // namespace

Response Select(CardState& state, const Command& cmd)
{
    const uint8_t answer = cmd.p2 & 0x0C;
    if ((cmd.p2 & 0xF3) != 0 || answer == 0x08)
        return Error(sw::kWrongP1P2);

    const Bytes& data = cmd.data;
    File* target = nullptr;
    switch (cmd.p1) {
    case 0x00:
        if (data.empty())
            target = state.mf.get();
        else if (data.size() != 2)
            return Error(sw::kLcInconsistent);
        else
            target = SearchByFid(state, FidAt(data, 0));
        break;
    case 0x01:
    case 0x02: {
        if (data.size() != 2)
            return Error(sw::kLcInconsistent);
        File* child = state.currentDf->Child(FidAt(data, 0));
        const bool wantDf = cmd.p1 == 0x01;
        if (child != nullptr && child->IsDf() == wantDf)
            target = child;
        break;
    }
    case 0x03:
        if (!data.empty())
            return Error(sw::kLcInconsistent);
        target = state.currentDf->parent;
        break;
    case 0x04:
        if (data.empty() || data.size() > 16)
            return Error(sw::kLcInconsistent);
        target = state.mf->FindByAid(data);
        break;
    case 0x08:
    case 0x09: {
        if (data.empty() || data.size() % 2 != 0)
            return Error(sw::kLcInconsistent);
        size_t pos = 0;
        if (cmd.p1 == 0x08 && state.options.acceptMfInPathFromMf && FidAt(data, 0) == kMfFid)
            pos = 2;
        target = WalkPath(cmd.p1 == 0x08 ? state.mf.get() : state.currentDf, data, pos);
        break;
    }
    default:
        return Error(sw::kWrongP1P2);
    }
    if (target == nullptr)
        return Error(sw::kFileNotFound);

    if (target->IsDf()) {
        state.EnterDf(target);
        state.currentEf = nullptr;
    } else {
        state.EnterDf(target->parent);
        state.currentEf = target;
    }
    state.recordPointer = 0;

    Response response;
    if (answer != 0x0C && !target->fcpEmptyOnRequest)
        response.data = Tlv(answer == 0x04 ? 0x62 : 0x6F, target->Fcp());
    if (target->deactivated)
        response.sw = sw::kDeactivated;
    return response;
}

}  // namespace cardsim::detail
