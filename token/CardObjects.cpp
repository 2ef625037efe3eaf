#include "token/CardObjects.h"

#include <algorithm>
#include <cstring>

#include "LogTrace.h"
#include "card/ApduTransport.h"
#include "card/CardCommands.h"
#include "card/StatusCache.h"
#include "token/ApplicationInfoList.h"
#include "token/ApplicationOperations.h"
#include "token/AttributeGetters.h"
#include "token/BerTlv.h"
#include "token/CiaFileReaders.h"
#include "token/ObjectHandles.h"
#include "token/TokenInfo.h"

namespace Brelt::MW::Token {

using MW::Base::HexBinary;

namespace {

constexpr uint16_t kSwAlreadyDeactivated = 0x6283;
constexpr uint8_t kCertificateDf[] = {0xDF, 0xF0};
constexpr uint8_t kLifeCycleOperational = 0x20;

CK_RV Failed(FunctionTrace& trace, int line, CK_RV rv)
{
    TraceFailed(trace.Function(), line, rv);
    return trace.Result(rv);
}

// The value of the first element with `tag` inside the answer.
bool TlvValue(const std::vector<uint8_t>& answer, uint8_t tag, std::vector<uint8_t>& value)
{
    uint16_t position = 0;
    uint16_t end = 0;
    const uint16_t offset = FindTlvTag(answer.data(), static_cast<uint32_t>(answer.size()), tag, &position, &end);
    if (offset == kTlvInvalid) return false;
    uint16_t valueLength = 0;
    uint16_t headerLength = 0;
    GetTlvHeader(answer.data() + offset, static_cast<uint32_t>(answer.size() - offset), &valueLength, &headerLength);
    if (headerLength == kTlvInvalid) return false;
    const auto* start = answer.data() + offset + headerLength;
    value.assign(start, start + valueLength);
    return true;
}

// Names a public-key file of an application in the card's memory.
std::string PublicKeyFileKey(const ApplicationInfo& application, const HexBinary& path)
{
    std::string key = "public key ";
    if (application.Aid) key += application.Aid->ToString();
    key += '/';
    key += path.ToString();
    return key;
}

CK_RV LookUp(CK_SLOT_ID slotId, Card::SlotPtr& slot, ApplicationInfoPtr& application)
{
    slot = Card::StatusCache::GetSlotWithoutProbe(slotId);
    if (!slot) return CKR_FUNCTION_FAILED;
    if (CK_RV rv = GetApplicationInfo(static_cast<uint32_t>(slotId), application); rv != CKR_OK) return rv;
    return application ? CKR_OK : CKR_FUNCTION_FAILED;
}

// Rewrites the directory file of `kind` through WriteCardFile.
CK_RV RewriteDirectoryFile(CK_SLOT_ID slotId, CK_ULONG* lastStatus, CioFileKind kind)
{
    return WriteObjectInfo(slotId, kind, 0, [&](const HexBinary& path, const HexBinary& data, uint32_t) {
        return WriteCardFile(slotId, lastStatus, path.data, static_cast<uint16_t>(path.length), data.data,
                             static_cast<uint32_t>(data.length), 0);
    });
}

// Everything a rewrite of the directory file of `kind` checks (the entries
// encode, the file is transparent and large enough), without writing: run
// before the card is changed, so that a directory file that cannot take the
// change (record files, a file too small) leaves card and objects as they were.
CK_RV CheckDirectoryFileRewrite(CK_SLOT_ID slotId, CioFileKind kind)
{
    return WriteObjectInfo(slotId, kind, 0, [](const HexBinary&, const HexBinary&, uint32_t) { return CKR_OK; });
}

// A token object taken out of its list while the card is changed. Unless the
// change is kept, the destructor puts it back at its place with its handle,
// so that the list goes on naming what the card's directory file names.
class DetachedObject {
public:
    DetachedObject(CIOObjectList& list, CK_OBJECT_HANDLE handle) : list_(list)
    {
        const auto found = std::find_if(list.objects.begin(), list.objects.end(),
                                        [handle](const auto& object) { return object && object->handle == handle; });
        if (found == list.objects.end()) return;
        position_ = static_cast<size_t>(found - list.objects.begin());
        object_ = std::move(*found);
        list.objects.erase(found);
    }
    ~DetachedObject()
    {
        if (!object_) return;
        list_.objects.insert(list_.objects.begin() + static_cast<std::ptrdiff_t>(position_), std::move(object_));
    }
    DetachedObject(const DetachedObject&) = delete;
    DetachedObject& operator=(const DetachedObject&) = delete;

    bool Holds() const { return object_ != nullptr; }
    // The object is gone for good; its number is never given again.
    void Keep()
    {
        list_.nextNumber = std::max(list_.nextNumber, (object_->handle & 0xFFFFu) + 1);
        object_.reset();
    }

private:
    CIOObjectList& list_;
    size_t position_ = 0;
    std::unique_ptr<CIOObject> object_;
};

// Deletes a key's or certificate's file on the card with `cardCommand`, and
// its entry from the directory file of `kind`.
template <typename CardCommand>
CK_RV DestroyTokenObject(FunctionTrace& trace, CK_SLOT_ID slotId, CK_ULONG* lastStatus, ApplicationInfo& application,
                         CioFileKind kind, CK_OBJECT_HANDLE handle, CardCommand cardCommand)
{
    CIOObjectList* list = application.FindObjectList(kind);
    if (list == nullptr) return Failed(trace, __LINE__, CKR_OBJECT_HANDLE_INVALID);
    DetachedObject detached(*list, handle);
    if (!detached.Holds()) return Failed(trace, __LINE__, CKR_OBJECT_HANDLE_INVALID);
    if (CK_RV rv = CheckDirectoryFileRewrite(slotId, kind); rv != CKR_OK) return Failed(trace, __LINE__, rv);
    if (CK_RV rv = cardCommand(); rv != CKR_OK) return Failed(trace, __LINE__, rv);
    if (CK_RV rv = RewriteDirectoryFile(slotId, lastStatus, kind); rv != CKR_OK) {
        // The directory file on the card still names the object: so does the list.
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true,
                   "Directory file not rewritten; the object's file is changed on the card but still listed");
        return Failed(trace, __LINE__, rv);
    }
    detached.Keep();
    return trace.Result(CKR_OK);
}

}  // namespace

CK_RV PCSCBeginTransaction(Card::Slot& slot)
{
    FunctionTrace trace("PCSCBeginTransaction");
    LONG rv = SCARD_S_SUCCESS;
    try {
        rv = slot.BeginCardTransaction();
    } catch (...) {
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, "%s", "Exception caught when calling SCardBeginTransaction");
        return Failed(trace, __LINE__, CKR_DEVICE_ERROR);
    }
    if (rv != SCARD_S_SUCCESS) {
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true,
                   "Cannot begin transaction with card, SCardBeginTransaction() result = %s",
                   GetErrorText(static_cast<unsigned long>(rv)));
        return Failed(trace, __LINE__, CKR_DEVICE_ERROR);
    }
    return trace.Result(CKR_OK);
}

CK_RV PCSCEndTransaction(Card::Slot& slot)
{
    FunctionTrace trace("PCSCEndTransaction");
    LONG rv = SCARD_S_SUCCESS;
    try {
        rv = slot.EndCardTransaction();
    } catch (...) {
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, "%s", "Exception caught when calling SCardEndTransaction");
        return Failed(trace, __LINE__, CKR_DEVICE_ERROR);
    }
    if (rv != SCARD_S_SUCCESS) {
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true,
                   "Cannot end transaction with card, SCardEndTransaction() result = %s",
                   GetErrorText(static_cast<unsigned long>(rv)));
        return Failed(trace, __LINE__, CKR_DEVICE_ERROR);
    }
    return trace.Result(CKR_OK);
}

CK_RV PCSCBeginTransaction(CK_SLOT_ID slotId)
{
    const Card::SlotPtr slot = Card::StatusCache::GetSlotWithoutProbe(slotId);
    return slot ? PCSCBeginTransaction(*slot) : CKR_SLOT_ID_INVALID;
}

CK_RV PCSCEndTransaction(CK_SLOT_ID slotId)
{
    const Card::SlotPtr slot = Card::StatusCache::GetSlotWithoutProbe(slotId);
    return slot ? PCSCEndTransaction(*slot) : CKR_SLOT_ID_INVALID;
}

CardTransactionScope::CardTransactionScope(CK_SLOT_ID slotId)
    : slot_(Card::StatusCache::GetSlotWithoutProbe(slotId))
{
    if (slot_) began_ = PCSCBeginTransaction(*slot_) == CKR_OK;
}

CardTransactionScope::~CardTransactionScope()
{
    if (began_ && slot_->IsTransactionOpen()) PCSCEndTransaction(*slot_);
}

CK_RV GenerateRandomData(CK_SLOT_ID slotId, CK_ULONG* lastStatus, uint8_t* buffer, uint16_t count)
{
    FunctionTrace trace("GenerateRandomData");
    const Card::SlotPtr slot = Card::StatusCache::GetSlotWithoutProbe(slotId);
    if (!slot) return Failed(trace, __LINE__, CKR_FUNCTION_FAILED);
    if (count == 0) return trace.Result(CKR_OK);
    if (buffer == nullptr || count > 256) return Failed(trace, __LINE__, CKR_ARGUMENTS_BAD);
    if (CK_RV rv = Card::SelectMF(slot.get()); rv != CKR_OK) return Failed(trace, __LINE__, rv);

    Card::ApduCommand command;
    Card::ApduResponse response;
    // Le 00 asks for 256 bytes in the short form.
    Card::SetApdu(&command, 0x00, 0x84, 0x00, 0x00, count == 256 ? 0 : count, Card::kSwSuccess);
    // Random blocks serve as keys and nonces: the answer stays out of the log.
    CK_RV rv = Card::SendApdu(slot.get(), &command, &response, lastStatus, 1, 0);
    // Bytes the card did not give must never pass for random ones.
    if (rv == CKR_OK && (!response.data || response.length < count)) rv = CKR_FUNCTION_FAILED;
    if (rv != CKR_OK) {
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, "Error while generating random number");
        return Failed(trace, __LINE__, rv);
    }
    std::memcpy(buffer, response.data.get(), count);
    return trace.Result(CKR_OK);
}

CK_RV FindRSAPublicKey(CK_SLOT_ID slotId, CK_ULONG* lastStatus, const CIOObject& key, RsaPublicValues& out)
{
    FunctionTrace trace("FindRSAPublicKey");
    if (key.type != kTypeRsaPrivateKey) return Failed(trace, __LINE__, CKR_OBJECT_HANDLE_INVALID);
    const Card::SlotPtr slot = Card::StatusCache::GetSlotWithoutProbe(slotId);
    if (!slot) return Failed(trace, __LINE__, CKR_DEVICE_REMOVED);
    const CommonKeyAttributes* attributes = key.AsCommonKeyAttributes();
    if (attributes == nullptr || !attributes->keyReference) return Failed(trace, __LINE__, CKR_FUNCTION_FAILED);

    std::vector<uint8_t> answer;
    const CK_RV rv = Card::GenerateAsymKeyPair(lastStatus, slot.get(), 0x83,
                                               static_cast<uint8_t>(*attributes->keyReference & 0xFF), answer);
    if (rv != CKR_OK) return Failed(trace, __LINE__, rv);
    RsaPublicValues values;
    if (!TlvValue(answer, 0x81, values.modulus) || !TlvValue(answer, 0x82, values.exponent)) {
        return Failed(trace, __LINE__, CKR_FUNCTION_FAILED);
    }
    out = std::move(values);
    return trace.Result(CKR_OK);
}

CK_RV GetTokenObjectRecord(CK_SLOT_ID slotId, CK_OBJECT_HANDLE handle, CIOObject** object, CIOObjectType* type)
{
    FunctionTrace trace("GetObjectRecord");
    *object = nullptr;
    if (type != nullptr) *type = 0;
    if (!IsTokenPresent(slotId)) {
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, "Token not present in slot %lu", slotId);
        return Failed(trace, __LINE__, CKR_TOKEN_NOT_PRESENT);
    }
    ApplicationInfoPtr application;
    CK_RV rv = GetApplicationInfo(static_cast<uint32_t>(slotId), application);
    if (rv == CKR_OK && application) rv = FindObjectByHandle(&application->ObjectLists, object, type, handle);
    if (rv != CKR_OK || *object == nullptr) {
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, "%s", "Cannot find token object");
        *object = nullptr;
        return Failed(trace, __LINE__, CKR_OBJECT_HANDLE_INVALID);
    }
    return trace.Result(CKR_OK);
}

CK_RV ReadPublicKey(CK_SLOT_ID slotId, CK_OBJECT_HANDLE handle, RsaPublicValues& out, uint16_t* modulusBits)
{
    FunctionTrace trace("ReadPublicKey");
    Card::SlotPtr slot;
    ApplicationInfoPtr application;
    if (CK_RV rv = LookUp(slotId, slot, application); rv != CKR_OK) return Failed(trace, __LINE__, rv);
    if (application->Profile != DefaultProfile && application->Profile != SigGProfile) {
        return Failed(trace, __LINE__, CKR_OBJECT_HANDLE_INVALID);
    }
    CIOObject* object = nullptr;
    CIOObjectType type = 0;
    if (GetTokenObjectRecord(slotId, handle, &object, &type) != CKR_OK || type != kTypeRsaPublicKey) {
        return Failed(trace, __LINE__, CKR_OBJECT_HANDLE_INVALID);
    }
    const RSAKeyAttributes* rsa = object->AsRSAKeyAttributes();
    if (rsa == nullptr || !rsa->path || rsa->path->length < 2 || rsa->path->length > 0xFFFF) {
        return Failed(trace, __LINE__, CKR_OBJECT_HANDLE_INVALID);
    }

    // The key file is read once per insertion of the card.
    std::vector<uint8_t> bytes;
    Card::CardMemory* const memory = slot->Memory();
    const std::string key = PublicKeyFileKey(*application, *rsa->path);
    if (auto kept = memory != nullptr ? memory->File(key) : std::nullopt) {
        bytes = std::move(*kept);
    } else {
        const uint64_t generation = memory != nullptr ? memory->Generation() : 0;
        // Key files are named relative to the application DF.
        if (CK_RV rv = Card::SetIntoCiaAppDF(nullptr, slot.get(), application->Aid.get()); rv != CKR_OK) {
            return Failed(trace, __LINE__, rv);
        }
        const bool fromMf = rsa->path->length > 2 && rsa->path->data[0] == 0x3F && rsa->path->data[1] == 0x00;
        HexBinary file;
        if (CK_RV rv =
                ReadEF(slot.get(), rsa->path->data, static_cast<uint16_t>(rsa->path->length), file, fromMf ? 0 : 1);
            rv != CKR_OK) {
            return Failed(trace, __LINE__, rv);
        }
        bytes.assign(file.data, file.data + std::max<int32_t>(file.length, 0));
        if (memory != nullptr) memory->KeepFile(key, bytes, generation);
    }

    RsaPublicValues values;
    if (!TlvValue(bytes, 0x81, values.modulus) || values.modulus.empty()) {
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, "Public key wrong format, cannot read modulus");
        return Failed(trace, __LINE__, CKR_WRAPPED_KEY_INVALID);
    }
    if (!TlvValue(bytes, 0x82, values.exponent) || values.exponent.empty()) {
        return Failed(trace, __LINE__, CKR_WRAPPED_KEY_INVALID);
    }
    out = std::move(values);
    if (modulusBits != nullptr) *modulusBits = static_cast<uint16_t>(rsa->modulusLength);
    return trace.Result(CKR_OK);
}

CK_RV WriteCardFile(CK_SLOT_ID slotId, CK_ULONG* lastStatus, const uint8_t* path, uint16_t pathLength,
                    const uint8_t* data, uint32_t dataLength, uint32_t offset)
{
    FunctionTrace trace("WriteCardFile");
    if (!IsTokenPresent(slotId)) {
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, "Token not present in slot %lu", slotId);
        return Failed(trace, __LINE__, CKR_TOKEN_NOT_PRESENT);
    }
    Card::SlotPtr slot;
    ApplicationInfoPtr application;
    if (CK_RV rv = LookUp(slotId, slot, application); rv != CKR_OK) return Failed(trace, __LINE__, CKR_FUNCTION_FAILED);
    if (CK_RV rv = Card::SetIntoCiaAppDF(lastStatus, slot.get(), application->Aid.get()); rv != CKR_OK) {
        return Failed(trace, __LINE__, rv);
    }
    if (offset != 0) {
        // Chunks are written from the offset on.
        if (CK_RV rv = Card::SelectFile(lastStatus, slot.get(), path, pathLength,
                                        pathLength <= 2 ? Card::kSelectByFileId : 0x09);
            rv != CKR_OK) {
            return Failed(trace, __LINE__, rv);
        }
        for (uint32_t done = 0; done < dataLength;) {
            const uint16_t chunk = static_cast<uint16_t>(std::min(Card::kBinaryChunkSize, dataLength - done));
            if (CK_RV rv = Card::WriteChunk(lastStatus, slot.get(), offset + done, data + done, chunk); rv != CKR_OK) {
                return Failed(trace, __LINE__, rv);
            }
            done += chunk;
        }
        return trace.Result(CKR_OK);
    }
    if (CK_RV rv = Card::WriteBinary(lastStatus, slot.get(), path, pathLength, data, dataLength, 0); rv != CKR_OK) {
        return Failed(trace, __LINE__, rv);
    }
    return trace.Result(CKR_OK);
}

uint16_t GetFreeCertFID(CK_SLOT_ID slotId, CK_ULONG* lastStatus, const uint8_t* dfPath, uint16_t pathLength,
                        uint8_t listP1, uint8_t highByte)
{
    FunctionTrace trace("GetFreeCertFID");
    const Card::SlotPtr slot = Card::StatusCache::GetSlotWithoutProbe(slotId);
    if (!slot) return kTlvInvalid;
    if (dfPath != nullptr && pathLength > 0 &&
        Card::SelectFile(lastStatus, slot.get(), dfPath, pathLength, Card::kSelectByFileId) != CKR_OK) {
        return kTlvInvalid;
    }
    std::vector<uint8_t> numbers;
    uint8_t p2 = 0;
    // Each LIST answer names where the next one starts (tag 8A); a card
    // that names the same start again is not followed round in circles.
    for (int page = 0; page < 256; ++page) {
        Card::ApduCommand command;
        Card::ApduResponse response;
        Card::SetApdu(&command, 0x80, 0x16, listP1, p2, 0x00, Card::kSwSuccess);
        if (Card::SendApdu(slot.get(), &command, &response, lastStatus, 0, 0) != CKR_OK) return kTlvInvalid;
        const std::vector<uint8_t> answer(response.data.get(), response.data.get() + response.length);
        uint16_t position = 0;
        uint16_t end = 0;
        for (;;) {
            const uint16_t offset =
                FindTlvTag(answer.data(), static_cast<uint32_t>(answer.size()), 0x86, &position, &end);
            if (offset == kTlvInvalid) break;
            std::vector<uint8_t> fid;
            if (TlvValue(std::vector<uint8_t>(answer.begin() + offset, answer.end()), 0x86, fid) && fid.size() >= 2 &&
                fid[0] == highByte) {
                numbers.push_back(fid[1]);
            }
        }
        std::vector<uint8_t> next;
        if (!TlvValue(answer, 0x8A, next) || next.empty() || next[0] <= p2) break;
        p2 = next[0];
    }
    trace.Result(CKR_OK);
    if (numbers.empty()) return 0;
    return static_cast<uint16_t>(*std::max_element(numbers.begin(), numbers.end()) + 1);
}

CK_RV DestroyPrivKey(CK_SLOT_ID slotId, CK_ULONG* lastStatus, CK_OBJECT_HANDLE handle)
{
    FunctionTrace trace("DestroyPrivKey");
    Card::SlotPtr slot;
    ApplicationInfoPtr application;
    if (CK_RV rv = LookUp(slotId, slot, application); rv != CKR_OK) return Failed(trace, __LINE__, rv);
    CIOObject* key = nullptr;
    if (CK_RV rv = GetTokenObjectRecord(slotId, handle, &key, nullptr); rv != CKR_OK) {
        return Failed(trace, __LINE__, rv);
    }
    const RSAKeyAttributes* rsa = key->AsRSAKeyAttributes();
    if (rsa == nullptr || !rsa->path || rsa->path->length < 2 || rsa->path->length > 0xFFFF) {
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, "%s", "Invalid RSA private key path");
        return Failed(trace, __LINE__, CKR_FUNCTION_FAILED);
    }
    const HexBinary path(*rsa->path);
    return DestroyTokenObject(trace, slotId, lastStatus, *application, kKindRsaPrivateKey, handle, [&]() -> CK_RV {
        if (CK_RV rv = Card::SetIntoIasAppDF(lastStatus, slot.get(), application->IasAid.get(), application->Profile,
                                             [] { return false; });
            rv != CKR_OK) {
            return rv;
        }
        Card::ApduCommand command;
        Card::ApduResponse response;
        Card::SetApdu(&command, 0x00, 0x04, 0x00, 0x00, Card::kNoLe, Card::kSwSuccess);
        if (CK_RV rv = Card::SetApduData(&command, static_cast<uint16_t>(path.length), path.data, 1); rv != CKR_OK) {
            return rv;
        }
        const CK_RV rv = Card::SendApdu(slot.get(), &command, &response, lastStatus, 0, 0);
        // A key file that is deactivated already is what was asked for.
        return rv != CKR_OK && response.sw == kSwAlreadyDeactivated ? CKR_OK : rv;
    });
}

CK_RV DestroyCertificate(CK_SLOT_ID slotId, CK_ULONG* lastStatus, CK_OBJECT_HANDLE handle)
{
    FunctionTrace trace("DestroyCertificate");
    Card::SlotPtr slot;
    ApplicationInfoPtr application;
    if (CK_RV rv = LookUp(slotId, slot, application); rv != CKR_OK) return Failed(trace, __LINE__, rv);
    CIOObject* certificate = nullptr;
    if (CK_RV rv = GetTokenObjectRecord(slotId, handle, &certificate, nullptr); rv != CKR_OK) {
        return Failed(trace, __LINE__, rv);
    }
    const CertificateAttributes* attributes = certificate->AsCertificateAttributes();
    if (attributes == nullptr || !attributes->path || attributes->path->length < 2 || attributes->path->length > 0xFFFF) {
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, "%s", "Invalid certificate path");
        return Failed(trace, __LINE__, CKR_FUNCTION_FAILED);
    }
    const HexBinary path(*attributes->path);
    return DestroyTokenObject(trace, slotId, lastStatus, *application, kKindCertificate, handle, [&]() -> CK_RV {
        CK_RV rv = Card::SetIntoCiaAppDF(lastStatus, slot.get(), application->Aid.get());
        if (rv == CKR_OK) rv = Card::SelectFile(lastStatus, slot.get(), kCertificateDf, sizeof kCertificateDf,
                                                Card::kSelectByFileId);
        if (rv == CKR_OK) rv = Card::ChangeLc(lastStatus, slot.get(), kLifeCycleOperational);
        if (rv != CKR_OK) return rv;
        Card::ApduCommand command;
        Card::ApduResponse response;
        Card::SetApdu(&command, 0x00, 0xE4, 0x02, 0x00, Card::kNoLe, Card::kSwSuccess);
        rv = Card::SetApduData(&command, static_cast<uint16_t>(path.length), path.data, 1);
        if (rv == CKR_OK) rv = Card::SendApdu(slot.get(), &command, &response, lastStatus, 0, 0);
        return rv;
    });
}

CK_RV CreateCertificate(CK_SLOT_ID slotId, CK_ULONG* lastStatus, std::unique_ptr<CIOObject> certificate,
                        const HexBinary& data)
{
    FunctionTrace trace("CreateCertificate");
    Card::SlotPtr slot;
    ApplicationInfoPtr application;
    if (CK_RV rv = LookUp(slotId, slot, application); rv != CKR_OK) return Failed(trace, __LINE__, rv);
    if (!certificate || certificate->AsCertificateAttributes() == nullptr || data.data == nullptr ||
        data.length <= 0 || data.length > 0x7FFF) {
        return Failed(trace, __LINE__, CKR_ARGUMENTS_BAD);
    }
    if (CK_RV rv = Card::SetIntoCiaAppDF(lastStatus, slot.get(), application->Aid.get()); rv != CKR_OK) {
        return Failed(trace, __LINE__, rv);
    }
    if (CK_RV rv = Card::BeginTransaction(lastStatus, slot.get()); rv != CKR_OK) return Failed(trace, __LINE__, rv);

    CK_RV rv = CKR_OK;
    const uint16_t number = GetFreeCertFID(slotId, lastStatus, kCertificateDf, sizeof kCertificateDf, 0x02, 0xEF);
    if (number > 0xFF) rv = CKR_FUNCTION_FAILED;
    const uint8_t path[] = {0xEF, static_cast<uint8_t>(number)};

    // The object joins the certificate list first, so that the directory file
    // is known to take its entry before the card gets the file; it leaves the
    // list again unless everything went through.
    CIOObject* added = nullptr;
    CIOObjectList* list = application->FindObjectList(kKindCertificate);
    const bool newList = list == nullptr;
    if (rv == CKR_OK) {
        if (newList) {
            application->ObjectLists.push_back(std::make_unique<CIOObjectList>(kKindCertificate));
            list = application->ObjectLists.back().get();
        }
        CK_OBJECT_HANDLE handle = 0;
        rv = CreateNewTokenObjectId(*list, &handle);
        if (rv == CKR_OK) {
            certificate->handle = static_cast<uint32_t>(handle);
            certificate->AsCertificateAttributes()->path = std::make_unique<HexBinary>(path, 2, true);
            added = certificate.get();
            list->objects.push_back(std::move(certificate));
        }
    }
    if (rv == CKR_OK) rv = CheckDirectoryFileRewrite(slotId, kKindCertificate);
    if (rv == CKR_OK) rv = Card::SetIntoCiaAppDF(lastStatus, slot.get(), application->Aid.get());
    if (rv == CKR_OK) {
        rv = Card::SelectFile(lastStatus, slot.get(), kCertificateDf, sizeof kCertificateDf, Card::kSelectByFileId);
    }

    if (rv == CKR_OK) {
        const auto size = static_cast<uint16_t>(data.length);
        const uint8_t fcp[] = {0x62, 0x23, 0x80, 0x02, uint8_t(size >> 8), uint8_t(size), 0x83, 0x02, 0xEF,
                               uint8_t(number), 0x85, 0x01, 0x00, 0xAB, 0x14, 0x80, 0x01, 0x01, 0x90, 0x00,
                               0x80, 0x01, 0x8A, 0xA4, 0x06, 0x83, 0x01, 0x14, 0x95, 0x01, 0x80, 0x81, 0x00,
                               0x97, 0x00, 0x88, 0x00};
        Card::ApduCommand command;
        Card::ApduResponse response;
        Card::SetApdu(&command, 0x00, 0xE0, 0x01, 0x00, Card::kNoLe, Card::kSwSuccess);
        rv = Card::SetApduData(&command, sizeof fcp, fcp, 1);
        if (rv == CKR_OK) rv = Card::SendApdu(slot.get(), &command, &response, lastStatus, 0, 0);
    }
    if (rv == CKR_OK) {
        rv = Card::WriteBinary(lastStatus, slot.get(), nullptr, 0, data.data, static_cast<uint32_t>(data.length), 0);
    }
    if (rv == CKR_OK) {
        static const uint8_t kPublic[] = {0xAB, 0x14, 0x80, 0x01, 0x01, 0x90, 0x00, 0x80, 0x01, 0x40, 0xA4,
                                          0x06, 0x83, 0x01, 0x14, 0x95, 0x01, 0x80, 0x81, 0x00, 0x97, 0x00};
        static const uint8_t kPrivate[] = {0xAB, 0x24, 0x80, 0x01, 0x01, 0xA4, 0x06, 0x83, 0x01, 0x03, 0x95, 0x01, 0x08,
                                           0x80, 0x01, 0x40, 0xAF, 0x10, 0xA4, 0x06, 0x83, 0x01, 0x14, 0x95, 0x01, 0x80,
                                           0xA4, 0x06, 0x83, 0x01, 0x03, 0x95, 0x01, 0x08, 0x81, 0x00, 0x97, 0x00};
        CK_BBOOL isPrivate = CK_FALSE;
        CK_ULONG length = sizeof isPrivate;
        AttributeSource none;
        GetCertAttribute(none, added->handle, added, CKA_PRIVATE, &isPrivate, &length);
        const bool privateCertificate = length == sizeof isPrivate && isPrivate == CK_TRUE;
        Card::ApduCommand command;
        Card::ApduResponse response;
        Card::SetApdu(&command, 0x00, 0xDA, 0x01, 0x62, Card::kNoLe, Card::kSwSuccess);
        rv = privateCertificate ? Card::SetApduData(&command, sizeof kPrivate, kPrivate, 1)
                                : Card::SetApduData(&command, sizeof kPublic, kPublic, 1);
        if (rv == CKR_OK) rv = Card::SendApdu(slot.get(), &command, &response, lastStatus, 0, 0);
    }
    if (rv == CKR_OK) rv = RewriteDirectoryFile(slotId, lastStatus, kKindCertificate);
    if (rv != CKR_OK) {
        // A certificate file created before the failure stays on the card,
        // but no directory entry names it, and so no object does.
        if (added != nullptr) DeleteObjectInfo(&application->ObjectLists, added->handle);
        if (newList && list != nullptr) {
            std::erase_if(application->ObjectLists, [list](const auto& held) { return held.get() == list; });
        }
    }
    Card::EndTransaction(lastStatus, slot.get());
    if (rv != CKR_OK) return Failed(trace, __LINE__, rv);
    return trace.Result(CKR_OK);
}

}  // namespace Brelt::MW::Token
