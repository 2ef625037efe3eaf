// Draws the images of the PIN dialogs into a folder, reproducibly.
// Usage: dialog_artwork OUTPUT_DIR
// Only vector paths are drawn (no text), so no Qt application is needed.
#include <QColor>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QString>
#include <cstdio>
#include <functional>

namespace {

const QColor kDarkGrey(55, 55, 55);
const QColor kKeyGrey(85, 85, 85);
const QColor kAccentRed(189, 10, 38);
const QColor kDisabledGrey(200, 200, 200);
const QColor kMidGrey(140, 140, 140);
const QColor kBarGrey(235, 235, 235);

bool Save(const QString& dir, const QString& name, int w, int h,
          const std::function<void(QPainter&)>& draw)
{
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    {
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing, true);
        draw(p);
    }
    const QString path = dir + QLatin1Char('/') + name;
    if (!img.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

// Rounded key face with a small transparent margin so that adjacent keys of
// the spacing-less grid look separate.
void KeyFace(QPainter& p, const QColor& face)
{
    p.setPen(Qt::NoPen);
    p.setBrush(face);
    p.drawRoundedRect(QRectF(3, 3, 80, 77), 9, 9);
}

void CheckMark(QPainter& p, const QColor& c)
{
    QPen pen(c, 7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    QPainterPath path;
    path.moveTo(27, 43);
    path.lineTo(38, 54);
    path.lineTo(60, 30);
    p.drawPath(path);
}

// Backspace symbol: a pentagon pointing left with an x inside.
void BackspaceMark(QPainter& p, const QColor& c)
{
    QPen pen(c, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    QPolygonF shape;
    shape << QPointF(22, 41.5) << QPointF(34, 29) << QPointF(64, 29) << QPointF(64, 54)
          << QPointF(34, 54);
    p.drawPolygon(shape);
    QPen thin(c, 4, Qt::SolidLine, Qt::RoundCap);
    p.setPen(thin);
    p.drawLine(QPointF(42, 35.5), QPointF(54, 47.5));
    p.drawLine(QPointF(54, 35.5), QPointF(42, 47.5));
}

void Cross(QPainter& p, const QColor& c)
{
    QPen pen(c, 2.6, Qt::SolidLine, Qt::RoundCap);
    p.setPen(pen);
    p.drawLine(QPointF(5, 5), QPointF(15, 15));
    p.drawLine(QPointF(15, 5), QPointF(5, 15));
}

void Arrow(QPainter& p, const QColor& c)
{
    QPen pen(c, 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawLine(QPointF(3.5, 10), QPointF(15.5, 10));
    QPainterPath head;
    head.moveTo(10.5, 4.5);
    head.lineTo(16, 10);
    head.lineTo(10.5, 15.5);
    p.drawPath(head);
}

void Radio(QPainter& p, const QColor& ring, const QColor* centre)
{
    p.setPen(QPen(ring, 2));
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(10, 10), 8, 8);
    if (centre) {
        p.setPen(Qt::NoPen);
        p.setBrush(*centre);
        p.drawEllipse(QPointF(10, 10), 4.5, 4.5);
    }
}

void Warning(QPainter& p)
{
    QPainterPath tri;
    tri.moveTo(20, 3);
    tri.lineTo(38, 36);
    tri.lineTo(2, 36);
    tri.closeSubpath();
    QPen edge(kAccentRed, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(edge);
    p.setBrush(kAccentRed);
    p.drawPath(tri);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(18, 12, 4, 14), 2, 2);
    p.drawEllipse(QPointF(20, 30.5), 2.3, 2.3);
}

// A card reader with a keypad and an inserted card, and a hand whose index
// finger presses a key. Flat shapes in greys with the red accent.
void ReaderAndHand(QPainter& p)
{
    // Card sticking out of the top slot.
    p.setPen(QPen(kMidGrey, 1.5));
    p.setBrush(QColor(250, 250, 250));
    p.drawRoundedRect(QRectF(38, 8, 90, 62), 5, 5);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(214, 178, 80));
    p.drawRoundedRect(QRectF(50, 22, 20, 16), 3, 3);
    p.setBrush(kAccentRed);
    p.drawRect(QRectF(78, 22, 38, 5));
    p.setBrush(kDisabledGrey);
    p.drawRect(QRectF(78, 32, 30, 4));
    p.drawRect(QRectF(78, 40, 34, 4));

    // Reader body.
    p.setPen(Qt::NoPen);
    p.setBrush(kDarkGrey);
    p.drawRoundedRect(QRectF(18, 52, 131, 206), 16, 16);
    p.setBrush(QColor(30, 30, 30));
    p.drawRoundedRect(QRectF(34, 50, 99, 8), 3, 3);  // card slot

    // Display.
    p.setBrush(QColor(170, 200, 180));
    p.drawRoundedRect(QRectF(34, 72, 99, 34), 5, 5);
    p.setBrush(kDarkGrey);
    for (int i = 0; i < 4; ++i)
        p.drawEllipse(QPointF(52 + i * 21, 89), 4, 4);

    // Keypad 3 x 4.
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 3; ++c) {
            const bool pressed = (r == 1 && c == 1);
            p.setBrush(pressed ? kAccentRed : QColor(120, 120, 120));
            p.drawRoundedRect(QRectF(36 + c * 33, 120 + r * 31, 27, 24), 5, 5);
        }
    }

    // Hand: a sleeve and a fist with the index finger on the middle key.
    p.setBrush(QColor(90, 110, 150));
    QPainterPath sleeve;
    sleeve.moveTo(112, 278);
    sleeve.lineTo(167, 278);
    sleeve.lineTo(167, 235);
    sleeve.lineTo(128, 222);
    sleeve.closeSubpath();
    p.drawPath(sleeve);

    const QColor skin(238, 196, 160);
    const QColor skinEdge(196, 150, 115);
    p.setPen(QPen(skinEdge, 1.5));
    p.setBrush(skin);
    QPainterPath hand;
    hand.moveTo(93, 150);                   // finger tip (on the key)
    hand.cubicTo(90, 142, 100, 138, 104, 145);
    hand.lineTo(122, 190);                  // finger back side
    hand.cubicTo(135, 188, 150, 196, 155, 210);
    hand.cubicTo(160, 225, 150, 240, 132, 242);
    hand.cubicTo(118, 244, 104, 232, 102, 215);
    hand.lineTo(86, 160);
    hand.cubicTo(85, 156, 88, 152, 93, 150);
    p.drawPath(hand);
    // Knuckles of the folded fingers.
    p.setPen(QPen(skinEdge, 1.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(112, 205), QPointF(130, 200));
    p.drawLine(QPointF(114, 216), QPointF(138, 211));
    p.drawLine(QPointF(119, 227), QPointF(142, 223));
    // Finger nail.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(250, 225, 205));
    p.drawEllipse(QPointF(95.5, 148), 3.5, 2.5);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(dir);
    bool ok = true;

    struct Face { const char* suffix; QColor face; QColor mark; };
    const Face faces[] = {{"", kKeyGrey, Qt::white},
                          {"_on", kAccentRed, Qt::white},
                          {"_dis", kDisabledGrey, kMidGrey}};
    for (const Face& f : faces) {
        const QString s = QString::fromLatin1(f.suffix);
        ok &= Save(dir, "klaves" + s + ".png", 86, 83, [&](QPainter& p) { KeyFace(p, f.face); });
        ok &= Save(dir, "klaves_ok" + s + ".png", 86, 83, [&](QPainter& p) {
            KeyFace(p, f.face);
            CheckMark(p, f.mark);
        });
        ok &= Save(dir, "klaves_sipka" + s + ".png", 86, 83, [&](QPainter& p) {
            KeyFace(p, f.face);
            BackspaceMark(p, f.mark);
        });
    }
    ok &= Save(dir, "OK_but.png", 86, 83, [&](QPainter& p) {
        KeyFace(p, kKeyGrey);
        CheckMark(p, Qt::white);
    });
    ok &= Save(dir, "PIN_dot.png", 18, 18, [](QPainter& p) {
        p.setPen(Qt::NoPen);
        p.setBrush(kDarkGrey);
        p.drawEllipse(QRectF(1, 1, 16, 16));
    });
    ok &= Save(dir, "radio.png", 20, 20, [](QPainter& p) { Radio(p, kMidGrey, nullptr); });
    ok &= Save(dir, "radio_on.png", 20, 20, [](QPainter& p) { Radio(p, kMidGrey, &kAccentRed); });
    ok &= Save(dir, "radio_dis.png", 20, 20, [](QPainter& p) { Radio(p, kDisabledGrey, nullptr); });

    const std::pair<const char*, QColor> icons[] = {
        {"", kDarkGrey}, {"_on", kAccentRed}, {"_dis", kDisabledGrey}};
    for (const auto& [suffix, colour] : icons) {
        const QString s = QString::fromLatin1(suffix);
        const QColor c = colour;
        ok &= Save(dir, "okno_ikona_ukoncit" + s + ".png", 20, 20, [c](QPainter& p) { Cross(p, c); });
        ok &= Save(dir, "okno_ikona_sipka" + s + ".png", 20, 20, [c](QPainter& p) { Arrow(p, c); });
    }
    ok &= Save(dir, "ikona_upozornenie.png", 40, 40, Warning);
    ok &= Save(dir, "obr_citacka_ruka.png", 167, 278, ReaderAndHand);
    (void)kBarGrey;
    return ok ? 0 : 1;
}
