#include "token/AttributeTemplate.h"

#include <cstring>
#include <new>

#include "LogNames.h"
#include "Logger.h"

namespace Brelt::MW::Token {

namespace {

// A count past anything a real caller sends; refused before the entries are
// read or any memory is taken for them.
constexpr CK_ULONG kMaxTemplateEntries = 0x10000;
// No card value is longer; a caller's length beyond it (CK_UNAVAILABLE_INFORMATION
// included) is refused before anything is allocated or copied for it.
constexpr CK_ULONG kMaxValueLength = 0xFFFF;

const CK_ATTRIBUTE* FindEntry(const CK_ATTRIBUTE* attributes, CK_ULONG count, CK_ATTRIBUTE_TYPE type)
{
    if (attributes == nullptr) return nullptr;
    for (CK_ULONG i = 0; i < count; ++i) {
        if (attributes[i].type == type) return &attributes[i];
    }
    return nullptr;
}

void LogInvalidSize(CK_ATTRIBUTE_TYPE type, CK_ULONG length)
{
    LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, "Invalid attribute %s size specified: %lu",
               CkaToString(type), length);
}

void LogMissing(CK_ATTRIBUTE_TYPE type)
{
    LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, "Missing attribute %s", CkaToString(type));
}

}  // namespace

CK_RV Template_CheckValues(const CK_ATTRIBUTE* attributes, CK_ULONG count)
{
    if (count == 0) return CKR_OK;
    if (attributes == nullptr || count > kMaxTemplateEntries) return CKR_ARGUMENTS_BAD;
    for (CK_ULONG i = 0; i < count; ++i) {
        if (attributes[i].pValue == nullptr && attributes[i].ulValueLen != 0) {
            LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, "Attribute %s has no value but length %lu",
                       CkaToString(attributes[i].type), attributes[i].ulValueLen);
            return CKR_ATTRIBUTE_VALUE_INVALID;
        }
        if (attributes[i].ulValueLen > kMaxValueLength) {
            LogInvalidSize(attributes[i].type, attributes[i].ulValueLen);
            return CKR_ATTRIBUTE_VALUE_INVALID;
        }
    }
    return CKR_OK;
}

bool Template_ValueAndLenOfAttribute(const CK_ATTRIBUTE* attributes, CK_ULONG count, CK_ATTRIBUTE_TYPE type,
                                     const void** value, CK_ULONG* length)
{
    const CK_ATTRIBUTE* entry = FindEntry(attributes, count, type);
    if (entry == nullptr) return false;
    if (value != nullptr) *value = entry->pValue;
    if (length != nullptr) *length = entry->ulValueLen;
    return true;
}

CK_RV Template_GetAttrValue(const CK_ATTRIBUTE* attributes, CK_ULONG count, CK_ATTRIBUTE_TYPE type,
                            bool required, CK_ULONG* expectedLength, const void** value)
{
    const CK_ATTRIBUTE* entry = FindEntry(attributes, count, type);
    if (entry == nullptr) {
        if (value != nullptr) *value = nullptr;
        if (expectedLength != nullptr) *expectedLength = 0;
        if (!required) return CKR_OK;
        LogMissing(type);
        return CKR_TEMPLATE_INCOMPLETE;
    }
    if (entry->pValue == nullptr && entry->ulValueLen != 0) return CKR_ATTRIBUTE_VALUE_INVALID;
    if (expectedLength != nullptr) {
        if (*expectedLength != 0 && *expectedLength != entry->ulValueLen) {
            LogInvalidSize(type, entry->ulValueLen);
            return CKR_ATTRIBUTE_VALUE_INVALID;
        }
        *expectedLength = entry->ulValueLen;
    }
    if (value != nullptr) *value = entry->pValue;
    return CKR_OK;
}

CK_RV Template_VerifyAttrValue(const CK_ATTRIBUTE* attributes, CK_ULONG count, CK_ATTRIBUTE_TYPE type,
                               bool required, const void* expected, CK_ULONG expectedLength)
{
    const CK_ATTRIBUTE* entry = FindEntry(attributes, count, type);
    if (entry == nullptr) {
        if (!required) return CKR_OK;
        LogMissing(type);
        return CKR_TEMPLATE_INCOMPLETE;
    }
    if (entry->ulValueLen != expectedLength) {
        LogInvalidSize(type, entry->ulValueLen);
        return CKR_ATTRIBUTE_VALUE_INVALID;
    }
    if (expectedLength != 0 &&
        (entry->pValue == nullptr || expected == nullptr || std::memcmp(entry->pValue, expected, expectedLength) != 0)) {
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, "Invalid attribute %s value specified", CkaToString(type));
        return CKR_ATTRIBUTE_VALUE_INVALID;
    }
    return CKR_OK;
}

CK_RV Template_VerifyBoolAttrValue(const CK_ATTRIBUTE* attributes, CK_ULONG count, CK_ATTRIBUTE_TYPE type,
                                   bool required, CK_BBOOL expected)
{
    return Template_VerifyAttrValue(attributes, count, type, required, &expected, sizeof(expected));
}

bool ReadUlongValue(const CK_ATTRIBUTE& attribute, CK_ULONG* value)
{
    if (attribute.pValue == nullptr || attribute.ulValueLen != sizeof(CK_ULONG)) return false;
    std::memcpy(value, attribute.pValue, sizeof(CK_ULONG));
    return true;
}

CK_RV Template_GetUlong(const CK_ATTRIBUTE* attributes, CK_ULONG count, CK_ATTRIBUTE_TYPE type,
                        CK_ULONG* value, bool* present)
{
    *present = false;
    const CK_ATTRIBUTE* entry = FindEntry(attributes, count, type);
    if (entry == nullptr) return CKR_OK;
    if (!ReadUlongValue(*entry, value)) {
        LogInvalidSize(type, entry->ulValueLen);
        return CKR_ATTRIBUTE_VALUE_INVALID;
    }
    *present = true;
    return CKR_OK;
}

CK_RV Template_GetBool(const CK_ATTRIBUTE* attributes, CK_ULONG count, CK_ATTRIBUTE_TYPE type,
                       CK_BBOOL* value, bool* present)
{
    *present = false;
    const CK_ATTRIBUTE* entry = FindEntry(attributes, count, type);
    if (entry == nullptr) return CKR_OK;
    if (entry->pValue == nullptr || entry->ulValueLen != sizeof(CK_BBOOL)) {
        LogInvalidSize(type, entry->ulValueLen);
        return CKR_ATTRIBUTE_VALUE_INVALID;
    }
    std::memcpy(value, entry->pValue, sizeof(CK_BBOOL));
    *present = true;
    return CKR_OK;
}

CK_RV Template_CopyInto(const CK_ATTRIBUTE* attributes, CK_ULONG count, std::vector<CK_ATTRIBUTE>& copy,
                        std::vector<std::vector<unsigned char>>& values)
{
    copy.clear();
    values.clear();
    if (attributes == nullptr || count == 0) return CKR_ARGUMENTS_BAD;
    if (CK_RV rv = Template_CheckValues(attributes, count); rv != CKR_OK) return rv;
    try {
        copy.reserve(count);
        values.reserve(count);
        for (CK_ULONG i = 0; i < count; ++i) {
            const auto* bytes = static_cast<const unsigned char*>(attributes[i].pValue);
            values.emplace_back(bytes, bytes + (bytes != nullptr ? attributes[i].ulValueLen : 0));
            CK_ATTRIBUTE entry{attributes[i].type, values.back().empty() ? nullptr : values.back().data(),
                               attributes[i].ulValueLen};
            copy.push_back(entry);
        }
    } catch (const std::bad_alloc&) {
        copy.clear();
        values.clear();
        return CKR_HOST_MEMORY;
    } catch (const std::length_error&) {
        copy.clear();
        values.clear();
        return CKR_HOST_MEMORY;
    }
    return CKR_OK;
}

CK_RV Template_Copy(const CK_ATTRIBUTE* attributes, CK_ULONG count, TemplateCopy& copy)
{
    return Template_CopyInto(attributes, count, copy.attributes, copy.values);
}

void Template_Delete(TemplateCopy& copy)
{
    copy.Clear();
}

}  // namespace Brelt::MW::Token
