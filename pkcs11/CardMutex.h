#pragma once
// The cross-process mutex "eID_mutex" that orders the beginning of card
// transactions between the processes of one user. It is a process-shared
// POSIX semaphore in a file of the shared-memory folder whose name carries
// the effective user id, created with mode 0600.
//
// The file is opened without following links and mapped only when it is a
// regular file owned by the effective user and exactly the size of a
// semaphore: a file planted by someone else (empty, short, a link, another
// owner's) must neither crash nor stall the process. Anything else is
// logged and the module relies on the PC/SC transaction alone, which the
// PC/SC service enforces across all users.

#include <semaphore.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace Brelt::MW::Pkcs11 {

class CardMutex {
 public:
  // How long a call waits for another process that holds the mutex before
  // it goes on with the PC/SC transaction alone.
  static constexpr std::chrono::seconds kWait{3};

  ~CardMutex();
  CardMutex(const CardMutex&) = delete;
  CardMutex& operator=(const CardMutex&) = delete;

  // The file of the effective user's mutex: "<folder>/sem.eID_mutex.<euid>".
  static std::string Path();
  // The user's mutex for a new initialisation. One that stays taken for the
  // whole wait was left so by a process that died holding it: it is removed
  // and made afresh, so that it cannot keep the user's other processes
  // waiting. One that is free (or freed within the wait) is shared with the
  // user's processes that use it already. Null when it is not usable.
  static std::unique_ptr<CardMutex> OpenForUser(std::chrono::milliseconds staleAfter = kWait);
  // Opens the mutex at `path`, creating it when it does not exist. Null
  // (after a log line) when it is not usable.
  static std::unique_ptr<CardMutex> Open(const std::string& path);

  // Takes the mutex, waiting at most `wait` for another holder. False
  // (after a log line) when it was not taken.
  bool Take(std::chrono::milliseconds wait = kWait);
  // Takes the mutex and gives it back at once.
  bool PassThrough(std::chrono::milliseconds wait = kWait);
  // Takes the mutex only when it is free at once.
  bool TryTake();
  void Give();

  // Turns at the card (see CardMutexTurn): a process that took its turn may
  // begin further transactions without queueing again for this long; after
  // it, it queues behind the processes of the user that wait for a card.
  static constexpr std::chrono::milliseconds kTurnLength{500};
  // True while the turn taken last is still running.
  bool InTurn() const;
  void StartTurn();
  // Ends the running turn: the next transaction queues again.
  void EndTurn() { turnStart_.store(0); }

  // The folder of the mutex files; tests use a folder of their own.
  static void SetFolderForTesting(std::string folder);

 private:
  explicit CardMutex(sem_t* semaphore) : semaphore_(semaphore) {}
  // Takes the mutex within `wait`, without a log line; errno tells why not.
  bool Wait(std::chrono::milliseconds wait);
  sem_t* const semaphore_;
  // Start of this process's running turn, in steady-clock ticks; 0: none.
  std::atomic<int64_t> turnStart_{0};
};

}  // namespace Brelt::MW::Pkcs11
