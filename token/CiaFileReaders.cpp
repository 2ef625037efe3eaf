#include "token/CiaFileReaders.h"

#include "Ber.h"
#include "LogTrace.h"
#include "card/CardCommands.h"
#include "card/StatusCache.h"

namespace Brelt::MW::Token {

using MW::Base::HexBinary;

namespace {

CK_RV Fail(FunctionTrace& trace, int line, CK_RV rv)
{
    TraceFailed(trace.Function(), line, rv);
    return trace.Result(rv);
}

const uint8_t kEfDir[] = {0x2F, 0x00};
const uint8_t kCiaInfo[] = {0x50, 0x32};
const uint8_t kOdf[] = {0x50, 0x31};

// Fill bytes of a record after its entry.
bool IsPadding(const uint8_t* bytes, int64_t length)
{
    for (int64_t i = 0; i < length; ++i) {
        if (bytes[i] != 0x00 && bytes[i] != 0xFF) return false;
    }
    return true;
}

// Reads the records of a record EF one by one and hands each to `take`.
template <typename Take>
CK_RV ReadRecords(const Slot* slot, const uint8_t* path, uint16_t pathLength, Take take)
{
    std::vector<uint8_t> buffer(kMaxCardFileSize);
    uint32_t length = kMaxCardFileSize;
    uint16_t sw = 0;
    CK_RV rv = Card::ReadFirstRecord(slot, path, pathLength, buffer.data(), &length, &sw);
    if (rv != CKR_OK) return sw == kSwRecordNotFound ? CKR_OK : rv;
    take(buffer.data(), length, true);
    for (uint32_t count = 1;; ++count) {
        length = kMaxCardFileSize;
        sw = 0;
        rv = Card::ReadNextRecord(slot, buffer.data(), &length, &sw);
        if (rv != CKR_OK) return sw == kSwRecordNotFound ? CKR_OK : rv;
        // A card that keeps answering records is faulty (or wraps around).
        if (count >= kMaxRecordCount) return CKR_FUNCTION_FAILED;
        if (length > 0) take(buffer.data(), length, false);
    }
}

}  // namespace

CK_RV ReadEF(const Slot* slot, const uint8_t* path, uint16_t pathLength, HexBinary& out, uint32_t plainRead)
{
    FunctionTrace trace("ReadEF");
    if (slot == nullptr || path == nullptr) return Fail(trace, __LINE__, CKR_ARGUMENTS_BAD);
    uint8_t p1 = pathLength <= 2 ? Card::kSelectByFileId : 0x09;
    if (plainRead == 0) p1 = Card::kSelectByPathFromMf;
    std::vector<uint8_t> buffer(kMaxCardFileSize);
    uint32_t length = kMaxCardFileSize;
    CK_ULONG lastStatus = 0;
    const CK_RV rv = Card::ReadBinaryInCDF(slot, path, pathLength, buffer.data(), &length, &lastStatus, p1);
    if (rv != CKR_OK) return Fail(trace, __LINE__, rv);
    if (length > kMaxCardFileSize) length = kMaxCardFileSize;
    out = HexBinary(buffer.data(), static_cast<int32_t>(length), true);
    return trace.Result(CKR_OK);
}

CK_RV ReadEFDir(const Slot* slot, HexBinary& out)
{
    FunctionTrace trace("ReadEFDir");
    return trace.Result(ReadEF(slot, kEfDir, sizeof kEfDir, out, 1));
}

CK_RV ReadCIAInfo(const Slot* slot, HexBinary& out)
{
    FunctionTrace trace("ReadCIAInfo");
    return trace.Result(ReadEF(slot, kCiaInfo, sizeof kCiaInfo, out, 1));
}

CK_RV ReadEFOd(const Slot* slot, HexBinary& out)
{
    FunctionTrace trace("ReadEFOd");
    return trace.Result(ReadEF(slot, kOdf, sizeof kOdf, out, 1));
}

CK_RV ReadCIO(const Slot* slot, const HexBinary& path, HexBinary& out)
{
    FunctionTrace trace("ReadCIO");
    if (path.data == nullptr || path.length <= 0 || path.length > 0xFFFF) return Fail(trace, __LINE__, CKR_ARGUMENTS_BAD);
    return trace.Result(ReadEF(slot, path.data, static_cast<uint16_t>(path.length), out, 1));
}

CK_RV ReadEFRecord(const Slot* slot, const uint8_t* path, uint16_t pathLength, HexBinary& out)
{
    FunctionTrace trace("ReadEFRecord");
    HexBinary joined;
    CK_RV rv = ReadRecords(slot, path, pathLength, [&](const uint8_t* bytes, uint32_t length, bool) {
        const HexBinary record(bytes, static_cast<int32_t>(length), true);
        joined.Append(&record);
    });
    if (rv != CKR_OK) return Fail(trace, __LINE__, rv);
    out = std::move(joined);
    return trace.Result(CKR_OK);
}

CK_RV ReadEFRecordList(const Slot* slot, const uint8_t* path, uint16_t pathLength, HexBinaries& out)
{
    FunctionTrace trace("ReadEFRecordList");
    HexBinaries records;
    CK_RV rv = ReadRecords(slot, path, pathLength, [&](const uint8_t* bytes, uint32_t length, bool) {
        records.push_back(std::make_unique<HexBinary>(bytes, static_cast<int32_t>(length), true));
    });
    if (rv != CKR_OK) return Fail(trace, __LINE__, rv);
    for (auto& record : records) out.push_back(std::move(record));
    return trace.Result(CKR_OK);
}

CK_RV ReadCIORecordFile(const Slot* slot, const HexBinary& path, HexBinary& out)
{
    FunctionTrace trace("ReadCIORecordFile");
    if (path.data == nullptr || path.length <= 0 || path.length > 0xFFFF) return Fail(trace, __LINE__, CKR_ARGUMENTS_BAD);
    return trace.Result(ReadEFRecord(slot, path.data, static_cast<uint16_t>(path.length), out));
}

CK_RV ReadCIORecordFile(const Slot* slot, const HexBinary& path, AsnElements& out)
{
    FunctionTrace trace("ReadCIORecordFile");
    if (path.data == nullptr || path.length <= 0 || path.length > 0xFFFF) return Fail(trace, __LINE__, CKR_ARGUMENTS_BAD);
    HexBinaries records;
    CK_RV rv = ReadEFRecordList(slot, path.data, static_cast<uint16_t>(path.length), records);
    if (rv != CKR_OK) return Fail(trace, __LINE__, rv);
    AsnElements entries;
    for (const auto& record : records) {
        // Each record carries a two-byte prefix before its entry. A cleared
        // record (nothing but fill bytes) holds no object.
        if (record->length <= 2 || IsPadding(record->data + 2, record->length - 2)) continue;
        const HexBinary entry(record->data + 2, record->length - 2, true);
        auto node = std::make_unique<Crypto::ASN::ASN1Object>();
        try {
            const int64_t size = int64_t{Crypto::Ber::GetTagLength(&entry)} + Crypto::Ber::GetLengthFieldSize(&entry) +
                                 Crypto::Ber::GetValueLength(&entry);
            // Only record padding may follow the entry; anything else means
            // the record is not laid out as expected (a missing prefix, say).
            if (size > entry.length || !IsPadding(entry.data + size, entry.length - size))
                return Fail(trace, __LINE__, CKR_ARGUMENTS_BAD);
            const HexBinary element(entry.data, static_cast<int32_t>(size), true);
            node->Parse(&element);
        } catch (...) {
            return Fail(trace, __LINE__, CKR_ARGUMENTS_BAD);
        }
        entries.push_back(std::move(node));
    }
    for (auto& entry : entries) out.push_back(std::move(entry));
    return trace.Result(CKR_OK);
}

CK_RV ReadCertificateObject(CK_SLOT_ID slotId, const HexBinary& path, HexBinary& out)
{
    FunctionTrace trace("ReadCertificateObject");
    const Card::SlotPtr slot = Card::StatusCache::GetSlot(slotId);
    if (!slot) return Fail(trace, __LINE__, CKR_FUNCTION_FAILED);
    if (path.data == nullptr || path.length <= 0 || path.length > 0xFFFF) return Fail(trace, __LINE__, CKR_ARGUMENTS_BAD);
    return trace.Result(ReadEF(slot.get(), path.data, static_cast<uint16_t>(path.length), out, 1));
}

CK_RV LoadEFDirInfo(const Slot* slot, EfDirRecords& out)
{
    FunctionTrace trace("LoadEFDirInfo");
    if (slot == nullptr) return Fail(trace, __LINE__, CKR_ARGUMENTS_BAD);
    CK_RV rv = Card::SelectMF(slot);
    if (rv != CKR_OK) return Fail(trace, __LINE__, rv);
    HexBinary file;
    rv = ReadEFDir(slot, file);
    if (rv != CKR_OK) return Fail(trace, __LINE__, rv);
    rv = ParseEFDir(&file, out);
    if (rv != CKR_OK) return Fail(trace, __LINE__, rv);
    return trace.Result(CKR_OK);
}

namespace {

template <typename Files, typename ReadOne>
CK_RV LoadFiles(FunctionTrace& trace, uint32_t odfIndex, const OdfRecords& odf, Files& files, Bytes& lastPath,
                ReadOne readOne)
{
    std::vector<const HexBinary*> paths;
    for (const OdfRecord& record : odf) {
        if (record.index == odfIndex && record.path) paths.push_back(record.path.get());
    }
    for (const HexBinary* path : paths) {
        lastPath = std::make_unique<HexBinary>(*path);
        const CK_RV rv = readOne(*path, files);
        if (rv != CKR_OK) return Fail(trace, __LINE__, rv);
    }
    return trace.Result(CKR_OK);
}

}  // namespace

CK_RV LoadCIOData(const Slot* slot, uint32_t odfIndex, const OdfRecords& odf, HexBinaries& files, Bytes& lastPath,
                  uint32_t transparent)
{
    FunctionTrace trace("LoadCIOData");
    return LoadFiles(trace, odfIndex, odf, files, lastPath, [&](const HexBinary& path, HexBinaries& out) {
        auto file = std::make_unique<HexBinary>();
        const CK_RV rv = transparent != 0 ? ReadCIO(slot, path, *file) : ReadCIORecordFile(slot, path, *file);
        if (rv == CKR_OK) out.push_back(std::move(file));
        return rv;
    });
}

CK_RV LoadCIOData(const Slot* slot, uint32_t odfIndex, const OdfRecords& odf, std::vector<AsnElements>& files,
                  Bytes& lastPath, uint32_t transparent)
{
    FunctionTrace trace("LoadCIOData");
    return LoadFiles(trace, odfIndex, odf, files, lastPath, [&](const HexBinary& path, std::vector<AsnElements>& out) {
        AsnElements entries;
        CK_RV rv;
        if (transparent != 0) {
            HexBinary file;
            rv = ReadCIO(slot, path, file);
            if (rv == CKR_OK) rv = GetObjectSet(&file, entries);
        } else {
            rv = ReadCIORecordFile(slot, path, entries);
        }
        if (rv == CKR_OK) out.push_back(std::move(entries));
        return rv;
    });
}

}  // namespace Brelt::MW::Token
