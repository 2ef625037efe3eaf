#pragma once
// The calling thread's and process's ids, which every new session records:
// asked of the kernel once per thread instead of twice per session.

#include <cstdint>

namespace Brelt::MW::Pkcs11 {

uint32_t CallerThreadId();
uint32_t CallerProcessId();

// In a child after fork(), on its only thread: that thread's ids changed.
void RenewCallerIdsAfterFork();

}  // namespace Brelt::MW::Pkcs11
