// The pcsc-lite client functions, served by the simulated readers.
#include "ReaderHub.h"

#include <cstdlib>
#include <cstring>
#include <new>

using cardsim::detail::ReaderHub;

const SCARD_IO_REQUEST g_rgSCardT0Pci = {SCARD_PROTOCOL_T0, sizeof(SCARD_IO_REQUEST)};
const SCARD_IO_REQUEST g_rgSCardT1Pci = {SCARD_PROTOCOL_T1, sizeof(SCARD_IO_REQUEST)};
const SCARD_IO_REQUEST g_rgSCardRawPci = {SCARD_PROTOCOL_RAW, sizeof(SCARD_IO_REQUEST)};

namespace {

// No exception may cross into the C caller.
template <typename Call>
LONG Guarded(Call&& call) noexcept
{
    try {
        return call(ReaderHub::Instance());
    } catch (const std::bad_alloc&) {
        return SCARD_E_NO_MEMORY;
    } catch (...) {
        return SCARD_F_INTERNAL_ERROR;
    }
}

}  // namespace

extern "C" {

LONG SCardEstablishContext(DWORD scope, LPCVOID, LPCVOID, LPSCARDCONTEXT context)
{
    return Guarded([&](ReaderHub& hub) { return hub.EstablishContext(scope, context); });
}

LONG SCardReleaseContext(SCARDCONTEXT context)
{
    return Guarded([&](ReaderHub& hub) { return hub.ReleaseContext(context); });
}

LONG SCardIsValidContext(SCARDCONTEXT context)
{
    return Guarded([&](ReaderHub& hub) { return hub.IsValidContext(context); });
}

LONG SCardCancel(SCARDCONTEXT context)
{
    return Guarded([&](ReaderHub& hub) { return hub.Cancel(context); });
}

LONG SCardListReaders(SCARDCONTEXT context, LPCSTR, LPSTR readers, LPDWORD length)
{
    return Guarded([&](ReaderHub& hub) { return hub.ListReaders(context, readers, length); });
}

LONG SCardListReaderGroups(SCARDCONTEXT context, LPSTR groups, LPDWORD length)
{
    static constexpr char kGroups[] = "SCard$DefaultReaders\0";  // plus the final NUL
    return Guarded([&](ReaderHub& hub) -> LONG {
        if (length == nullptr) {
            return SCARD_E_INVALID_PARAMETER;
        }
        if (hub.IsValidContext(context) != SCARD_S_SUCCESS) {
            return SCARD_E_INVALID_HANDLE;
        }
        const DWORD size = sizeof kGroups;
        if (groups != nullptr && *length == SCARD_AUTOALLOCATE) {
            void* allocated = std::malloc(size);
            if (allocated == nullptr) {
                return SCARD_E_NO_MEMORY;
            }
            std::memcpy(allocated, kGroups, size);
            *reinterpret_cast<void**>(groups) = allocated;
        } else if (groups != nullptr) {
            if (*length < size) {
                *length = size;
                return SCARD_E_INSUFFICIENT_BUFFER;
            }
            std::memcpy(groups, kGroups, size);
        }
        *length = size;
        return SCARD_S_SUCCESS;
    });
}

LONG SCardFreeMemory(SCARDCONTEXT, LPCVOID memory)
{
    std::free(const_cast<void*>(memory));
    return SCARD_S_SUCCESS;
}

LONG SCardGetStatusChange(SCARDCONTEXT context, DWORD timeout, SCARD_READERSTATE* states,
                          DWORD count)
{
    return Guarded(
        [&](ReaderHub& hub) { return hub.GetStatusChange(context, timeout, states, count); });
}

LONG SCardConnect(SCARDCONTEXT context, LPCSTR reader, DWORD shareMode, DWORD protocols,
                  LPSCARDHANDLE card, LPDWORD activeProtocol)
{
    return Guarded([&](ReaderHub& hub) {
        return hub.Connect(context, reader, shareMode, protocols, card, activeProtocol);
    });
}

LONG SCardReconnect(SCARDHANDLE card, DWORD shareMode, DWORD protocols, DWORD initialization,
                    LPDWORD activeProtocol)
{
    return Guarded([&](ReaderHub& hub) {
        return hub.Reconnect(card, shareMode, protocols, initialization, activeProtocol);
    });
}

LONG SCardDisconnect(SCARDHANDLE card, DWORD disposition)
{
    return Guarded([&](ReaderHub& hub) { return hub.Disconnect(card, disposition); });
}

LONG SCardBeginTransaction(SCARDHANDLE card)
{
    return Guarded([&](ReaderHub& hub) { return hub.BeginTransaction(card); });
}

LONG SCardEndTransaction(SCARDHANDLE card, DWORD disposition)
{
    return Guarded([&](ReaderHub& hub) { return hub.EndTransaction(card, disposition); });
}

LONG SCardStatus(SCARDHANDLE card, LPSTR readerName, LPDWORD readerLength, LPDWORD state,
                 LPDWORD protocol, LPBYTE atr, LPDWORD atrLength)
{
    return Guarded([&](ReaderHub& hub) {
        return hub.Status(card, readerName, readerLength, state, protocol, atr, atrLength);
    });
}

LONG SCardTransmit(SCARDHANDLE card, const SCARD_IO_REQUEST* sendPci, LPCBYTE command,
                   DWORD commandLength, SCARD_IO_REQUEST* receivePci, LPBYTE response,
                   LPDWORD responseLength)
{
    return Guarded([&](ReaderHub& hub) {
        return hub.Transmit(card, sendPci, command, commandLength, receivePci, response,
                            responseLength);
    });
}

LONG SCardControl(SCARDHANDLE card, DWORD code, LPCVOID input, DWORD inputLength, LPVOID output,
                  DWORD outputLength, LPDWORD returned)
{
    return Guarded([&](ReaderHub& hub) {
        return hub.Control(card, code, input, inputLength, output, outputLength, returned);
    });
}

LONG SCardGetAttrib(SCARDHANDLE, DWORD, LPBYTE, LPDWORD)
{
    return SCARD_E_UNSUPPORTED_FEATURE;
}

LONG SCardSetAttrib(SCARDHANDLE, DWORD, LPCBYTE, DWORD)
{
    return SCARD_E_UNSUPPORTED_FEATURE;
}

}  // extern "C"
