#include "pkcs11/CallerIds.h"

#include <unistd.h>

namespace Brelt::MW::Pkcs11 {
namespace {

struct CallerIds {
  uint32_t thread = 0;
  uint32_t process = 0;
};

CallerIds& Cached() {
  thread_local CallerIds ids{static_cast<uint32_t>(gettid()), static_cast<uint32_t>(getpid())};
  return ids;
}

}  // namespace

uint32_t CallerThreadId() { return Cached().thread; }

uint32_t CallerProcessId() { return Cached().process; }

void RenewCallerIdsAfterFork() {
  Cached() = CallerIds{static_cast<uint32_t>(gettid()), static_cast<uint32_t>(getpid())};
}

}  // namespace Brelt::MW::Pkcs11
