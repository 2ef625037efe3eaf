#include "Dialogs/ui/Pixmap.h"

#include <QPainter>

Pixmap::Pixmap(const QPixmap& pixmap, QGraphicsItem* parent) : QGraphicsWidget(parent), pixmap_(pixmap)
{
}

void Pixmap::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*)
{
    painter->drawPixmap(QPointF(), pixmap_);
}

QSizeF Pixmap::sizeHint(Qt::SizeHint, const QSizeF&) const
{
    const qreal side = pixmap_.height();
    return QSizeF(side, side);
}

void Pixmap::mousePressEvent(QGraphicsSceneMouseEvent*)
{
    emit clicked();
}
