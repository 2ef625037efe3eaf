#include "Dialogs/ui/PinBlockedErrorDialog.h"

#include "Dialogs/ui/CrepuscularWidget.h"
#include "Dialogs/ui/DialogLog.h"
#include "ui_pinBlockedErrorDialog.h"

PinBlockedErrorDialog::PinBlockedErrorDialog(QWidget* parent, Qt::WindowFlags flags)
    : QDialog(parent, flags), ui_(std::make_unique<Ui::PinBlockedErrorDialog>())
{
    RunGuarded("PinBlockedErrorDialog::PinBlockedErrorDialog", 20,
               "Catching PinBlockedErrorDialog constructor exception", [&] {
                   ui_->setupUi(this);
                   connect(ui_->closeButton, &QPushButton::clicked, this, &PinBlockedErrorDialog::CloseDialog);
               });
}

PinBlockedErrorDialog::~PinBlockedErrorDialog() = default;

void PinBlockedErrorDialog::SetLabel(int pinType)
{
    RunGuarded("PinBlockedErrorDialog::SetLabel", 86, "Catching PinBlockedErrorDialog::SetLabel() exception", [&] {
        if (pinType == 0)
            ui_->label->setText(QObject::tr("Blocked BOK value"));
        else if (pinType == 1 || pinType == 3)
            ui_->label->setText(QObject::tr("Blocked PIN value"));
    });
}

void PinBlockedErrorDialog::Show()
{
    RunGuarded("PinBlockedErrorDialog::Show", 34, "Catching PinBlockedErrorDialog::Show() exception", [&] {
        ActiveCrepuscularWindow();
        show();
        ui_->label->setFocus();
    });
}

void PinBlockedErrorDialog::CloseDialog()
{
    RunGuarded("PinBlockedErrorDialog::CloseDialog", 48, "Catching PinBlockedErrorDialog::CloseDialog() exception",
               [&] {
                   emit ErrorDialogClosed();
                   close();
                   accept();
               });
}

void PinBlockedErrorDialog::ActiveCrepuscularWindow()
{
    RunGuarded("PinBlockedErrorDialog::ActiveCrepuscularWindow", 71,
               "Catching PinBlockedErrorDialog::ActiveCrepuscularWindow() exception",
               [&] { ActivateCrepuscularOverlay(parentWidget()); });
}
