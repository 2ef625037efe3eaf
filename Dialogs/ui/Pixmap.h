#pragma once
// One dot of the virtual keyboard's display.

#include <QGraphicsWidget>
#include <QPixmap>

class Pixmap : public QGraphicsWidget {
    Q_OBJECT
public:
    explicit Pixmap(const QPixmap& pixmap, QGraphicsItem* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

signals:
    void clicked();

protected:
    QSizeF sizeHint(Qt::SizeHint which, const QSizeF& constraint) const override;
    void mousePressEvent(QGraphicsSceneMouseEvent* event) override;

private:
    QPixmap pixmap_;
};
