#include "pkcs11/LibraryLifecycle.h"

#include <winscard.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "LogTrace.h"
#include "Logger.h"
#include "card/ConnectionMgr.h"
#include "card/StatusCache.h"
#include "pkcs11/CardMutex.h"
#include "pkcs11/InternalOperations.h"

namespace Brelt::MW::Pkcs11 {
namespace {

using Card::ConnectionMgr;
using Card::StatusCache;

// The reader monitor of the initialised library. Never destroyed: the unload
// hook may run after the module's static destructors.
struct LibraryState {
  // Guards `monitor`, and keeps it alive during a caller-thread poll.
  std::mutex mutex;
  std::unique_ptr<ConnectionMgr> monitor;
  std::atomic<bool> initialized{false};
  // Counts initialisations and finalisations, so that a wait that began
  // under one initialisation notices when the library was finalised and
  // initialised again meanwhile.
  std::atomic<uint64_t> generation{0};
  // The user's cross-process mutex, opened once per initialisation. Calls
  // that wait on it hold a reference, so finalising never unmaps it under them.
  std::mutex cardMutexLock;
  std::shared_ptr<CardMutex> cardMutex;
};

LibraryState& State() {
  static LibraryState& state = *new LibraryState;
  return state;
}

void SetCardMutex(std::shared_ptr<CardMutex> mutex) {
  LibraryState& state = State();
  std::shared_ptr<CardMutex> old;  // unmapped outside the lock
  std::lock_guard lock(state.cardMutexLock);
  old.swap(state.cardMutex);
  state.cardMutex = std::move(mutex);
}

SCARDCONTEXT EstablishContext() {
  SCARDCONTEXT context = 0;
  const LONG rv = SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context);
  if (rv == SCARD_S_SUCCESS) return context;
  // Without the PC/SC service the library still starts: it lists no slot,
  // and the monitor connects once the service is there.
  LogMessage(LOG_LEVEL_ERROR, true, "InitializePKCS11", __LINE__, true,
             "Cannot obtain readers context, SCardEstablishContext() result = %s",
             GetErrorText(static_cast<unsigned long>(rv)));
  return 0;
}

void ReleaseContext(SCARDCONTEXT context) {
  if (context != 0) SCardReleaseContext(context);
}

}  // namespace

void FreeStatus(SCARDCONTEXT apiContext, SCARDCONTEXT waitContext) {
  TraceEntering("FreeStatus");
  CloseAllSessions(0);
  if (apiContext != 0) {
    SCardReleaseContext(apiContext);
    StatusCache::SetContextHandle(0);
  }
  if (waitContext != 0) {
    SCardReleaseContext(waitContext);
    StatusCache::SetContextHandleWait(0);
  }
  TraceLeaving("FreeStatus");
}

CK_RV InitializePKCS11(MonitorThreading threading) {
  FunctionTrace trace("InitializePKCS11");
  FreeStatus(0, 0);
  // Opened before the first poll: loading a card takes a turn as well.
  SetCardMutex(CardMutex::OpenForUser());

  const SCARDCONTEXT apiContext = EstablishContext();
  const SCARDCONTEXT waitContext = EstablishContext();

  LibraryState& state = State();
  std::unique_ptr<ConnectionMgr> monitor;
  try {
    monitor = std::make_unique<ConnectionMgr>(apiContext, waitContext);
  } catch (const std::bad_alloc&) {
    ReleaseContext(apiContext);
    ReleaseContext(waitContext);
    SetCardMutex(nullptr);
    return trace.Result(CKR_GENERAL_ERROR);
  }
  CK_RV started = CKR_OK;
  if (threading == MonitorThreading::CallerThreads) {
    LogMessage(LOG_LEVEL_INFO, true, nullptr, 0, true,
               "The reader monitor runs on the caller's threads: the application asked the library not to create "
               "threads");
    started = monitor->StartWithoutThread();
  } else {
    started = monitor->StartConnectionManager();
  }
  if (started != CKR_OK) {
    const SCARDCONTEXT api = StatusCache::GetContextHandle();
    const SCARDCONTEXT wait = StatusCache::GetContextHandleWait();
    monitor.reset();
    FreeStatus(api, wait);
    SetCardMutex(nullptr);
    return trace.Result(CKR_GENERAL_ERROR);
  }
  {
    std::lock_guard lock(state.mutex);
    state.monitor = std::move(monitor);
  }
  state.generation.fetch_add(1);
  state.initialized.store(true);
  return trace.Result(CKR_OK);
}

CK_RV FinalizePKCS11(bool processDetach) {
  FunctionTrace trace("FinalizePKCS11");
  LibraryState& state = State();
  std::unique_ptr<ConnectionMgr> monitor;
  {
    std::lock_guard lock(state.mutex);
    monitor = std::move(state.monitor);
  }
  if (monitor && processDetach && !monitor->StopBeforeExit(monitor->StopWait())) {
    // The process is ending and the monitor waits for a card that another
    // process holds: it is left as it is, with everything it may still use
    // (its card context too: a PC/SC call on it would wait as well).
    static auto& leftBehind = *new std::vector<std::unique_ptr<ConnectionMgr>>;
    leftBehind.push_back(std::move(monitor));
    SetCardMutex(nullptr);
    state.generation.fetch_add(1);
    state.initialized.store(false);
    return trace.Result(CKR_OK);
  }
  if (monitor) monitor->StopConnectionManager();
  LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "FinalizePKCS11: connection manager thread, stop method called");
  monitor.reset();

  if (!processDetach) {
    FreeStatus(StatusCache::GetContextHandle(), StatusCache::GetContextHandleWait());
  } else {
    FreeStatus(0, 0);
    StatusCache::RemoveAllSlots();
    StatusCache::RemoveAllTokens();
    StatusCache::RemoveAllSessions();
    StatusCache::Dispose();
  }
  SetCardMutex(nullptr);
  state.generation.fetch_add(1);
  state.initialized.store(false);
  return trace.Result(CKR_OK);
}

bool IsLibraryInitialized() { return State().initialized.load(); }

uint64_t LibraryGeneration() { return State().generation.load(); }

std::shared_ptr<CardMutex> LibraryCardMutex() {
  LibraryState& state = State();
  std::lock_guard lock(state.cardMutexLock);
  return state.cardMutex;
}

void PollReadersOnCallerThread() noexcept {
  try {
    LibraryState& state = State();
    std::lock_guard lock(state.mutex);
    if (state.monitor) state.monitor->PollOnCallerThread();
  } catch (...) {
    // Only taking the lock can throw; the slot call goes on with what is known.
  }
}

bool LibraryHasMonitorThread() {
  LibraryState& state = State();
  std::lock_guard lock(state.mutex);
  return state.monitor && !state.monitor->PollsOnCallerThreads() && !state.monitor->IsThreadFinished();
}

void AbandonLibraryStateAfterFork() {
  LibraryState& state = State();
  new (&state.mutex) std::mutex();
  new (&state.cardMutexLock) std::mutex();
  // The mapping is the parent's as well; the child opens its own when it
  // initialises again.
  static auto& abandonedMutexes = *new std::vector<std::shared_ptr<CardMutex>>;
  abandonedMutexes.push_back(std::move(state.cardMutex));
  // The monitor thread does not exist in the child and its PC/SC handles
  // belong to the parent: the monitor and the registry are set aside without
  // running their destructors, which would stop the thread, disconnect the
  // parent's cards and release its contexts.
  static auto& abandoned = *new std::vector<std::unique_ptr<ConnectionMgr>>;
  abandoned.push_back(std::move(state.monitor));
  StatusCache::AbandonAfterFork();
  state.initialized.store(false);
}

}  // namespace Brelt::MW::Pkcs11
