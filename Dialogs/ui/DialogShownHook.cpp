#include "Dialogs/ui/DialogShownHook.h"

#include <mutex>

namespace PinDialogsTesting {
namespace {
std::mutex g_hookMutex;
DialogShownHook g_hook;
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

}  // namespace PinDialogsTesting
