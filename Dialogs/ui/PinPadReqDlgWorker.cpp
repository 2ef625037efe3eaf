#include "Dialogs/ui/PinPadReqDlgWorker.h"

#include "BaseTypes.h"
#include "Dialogs/ui/DialogLog.h"
#include "Dialogs/ui/DialogShownHook.h"
#include "Dialogs/ui/PinPadRequestDialog.h"

#include <QCoreApplication>

PinPadReqDlgWorker::PinPadReqDlgWorker() = default;

PinPadReqDlgWorker::~PinPadReqDlgWorker() = default;

void PinPadReqDlgWorker::SetText(const Brelt::MW::Base::HexBinary* text)
{
    if (text)
        text_ = std::make_unique<Brelt::MW::Base::HexBinary>(*text);
    else
        text_.reset();
}

void PinPadReqDlgWorker::RunDialog(QWidget* parent)
{
    delete dialog_.data();
    auto* dialog = new PinPadRequestDialog(parent, kDialogWindowFlags);
    dialog_ = dialog;
    dialog->SetLabel(pinType_);
    dialog->SetRemainingAttemps(remainingAttempts_);
    dialog->SetTextLabel(text_.get());
    dialog->Show();
    // An application that ends while the notice is still up takes the
    // notice's windows with it, here on the GUI thread; the worker itself is
    // left to its facade.
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] {
        translator_.reset();
        backdrop_.reset();
    });
    PinDialogsTesting::NotifyDialogShown(dialog);
    result_ = 0;
}

void PinPadReqDlgWorker::CloseOnGuiThread()
{
    { std::lock_guard handOver(Mutex()); }  // pairs with the lock held while posting
    RunGuarded("PinPadReqDlgWorker::CloseDialog", __LINE__, "Catching PinPadReqDlgWorker::CloseDialog() exception",
               [this] {
                   translator_.reset();
                   backdrop_.reset();  // the notice is its child
               });
    deleteLater();
}
