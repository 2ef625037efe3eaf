#pragma once
// Fails each card command of an operation in turn, with each kind of fault a
// reader or card shows in the field, and checks what the module makes of it:
// an error code the call may answer (never CKR_OK with a wrong result), no
// card transaction or card handle left behind, no PIN try and no card data
// spent unless a command that spends them reached the card, and the same
// operation working again afterwards.

#include <gtest/gtest.h>

#include <cardsim/Card.h>
#include <cardsim/Personalisations.h>
#include <cardsim/Readers.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pkcs11/cryptoki.h"

class QueuedPinDialogScript;

namespace faults {

struct FaultKind {
    // Which answers a kind can change.
    enum class Hits { Any, Success, SuccessWithData };
    const char* name;
    cardsim::Fault (*make)(unsigned command);
    bool reachesCard;  // the faulted command is still carried out by the card
    // Changes the data of an answer the card gave with 90 00 (and keeps
    // 90 00): only commands the fault-free run saw answered so are hit.
    Hits hits = Hits::Any;
};
const std::vector<FaultKind>& FaultKinds();

// One call of an operation.
struct CallResult {
    CallResult(std::string label, std::string function, CK_RV rv, std::string output = {})
        : label(std::move(label)), function(std::move(function)), rv(rv), output(std::move(output)) {}
    std::string label;     // what the call was for, unique within a run
    std::string function;  // the export (or card-layer routine) that answered
    CK_RV rv = CKR_OK;
    std::string output;    // what it produced, compared with the fault-free run
    std::string problem;   // a broken promise the operation saw itself
    // The module checks this result against the card (a signature, an
    // answer under secure messaging): changed card data must never pass it.
    // Other results pass the card's plain data on as the card gave it.
    bool checked = false;
};
using Outcome = std::vector<CallResult>;

// The library on one simulated reader with one card, the reader monitor
// running; card loads can be waited for.
class Bench {
public:
    explicit Bench(std::string reader, cardsim::PinPad pinPad = cardsim::PinPad::None);
    ~Bench();
    Bench(const Bench&) = delete;
    Bench& operator=(const Bench&) = delete;

    const std::string& Reader() const { return reader_; }
    std::shared_ptr<cardsim::Card> Card() const { return card_; }
    // A new card, put into the reader only by Insert().
    void UseCard(std::shared_ptr<cardsim::Card> card) { card_ = std::move(card); }
    // Puts the card into the reader and waits until the monitor has tried to
    // load it and has settled; the slot, 0 when the card got none.
    CK_SLOT_ID Insert();
    // Puts a pulled card back: false when the running library gives it no slot.
    bool PutBack();
    // Takes the card out and waits until the module has let it go.
    void Pull();
    // Waits until the monitor (which tries again after a failed load) gives
    // the card a slot; 0 when it does not within a generous time.
    CK_SLOT_ID WaitForSlot();
    CK_SLOT_ID Slot() const;  // 0 when none
    // Waits for the loads begun so far to end; false on a hang.
    bool Settle();
    // Whether another card handle could begin a transaction at once.
    bool CardFree() const;

private:
    class LoadWatch;
    std::string reader_;
    std::shared_ptr<cardsim::Card> card_;
    std::shared_ptr<LoadWatch> watch_;
    std::shared_ptr<QueuedPinDialogScript> dialogs_;
};

// One operation under the sweep.
class Operation {
public:
    explicit Operation(Bench& bench) : bench_(bench) {}
    virtual ~Operation() = default;
    // Brings the module to where the operation starts (session, login); runs
    // again on the re-inserted card after a pull.
    virtual void Prepare() {}
    virtual void Reset() {}  // before every run, outside the faults
    virtual Outcome Run() = 0;
    // The run after a faulted one, with the card still in the reader.
    virtual Outcome RunAgain() { return Reset(), Run(); }

    Bench& TheBench() const { return bench_; }
    // The card commands of the last run up to CloseFaultWindow() (or all).
    std::vector<cardsim::TranscriptEntry> TakeWindow();

protected:
    // Ends the part of the run that faults may hit: what follows only
    // observes the result (and may send commands of its own).
    const std::vector<cardsim::TranscriptEntry>& CloseFaultWindow();
    Bench& bench_;

private:
    std::optional<std::vector<cardsim::TranscriptEntry>> window_;
};

// A result the module gives by design although the sweep's checks call it
// wrong: calls whose label starts with `label`, when the fault hits a command
// starting with `command` (empty: any) and, when `output` is given, the call
// gives that. Such runs pass and are counted.
struct Kept {
    std::string label;
    cardsim::Bytes command;
    std::string output;
    std::string why;
};

// The fault-free run, then one run per card command and fault kind. Every
// broken check is reported with ADD_FAILURE(); a summary line is printed.
void Sweep(const std::string& name, Operation& operation, const std::vector<Kept>& kept = {});

// --- helpers for operations ---
std::string Hex(const void* data, size_t length);
inline std::string Hex(const std::vector<uint8_t>& bytes) { return Hex(bytes.data(), bytes.size()); }
CK_SESSION_HANDLE OpenSession(CK_SLOT_ID slot);
CK_RV LogIn(CK_SESSION_HANDLE session, std::string pin);
// Handles of the objects of the class, in search order.
std::vector<CK_OBJECT_HANDLE> FindAll(CK_SESSION_HANDLE session, CK_OBJECT_CLASS cls);
// The token information as text, without the session counts.
std::string TokenText(CK_TOKEN_INFO info);
// Everything a loaded card shows: token information, and every attribute
// of every object as a fault-free caller sees it.
std::string TokenFingerprint(CK_SLOT_ID slot);
// Each attribute type the walks ask every object for.
const std::vector<CK_ATTRIBUTE_TYPE>& AllAttributeTypes();
// One attribute's value as hex, or its length when the call gives no value.
std::string AttributeValue(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type, CK_RV& rv);

}  // namespace faults
