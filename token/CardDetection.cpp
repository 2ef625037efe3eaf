#include "token/CardDetection.h"

#include <algorithm>
#include <map>
#include <new>

#include "LogTrace.h"
#include "card/CardCommands.h"
#include "card/RecursiveMutexLock.h"
#include "card/Slot.h"
#include "token/CiaFileReaders.h"

namespace Brelt::MW::Token {

using Card::Slot;
using MW::Base::HexBinary;

namespace {

using Lock = Card::RecursiveMutexLock;

const uint8_t kPkcs15Aid[] = {0xA0, 0x00, 0x00, 0x00, 0x63, 0x50, 0x4B, 0x43, 0x53, 0x2D, 0x31, 0x35};
const uint8_t kEsignAid[] = {0xA0, 0x00, 0x00, 0x01, 0x67, 0x45, 0x53, 0x49, 0x47, 0x4E};
const uint8_t kSigZepEpAid1[] = {0xD7, 0x03, 0x00, 0x00, 0x11, 0x00, 0x00, 0x01};
const uint8_t kSigZepEpAid2[] = {0xD7, 0x03, 0x00, 0x00, 0x11, 0x00, 0x00, 0x02};
const uint8_t kSigGMarker[] = {0x2F, 0x02};
const uint8_t kCiaPrefix[] = {0xE8, 0x28, 0xBD, 0x08, 0x0F};
const uint8_t kProviderBytes[] = {0xD7, 0x03, 0x00, 0x00, 0x11};

CK_RV Fail(FunctionTrace& trace, int line, CK_RV rv)
{
    TraceFailed(trace.Function(), line, rv);
    return trace.Result(rv);
}

void Info(int level, const char* text)
{
    LogMessage(level, true, nullptr, 0, true, "%s", text);
}

bool HasPrefix(const HexBinary* value, const uint8_t* prefix, size_t length, size_t offset = 0)
{
    if (value == nullptr || value->data == nullptr || value->length < 0) return false;
    if (static_cast<size_t>(value->length) < offset + length) return false;
    return std::equal(prefix, prefix + length, value->data + offset);
}

Bytes Copy(const Bytes& value)
{
    return value ? std::make_unique<HexBinary>(*value) : nullptr;
}

std::shared_ptr<ApplicationInfo> NewApplication(uint32_t cardOS, uint32_t profile)
{
    auto application = std::make_shared<ApplicationInfo>();
    application->CardOS = cardOS;
    application->Profile = profile;
    application->Fid = std::make_unique<HexBinary>();
    return application;
}

bool IsEmpty(const Bytes& value)
{
    return !value || value->length <= 0;
}

// CIAInfo and ODF of the selected application.
CK_RV ReadCiaAndOdf(const Slot* slot, ApplicationInfo& application, OdfRecords& odf)
{
    HexBinary file;
    CK_RV rv = ReadCIAInfo(slot, file);
    if (rv != CKR_OK) return rv;
    auto info = std::make_unique<CIAInfo>();
    rv = ParseCIAInfo(&file, *info);
    if (rv != CKR_OK) return rv;
    application.CiaInfo = std::move(info);
    rv = ReadEFOd(slot, file);
    if (rv != CKR_OK) return rv;
    return ParseOD(&file, odf);
}

// The directory files of an application as they are read during one load.
// Two object kinds share each of the PIN, private-key and public-key
// directory files (the ODF names a file once, under one index), so each
// index is read from the card once and handed to both kinds.
template <typename Files>
class DirectoryFiles {
public:
    // The files the ODF lists under the index of `kind`; `lastPath` becomes
    // the path of the last one.
    CK_RV Load(const Slot* slot, CioFileKind kind, const OdfRecords& odf, uint32_t transparent, Bytes& lastPath,
               const Files*& files)
    {
        const uint32_t index = CioFileKindToOdfIndex(kind);
        auto found = read_.find(index);
        if (found == read_.end()) {
            Read read;
            const CK_RV rv = LoadCIOData(slot, index, odf, read.files, read.lastPath, transparent);
            if (rv != CKR_OK) return rv;
            found = read_.emplace(index, std::move(read)).first;
        }
        lastPath = Copy(found->second.lastPath);
        files = &found->second.files;
        return CKR_OK;
    }

private:
    struct Read {
        Files files;
        Bytes lastPath;
    };
    std::map<uint32_t, Read> read_;
};

// Settings that tell the loaders of one application per EF.DIR record apart.
struct RecordLoader {
    const char* name;
    std::function<bool(const HexBinary* aid)> acceptAid;
    bool checkPin;
    const ZepPinCheck* pinCheck;
    uint32_t firstKey;
};

CK_RV LoadPerRecord(const RecordLoader& loader, const Slot* slot, uint32_t cardOS, uint32_t profile,
                    const EfDirRecords& records, ApplicationInfoList& out)
{
    FunctionTrace trace(loader.name);
    if (slot == nullptr) return Fail(trace, __LINE__, CKR_ARGUMENTS_BAD);
    uint32_t key = loader.firstKey;
    for (const EfDirRecord& record : records) {
        auto application = NewApplication(cardOS, profile);
        application->DescriptiveString = Copy(record.label);
        application->Aid = Copy(record.aid);
        if (record.aid) {
            const CK_RV rv = GetApplicationFID(slot, *record.aid, application->Fid);
            if (rv != CKR_OK)
                LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, "GetApplicationFID failed, result = %s",
                           CkrToString(rv));
        }
        if (!loader.acceptAid(record.aid.get()) || IsEmpty(application->Fid)) continue;

        OdfRecords odf;
        if (ReadCiaAndOdf(slot, *application, odf) != CKR_OK) continue;
        application->CiaLoaded = 1;
        if (record.ddoAid && record.ddoAid->length > 0 && record.ddoAid->data[0] != 0x00)
            application->IasAid = Copy(record.ddoAid);

        DirectoryFiles<HexBinaries> directoryFiles;
        for (CioFileKind kind = kFirstKind; kind <= kLastKind; ++kind) {
            auto list = std::make_unique<CIOObjectList>(kind);
            const HexBinaries* files = nullptr;
            CK_RV rv = directoryFiles.Load(slot, kind, odf, 1, list->path, files);
            if (rv != CKR_OK) return Fail(trace, __LINE__, rv);
            for (const auto& file : *files) {
                rv = ParseCIOFile(file.get(), *list, application->Profile);
                if (rv != CKR_OK) return Fail(trace, __LINE__, rv);
            }
            application->ObjectLists.push_back(std::move(list));
        }
        if (loader.checkPin) {
            const bool admitted = loader.pinCheck != nullptr && *loader.pinCheck && (*loader.pinCheck)(slot, *application);
            if (!admitted) continue;
        }
        out[key++] = std::move(application);
    }
    return trace.Result(CKR_OK);
}

// Bit `index` of BIT STRING contents (unused-bits octet first), in DER
// named-bit order.
bool BitIsSet(const Bytes& bits, int index)
{
    if (!bits || bits->length < 2) return false;
    const int octet = 1 + index / 8;
    if (octet >= bits->length) return false;
    return (bits->data[octet] & (0x80 >> (index % 8))) != 0;
}

}  // namespace

bool CheckSupportedCards(uint32_t cardOS, uint32_t profile)
{
    const char* const name = "CheckSupportedCards";
    TraceEntering(name);
    const bool refused = cardOS == UnknownCardOS || profile == UnknownProfile ||
                         (cardOS == CardOSv50 && (profile == SigZepEpProfile || profile == QesEacProfile));
    if (refused) {
        LogMessage(LOG_LEVEL_INFO, true, nullptr, 0, true, "Leaving %s: FALSE", name);
        return false;
    }
    LogMessage(LOG_LEVEL_TRACE, true, nullptr, 0, true, "Leaving %s: TRUE", name);
    return true;
}

bool IsCiaBreltApplication(const HexBinary* aid)
{
    return aid != nullptr && aid->length >= 11 && HasPrefix(aid, kCiaPrefix, sizeof kCiaPrefix) &&
           HasPrefix(aid, kProviderBytes, sizeof kProviderBytes, sizeof kCiaPrefix);
}

bool IsCiaApplication(const HexBinary* aid)
{
    return aid != nullptr && aid->length > 5 && HasPrefix(aid, kCiaPrefix, sizeof kCiaPrefix);
}

CK_RV GetApplicationFID(const Slot* slot, const HexBinary& aid, Bytes& fid, bool* unanswered)
{
    FunctionTrace trace("GetApplicationFID");
    if (unanswered != nullptr) *unanswered = false;
    if (slot == nullptr || aid.data == nullptr || aid.length <= 0 || aid.length > 0xFFFF)
        return Fail(trace, __LINE__, CKR_ARGUMENTS_BAD);
    std::vector<uint8_t> fci;
    CK_ULONG status = 0;
    CK_RV rv = Card::SelectFile(&status, slot, aid.data, static_cast<uint16_t>(aid.length), fci, Card::kSelectByAid);
    if (rv != CKR_OK) {
        if (unanswered != nullptr) *unanswered = Card::CardCouldNotAnswer(rv, status);
        return Fail(trace, __LINE__, rv);
    }
    if (fci.empty()) return trace.Result(CKR_OK);
    Bytes fileId;
    try {
        const HexBinary bytes(fci.data(), static_cast<int32_t>(fci.size()), true);
        Crypto::ASN::ASN1Object element;
        element.Parse(&bytes);
        if (const auto* child = element.FindChild(0x83)) {
            const auto& contents = child->Contents();
            fileId = std::make_unique<HexBinary>(contents.data(), static_cast<int32_t>(contents.size()), true);
        }
    } catch (...) {
        fileId.reset();
    }
    if (!fileId) return Fail(trace, __LINE__, CKR_ARGUMENTS_BAD);
    fid = std::move(fileId);
    return trace.Result(CKR_OK);
}

CK_RV IsQesEacProfile(const EfDirRecords& records, uint32_t* flag)
{
    FunctionTrace trace("IsQesEacProfile");
    if (flag == nullptr) return Fail(trace, __LINE__, CKR_ARGUMENTS_BAD);
    *flag = 0;
    for (const EfDirRecord& record : records) {
        // A record without an AID (or with an empty one) names no application.
        const HexBinary* aid = record.aid.get();
        if (aid == nullptr || aid->data == nullptr || aid->length <= 0) continue;
        if (static_cast<size_t>(aid->length) > sizeof kEsignAid) continue;
        if (std::equal(aid->data, aid->data + aid->length, kEsignAid)) *flag = 1;
    }
    return trace.Result(CKR_OK);
}

CK_RV IsSigGProfile(const Slot* slot, uint32_t* flag)
{
    FunctionTrace trace("IsSigGProfile");
    if (slot == nullptr || flag == nullptr) return Fail(trace, __LINE__, CKR_ARGUMENTS_BAD);
    *flag = 0;
    CK_RV rv = Card::SelectMF(slot);
    if (rv != CKR_OK) return Fail(trace, __LINE__, rv);
    CK_ULONG status = 0;
    rv = Card::SelectFile(&status, slot, kSigGMarker, sizeof kSigGMarker, Card::kSelectEfUnderCurrentDf);
    // Only the card's own answer says the marker is not there.
    if (Card::CardCouldNotAnswer(rv, status)) return Fail(trace, __LINE__, rv);
    if (rv == CKR_OK) *flag = 1;
    return trace.Result(CKR_OK);
}

CK_RV IsSigZepEpProfile(const Slot* slot, uint32_t* flag)
{
    FunctionTrace trace("IsSigZepEpProfile");
    if (slot == nullptr || flag == nullptr) return Fail(trace, __LINE__, CKR_ARGUMENTS_BAD);
    *flag = 0;
    CK_RV rv = Card::SelectMF(slot);
    if (rv != CKR_OK) return Fail(trace, __LINE__, rv);
    CK_ULONG status = 0;
    rv = Card::SelectFile(&status, slot, kSigZepEpAid1, sizeof kSigZepEpAid1, Card::kSelectByAid);
    if (Card::CardCouldNotAnswer(rv, status)) return Fail(trace, __LINE__, rv);
    const bool first = rv == CKR_OK;
    rv = Card::SelectMF(slot);
    if (rv != CKR_OK) return Fail(trace, __LINE__, rv);
    rv = Card::SelectFile(&status, slot, kSigZepEpAid2, sizeof kSigZepEpAid2, Card::kSelectByAid);
    if (Card::CardCouldNotAnswer(rv, status)) return Fail(trace, __LINE__, rv);
    const bool second = rv == CKR_OK;
    if (first && second) *flag = 1;
    return trace.Result(CKR_OK);
}

CK_RV LoadAppsInfo_Default(const Slot* slot, uint32_t cardOS, uint32_t profile, ApplicationInfoList& out)
{
    FunctionTrace trace("LoadAppsInfo_Default");
    if (slot == nullptr) return Fail(trace, __LINE__, CKR_ARGUMENTS_BAD);
    const uint32_t key = static_cast<uint32_t>(slot->SlotId());
    auto application = NewApplication(cardOS, profile);
    application->Aid = std::make_unique<HexBinary>(kPkcs15Aid, static_cast<int32_t>(sizeof kPkcs15Aid), true);

    bool unanswered = false;
    CK_RV rv = GetApplicationFID(slot, *application->Aid, application->Fid, &unanswered);
    if (rv != CKR_OK)
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, "GetApplicationFID failed, result = %s", CkrToString(rv));
    // A card that gave no real answer is read again; only its own answer
    // says that it has no such application.
    if (unanswered) return Fail(trace, __LINE__, rv);
    if (IsEmpty(application->Fid)) return trace.Result(CKR_OK);

    OdfRecords odf;
    rv = ReadCiaAndOdf(slot, *application, odf);
    if (rv != CKR_OK) return Fail(trace, __LINE__, rv);
    application->CiaLoaded = 1;
    application->IasAid = std::make_unique<HexBinary>(*application->Aid);

    DirectoryFiles<std::vector<AsnElements>> directoryFiles;
    for (CioFileKind kind = kFirstKind; kind <= kLastKind; ++kind) {
        auto list = std::make_unique<CIOObjectList>(kind);
        const std::vector<AsnElements>* files = nullptr;
        rv = directoryFiles.Load(slot, kind, odf, 0, list->path, files);
        if (rv != CKR_OK) return Fail(trace, __LINE__, rv);
        for (const AsnElements& entries : *files) {
            rv = ParseCIOFile(entries, *list, application->Profile);
            if (rv != CKR_OK) return Fail(trace, __LINE__, rv);
        }
        if (!files->empty()) application->ObjectLists.push_back(std::move(list));
    }
    out[key] = std::move(application);
    return trace.Result(CKR_OK);
}

CK_RV LoadAppsInfo_SigZepEp(const Slot* slot, uint32_t cardOS, uint32_t profile, const EfDirRecords& records,
                            ApplicationInfoList& out, const ZepPinCheck& pinCheck)
{
    const RecordLoader loader{"LoadAppsInfo_SigZepEp", IsCiaBreltApplication, true, &pinCheck,
                              slot != nullptr ? static_cast<uint32_t>(slot->SlotId()) : 0};
    return LoadPerRecord(loader, slot, cardOS, profile, records, out);
}

CK_RV LoadAppsInfo_QesEac(const Slot* slot, uint32_t cardOS, uint32_t profile, const EfDirRecords& records,
                          ApplicationInfoList& out)
{
    const RecordLoader loader{"LoadAppsInfo_QesEac", [](const HexBinary*) { return true; }, false, nullptr,
                              slot != nullptr ? static_cast<uint32_t>(slot->SlotId()) : 0};
    return LoadPerRecord(loader, slot, cardOS, profile, records, out);
}

CK_RV LoadAppInfo(const Slot* slot, const EfDirRecords& records, ApplicationInfoList& out, const ZepPinCheck& pinCheck)
{
    const RecordLoader loader{"LoadAppInfo", IsCiaApplication, true, &pinCheck, 0};
    return LoadPerRecord(loader, slot, UnknownCardOS, UnknownProfile, records, out);
}

CK_RV LoadCardAppsInfo(const Slot* slot, uint32_t cardOS, uint32_t profile, const EfDirRecords& records,
                       ApplicationInfoList& out)
{
    FunctionTrace trace("LoadCardAppsInfo");
    if (!CheckSupportedCards(cardOS, profile)) {
        Info(LOG_LEVEL_ERROR, "Card is unsupported!!!");
        return trace.Result(CKR_OK);
    }
    CK_RV rv = CKR_OK;
    const bool knownOS = cardOS == CardOSv43 || cardOS == CardOSv44 || cardOS == CardOSv50;
    if (!knownOS) {
        Info(LOG_LEVEL_ERROR, "Card operation system is unknown for this pkcs11 driver, the card is unsupported");
        return trace.Result(CKR_OK);
    }
    if (profile == DefaultProfile) {
        Info(LOG_LEVEL_INFO, "Loading CIA data from Default profile");
        rv = LoadAppsInfo_Default(slot, cardOS, profile, out);
    } else if (profile == SigGProfile) {
        Info(LOG_LEVEL_INFO, "Loading CIA data from SigG profile");
        rv = LoadAppsInfo_Default(slot, cardOS, profile, out);
    } else if (cardOS == CardOSv50 && profile == SigZepEpProfile) {
        Info(LOG_LEVEL_INFO, "Loading CIA data from SigZepEp profile");
        rv = LoadAppsInfo_SigZepEp(slot, cardOS, profile, records, out);
    } else if (cardOS == CardOSv50 && profile == QesEacProfile) {
        Info(LOG_LEVEL_INFO, "Loading CIA data from QesEac profile");
        rv = LoadAppsInfo_QesEac(slot, cardOS, profile, records, out);
    } else {
        Info(LOG_LEVEL_ERROR, "Card profile has not been detected, the card is unsupported");
        return trace.Result(CKR_OK);
    }
    if (rv != CKR_OK) return Fail(trace, __LINE__, rv);
    return trace.Result(CKR_OK);
}

CK_RV LoadReaderApplications(const std::string& readerName, const Slot* slot, std::vector<Card::SlotPtr>& createdSlots,
                             uint32_t* ownApplication, const SlotFactory& createSlot)
{
    FunctionTrace trace("LoadReaderApplications");
    if (slot == nullptr || ownApplication == nullptr) return Fail(trace, __LINE__, CKR_ARGUMENTS_BAD);
    Lock lock(&ApplicationListMutex());

    uint32_t cardOS = UnknownCardOS;
    CK_RV rv = Card::GetCardOSVersion(slot, &cardOS);
    if (rv != CKR_OK) return Fail(trace, __LINE__, rv);
    if (cardOS == UnknownCardOS) {
        Info(LOG_LEVEL_INFO, "Unknown card - no Card OS v.5_0 or v.4_3 detected");
        *ownApplication = 0;
        return trace.Result(CKR_OK);
    }

    uint32_t efDirPresent = 0;
    rv = Card::IsEFDirAvailable(slot, &efDirPresent);
    if (rv != CKR_OK) return Fail(trace, __LINE__, rv);
    EfDirRecords records;
    if (efDirPresent != 0) {
        Info(LOG_LEVEL_INFO, "EF.DIR file detected...");
        rv = LoadEFDirInfo(slot, records);
        if (rv != CKR_OK) return Fail(trace, __LINE__, rv);
    } else {
        Info(LOG_LEVEL_INFO, "EF.DIR file was not found");
    }

    uint32_t flag = 0;
    uint32_t profile = DefaultProfile;
    IsQesEacProfile(records, &flag);
    if (flag != 0) {
        profile = QesEacProfile;
    } else {
        rv = IsSigGProfile(slot, &flag);
        if (rv != CKR_OK) return Fail(trace, __LINE__, rv);
        if (flag != 0) {
            profile = SigGProfile;
        } else {
            rv = IsSigZepEpProfile(slot, &flag);
            if (rv != CKR_OK) return Fail(trace, __LINE__, rv);
            if (flag != 0) profile = SigZepEpProfile;
        }
    }
    if (cardOS == CardOSv50 && profile == SigZepEpProfile) Info(LOG_LEVEL_INFO, "Eid card detected...");
    if (cardOS == CardOSv50 && profile == QesEacProfile) Info(LOG_LEVEL_INFO, "Eid card (QES EAC profile) detected...");

    ApplicationInfoList local;
    rv = LoadCardAppsInfo(slot, cardOS, profile, records, local);
    if (rv != CKR_OK) return Fail(trace, __LINE__, rv);

    ApplicationInfoList& table = GlobalApplicationList();
    if (local.empty()) {
        LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "No application found");
        *ownApplication = 0;
    } else {
        *ownApplication = 1;
        std::vector<uint32_t> inserted;
        std::vector<Card::SlotPtr> slots;
        for (auto& [id, application] : local) {
            if (application->CiaLoaded == 0) continue;
            std::string text;
            try {
                text = readerName + "; ";
                if (application->CiaInfo && application->CiaInfo->label)
                    text += application->CiaInfo->label->ToCharString();
            } catch (const std::bad_alloc&) {
                Info(LOG_LEVEL_ERROR, "Not enough memory");
                for (const uint32_t done : inserted) table.erase(done);
                return Fail(trace, __LINE__, CKR_HOST_MEMORY);
            }
            Card::SlotPtr newSlot;
            rv = createSlot ? createSlot(readerName, text, id, newSlot) : CKR_FUNCTION_FAILED;
            if (rv != CKR_OK || !newSlot) {
                // The card is given up: none of its applications stays in the table.
                for (const uint32_t done : inserted) table.erase(done);
                if (rv == CKR_OK) rv = CKR_FUNCTION_FAILED;
                return Fail(trace, __LINE__, rv);
            }
            slots.push_back(std::move(newSlot));
            LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "Creating slot with id %d", static_cast<int>(id));
            table[id] = application;
            inserted.push_back(id);
        }
        for (auto& created : slots) createdSlots.push_back(std::move(created));
    }
    LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "Found application count: %d", static_cast<int>(table.size()));
    return trace.Result(CKR_OK);
}

CK_RV RefreshAppInfo(const Slot* slot, const ZepPinCheck& pinCheck)
{
    FunctionTrace trace("RefreshAppInfo");
    if (slot == nullptr) return Fail(trace, __LINE__, CKR_ARGUMENTS_BAD);
    Lock lock(&ApplicationListMutex());
    uint32_t cardOS = UnknownCardOS;
    CK_RV rv = Card::GetCardOSVersion(slot, &cardOS);
    if (rv != CKR_OK) return Fail(trace, __LINE__, rv);
    if (cardOS != CardOSv50) return trace.Result(CKR_OK);
    EfDirRecords records;
    rv = LoadEFDirInfo(slot, records);
    if (rv != CKR_OK) return Fail(trace, __LINE__, rv);
    ApplicationInfoList reread;
    rv = LoadAppInfo(slot, records, reread, pinCheck);
    if (rv != CKR_OK) return Fail(trace, __LINE__, rv);

    ApplicationInfoList& table = GlobalApplicationList();
    for (const Card::SlotPtr& readerSlot : Card::StatusCache::GetSlotsForReaderName(slot->ReaderName())) {
        if (!readerSlot || !readerSlot->IsValid()) continue;
        const auto old = table.find(static_cast<uint32_t>(readerSlot->SlotId()));
        if (old == table.end() || old->second->Timestamp || !old->second->Aid) continue;
        for (auto& [key, fresh] : reread) {
            if (!fresh || !fresh->Aid || !fresh->Aid->Equals(old->second->Aid.get())) continue;
            // PIN lengths of the PINs that are not local carry over.
            uint32_t minLength = 0;
            uint32_t maxLength = 0;
            if (const CIOObjectList* pins = old->second->FindObjectList(kKindPin)) {
                for (const auto& pin : pins->objects) {
                    const PasswordAttributes* pwd = pin->AsPasswordAttributes();
                    if (pwd == nullptr || BitIsSet(pwd->pwdFlags, 1)) continue;
                    minLength = pwd->minLength;
                    maxLength = pwd->maxLength;
                }
            }
            if (CIOObjectList* pins = fresh->FindObjectList(kKindPin)) {
                for (auto& pin : pins->objects) {
                    PasswordAttributes* pwd = pin->AsPasswordAttributes();
                    if (pwd == nullptr || BitIsSet(pwd->pwdFlags, 1)) continue;
                    pwd->minLength = minLength;
                    pwd->maxLength = maxLength;
                }
            }
            fresh->CardOS = old->second->CardOS;
            fresh->Profile = old->second->Profile;
            old->second = std::move(fresh);
            break;
        }
    }
    return trace.Result(CKR_OK);
}

}  // namespace Brelt::MW::Token
