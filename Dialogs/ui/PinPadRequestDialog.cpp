#include "Dialogs/ui/PinPadRequestDialog.h"

#include "Dialogs/ui/CallerText.h"
#include "Dialogs/ui/CrepuscularWidget.h"
#include "Dialogs/ui/DialogLog.h"
#include "Dialogs/ui/GuiEnvironment.h"
#include "ui_pinPadRequestDialog.h"

PinPadRequestDialog::PinPadRequestDialog(QWidget* parent, Qt::WindowFlags flags)
    : QDialog(parent, flags), ui_(std::make_unique<Ui::PinPadRequestDialog>())
{
    RunGuarded("PinPadRequestDialog::PinPadRequestDialog", 21, "Catching PinPadRequestDialog constructor exception",
               [&] {
                   ui_->setupUi(this);
                   setAttribute(Qt::WA_TranslucentBackground, TranslucencyAvailable());
               });
}

PinPadRequestDialog::~PinPadRequestDialog() = default;

void PinPadRequestDialog::SetLabel(int pinType)
{
    RunGuarded("PinPadRequestDialog::SetLabel", 52, "Catching PinPadRequestDialog::SetLabel() exception", [&] {
        switch (pinType) {
        case 0:
            ui_->label->setText(QObject::tr("<html><head/><body><p><span>Enter your </span><span "
                                            "style=\"font-weight:600;\">BOK </span><span>using PinPad "
                                            "reader</span></p></body></html>"));
            break;
        case 1:
            ui_->label->setText(QObject::tr("<html><head/><body><p><span>Enter your </span><span "
                                            "style=\"font-weight:600;\">ZEP PIN </span><span>using PinPad "
                                            "reader</span></p></body></html>"));
            break;
        case 3:
            ui_->label->setText(QObject::tr("<html><head/><body><p><span>Enter your </span><span "
                                            "style=\"font-weight:600;\">PIN </span><span>using PinPad "
                                            "reader</span></p></body></html>"));
            break;
        default:
            break;
        }
    });
}

void PinPadRequestDialog::SetRemainingAttemps(int remainingAttempts)
{
    RunGuarded("PinPadRequestDialog::SetRemainingAttemps", 96,
               "Catching PinPadRequestDialog::SetRemainingAttemps() exception", [&] {
                   remainingAttempts_ = remainingAttempts;
                   if (remainingAttempts == -1) {
                       ui_->label_2->setText(QString());
                       ui_->label_3->setText(QString());
                   } else {
                       ui_->label_3->setText(QString::number(remainingAttempts));
                   }
               });
}

void PinPadRequestDialog::SetTextLabel(const Brelt::MW::Base::HexBinary* text)
{
    RunGuarded("PinPadRequestDialog::SetTextLabel", 116, "Catching VirtualKeyboard::SetTextLabel() exception", [&] {
        if (const auto heading = DecodeCallerText(text)) {
            ui_->label_4->setTextFormat(Qt::PlainText);
            ui_->label_4->setText(*heading);
        }
    });
}

void PinPadRequestDialog::Show()
{
    RunGuarded("PinPadRequestDialog::Show", 35, "Catching PinPadRequestDialog::Show() exception", [&] {
        ActiveCrepuscularWindow();
        show();
        ui_->label->setFocus();
    });
}

void PinPadRequestDialog::ActiveCrepuscularWindow()
{
    RunGuarded("PinPadRequestDialog::ActiveCrepuscularWindow", 75,
               "Catching PinBlockedErrorDialog::ActiveCrepuscularWindow() exception",
               [&] { ActivateCrepuscularOverlay(parentWidget()); });
}
