#include "Dialogs/ui/DialogShownHook.h"

#include <atomic>
#include <mutex>

namespace PinDialogsTesting {
namespace {

constexpr int kDefaultEventLoopStartTimeoutMs = 10000;

std::mutex g_hookMutex;
DialogShownHook g_hook;
StepHook g_stepHook;
std::atomic<int> g_eventLoopStartTimeoutMs{kDefaultEventLoopStartTimeoutMs};

}  // namespace

void SetDialogShownHook(DialogShownHook hook)
{
    std::lock_guard lock(g_hookMutex);
    g_hook = std::move(hook);
}

void NotifyDialogShown(QDialog* dialog)
{
    DialogShownHook hook;
    {
        std::lock_guard lock(g_hookMutex);
        hook = g_hook;
    }
    if (hook)
        hook(dialog);
}

void SetStepHook(StepHook hook)
{
    std::lock_guard lock(g_hookMutex);
    g_stepHook = std::move(hook);
}

void NotifyStep(Step step, QObject* object)
{
    StepHook hook;
    {
        std::lock_guard lock(g_hookMutex);
        hook = g_stepHook;
    }
    if (hook)
        hook(step, object);
}

void SetEventLoopStartTimeout(int milliseconds)
{
    g_eventLoopStartTimeoutMs = milliseconds > 0 ? milliseconds : kDefaultEventLoopStartTimeoutMs;
}

int EventLoopStartTimeout()
{
    return g_eventLoopStartTimeoutMs;
}

}  // namespace PinDialogsTesting
