// ConnectionMgr: lifetime, the monitor thread and the reader poll.

#include "card/ConnectionMgr.h"

#include <unistd.h>

#include <algorithm>
#include <exception>
#include <future>
#include <utility>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/thread/locks.hpp>

#include "LogTrace.h"
#include "Logger.h"
#include "card/Slot.h"
#include "pkcs11/ApiMutexes.h"

namespace Brelt::MW::Card {
namespace {

constexpr const char kPnpNotificationReader[] = "\\\\?PnP?\\Notification";
// The most reader states one SCardGetStatusChange call takes (pcsc-lite's
// PCSCLITE_MAX_READERS_CONTEXTS).
constexpr size_t kMaxStatesPerCall = 16;
std::atomic<long> pollIntervalForTesting{0};
std::atomic<long> stopWaitForTesting{0};

// Codes after which the PC/SC contexts are useless: the service stopped or
// restarted, or the contexts were released by a failed re-establishment.
bool IsServiceLost(LONG rv) {
  return rv == SCARD_E_NO_SERVICE || rv == SCARD_E_SERVICE_STOPPED || rv == SCARD_E_INVALID_HANDLE ||
         rv == SCARD_F_COMM_ERROR;
}


}  // namespace

void ConnectionMgr::SetPollIntervalForTesting(std::chrono::milliseconds interval) {
  pollIntervalForTesting.store(interval.count());
}

void ConnectionMgr::SetStopWaitForTesting(std::chrono::milliseconds wait) { stopWaitForTesting.store(wait.count()); }

std::chrono::milliseconds ConnectionMgr::PollInterval() {
  const long testing = pollIntervalForTesting.load();
  return testing > 0 ? std::chrono::milliseconds(testing) : kPollInterval;
}

ConnectionMgr::ConnectionMgr(SCARDCONTEXT cardContext, SCARDCONTEXT waitContext)
    : pollInterval_(PollInterval()),
      stopWait_(stopWaitForTesting.load() > 0 ? std::chrono::milliseconds(stopWaitForTesting.load()) : kStopWait) {
  FunctionTrace trace("ConnectionMgr::ConnectionMgr");
  StatusCache::Initialize();
  StatusCache::SetContextHandle(cardContext);
  StatusCache::SetContextHandleWait(waitContext);
}

ConnectionMgr::~ConnectionMgr() {
  FunctionTrace trace("ConnectionMgr::~ConnectionMgr");
  LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "~ConnectionMgr destructor call");
  LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true,
             "~ConnectionMgr destructor: stopping connection manager thread");
  try {
    StopConnectionManager();
    FreeRgscStates();
    StatusCache::InvalidateContent();
  } catch (...) {
    LogMessage(LOG_LEVEL_ERROR, true, "ConnectionMgr::~ConnectionMgr", __LINE__, true,
               "Exception while stopping the reader monitor");
  }
}

CK_RV ConnectionMgr::StartConnectionManager() {
  FunctionTrace trace("ConnectionMgr::StartConnectionManager");
  running_.store(true);
  FirstPoll();

  threadFinished_.store(false);
  std::promise<int> started;
  std::future<int> startedId = started.get_future();
  try {
    thread_ = boost::thread([this, &started] {
      started.set_value(static_cast<int>(gettid()));
      ConnectionThreadFunc();
    });
  } catch (const std::exception&) {
    threadFinished_.store(true);
    running_.store(false);
    LogMessage(LOG_LEVEL_ERROR, true, "ConnectionMgr::StartConnectionManager", __LINE__, true,
               "Cannot start the monitoring thread");
    return trace.Result(CKR_GENERAL_ERROR);
  }
  threadId_.store(startedId.get());
  LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "Monitoring thread started, TID=%08X",
             static_cast<unsigned>(threadId_.load()));
  return trace.Result(CKR_OK);
}

void ConnectionMgr::FirstPoll() {
  // A card whose data cannot be read must not fail the initialisation.
  try {
    QueryStatus(std::chrono::milliseconds(0), false);
  } catch (const boost::thread_interrupted&) {
    throw;
  } catch (...) {
    LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "Monitoring thread exception occured");
  }
}

CK_RV ConnectionMgr::StartWithoutThread() {
  FunctionTrace trace("ConnectionMgr::StartWithoutThread");
  running_.store(true);
  {
    boost::lock_guard<boost::mutex> lock(callerPollMutex_);
    FirstPoll();
  }
  pollsOnCallerThreads_.store(true);
  return trace.Result(CKR_OK);
}

void ConnectionMgr::PollOnCallerThread() noexcept {
  if (!pollsOnCallerThreads_.load() || !running_.load()) return;
  try {
    FunctionTrace trace("ConnectionMgr::PollOnCallerThread");
    boost::lock_guard<boost::mutex> lock(callerPollMutex_);
    QueryStatus(std::chrono::milliseconds(0), true);
    // Only tries TokenMutex: a caller that holds it postpones the purge.
    DeleteInvalidReferences();
  } catch (...) {
    // A card that cannot be read or a PC/SC failure must not fail the
    // caller's slot call; the next call polls again.
    LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "Monitoring poll exception occured");
  }
}

CK_RV ConnectionMgr::StopConnectionManager() {
  FunctionTrace trace("ConnectionMgr::StopConnectionManager");
  Stop(std::nullopt);
  return trace.Result(CKR_OK);
}

bool ConnectionMgr::StopBeforeExit(std::chrono::milliseconds bound) {
  FunctionTrace trace("ConnectionMgr::StopBeforeExit");
  return Stop(bound);
}

bool ConnectionMgr::Stop(std::optional<std::chrono::milliseconds> bound) {
  if (!thread_.joinable()) {
    // No thread was started (or it has been stopped already): nothing to end.
    running_.store(false);
    return true;
  }

  const auto tid = static_cast<unsigned>(threadId_.load());
  LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "Stopping monitoring thread, TID=%08X", tid);
  {
    boost::lock_guard<boost::mutex> lock(pauseMutex_);
    running_.store(false);
    pauseWakeup_.notify_all();
  }
  // Ends the current wait for a reader change at once instead of at its timeout.
  if (const SCARDCONTEXT wait = StatusCache::GetContextHandleWait(); wait != 0) SCardCancel(wait);

  if (thread_.joinable()) {
    const bool ended = thread_.timed_join(boost::posix_time::milliseconds(stopWait_.count()));
    if (!ended || !threadFinished_.load()) {
      InterruptConnectionManager();
      // The thread may be inside a PC/SC call that waits for another
      // process's transaction; it reaches an interruption point when that
      // returns. Nothing it uses may be freed before then.
      if (!bound) {
        thread_.join();
      } else if (!thread_.timed_join(boost::posix_time::milliseconds(bound->count()))) {
        LogMessage(LOG_LEVEL_ERROR, true, "ConnectionMgr::StopBeforeExit", __LINE__, true,
                   "Monitoring thread still waits for a card, left behind, TID=%08X", tid);
        thread_.detach();
        return false;
      }
    }
  }
  LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "Monitoring thread stopped, TID=%08X", tid);
  return true;
}

void ConnectionMgr::InterruptConnectionManager() {
  FunctionTrace trace("ConnectionMgr::InterruptConnectionManager");
  LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "Interrupt monitoring thread, TID=%08X",
             static_cast<unsigned>(threadId_.load()));
  thread_.interrupt();
}

void ConnectionMgr::ConnectionThreadFunc() {
  FunctionTrace trace("ConnectionMgr::ConnectionThreadFunc");
  threadFinished_.store(false);
  while (running_.load()) {
    try {
      QueryStatus(pollInterval_, true);
      DeleteInvalidReferences();
    } catch (const boost::thread_interrupted&) {
      LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "InterruptedException occured in monitoring thread");
      break;
    } catch (...) {
      // One bad card or PC/SC failure must not end the monitoring: log it
      // and go on with the next poll.
      LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "Monitoring thread exception occured");
      try {
        PauseUnlessStopping(pollInterval_);
      } catch (const boost::thread_interrupted&) {
        break;
      }
    }
  }
  threadFinished_.store(true);
}

void ConnectionMgr::PauseUnlessStopping(std::chrono::milliseconds duration) {
  if (duration.count() <= 0) return;
  boost::unique_lock<boost::mutex> lock(pauseMutex_);
  pauseWakeup_.timed_wait(lock, boost::posix_time::milliseconds(duration.count()), [this] { return !running_.load(); });
}

void ConnectionMgr::QueryStatus(std::chrono::milliseconds timeout, bool eventFlag) {
  FunctionTrace trace("ConnectionMgr::QueryStatus");
  std::vector<std::string> names;
  LONG rv = GetListReaders(names);
  if (IsServiceLost(rv)) {
    if (ReEstablishContext() != CKR_OK) {
      PauseUnlessStopping(timeout);
      return;
    }
    ForgetAllCards();
    names.clear();
    rv = GetListReaders(names);
  }
  if (rv != SCARD_S_SUCCESS && rv != SCARD_E_NO_READERS_AVAILABLE) {
    // Without a reader list nothing can be compared: keep what is known.
    PauseUnlessStopping(timeout);
    return;
  }

  ReaderStates fresh(std::move(names));
  if (GetStatus(fresh) != SCARD_S_SUCCESS) {
    PauseUnlessStopping(timeout);
    return;
  }
  const bool noReaders = fresh.Empty();
  rv = GetStatusChange(fresh, timeout);
  if (running_.load() && (rv == SCARD_S_SUCCESS || rv == SCARD_E_TIMEOUT)) {
    ProcessStatusChange(std::move(fresh), eventFlag);
  } else {
    PauseUnlessStopping(timeout);
    return;
  }
  // With no reader, a wait that ended at once must not turn into a busy loop.
  if (noReaders && rv != SCARD_E_TIMEOUT) PauseUnlessStopping(timeout);
}

LONG ConnectionMgr::GetListReaders(std::vector<std::string>& names) {
  FunctionTrace trace("ConnectionMgr::GetListReaders");
  const SCARDCONTEXT context = StatusCache::GetContextHandleWait();
  char* multiString = nullptr;
  DWORD length = SCARD_AUTOALLOCATE;
  const LONG rv = SCardListReaders(context, nullptr, reinterpret_cast<char*>(&multiString), &length);
  if (rv != SCARD_S_SUCCESS) {
    if (rv != SCARD_E_NO_READERS_AVAILABLE && rv != SCARD_E_NO_SERVICE && rv != SCARD_E_SERVICE_STOPPED)
      LogMessage(LOG_LEVEL_ERROR, true, "ConnectionMgr::GetListReaders", __LINE__, true,
                 "Cannot do SCardListReaders() result = %s", GetErrorText(static_cast<unsigned long>(rv)));
    return rv;
  }
  if (multiString != nullptr) {
    // Names separated by NUL, the list ended by an empty name; never read
    // past the length the service reported.
    const char* end = multiString + length;
    for (const char* name = multiString; name < end && *name != '\0';) {
      const char* stop = name;
      while (stop < end && *stop != '\0') ++stop;
      names.emplace_back(name, stop);
      name = stop + 1;
    }
    if (const LONG freed = SCardFreeMemory(context, multiString); freed != SCARD_S_SUCCESS)
      LogMessage(LOG_LEVEL_ERROR, true, "ConnectionMgr::GetListReaders", __LINE__, true, "SCardFreeMemoryFailed: %s",
                 GetErrorText(static_cast<unsigned long>(freed)));
  }
  return rv;
}

LONG ConnectionMgr::GetStatus(ReaderStates& states) {
  FunctionTrace trace("ConnectionMgr::GetStatus");
  // One call takes at most kMaxStatesPerCall readers: more are asked in groups.
  LONG rv = SCARD_S_SUCCESS;
  for (size_t first = 0; first < states.Count() && rv == SCARD_S_SUCCESS; first += kMaxStatesPerCall) {
    const size_t count = std::min(kMaxStatesPerCall, states.Count() - first);
    rv = SCardGetStatusChange(StatusCache::GetContextHandleWait(), 0, states.Data() + first,
                              static_cast<DWORD>(count));
  }
  if (states.Empty())
    rv = SCardGetStatusChange(StatusCache::GetContextHandleWait(), 0, states.Data(), 0);
  if (rv != SCARD_S_SUCCESS) {
    LogMessage(LOG_LEVEL_ERROR, true, "ConnectionMgr::GetStatus", __LINE__, true,
               "Cannot do 1. SCardGetStatusChange() result = %s", GetErrorText(static_cast<unsigned long>(rv)));
    return rv;
  }
  states.AcceptEventStates();
  return rv;
}

LONG ConnectionMgr::GetStatusChange(ReaderStates& states, std::chrono::milliseconds timeout) {
  FunctionTrace trace("ConnectionMgr::GetStatusChange");
  if (states.Count() > kMaxStatesPerCall) {
    // More readers than one wait can watch: the poll that follows compares
    // every reader's state with the last one, so a pause stands in for the wait.
    PauseUnlessStopping(timeout);
    return SCARD_E_TIMEOUT;
  }
  // The service's new-reader notification ends the wait when a reader is
  // plugged in; the reader list is polled on every round all the same, so
  // the notification is left out when it would not fit into the call.
  std::vector<SCARD_READERSTATE> waitFor(states.Data(), states.Data() + states.Count());
  if (waitFor.size() < kMaxStatesPerCall) {
    SCARD_READERSTATE pnp{};
    pnp.szReader = kPnpNotificationReader;
    pnp.dwCurrentState = static_cast<DWORD>(states.Count()) << 16;
    waitFor.push_back(pnp);
  }

  const LONG rv = SCardGetStatusChange(StatusCache::GetContextHandleWait(), static_cast<DWORD>(timeout.count()),
                                       waitFor.data(), static_cast<DWORD>(waitFor.size()));
  if (rv != SCARD_S_SUCCESS && rv != SCARD_E_TIMEOUT) {
    if (rv != SCARD_E_CANCELLED || running_.load())
      LogMessage(LOG_LEVEL_ERROR, true, "ConnectionMgr::GetStatusChange", __LINE__, true,
                 "Cannot do 2. SCardGetStatusChange() result = %s", GetErrorText(static_cast<unsigned long>(rv)));
    return rv;
  }
  for (size_t i = 0; i < states.Count(); ++i) states[i].dwEventState = waitFor[i].dwEventState;
  return rv;
}

CK_RV ConnectionMgr::ReEstablishContext() {
  FunctionTrace trace("ConnectionMgr::ReEstablishContext");
  LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "ReEstablishContext START");
  for (SCARDCONTEXT old : {StatusCache::GetContextHandle(), StatusCache::GetContextHandleWait()}) {
    if (old == 0) continue;
    if (const LONG rv = SCardReleaseContext(old); rv != SCARD_S_SUCCESS)
      LogMessage(LOG_LEVEL_INFO, true, "ConnectionMgr::ReEstablishContext", __LINE__, true,
                 "ReEstablishContext failed (SCardReleaseContext): %s", GetErrorText(static_cast<unsigned long>(rv)));
  }
  StatusCache::SetContextHandle(0);
  StatusCache::SetContextHandleWait(0);

  SCARDCONTEXT cardContext = 0;
  SCARDCONTEXT waitContext = 0;
  LONG rv = SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &cardContext);
  if (rv == SCARD_S_SUCCESS) {
    StatusCache::SetContextHandle(cardContext);
    rv = SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &waitContext);
  }
  if (rv != SCARD_S_SUCCESS) {
    LogMessage(LOG_LEVEL_ERROR, true, "ConnectionMgr::ReEstablishContext", __LINE__, true,
               "ReEstablishContext failed (SCardEstablishContext): %s", GetErrorText(static_cast<unsigned long>(rv)));
    return trace.Result(CKR_GENERAL_ERROR);
  }
  StatusCache::SetContextHandleWait(waitContext);
  LogMessage(LOG_LEVEL_DEBUG, true, nullptr, 0, true, "ReEstablishContext END successfull");
  return trace.Result(CKR_OK);
}

void ConnectionMgr::FreeRgscStates() {
  FunctionTrace trace("ConnectionMgr::FreeRgscStates");
  states_.Clear();
}

}  // namespace Brelt::MW::Card
