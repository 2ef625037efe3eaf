// The PC/SC calls on the hub, with the results pcsc-lite 1.9.9 gives.
#include "PinPad.h"
#include "ReaderHub.h"

#include <reader.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace cardsim::detail {

namespace {

constexpr const char* kPnpReaderName = "\\\\?PnP?\\Notification";
// SCardStatus state of a powered card with T=1 negotiated.
constexpr DWORD kCardReadyState = SCARD_PRESENT | SCARD_POWERED | SCARD_NEGOTIABLE;

bool ValidDisposition(DWORD disposition)
{
    return disposition == SCARD_LEAVE_CARD || disposition == SCARD_RESET_CARD ||
           disposition == SCARD_UNPOWER_CARD || disposition == SCARD_EJECT_CARD;
}

bool Resets(DWORD disposition)
{
    return disposition == SCARD_RESET_CARD || disposition == SCARD_UNPOWER_CARD;
}

const char* FeatureName(uint8_t feature)
{
    switch (feature) {
    case FEATURE_VERIFY_PIN_DIRECT: return "VERIFY_PIN_DIRECT";
    case FEATURE_MODIFY_PIN_DIRECT: return "MODIFY_PIN_DIRECT";
    case FEATURE_VERIFY_PIN_FINISH: return "VERIFY_PIN_FINISH";
    case FEATURE_MODIFY_PIN_FINISH: return "MODIFY_PIN_FINISH";
    default: return "PIN pad";
    }
}

// Copies a value into a caller buffer of `*room` bytes, or into a buffer
// allocated for the caller when the room is SCARD_AUTOALLOCATE.
template <typename Byte>
LONG CopyOut(const Byte* value, DWORD size, void* buffer, LPDWORD room)
{
    LONG result = SCARD_S_SUCCESS;
    if (buffer != nullptr && room != nullptr) {
        if (*room == SCARD_AUTOALLOCATE) {
            void* allocated = std::malloc(size);
            if (allocated == nullptr) {
                return SCARD_E_NO_MEMORY;
            }
            std::memcpy(allocated, value, size);
            *static_cast<void**>(buffer) = allocated;
        } else if (*room < size) {
            result = SCARD_E_INSUFFICIENT_BUFFER;
        } else {
            std::memcpy(buffer, value, size);
        }
    }
    if (room != nullptr) {
        *room = size;
    }
    return result;
}

}  // namespace

bool ReaderHub::ContextValid(SCARDCONTEXT context) const
{
    return contexts_.count(context) != 0;
}

Handle* ReaderHub::FindHandle(SCARDHANDLE card)
{
    const auto it = handles_.find(card);
    return it != handles_.end() ? &it->second : nullptr;
}

Handle* ReaderHub::WaitForLock(Lock& lock, SCARDHANDLE card)
{
    for (;;) {
        Handle* handle = FindHandle(card);
        if (handle == nullptr) {
            return nullptr;
        }
        const Reader& reader = *handle->reader;
        if (reader.gone || reader.lockHolder == 0 || reader.lockHolder == card) {
            return handle;
        }
        ++lockWaiters_;
        changed_.wait(lock);
        --lockWaiters_;
    }
}

LONG ReaderHub::HandleState(const Handle& handle)
{
    const Reader& reader = *handle.reader;
    if (reader.gone) {
        return SCARD_E_READER_UNAVAILABLE;
    }
    if (handle.insertion != reader.insertion) {
        return SCARD_W_REMOVED_CARD;
    }
    if (handle.resets != reader.resets) {
        return SCARD_W_RESET_CARD;
    }
    return SCARD_S_SUCCESS;
}

void ReaderHub::ResetCard(Reader& reader)
{
    if (reader.card != nullptr) {
        reader.card->icc->Reset();
        ++reader.resets;
    }
}

void ReaderHub::ReleaseLock(Reader& reader, SCARDHANDLE card, bool completely)
{
    if (reader.lockHolder != card) {
        return;
    }
    reader.lockDepth = completely ? 0 : reader.lockDepth - 1;
    if (reader.lockDepth == 0) {
        reader.lockHolder = 0;
        if (lockWaiters_ > 0) {
            changed_.notify_all();
        }
    }
}

LONG ReaderHub::EstablishContext(DWORD scope, LPSCARDCONTEXT context)
{
    if (context == nullptr) {
        return SCARD_E_INVALID_PARAMETER;
    }
    if (scope != SCARD_SCOPE_USER && scope != SCARD_SCOPE_TERMINAL &&
        scope != SCARD_SCOPE_SYSTEM && scope != SCARD_SCOPE_GLOBAL) {
        return SCARD_E_INVALID_VALUE;
    }
    Lock lock(mutex_);
    if (const auto failure = TakeApiFailure(ApiCall::EstablishContext)) {
        return *failure;
    }
    const long id = nextContext_++;
    contexts_[id] = std::make_shared<Context>();
    *context = id;
    return SCARD_S_SUCCESS;
}

LONG ReaderHub::ReleaseContext(SCARDCONTEXT context)
{
    Lock lock(mutex_);
    if (!ContextValid(context)) {
        return SCARD_E_INVALID_HANDLE;
    }
    for (auto it = handles_.begin(); it != handles_.end();) {
        if (it->second.context == context) {
            ReleaseLock(*it->second.reader, it->first, true);
            it = handles_.erase(it);
        } else {
            ++it;
        }
    }
    contexts_.erase(context);
    changed_.notify_all();
    return SCARD_S_SUCCESS;
}

LONG ReaderHub::IsValidContext(SCARDCONTEXT context)
{
    Lock lock(mutex_);
    return ContextValid(context) ? SCARD_S_SUCCESS : SCARD_E_INVALID_HANDLE;
}

LONG ReaderHub::Cancel(SCARDCONTEXT context)
{
    Lock lock(mutex_);
    const auto it = contexts_.find(context);
    if (it == contexts_.end()) {
        return SCARD_E_INVALID_HANDLE;
    }
    if (it->second->waiting > 0) {
        it->second->cancelRequested = true;
        changed_.notify_all();
    }
    return SCARD_S_SUCCESS;
}

LONG ReaderHub::ListReaders(SCARDCONTEXT context, LPSTR readers, LPDWORD length)
{
    if (length == nullptr) {
        return SCARD_E_INVALID_PARAMETER;
    }
    Lock lock(mutex_);
    if (!ContextValid(context)) {
        return SCARD_E_INVALID_HANDLE;
    }
    if (const auto failure = TakeApiFailure(ApiCall::ListReaders)) {
        return *failure;
    }
    std::string list;
    for (const auto& reader : readers_) {
        list += reader->name;
        list += '\0';
    }
    list += '\0';
    if (readers_.empty()) {
        *length = DWORD(list.size());
        return SCARD_E_NO_READERS_AVAILABLE;
    }
    if (*length == SCARD_AUTOALLOCATE && readers == nullptr) {
        return SCARD_E_INVALID_PARAMETER;
    }
    return CopyOut(list.data(), DWORD(list.size()), readers, length);
}

bool ReaderHub::EvaluateStates(SCARD_READERSTATE* states, DWORD count) const
{
    bool anyChange = false;
    for (DWORD i = 0; i < count; ++i) {
        SCARD_READERSTATE& entry = states[i];
        const DWORD current = entry.dwCurrentState;
        if ((current & SCARD_STATE_IGNORE) != 0) {
            continue;
        }
        DWORD event = 0;
        bool changed = false;
        if (std::strcmp(entry.szReader, kPnpReaderName) == 0) {
            // High word: the number of readers.
            const DWORD readerCount = DWORD(readers_.size());
            changed = (current >> 16) != readerCount;
            event = readerCount << 16;
        } else if (const auto reader = FindReader(entry.szReader); reader == nullptr) {
            // Vanished while the caller waited.
            event = SCARD_STATE_UNKNOWN | SCARD_STATE_UNAVAILABLE;
            changed = (current & SCARD_STATE_UNKNOWN) == 0;
        } else {
            const bool present = reader->card != nullptr;
            const uint16_t counter = reader->eventCounter;
            if ((current & 0xFFFF0000) != 0 && ((current >> 16) & 0xFFFF) != counter) {
                changed = true;  // removed and inserted again between two calls
            }
            changed = changed || (current & SCARD_STATE_UNAVAILABLE) != 0;
            entry.cbAtr = 0;
            if (present) {
                const Bytes atr = reader->card->icc->Atr();
                entry.cbAtr = DWORD(std::min<size_t>(atr.size(), MAX_ATR_SIZE));
                std::memcpy(entry.rgbAtr, atr.data(), entry.cbAtr);
                event |= SCARD_STATE_PRESENT;
                changed = changed || (current & (SCARD_STATE_EMPTY | SCARD_STATE_MUTE)) != 0;
            } else {
                event |= SCARD_STATE_EMPTY;
                changed = changed || (current & SCARD_STATE_PRESENT) != 0;
            }
            bool exclusive = false;
            bool inUse = false;
            for (const auto& [id, handle] : handles_) {
                if (handle.reader == reader && present && handle.insertion == reader->insertion) {
                    inUse = true;
                    exclusive = exclusive || handle.exclusive;
                }
            }
            if (exclusive) {
                event |= SCARD_STATE_EXCLUSIVE;
                changed = changed || (current & SCARD_STATE_INUSE) != 0;
            } else if (inUse) {
                event |= SCARD_STATE_INUSE;
                changed = changed || (current & SCARD_STATE_EXCLUSIVE) != 0;
            } else {
                changed = changed || (current & (SCARD_STATE_INUSE | SCARD_STATE_EXCLUSIVE)) != 0;
            }
            changed = changed || current == SCARD_STATE_UNAWARE;
            event |= DWORD(counter) << 16;
        }
        if (changed) {
            event |= SCARD_STATE_CHANGED;
            anyChange = true;
        }
        entry.dwEventState = event;
    }
    return anyChange;
}

LONG ReaderHub::GetStatusChange(SCARDCONTEXT context, DWORD timeout, SCARD_READERSTATE* states,
                                DWORD count)
{
    if ((states == nullptr && count > 0) || count > kMaxReaders) {
        return SCARD_E_INVALID_PARAMETER;
    }
    for (DWORD i = 0; i < count; ++i) {
        if (states[i].szReader == nullptr) {
            return SCARD_E_INVALID_VALUE;
        }
    }
    Lock lock(mutex_);
    const auto contextIt = contexts_.find(context);
    if (contextIt == contexts_.end()) {
        return SCARD_E_INVALID_HANDLE;
    }
    if (const auto failure = TakeApiFailure(ApiCall::GetStatusChange)) {
        return *failure;
    }
    bool allIgnored = true;
    for (DWORD i = 0; i < count; ++i) {
        if (std::strcmp(states[i].szReader, kPnpReaderName) != 0 &&
            FindReader(states[i].szReader) == nullptr) {
            return SCARD_E_UNKNOWN_READER;
        }
        allIgnored = allIgnored && (states[i].dwCurrentState & SCARD_STATE_IGNORE) != 0;
    }
    if (allIgnored) {
        return SCARD_S_SUCCESS;  // also the empty array: nothing to wait for
    }
    const std::shared_ptr<Context> waiter = contextIt->second;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout);
    ++waiter->waiting;
    LONG result = SCARD_E_TIMEOUT;
    for (;;) {
        if (EvaluateStates(states, count)) {
            result = SCARD_S_SUCCESS;
            break;
        }
        if (!ContextValid(context)) {
            result = SCARD_E_INVALID_HANDLE;
            break;
        }
        if (waiter->cancelRequested) {
            waiter->cancelRequested = false;
            result = SCARD_E_CANCELLED;
            break;
        }
        if (timeout == INFINITE) {
            changed_.wait(lock);
        } else if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) {
            result = EvaluateStates(states, count) ? SCARD_S_SUCCESS : SCARD_E_TIMEOUT;
            break;
        }
    }
    --waiter->waiting;
    return result;
}

LONG ReaderHub::Connect(SCARDCONTEXT context, LPCSTR readerName, DWORD shareMode,
                        DWORD protocols, LPSCARDHANDLE card, LPDWORD activeProtocol)
{
    if (readerName == nullptr || card == nullptr || activeProtocol == nullptr) {
        return SCARD_E_INVALID_PARAMETER;
    }
    if (shareMode != SCARD_SHARE_SHARED && shareMode != SCARD_SHARE_EXCLUSIVE) {
        return SCARD_E_INVALID_VALUE;
    }
    Lock lock(mutex_);
    if (!ContextValid(context)) {
        return SCARD_E_INVALID_HANDLE;
    }
    if (const auto failure = TakeApiFailure(ApiCall::Connect)) {
        return *failure;
    }
    auto reader = FindReader(readerName);
    if (reader == nullptr) {
        return SCARD_E_UNKNOWN_READER;
    }
    // pcscd keeps a connect waiting while another handle holds a transaction.
    while (reader->lockHolder != 0 && !reader->gone && ContextValid(context)) {
        ++lockWaiters_;
        changed_.wait(lock);
        --lockWaiters_;
    }
    if (!ContextValid(context)) {
        return SCARD_E_INVALID_HANDLE;
    }
    if (reader->gone) {
        return SCARD_E_UNKNOWN_READER;
    }
    if (reader->card == nullptr) {
        return SCARD_E_NO_SMARTCARD;
    }
    if ((protocols & SCARD_PROTOCOL_T1) == 0) {
        return SCARD_E_PROTO_MISMATCH;
    }
    for (const auto& [id, handle] : handles_) {
        if (handle.reader == reader && handle.insertion == reader->insertion &&
            (handle.exclusive || shareMode == SCARD_SHARE_EXCLUSIVE)) {
            return SCARD_E_SHARING_VIOLATION;
        }
    }
    const long id = nextHandle_++;
    handles_[id] = Handle{context, reader, reader->insertion, reader->resets,
                          shareMode == SCARD_SHARE_EXCLUSIVE, std::nullopt};
    *card = id;
    *activeProtocol = SCARD_PROTOCOL_T1;
    changed_.notify_all();
    return SCARD_S_SUCCESS;
}

LONG ReaderHub::Reconnect(SCARDHANDLE card, DWORD shareMode, DWORD protocols,
                          DWORD initialization, LPDWORD activeProtocol)
{
    if (activeProtocol == nullptr) {
        return SCARD_E_INVALID_PARAMETER;
    }
    if ((shareMode != SCARD_SHARE_SHARED && shareMode != SCARD_SHARE_EXCLUSIVE) ||
        !ValidDisposition(initialization)) {
        return SCARD_E_INVALID_VALUE;
    }
    Lock lock(mutex_);
    if (const auto failure = TakeApiFailure(ApiCall::Reconnect)) {
        return *failure;
    }
    Handle* handle = WaitForLock(lock, card);
    if (handle == nullptr) {
        return SCARD_E_INVALID_HANDLE;
    }
    Reader& reader = *handle->reader;
    if (reader.gone) {
        return SCARD_E_READER_UNAVAILABLE;
    }
    if (reader.card == nullptr) {
        return SCARD_E_NO_SMARTCARD;
    }
    if ((protocols & SCARD_PROTOCOL_T1) == 0) {
        return SCARD_E_PROTO_MISMATCH;
    }
    if (Resets(initialization)) {
        ResetCard(reader);
    }
    handle->insertion = reader.insertion;
    handle->resets = reader.resets;
    handle->exclusive = shareMode == SCARD_SHARE_EXCLUSIVE;
    handle->pendingPin.reset();
    *activeProtocol = SCARD_PROTOCOL_T1;
    changed_.notify_all();
    return SCARD_S_SUCCESS;
}

LONG ReaderHub::Disconnect(SCARDHANDLE card, DWORD disposition)
{
    if (!ValidDisposition(disposition)) {
        return SCARD_E_INVALID_VALUE;
    }
    Lock lock(mutex_);
    Handle* handle = FindHandle(card);
    if (handle == nullptr) {
        return SCARD_E_INVALID_HANDLE;
    }
    Reader& reader = *handle->reader;
    if (Resets(disposition) && HandleState(*handle) == SCARD_S_SUCCESS) {
        ResetCard(reader);
    }
    ReleaseLock(reader, card, true);
    handles_.erase(card);
    changed_.notify_all();
    return SCARD_S_SUCCESS;
}

LONG ReaderHub::BeginTransaction(SCARDHANDLE card)
{
    Lock lock(mutex_);
    if (const auto failure = TakeApiFailure(ApiCall::BeginTransaction)) {
        return *failure;
    }
    Handle* handle = WaitForLock(lock, card);
    if (handle == nullptr) {
        return SCARD_E_INVALID_HANDLE;
    }
    if (const LONG state = HandleState(*handle); state != SCARD_S_SUCCESS) {
        return state;
    }
    Reader& reader = *handle->reader;
    reader.lockHolder = card;
    ++reader.lockDepth;
    return SCARD_S_SUCCESS;
}

LONG ReaderHub::EndTransaction(SCARDHANDLE card, DWORD disposition)
{
    if (!ValidDisposition(disposition)) {
        return SCARD_E_INVALID_VALUE;
    }
    Lock lock(mutex_);
    Handle* handle = FindHandle(card);
    if (handle == nullptr) {
        return SCARD_E_INVALID_HANDLE;
    }
    Reader& reader = *handle->reader;
    if (reader.lockHolder != card) {
        return SCARD_E_NOT_TRANSACTED;
    }
    if (Resets(disposition) && HandleState(*handle) == SCARD_S_SUCCESS) {
        ResetCard(reader);
        handle->resets = reader.resets;
    }
    // Ending always releases, also after a removal: the lock must not outlive
    // the card.
    ReleaseLock(reader, card, false);
    return SCARD_S_SUCCESS;
}

LONG ReaderHub::Status(SCARDHANDLE card, LPSTR readerName, LPDWORD readerLength, LPDWORD state,
                       LPDWORD protocol, LPBYTE atr, LPDWORD atrLength)
{
    Lock lock(mutex_);
    if (const auto failure = TakeApiFailure(ApiCall::Status)) {
        return *failure;
    }
    const Handle* handle = WaitForLock(lock, card);
    if (handle == nullptr) {
        return SCARD_E_INVALID_HANDLE;
    }
    if (state != nullptr) {
        *state = 0;
    }
    if (protocol != nullptr) {
        *protocol = 0;
    }
    if (const LONG handleState = HandleState(*handle); handleState != SCARD_S_SUCCESS) {
        return handleState;
    }
    const Reader& reader = *handle->reader;
    const LONG nameResult = CopyOut(reader.name.c_str(), DWORD(reader.name.size() + 1),
                                    readerName, readerLength);
    if (state != nullptr) {
        *state = DWORD(reader.eventCounter) << 16 | kCardReadyState;
    }
    if (protocol != nullptr) {
        *protocol = SCARD_PROTOCOL_T1;
    }
    Bytes cardAtr = reader.card->icc->Atr();
    cardAtr.resize(std::min<size_t>(cardAtr.size(), MAX_ATR_SIZE));
    const LONG atrResult = CopyOut(cardAtr.data(), DWORD(cardAtr.size()), atr, atrLength);
    return nameResult != SCARD_S_SUCCESS ? nameResult : atrResult;
}

LONG ReaderHub::Transmit(SCARDHANDLE card, const SCARD_IO_REQUEST* sendPci, LPCBYTE command,
                         DWORD commandLength, SCARD_IO_REQUEST* receivePci, LPBYTE response,
                         LPDWORD responseLength)
{
    if (sendPci == nullptr || command == nullptr || response == nullptr ||
        responseLength == nullptr || commandLength == 0) {
        return SCARD_E_INVALID_PARAMETER;
    }
    if (commandLength > MAX_BUFFER_SIZE_EXTENDED) {
        return SCARD_E_INSUFFICIENT_BUFFER;
    }
    Lock lock(mutex_);
    if (const auto failure = TakeApiFailure(ApiCall::Transmit)) {
        return *failure;
    }
    const Handle* handle = WaitForLock(lock, card);
    if (handle == nullptr) {
        return SCARD_E_INVALID_HANDLE;
    }
    if (const LONG state = HandleState(*handle); state != SCARD_S_SUCCESS) {
        return state;
    }
    if ((sendPci->dwProtocol & SCARD_PROTOCOL_T1) == 0) {
        return SCARD_E_PROTO_MISMATCH;
    }
    const std::shared_ptr<Reader> reader = handle->reader;
    const Exchange exchange =
        SendToCard(lock, reader, Bytes(command, command + commandLength), "SCardTransmit");
    if (exchange.result != SCARD_S_SUCCESS) {
        return exchange.result;
    }
    const DWORD size = DWORD(exchange.response.size());
    if (*responseLength < size) {
        *responseLength = size;
        return SCARD_E_INSUFFICIENT_BUFFER;
    }
    if (size > 0) {
        std::memcpy(response, exchange.response.data(), size);
    }
    *responseLength = size;
    if (receivePci != nullptr) {
        receivePci->dwProtocol = SCARD_PROTOCOL_T1;
        receivePci->cbPciLength = sizeof(SCARD_IO_REQUEST);
    }
    return SCARD_S_SUCCESS;
}

LONG ReaderHub::Control(SCARDHANDLE card, DWORD code, LPCVOID input, DWORD inputLength,
                        LPVOID output, DWORD outputLength, LPDWORD returned)
{
    if (returned != nullptr) {
        *returned = 0;
    }
    if ((input == nullptr && inputLength > 0) || (output == nullptr && outputLength > 0)) {
        return SCARD_E_INVALID_PARAMETER;
    }
    if (inputLength > MAX_BUFFER_SIZE_EXTENDED || outputLength > MAX_BUFFER_SIZE_EXTENDED) {
        return SCARD_E_INSUFFICIENT_BUFFER;
    }
    Lock lock(mutex_);
    if (const auto failure = TakeApiFailure(ApiCall::Control)) {
        return *failure;
    }
    const Handle* handle = FindHandle(card);
    if (handle == nullptr) {
        return SCARD_E_INVALID_HANDLE;
    }
    const Reader& reader = *handle->reader;
    if (!reader.gone && reader.lockHolder != 0 && reader.lockHolder != card) {
        return SCARD_E_SHARING_VIOLATION;  // pcsc-lite does not wait here
    }
    if (const LONG state = HandleState(*handle); state != SCARD_S_SUCCESS) {
        return state;
    }
    const auto* inputBytes = static_cast<const uint8_t*>(input);
    auto* outputBytes = static_cast<uint8_t*>(output);
    // Only pcsc-lite's SCARD_CTL_CODE(3400) asks for the features; the
    // Windows encoding of the same request (0x313520) is no code here.
    if (code == CM_IOCTL_GET_FEATURE_REQUEST) {
        const Bytes features = FeatureList(reader.pinPad);
        if (outputLength < features.size()) {
            return SCARD_E_INSUFFICIENT_BUFFER;
        }
        if (!features.empty()) {
            std::memcpy(outputBytes, features.data(), features.size());
        }
        if (returned != nullptr) {
            *returned = DWORD(features.size());
        }
        return SCARD_S_SUCCESS;
    }
    const auto feature = FeatureOfControlCode(code);
    if (!feature || !Offers(reader.pinPad, *feature)) {
        return SCARD_E_UNSUPPORTED_FEATURE;
    }
    const Bytes structure =
        inputLength > 0 ? Bytes(inputBytes, inputBytes + inputLength) : Bytes{};
    return PinPadControl(lock, card, *feature, structure, outputBytes, outputLength, returned);
}

LONG ReaderHub::PinPadControl(Lock& lock, SCARDHANDLE card, uint8_t feature, const Bytes& input,
                              LPBYTE output, DWORD outputLength, LPDWORD returned)
{
    Handle* handle = FindHandle(card);
    const std::shared_ptr<Reader> reader = handle->reader;
    if (feature == FEATURE_VERIFY_PIN_START || feature == FEATURE_MODIFY_PIN_START) {
        handle->pendingPin = PendingPinRequest{feature, input};
        return SCARD_S_SUCCESS;
    }
    Bytes structure = input;
    bool modify = feature == FEATURE_MODIFY_PIN_DIRECT;
    if (feature == FEATURE_VERIFY_PIN_FINISH || feature == FEATURE_MODIFY_PIN_FINISH) {
        // A finish completes the start of the same operation.
        if (!handle->pendingPin || handle->pendingPin->feature != feature - 1) {
            return SCARD_E_INVALID_VALUE;
        }
        structure = std::move(handle->pendingPin->structure);
        handle->pendingPin.reset();
        modify = feature == FEATURE_MODIFY_PIN_FINISH;
    }
    if (outputLength < 2) {
        return SCARD_E_INSUFFICIENT_BUFFER;
    }
    const PinEntry entry = NextPinEntry(*reader);
    if (entry.delay.count() > 0) {
        lock.unlock();
        std::this_thread::sleep_for(entry.delay);
        lock.lock();
        handle = FindHandle(card);
        if (handle == nullptr) {
            return SCARD_E_INVALID_HANDLE;
        }
        if (const LONG state = HandleState(*handle); state != SCARD_S_SUCCESS) {
            return state;
        }
    }
    const KeypadOutcome outcome =
        modify ? BuildModifyApdu(structure, entry) : BuildVerifyApdu(structure, entry);
    const std::string call = std::string("SCardControl ") + FeatureName(feature);
    Bytes answer;
    if (outcome.apdu) {
        const Exchange exchange = SendToCard(lock, reader, *outcome.apdu, call);
        if (exchange.result != SCARD_S_SUCCESS) {
            return exchange.result;
        }
        answer = exchange.response;
    } else {
        answer = {uint8_t(outcome.readerSw >> 8), uint8_t(outcome.readerSw)};
        reader->card->Record(TranscriptEntry{call + " (keypad)", {}, answer});
    }
    if (answer.size() > outputLength) {
        return SCARD_E_INSUFFICIENT_BUFFER;
    }
    std::copy(answer.begin(), answer.end(), output);
    if (returned != nullptr) {
        *returned = DWORD(answer.size());
    }
    return SCARD_S_SUCCESS;
}

}  // namespace cardsim::detail
