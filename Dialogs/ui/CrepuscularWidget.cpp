#include "Dialogs/ui/CrepuscularWidget.h"

#include "Dialogs/ui/GuiEnvironment.h"

#include <QEvent>
#include <QPainter>

CrepuscularWidget::CrepuscularWidget(QWidget* parent) : QWidget(parent)
{
    if (parent)
        parent->installEventFilter(this);
}

void CrepuscularWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0, 0, 0, 150));
}

bool CrepuscularWidget::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parent() && event->type() == QEvent::Resize)
        resize(parentWidget()->size());
    return QWidget::eventFilter(watched, event);
}

void ActivateCrepuscularOverlay(QWidget* backdrop)
{
    if (backdrop == nullptr)
        return;
    auto* overlay = new CrepuscularWidget(backdrop);
    overlay->setObjectName(QStringLiteral("crepuscularWidget"));
    overlay->resize(backdrop->size());
    overlay->show();
    overlay->repaint();
    if (PlatformActivatesWindows())
        backdrop->raise();
}
