#include "CardState.h"

#include "Tlv.h"

#include <algorithm>

namespace cardsim::detail {

namespace {

Bytes Fid(uint16_t fid)
{
    return {uint8_t(fid >> 8), uint8_t(fid & 0xFF)};
}

// Life-cycle status byte of the FCP: 05 operational (activated), 04 deactivated.
Bytes LifeCycleTlv(bool deactivated)
{
    return Tlv(0x8A, {uint8_t(deactivated ? 0x04 : 0x05)});
}

}  // namespace

File* File::Child(uint16_t childFid) const
{
    for (const auto& child : children)
        if (child->fid == childFid)
            return child.get();
    return nullptr;
}

File* File::FindByAid(const Bytes& name)
{
    if (IsDf() && !aid.empty() && aid == name)
        return this;
    for (const auto& child : children)
        if (File* found = child->FindByAid(name))
            return found;
    return nullptr;
}

RsaKeyObject* File::FindKey(uint8_t reference)
{
    for (RsaKeyObject& key : keys)
        if (key.reference == reference)
            return &key;
    return nullptr;
}

File& File::AddChild(std::unique_ptr<File> child)
{
    child->parent = this;
    children.push_back(std::move(child));
    return *children.back();
}

size_t File::RecordSize() const
{
    size_t largest = 0;
    for (const Bytes& record : records)
        largest = std::max(largest, record.size());
    return largest;
}

Bytes File::Fcp() const
{
    Bytes body;
    switch (type) {
    case FileType::Transparent:
        body = Concat({Tlv(0x80, Fid(uint16_t(std::min<size_t>(data.size(), 0xFFFF)))),
                       Tlv(0x82, {0x01})});
        break;
    case FileType::Record: {
        const size_t count = std::min<size_t>(records.size(), 0xFFFF);
        const size_t maxRecord = std::max<size_t>(RecordSize(), 0xFF);
        body = Tlv(0x82, {0x04, 0x41, uint8_t(maxRecord >> 8), uint8_t(maxRecord & 0xFF),
                          uint8_t(count >> 8), uint8_t(count & 0xFF)});
        break;
    }
    case FileType::Df:
        body = Tlv(0x82, {0x38});
        break;
    }
    if (!fcpWithoutFid)
        body = Concat({body, Tlv(0x83, Fid(fid))});
    if (IsDf() && !aid.empty())
        body = Concat({body, Tlv(0x84, aid)});
    return Concat({body, LifeCycleTlv(deactivated)});
}

Bytes File::Path() const
{
    Bytes path = parent ? parent->Path() : Bytes{};
    path.push_back(uint8_t(fid >> 8));
    path.push_back(uint8_t(fid & 0xFF));
    return path;
}

CardState::CardState() = default;
CardState::~CardState() = default;

void CardState::ResetVolatile()
{
    currentDf = mf.get();
    currentEf = nullptr;
    recordPointer = 0;
    se = {};
    challengeRng.reset();
    secureMessaging.reset();
    lastChallenge.clear();
    for (PinObject& pin : pins)
        pin.verified = false;
    std::vector<File*> pending{mf.get()};
    while (!pending.empty()) {
        File* file = pending.back();
        pending.pop_back();
        for (RsaKeyObject& key : file->keys)
            key.operationsSinceVerify = 0;
        for (const auto& child : file->children)
            pending.push_back(child.get());
    }
}

PinObject* CardState::FindPin(uint8_t reference)
{
    for (PinObject& pin : pins) {
        if (pin.reference != reference)
            continue;
        if (pin.owner == nullptr)
            return &pin;
        // A local PIN is visible from its DF and everything below it.
        for (const File* df = currentDf; df != nullptr; df = df->parent)
            if (df == pin.owner)
                return &pin;
    }
    return nullptr;
}

bool CardState::PinVerified(uint8_t reference) const
{
    for (const PinObject& pin : pins)
        if (pin.reference == reference && pin.verified)
            return true;
    return false;
}

bool CardState::AccessGranted(const Access& access) const
{
    switch (access.kind) {
    case Access::Kind::Always:
        return true;
    case Access::Kind::Never:
        return false;
    case Access::Kind::Pin:
        return PinVerified(access.pinReference);
    }
    return false;
}

void CardState::EnterDf(File* df)
{
    if (df == currentDf)
        return;
    se = {};
    currentDf = df;
    for (PinObject& pin : pins) {
        if (pin.owner == nullptr || !pin.verified)
            continue;
        bool onPath = false;
        for (const File* f = currentDf; f != nullptr; f = f->parent)
            onPath = onPath || f == pin.owner;
        if (!onPath)
            pin.verified = false;
    }
}

File* CardState::Resolve(const Bytes& pathFromMf) const
{
    if (pathFromMf.size() % 2 != 0)
        return nullptr;
    File* file = mf.get();
    size_t pos = 0;
    if (pathFromMf.size() >= 2 && pathFromMf[0] == 0x3F && pathFromMf[1] == 0x00)
        pos = 2;
    for (; pos < pathFromMf.size(); pos += 2) {
        if (!file->IsDf())
            return nullptr;
        file = file->Child(uint16_t((pathFromMf[pos] << 8) | pathFromMf[pos + 1]));
        if (file == nullptr)
            return nullptr;
    }
    return file;
}

}  // namespace cardsim::detail
