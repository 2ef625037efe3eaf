#pragma once
// Workers of the three modal PIN messages.

#include "Dialogs/ui/AbstractWorker.h"

// Wrong PIN: result 0 enter again, 1 cancel.
class InvalidPinDlgWorker : public AbstractWorker {
    Q_OBJECT
public:
    void SetRemainingAttempts(int remainingAttempts) { remainingAttempts_ = remainingAttempts; }

protected:
    void RunDialog(QWidget* parent) override;

private:
    int remainingAttempts_ = -1;
};

// PIN blocked.
class BlockedPinDlgWorker : public AbstractWorker {
    Q_OBJECT
protected:
    void RunDialog(QWidget* parent) override;
};

// Wrong PIN length (with the dimming overlay).
class PinLengthDlgWorker : public AbstractWorker {
    Q_OBJECT
protected:
    void RunDialog(QWidget* parent) override;
};
