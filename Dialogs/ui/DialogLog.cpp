#include "Dialogs/ui/DialogLog.h"

#include "Logger.h"

void LogCaughtException(const char* function, int line, const char* text)
{
    LogMessage(LOG_LEVEL_ERROR, true, function, line, true, "%s", text);
}
