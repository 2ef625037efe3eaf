#include "Dialogs/ui/PinErrorDialog.h"

#include "Dialogs/ui/CrepuscularWidget.h"
#include "Dialogs/ui/DialogLog.h"
#include "ui_pinErrorDialog.h"

namespace {
const char* const kCounterStyle = "QLabel { border-style: none; color: rgb(189, 10, 38); font: 14px \"Open Sans\"; }";
const char* const kLastAttemptStyle = "QLabel { border-style: none; color: red; font: 14px \"Open Sans\"; }";
}  // namespace

PinErrorDialog::PinErrorDialog(QWidget* parent, Qt::WindowFlags flags)
    : QDialog(parent, flags), ui_(std::make_unique<Ui::PinErrorDialog>())
{
    RunGuarded("PinErrorDialog::PinErrorDialog", 28, "Catching PinErrorDialog constructor exception", [&] {
        ui_->setupUi(this);
        connect(ui_->okButton, &QPushButton::clicked, this, [this] { CloseDialog(0); });
        connect(ui_->cancelButton, &QPushButton::clicked, this, [this] { CloseDialog(1); });
    });
}

PinErrorDialog::~PinErrorDialog() = default;

void PinErrorDialog::SetLabel(int pinType)
{
    RunGuarded("PinErrorDialog::SetLabel", 151, "Catching PinErrorDialog::ActiveCrepuscularWindow() exception", [&] {
        if (pinType == 0)
            ui_->pinFailedLabel->setText(QObject::tr("Incorrect BOK value"));
        else if (pinType == 1 || pinType == 3)
            ui_->pinFailedLabel->setText(QObject::tr("Incorrect PIN value"));
    });
}

void PinErrorDialog::Show(int remainingAttempts)
{
    RunGuarded("PinErrorDialog::Show", 59, "Catching PinErrorDialog::Show() exception", [&] {
        ActiveCrepuscularWindow();
        SetRetryCounter(remainingAttempts);
        show();
        ui_->pinFailedLabel->setFocus();
    });
}

void PinErrorDialog::SetRetryCounter(int remainingAttempts)
{
    RunGuarded("PinErrorDialog::SetRetryCounter", 111, "Catching PinErrorDialog::SetRetryCounter() exception", [&] {
        if (remainingAttempts < 0) {
            ui_->retryCounterLabel->hide();
            ui_->retryCounter->hide();
            return;
        }
        ui_->retryCounterLabel->setStyleSheet(QString::fromLatin1(kCounterStyle));
        ui_->retryCounter->setStyleSheet(
            QString::fromLatin1(remainingAttempts == 1 ? kLastAttemptStyle : kCounterStyle));
        ui_->retryCounter->setText(QString::number(remainingAttempts));
        ui_->retryCounterLabel->show();
        ui_->retryCounter->show();
    });
}

void PinErrorDialog::CloseDialog(int code)
{
    RunGuarded("PinErrorDialog::CloseDialog", 74, "Catching PinErrorDialog::CloseDialog() exception", [&] {
        close();
        returnCode_ = code;
        accept();
    });
}

void PinErrorDialog::ActiveCrepuscularWindow()
{
    RunGuarded("PinErrorDialog::ActiveCrepuscularWindow", 136,
               "Catching PinErrorDialog::ActiveCrepuscularWindow() exception",
               [&] { ActivateCrepuscularOverlay(parentWidget()); });
}
