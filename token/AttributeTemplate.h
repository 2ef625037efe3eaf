#pragma once
// Look-ups in a caller's CK_ATTRIBUTE template and owned copies of one.
// Nothing here writes into the caller's template: values are read by copy.

#include <cstdint>
#include <vector>

#include "pkcs11/cryptoki.h"

namespace Brelt::MW::Token {

// A template the module may read: CKR_ARGUMENTS_BAD for a null template with
// a non-zero count or a count above 65,536 entries; CKR_ATTRIBUTE_VALUE_INVALID
// for an entry whose value pointer is null while its length is not 0, or
// whose length is above 65,535 bytes (the longest card value;
// CK_UNAVAILABLE_INFORMATION included).
CK_RV Template_CheckValues(const CK_ATTRIBUTE* attributes, CK_ULONG count);

// The first entry of that type.
bool Template_ValueAndLenOfAttribute(const CK_ATTRIBUTE* attributes, CK_ULONG count, CK_ATTRIBUTE_TYPE type,
                                     const void** value, CK_ULONG* length);

// The first entry of that type. Found: with a non-zero `expectedLength` that
// differs from the entry's, "Invalid attribute %s size specified: %d" and
// CKR_ATTRIBUTE_VALUE_INVALID; else `expectedLength` := the entry's length.
// Missing: value null and length 0; required gives "Missing attribute %s" and
// CKR_TEMPLATE_INCOMPLETE.
CK_RV Template_GetAttrValue(const CK_ATTRIBUTE* attributes, CK_ULONG count, CK_ATTRIBUTE_TYPE type,
                            bool required, CK_ULONG* expectedLength, const void** value);

// The entry must hold exactly `expected` (when present, or always when required).
CK_RV Template_VerifyAttrValue(const CK_ATTRIBUTE* attributes, CK_ULONG count, CK_ATTRIBUTE_TYPE type,
                               bool required, const void* expected, CK_ULONG expectedLength);
CK_RV Template_VerifyBoolAttrValue(const CK_ATTRIBUTE* attributes, CK_ULONG count, CK_ATTRIBUTE_TYPE type,
                                   bool required, CK_BBOOL expected);

// Optional typed look-ups: CKR_OK with `present` false when the entry is
// missing; CKR_ATTRIBUTE_VALUE_INVALID when its length is not the type's.
CK_RV Template_GetUlong(const CK_ATTRIBUTE* attributes, CK_ULONG count, CK_ATTRIBUTE_TYPE type,
                        CK_ULONG* value, bool* present);
CK_RV Template_GetBool(const CK_ATTRIBUTE* attributes, CK_ULONG count, CK_ATTRIBUTE_TYPE type,
                       CK_BBOOL* value, bool* present);

// A CK_ULONG value read by copy; false unless the entry holds exactly one.
bool ReadUlongValue(const CK_ATTRIBUTE& attribute, CK_ULONG* value);

// An owned deep copy of a template; each value pointer points into `values`.
struct TemplateCopy {
    std::vector<CK_ATTRIBUTE> attributes;
    std::vector<std::vector<unsigned char>> values;

    CK_ULONG Count() const { return attributes.size(); }
    const CK_ATTRIBUTE* Data() const { return attributes.data(); }
    void Clear()
    {
        attributes.clear();
        values.clear();
    }
};

// CKR_ARGUMENTS_BAD for a null template or a count of 0; the checks of
// Template_CheckValues; CKR_HOST_MEMORY when the copy cannot be made.
CK_RV Template_Copy(const CK_ATTRIBUTE* attributes, CK_ULONG count, TemplateCopy& copy);
// The same into separate holders (the object search keeps its copy so).
CK_RV Template_CopyInto(const CK_ATTRIBUTE* attributes, CK_ULONG count, std::vector<CK_ATTRIBUTE>& copy,
                        std::vector<std::vector<unsigned char>>& values);
void Template_Delete(TemplateCopy& copy);

}  // namespace Brelt::MW::Token
