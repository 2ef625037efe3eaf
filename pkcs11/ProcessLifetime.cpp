#include "pkcs11/ProcessLifetime.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <mutex>

#include <botan/secmem.h>

#include "Logger.h"
#include "pkcs11/ApiMutexes.h"
#include "pkcs11/CallerIds.h"
#include "pkcs11/LibraryLifecycle.h"

namespace Brelt::MW::Pkcs11 {
namespace {

void LogProcessEvent(const char* event) {
  LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "%s [PID: %08X, TID: %08X]", event,
             static_cast<unsigned>(getpid()), static_cast<unsigned>(gettid()));
}

void RegisterForkHandler() {
  static std::once_flag registered;
  std::call_once(registered, [] { pthread_atfork(nullptr, nullptr, [] { AfterForkInChild(); }); });
}

std::atomic<bool>& Detached() {
  static std::atomic<bool>& detached = *new std::atomic<bool>(false);
  return detached;
}

}  // namespace

// At exit() the loader runs the module's unload hook only after every exit
// handler, the static destructors of the crypto library included: sessions
// holding digests or keys would then be freed into a torn-down allocator.
// An exit handler registered after that allocator exists runs before it is
// destroyed and detaches first; the unload hook then finds nothing to do.
void PrepareProcessExit() {
  static std::once_flag registered;
  std::call_once(registered, [] {
    { const Botan::secure_vector<uint8_t> allocatorInUse(1); }
    std::atexit([] { ProcessDetach(); });
  });
}

void ProcessAttach() {
  Detached().store(false);
  InitLogger();
  LogProcessEvent("Process attached");
  RegisterForkHandler();
}

void ProcessDetach() {
  if (Detached().exchange(true)) return;
  LogProcessEvent("Process detach request");
  if (IsLibraryInitialized()) FinalizePKCS11(true);
  LogProcessEvent("Process detached");
  CloseLogger();
}

void AfterForkInChild() {
  RenewCallerIdsAfterFork();
  LoggerAfterForkChild();
  RecreateApiMutexesAfterFork();
  AbandonLibraryStateAfterFork();
}

}  // namespace Brelt::MW::Pkcs11
