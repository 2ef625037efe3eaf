#include "pkcs11/TransactionKeepAlive.h"

#include <sys/utsname.h>

#include "card/RegistryTrace.h"

namespace Brelt::MW::Pkcs11 {

bool IsTransactionKeepAliveNeeded() {
  static constexpr const char* kName = "IsTransactionKeepAliveNeeded";
  TraceEntering(kName);
  if (IsLogLevelEnabled(LOG_LEVEL_DEBUG)) {
    // For information only: the Windows thresholds do not apply to a kernel
    // release.
    utsname name{};
    if (uname(&name) == 0)
      LogMessage(LOG_LEVEL_DEBUG, true, kName, __LINE__, true,
                 "OS %s %s: no transaction keep-alive needed (PC/SC keeps idle transactions)", name.sysname,
                 name.release);
  }
  return Card::TraceLeavingBool(kName, false);
}

bool KeepAliveNeededForWindowsVersion(unsigned major, unsigned minor) {
  return (major == 6 && minor >= 2) || major == 10;
}

}  // namespace Brelt::MW::Pkcs11
