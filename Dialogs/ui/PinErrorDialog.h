#pragma once
// "Wrong PIN" message with the remaining attempts and the choice to enter
// the PIN again (return code 0) or to cancel (1).

#include <QDialog>
#include <memory>

namespace Ui {
class PinErrorDialog;
}

class PinErrorDialog : public QDialog {
    Q_OBJECT
public:
    PinErrorDialog(QWidget* parent, Qt::WindowFlags flags);
    ~PinErrorDialog() override;

    void SetLabel(int pinType);
    void Show(int remainingAttempts);
    // Negative: counter hidden; 1: the number in red; otherwise the number.
    void SetRetryCounter(int remainingAttempts);
    int GetRetCode() const { return returnCode_; }

public slots:
    void CloseDialog(int code);

private:
    void ActiveCrepuscularWindow();

    std::unique_ptr<Ui::PinErrorDialog> ui_;
    int returnCode_ = 1;
};
