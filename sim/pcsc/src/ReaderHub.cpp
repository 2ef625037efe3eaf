// Reader set, cards, faults and transcripts: the control side of the hub.
#include "ReaderHub.h"

#include <cardsim/Card.h>
#include <cardsim/Personalisations.h>

#include <pthread.h>

#include <algorithm>
#include <new>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace cardsim::detail {

ReaderHub& ReaderHub::Instance()
{
    // Never destroyed: threads of the host (a PKCS#11 module's monitor, say)
    // may still call PC/SC functions while static objects are torn down.
    static ReaderHub* const hub = [] {
        auto* created = new ReaderHub();
        pthread_atfork(nullptr, nullptr, [] { Instance().RenewLocksAfterFork(); });
        return created;
    }();
    return *hub;
}

void ReaderHub::RenewLocksAfterFork()
{
    // The old objects are abandoned, not destroyed: destroying a locked mutex
    // or a condition variable with waiters is undefined.
    new (&mutex_) std::mutex();
    new (&changed_) std::condition_variable();
    lockWaiters_ = 0;
}

ReaderHub::ReaderHub()
{
    ConfigureFromEnvironment();
}

void ReaderHub::ConfigureFromEnvironment()
{
    const char* cards = std::getenv("CARDSIM_CARDS");
    const char* pin = std::getenv("CARDSIM_PINPAD_PIN");
    const std::string setting =
        cards != nullptr ? cards : std::string(kDefaultPersonalisation) + "@" + kDefaultReaderName;
    try {
        Configure(setting, pin != nullptr ? pin : "");
    } catch (const std::exception& e) {
        // No caller to report to: say why there are no readers.
        std::fprintf(stderr, "cardsim: CARDSIM_CARDS ignored: %s\n", e.what());
    }
}

void ReaderHub::Configure(const std::string& setting, const std::string& pinPadPin)
{
    // Build every card before touching the reader set, so that a bad setting
    // changes nothing.
    std::vector<std::shared_ptr<Reader>> readers;
    std::vector<std::shared_ptr<Icc>> cards;
    for (const ReaderSetting& entry : ParseCardsSetting(setting)) {
        auto reader = std::make_shared<Reader>();
        reader->name = entry.reader;
        reader->pinPad = entry.pinPad;
        reader->pinPadPin = pinPadPin;
        readers.push_back(reader);
        cards.push_back(entry.personalisation.empty()
                            ? nullptr
                            : MakeIcc(std::shared_ptr<Card>(MakePersonalisation(entry.personalisation))));
    }
    Lock lock(mutex_);
    while (!readers_.empty()) {
        DropReaderLocked(*readers_.back());
        readers_.pop_back();
    }
    readers_ = std::move(readers);
    for (size_t i = 0; i < readers_.size(); ++i) {
        if (cards[i] != nullptr) {
            InsertLocked(*readers_[i], cards[i]);
        }
    }
    changed_.notify_all();
}

std::shared_ptr<Reader> ReaderHub::FindReader(const std::string& name) const
{
    for (const auto& reader : readers_) {
        if (reader->name == name) {
            return reader;
        }
    }
    return nullptr;
}

Reader& ReaderHub::ReaderNamed(const std::string& name) const
{
    const auto reader = FindReader(name);
    if (reader == nullptr) {
        throw std::invalid_argument("no simulated reader named \"" + name + "\"");
    }
    return *reader;
}

void ReaderHub::AddReader(const std::string& name, PinPad pinPad)
{
    if (name.empty() || name.size() > kMaxReaderNameLength) {
        throw std::invalid_argument("reader name must have 1 to 127 bytes");
    }
    Lock lock(mutex_);
    if (FindReader(name) != nullptr) {
        throw std::invalid_argument("reader \"" + name + "\" exists already");
    }
    if (readers_.size() >= kMaxReaderSet) {
        throw std::length_error("at most 32 readers");
    }
    auto reader = std::make_shared<Reader>();
    reader->name = name;
    reader->pinPad = pinPad;
    readers_.push_back(std::move(reader));
    changed_.notify_all();
}

void ReaderHub::DropReaderLocked(Reader& reader)
{
    RemoveLocked(reader);
    reader.gone = true;
    reader.lockHolder = 0;
    reader.lockDepth = 0;
}

void ReaderHub::RemoveReader(const std::string& name)
{
    Lock lock(mutex_);
    Reader& reader = ReaderNamed(name);
    DropReaderLocked(reader);
    std::erase_if(readers_, [&](const auto& r) { return r.get() == &reader; });
    changed_.notify_all();
}

void ReaderHub::RemoveAllReaders()
{
    Lock lock(mutex_);
    for (const auto& reader : readers_) {
        DropReaderLocked(*reader);
    }
    readers_.clear();
    changed_.notify_all();
}

std::vector<std::string> ReaderHub::ReaderNames()
{
    Lock lock(mutex_);
    std::vector<std::string> names;
    for (const auto& reader : readers_) {
        names.push_back(reader->name);
    }
    return names;
}

void ReaderHub::InsertLocked(Reader& reader, std::shared_ptr<Icc> icc)
{
    RemoveLocked(reader);
    icc->Reset();
    if (reader.lastCard != nullptr && reader.lastCard->icc == icc) {
        reader.card = reader.lastCard;  // the same card again: its transcript goes on
    } else {
        reader.card = std::make_shared<InsertedCard>();
        reader.card->icc = std::move(icc);
    }
    reader.lastCard = reader.card;
    reader.insertion = nextInsertion_++;
    reader.resets = 0;
    ++reader.eventCounter;
}

std::shared_ptr<Icc> ReaderHub::RemoveLocked(Reader& reader)
{
    if (reader.card == nullptr) {
        return nullptr;
    }
    auto icc = reader.card->icc;
    reader.card = nullptr;
    reader.insertion = 0;
    ++reader.eventCounter;
    return icc;
}

void ReaderHub::Insert(const std::string& name, std::shared_ptr<Icc> icc)
{
    if (icc == nullptr) {
        throw std::invalid_argument("no card to insert");
    }
    Lock lock(mutex_);
    InsertLocked(ReaderNamed(name), std::move(icc));
    changed_.notify_all();
}

std::shared_ptr<Icc> ReaderHub::Remove(const std::string& name)
{
    Lock lock(mutex_);
    auto icc = RemoveLocked(ReaderNamed(name));
    changed_.notify_all();
    return icc;
}

std::shared_ptr<Icc> ReaderHub::IccIn(const std::string& name)
{
    Lock lock(mutex_);
    const Reader& reader = ReaderNamed(name);
    return reader.card != nullptr ? reader.card->icc : nullptr;
}

void ReaderHub::ScriptPinPad(const std::string& name, PinEntry entry)
{
    Lock lock(mutex_);
    ReaderNamed(name).pinScript.push_back(std::move(entry));
}

std::size_t ReaderHub::PendingPinPadEntries(const std::string& name)
{
    Lock lock(mutex_);
    return ReaderNamed(name).pinScript.size();
}

PinEntry ReaderHub::NextPinEntry(Reader& reader)
{
    if (!reader.pinScript.empty()) {
        PinEntry entry = std::move(reader.pinScript.front());
        reader.pinScript.pop_front();
        return entry;
    }
    std::string pin = reader.pinPadPin;
    if (pin.empty() && reader.card != nullptr) {
        pin = reader.card->icc->UserPin();
    }
    return PinEntry::Changing(pin, pin);
}

void ReaderHub::InjectFault(const std::string& name, Fault fault)
{
    if (fault.occurrence == 0) {
        throw std::invalid_argument("fault occurrence counts from 1");
    }
    Lock lock(mutex_);
    ReaderNamed(name).faults.push_back(FaultState{std::move(fault), 0});
}

void ReaderHub::FailNextCalls(ApiCall call, LONG error, unsigned times)
{
    Lock lock(mutex_);
    auto& queue = apiFailures_[call];
    queue.insert(queue.end(), times, error);
}

void ReaderHub::ClearFaults()
{
    Lock lock(mutex_);
    apiFailures_.clear();
    for (const auto& reader : readers_) {
        reader->faults.clear();
        reader->pinScript.clear();
    }
}

std::optional<LONG> ReaderHub::TakeApiFailure(ApiCall call)
{
    const auto it = apiFailures_.find(call);
    if (it == apiFailures_.end() || it->second.empty()) {
        return std::nullopt;
    }
    const LONG error = it->second.front();
    it->second.pop_front();
    return error;
}

std::optional<Fault> ReaderHub::TakeFault(Reader& reader, const Bytes& command)
{
    std::optional<Fault> fired;
    for (FaultState& state : reader.faults) {
        const Bytes& prefix = state.fault.commandPrefix;
        if (prefix.size() > command.size() ||
            !std::equal(prefix.begin(), prefix.end(), command.begin())) {
            continue;
        }
        ++state.seen;
        const bool due = state.seen == state.fault.occurrence ||
                         (state.fault.everyTime && state.seen > state.fault.occurrence);
        if (due && !fired) {
            fired = state.fault;
            state.spent = !state.fault.everyTime;
        }
    }
    std::erase_if(reader.faults, [](const FaultState& s) { return s.spent; });
    return fired;
}

ReaderHub::Exchange ReaderHub::SendToCard(Lock& lock, const std::shared_ptr<Reader>& reader,
                                          const Bytes& command, const std::string& call)
{
    const std::shared_ptr<InsertedCard> card = reader->card;
    const std::optional<Fault> fault = TakeFault(*reader, command);
    Exchange exchange;
    if (fault && fault->kind == Fault::Kind::TransmitError) {
        exchange.result = fault->error;
    } else if (fault && fault->kind == Fault::Kind::RemoveCard) {
        RemoveLocked(*reader);
        changed_.notify_all();
        exchange.result = SCARD_W_REMOVED_CARD;
    } else if (fault && fault->kind == Fault::Kind::Answer) {
        exchange.response = fault->bytes;
    } else {
        // The card is thread-safe; other readers go on while it works.
        lock.unlock();
        if (fault && fault->kind == Fault::Kind::Delay) {
            std::this_thread::sleep_for(fault->delay);
        }
        try {
            exchange.response = card->icc->Transmit(command);
        } catch (const std::exception&) {
            exchange.result = SCARD_F_COMM_ERROR;
        }
        lock.lock();
        // A card pulled (or replaced) while it worked never delivers its answer.
        if (reader->card != card) {
            exchange.response.clear();
            exchange.result = SCARD_W_REMOVED_CARD;
        }
        if (fault && fault->kind == Fault::Kind::StatusWord && exchange.response.size() >= 2 &&
            fault->bytes.size() == 2) {
            std::copy(fault->bytes.begin(), fault->bytes.end(), exchange.response.end() - 2);
        }
        if (fault && fault->kind == Fault::Kind::Oversized && exchange.response.size() >= 2) {
            const size_t data = exchange.response.size() - 2;
            const size_t grown = std::max(ExpectedLength(command), data) + 1;
            exchange.response.insert(exchange.response.end() - 2, grown - data, 0xA5);
        }
        if (fault && fault->kind == Fault::Kind::ChangedData && exchange.response.size() >= 2) {
            exchange.response.resize(exchange.response.size() - 2);
            exchange.response = ChangeData(std::move(exchange.response), fault->change);
            exchange.response.insert(exchange.response.end(), {0x90, 0x00});
        }
    }
    card->Record(TranscriptEntry{call, command, exchange.response, exchange.result});
    return exchange;
}

ReaderUse ReaderHub::UseOf(const std::string& name)
{
    Lock lock(mutex_);
    const Reader& reader = ReaderNamed(name);
    ReaderUse use;
    for (const auto& [id, handle] : handles_) {
        if (handle.reader.get() == &reader) {
            ++use.handles;
        }
    }
    use.transactionHeld = reader.lockHolder != 0;
    return use;
}

std::vector<TranscriptEntry> ReaderHub::Transcript(const std::string& name)
{
    Lock lock(mutex_);
    const Reader& reader = ReaderNamed(name);
    if (reader.lastCard == nullptr) {
        return {};
    }
    return {reader.lastCard->transcript.begin(), reader.lastCard->transcript.end()};
}

void ReaderHub::ClearTranscript(const std::string& name)
{
    Lock lock(mutex_);
    const Reader& reader = ReaderNamed(name);
    if (reader.lastCard != nullptr) {
        reader.lastCard->transcript.clear();
    }
}

}  // namespace cardsim::detail
