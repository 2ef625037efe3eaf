#include "Dialogs/ui/PinLengthErrorDialog.h"

#include "Dialogs/ui/CrepuscularWidget.h"
#include "Dialogs/ui/DialogLog.h"
#include "Dialogs/ui/GuiEnvironment.h"
#include "ui_pinLengthErrorDialog.h"

PinLengthErrorDialog::PinLengthErrorDialog(QWidget* parent, Qt::WindowFlags flags, bool dimBackground)
    : QDialog(parent, flags), ui_(std::make_unique<Ui::PinLengthErrorDialog>()), dimBackground_(dimBackground)
{
    RunGuarded("PinLengthErrorDialog::PinLengthErrorDialog", 24,
               "Catching PinLengthErrorDialog constructor exception", [&] {
                   ui_->setupUi(this);
                   setAttribute(Qt::WA_TranslucentBackground, TranslucencyAvailable());
                   connect(ui_->closeButton, &QPushButton::clicked, this, &PinLengthErrorDialog::CloseDialog);
               });
}

PinLengthErrorDialog::~PinLengthErrorDialog() = default;

void PinLengthErrorDialog::SetLabel(int pinType)
{
    RunGuarded("PinLengthErrorDialog::SetLabel", 70, "Catching PinLengthErrorDialog::SetLabel() exception", [&] {
        if (pinType == 0)
            ui_->label->setText(QObject::tr("Incorrect BOK value length"));
        else if (pinType == 1 || pinType == 3)
            ui_->label->setText(QObject::tr("Incorrect PIN value length"));
    });
}

void PinLengthErrorDialog::Show(const QString& text)
{
    RunGuarded("PinLengthErrorDialog::Show", 42, "Catching PinLengthErrorDialog::Show() exception", [&] {
        if (dimBackground_)
            ActiveCrepuscularWindow();
        if (!text.isEmpty())
            ui_->label->setText(text);
        show();
        ui_->label->setFocus();
    });
}

void PinLengthErrorDialog::CloseDialog()
{
    RunGuarded("PinLengthErrorDialog::CloseDialog", 55, "Catching PinLengthErrorDialog::CloseDialog() exception",
               [&] {
                   emit ErrorDialogClosed();
                   close();
               });
}

void PinLengthErrorDialog::ActiveCrepuscularWindow()
{
    RunGuarded("PinLengthErrorDialog::ActiveCrepuscularWindow", 95,
               "Catching PinErrorDialog::ActiveCrepuscularWindow() exception",
               [&] { ActivateCrepuscularOverlay(parentWidget()); });
}
