#include "CardCommands.h"

#include <algorithm>
#include <cstring>

#include "ApduTransport.h"
#include "Fci.h"
#include "LogTrace.h"

namespace Brelt::MW::Card {

using Brelt::MW::Base::HexBinary;

namespace {

constexpr uint16_t kSwEndOfFile = 0x6282;
// Above this offset P1 bit 8 would select a file by short identifier.
constexpr uint32_t kMaxBinaryOffset = 0x7FFF;

CK_RV Failed(FunctionTrace& trace, int line, CK_RV rv)
{
    TraceFailed(trace.Function(), line, rv);
    return trace.Result(rv);
}
#define FAIL(rv) Failed(trace, __LINE__, (rv))

// Sends one prepared command; null `lastStatus` is allowed.
CK_RV Send(const Slot* slot, ApduCommand& command, ApduResponse& response, CK_ULONG* lastStatus,
           bool forceExtended = false)
{
    return SendApdu(slot, &command, &response, lastStatus, 0, forceExtended ? 1 : 0);
}

CK_RV SendWithData(const Slot* slot, ApduCommand& command, ApduResponse& response, CK_ULONG* lastStatus,
                   const uint8_t* data, uint16_t length, bool forceExtended = false)
{
    const CK_RV rv = SetApduData(&command, length, data, 1);
    if (rv != CKR_OK) return rv;
    return Send(slot, command, response, lastStatus, forceExtended);
}

// Copies at most `*length` answer bytes and sets `*length` to the count copied.
void CopyAnswer(const ApduResponse& response, uint8_t* buffer, uint32_t* length)
{
    const uint32_t count = std::min<uint32_t>(*length, response.length);
    if (count > 0) std::memcpy(buffer, response.data.get(), count);
    *length = count;
}

}  // namespace

CK_RV SelectMF(const Slot* slot)
{
    FunctionTrace trace("SelectMF");
    ApduCommand command;
    ApduResponse response;
    SetApdu(&command, 0x00, 0xA4, 0x00, 0x0C, kNoLe, kSwSuccess);
    const CK_RV rv = Send(slot, command, response, nullptr);
    if (rv != CKR_OK) return FAIL(rv);
    return trace.Result(rv);
}

CK_RV SelectFile(CK_ULONG* lastStatus, const Slot* slot, const uint8_t* path, uint16_t pathLength, uint8_t p1)
{
    FunctionTrace trace("SelectFile");
    if (path == nullptr && pathLength != 0) return FAIL(CKR_ARGUMENTS_BAD);
    ApduCommand command;
    ApduResponse response;
    SetApdu(&command, 0x00, 0xA4, p1, 0x0C, kNoLe, kSwSuccess);
    const CK_RV rv = SendWithData(slot, command, response, lastStatus, path, pathLength);
    if (rv != CKR_OK) return FAIL(rv);
    return trace.Result(rv);
}

bool CardCouldNotAnswer(CK_RV rv, CK_ULONG lastStatus)
{
    if (rv == CKR_OK) return false;
    if (rv != CKR_FUNCTION_FAILED) return true;
    const CK_ULONG sw = lastStatus;
    return sw == 0 || sw == 0x6F00 || (sw & 0xFF00) == 0x6400 || (sw & 0xFF00) == 0x6500;
}

CK_RV SelectFile(const Slot* slot, const uint8_t* path, uint16_t pathLength, std::vector<uint8_t>& fci, uint8_t p1)
{
    return SelectFile(nullptr, slot, path, pathLength, fci, p1);
}

CK_RV SelectFile(CK_ULONG* lastStatus, const Slot* slot, const uint8_t* path, uint16_t pathLength,
                 std::vector<uint8_t>& fci, uint8_t p1)
{
    FunctionTrace trace("SelectFile");
    fci.clear();
    if (path == nullptr && pathLength != 0) return FAIL(CKR_ARGUMENTS_BAD);
    ApduCommand command;
    ApduResponse response;
    SetApdu(&command, 0x00, 0xA4, p1, 0x00, 0x00, kSwSuccess);
    const CK_RV rv = SendWithData(slot, command, response, lastStatus, path, pathLength);
    if (rv != CKR_OK) return FAIL(rv);
    fci.assign(response.data.get(), response.data.get() + response.length);
    return trace.Result(rv);
}

CK_RV SetIntoCiaAppDF(CK_ULONG* lastStatus, const Slot* slot, const HexBinary* ciaAid)
{
    FunctionTrace trace("SetIntoCiaAppDF");
    if (ciaAid == nullptr || ciaAid->data == nullptr || ciaAid->length <= 0 || ciaAid->length > 0xFFFF)
        return FAIL(CKR_FUNCTION_FAILED);
    const CK_RV rv = SelectFile(lastStatus, slot, ciaAid->data, static_cast<uint16_t>(ciaAid->length), kSelectByAid);
    if (rv != CKR_OK) return FAIL(rv);
    return trace.Result(rv);
}

CK_RV SetIntoIasAppDF(CK_ULONG* lastStatus, const Slot* slot, const HexBinary* iasAid, uint32_t profile,
                      const std::function<bool()>& ensureSecureChannel)
{
    FunctionTrace trace("SetIntoIasAppDF");
    if (iasAid == nullptr || iasAid->data == nullptr || iasAid->length <= 0 || iasAid->length > 0xFFFF)
        return FAIL(CKR_FUNCTION_FAILED);
    if (profile == kQesEacProfile && !IsFcpFlagSet(lastStatus, slot)) {
        if (!ensureSecureChannel || !ensureSecureChannel()) return FAIL(CKR_FUNCTION_FAILED);
    }
    const CK_RV rv = SelectFile(lastStatus, slot, iasAid->data, static_cast<uint16_t>(iasAid->length), kSelectByAid);
    if (rv != CKR_OK) return FAIL(rv);
    return trace.Result(rv);
}

CK_RV IsEFDirAvailable(const Slot* slot, uint32_t* available)
{
    FunctionTrace trace("IsEFDirAvailable");
    if (slot == nullptr || available == nullptr) return FAIL(CKR_ARGUMENTS_BAD);
    *available = 0;
    const CK_RV rv = SelectMF(slot);
    if (rv != CKR_OK) return FAIL(rv);
    const uint8_t efDir[] = {0x2F, 0x00};
    std::vector<uint8_t> fci;
    CK_ULONG status = 0;
    const CK_RV selected = SelectFile(&status, slot, efDir, sizeof efDir, fci, kSelectByPathFromMf);
    if (CardCouldNotAnswer(selected, status)) return FAIL(selected);
    *available = selected == CKR_OK ? 1 : 0;
    return trace.Result(CKR_OK);
}

CK_RV ReadBinaryInCDF(const Slot* slot, const uint8_t* path, uint16_t pathLength, uint8_t* buffer, uint32_t* length,
                      CK_ULONG* lastStatus, uint8_t p1)
{
    FunctionTrace trace("ReadBinaryInCDF");
    if (buffer == nullptr || length == nullptr || (path == nullptr && pathLength != 0))
        return FAIL(CKR_ARGUMENTS_BAD);

    ApduCommand command;
    ApduResponse response;
    SetApdu(&command, 0x00, 0xA4, p1, 0x00, 0x00, kSwSuccess);
    CK_RV rv = SendWithData(slot, command, response, lastStatus, path, pathLength);
    if (rv != CKR_OK) return FAIL(rv);

    uint32_t fileSize = 0;
    if (!GetFciFileSize(response.data.get(), response.length, &fileSize)) return FAIL(CKR_FUNCTION_FAILED);
    const uint32_t toRead = std::min(*length, fileSize);
    *length = toRead;

    uint32_t offset = 0;
    while (offset < toRead) {
        if (offset > kMaxBinaryOffset) return FAIL(CKR_FUNCTION_FAILED);
        SetApdu(&command, 0x00, 0xB0, uint8_t(offset >> 8), uint8_t(offset), kBinaryChunkSize, kSwNotChecked);
        // A failed exchange counts as SW 0 and ends the read like any other
        // bad SW; so does an answer longer than asked for, whatever its SW.
        const uint16_t sw = Send(slot, command, response, lastStatus) == CKR_OK ? response.sw : 0;
        if (sw != kSwSuccess && sw != kSwEndOfFile) {
            LogMessage(LOG_LEVEL_DEBUG, true, "ReadBinaryInCDF", __LINE__, true, "Invalid response SW: %02X", sw);
            StoreLastStatus(lastStatus, sw);
            return FAIL(CKR_FUNCTION_FAILED);
        }
        if (response.length == 0) {
            // No progress: the card reports the end of the file early, or misbehaves.
            if (response.sw != kSwEndOfFile) return FAIL(CKR_FUNCTION_FAILED);
            break;
        }
        const uint32_t count = std::min<uint32_t>(response.length, toRead - offset);
        std::memcpy(buffer + offset, response.data.get(), count);
        offset += response.length;
        if (response.sw == kSwEndOfFile) break;
    }
    *length = std::min(offset, toRead);
    return trace.Result(CKR_OK);
}

CK_RV ReadBinary(CK_ULONG* lastStatus, const Slot* slot, const uint8_t* path, uint16_t pathLength, uint8_t* buffer,
                 uint32_t* length)
{
    return ReadBinaryInCDF(slot, path, pathLength, buffer, length, lastStatus, kSelectByPathFromMf);
}

CK_RV WriteChunk(CK_ULONG* lastStatus, const Slot* slot, uint32_t offset, const uint8_t* data, uint16_t length)
{
    FunctionTrace trace("WriteChunk");
    if (offset > kMaxBinaryOffset) return FAIL(CKR_FUNCTION_FAILED);
    if (data == nullptr && length != 0) return FAIL(CKR_ARGUMENTS_BAD);
    ApduCommand command;
    ApduResponse response;
    SetApdu(&command, 0x00, 0xD6, uint8_t(offset >> 8), uint8_t(offset), kNoLe, kSwSuccess);
    const CK_RV rv = SendWithData(slot, command, response, lastStatus, data, length);
    if (rv != CKR_OK) return FAIL(rv);
    return trace.Result(rv);
}

CK_RV WriteBinary(CK_ULONG* lastStatus, const Slot* slot, const uint8_t* path, uint16_t pathLength,
                  const uint8_t* data, uint32_t length, uint32_t cardTransaction)
{
    FunctionTrace trace("WriteBinary");
    if (data == nullptr && length != 0) return FAIL(CKR_ARGUMENTS_BAD);
    CK_RV rv = CKR_OK;
    if (path != nullptr && pathLength > 0) {
        rv = SelectFile(lastStatus, slot, path, pathLength, kSelectByFileId);
        if (rv != CKR_OK) return FAIL(rv);
    }
    if (cardTransaction != 0) {
        rv = BeginTransaction(lastStatus, slot);
        if (rv != CKR_OK) return FAIL(rv);
    }
    CK_RV chunkResult = CKR_OK;
    for (uint32_t offset = 0; offset < length; offset += kBinaryChunkSize) {
        const uint16_t count = static_cast<uint16_t>(std::min(kBinaryChunkSize, length - offset));
        chunkResult = WriteChunk(lastStatus, slot, offset, data + offset, count);
        if (chunkResult != CKR_OK) break;
    }
    if (cardTransaction != 0) rv = EndTransaction(lastStatus, slot);
    if (chunkResult != CKR_OK) return FAIL(chunkResult);
    if (rv != CKR_OK) return FAIL(rv);
    return trace.Result(CKR_OK);
}

CK_RV ReadFirstRecord(const Slot* slot, const uint8_t* path, uint16_t pathLength, uint8_t* buffer, uint32_t* length,
                      uint16_t* sw)
{
    FunctionTrace trace("ReadFirstRecord");
    if (buffer == nullptr || length == nullptr || sw == nullptr || (path == nullptr && pathLength != 0))
        return FAIL(CKR_ARGUMENTS_BAD);
    ApduCommand command;
    ApduResponse response;
    SetApdu(&command, 0x00, 0xA4, kSelectEfUnderCurrentDf, 0x00, 0x00, kSwSuccess);
    CK_RV rv = SendWithData(slot, command, response, nullptr, path, pathLength);
    *sw = response.sw;
    if (rv != CKR_OK) {
        *length = 0;
        return FAIL(rv);
    }
    SetApdu(&command, 0x00, 0xB2, 0x00, 0x00, 0x00, kSwSuccess);
    rv = Send(slot, command, response, nullptr);
    *sw = response.sw;
    CopyAnswer(response, buffer, length);
    if (rv != CKR_OK) return FAIL(rv);
    return trace.Result(rv);
}

CK_RV ReadNextRecord(const Slot* slot, uint8_t* buffer, uint32_t* length, uint16_t* sw)
{
    FunctionTrace trace("ReadNextRecord");
    if (buffer == nullptr || length == nullptr || sw == nullptr) return FAIL(CKR_ARGUMENTS_BAD);
    ApduCommand command;
    ApduResponse response;
    SetApdu(&command, 0x00, 0xB2, 0x00, 0x02, 0x00, kSwSuccess);
    const CK_RV rv = Send(slot, command, response, nullptr);
    *sw = response.sw;
    CopyAnswer(response, buffer, length);
    if (rv != CKR_OK) return FAIL(rv);
    return trace.Result(rv);
}

uint16_t GetNumRecords(const Slot* slot, const uint8_t* path, uint16_t pathLength)
{
    FunctionTrace trace("GetNumRecords");
    if (slot == nullptr || path == nullptr || pathLength == 0) return 0xFFFF;
    std::vector<uint8_t> fci;
    if (SelectFile(slot, path, pathLength, fci, kSelectEfUnderCurrentDf) != CKR_OK) return 0xFFFF;
    const TlvValue descriptor = FindFciElement(fci.data(), fci.size(), 0x82);
    if (descriptor.data == nullptr || descriptor.length < 6) return 0xFFFF;
    return descriptor.data[5];
}

CK_RV GetCardOSVersion(const Slot* slot, uint32_t* version)
{
    FunctionTrace trace("GetCardOSVersion");
    if (version == nullptr) return FAIL(CKR_ARGUMENTS_BAD);
    CK_RV rv = SelectMF(slot);
    if (rv != CKR_OK) return FAIL(rv);

    ApduCommand command;
    ApduResponse response;
    SetApdu(&command, 0x00, 0xCA, 0x01, 0x82, kNoLe, kSwSuccess);
    rv = Send(slot, command, response, nullptr);
    const uint8_t* answer = response.data.get();
    if (rv == CKR_OK && response.length == 2 && answer[0] == 0xC9 && answer[1] == 0x01) {
        LogMessage(LOG_LEVEL_INFO, true, "GetCardOSVersion", __LINE__, true, "%s", "Detected CardOS 5.0");
        *version = kCardOs50;
    } else if (rv == CKR_OK && response.length == 2 && answer[0] == 0xC8 && answer[1] == 0x08) {
        LogMessage(LOG_LEVEL_INFO, true, "GetCardOSVersion", __LINE__, true, "%s", "Detected CardOS 4.3B");
        *version = kCardOs43B;
    } else if (rv == CKR_OK && response.length == 2 && answer[0] == 0xC8 && answer[1] == 0x0D) {
        LogMessage(LOG_LEVEL_INFO, true, "GetCardOSVersion", __LINE__, true, "%s", "Detected CardOS 4.4");
        *version = kCardOs44;
    } else {
        LogMessage(LOG_LEVEL_INFO, true, "GetCardOSVersion", __LINE__, true, "%s",
                   "Detected unknown CardOS version, using CardOS 5.0 settings");
        *version = kCardOs50;
    }
    return trace.Result(CKR_OK);
}

CK_RV GetData(CK_ULONG* lastStatus, const Slot* slot)
{
    FunctionTrace trace("GetData");
    ApduCommand command;
    ApduResponse response;
    SetApdu(&command, 0x00, 0xCA, 0x01, 0x83, 0x00, kSwSuccess);
    const CK_RV rv = Send(slot, command, response, lastStatus);
    if (rv != CKR_OK) return FAIL(rv);
    return trace.Result(rv);
}

CK_RV GetData(CK_ULONG* lastStatus, const Slot* slot, uint8_t p2, uint16_t* value)
{
    FunctionTrace trace("GetData");
    if (value == nullptr) return FAIL(CKR_ARGUMENTS_BAD);
    ApduCommand command;
    ApduResponse response;
    SetApdu(&command, 0x00, 0xCA, 0x01, p2, 0x00, kSwSuccess);
    const CK_RV rv = Send(slot, command, response, lastStatus);
    if (rv != CKR_OK) return FAIL(rv);
    if (response.length == 0) return FAIL(CKR_FUNCTION_FAILED);
    *value = response.data[0];
    return trace.Result(CKR_OK);
}

CK_RV CheckLc(CK_ULONG* lastStatus, const Slot* slot, uint8_t expected)
{
    FunctionTrace trace("CheckLc");
    ApduCommand command;
    ApduResponse response;
    SetApdu(&command, 0x00, 0xCA, 0x01, 0x83, 0x00, kSwSuccess);
    const CK_RV rv = Send(slot, command, response, lastStatus);
    if (rv != CKR_OK) return FAIL(rv);
    if (response.length != 1 || response.data[0] != expected) return FAIL(CKR_FUNCTION_FAILED);
    return trace.Result(CKR_OK);
}

CK_RV ChangeLc(CK_ULONG* lastStatus, const Slot* slot, uint8_t expected)
{
    FunctionTrace trace("ChangeLc");
    if (CheckLc(lastStatus, slot, expected) == CKR_OK) return trace.Result(CKR_OK);

    ApduCommand command;
    ApduResponse response;
    SetApdu(&command, 0x80, 0x10, 0x00, 0x00, kNoLe, kSwSuccess);
    const CK_RV rv = Send(slot, command, response, lastStatus);
    if (rv != CKR_OK) {
        LogMessage(LOG_LEVEL_ERROR, true, "ChangeLc", __LINE__, true, "ChangeLc failed, SendApdu() = %s",
                   CkrToString(rv));
        return FAIL(rv);
    }
    const CK_RV checked = CheckLc(lastStatus, slot, expected);
    if (checked != CKR_OK) return FAIL(checked);
    return trace.Result(CKR_OK);
}

CK_RV GetDataSecurityStatus(CK_ULONG* lastStatus, const Slot* slot, uint32_t flags[4])
{
    FunctionTrace trace("GetDataSecurityStatus");
    if (flags == nullptr) return FAIL(CKR_ARGUMENTS_BAD);
    std::fill(flags, flags + 4, 0u);
    CK_RV rv = SelectMF(slot);
    if (rv != CKR_OK) return FAIL(rv);

    ApduCommand command;
    ApduResponse response;
    SetApdu(&command, 0x00, 0xCA, 0x01, 0x84, 0x00, kSwSuccess);
    rv = Send(slot, command, response, lastStatus);
    if (rv != CKR_OK) return FAIL(rv);
    for (uint16_t i = 0; i < response.length; ++i) {
        switch (response.data[i]) {
        case 0x03: flags[0] = 1; break;
        case 0x01: flags[1] = 1; break;
        case 0x94: flags[2] = 1; break;
        case 0x95: flags[3] = 1; break;
        default: break;
        }
    }
    return trace.Result(CKR_OK);
}

CK_RV BeginTransaction(CK_ULONG* lastStatus, const Slot* slot)
{
    FunctionTrace trace("BeginTransaction");
    ApduCommand command;
    ApduResponse response;
    SetApdu(&command, 0x00, 0x12, 0x00, 0x80, kNoLe, kSwSuccess);
    const CK_RV rv = Send(slot, command, response, lastStatus);
    if (rv != CKR_OK) return FAIL(rv);
    return trace.Result(rv);
}

CK_RV EndTransaction(CK_ULONG* lastStatus, const Slot* slot)
{
    FunctionTrace trace("EndTransaction");
    ApduCommand command;
    ApduResponse response;
    SetApdu(&command, 0x00, 0x12, 0x00, 0x81, kNoLe, kSwSuccess);
    const CK_RV rv = Send(slot, command, response, lastStatus);
    if (rv != CKR_OK) return FAIL(rv);
    return trace.Result(rv);
}

CK_RV GenerateAsymKeyPair(CK_ULONG* lastStatus, const Slot* slot, uint8_t p1, uint8_t keyReference,
                          std::vector<uint8_t>& publicKey)
{
    FunctionTrace trace("GenerateAsymKeyPair");
    publicKey.clear();
    const uint8_t data[] = {0xB6, 0x03, 0x84, 0x01, keyReference};
    ApduCommand command;
    ApduResponse response;
    SetApdu(&command, 0x00, 0x47, p1, 0x00, 0x00, kSwSuccess);
    const CK_RV rv = SendWithData(slot, command, response, lastStatus, data, sizeof data, true);
    if (rv != CKR_OK) {
        LogMessage(LOG_LEVEL_ERROR, true, "GenerateAsymKeyPair", __LINE__, true,
                   "GENERATE ASYMETRIC KEY PAIR, SendApdu() = %s", CkrToString(rv));
        return FAIL(rv);
    }
    publicKey.assign(response.data.get(), response.data.get() + response.length);
    return trace.Result(CKR_OK);
}

bool IsFcpFlagSet(CK_ULONG* lastStatus, const Slot* slot)
{
    FunctionTrace trace("IsFcpFlagSet");
    uint16_t value = 0;
    if (GetData(lastStatus, slot, 0x8E, &value) != CKR_OK) return false;
    return (value & 0x01) != 0;
}

}  // namespace Brelt::MW::Card
