#include "token/ApplicationOperations.h"

#include <exception>

#include "LogNames.h"
#include "LogTrace.h"
#include "card/CardCommands.h"
#include "card/Fci.h"
#include "card/StatusCache.h"
#include "token/ApplicationInfoList.h"
#include "token/CiaFileReaders.h"

namespace Brelt::MW::Token {

using MW::Base::HexBinary;

namespace {

CK_RV Fail(FunctionTrace& trace, int line, CK_RV rv)
{
    TraceFailed(trace.Function(), line, rv);
    return trace.Result(rv);
}

bool StartsWithMf(const HexBinary& path)
{
    return path.length >= 2 && path.data[0] == 0x3F && path.data[1] == 0x00;
}

// Size of the file at `path` inside the application, from its FCI.
CK_RV ReadFileSize(const Card::Slot* slot, const HexBinary& aid, const HexBinary& path, uint32_t& size)
{
    CK_RV rv = Card::SetIntoCiaAppDF(nullptr, slot, &aid);
    if (rv != CKR_OK) return rv;
    if (path.length > 0xFFFF) return CKR_FUNCTION_FAILED;
    std::vector<uint8_t> fci;
    if (path.length <= 2) {
        rv = Card::SelectFile(slot, path.data, static_cast<uint16_t>(path.length), fci, Card::kSelectByFileId);
    } else if (StartsWithMf(path)) {
        rv = Card::SelectFile(slot, path.data + 2, static_cast<uint16_t>(path.length - 2), fci,
                              Card::kSelectByPathFromMf);
    } else {
        rv = Card::SelectFile(slot, path.data, static_cast<uint16_t>(path.length), fci, 0x09);
    }
    if (rv != CKR_OK) return rv;
    return Card::GetFciFileSize(fci.data(), fci.size(), &size) ? CKR_OK : CKR_FUNCTION_FAILED;
}

}  // namespace

CK_RV WriteObjectInfo(CK_SLOT_ID slotId, CioFileKind kind, uint32_t writeFlag, const CardFileWriter& writer)
{
    FunctionTrace trace("WriteObjectInfo");
    if (kind == 0) {
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, "%s", "UnknownObject info cannot be written to card");
        return Fail(trace, __LINE__, CKR_FUNCTION_FAILED);
    }
    ApplicationInfoPtr application;
    CK_RV rv = GetApplicationInfo(static_cast<uint32_t>(slotId), application);
    if (rv != CKR_OK) return Fail(trace, __LINE__, rv);
    if (!application) return Fail(trace, __LINE__, CKR_FUNCTION_FAILED);
    const CIOObjectList* list = application->FindObjectList(kind);
    if (list == nullptr || !list->path || list->path->length <= 0) {
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, "Could not find fileId of type: %d", static_cast<int>(kind));
        return Fail(trace, __LINE__, CKR_FUNCTION_FAILED);
    }
    Bytes data;
    rv = GetEFData(*application, kind, data);
    if (rv != CKR_OK) return Fail(trace, __LINE__, rv);
    if (!data) return Fail(trace, __LINE__, CKR_FUNCTION_FAILED);

    // A file that does not fit is refused before the first byte is written,
    // so the card never holds a half-written directory file.
    const Card::SlotPtr slot = Card::StatusCache::GetSlot(slotId);
    if (!slot) return Fail(trace, __LINE__, CKR_DEVICE_REMOVED);
    uint32_t fileSize = 0;
    rv = ReadFileSize(slot.get(), *application->Aid, *list->path, fileSize);
    if (rv != CKR_OK) return Fail(trace, __LINE__, rv);
    if (static_cast<uint32_t>(data->length) > fileSize) return Fail(trace, __LINE__, CKR_DEVICE_MEMORY);

    if (!writer) return Fail(trace, __LINE__, CKR_FUNCTION_FAILED);
    rv = writer(*list->path, *data, writeFlag);
    if (rv != CKR_OK) return Fail(trace, __LINE__, rv);
    return trace.Result(CKR_OK);
}

CK_RV SelectDFFromPath(const Card::Slot* slot, const HexBinary& path, uint8_t fileId[2], uint32_t* fileIdLength)
{
    FunctionTrace trace("SelectDFFromPath");
    if (fileId == nullptr || fileIdLength == nullptr) return Fail(trace, __LINE__, CKR_ARGUMENTS_BAD);
    if (path.data == nullptr || path.length < 2 || path.length % 2 != 0 || path.length > 0xFFFF)
        return Fail(trace, __LINE__, CKR_FUNCTION_FAILED);
    if (path.length > 2) {
        CK_RV rv;
        if (StartsWithMf(path)) {
            const uint16_t middle = static_cast<uint16_t>(path.length - 4);
            rv = middle == 0 ? Card::SelectMF(slot)
                             : Card::SelectFile(nullptr, slot, path.data + 2, middle, Card::kSelectByPathFromMf);
        } else {
            rv = Card::SelectFile(nullptr, slot, path.data, static_cast<uint16_t>(path.length - 2), 0x09);
        }
        if (rv != CKR_OK) return Fail(trace, __LINE__, rv);
    }
    fileId[0] = path.data[path.length - 2];
    fileId[1] = path.data[path.length - 1];
    *fileIdLength = 2;
    return trace.Result(CKR_OK);
}

CK_RV ReadCertObject(CK_SLOT_ID slotId, const HexBinary& path, Crypto::CertificateHolder& out)
{
    FunctionTrace trace("ReadCertObject");
    const Card::SlotPtr slot = Card::StatusCache::GetSlot(slotId);
    if (!slot) return Fail(trace, __LINE__, CKR_DEVICE_REMOVED);
    ApplicationInfoPtr application;
    CK_RV rv = GetApplicationInfo(static_cast<uint32_t>(slotId), application);
    if (rv != CKR_OK) return Fail(trace, __LINE__, rv);
    if (!application) return Fail(trace, __LINE__, CKR_FUNCTION_FAILED);
    rv = Card::SetIntoCiaAppDF(nullptr, slot.get(), application->Aid.get());
    if (rv != CKR_OK) return Fail(trace, __LINE__, rv);

    HexBinary data;
    switch (application->Profile) {
    case DefaultProfile:
    case SigGProfile: {
        static const uint8_t kCertificateDf[] = {0x50, 0x15};
        rv = Card::SelectMF(slot.get());
        if (rv == CKR_OK) rv = Card::SelectFile(nullptr, slot.get(), kCertificateDf, 2, Card::kSelectByFileId);
        if (rv == CKR_OK) rv = ReadCertificateObject(slotId, path, data);
        break;
    }
    case SigZepEpProfile: {
        static const uint8_t kCertificateDf[] = {0xDF, 0xF0};
        rv = Card::SelectFile(nullptr, slot.get(), kCertificateDf, 2, Card::kSelectByFileId);
        if (rv == CKR_OK) rv = ReadCertificateObject(slotId, path, data);
        break;
    }
    case QesEacProfile: {
        uint8_t fileId[2] = {0, 0};
        uint32_t fileIdLength = 0;
        rv = SelectDFFromPath(slot.get(), path, fileId, &fileIdLength);
        if (rv == CKR_OK) {
            const HexBinary file(fileId, static_cast<int32_t>(fileIdLength), true);
            rv = ReadCertificateObject(slotId, file, data);
        }
        break;
    }
    default:
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, "Unknown card profile, cannot read certificate object");
        return Fail(trace, __LINE__, CKR_FUNCTION_FAILED);
    }
    if (rv != CKR_OK) return Fail(trace, __LINE__, rv);

    if (IsLogLevelEnabled(LOG_LEVEL_DEBUG)) {
        LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "Data to parse X.509 certificate object:");
        LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "Data to parse X.509 certificate object: %s",
                   data.ToString().c_str());
    }
    try {
        out = Crypto::ParseCertificate(&data);
    } catch (...) {
        out.reset();
    }
    if (!out) {
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, "Cannot parse X.509 certificate object");
        return Fail(trace, __LINE__, CKR_FUNCTION_FAILED);
    }
    return trace.Result(CKR_OK);
}

}  // namespace Brelt::MW::Token
