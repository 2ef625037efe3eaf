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

#include <chrono>
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
  // Removes the user's mutex file, so that one left taken by a process that
  // died holding it cannot keep the user's other processes waiting.
  static void Remove();
  // Opens the mutex at `path`, creating it when it does not exist. Null
  // (after a log line) when it is not usable.
  static std::unique_ptr<CardMutex> Open(const std::string& path);

  // Takes the mutex and gives it back at once, waiting at most `wait` for
  // another holder. False (after a log line) when it was not taken.
  bool PassThrough(std::chrono::milliseconds wait = kWait);
  // Takes the mutex and keeps it (tests stand in for another process).
  bool TryTake();
  void Give();

  // The folder of the mutex files; tests use a folder of their own.
  static void SetFolderForTesting(std::string folder);

 private:
  explicit CardMutex(sem_t* semaphore) : semaphore_(semaphore) {}
  sem_t* const semaphore_;
};

}  // namespace Brelt::MW::Pkcs11
