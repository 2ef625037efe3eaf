// Control interface of the simulated PC/SC readers: what a test (or a person
// at the desk) does to the readers while an application uses the PC/SC API.
//
// The reader set is configured from CARDSIM_CARDS on first use (first PC/SC
// call or first call of this interface); every function here is thread-safe
// and may be called while other threads are inside PC/SC calls.
#pragma once

#include <cardsim/Icc.h>

#include <winscard.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace cardsim {

inline constexpr const char* kDefaultReaderName = "Simulated Reader 00";
// Readers whose configured name starts with this have a PIN pad.
inline constexpr const char* kPinPadReaderPrefix = "PIN pad";
// One SCardGetStatusChange call takes at most this many reader states, as
// in pcsc-lite.
inline constexpr std::size_t kMaxReaders = 16;
// The simulated service serves up to this many readers: more than one status
// call can watch.
inline constexpr std::size_t kMaxReaderSet = 32;
inline constexpr std::size_t kMaxReaderNameLength = 127;

// PIN pad variants, by the PC/SC part 10 features the reader announces.
enum class PinPad {
    None,              // no features (empty feature list)
    Direct,            // VERIFY_PIN_DIRECT, MODIFY_PIN_DIRECT
    StartFinish,       // VERIFY/MODIFY_PIN_START and _FINISH
    VerifyDirectOnly,  // VERIFY_PIN_DIRECT alone
    ManyFeatures,      // twelve features (72 bytes): all of the above and more
};

// One keypad interaction of the simulated user.
struct PinEntry {
    enum class Kind { Digits, Cancel, Timeout, MismatchedConfirmation };
    Kind kind = Kind::Digits;
    std::string pin;     // typed for a verify; the current PIN for a modify
    std::string newPin;  // the new PIN for a modify (typed and confirmed)
    std::chrono::milliseconds delay{0};  // time the user takes

    static PinEntry Typing(std::string pin);
    static PinEntry Changing(std::string oldPin, std::string newPin);
    static PinEntry Cancelled();
    static PinEntry TimedOut();
    static PinEntry Mismatched(std::string oldPin, std::string newPin);
};

// A fault injected into the command APDUs of one reader (SCardTransmit and
// the APDUs a PIN pad sends). Faults count the commands that match from the
// moment they are injected.
struct Fault {
    enum class Kind {
        TransmitError,  // the call fails with `error`; the card sees nothing
        RemoveCard,     // the card is pulled before the command reaches it
        Answer,         // `bytes` is the whole answer; the card sees nothing
        StatusWord,     // the card runs the command; its SW becomes `bytes`
        Delay,          // the answer comes `delay` late
        Oversized,      // the card runs the command; its answer carries more
                        // data than the command's Le asks for (and than the
                        // card gave): filler bytes before the status word
        ChangedData,    // the card runs the command; its data is changed by
                        // `change` and the status word becomes 90 00
    };
    // How a ChangedData fault changes the card's data.
    enum class DataChange {
        CutShort,     // the second half is lost (one byte: none left)
        Lengthened,   // eight filler bytes follow it
        BitsFlipped,  // two bits flipped, at a third and two thirds of it
    };
    Kind kind = Kind::TransmitError;
    Bytes commandPrefix;     // matches commands starting with it; empty: all
    unsigned occurrence = 1; // acts on the n-th matching command (1: next)
    bool everyTime = false;  // keeps acting on every later match
    LONG error = SCARD_F_COMM_ERROR;
    Bytes bytes;
    std::chrono::milliseconds delay{0};
    DataChange change = DataChange::CutShort;

    static Fault TransmitError(LONG error, unsigned occurrence = 1);
    static Fault RemoveCardBefore(unsigned occurrence);
    static Fault AnswerWith(Bytes commandPrefix, Bytes answer, unsigned occurrence = 1);
    static Fault OneByteAnswer(unsigned occurrence = 1, uint8_t byte = 0x90);
    static Fault StatusWordFor(Bytes commandPrefix, uint8_t sw1, uint8_t sw2,
                               unsigned occurrence = 1);
    static Fault DelayBy(std::chrono::milliseconds delay, unsigned occurrence = 1);
    static Fault OversizedAnswer(unsigned occurrence = 1, Bytes commandPrefix = {});
    static Fault ChangedAnswer(DataChange change, unsigned occurrence = 1, Bytes commandPrefix = {});
};

// The data of an answer as a ChangedData fault leaves it.
Bytes ChangeData(Bytes data, Fault::DataChange change);

// PC/SC calls whose next results can be forced to an error.
enum class ApiCall {
    EstablishContext, ListReaders, GetStatusChange, Connect, Reconnect,
    Status, BeginTransaction, Transmit, Control,
};

// One exchange with a card, as it happened.
struct TranscriptEntry {
    std::string call;  // "SCardTransmit", "SCardControl VERIFY_PIN_DIRECT", ...
    Bytes command;     // the APDU (a PIN pad's APDU includes the PIN bytes)
    Bytes response;    // what the caller received
    LONG result = SCARD_S_SUCCESS;
};
std::string ToString(const TranscriptEntry& entry);
// A card's transcript keeps only its most recent exchanges, so a long-running
// simulation does not grow without bound.
inline constexpr std::size_t kTranscriptLength = 4096;
std::string ToHex(const Bytes& bytes);  // "00 A4 00 0C"

// One reader of a CARDSIM_CARDS setting.
struct ReaderSetting {
    std::string reader;
    std::string personalisation;  // empty: the reader starts empty
    PinPad pinPad = PinPad::None;
};
// Parses "<personalisation>[@<reader name>],..." (see the README). Throws
// std::invalid_argument with a readable reason for a malformed setting.
std::vector<ReaderSetting> ParseCardsSetting(const std::string& setting);

// --- reader set ---
// Replaces all readers by the ones of a CARDSIM_CARDS setting; PIN pads type
// `pinPadPin` when not empty, else the card's user PIN. Throws
// std::invalid_argument (bad setting or unknown personalisation); the reader
// set is unchanged then.
void Configure(const std::string& cardsSetting, const std::string& pinPadPin = {});
// Throws std::invalid_argument for an empty, too long or taken name and
// std::length_error beyond kMaxReaderSet. Functions taking a reader name throw
// std::invalid_argument for a name that is not in the set.
void AddReader(const std::string& name, PinPad pinPad = PinPad::None);
void RemoveReader(const std::string& name);
void RemoveAllReaders();
std::vector<std::string> ReaderNames();

// --- cards ---
// Inserting into an occupied reader removes the card in it first. A card
// keeps its state (retry counters, files) across removal and re-insertion;
// insertion resets it like a power-on.
std::shared_ptr<Card> InsertCard(const std::string& reader, const std::string& personalisation);
void InsertCard(const std::string& reader, std::shared_ptr<Card> card);
void InsertIcc(const std::string& reader, std::shared_ptr<Icc> icc);
// Returns the removed card (null when the reader was empty).
std::shared_ptr<Icc> RemoveCard(const std::string& reader);
// The card in the reader, null when empty (or not a card model).
std::shared_ptr<Card> CardIn(const std::string& reader);
std::shared_ptr<Icc> IccIn(const std::string& reader);

// --- PIN pad ---
// Queues what the user does at the next keypad request of that reader. With
// an empty queue the user types the default PIN (and keeps it on a change).
void ScriptPinPad(const std::string& reader, PinEntry entry);
std::size_t PendingPinPadEntries(const std::string& reader);

// --- faults ---
void InjectFault(const std::string& reader, Fault fault);
// The next `times` calls of `call` (any context or handle) answer `error`.
void FailNextCalls(ApiCall call, LONG error, unsigned times = 1);
// Drops all faults, pending call failures and queued PIN pad entries.
void ClearFaults();

// --- what the tests look at ---
// Card handles connected to a reader (those of a removed card included,
// until they are disconnected) and whether one of them holds the reader's
// transaction.
struct ReaderUse {
    std::size_t handles = 0;
    bool transactionHeld = false;
};
ReaderUse UseOf(const std::string& reader);

// --- transcript of the card in (or last removed from) a reader ---
std::vector<TranscriptEntry> Transcript(const std::string& reader);
void ClearTranscript(const std::string& reader);

}  // namespace cardsim
