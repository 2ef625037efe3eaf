// Signing and verification exports.

#include "pkcs11/ApiFrame.h"
#include "pkcs11/ApiMutexes.h"
#include "pkcs11/InternalOperations.h"
#include "pkcs11/LibraryLifecycle.h"
#include "pkcs11/cryptoki.h"

using namespace Brelt::MW::Pkcs11;

namespace {

// Sign and verify initialisation accept only CKM_RSA_PKCS without parameters.
CK_RV CheckRsaPkcsMechanism(const CK_MECHANISM* pMechanism, CK_OBJECT_HANDLE hKey) {
  if (pMechanism == nullptr || hKey == 0) return CKR_ARGUMENTS_BAD;
  if (pMechanism->mechanism != CKM_RSA_PKCS) return CKR_MECHANISM_INVALID;
  if (pMechanism->pParameter != nullptr || pMechanism->ulParameterLen != 0) return CKR_MECHANISM_PARAM_INVALID;
  return CKR_OK;
}

// Every sign and verify export checks in the same order: library initialised,
// arguments sound (argumentCheck), then the session handle.
CK_RV CheckCall(CK_SESSION_HANDLE hSession, CK_RV argumentCheck) {
  if (!IsLibraryInitialized()) return CKR_CRYPTOKI_NOT_INITIALIZED;
  if (argumentCheck != CKR_OK) return argumentCheck;
  return FindSession(hSession);
}

CK_RV PointersPresent(bool present) { return present ? CKR_OK : CKR_ARGUMENTS_BAD; }

void TraceSignatureOutput(CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen) {
  TraceOutputHeader();
  TraceNumber("*pulSignatureLen", *pulSignatureLen);
  TraceOutputBytes("pSignature", pSignature, *pulSignatureLen);
}

}  // namespace

extern "C" {

CK_RV C_SignInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
  return RunExport("C_SignInit", &TokenMutex(), [&]() -> CK_RV {
    TraceHandle("hSession", hSession);
    TraceMechanism("pMechanism", pMechanism);
    TraceHandle("hKey", hKey);
    if (CK_RV rv = CheckCall(hSession, CheckRsaPkcsMechanism(pMechanism, hKey)); rv != CKR_OK) return rv;
    return SignInit(hSession, pMechanism, hKey);
  });
}

CK_RV C_Sign(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
             CK_ULONG_PTR pulSignatureLen) {
  return RunExport("C_Sign", &TokenMutex(), [&]() -> CK_RV {
    TraceHandle("hSession", hSession);
    TraceBuffer("pData", pData, ulDataLen);
    TracePointer("pSignature", pSignature);
    TracePointer("pulSignatureLen", pulSignatureLen);
    const CK_RV check = CheckCall(hSession, PointersPresent(pData != nullptr && pulSignatureLen != nullptr));
    if (check != CKR_OK) return check;

    const CK_RV rv = Sign(hSession, pData, ulDataLen, pSignature, pulSignatureLen);
    if (rv == CKR_OK) TraceSignatureOutput(pSignature, pulSignatureLen);
    return rv;
  });
}

CK_RV C_SignUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen) {
  return RunExport("C_SignUpdate", &TokenMutex(), [&]() -> CK_RV {
    TraceHandle("hSession", hSession);
    TraceBuffer("pPart", pPart, ulPartLen);
    if (CK_RV rv = CheckCall(hSession, PointersPresent(pPart != nullptr)); rv != CKR_OK) return rv;
    return SignUpdate(hSession, pPart, ulPartLen);
  });
}

CK_RV C_SignFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen) {
  return RunExport("C_SignFinal", &TokenMutex(), [&]() -> CK_RV {
    TraceHandle("hSession", hSession);
    TracePointer("pSignature", pSignature);
    TracePointer("pulSignatureLen", pulSignatureLen);
    if (CK_RV rv = CheckCall(hSession, PointersPresent(pulSignatureLen != nullptr)); rv != CKR_OK) return rv;

    const CK_RV rv = SignFinal(hSession, pSignature, pulSignatureLen);
    if (rv == CKR_OK) TraceSignatureOutput(pSignature, pulSignatureLen);
    return rv;
  });
}

CK_RV C_VerifyInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
  return RunExport("C_VerifyInit", &TokenMutex(), [&]() -> CK_RV {
    TraceHandle("hSession", hSession);
    TraceMechanism("pMechanism", pMechanism);
    TraceHandle("hKey", hKey);
    if (CK_RV rv = CheckCall(hSession, CheckRsaPkcsMechanism(pMechanism, hKey)); rv != CKR_OK) return rv;
    return VerifyInit(hSession, pMechanism, hKey);
  });
}

CK_RV C_Verify(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
               CK_ULONG ulSignatureLen) {
  return RunExport("C_Verify", &TokenMutex(), [&]() -> CK_RV {
    TraceHandle("hSession", hSession);
    TraceBuffer("pData", pData, ulDataLen);
    TraceBuffer("pSignature", pSignature, ulSignatureLen);
    const CK_RV check = CheckCall(hSession, PointersPresent(pData != nullptr && pSignature != nullptr));
    if (check != CKR_OK) return check;
    return Verify(hSession, pData, ulDataLen, pSignature, ulSignatureLen);
  });
}

CK_RV C_VerifyUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen) {
  return RunExport("C_VerifyUpdate", &TokenMutex(), [&]() -> CK_RV {
    TraceHandle("hSession", hSession);
    TraceBuffer("pPart", pPart, ulPartLen);
    if (CK_RV rv = CheckCall(hSession, PointersPresent(pPart != nullptr)); rv != CKR_OK) return rv;
    return VerifyUpdate(hSession, pPart, ulPartLen);
  });
}

CK_RV C_VerifyFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen) {
  return RunExport("C_VerifyFinal", &TokenMutex(), [&]() -> CK_RV {
    TraceHandle("hSession", hSession);
    TraceBuffer("pSignature", pSignature, ulSignatureLen);
    if (CK_RV rv = CheckCall(hSession, PointersPresent(pSignature != nullptr)); rv != CKR_OK) return rv;
    return VerifyFinal(hSession, pSignature, ulSignatureLen);
  });
}

}  // extern "C"
