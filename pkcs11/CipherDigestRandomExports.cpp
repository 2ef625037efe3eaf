// Deciphering, digest and random-number exports.

#include "pkcs11/ApiFrame.h"
#include "pkcs11/ApiMutexes.h"
#include "pkcs11/InternalOperations.h"
#include "pkcs11/LibraryLifecycle.h"
#include "pkcs11/cryptoki.h"

using namespace Brelt::MW::Pkcs11;

namespace {

// The card answers GET CHALLENGE with at most 255 bytes.
constexpr CK_ULONG kMaxRandomLength = 255;

bool IsSupportedDigest(CK_MECHANISM_TYPE type) {
  return type == CKM_SHA_1 || type == CKM_SHA224 || type == CKM_SHA256 || type == CKM_SHA384 || type == CKM_SHA512;
}

void TraceDigestOutput(CK_BYTE_PTR pDigest, CK_ULONG_PTR pulDigestLen) {
  TraceOutputHeader();
  TraceNumber("*pulDigestLen", *pulDigestLen);
  TraceOutputBytes("pDigest", pDigest, *pulDigestLen);
}

}  // namespace

extern "C" {

CK_RV C_DecryptInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
  return RunExport("C_DecryptInit", &TokenMutex(), [&]() -> CK_RV {
    TraceHandle("hSession", hSession);
    TraceMechanism("pMechanism", pMechanism);
    TraceHandle("hKey", hKey);
    if (!IsLibraryInitialized()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (pMechanism == nullptr || hKey == 0) return CKR_ARGUMENTS_BAD;
    if (pMechanism->mechanism != CKM_RSA_PKCS && pMechanism->mechanism != CKM_RSA_PKCS_OAEP)
      return CKR_MECHANISM_INVALID;
    if (pMechanism->mechanism == CKM_RSA_PKCS &&
        (pMechanism->pParameter != nullptr || pMechanism->ulParameterLen != 0))
      return CKR_MECHANISM_PARAM_INVALID;
    if (CK_RV rv = FindSession(hSession); rv != CKR_OK) return rv;
    return DecryptInit(hSession, pMechanism, hKey);
  });
}

CK_RV C_Decrypt(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedData, CK_ULONG ulEncryptedDataLen,
                CK_BYTE_PTR pData, CK_ULONG_PTR pulDataLen) {
  return RunExport("C_Decrypt", &TokenMutex(), [&]() -> CK_RV {
    TraceHandle("hSession", hSession);
    TraceBuffer("pEncryptedData", pEncryptedData, ulEncryptedDataLen);
    TracePointer("pData", pData);
    TracePointer("pulDataLen", pulDataLen);
    if (!IsLibraryInitialized()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (pEncryptedData == nullptr || pulDataLen == nullptr) return CKR_ARGUMENTS_BAD;
    if (CK_RV rv = FindSession(hSession); rv != CKR_OK) return rv;

    const CK_RV rv = Decrypt(hSession, pEncryptedData, ulEncryptedDataLen, pData, pulDataLen);
    if (rv == CKR_OK) {
      // The deciphered data (often a key) is not written to the log.
      TraceOutputHeader();
      TraceNumber("*pulDataLen", *pulDataLen);
    }
    return rv;
  });
}

CK_RV C_DigestInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism) {
  return RunExport("C_DigestInit", &TokenMutex(), [&]() -> CK_RV {
    TraceHandle("hSession", hSession);
    TraceMechanism("pMechanism", pMechanism);
    if (!IsLibraryInitialized()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (pMechanism == nullptr) return CKR_ARGUMENTS_BAD;
    if (!IsSupportedDigest(pMechanism->mechanism)) return CKR_MECHANISM_INVALID;
    if (CK_RV rv = FindSession(hSession); rv != CKR_OK) return rv;
    return DigestInit(hSession, pMechanism);
  });
}

CK_RV C_Digest(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pDigest,
               CK_ULONG_PTR pulDigestLen) {
  return RunExport("C_Digest", &TokenMutex(), [&]() -> CK_RV {
    TraceHandle("hSession", hSession);
    TraceBuffer("pData", pData, ulDataLen);
    TracePointer("pDigest", pDigest);
    TracePointer("pulDigestLen", pulDigestLen);
    if (!IsLibraryInitialized()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (pData == nullptr || pulDigestLen == nullptr) return CKR_ARGUMENTS_BAD;
    if (CK_RV rv = FindSession(hSession); rv != CKR_OK) return rv;

    const CK_RV rv = Digest(hSession, pData, ulDataLen, pDigest, pulDigestLen);
    if (rv == CKR_OK) TraceDigestOutput(pDigest, pulDigestLen);
    return rv;
  });
}

CK_RV C_DigestUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen) {
  return RunExport("C_DigestUpdate", &TokenMutex(), [&]() -> CK_RV {
    TraceHandle("hSession", hSession);
    TraceBuffer("pPart", pPart, ulPartLen);
    if (!IsLibraryInitialized()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (pPart == nullptr) return CKR_ARGUMENTS_BAD;
    if (CK_RV rv = FindSession(hSession); rv != CKR_OK) return rv;
    return DigestUpdate(hSession, pPart, ulPartLen);
  });
}

CK_RV C_DigestFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pDigest, CK_ULONG_PTR pulDigestLen) {
  return RunExport("C_DigestFinal", &TokenMutex(), [&]() -> CK_RV {
    TraceHandle("hSession", hSession);
    TracePointer("pDigest", pDigest);
    TracePointer("pulDigestLen", pulDigestLen);
    if (!IsLibraryInitialized()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (pulDigestLen == nullptr) return CKR_ARGUMENTS_BAD;
    if (CK_RV rv = FindSession(hSession); rv != CKR_OK) return rv;

    const CK_RV rv = DigestFinal(hSession, pDigest, pulDigestLen);
    if (rv == CKR_OK) TraceDigestOutput(pDigest, pulDigestLen);
    return rv;
  });
}

// Takes TokenMutex like every export that talks to the card: its SELECT and
// GET CHALLENGE commands would otherwise break another thread's signature or
// file read between two of its commands.
CK_RV C_GenerateRandom(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pRandomData, CK_ULONG ulRandomLen) {
  return RunExport("C_GenerateRandom", &TokenMutex(), [&]() -> CK_RV {
    TraceHandle("hSession", hSession);
    TracePointer("pRandomData", pRandomData);
    TraceRandomLength("ulRandomLen", ulRandomLen);
    if (!IsLibraryInitialized()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (pRandomData == nullptr || ulRandomLen > kMaxRandomLength) return CKR_ARGUMENTS_BAD;
    if (CK_RV rv = FindSession(hSession); rv != CKR_OK) return rv;

    const CK_RV rv = GenerateRandom(hSession, pRandomData, ulRandomLen);
    if (rv == CKR_OK) {
      // Random blocks serve as keys and nonces: only their length is logged.
      TraceOutputHeader();
      TraceSecretLength("randomData", ulRandomLen);
    }
    return rv;
  });
}

}  // extern "C"
