#include "token/CiaParsers.h"

#include <exception>

#include "Ber.h"
#include "LogTrace.h"
#include "token/DerUtil.h"

namespace Brelt::MW::Token {

using Crypto::ASN::ASN1Object;
using Der::ChildAt;
using Der::ChildCount;
using Der::ContentOf;
using Der::TagByte;
using Der::UnsignedOf;
using MW::Base::HexBinary;

namespace {

CK_RV Refuse(FunctionTrace& trace, int line)
{
    TraceFailed(trace.Function(), line, CKR_ARGUMENTS_BAD);
    return trace.Result(CKR_ARGUMENTS_BAD);
}

// A buffer that is null, or empty but with a data pointer, is refused.
bool IsRefusedBuffer(const HexBinary* data)
{
    return data == nullptr || (data->length <= 0 && data->data != nullptr) || data->length < 0;
}

Bytes FindContent(const ASN1Object& node, uint8_t tag)
{
    const ASN1Object* child = node.FindChild(tag);
    return child != nullptr ? ContentOf(*child) : nullptr;
}

// Runs `parse`, turning the exceptions of malformed input into false.
template <typename Parse>
bool Guarded(Parse parse)
{
    try {
        parse();
        return true;
    } catch (const char*) {
    } catch (const MW::Base::MWException&) {
    } catch (const std::exception&) {
    }
    return false;
}

void SplitElements(const HexBinary& data, AsnElements& out)
{
    int32_t offset = 0;
    while (offset < data.length && data.data[offset] != 0x00) {
        const HexBinary rest(data.data + offset, data.length - offset, true);
        const int64_t total = int64_t{Crypto::Ber::GetTagLength(&rest)} + Crypto::Ber::GetLengthFieldSize(&rest) +
                              Crypto::Ber::GetValueLength(&rest);
        if (total > rest.length) throw "Truncated element";
        const HexBinary element(rest.data, static_cast<int32_t>(total), true);
        auto node = std::make_unique<ASN1Object>();
        node->Parse(&element);
        out.push_back(std::move(node));
        offset += static_cast<int32_t>(total);
    }
}

}  // namespace

CK_RV GetObjectSet(const HexBinary* data, AsnElements& out)
{
    FunctionTrace trace("GetObjectSet");
    if (data == nullptr || data->length < 0) return Refuse(trace, __LINE__);
    AsnElements elements;
    if (!Guarded([&] { SplitElements(*data, elements); })) return Refuse(trace, __LINE__);
    for (auto& element : elements) out.push_back(std::move(element));
    return trace.Result(CKR_OK);
}

CK_RV ParseEFDir(const HexBinary* data, EfDirRecords& out)
{
    FunctionTrace trace("ParseEFDir");
    out.clear();
    if (IsRefusedBuffer(data)) return Refuse(trace, __LINE__);
    EfDirRecords records;
    const bool parsed = Guarded([&] {
        AsnElements elements;
        SplitElements(*data, elements);
        for (const auto& element : elements) {
            EfDirRecord record;
            record.aid = FindContent(*element, 0x4F);
            record.label = FindContent(*element, 0x50);
            record.path = FindContent(*element, 0x51);
            if (const ASN1Object* ddo = element->FindChild(0x73)) record.ddoAid = FindContent(*ddo, 0x4F);
            records.push_back(std::move(record));
        }
    });
    if (!parsed) return Refuse(trace, __LINE__);
    out = std::move(records);
    return trace.Result(CKR_OK);
}

namespace {

void ReadCIAInfo(const ASN1Object& info, CIAInfo& out)
{
    if (const ASN1Object* e = info.FindChild(0x02)) out.version = UnsignedOf(*e);
    out.serialNumber = FindContent(info, 0x04);
    out.manufacturerID = FindContent(info, 0x0C);
    out.label = FindContent(info, 0x80);
    out.tokenflags = FindContent(info, 0x03);
    if (const ASN1Object* seList = info.FindChild(0x30)) {
        for (const ASN1Object* se : seList->GetChildren()) {
            if (TagByte(*se) != 0x30) continue;
            SeInfo entry;
            if (const ASN1Object* e = se->FindChild(0x02)) entry.se = UnsignedOf(*e);
            entry.owner = FindContent(*se, 0x06);
            entry.aid = FindContent(*se, 0x04);
            out.seInfo.push_back(std::move(entry));
        }
    }
    if (const ASN1Object* algorithms = info.FindChild(0xA2)) {
        for (const ASN1Object* algorithm : algorithms->GetChildren()) {
            if (TagByte(*algorithm) != 0x30) continue;
            const ASN1Object* algorithmId = ChildAt(*algorithm, 1);
            if (algorithmId == nullptr || TagByte(*algorithmId) != 0x02) continue;
            AlgorithmInfo entry;
            if (const ASN1Object* e = ChildAt(*algorithm, 0); e != nullptr && TagByte(*e) == 0x02)
                entry.reference = UnsignedOf(*e);
            entry.algorithm = ContentOf(*algorithmId);
            if (const ASN1Object* e = ChildAt(*algorithm, 2); e != nullptr && TagByte(*e) != 0x05)
                entry.parameters = ContentOf(*e);
            if (const ASN1Object* e = ChildAt(*algorithm, 3); e != nullptr && TagByte(*e) == 0x03)
                entry.supportedOperations = ContentOf(*e);
            if (const ASN1Object* e = ChildAt(*algorithm, 4); e != nullptr && TagByte(*e) == 0x06)
                entry.algId = ContentOf(*e);
            if (ChildCount(*algorithm) > 5) {
                if (const ASN1Object* e = ChildAt(*algorithm, 5); TagByte(*e) == 0x02) entry.algRef = UnsignedOf(*e);
            }
            out.algorithms.push_back(std::move(entry));
        }
    }
}

}  // namespace

CK_RV ParseCIAInfo(const HexBinary* data, CIAInfo& out)
{
    FunctionTrace trace("ParseCIAInfo");
    if (IsRefusedBuffer(data)) return Refuse(trace, __LINE__);
    CIAInfo info;
    bool wellFormed = false;
    const bool parsed = Guarded([&] {
        AsnElements elements;
        SplitElements(*data, elements);
        if (elements.size() != 1 || TagByte(*elements[0]) != 0x30) return;
        ReadCIAInfo(*elements[0], info);
        wellFormed = true;
    });
    if (!parsed || !wellFormed) return Refuse(trace, __LINE__);
    out = std::move(info);
    return trace.Result(CKR_OK);
}

CK_RV ParseOD(const HexBinary* data, OdfRecords& out)
{
    FunctionTrace trace("ParseOD");
    if (IsRefusedBuffer(data)) return Refuse(trace, __LINE__);
    OdfRecords records;
    const bool parsed = Guarded([&] {
        AsnElements elements;
        SplitElements(*data, elements);
        for (const auto& element : elements) {
            const ASN1Object* path = element->FindChild(0x30);
            Bytes pathBytes = path != nullptr ? FindContent(*path, 0x04) : nullptr;
            if (!pathBytes) continue;
            const uint8_t tag = TagByte(*element);
            OdfRecord record;
            record.index = (tag >= 0xA0 && tag <= 0xA8) ? static_cast<uint32_t>(tag - 0xA0) : 9;
            record.path = std::move(pathBytes);
            records.push_back(std::move(record));
        }
    });
    if (!parsed) return Refuse(trace, __LINE__);
    for (auto& record : records) out.push_back(std::move(record));
    return trace.Result(CKR_OK);
}

CK_RV ParseCIOFile(const AsnElements& entries, CIOObjectList& list, uint32_t cardProfile)
{
    FunctionTrace trace("ParseCIOFile");
    const size_t before = list.objects.size();
    for (const auto& entry : entries) {
        std::unique_ptr<CIOObject> object;
        const CK_RV rv = entry ? CreateCIOObject(object, *entry, list, cardProfile) : CKR_OK;
        if (rv != CKR_OK) {
            // Nothing of a file that cannot be read is kept.
            list.objects.resize(before);
            TraceFailed(trace.Function(), __LINE__, rv);
            return trace.Result(rv);
        }
        if (object) list.objects.push_back(std::move(object));
    }
    return trace.Result(CKR_OK);
}

CK_RV ParseCIOFile(const HexBinary* data, CIOObjectList& list, uint32_t cardProfile)
{
    FunctionTrace trace("ParseCIOFile");
    AsnElements entries;
    const CK_RV rv = GetObjectSet(data, entries);
    if (rv != CKR_OK) {
        TraceFailed(trace.Function(), __LINE__, rv);
        return trace.Result(rv);
    }
    return trace.Result(ParseCIOFile(entries, list, cardProfile));
}

CK_RV ParsePublicKey(const unsigned char* bytes, uint16_t length, Bytes& modulus, Bytes& exponent)
{
    FunctionTrace trace("ParsePublicKey");
    modulus.reset();
    exponent.reset();
    if (bytes == nullptr) return Refuse(trace, __LINE__);
    Bytes newModulus;
    Bytes newExponent;
    const bool parsed = Guarded([&] {
        const HexBinary data(bytes, length, true);
        ASN1Object key;
        key.Parse(&data);
        newModulus = FindContent(key, 0x81);
        newExponent = FindContent(key, 0x82);
    });
    if (!parsed) return Refuse(trace, __LINE__);
    modulus = std::move(newModulus);
    exponent = std::move(newExponent);
    return trace.Result(CKR_OK);
}

}  // namespace Brelt::MW::Token
