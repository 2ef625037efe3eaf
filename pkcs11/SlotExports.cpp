// Slot, token and mechanism exports.

#include <algorithm>
#include <vector>

#include "pkcs11/ApiFrame.h"
#include "pkcs11/ApiMutexes.h"
#include "pkcs11/InternalOperations.h"
#include "pkcs11/LibraryLifecycle.h"
#include "pkcs11/cryptoki.h"
#include "token/CardObjects.h"

using namespace Brelt::MW::Pkcs11;
using Brelt::MW::Token::CardTransactionScope;

extern "C" {

CK_RV C_GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR pSlotList, CK_ULONG_PTR pulCount) {
  return RunExport("C_GetSlotList", nullptr, [&]() -> CK_RV {
    TraceBool("tokenPresent", tokenPresent);
    TracePointer("pSlotList", pSlotList);
    TracePointer("pulCount", pulCount);
    if (pulCount != nullptr) TraceNumber("*pulCount", *pulCount);
    if (!IsLibraryInitialized()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (pulCount == nullptr) return CKR_ARGUMENTS_BAD;

    PollReadersOnCallerThread();
    const CK_RV rv = GetSlotList(tokenPresent, pSlotList, pulCount);
    if (rv == CKR_OK) {
      TraceOutputHeader();
      TraceNumber("*pulCount", *pulCount);
      if (pSlotList != nullptr) TraceUlongList("pSlotList", pSlotList, *pulCount);
    }
    return rv;
  });
}

CK_RV C_GetSlotInfo(CK_SLOT_ID slotID, CK_SLOT_INFO_PTR pInfo) {
  return RunExport("C_GetSlotInfo", nullptr, [&]() -> CK_RV {
    TraceNumber("slotID", slotID);
    TracePointer("pInfo", pInfo);
    if (!IsLibraryInitialized()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (pInfo == nullptr) return CKR_ARGUMENTS_BAD;
    PollReadersOnCallerThread();
    if (CK_RV rv = FindSlot(slotID, "C_GetSlotInfo", __LINE__); rv != CKR_OK) return rv;

    const CK_RV rv = GetSlotInfo(slotID, pInfo);
    if (rv == CKR_OK) {
      TraceOutputHeader();
      TraceOutputBytes("pInfo", pInfo, sizeof(*pInfo));
    }
    return rv;
  });
}

CK_RV C_GetTokenInfo(CK_SLOT_ID slotID, CK_TOKEN_INFO_PTR pInfo) {
  return RunExport("C_GetTokenInfo", &TokenMutex(), [&]() -> CK_RV {
    TraceNumber("slotID", slotID);
    TracePointer("pInfo", pInfo);
    if (!IsLibraryInitialized()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (pInfo == nullptr) return CKR_ARGUMENTS_BAD;
    PollReadersOnCallerThread();
    if (CK_RV rv = FindSlot(slotID, "C_GetTokenInfo", __LINE__); rv != CKR_OK) return rv;

    // The card's answers are read inside one PC/SC transaction. Only a
    // transaction this call began is ended here, on every way out.
    CardTransactionScope transaction(slotID);
    const CK_RV rv = GetTokenInfo(slotID, pInfo);
    if (rv == CKR_OK) {
      TraceOutputHeader();
      TraceOutputBytes("pInfo", pInfo, sizeof(*pInfo));
    }
    return rv;
  });
}

CK_RV C_WaitForSlotEvent(CK_FLAGS flags, CK_SLOT_ID_PTR pSlot, CK_VOID_PTR pReserved) {
  return RunExport("C_WaitForSlotEvent", nullptr, [&]() -> CK_RV {
    TraceFlags("flags", flags);
    TracePointer("pSlot", pSlot);
    TracePointer("pReserved", pReserved);
    if (!IsLibraryInitialized()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (pReserved != nullptr) return CKR_ARGUMENTS_BAD;
    if (flags != 0 && flags != CKF_DONT_BLOCK) return CKR_ARGUMENTS_BAD;
    if (pSlot == nullptr) return CKR_ARGUMENTS_BAD;

    const CK_RV rv = WaitForSlotEvent(flags, pSlot);
    if (rv == CKR_OK) {
      TraceOutputHeader();
      TraceNumber("*pSlot", *pSlot);
    }
    return rv;
  });
}

CK_RV C_GetMechanismList(CK_SLOT_ID slotID, CK_MECHANISM_TYPE_PTR pMechanismList, CK_ULONG_PTR pulCount) {
  return RunExport("C_GetMechanismList", nullptr, [&]() -> CK_RV {
    TraceNumber("slotID", slotID);
    TracePointer("pMechanismList", pMechanismList);
    TracePointer("pulCount", pulCount);
    if (pulCount != nullptr) TraceNumber("*pulCount", *pulCount);
    if (!IsLibraryInitialized()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (CK_RV rv = FindSlot(slotID, "C_GetMechanismList", __LINE__); rv != CKR_OK) return rv;
    if (pulCount == nullptr) return CKR_ARGUMENTS_BAD;

    const CK_RV rv = GetMechanismList(slotID, pMechanismList, pulCount);
    if (rv == CKR_OK) {
      TraceOutputHeader();
      TraceNumber("*pulCount", *pulCount);
      TraceMechanismList(pMechanismList, *pulCount);
    }
    return rv;
  });
}

CK_RV C_GetMechanismInfo(CK_SLOT_ID slotID, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR pInfo) {
  return RunExport("C_GetMechanismInfo", nullptr, [&]() -> CK_RV {
    TraceNumber("slotID", slotID);
    TraceMechanismType("type", type);
    TracePointer("pInfo", pInfo);
    if (!IsLibraryInitialized()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (pInfo == nullptr) return CKR_ARGUMENTS_BAD;
    if (CK_RV rv = FindSlot(slotID, "C_GetMechanismInfo", __LINE__); rv != CKR_OK) return rv;

    // Only mechanisms the slot lists are described.
    CK_ULONG count = 0;
    if (CK_RV rv = GetMechanismList(slotID, nullptr, &count); rv != CKR_OK) return rv;
    std::vector<CK_MECHANISM_TYPE> mechanisms(count);
    if (GetMechanismList(slotID, mechanisms.data(), &count) != CKR_OK) return CKR_FUNCTION_FAILED;
    mechanisms.resize(count);
    if (std::find(mechanisms.begin(), mechanisms.end(), type) == mechanisms.end()) return CKR_MECHANISM_INVALID;

    const CK_RV rv = GetMechanismInfo(slotID, type, pInfo);
    if (rv == CKR_OK) {
      TraceOutputHeader();
      TraceOutputBytes("pInfo", pInfo, sizeof(*pInfo));
    }
    return rv;
  });
}

}  // extern "C"
