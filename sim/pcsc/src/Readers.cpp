// The control interface: thin forwarding to the hub, plus the small value
// helpers of Readers.h.
#include "ReaderHub.h"

#include <cardsim/Card.h>
#include <cardsim/Personalisations.h>

#include <cstdio>

namespace cardsim {

using detail::ReaderHub;

PinEntry PinEntry::Typing(std::string pin)
{
    PinEntry entry;
    entry.pin = std::move(pin);
    return entry;
}

PinEntry PinEntry::Changing(std::string oldPin, std::string newPin)
{
    PinEntry entry;
    entry.pin = std::move(oldPin);
    entry.newPin = std::move(newPin);
    return entry;
}

PinEntry PinEntry::Cancelled()
{
    PinEntry entry;
    entry.kind = Kind::Cancel;
    return entry;
}

PinEntry PinEntry::TimedOut()
{
    PinEntry entry;
    entry.kind = Kind::Timeout;
    return entry;
}

PinEntry PinEntry::Mismatched(std::string oldPin, std::string newPin)
{
    PinEntry entry = Changing(std::move(oldPin), std::move(newPin));
    entry.kind = Kind::MismatchedConfirmation;
    return entry;
}

Fault Fault::TransmitError(LONG error, unsigned occurrence)
{
    Fault fault;
    fault.kind = Kind::TransmitError;
    fault.error = error;
    fault.occurrence = occurrence;
    return fault;
}

Fault Fault::RemoveCardBefore(unsigned occurrence)
{
    Fault fault;
    fault.kind = Kind::RemoveCard;
    fault.occurrence = occurrence;
    return fault;
}

Fault Fault::AnswerWith(Bytes commandPrefix, Bytes answer, unsigned occurrence)
{
    Fault fault;
    fault.kind = Kind::Answer;
    fault.commandPrefix = std::move(commandPrefix);
    fault.bytes = std::move(answer);
    fault.occurrence = occurrence;
    return fault;
}

Fault Fault::OneByteAnswer(unsigned occurrence, uint8_t byte)
{
    return AnswerWith({}, {byte}, occurrence);
}

Fault Fault::StatusWordFor(Bytes commandPrefix, uint8_t sw1, uint8_t sw2, unsigned occurrence)
{
    Fault fault;
    fault.kind = Kind::StatusWord;
    fault.commandPrefix = std::move(commandPrefix);
    fault.bytes = {sw1, sw2};
    fault.occurrence = occurrence;
    return fault;
}

Fault Fault::DelayBy(std::chrono::milliseconds delay, unsigned occurrence)
{
    Fault fault;
    fault.kind = Kind::Delay;
    fault.delay = delay;
    fault.occurrence = occurrence;
    return fault;
}

Fault Fault::OversizedAnswer(unsigned occurrence, Bytes commandPrefix)
{
    Fault fault;
    fault.kind = Kind::Oversized;
    fault.commandPrefix = std::move(commandPrefix);
    fault.occurrence = occurrence;
    return fault;
}

Fault Fault::ChangedAnswer(DataChange change, unsigned occurrence, Bytes commandPrefix)
{
    Fault fault;
    fault.kind = Kind::ChangedData;
    fault.change = change;
    fault.commandPrefix = std::move(commandPrefix);
    fault.occurrence = occurrence;
    return fault;
}

Bytes ChangeData(Bytes data, Fault::DataChange change)
{
    switch (change) {
    case Fault::DataChange::CutShort:
        data.resize(data.size() / 2);
        break;
    case Fault::DataChange::Lengthened:
        data.insert(data.end(), 8, 0x5A);
        break;
    case Fault::DataChange::BitsFlipped:
        if (!data.empty()) {
            data[data.size() / 3] ^= 0x01;
            data[data.size() * 2 / 3] ^= 0x80;
        }
        break;
    }
    return data;
}

std::string ToHex(const Bytes& bytes)
{
    std::string text;
    char digits[4];
    for (const uint8_t byte : bytes) {
        std::snprintf(digits, sizeof digits, text.empty() ? "%02X" : " %02X", byte);
        text += digits;
    }
    return text;
}

std::string ToString(const TranscriptEntry& entry)
{
    std::string text = entry.call + ": > " + ToHex(entry.command) + " < " + ToHex(entry.response);
    if (entry.result != SCARD_S_SUCCESS) {
        char code[32];
        std::snprintf(code, sizeof code, " [0x%08lX]", static_cast<unsigned long>(entry.result));
        text += code;
    }
    return text;
}

void Configure(const std::string& cardsSetting, const std::string& pinPadPin)
{
    ReaderHub::Instance().Configure(cardsSetting, pinPadPin);
}

void AddReader(const std::string& name, PinPad pinPad)
{
    ReaderHub::Instance().AddReader(name, pinPad);
}

void RemoveReader(const std::string& name)
{
    ReaderHub::Instance().RemoveReader(name);
}

void RemoveAllReaders()
{
    ReaderHub::Instance().RemoveAllReaders();
}

std::vector<std::string> ReaderNames()
{
    return ReaderHub::Instance().ReaderNames();
}

std::shared_ptr<Card> InsertCard(const std::string& reader, const std::string& personalisation)
{
    std::shared_ptr<Card> card = MakePersonalisation(personalisation);
    InsertCard(reader, card);
    return card;
}

void InsertCard(const std::string& reader, std::shared_ptr<Card> card)
{
    ReaderHub::Instance().Insert(reader, MakeIcc(std::move(card)));
}

void InsertIcc(const std::string& reader, std::shared_ptr<Icc> icc)
{
    ReaderHub::Instance().Insert(reader, std::move(icc));
}

std::shared_ptr<Icc> RemoveCard(const std::string& reader)
{
    return ReaderHub::Instance().Remove(reader);
}

std::shared_ptr<Card> CardIn(const std::string& reader)
{
    return CardBehind(ReaderHub::Instance().IccIn(reader));
}

std::shared_ptr<Icc> IccIn(const std::string& reader)
{
    return ReaderHub::Instance().IccIn(reader);
}

void ScriptPinPad(const std::string& reader, PinEntry entry)
{
    ReaderHub::Instance().ScriptPinPad(reader, std::move(entry));
}

std::size_t PendingPinPadEntries(const std::string& reader)
{
    return ReaderHub::Instance().PendingPinPadEntries(reader);
}

void InjectFault(const std::string& reader, Fault fault)
{
    ReaderHub::Instance().InjectFault(reader, std::move(fault));
}

void FailNextCalls(ApiCall call, LONG error, unsigned times)
{
    ReaderHub::Instance().FailNextCalls(call, error, times);
}

void ClearFaults()
{
    ReaderHub::Instance().ClearFaults();
}

ReaderUse UseOf(const std::string& reader)
{
    return ReaderHub::Instance().UseOf(reader);
}

std::vector<TranscriptEntry> Transcript(const std::string& reader)
{
    return ReaderHub::Instance().Transcript(reader);
}

void ClearTranscript(const std::string& reader)
{
    ReaderHub::Instance().ClearTranscript(reader);
}

}  // namespace cardsim
