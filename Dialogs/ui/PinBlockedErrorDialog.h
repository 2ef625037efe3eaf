#pragma once
// "PIN blocked" message.

#include <QDialog>
#include <memory>

namespace Ui {
class PinBlockedErrorDialog;
}

class PinBlockedErrorDialog : public QDialog {
    Q_OBJECT
public:
    PinBlockedErrorDialog(QWidget* parent, Qt::WindowFlags flags);
    ~PinBlockedErrorDialog() override;

    void SetLabel(int pinType);
    void Show();

signals:
    void ErrorDialogClosed();

private slots:
    void CloseDialog();

private:
    void ActiveCrepuscularWindow();

    std::unique_ptr<Ui::PinBlockedErrorDialog> ui_;
};
