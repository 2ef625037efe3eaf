// Library-level exports: initialisation, finalisation and library information.

#include <algorithm>
#include <cstring>

#include "Logger.h"
#include "ModuleVersion.h"
#include "pkcs11/ApiFrame.h"
#include "pkcs11/ApiMutexes.h"
#include "pkcs11/LibraryLifecycle.h"
#include "pkcs11/ProcessLifetime.h"
#include "pkcs11/cryptoki.h"

using namespace Brelt::MW::Pkcs11;

namespace {

// Copies text into a fixed-size PKCS#11 character field, blank-padded and
// without a terminating NUL.
template <size_t N>
void FillBlankPadded(unsigned char (&field)[N], const char* text) {
  std::memset(field, ' ', N);
  std::memcpy(field, text, std::min(std::strlen(text), N));
}

CK_RV CheckInitializeArguments(const CK_C_INITIALIZE_ARGS& args) {
  if (args.pReserved != nullptr) return CKR_ARGUMENTS_BAD;

  const int mutexFunctionsGiven = (args.CreateMutex != nullptr) + (args.DestroyMutex != nullptr) +
                                  (args.LockMutex != nullptr) + (args.UnlockMutex != nullptr);
  if (mutexFunctionsGiven != 0 && mutexFunctionsGiven != 4) return CKR_ARGUMENTS_BAD;

  if (args.flags != 0 && (args.flags & (CKF_LIBRARY_CANT_CREATE_OS_THREADS | CKF_OS_LOCKING_OK)) == 0)
    return CKR_ARGUMENTS_BAD;
  // The module always uses its own locks and never calls the application's
  // mutex functions, so it cannot honour "use only these" (flags 0).
  if (args.flags == 0 && mutexFunctionsGiven == 4) return CKR_CANT_LOCK;
  return CKR_OK;
}

}  // namespace

extern "C" {

CK_RV C_Initialize(CK_VOID_PTR pInitArgs) {
  return RunExport("C_Initialize", &InitializationMutex(), [&]() -> CK_RV {
    TracePointer("pInitArgs", pInitArgs);
    if (IsLibraryInitialized()) return CKR_CRYPTOKI_ALREADY_INITIALIZED;
    MonitorThreading threading = MonitorThreading::ModuleThread;
    if (pInitArgs != nullptr) {
      const auto& args = *static_cast<const CK_C_INITIALIZE_ARGS*>(pInitArgs);
      if (CK_RV rv = CheckInitializeArguments(args); rv != CKR_OK) return rv;
      if (args.flags & CKF_LIBRARY_CANT_CREATE_OS_THREADS) threading = MonitorThreading::CallerThreads;
    }
    PrepareProcessExit();
    return InitializePKCS11(threading);
  });
}

CK_RV C_Finalize(CK_VOID_PTR pReserved) {
  return RunExport("C_Finalize", &InitializationMutex(), [&]() -> CK_RV {
    LogMessage(LOG_LEVEL_DATA, true, nullptr, 0, true, "PKCS11 C_Finalize call start...");
    TracePointer("pReserved", pReserved);
    if (pReserved != nullptr) return CKR_ARGUMENTS_BAD;
    if (!IsLibraryInitialized()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    const CK_RV rv = FinalizePKCS11(false);
    LogMessage(LOG_LEVEL_DATA, true, nullptr, 0, true, "PKCS11 C_Finalize call end...");
    return rv;
  });
}

CK_RV C_GetInfo(CK_INFO_PTR pInfo) {
  return RunExport("C_GetInfo", nullptr, [&]() -> CK_RV {
    TracePointer("pInfo", pInfo);
    if (!IsLibraryInitialized()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (pInfo == nullptr) return CKR_ARGUMENTS_BAD;

    std::memset(pInfo, 0, sizeof(*pInfo));
    pInfo->cryptokiVersion = {2, 20};
    FillBlankPadded(pInfo->manufacturerID, Brelt::MW::kManufacturerId);
    pInfo->flags = 0;
    FillBlankPadded(pInfo->libraryDescription, Brelt::MW::kLibraryDescription);
    pInfo->libraryVersion = {static_cast<CK_BYTE>(Brelt::MW::kLibraryVersionMajor),
                             static_cast<CK_BYTE>(Brelt::MW::kLibraryVersionMinor)};

    TraceOutputHeader();
    TraceOutputBytes("pInfo", pInfo, sizeof(*pInfo));
    return CKR_OK;
  });
}

}  // extern "C"
