#pragma once
// Runs the virtual keyboard modally and keeps the accepted PIN.

#include "Dialogs/ui/AbstractWorker.h"

#include <QPointer>
#include <memory>

class VirtualKeyDialog;

namespace Brelt::MW::Base {
class HexBinary;
}

class VirtualKeyboardDlgWorker : public AbstractWorker {
    Q_OBJECT
public:
    VirtualKeyboardDlgWorker();
    ~VirtualKeyboardDlgWorker() override;

    // Not owned; must outlive the worker's run.
    void SetText(const Brelt::MW::Base::HexBinary* text) { text_ = text; }
    void SetRemainingAttempts(int remainingAttempts) { remainingAttempts_ = remainingAttempts; }
    void SetMinMaxPinLength(int minLength, int maxLength)
    {
        minLength_ = minLength;
        maxLength_ = maxLength;
    }
    // The accepted PIN (only after a result of 0), else null.
    const Brelt::MW::Base::HexBinary* GetPin() const { return pin_.get(); }

    // Any thread, never blocks: a keyboard not yet started will not open
    // (and its waiter is freed at once); an open one is rejected on the GUI
    // thread.
    void RequestCancel();

public slots:
    void CloseDialog();

protected:
    void RunDialog(QWidget* parent) override;

private:
    int remainingAttempts_ = -1;
    int minLength_ = 0;
    int maxLength_ = 0;
    const Brelt::MW::Base::HexBinary* text_ = nullptr;
    std::unique_ptr<Brelt::MW::Base::HexBinary> pin_;
    QPointer<VirtualKeyDialog> dialog_;
};
