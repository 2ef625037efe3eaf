// The fuzzers run without the trace log: the log entry points the token
// parsers call do nothing.
#include <cstdarg>

#include "Logger.h"
#include "LogNames.h"

void LogMessage(int, bool, const char*, int, bool, const char*, ...) {}

bool IsLogLevelEnabled(int)
{
    return false;
}

const char* CkrToString(CK_RV)
{
    return "";
}
