#include "token/ApplicationInfo.h"

#include <boost/date_time/posix_time/posix_time.hpp>

#include "LogTrace.h"

namespace Brelt::MW::Token {

using MW::Base::HexBinary;

namespace {
constexpr int32_t kMaxFileSize = 65535;

std::string HexOrNull(const Bytes& value)
{
    return value ? value->ToString() : std::string("NULL");
}
}  // namespace

ApplicationInfo::ApplicationInfo()
{
    FunctionTrace trace("ApplicationInfo::ApplicationInfo");
}

ApplicationInfo::~ApplicationInfo()
{
    FunctionTrace trace("ApplicationInfo::~ApplicationInfo");
    DeleteSessionObjects(&ObjectLists);
}

CIOObjectList* ApplicationInfo::FindObjectList(CioFileKind kind) const
{
    for (const auto& list : ObjectLists) {
        if (list && list->kind == kind) return list.get();
    }
    return nullptr;
}

std::string ApplicationInfo::ToString() const
{
    std::string text = "DescriptiveString=";
    text += DescriptiveString ? DescriptiveString->ToCharString() : std::string("NULL");
    text += ", Aid=" + HexOrNull(Aid);
    text += ", Fid=" + HexOrNull(Fid);
    text += ", IasAid=" + HexOrNull(IasAid);
    text += ", CardOStype=";
    text += CardOSName(CardOS);
    text += ", CardProfile=";
    text += CardProfileName(Profile);
    text += ", Timestamp=";
    text += Timestamp ? boost::posix_time::to_simple_string(*Timestamp) : std::string("NULL");
    return text;
}

uint16_t HexDataToInt(const HexBinary* data)
{
    if (data == nullptr || data->length < 1 || data->length > 4) return 0;
    uint16_t value = 0;
    for (int32_t i = 0; i < data->length; ++i) value = static_cast<uint16_t>((value << 8) | data->data[i]);
    return value;
}

CK_RV Concatenate(const HexBinary* first, const HexBinary* second, Bytes& out)
{
    const int64_t firstLength = first != nullptr && first->length > 0 ? first->length : 0;
    const int64_t secondLength = second != nullptr && second->length > 0 ? second->length : 0;
    if (firstLength + secondLength > kMaxFileSize) return CKR_DEVICE_MEMORY;
    out.reset();
    if (firstLength + secondLength == 0) return CKR_OK;
    auto joined = std::make_unique<HexBinary>();
    if (firstLength > 0) joined->Append(first);
    if (secondLength > 0) joined->Append(second);
    out = std::move(joined);
    return CKR_OK;
}

CK_RV GetEFData(const ApplicationInfo& application, CioFileKind kind, Bytes& out)
{
    FunctionTrace trace("GetEFData");
    const CIOObjectList* list = application.FindObjectList(kind);
    if (list == nullptr) return trace.Result(CKR_OK);
    Bytes joined;
    for (const auto& object : list->objects) {
        HexBinary encoding;
        CK_RV rv = object->GetASN(encoding);
        if (rv == CKR_OK) {
            Bytes next;
            rv = Concatenate(joined.get(), &encoding, next);
            joined = std::move(next);
        }
        if (rv != CKR_OK) {
            LOG_FAILED("GetEFData", rv);
            return trace.Result(rv);
        }
    }
    // The file ends with one 00 byte after the last entry.
    const HexBinary terminator(std::string("00"));
    Bytes file;
    const CK_RV rv = Concatenate(joined.get(), &terminator, file);
    if (rv != CKR_OK) {
        LOG_FAILED("GetEFData", rv);
        return trace.Result(rv);
    }
    out = std::move(file);
    return trace.Result(CKR_OK);
}

}  // namespace Brelt::MW::Token
