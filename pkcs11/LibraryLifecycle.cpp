#include "pkcs11/LibraryLifecycle.h"

#include <atomic>

#include "LogTrace.h"

namespace Brelt::MW::Pkcs11 {
namespace {

// The module has no slot registry or reader monitor yet: initialisation only
// records that the library is usable.
constinit std::atomic<bool> libraryInitialized{false};

}  // namespace

CK_RV InitializePKCS11() {
  FunctionTrace trace("InitializePKCS11");
  libraryInitialized.store(true);
  return trace.Result(CKR_OK);
}

CK_RV FinalizePKCS11(bool processDetach) {
  FunctionTrace trace("FinalizePKCS11");
  libraryInitialized.store(false);
  return trace.Result(CKR_OK);
}

bool IsLibraryInitialized() { return libraryInitialized.load(); }

void AbandonLibraryStateAfterFork() { libraryInitialized.store(false); }

}  // namespace Brelt::MW::Pkcs11
