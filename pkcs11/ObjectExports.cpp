// Object management and object search exports.

#include "pkcs11/ApiFrame.h"
#include "pkcs11/ApiMutexes.h"
#include "pkcs11/InternalOperations.h"
#include "pkcs11/LibraryLifecycle.h"
#include "pkcs11/cryptoki.h"

using namespace Brelt::MW::Pkcs11;

extern "C" {

CK_RV C_CreateObject(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount,
                     CK_OBJECT_HANDLE_PTR phObject) {
  return RunExport("C_CreateObject", &TokenMutex(), [&]() -> CK_RV {
    TraceHandle("hSession", hSession);
    TraceTemplate("pTemplate", pTemplate, ulCount);
    TracePointer("phObject", phObject);
    if (!IsLibraryInitialized()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (pTemplate == nullptr || phObject == nullptr) return CKR_ARGUMENTS_BAD;
    if (CK_RV rv = FindSession(hSession); rv != CKR_OK) return rv;

    const CK_RV rv = CreateObject(hSession, pTemplate, ulCount, phObject);
    if (rv == CKR_OK) {
      TraceOutputHeader();
      TraceHandle("*phObject", *phObject);
    }
    return rv;
  });
}

CK_RV C_DestroyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject) {
  return RunExport("C_DestroyObject", &TokenMutex(), [&]() -> CK_RV {
    TraceHandle("hSession", hSession);
    TraceHandle("hObject", hObject);
    if (!IsLibraryInitialized()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (CK_RV rv = FindSession(hSession); rv != CKR_OK) return rv;

    const CK_RV rv = DestroyObject(hSession, hObject);
    return rv == CKR_USER_NOT_LOGGED_IN ? CKR_FUNCTION_FAILED : rv;
  });
}

CK_RV C_GetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,
                          CK_ULONG ulCount) {
  return RunExport("C_GetAttributeValue", &TokenMutex(), [&]() -> CK_RV {
    TraceHandle("hSession", hSession);
    TraceHandle("hObject", hObject);
    TraceRequestTemplate("pTemplate", pTemplate, ulCount);
    if (!IsLibraryInitialized()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (CK_RV rv = FindSession(hSession); rv != CKR_OK) return rv;
    if (pTemplate == nullptr || ulCount == 0) return CKR_ARGUMENTS_BAD;

    const CK_RV rv = GetAttributeValue(hSession, hObject, pTemplate, ulCount);
    if (rv == CKR_OK) {
      TraceOutputHeader();
      TraceTemplate("pTemplate", pTemplate, ulCount);
    }
    return rv;
  });
}

CK_RV C_SetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,
                          CK_ULONG ulCount) {
  return RunExport("C_SetAttributeValue", &TokenMutex(), [&]() -> CK_RV {
    TraceHandle("hSession", hSession);
    TraceHandle("hObject", hObject);
    TraceTemplate("pTemplate", pTemplate, ulCount);
    if (!IsLibraryInitialized()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (CK_RV rv = FindSession(hSession); rv != CKR_OK) return rv;
    if (pTemplate == nullptr || ulCount == 0 || pTemplate[0].pValue == nullptr) return CKR_ARGUMENTS_BAD;
    return SetAttributeValue(hSession, hObject, pTemplate, ulCount);
  });
}

CK_RV C_FindObjectsInit(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount) {
  return RunExport("C_FindObjectsInit", &TokenMutex(), [&]() -> CK_RV {
    TraceHandle("hSession", hSession);
    TraceTemplate("pTemplate", pTemplate, ulCount);
    if (!IsLibraryInitialized()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (CK_RV rv = FindSession(hSession); rv != CKR_OK) return rv;
    // An empty template matches every object; a count without a template is
    // unusable.
    if (pTemplate == nullptr && ulCount != 0) return CKR_ARGUMENTS_BAD;
    return FindObjectsInit(hSession, pTemplate, ulCount);
  });
}

CK_RV C_FindObjects(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE_PTR phObject, CK_ULONG ulMaxObjectCount,
                    CK_ULONG_PTR pulObjectCount) {
  return RunExport("C_FindObjects", &TokenMutex(), [&]() -> CK_RV {
    TraceHandle("hSession", hSession);
    TracePointer("phObject", phObject);
    TraceNumber("ulMaxObjectCount", ulMaxObjectCount);
    TracePointer("pulObjectCount", pulObjectCount);
    if (!IsLibraryInitialized()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (CK_RV rv = FindSession(hSession); rv != CKR_OK) return rv;
    if (phObject == nullptr || pulObjectCount == nullptr || ulMaxObjectCount == 0) return CKR_ARGUMENTS_BAD;

    const CK_RV rv = FindObjects(hSession, phObject, ulMaxObjectCount, pulObjectCount);
    if (rv == CKR_OK) {
      TraceOutputHeader();
      TraceNumber("*pulObjectCount", *pulObjectCount);
      TraceUlongList("phObject", phObject, *pulObjectCount);
    }
    return rv;
  });
}

CK_RV C_FindObjectsFinal(CK_SESSION_HANDLE hSession) {
  return RunExport("C_FindObjectsFinal", &TokenMutex(), [&]() -> CK_RV {
    TraceHandle("hSession", hSession);
    if (!IsLibraryInitialized()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (CK_RV rv = FindSession(hSession); rv != CKR_OK) return rv;
    return FindObjectsFinal(hSession);
  });
}

}  // extern "C"
