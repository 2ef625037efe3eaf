#pragma once
// Object handles and the object lists they point into.
//
// A handle is bits 31..16: the kind of its list (with 0x8000 set for a
// session list), bits 15..0: its number within the list. Handles are never 0
// and are never given twice within a list: numbers come from the list's
// counter, which only grows. Handles above 0xFFFFFFFF name no object.

#include <cstdint>
#include <vector>

#include "pkcs11/cryptoki.h"
#include "token/CIOObject.h"

namespace Brelt::MW::Token {

inline constexpr CK_OBJECT_HANDLE kSessionListFlag = 0x8000;

// The list kind a handle points into.
inline CioFileKind HandleListKind(CK_OBJECT_HANDLE handle)
{
    return static_cast<CioFileKind>((handle & 0x7FFFFFFFUL) >> 16);
}

// Number of objects in the first list of that kind; 0 without one.
uint32_t GetNumCIOObjectsOfType(const CIOObjectLists* lists, CioFileKind kind);

// The first list of that kind, or null.
CIOObjectList* FindObjectList(CIOObjectLists* lists, CioFileKind kind);

// The next handle of a session list of `kind`: ((kind | 0x8000) << 16) | number.
// CKR_HOST_MEMORY once the list has used up its 65,536 numbers.
CK_RV CreateNewSessionObjectId(CIOObjectList& list, CK_OBJECT_HANDLE* handle);
// The next handle of a token list: (kind << 16) | number.
CK_RV CreateNewTokenObjectId(CIOObjectList& list, CK_OBJECT_HANDLE* handle);

// Finds the object with that handle. CKR_ARGUMENTS_BAD for no or an empty
// list vector; CKR_OBJECT_HANDLE_INVALID when no list or object has it (and
// for handles above 0xFFFFFFFF).
CK_RV FindObjectByHandle(CIOObjectLists* lists, CIOObject** object, CIOObjectType* type, CK_OBJECT_HANDLE handle);

// Removes and destroys the object with that handle; the list stays.
// CKR_FUNCTION_FAILED without lists, CKR_OBJECT_HANDLE_INVALID when absent.
CK_RV DeleteObjectInfo(CIOObjectLists* lists, CK_OBJECT_HANDLE handle);

// Appends `object` to the session list of `kind`, creating that list when
// there is none, and gives it the list's next handle.
CK_RV AddSessionObject(CIOObjectLists& lists, CioFileKind kind, std::unique_ptr<CIOObject> object,
                       CK_OBJECT_HANDLE* handle);

bool VectorContains(const std::vector<CK_ULONG>* values, CK_ULONG value);

}  // namespace Brelt::MW::Token
