#include "Dialogs/ui/VirtualKeyboardDlgWorker.h"

#include "BaseTypes.h"
#include "Dialogs/ui/DialogShownHook.h"
#include "Dialogs/ui/VirtualKeyDialog.h"

#include <string.h>

VirtualKeyboardDlgWorker::VirtualKeyboardDlgWorker() = default;

VirtualKeyboardDlgWorker::~VirtualKeyboardDlgWorker()
{
    if (pin_ && pin_->data)
        explicit_bzero(pin_->data, static_cast<size_t>(pin_->length));
}

void VirtualKeyboardDlgWorker::RequestCancel()
{
    Cancel();
    QMetaObject::invokeMethod(this, "CloseDialog", Qt::QueuedConnection);
}

void VirtualKeyboardDlgWorker::CloseDialog()
{
    if (dialog_)
        dialog_->reject();
}

void VirtualKeyboardDlgWorker::RunDialog(QWidget* parent)
{
    auto* dialog = new VirtualKeyDialog(parent, kDialogWindowFlags);
    dialog_ = dialog;
    dialog->SetRemainingAttemps(remainingAttempts_);
    dialog->SetMinMaxPinLength(minLength_, maxLength_);
    dialog->SetLabel(pinType_);
    dialog->SetTextLabel(text_);
    // A cancel that came before the dialog existed still counts.
    if (IsCancelled()) {
        result_ = 1;
    } else {
        dialog->Show();
        PinDialogsTesting::NotifyDialogShown(dialog);
        dialog->exec();
        result_ = dialog_ ? dialog->GetRetCode() : -1;
        if (result_ == 0 && dialog_)
            pin_ = dialog->GetPINValue();
    }
    delete dialog_.data();
}
