#include <cardsim/Card.h>

#include "Apdu.h"
#include "CardState.h"
#include "Commands.h"

#include <stdexcept>

namespace cardsim {

using detail::CardState;

Card::Card(std::unique_ptr<CardState> state) : state_(std::move(state))
{
    state_->ResetVolatile();
}

Card::~Card() = default;

std::string Card::Name() const
{
    std::lock_guard lock(mutex_);
    return state_->name;
}

CardOs Card::Os() const
{
    std::lock_guard lock(mutex_);
    return state_->os;
}

Bytes Card::Atr() const
{
    std::lock_guard lock(mutex_);
    return state_->atr;
}

void Card::Reset()
{
    std::lock_guard lock(mutex_);
    state_->ResetVolatile();
}

Bytes Card::Transmit(const Bytes& apdu)
{
    std::lock_guard lock(mutex_);
    if (state_->mute)
        return detail::Status(detail::sw::kNoInformation);
    const auto cmd = detail::ParseCommand(apdu);
    if (!cmd)
        return detail::Status(detail::sw::kWrongLength);
    if (cmd->extended && !state_->options.extendedLength)
        return detail::Status(detail::sw::kWrongLength);
    if ((cmd->cla & 0x0C) != 0x0C) {
        if (state_->options.plainCommandEndsSecureMessaging)
            state_->secureMessaging.reset();
        const detail::Response response = detail::Execute(*state_, *cmd);
        return detail::Respond(response.data, response.sw);
    }
    if (!state_->secureMessaging)
        return detail::Status(detail::sw::kSmNotSupported);
    // The answer goes out under the keys the command came in with, even when
    // the command itself opened a new session.
    detail::SmSession session = *state_->secureMessaging;
    const auto plain = detail::UnwrapCommand(session, *cmd);
    if (!plain) {
        state_->secureMessaging.reset();
        return detail::Status(detail::sw::kSmObjectsIncorrect);
    }
    *state_->secureMessaging = session;
    const detail::Response response = detail::Execute(*state_, *plain);
    const Bytes wrapped = detail::WrapResponse(session, response.data, response.sw);
    if (state_->secureMessaging && state_->secureMessaging->kEnc == session.kEnc)
        state_->secureMessaging->ssc = session.ssc;
    return wrapped;
}

CardOptions Card::Options() const
{
    std::lock_guard lock(mutex_);
    return state_->options;
}

void Card::SetOptions(const CardOptions& options)
{
    std::lock_guard lock(mutex_);
    state_->options = options;
}

std::string Card::UserPin() const
{
    std::lock_guard lock(mutex_);
    for (const auto& pin : state_->pins)
        if (pin.reference == 0x01)
            return pin.text;
    return {};
}

std::optional<PinStatus> Card::Pin(uint8_t reference) const
{
    std::lock_guard lock(mutex_);
    for (const auto& pin : state_->pins) {
        if (pin.reference != reference)
            continue;
        PinStatus status;
        status.reference = pin.reference;
        status.retriesLeft = pin.retriesLeft;
        status.retryMax = pin.retryMax;
        status.blocked = pin.retriesLeft == 0;
        status.usable = pin.usable;
        status.verified = pin.verified;
        return status;
    }
    return std::nullopt;
}

void Card::SetPinRetriesLeft(uint8_t reference, int retriesLeft)
{
    std::lock_guard lock(mutex_);
    for (auto& pin : state_->pins) {
        if (pin.reference == reference) {
            pin.retriesLeft = std::max(0, std::min(retriesLeft, pin.retryMax));
            if (pin.retriesLeft == 0)
                pin.verified = false;
        }
    }
}

Bytes Card::SecurityStatus() const
{
    std::lock_guard lock(mutex_);
    Bytes refs;
    for (const auto& pin : state_->pins)
        if (pin.verified)
            refs.push_back(pin.reference);
    return refs;
}

uint8_t Card::LifeCycle() const
{
    std::lock_guard lock(mutex_);
    return state_->lifeCycle;
}

Bytes Card::CurrentDfPath() const
{
    std::lock_guard lock(mutex_);
    return state_->currentDf->Path();
}

std::optional<uint16_t> Card::CurrentEf() const
{
    std::lock_guard lock(mutex_);
    if (state_->currentEf == nullptr)
        return std::nullopt;
    return state_->currentEf->fid;
}

EnvironmentStatus Card::Environment() const
{
    std::lock_guard lock(mutex_);
    return {state_->se.signatureKey, state_->se.decipherKey};
}

bool Card::SecureMessagingActive() const
{
    std::lock_guard lock(mutex_);
    return state_->secureMessaging.has_value();
}

void Card::SetApplicationContainerKeys(const Bytes& authenticationKey, const Bytes& derivationKey)
{
    if ((authenticationKey.size() != 16 && authenticationKey.size() != 24) ||
        (derivationKey.size() != 16 && derivationKey.size() != 24))
        throw std::invalid_argument("application-container keys must have 16 or 24 bytes");
    std::lock_guard lock(mutex_);
    state_->applicationContainerKey = authenticationKey;
    state_->sessionKeyDerivationKey = derivationKey;
}

std::optional<Bytes> Card::FileContents(const Bytes& path) const
{
    std::lock_guard lock(mutex_);
    const detail::File* file = state_->Resolve(path);
    if (file == nullptr || file->type != detail::FileType::Transparent)
        return std::nullopt;
    return file->data;
}

std::optional<std::vector<Bytes>> Card::Records(const Bytes& path) const
{
    std::lock_guard lock(mutex_);
    const detail::File* file = state_->Resolve(path);
    if (file == nullptr || file->type != detail::FileType::Record)
        return std::nullopt;
    return file->records;
}

const Botan::RSA_PrivateKey* Card::Key(const Bytes& dfPath, uint8_t keyReference) const
{
    std::lock_guard lock(mutex_);
    detail::File* df = state_->Resolve(dfPath);
    if (df == nullptr || !df->IsDf())
        return nullptr;
    const detail::RsaKeyObject* key = df->FindKey(keyReference);
    return key != nullptr ? key->key.get() : nullptr;
}

}  // namespace cardsim
