#include "Dialogs/ui/MessageDlgWorkers.h"

#include "Dialogs/ui/DialogShownHook.h"
#include "Dialogs/ui/PinBlockedErrorDialog.h"
#include "Dialogs/ui/PinErrorDialog.h"
#include "Dialogs/ui/PinLengthErrorDialog.h"

#include <QPointer>

void InvalidPinDlgWorker::RunDialog(QWidget* parent)
{
    QPointer<PinErrorDialog> dialog = new PinErrorDialog(parent, kDialogWindowFlags);
    dialog->SetLabel(pinType_);
    dialog->Show(remainingAttempts_);
    PinDialogsTesting::NotifyDialogShown(dialog);
    dialog->exec();
    if (dialog)
        result_ = dialog->GetRetCode();
    delete dialog.data();
}

void BlockedPinDlgWorker::RunDialog(QWidget* parent)
{
    QPointer<PinBlockedErrorDialog> dialog = new PinBlockedErrorDialog(parent, kDialogWindowFlags);
    dialog->SetLabel(pinType_);
    dialog->Show();
    PinDialogsTesting::NotifyDialogShown(dialog);
    dialog->exec();
    result_ = 0;
    delete dialog.data();
}

void PinLengthDlgWorker::RunDialog(QWidget* parent)
{
    QPointer<PinLengthErrorDialog> dialog = new PinLengthErrorDialog(parent, kDialogWindowFlags, true);
    dialog->SetLabel(pinType_);
    dialog->Show(QString());
    PinDialogsTesting::NotifyDialogShown(dialog);
    dialog->exec();
    result_ = 0;
    delete dialog.data();
}
