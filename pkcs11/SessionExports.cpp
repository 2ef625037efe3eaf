// Session, login, logout and PIN-change exports. PIN bytes are never traced,
// only the PIN pointers and lengths.

#include "pkcs11/ApiFrame.h"
#include "pkcs11/ApiMutexes.h"
#include "pkcs11/InternalOperations.h"
#include "pkcs11/LibraryLifecycle.h"
#include "pkcs11/cryptoki.h"

using namespace Brelt::MW::Pkcs11;

extern "C" {

CK_RV C_OpenSession(CK_SLOT_ID slotID, CK_FLAGS flags, CK_VOID_PTR pApplication, CK_NOTIFY Notify,
                    CK_SESSION_HANDLE_PTR phSession) {
  return RunExport("C_OpenSession", nullptr, [&]() -> CK_RV {
    TraceNumber("slotID", slotID);
    TraceFlags("flags", flags);
    TracePointer("pApplication", pApplication);
    TracePointer("Notify", reinterpret_cast<const void*>(Notify));
    TracePointer("phSession", phSession);
    if (!IsLibraryInitialized()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (phSession == nullptr) return CKR_ARGUMENTS_BAD;
    if ((flags & CKF_SERIAL_SESSION) == 0) return CKR_SESSION_PARALLEL_NOT_SUPPORTED;
    PollReadersOnCallerThread();
    if (CK_RV rv = FindSlot(slotID, "C_OpenSession", __LINE__); rv != CKR_OK) return rv;

    const CK_RV rv = OpenSession(slotID, flags, phSession);
    if (rv == CKR_OK) {
      TraceOutputHeader();
      TraceHandle("*phSession", *phSession);
    }
    return rv;
  });
}

CK_RV C_CloseSession(CK_SESSION_HANDLE hSession) {
  return RunExport("C_CloseSession", nullptr, [&]() -> CK_RV {
    TraceHandle("hSession", hSession);
    if (!IsLibraryInitialized()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    return CloseSession(hSession);
  });
}

CK_RV C_CloseAllSessions(CK_SLOT_ID slotID) {
  return RunExport("C_CloseAllSessions", nullptr, [&]() -> CK_RV {
    TraceNumber("slotID", slotID);
    if (!IsLibraryInitialized()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (CK_RV rv = FindSlot(slotID, "C_CloseAllSessions", __LINE__); rv != CKR_OK) return rv;
    return CloseAllSessions(slotID);
  });
}

CK_RV C_GetSessionInfo(CK_SESSION_HANDLE hSession, CK_SESSION_INFO_PTR pInfo) {
  return RunExport("C_GetSessionInfo", nullptr, [&]() -> CK_RV {
    TraceHandle("hSession", hSession);
    TracePointer("pInfo", pInfo);
    if (!IsLibraryInitialized()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (pInfo == nullptr) return CKR_ARGUMENTS_BAD;
    if (CK_RV rv = FindSession(hSession); rv != CKR_OK) return rv;

    const CK_RV rv = GetSessionInfo(hSession, pInfo);
    if (rv == CKR_OK) {
      TraceOutputHeader();
      TraceOutputBytes("pInfo", pInfo, sizeof(*pInfo));
    }
    return rv;
  });
}

CK_RV C_Login(CK_SESSION_HANDLE hSession, CK_USER_TYPE userType, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen) {
  return RunExport("C_Login", &TokenMutex(), [&]() -> CK_RV {
    TraceHandle("hSession", hSession);
    TraceUserType("userType", userType);
    TracePointer("pPin", pPin);
    TraceNumber("ulPinLen", ulPinLen);
    if (!IsLibraryInitialized()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (CK_RV rv = FindSession(hSession); rv != CKR_OK) return rv;
    return Login(hSession, userType, pPin, ulPinLen);
  });
}

CK_RV C_Logout(CK_SESSION_HANDLE hSession) {
  return RunExport("C_Logout", &TokenMutex(), [&]() -> CK_RV {
    TraceHandle("hSession", hSession);
    if (!IsLibraryInitialized()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (CK_RV rv = FindSession(hSession); rv != CKR_OK) return rv;
    return Logout(hSession);
  });
}

CK_RV C_SetPIN(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pOldPin, CK_ULONG ulOldLen, CK_UTF8CHAR_PTR pNewPin,
               CK_ULONG ulNewLen) {
  return RunExport("C_SetPIN", &TokenMutex(), [&]() -> CK_RV {
    TraceHandle("hSession", hSession);
    TracePointer("pOldPin", pOldPin);
    TraceNumber("ulOldLen", ulOldLen);
    TracePointer("pNewPin", pNewPin);
    TraceNumber("ulNewLen", ulNewLen);
    if (!IsLibraryInitialized()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (CK_RV rv = FindSession(hSession); rv != CKR_OK) return rv;
    return SetPin(hSession, pOldPin, ulOldLen, pNewPin, ulNewLen);
  });
}

}  // extern "C"
