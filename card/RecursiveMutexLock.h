#pragma once
// Scoped lock on a recursive mutex that traces every acquire and release with
// the calling thread's id, so that lock waits can be followed in the log.

#include <mutex>

namespace Brelt::MW::Card {

class RecursiveMutexLock {
 public:
  explicit RecursiveMutexLock(std::recursive_mutex* mutex);
  ~RecursiveMutexLock();

  RecursiveMutexLock(const RecursiveMutexLock&) = delete;
  RecursiveMutexLock& operator=(const RecursiveMutexLock&) = delete;

 private:
  std::recursive_mutex* mutex_;
};

}  // namespace Brelt::MW::Card
