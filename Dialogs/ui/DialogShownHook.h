#pragma once
// Observation points for programs that drive the dialogs themselves (tests,
// the screenshot gallery). The dialog-shown hook is called on the GUI thread
// right after a worker has shown its dialog, before the dialog runs modally.
// The step hook is called at the threading steps below, on the thread that
// takes the step, so that a test can put a cancel or a delay exactly there.

#include <functional>

class QDialog;
class QObject;

namespace PinDialogsTesting {

using DialogShownHook = std::function<void(QDialog*)>;

// Installs the hook (an empty function removes it).
void SetDialogShownHook(DialogShownHook hook);

// Called by the workers.
void NotifyDialogShown(QDialog* dialog);

enum class Step {
    ModuleApplicationCreating,  // just before the module creates a Qt application
    EventLoopStarting,          // first thing the PIN-pad event-loop thread does
    ModalWorkerPosted,          // a modal worker was posted to another GUI thread (object: the worker)
};
using StepHook = std::function<void(Step, QObject*)>;

void SetStepHook(StepHook hook);
void NotifyStep(Step step, QObject* object = nullptr);

// How long ShowPinPadDialog waits for its event-loop thread to become ready
// (milliseconds); 0 restores the default.
void SetEventLoopStartTimeout(int milliseconds);
int EventLoopStartTimeout();

}  // namespace PinDialogsTesting
