#pragma once
// The entry and exit trace lines of the registry's operations (level 5, with
// the operation's full name).

#include "Logger.h"
#include "LogNames.h"

namespace Brelt::MW::Card::Trace {

inline void Entering(const char* name) {
  LogMessage(LOG_LEVEL_TRACE, true, name, 0, true, "Entering %s", name);
}

inline void Leaving(const char* name) {
  LogMessage(LOG_LEVEL_TRACE, true, name, 0, true, "Leaving %s", name);
}

inline void LeavingWithResult(const char* name, CK_RV rv) {
  if (IsLogLevelEnabled(LOG_LEVEL_TRACE))
    LogMessage(LOG_LEVEL_TRACE, true, name, 0, true, "Leaving %s, result = %s", name, CkrToString(rv));
}

// "Leaving %s: TRUE" at level 5, "Leaving %s: FALSE" at level 2.
inline bool LeavingWithBool(const char* name, bool value) {
  if (value)
    LogMessage(LOG_LEVEL_TRACE, true, name, 0, true, "Leaving %s: TRUE", name);
  else
    LogMessage(LOG_LEVEL_INFO, true, name, 0, true, "Leaving %s: FALSE", name);
  return value;
}

// Scoped "Entering"/"Leaving" pair for operations without a result line.
class Scope {
 public:
  explicit Scope(const char* name) : name_(name) { Entering(name_); }
  ~Scope() { Leaving(name_); }
  Scope(const Scope&) = delete;
  Scope& operator=(const Scope&) = delete;

 private:
  const char* name_;
};

}  // namespace Brelt::MW::Card::Trace
