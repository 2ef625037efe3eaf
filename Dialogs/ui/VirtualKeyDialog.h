#pragma once
// The on-screen PIN keyboard: ten digit keys in a random or ordered layout,
// backspace and OK, and a display that shows one dot per typed digit.

#include <QDialog>
#include <QList>
#include <QString>
#include <array>
#include <memory>
#include <random>

#include "PinLengthBounds.h"

class QGraphicsView;
class QPushButton;
class Pixmap;
class PinLengthErrorDialog;

namespace Ui {
class VirtualKeyDialog;
}

namespace Brelt::MW::Base {
class HexBinary;
}

class VirtualKeyDialog : public QDialog {
    Q_OBJECT
public:
    // Most digits the keyboard holds, and the maximum used when the caller
    // gives none: twelve 18-pixel dots still fit the display with gaps.
    static constexpr int kPinCapacity = Brelt::MW::Base::kPinCapacity;
    static constexpr int kDefaultMaxLength = Brelt::MW::Base::kDefaultMaxPinLength;

    VirtualKeyDialog(QWidget* parent, Qt::WindowFlags flags);
    ~VirtualKeyDialog() override;

    // A negative count (unknown) hides the remaining-attempts row.
    void SetRemainingAttemps(int remainingAttempts);
    void SetMinMaxPinLength(int minLength, int maxLength);
    void SetLabel(int pinType);
    void SetTextLabel(const Brelt::MW::Base::HexBinary* text);
    void SetExternalDisplay(QGraphicsView* view);
    void Show();
    int GetRetCode() const { return result_; }
    // The typed ASCII digits (possibly none).
    std::unique_ptr<Brelt::MW::Base::HexBinary> GetPINValue() const;
    void InitEventHandling();
    void ActiveCrepuscularWindow();

    // Bounds actually enforced (EffectivePinLengthBounds): at least one
    // digit, a usable maximum.
    int EffectiveMinLength() const;
    int EffectiveMaxLength() const;

public slots:
    void ClearDisplay();
    void Rearrange();
    void OrderButtons();
    void CloseWindow();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void WriteToDisplay(const QString& text);
    void DeleteLastCharacter();
    void PinInsertFinished();

private:
    void LabelDigitKeys(const std::array<int, 10>& values);
    void RemoveLastDot();
    void WipePin();

    std::unique_ptr<Ui::VirtualKeyDialog> ui_;
    QWidget* parent_;
    QList<QPushButton*> keys_;
    QGraphicsView* display_ = nullptr;
    int minLength_ = 0;
    int maxLength_ = 0;
    int remainingAttempts_ = 0;
    QList<Pixmap*> dots_;
    int result_ = 1;
    std::array<char, kPinCapacity> pin_{};
    int pinLength_ = 0;
    PinLengthErrorDialog* lengthError_ = nullptr;
    std::mt19937 layoutRandom_;
};
