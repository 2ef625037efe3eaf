#pragma once
// The reader monitor: watches the PC/SC readers on a thread of its own (or,
// when the application forbids module threads, in short polls on the
// caller's threads) and turns what it sees into registry changes. A card that arrives is connected,
// its applications are loaded and one Slot per application is registered
// under the card's Token; a card or reader that goes has its slots
// invalidated. After each poll, records invalidated more than 15 seconds
// earlier are purged.
//
// Slot ids start at 1 and only grow for the life of the monitor, so an id is
// never reused; a new monitor (the next C_Initialize) starts again at 1.

#include <winscard.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>

#include "card/ReaderStates.h"
#include "card/StatusCache.h"
#include "pkcs11/cryptoki.h"

namespace Brelt::MW::Card {

class CardMemory;

class ConnectionMgr {
 public:
  // The wait for a reader state change, and the pause after a failed poll.
  static constexpr std::chrono::milliseconds kPollInterval{1000};

  // Builds the registry afresh and stores both PC/SC contexts in it.
  ConnectionMgr(SCARDCONTEXT cardContext, SCARDCONTEXT waitContext);
  // Stops the thread (waiting until it has ended), frees the reader states
  // and invalidates the registry's content.
  virtual ~ConnectionMgr();

  ConnectionMgr(const ConnectionMgr&) = delete;
  ConnectionMgr& operator=(const ConnectionMgr&) = delete;

  // One synchronous poll (cards present now get slots without a slot event),
  // then the monitor thread. CKR_OK, or CKR_GENERAL_ERROR when the thread
  // cannot be started.
  CK_RV StartConnectionManager();
  // The same synchronous poll, but no thread: the library then calls
  // PollOnCallerThread from its slot calls. Always CKR_OK.
  CK_RV StartWithoutThread();
  // One poll that does not wait for a change, then the purge. Does nothing
  // unless started by StartWithoutThread. Takes SlotListMutex (and the
  // registry's lock below it), never waits for TokenMutex; callers may hold
  // TokenMutex. Never throws.
  void PollOnCallerThread() noexcept;
  bool PollsOnCallerThreads() const { return pollsOnCallerThreads_.load(); }
  // Asks the thread to end, waits up to 5 seconds, interrupts it when it has
  // not finished, and then waits until it has: nothing the thread uses is
  // freed while it runs. Always CKR_OK.
  CK_RV StopConnectionManager();
  // The same at process exit, where nothing may wait without limit: when the
  // thread has not ended `bound` after the interruption (it waits inside a
  // PC/SC call for a card that another process holds), it is left behind and
  // false is answered. The monitor must then never be destroyed, and nothing
  // may call PC/SC on the card context the thread is blocked in.
  bool StopBeforeExit(std::chrono::milliseconds bound);
  void InterruptConnectionManager();

  bool IsThreadFinished() const { return threadFinished_.load(); }
  CK_SLOT_ID NextSlotId() const { return nextSlotId_.load(); }

  // How long stopping waits for the thread before interrupting it.
  static constexpr std::chrono::milliseconds kStopWait{5000};
  std::chrono::milliseconds StopWait() const { return stopWait_; }

  // Shortens the poll interval and the stop wait of monitors created
  // afterwards (tests only; zero restores the normal value).
  static void SetPollIntervalForTesting(std::chrono::milliseconds interval);
  static void SetStopWaitForTesting(std::chrono::milliseconds wait);
  static std::chrono::milliseconds PollInterval();

  // Builds a new, unregistered slot: the slot id, the reader name, the
  // display name when given, token present.
  static CK_RV CreateSlot(const std::string& readerName, const char* displayName, CK_SLOT_ID slotId,
                          SlotPtr& slot);

 private:
  // Asks the thread to end and waits for it; unbounded without `bound`.
  bool Stop(std::optional<std::chrono::milliseconds> bound);
  void ConnectionThreadFunc();
  // The poll of the start: cards present now get slots without an event.
  void FirstPoll();
  // One poll: list the readers, wait up to `timeout` for a change, apply it.
  void QueryStatus(std::chrono::milliseconds timeout, bool eventFlag);
  LONG GetListReaders(std::vector<std::string>& names);
  LONG GetStatus(ReaderStates& states);
  LONG GetStatusChange(ReaderStates& states, std::chrono::milliseconds timeout);
  void ProcessStatusChange(ReaderStates newStates, bool eventFlag);
  void RemoveSlotIds(const std::string& readerName);
  // 1 when the card is done with (slots registered, or no application of
  // this system on it), 0 when it is to be tried again at the next poll.
  int AddSlotIDs(const std::string& readerName, DWORD eventState, bool eventFlag);
  // Steps of AddSlotIDs between the transaction's begin and the
  // registration; may throw on malformed card data.
  enum class LoadOutcome { Registered, Retry, GiveUp };
  LoadOutcome LoadAndRegister(const std::string& readerName, SCARDHANDLE card,
                              const std::shared_ptr<CardMemory>& memory, DWORD eventState, bool eventFlag,
                              bool& transactionOpen, std::vector<SlotPtr>& newSlots);
  CK_RV ReEstablishContext();
  // After the PC/SC service came back: every card handle is dead, so every
  // slot goes and the next poll sees all present cards as new.
  void ForgetAllCards();
  void DeleteInvalidReferences();
  void FreeRgscStates();
  // Waits `duration` unless the monitor is being stopped; an interruption
  // point of the monitor thread.
  void PauseUnlessStopping(std::chrono::milliseconds duration);

  std::atomic<bool> threadFinished_{true};
  ReaderStates states_;  // as seen at the end of the last poll
  std::atomic<CK_SLOT_ID> nextSlotId_{1};
  boost::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<bool> pollsOnCallerThreads_{false};
  boost::mutex callerPollMutex_;  // one caller-thread poll at a time (states_)
  const std::chrono::milliseconds pollInterval_;
  const std::chrono::milliseconds stopWait_;

  std::atomic<int> threadId_{0};  // kernel id of the monitor thread, for the log

  boost::mutex pauseMutex_;
  boost::condition_variable pauseWakeup_;
};

}  // namespace Brelt::MW::Card
