#include "Dialogs/ui/DialogLog.h"

#include <atomic>

namespace {
std::atomic<const PinDialogHost*> g_host{nullptr};
}  // namespace

void SetDialogLogHost(const PinDialogHost* host)
{
    g_host = host;
}

void LogDialogMessage(int level, const char* function, int line, const char* text)
{
    const PinDialogHost* host = g_host;
    if (host != nullptr && host->log != nullptr)
        host->log(level, function, line, text);
}

void LogCaughtException(const char* function, int line, const char* text)
{
    LogDialogMessage(kPinDialogLogError, function, line, text);
}
