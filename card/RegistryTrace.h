#pragma once
// Trace lines of the registry's operations beyond the conventional ones of
// LogTrace.h.

#include "LogTrace.h"

namespace Brelt::MW::Card {

// "Leaving %s: TRUE" at level 5, "Leaving %s: FALSE" at level 2; passes the
// value through.
inline bool TraceLeavingBool(const char* function, bool value) {
  if (value) {
    if (IsLogLevelEnabled(LOG_LEVEL_TRACE))
      LogMessage(LOG_LEVEL_TRACE, true, nullptr, 0, true, "Leaving %s: TRUE", function);
  } else {
    LogMessage(LOG_LEVEL_INFO, true, nullptr, 0, true, "Leaving %s: FALSE", function);
  }
  return value;
}

}  // namespace Brelt::MW::Card
