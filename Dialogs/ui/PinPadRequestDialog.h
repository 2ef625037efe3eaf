#pragma once
// Modeless notice asking the user to type the PIN on the reader's keypad.

#include <QDialog>
#include <memory>

namespace Ui {
class PinPadRequestDialog;
}

namespace Brelt::MW::Base {
class HexBinary;
}

class PinPadRequestDialog : public QDialog {
    Q_OBJECT
public:
    PinPadRequestDialog(QWidget* parent, Qt::WindowFlags flags);
    ~PinPadRequestDialog() override;

    void SetLabel(int pinType);
    // -1 empties the counter row; any other value is shown in decimal.
    void SetRemainingAttemps(int remainingAttempts);
    void SetTextLabel(const Brelt::MW::Base::HexBinary* text);
    void Show();

private:
    void ActiveCrepuscularWindow();

    std::unique_ptr<Ui::PinPadRequestDialog> ui_;
    int remainingAttempts_ = 0;
};
