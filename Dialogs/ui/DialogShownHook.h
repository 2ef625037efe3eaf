#pragma once
// Observation point for programs that drive the dialogs themselves (tests,
// the screenshot gallery): called on the GUI thread right after a worker has
// shown its dialog, before the dialog runs modally.

#include <functional>

class QDialog;

namespace PinDialogsTesting {

using DialogShownHook = std::function<void(QDialog*)>;

// Installs the hook (an empty function removes it).
void SetDialogShownHook(DialogShownHook hook);

// Called by the workers.
void NotifyDialogShown(QDialog* dialog);

}  // namespace PinDialogsTesting
