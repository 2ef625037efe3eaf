#pragma once
// Shows the modeless PIN-pad notice; it stays up after ShowGui until
// CloseOnGuiThread removes it.

#include "Dialogs/ui/AbstractWorker.h"

#include <QPointer>

class PinPadRequestDialog;

namespace Brelt::MW::Base {
class HexBinary;
}

class PinPadReqDlgWorker : public AbstractWorker {
    Q_OBJECT
public:
    PinPadReqDlgWorker();
    ~PinPadReqDlgWorker() override;

    void SetRemainingAttempts(int remainingAttempts) { remainingAttempts_ = remainingAttempts; }
    // Copied: the notice outlives the caller's call.
    void SetText(const Brelt::MW::Base::HexBinary* text);

public slots:
    // GUI thread: removes the notice, its translator and backdrop, and
    // deletes the worker.
    void CloseOnGuiThread();

protected:
    void RunDialog(QWidget* parent) override;
    void CleanupGui() override {}

private:
    int remainingAttempts_ = -1;
    std::unique_ptr<Brelt::MW::Base::HexBinary> text_;
    QPointer<PinPadRequestDialog> dialog_;
};
