#include "Dialogs/ui/VirtualKeyDialog.h"

#include "BaseTypes.h"
#include "Dialogs/ui/CallerText.h"
#include "Dialogs/ui/CrepuscularWidget.h"
#include "Dialogs/ui/DialogLog.h"
#include "Dialogs/ui/GuiEnvironment.h"
#include "Dialogs/ui/PinLengthErrorDialog.h"
#include "Dialogs/ui/Pixmap.h"
#include "ui_virtualKeyDialog.h"

#include <QGraphicsScene>
#include <QGraphicsView>
#include <QKeyEvent>
#include <QPixmap>
#include <algorithm>
#include <cstring>
#include <numeric>

namespace {

const char* const kDotImage = ":/VestrinaApp/Resources/PIN_dot.png";

bool IsControlKey(const QPushButton* key)
{
    const QString name = key->objectName();
    return name == QLatin1String("okButton") || name == QLatin1String("backspaceButton");
}

}  // namespace

VirtualKeyDialog::VirtualKeyDialog(QWidget* parent, Qt::WindowFlags flags)
    : QDialog(parent, flags), ui_(std::make_unique<Ui::VirtualKeyDialog>()), parent_(parent),
      layoutRandom_(std::random_device{}())
{
    RunGuarded("VirtualKeyDialog::VirtualKeyDialog", 50, "Catching VirtualKeyboard constructor exception", [&] {
        ui_->setupUi(this);
        // The length notice is the keyboard's own child so that it is not
        // blocked by the keyboard's modality and stays clickable.
        lengthError_ = new PinLengthErrorDialog(this, Qt::WindowStaysOnTopHint | Qt::FramelessWindowHint, false);
        for (int i = 0; i < 10; ++i) {
            if (auto* key = findChild<QPushButton*>(QStringLiteral("button%1").arg(i)))
                keys_.append(key);
        }
        if (auto* key = findChild<QPushButton*>(QStringLiteral("backspaceButton")))
            keys_.append(key);
        if (auto* key = findChild<QPushButton*>(QStringLiteral("okButton")))
            keys_.append(key);
        SetExternalDisplay(ui_->graphicsView);
        Rearrange();
        InitEventHandling();
        connect(ui_->orderPinKeysRadioButton, &QRadioButton::clicked, this, &VirtualKeyDialog::OrderButtons);
        connect(ui_->randomPinKeysRadioButton, &QRadioButton::clicked, this, &VirtualKeyDialog::Rearrange);
        connect(ui_->hideButton, &QPushButton::clicked, this, &VirtualKeyDialog::CloseWindow);
    });
}

VirtualKeyDialog::~VirtualKeyDialog()
{
    WipePin();
}

void VirtualKeyDialog::InitEventHandling()
{
    RunGuarded("VirtualKeyDialog::InitEventHandling", 208, "Catching VirtualKeyboard::GetRetCode exception", [&] {
        for (QPushButton* key : keys_) {
            if (IsControlKey(key))
                continue;
            // The label is read at click time, so a relayout needs no re-mapping.
            connect(key, &QPushButton::clicked, this, [this, key] { WriteToDisplay(key->text()); });
        }
        connect(ui_->backspaceButton, &QPushButton::clicked, this, &VirtualKeyDialog::DeleteLastCharacter);
        connect(ui_->okButton, &QPushButton::clicked, this, &VirtualKeyDialog::PinInsertFinished);
        installEventFilter(this);
        for (QPushButton* key : keys_)
            key->installEventFilter(this);
    });
}

void VirtualKeyDialog::LabelDigitKeys(const std::array<int, 10>& values)
{
    int index = 0;
    for (QPushButton* key : keys_) {
        if (IsControlKey(key) || index >= 10)
            continue;
        key->setText(QString::number(values[index++]));
    }
}

void VirtualKeyDialog::Rearrange()
{
    RunGuarded("VirtualKeyDialog::Rearrange", 242, "Catching VirtualKeyboard::Rearrange exception", [&] {
        if (keys_.isEmpty())
            return;
        std::array<int, 10> values{};
        std::iota(values.begin(), values.end(), 0);
        // Fisher-Yates with the dialog's own generator: unpredictable, and
        // it leaves the host's rand() sequence alone.
        for (int i = 9; i > 0; --i) {
            std::uniform_int_distribution<int> pick(0, i);
            std::swap(values[i], values[pick(layoutRandom_)]);
        }
        LabelDigitKeys(values);
    });
}

void VirtualKeyDialog::OrderButtons()
{
    RunGuarded("VirtualKeyDialog::OrderButtons", 274, "Catching VirtualKeyboard::OrderButtons exception", [&] {
        if (keys_.isEmpty())
            return;
        LabelDigitKeys({1, 2, 3, 4, 5, 6, 7, 8, 9, 0});
    });
}

void VirtualKeyDialog::SetRemainingAttemps(int remainingAttempts)
{
    RunGuarded("VirtualKeyDialog::SetRemainingAttemps", 382,
               "Catching VirtualKeyboard::SetRemainingAttemps() exception", [&] {
                   remainingAttempts_ = remainingAttempts;
                   ui_->label_3->setText(QString::number(remainingAttempts));
                   const bool known = remainingAttempts >= 0;
                   ui_->label_2->setVisible(known);
                   ui_->label_3->setVisible(known);
               });
}

void VirtualKeyDialog::SetMinMaxPinLength(int minLength, int maxLength)
{
    RunGuarded("VirtualKeyDialog::SetMinMaxPinLength", 448,
               "Catching VirtualKeyboard::SetMinMaxPinLength() exception", [&] {
                   minLength_ = minLength;
                   maxLength_ = maxLength;
               });
}

int VirtualKeyDialog::EffectiveMinLength() const
{
    return Brelt::MW::Base::EffectivePinLengthBounds(minLength_, maxLength_).minimum;
}

int VirtualKeyDialog::EffectiveMaxLength() const
{
    return Brelt::MW::Base::EffectivePinLengthBounds(minLength_, maxLength_).maximum;
}

void VirtualKeyDialog::SetLabel(int pinType)
{
    RunGuarded("VirtualKeyDialog::SetLabel", 417, "Catching VirtualKeyboard::SetLabel() exception", [&] {
        QString rich;
        QString plain;
        switch (pinType) {
        case 0:
            rich = QObject::tr("<html><head/><body><p><span style=\"font-size:11pt;\">Please enter your "
                               "</span><span style=\"font-size:11pt; font-weight:600;\">BOK</span></p></body></html>");
            plain = QObject::tr("Please enter your BOK");
            break;
        case 1:
            rich = QObject::tr("<html><head/><body><p><span style=\"font-size:11pt;\">Please enter your "
                               "</span><span style=\"font-size:11pt; font-weight:600;\">ZEP "
                               "PIN</span></p></body></html>");
            plain = QObject::tr("Please enter your ZEP PIN");
            break;
        case 2:
            rich = QObject::tr("<html><head/><body><p><span style=\"font-size:11pt;\">Please enter your "
                               "</span><span style=\"font-size:11pt; font-weight:600;\">PUK</span></p></body></html>");
            plain = QObject::tr("Please enter your PUK");
            break;
        case 3:
            rich = QObject::tr("<html><head/><body><p><span style=\"font-size:11pt;\">Please enter your "
                               "</span><span style=\"font-size:11pt; font-weight:600;\">PIN</span></p></body></html>");
            plain = QObject::tr("Please enter your PIN");
            break;
        default:
            break;
        }
        ui_->label->setText(rich);
        ui_->label->setAccessibleDescription(plain);
        if (lengthError_)
            lengthError_->SetLabel(pinType);
    });
}

void VirtualKeyDialog::SetTextLabel(const Brelt::MW::Base::HexBinary* text)
{
    RunGuarded("VirtualKeyDialog::SetTextLabel", 610, "Catching VirtualKeyboard::SetTextLabel() exception", [&] {
        if (const auto heading = DecodeCallerText(text)) {
            // Shown as plain text: markup from a caller must not render
            // inside the trusted PIN prompt.
            ui_->label_4->setTextFormat(Qt::PlainText);
            ui_->label_4->setText(*heading);
        }
    });
}

void VirtualKeyDialog::SetExternalDisplay(QGraphicsView* view)
{
    RunGuarded("VirtualKeyDialog::SetExternalDisplay", 434,
               "Catching VirtualKeyboard::SetExternalDisplay() exception", [&] {
                   display_ = view;
                   if (view)
                       view->setScene(new QGraphicsScene(0, 0, view->width(), view->height(), view));
               });
}

void VirtualKeyDialog::Show()
{
    RunGuarded("VirtualKeyDialog::Show", 111, "Catching VirtualKeyboard::Show exception", [&] {
        ActiveCrepuscularWindow();
        QWidget::show();
        if (PlatformActivatesWindows()) {
            raise();
            activateWindow();
        }
        ui_->label->setFocus();
    });
}

void VirtualKeyDialog::ActiveCrepuscularWindow()
{
    RunGuarded("VirtualKeyDialog::ActiveCrepuscularWindow", 563,
               "Catching VirtualKeyboard::ActiveCrepuscularWindow() exception",
               [&] { ActivateCrepuscularOverlay(parent_); });
}

std::unique_ptr<Brelt::MW::Base::HexBinary> VirtualKeyDialog::GetPINValue() const
{
    std::unique_ptr<Brelt::MW::Base::HexBinary> value;
    RunGuarded("VirtualKeyDialog::GetPINValue", 368, "Catching VirtualKeyboard::ClearDisplay() exception", [&] {
        value = std::make_unique<Brelt::MW::Base::HexBinary>(reinterpret_cast<const unsigned char*>(pin_.data()),
                                                             pinLength_, true);
    });
    return value;
}

bool VirtualKeyDialog::eventFilter(QObject* watched, QEvent* event)
{
    bool consumed = false;
    const bool ok = RunGuarded("VirtualKeyDialog::eventFilter", 589, "Catching VirtualKeyboard::eventFilter() exception",
                               [&] {
                                   if (event->type() != QEvent::KeyPress)
                                       return;
                                   const auto* keyEvent = static_cast<QKeyEvent*>(event);
                                   const int key = keyEvent->key();
                                   const bool chord = keyEvent->modifiers() &
                                                      (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
                                   if (key >= Qt::Key_0 && key <= Qt::Key_9) {
                                       // The digit comes from the key code: with a modifier
                                       // held the event text is a control character.
                                       if (!chord)
                                           WriteToDisplay(QString(QChar(u'0' + (key - Qt::Key_0))));
                                   } else if (key == Qt::Key_Backspace) {
                                       DeleteLastCharacter();
                                   } else if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                                       PinInsertFinished();
                                   }
                                   consumed = true;  // every key press, Escape included
                               });
    if (!ok)
        return true;
    return consumed ? true : QDialog::eventFilter(watched, event);
}

void VirtualKeyDialog::WriteToDisplay(const QString& text)
{
    RunGuarded("VirtualKeyDialog::WriteToDisplay", 510, "Catching VirtualKeyboard::WriteToDisplay() exception", [&] {
        const int maximum = EffectiveMaxLength();
        if (pinLength_ >= maximum)
            return;
        if (text.size() != 1 || text[0] < u'0' || text[0] > u'9')
            return;
        pin_[static_cast<size_t>(pinLength_++)] = static_cast<char>(text[0].unicode());
        if (display_ == nullptr || display_->scene() == nullptr)
            return;
        auto* dot = new Pixmap(QPixmap(QString::fromLatin1(kDotImage)));
        const double d = QPixmap(QString::fromLatin1(kDotImage)).height();
        const double width = display_->width();
        const double height = display_->height();
        const double gap = std::max(0.0, (width - maximum * d) / (maximum + 1));
        const int n = pinLength_;
        const double x = (n - 1) * d + n * gap;
        const double y = (height - d) / 2.0;
        dot->setGeometry(QRectF(x, y, d, d));
        display_->scene()->addItem(dot);
        dots_.append(dot);
    });
}

void VirtualKeyDialog::RemoveLastDot()
{
    if (dots_.isEmpty())
        return;
    Pixmap* dot = dots_.takeLast();
    if (dot->scene())
        dot->scene()->removeItem(dot);
    delete dot;
}

void VirtualKeyDialog::DeleteLastCharacter()
{
    RunGuarded("VirtualKeyDialog::DeleteLastCharacter", 540, "Catching VirtualKeyboard::WriteToDisplay() exception",
               [&] {
                   if (pinLength_ == 0)
                       return;
                   --pinLength_;
                   explicit_bzero(&pin_[static_cast<size_t>(pinLength_)], 1);
                   RemoveLastDot();
               });
}

void VirtualKeyDialog::WipePin()
{
    explicit_bzero(pin_.data(), pin_.size());
    pinLength_ = 0;
}

void VirtualKeyDialog::ClearDisplay()
{
    RunGuarded("VirtualKeyDialog::ClearDisplay", 338, "Catching VirtualKeyboard::ClearDisplay() exception", [&] {
        WipePin();
        while (!dots_.isEmpty())
            RemoveLastDot();
    });
}

void VirtualKeyDialog::PinInsertFinished()
{
    RunGuarded("VirtualKeyDialog::PinInsertFinished", 298, "Catching VirtualKeyboard::PinInsertFinished exception",
               [&] {
                   if (pinLength_ >= EffectiveMinLength() && pinLength_ <= EffectiveMaxLength()) {
                       result_ = 0;
                       accept();
                       return;
                   }
                   ClearDisplay();
                   if (lengthError_) {
                       // Over the upper part of the keyboard, leaving the keys free.
                       const QPoint top = mapToGlobal(QPoint(0, 0));
                       lengthError_->move(top.x() + (width() - lengthError_->width()) / 2, top.y());
                       lengthError_->show();
                   }
               });
}

void VirtualKeyDialog::CloseWindow()
{
    RunGuarded("VirtualKeyDialog::CloseWindow", 313, "Catching VirtualKeyboard::CloseWindow() exception", [&] {
        ClearDisplay();
        result_ = 1;
        reject();
    });
}
