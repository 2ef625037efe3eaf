#include "ApduTransport.h"

#include <botan/mem_ops.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>
#include <vector>

#include "ApduEncoding.h"
#include "CardMemory.h"
#include "LogTrace.h"
#include "Slot.h"

namespace Brelt::MW::Card {

namespace {

std::atomic<ApduProtectorLookup> g_protectorLookup{nullptr};

void StoreStatus(CK_ULONG* lastStatus, CK_ULONG value) { StoreLastStatus(lastStatus, value); }

// Zeroes the exchanged bytes on every path: commands and answers carry PINs
// and key material.
class WipedBuffer {
public:
    explicit WipedBuffer(size_t size) : bytes_(size) {}
    ~WipedBuffer() { Botan::secure_scrub_memory(bytes_.data(), bytes_.size()); }
    std::vector<uint8_t>& Bytes() { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
};

// The receive room, left as allocated: only the bytes the reader wrote are
// ever read, and only they are wiped (zeroing the whole room twice per
// exchange cost more than the rest of a call answered from memory).
class ReceiveBuffer {
public:
    ReceiveBuffer() : bytes_(new uint8_t[kApduReceiveRoom]) {}
    ~ReceiveBuffer() { Botan::secure_scrub_memory(bytes_.get(), written_); }
    ReceiveBuffer(const ReceiveBuffer&) = delete;
    ReceiveBuffer& operator=(const ReceiveBuffer&) = delete;

    uint8_t* Data() { return bytes_.get(); }
    void Written(DWORD count) { written_ = std::min<size_t>(count, kApduReceiveRoom); }

private:
    std::unique_ptr<uint8_t[]> bytes_;
    size_t written_ = kApduReceiveRoom;  // until told otherwise, all of it
};

void LogCommand(const ApduCommand& command)
{
    LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "%s", "/// SEND APDU");
    LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "Cla = %02X", command.cla);
    LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "Ins = %02X", command.ins);
    LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "P1 = %02X", command.p1);
    LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "P2 = %02X", command.p2);
    if (command.lc != 0)
        LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "Lc = %02X  (%d)", command.lc, command.lc);
    if (command.le != kNoLe) LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "Le = %02X", command.le);
    if (command.data) LogApdu(LOG_LEVEL_DEBUG, command.data.get(), command.lc, true);
    LogMessage(LOG_LEVEL_DEBUG, false, nullptr, 0, true, "%s", "");
}

CK_RV Exchange(SCARDHANDLE cardHandle, ApduCommand& command, ApduResponse& response, CK_ULONG* lastStatus,
               bool noLog, bool forceExtended)
{
    const char* const function = "SendApduImpl";
    if (command.skip != 0) return CKR_OK;

    response.Clear();
    std::unique_ptr<WipedBuffer> send;
    std::unique_ptr<ReceiveBuffer> receive;
    try {
        send = std::make_unique<WipedBuffer>(0);
        send->Bytes().reserve(kMaxCommandApduSize);
        receive = std::make_unique<ReceiveBuffer>();
    } catch (const std::bad_alloc&) {
        return CKR_HOST_MEMORY;
    }

    if (!noLog && IsLogLevelEnabled(LOG_LEVEL_DEBUG)) LogCommand(command);

    if (EncodeCommandApdu(command, forceExtended, send->Bytes()) != CKR_OK) {
        LogMessage(LOG_LEVEL_DEBUG, true, function, __LINE__, true, "Invalid APDU command data: lc = %d, dta = NULL",
                   command.lc);
        return CKR_DATA_INVALID;
    }

    DWORD received = kApduReceiveRoom;
    const LONG rv = SCardTransmit(cardHandle, SCARD_PCI_T1, send->Bytes().data(),
                                  static_cast<DWORD>(send->Bytes().size()), nullptr, receive->Data(), &received);
    send.reset();
    if (rv == SCARD_S_SUCCESS) receive->Written(received);
    if (rv != SCARD_S_SUCCESS) {
        StoreStatus(lastStatus, static_cast<CK_ULONG>(rv));
        LogMessage(LOG_LEVEL_ERROR, true, function, __LINE__, true,
                   "Cannot exchange APDU command, SCardTransmit() result = %s",
                   GetErrorText(static_cast<unsigned long>(rv)));
        return CKR_DEVICE_ERROR;
    }
    StoreStatus(lastStatus, 0);
    if (received > kApduReceiveRoom) received = kApduReceiveRoom;  // never trust a reported length
    if (received < 2) {
        LogMessage(LOG_LEVEL_DEBUG, true, function, __LINE__, true, "Invalid response length: %d (min. 2)",
                   static_cast<int>(received));
        return CKR_FUNCTION_FAILED;
    }

    const uint8_t* answer = receive->Data();
    response.sw = static_cast<uint16_t>((answer[received - 2] << 8) | answer[received - 1]);
    if (response.sw != kSwSuccess) StoreStatus(lastStatus, response.sw);

    if (command.expectedSw != kSwNotChecked && response.sw != command.expectedSw) {
        LogMessage(LOG_LEVEL_DEBUG, true, function, __LINE__, true, "Invalid response SW: %02X, expected: %02X",
                   response.sw, command.expectedSw);
        return CKR_FUNCTION_FAILED;
    }

    const DWORD dataLength = received - 2;
    // More than the command asked for is no answer to it. A protected answer
    // (secure-messaging bits in CLA) is longer than the data it carries and
    // is vouched for by its checksum instead.
    const bool isProtected = (command.cla & 0x0C) == 0x0C;
    if (!isProtected && dataLength > MaxAnswerLength(command, forceExtended)) {
        LogMessage(LOG_LEVEL_DEBUG, true, function, __LINE__, true, "Invalid response length: %d (max. %d)",
                   static_cast<int>(dataLength), static_cast<int>(MaxAnswerLength(command, forceExtended)));
        return CKR_FUNCTION_FAILED;
    }
    if (dataLength > 0xFFFF) {
        // The 16-bit length cannot describe it; never hand back a cut answer as success.
        LogMessage(LOG_LEVEL_ERROR, true, function, __LINE__, true, "Invalid response length: %d (max. 65535)",
                   static_cast<int>(dataLength));
        return CKR_FUNCTION_FAILED;
    }
    if (dataLength > 0) {
        std::unique_ptr<uint8_t[]> data(new (std::nothrow) uint8_t[dataLength]);
        if (!data) {
            LogMessage(LOG_LEVEL_ERROR, true, function, __LINE__, true, "%s",
                       "Cannot allocate memory for APDU response");
            return CKR_HOST_MEMORY;
        }
        std::copy(answer, answer + dataLength, data.get());
        response.data = std::move(data);
        response.length = static_cast<uint16_t>(dataLength);
    }

    if (!noLog && IsLogLevelEnabled(LOG_LEVEL_DEBUG) && response.length > 0)
        LogApdu(LOG_LEVEL_DEBUG, response.data.get(), response.length, false);
    return CKR_OK;
}

}  // namespace

void SetApduProtectorLookup(ApduProtectorLookup lookup)
{
    g_protectorLookup.store(lookup);
}

CK_RV SendApduImpl(SCARDHANDLE cardHandle, ApduCommand* command, ApduResponse* response, CK_ULONG* lastStatus,
                   uint32_t noLog, uint32_t forceExtended)
{
    FunctionTrace trace("SendApduImpl");
    if (command == nullptr || response == nullptr) {
        LOG_FAILED("SendApduImpl", CKR_ARGUMENTS_BAD);
        return trace.Result(CKR_ARGUMENTS_BAD);
    }
    const CK_RV rv = Exchange(cardHandle, *command, *response, lastStatus, noLog != 0, forceExtended != 0);
    if (rv != CKR_OK) LOG_FAILED("SendApduImpl", rv);
    return trace.Result(rv);
}

CK_RV SendApduImpl(const Slot* slot, ApduCommand* command, ApduResponse* response, CK_ULONG* lastStatus,
                   uint32_t noLog, uint32_t forceExtended)
{
    if (slot == nullptr) {
        LOG_FAILED("SendApduImpl", CKR_ARGUMENTS_BAD);
        return CKR_ARGUMENTS_BAD;
    }
    CardMemory* const memory = slot->Memory();
    if (memory == nullptr || command == nullptr || response == nullptr || command->skip != 0)
        return SendApduImpl(slot->CardHandle(), command, response, lastStatus, noLog, forceExtended);

    // A repeat whose answer the card gave before is answered the same way,
    // as a good exchange would be.
    if (memory->Answer(*command, forceExtended != 0, *response)) {
        StoreStatus(lastStatus, 0);
        return CKR_OK;
    }
    const uint64_t generation = memory->Generation();
    const CK_RV rv = SendApduImpl(slot->CardHandle(), command, response, lastStatus, noLog, forceExtended);
    memory->Observe(*command, forceExtended != 0, rv, *response, generation);
    return rv;
}

CK_RV SendApdu(const Slot* slot, ApduCommand* command, ApduResponse* response, CK_ULONG* lastStatus,
               uint32_t noLog, uint32_t forceExtended)
{
    FunctionTrace trace("SendApdu");
    if (slot == nullptr || command == nullptr || response == nullptr) {
        LOG_FAILED("SendApdu", CKR_ARGUMENTS_BAD);
        return trace.Result(CKR_ARGUMENTS_BAD);
    }

    const ApduProtectorLookup lookup = g_protectorLookup.load();
    const std::shared_ptr<ApduProtector> protector = lookup != nullptr ? lookup(*slot) : nullptr;
    if (protector == nullptr)
        return trace.Result(SendApduImpl(slot, command, response, lastStatus, noLog, forceExtended));

    std::unique_ptr<ApduCommand> wrapped(protector->WrapCommand(*command));
    if (!wrapped) {
        LOG_FAILED("SendApdu", CKR_FUNCTION_FAILED);
        return trace.Result(CKR_FUNCTION_FAILED);
    }
    CK_RV rv = SendApduImpl(slot, wrapped.get(), response, lastStatus, noLog, forceExtended);
    // Unwrapping also steps the send sequence counter, so it runs after a
    // failed exchange too.
    const CK_RV unwrapped = protector->UnwrapResponse(*response);
    if (rv == CKR_OK && unwrapped != CKR_OK) {
        // A protected answer that fails its check is not the card's answer;
        // the status word it came with stays in the last-status word, 90 00
        // included.
        StoreStatus(lastStatus, response->sw);
        rv = CKR_FUNCTION_FAILED;
        LOG_FAILED("SendApdu", rv);
    }
    return trace.Result(rv);
}

CK_RV SendGetDataApdu(SCARDHANDLE cardHandle)
{
    FunctionTrace trace("SendGetDataApdu");
    const uint8_t command[] = {0x00, 0xCA, 0x01, 0x83};
    std::vector<uint8_t> answer;
    try {
        answer.resize(kApduReceiveRoom);
    } catch (const std::bad_alloc&) {
        return trace.Result(CKR_HOST_MEMORY);
    }
    DWORD received = kApduReceiveRoom;
    const LONG rv = SCardTransmit(cardHandle, SCARD_PCI_T1, command, sizeof command, nullptr, answer.data(),
                                  &received);
    if (rv != SCARD_S_SUCCESS) {
        LogMessage(LOG_LEVEL_ERROR, true, "SendGetDataApdu", __LINE__, true,
                   "Cannot exchange APDU command, SCardTransmit() result = %s",
                   GetErrorText(static_cast<unsigned long>(rv)));
        LOG_FAILED("SendGetDataApdu", CKR_DEVICE_ERROR);
        return trace.Result(CKR_DEVICE_ERROR);
    }
    if (received < 2) {
        LogMessage(LOG_LEVEL_DEBUG, true, "SendGetDataApdu", __LINE__, true, "Invalid response length: %d (min. 2)",
                   static_cast<int>(received));
        LOG_FAILED("SendGetDataApdu", CKR_FUNCTION_FAILED);
        return trace.Result(CKR_FUNCTION_FAILED);
    }
    return trace.Result(CKR_OK);
}

}  // namespace Brelt::MW::Card
