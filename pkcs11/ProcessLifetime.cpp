#include "pkcs11/ProcessLifetime.h"

#include <pthread.h>
#include <unistd.h>

#include <mutex>

#include "Logger.h"
#include "pkcs11/ApiMutexes.h"
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

}  // namespace

void ProcessAttach() {
  InitLogger();
  LogProcessEvent("Process attached");
  RegisterForkHandler();
}

void ProcessDetach() {
  LogProcessEvent("Process detach request");
  if (IsLibraryInitialized()) FinalizePKCS11(true);
  LogProcessEvent("Process detached");
  CloseLogger();
}

void AfterForkInChild() {
  LoggerAfterForkChild();
  RecreateApiMutexesAfterFork();
  AbandonLibraryStateAfterFork();
}

}  // namespace Brelt::MW::Pkcs11
