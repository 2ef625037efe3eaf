#include "token/ObjectHandles.h"

#include <algorithm>

#include "LogTrace.h"

namespace Brelt::MW::Token {

namespace {

constexpr uint32_t kNumbersPerList = 0x10000;

CK_RV NextNumber(CIOObjectList& list, uint32_t* number)
{
    // Token lists read from the card start after the objects they hold.
    uint32_t next = list.nextNumber;
    for (const auto& object : list.objects) {
        if (object) next = std::max(next, (object->handle & 0xFFFFu) + 1);
    }
    if (next >= kNumbersPerList) return CKR_HOST_MEMORY;
    *number = next;
    list.nextNumber = next + 1;
    return CKR_OK;
}

}  // namespace

uint32_t GetNumCIOObjectsOfType(const CIOObjectLists* lists, CioFileKind kind)
{
    if (lists == nullptr) return 0;
    for (const auto& list : *lists) {
        if (list && list->kind == kind) return static_cast<uint32_t>(list->objects.size());
    }
    return 0;
}

CIOObjectList* FindObjectList(CIOObjectLists* lists, CioFileKind kind)
{
    if (lists == nullptr) return nullptr;
    for (const auto& list : *lists) {
        if (list && list->kind == kind) return list.get();
    }
    return nullptr;
}

CK_RV CreateNewSessionObjectId(CIOObjectList& list, CK_OBJECT_HANDLE* handle)
{
    uint32_t number = 0;
    if (CK_RV rv = NextNumber(list, &number); rv != CKR_OK) return rv;
    *handle = ((static_cast<CK_OBJECT_HANDLE>(list.kind) | kSessionListFlag) << 16) | number;
    return CKR_OK;
}

CK_RV CreateNewTokenObjectId(CIOObjectList& list, CK_OBJECT_HANDLE* handle)
{
    uint32_t number = 0;
    if (CK_RV rv = NextNumber(list, &number); rv != CKR_OK) return rv;
    *handle = (static_cast<CK_OBJECT_HANDLE>(list.kind) << 16) | number;
    return CKR_OK;
}

CK_RV FindObjectByHandle(CIOObjectLists* lists, CIOObject** object, CIOObjectType* type, CK_OBJECT_HANDLE handle)
{
    FunctionTrace trace("FindObjectByHandle");
    *object = nullptr;
    if (type != nullptr) *type = 0;
    if (lists == nullptr || lists->empty()) return trace.Result(CKR_ARGUMENTS_BAD);
    if (handle == 0 || handle > 0xFFFFFFFFUL) return trace.Result(CKR_OBJECT_HANDLE_INVALID);
    CIOObjectList* list = FindObjectList(lists, HandleListKind(handle));
    if (list == nullptr) return trace.Result(CKR_OBJECT_HANDLE_INVALID);
    for (const auto& candidate : list->objects) {
        if (candidate && candidate->handle == handle) {
            *object = candidate.get();
            if (type != nullptr) *type = candidate->type;
            return trace.Result(CKR_OK);
        }
    }
    return trace.Result(CKR_OBJECT_HANDLE_INVALID);
}

CK_RV DeleteObjectInfo(CIOObjectLists* lists, CK_OBJECT_HANDLE handle)
{
    FunctionTrace trace("DeleteObjectInfo");
    if (lists == nullptr) return trace.Result(CKR_FUNCTION_FAILED);
    if (handle == 0 || handle > 0xFFFFFFFFUL) return trace.Result(CKR_OBJECT_HANDLE_INVALID);
    CIOObjectList* list = FindObjectList(lists, HandleListKind(handle));
    if (list == nullptr) return trace.Result(CKR_OBJECT_HANDLE_INVALID);
    const auto found = std::find_if(list->objects.begin(), list->objects.end(),
                                    [handle](const auto& object) { return object && object->handle == handle; });
    if (found == list->objects.end()) return trace.Result(CKR_OBJECT_HANDLE_INVALID);
    list->objects.erase(found);
    return trace.Result(CKR_OK);
}

CK_RV AddSessionObject(CIOObjectLists& lists, CioFileKind kind, std::unique_ptr<CIOObject> object,
                       CK_OBJECT_HANDLE* handle)
{
    CIOObjectList* list = FindObjectList(&lists, kind);
    if (list == nullptr) {
        lists.push_back(std::make_unique<CIOObjectList>(kind));
        list = lists.back().get();
    }
    CK_OBJECT_HANDLE newHandle = 0;
    if (CK_RV rv = CreateNewSessionObjectId(*list, &newHandle); rv != CKR_OK) return rv;
    object->handle = static_cast<uint32_t>(newHandle);
    list->objects.push_back(std::move(object));
    *handle = newHandle;
    return CKR_OK;
}

bool VectorContains(const std::vector<CK_ULONG>* values, CK_ULONG value)
{
    const bool found = values != nullptr && std::find(values->begin(), values->end(), value) != values->end();
    if (found) {
        LogMessage(LOG_LEVEL_TRACE, true, nullptr, 0, true, "Leaving %s: TRUE", "VectorContains");
    } else {
        LogMessage(LOG_LEVEL_INFO, true, nullptr, 0, true, "Leaving %s: FALSE", "VectorContains");
    }
    return found;
}

}  // namespace Brelt::MW::Token
