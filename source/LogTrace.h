#pragma once
// The conventional trace lines of internal functions: "Entering %s" and
// "Leaving %s[, result = %s]" at level 5, "FAILED, result = %s" at level 1
// with the function name and source line.
//
//   CK_RV Token::Refresh() {
//       FunctionTrace trace("Token::Refresh");
//       ...
//       if (rv != CKR_OK) { LOG_FAILED("Token::Refresh", rv); return trace.Result(rv); }
//       return trace.Result(CKR_OK);
//   }

#include "LogNames.h"
#include "Logger.h"

// Every internal function traces its entry and exit: the level is tested
// before a record is formatted, so that a call costs little while the trace
// is off.
inline void TraceEntering(const char* function)
{
    if (IsLogLevelEnabled(LOG_LEVEL_TRACE))
        LogMessage(LOG_LEVEL_TRACE, true, nullptr, 0, true, "Entering %s", function);
}

inline void TraceLeaving(const char* function)
{
    if (IsLogLevelEnabled(LOG_LEVEL_TRACE))
        LogMessage(LOG_LEVEL_TRACE, true, nullptr, 0, true, "Leaving %s", function);
}

inline void TraceLeaving(const char* function, CK_RV result)
{
    if (IsLogLevelEnabled(LOG_LEVEL_TRACE))
        LogMessage(LOG_LEVEL_TRACE, true, nullptr, 0, true, "Leaving %s, result = %s", function,
                   CkrToString(result));
}

inline void TraceFailed(const char* function, int line, CK_RV result)
{
    if (IsLogLevelEnabled(LOG_LEVEL_ERROR))
        LogMessage(LOG_LEVEL_ERROR, true, function, line, true, "FAILED, result = %s", CkrToString(result));
}

// "FAILED, result = %s" with the caller's source line.
#define LOG_FAILED(function, result) TraceFailed((function), __LINE__, (result))

// Writes "Entering" on construction and "Leaving" when the scope ends, with
// the result if one was recorded through Result().
class FunctionTrace {
public:
    explicit FunctionTrace(const char* function) : function_(function) { TraceEntering(function_); }
    FunctionTrace(const FunctionTrace&) = delete;
    FunctionTrace& operator=(const FunctionTrace&) = delete;
    ~FunctionTrace()
    {
        if (hasResult_) {
            TraceLeaving(function_, result_);
        } else {
            TraceLeaving(function_);
        }
    }

    // Records the result for the "Leaving" line and passes it through.
    CK_RV Result(CK_RV result)
    {
        result_ = result;
        hasResult_ = true;
        return result;
    }

    const char* Function() const { return function_; }

private:
    const char* function_;
    CK_RV result_ = CKR_OK;
    bool hasResult_ = false;
};
