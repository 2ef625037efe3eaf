// Process-wide state of the simulated readers: readers, inserted cards,
// contexts, card handles, transaction locks, faults and transcripts, all under
// one mutex. The PC/SC functions and the control interface both work on it.
#pragma once

#include <cardsim/Readers.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace cardsim::detail {

struct InsertedCard {
    std::shared_ptr<Icc> icc;
    std::deque<TranscriptEntry> transcript;  // the last kTranscriptLength exchanges

    void Record(TranscriptEntry entry)
    {
        if (transcript.size() == kTranscriptLength) {
            transcript.pop_front();
        }
        transcript.push_back(std::move(entry));
    }
};

struct FaultState {
    Fault fault;
    unsigned seen = 0;
    bool spent = false;
};

struct Reader {
    std::string name;
    PinPad pinPad = PinPad::None;
    std::string pinPadPin;  // typed when nothing is scripted (empty: card's PIN)
    std::shared_ptr<InsertedCard> card;
    std::shared_ptr<InsertedCard> lastCard;  // for the transcript after removal
    uint16_t eventCounter = 0;  // +1 on every insertion and removal
    uint64_t insertion = 0;     // id of the current insertion, 0 when empty
    uint64_t resets = 0;        // card resets since the insertion
    long lockHolder = 0;        // card handle owning the transaction, 0: free
    unsigned lockDepth = 0;
    bool gone = false;          // removed from the reader set
    std::deque<PinEntry> pinScript;
    std::vector<FaultState> faults;
};

struct Context {
    bool cancelRequested = false;
    unsigned waiting = 0;
};

struct PendingPinRequest {
    uint8_t feature = 0;  // FEATURE_VERIFY_PIN_START or FEATURE_MODIFY_PIN_START
    Bytes structure;
};

struct Handle {
    long context = 0;
    std::shared_ptr<Reader> reader;
    uint64_t insertion = 0;
    uint64_t resets = 0;
    bool exclusive = false;
    std::optional<PendingPinRequest> pendingPin;
};

class ReaderHub {
public:
    // The hub of this process; configured from the environment on first use.
    static ReaderHub& Instance();

    // --- PC/SC calls (same arguments and results as pcsc-lite) ---
    LONG EstablishContext(DWORD scope, LPSCARDCONTEXT context);
    LONG ReleaseContext(SCARDCONTEXT context);
    LONG IsValidContext(SCARDCONTEXT context);
    LONG Cancel(SCARDCONTEXT context);
    LONG ListReaders(SCARDCONTEXT context, LPSTR readers, LPDWORD length);
    LONG GetStatusChange(SCARDCONTEXT context, DWORD timeout, SCARD_READERSTATE* states,
                         DWORD count);
    LONG Connect(SCARDCONTEXT context, LPCSTR reader, DWORD shareMode, DWORD protocols,
                 LPSCARDHANDLE card, LPDWORD activeProtocol);
    LONG Reconnect(SCARDHANDLE card, DWORD shareMode, DWORD protocols, DWORD initialization,
                   LPDWORD activeProtocol);
    LONG Disconnect(SCARDHANDLE card, DWORD disposition);
    LONG BeginTransaction(SCARDHANDLE card);
    LONG EndTransaction(SCARDHANDLE card, DWORD disposition);
    LONG Status(SCARDHANDLE card, LPSTR readerName, LPDWORD readerLength, LPDWORD state,
                LPDWORD protocol, LPBYTE atr, LPDWORD atrLength);
    LONG Transmit(SCARDHANDLE card, const SCARD_IO_REQUEST* sendPci, LPCBYTE command,
                  DWORD commandLength, SCARD_IO_REQUEST* receivePci, LPBYTE response,
                  LPDWORD responseLength);
    LONG Control(SCARDHANDLE card, DWORD code, LPCVOID input, DWORD inputLength, LPVOID output,
                 DWORD outputLength, LPDWORD returned);

    // --- control interface ---
    void Configure(const std::string& setting, const std::string& pinPadPin);
    void AddReader(const std::string& name, PinPad pinPad);
    void RemoveReader(const std::string& name);
    void RemoveAllReaders();
    std::vector<std::string> ReaderNames();
    void Insert(const std::string& reader, std::shared_ptr<Icc> icc);
    std::shared_ptr<Icc> Remove(const std::string& reader);
    std::shared_ptr<Icc> IccIn(const std::string& reader);
    void ScriptPinPad(const std::string& reader, PinEntry entry);
    std::size_t PendingPinPadEntries(const std::string& reader);
    void InjectFault(const std::string& reader, Fault fault);
    void FailNextCalls(ApiCall call, LONG error, unsigned times);
    void ClearFaults();
    ReaderUse UseOf(const std::string& reader);
    std::vector<TranscriptEntry> Transcript(const std::string& reader);
    void ClearTranscript(const std::string& reader);

private:
    using Lock = std::unique_lock<std::mutex>;
    struct Exchange {
        LONG result = SCARD_S_SUCCESS;
        Bytes response;
    };

    ReaderHub();
    void ConfigureFromEnvironment();
    // In a child after fork(): the parent's threads are gone, but a lock or
    // a waiter they had registered would stay in the copies for ever.
    void RenewLocksAfterFork();
    void ReplaceReaders(std::vector<std::shared_ptr<Reader>> readers);

    std::shared_ptr<Reader> FindReader(const std::string& name) const;
    Reader& ReaderNamed(const std::string& name) const;  // throws for unknown names
    void InsertLocked(Reader& reader, std::shared_ptr<Icc> icc);
    std::shared_ptr<Icc> RemoveLocked(Reader& reader);
    void DropReaderLocked(Reader& reader);
    std::optional<LONG> TakeApiFailure(ApiCall call);
    bool ContextValid(SCARDCONTEXT context) const;
    Handle* FindHandle(SCARDHANDLE card);
    // Waits while another handle holds the reader's transaction. Returns the
    // handle again (it may have been disconnected meanwhile), or null.
    Handle* WaitForLock(Lock& lock, SCARDHANDLE card);
    // Result a call on this handle gets from the reader/card state.
    static LONG HandleState(const Handle& handle);
    void ResetCard(Reader& reader);
    void ReleaseLock(Reader& reader, SCARDHANDLE card, bool completely);
    bool EvaluateStates(SCARD_READERSTATE* states, DWORD count) const;
    // Sends one APDU to the reader's card, applying the injected faults and
    // writing the transcript. The mutex is released while the card works.
    Exchange SendToCard(Lock& lock, const std::shared_ptr<Reader>& reader, const Bytes& command,
                        const std::string& call);
    std::optional<Fault> TakeFault(Reader& reader, const Bytes& command);
    LONG PinPadControl(Lock& lock, SCARDHANDLE card, uint8_t feature, const Bytes& input,
                       LPBYTE output, DWORD outputLength, LPDWORD returned);
    PinEntry NextPinEntry(Reader& reader);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    // Threads waiting in WaitForLock or Connect: only they need waking when a
    // transaction ends, which no status waiter sees.
    unsigned lockWaiters_ = 0;
    std::vector<std::shared_ptr<Reader>> readers_;
    std::map<long, std::shared_ptr<Context>> contexts_;
    std::map<long, Handle> handles_;
    std::map<ApiCall, std::deque<LONG>> apiFailures_;
    long nextContext_ = 0x01000001;
    long nextHandle_ = 0x02000001;
    uint64_t nextInsertion_ = 1;
};

}  // namespace cardsim::detail
