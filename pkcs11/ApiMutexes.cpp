#include "pkcs11/ApiMutexes.h"

#include <atomic>

namespace Brelt::MW::Pkcs11 {
namespace {

// Construct-on-first-use holder of one never-destroyed mutex.
class MutexHolder {
public:
  boost::mutex& Get() {
    boost::mutex* current = mutex_.load(std::memory_order_acquire);
    if (current != nullptr) return *current;
    auto* created = new boost::mutex;
    if (mutex_.compare_exchange_strong(current, created, std::memory_order_acq_rel)) return *created;
    delete created;  // another thread won the race
    return *current;
  }

  // The previous mutex may be locked by a thread that no longer exists; it
  // is deliberately leaked rather than destroyed while locked.
  void Replace() { mutex_.store(new boost::mutex, std::memory_order_release); }

private:
  std::atomic<boost::mutex*> mutex_{nullptr};
};

// Constant-initialised (no constructor runs at load time), so usable from the
// load hook whatever the order of static initialisation.
constinit MutexHolder initializationMutex;
constinit MutexHolder tokenMutex;
constinit MutexHolder slotListMutex;

}  // namespace

boost::mutex& InitializationMutex() { return initializationMutex.Get(); }
boost::mutex& TokenMutex() { return tokenMutex.Get(); }
boost::mutex& SlotListMutex() { return slotListMutex.Get(); }

void RecreateApiMutexesAfterFork() {
  initializationMutex.Replace();
  tokenMutex.Replace();
  slotListMutex.Replace();
}

}  // namespace Brelt::MW::Pkcs11
