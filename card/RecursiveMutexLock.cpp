#include "card/RecursiveMutexLock.h"

#include <unistd.h>

#include <cstdint>

#include "Logger.h"

namespace Brelt::MW::Card {

namespace {

void TraceLockStep(const char* step, const std::recursive_mutex* mutex) {
  if (!IsLogLevelEnabled(LOG_LEVEL_TRACE)) return;
  LogMessage(LOG_LEVEL_TRACE, true, nullptr, 0, true, "[%08X] %s RecursiveMutexLock %08lX",
             static_cast<unsigned>(gettid()), step,
             static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(mutex)));
}

}  // namespace

RecursiveMutexLock::RecursiveMutexLock(std::recursive_mutex* mutex) : mutex_(mutex) {
  TraceLockStep("Acquiring", mutex_);
  mutex_->lock();
  TraceLockStep("Acquired ", mutex_);
}

RecursiveMutexLock::~RecursiveMutexLock() {
  TraceLockStep("Releasing", mutex_);
  mutex_->unlock();
  TraceLockStep("Released ", mutex_);
}

}  // namespace Brelt::MW::Card
