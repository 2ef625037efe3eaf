#pragma once
// "Wrong PIN length" message. Used modally by its worker (with the dimming
// overlay) and as a non-modal child of the virtual keyboard (without).

#include <QDialog>
#include <memory>

namespace Ui {
class PinLengthErrorDialog;
}

class PinLengthErrorDialog : public QDialog {
    Q_OBJECT
public:
    PinLengthErrorDialog(QWidget* parent, Qt::WindowFlags flags, bool dimBackground);
    ~PinLengthErrorDialog() override;

    void SetLabel(int pinType);
    // Shows the dialog; a non-empty text replaces the message.
    void Show(const QString& text);

signals:
    void ErrorDialogClosed();

private slots:
    void CloseDialog();

private:
    void ActiveCrepuscularWindow();

    std::unique_ptr<Ui::PinLengthErrorDialog> ui_;
    bool dimBackground_;
};
