#include "baseforms/toolimages.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace tessera {

namespace {

const QColor kBlue(0x1F, 0x6F, 0xC5);
const QColor kGreen(0x2E, 0x9D, 0x3A);
const QColor kRed(0xD0, 0x3B, 0x2F);
const QColor kOrange(0xE8, 0x8A, 0x1A);
const QColor kGrey(0x5A, 0x64, 0x70);

void sheet(QPainter &p, const QRectF &r, const QColor &c)
{
    p.setPen(QPen(c.darker(140), 1.5));
    p.setBrush(Qt::white);
    p.drawRect(r);
    p.setPen(QPen(c, 1.5));
    for (qreal y = r.top() + 5; y < r.bottom() - 2; y += 4)
        p.drawLine(QPointF(r.left() + 3, y), QPointF(r.right() - 3, y));
}

void arrow(QPainter &p, QPointF from, QPointF to, const QColor &c, qreal w = 3)
{
    p.setPen(QPen(c, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(from, to);
    const QLineF l(to, from);
    QLineF a = l;
    a.setLength(7);
    a.setAngle(l.angle() + 35);
    QLineF b = l;
    b.setLength(7);
    b.setAngle(l.angle() - 35);
    p.drawLine(a);
    p.drawLine(b);
}

void check(QPainter &p, const QColor &c)
{
    p.setPen(QPen(c, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({QPointF(7, 17), QPointF(13, 23), QPointF(25, 9)}));
}

QPixmap draw(int index)
{
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    switch (index) {
    case 0: // new
        sheet(p, QRectF(6, 3, 18, 24), kBlue);
        p.setPen(QPen(kGreen, 4));
        p.drawLine(QPointF(23, 17), QPointF(23, 29));
        p.drawLine(QPointF(17, 23), QPointF(29, 23));
        break;
    case 1: { // edit
        sheet(p, QRectF(4, 3, 18, 24), kBlue);
        p.setPen(QPen(kOrange.darker(130), 1));
        p.setBrush(kOrange);
        p.drawPolygon(QPolygonF(
            {QPointF(27, 9), QPointF(30, 12), QPointF(16, 26), QPointF(12, 27), QPointF(13, 23)}));
        break;
    }
    case 2: // delete
        p.setPen(QPen(kRed, 5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(8, 8), QPointF(24, 24));
        p.drawLine(QPointF(24, 8), QPointF(8, 24));
        break;
    case 3: { // undo
        QPainterPath path;
        path.moveTo(10, 12);
        path.cubicTo(22, 6, 30, 16, 22, 26);
        p.setPen(QPen(kOrange, 3.5, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        p.drawPath(path);
        arrow(p, QPointF(16, 9), QPointF(6, 12), kOrange, 3.5);
        break;
    }
    case 4: // save
        p.setPen(QPen(kBlue.darker(140), 1.5));
        p.setBrush(kBlue);
        p.drawRoundedRect(QRectF(4, 4, 24, 24), 3, 3);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(9, 4, 14, 9));
        p.setBrush(QColor(0xDD, 0xDD, 0xDD));
        p.drawRect(QRectF(8, 18, 16, 10));
        break;
    case 5: // print
        p.setPen(QPen(kGrey.darker(130), 1.5));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(9, 3, 14, 10));
        p.setBrush(kGrey);
        p.drawRoundedRect(QRectF(3, 12, 26, 12), 2, 2);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(9, 20, 14, 9));
        break;
    case 6: { // refresh
        p.setPen(QPen(kGreen, 3.5, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(6, 6, 20, 20), 60 * 16, 270 * 16);
        arrow(p, QPointF(20, 5), QPointF(24, 9), kGreen, 3.5);
        break;
    }
    case 7: // query
        p.setPen(QPen(kBlue, 3.5));
        p.setBrush(QColor(0xE8, 0xF1, 0xFB));
        p.drawEllipse(QRectF(4, 4, 17, 17));
        p.setPen(QPen(kGrey, 5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(19, 19), QPointF(28, 28));
        break;
    case 10: // invert selection
        p.setPen(QPen(kGrey, 2));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(5, 5, 22, 22));
        p.setPen(QPen(kRed, 3));
        p.drawLine(QPointF(10, 10), QPointF(22, 22));
        break;
    case 11: // select all
        p.setPen(QPen(kGrey, 2));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(5, 5, 22, 22));
        check(p, kGreen);
        break;
    case 14: // close
        p.setPen(QPen(kRed.darker(120), 1.5));
        p.setBrush(kRed);
        p.drawEllipse(QRectF(4, 4, 24, 24));
        p.setPen(QPen(Qt::white, 3.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(11, 11), QPointF(21, 21));
        p.drawLine(QPointF(21, 11), QPointF(11, 21));
        break;
    case 15: // upload
        p.setPen(QPen(kGrey, 2));
        p.drawLine(QPointF(5, 28), QPointF(27, 28));
        arrow(p, QPointF(16, 25), QPointF(16, 5), kBlue, 4);
        break;
    case 17: // export
        p.setPen(QPen(kGreen.darker(130), 1.5));
        p.setBrush(kGreen);
        p.drawRect(QRectF(3, 5, 18, 22));
        p.setPen(QPen(Qt::white, 2.5));
        p.drawLine(QPointF(8, 10), QPointF(16, 22));
        p.drawLine(QPointF(16, 10), QPointF(8, 22));
        arrow(p, QPointF(18, 16), QPointF(30, 16), kOrange, 3);
        break;
    case 18: // calculate
        p.setPen(QPen(kGrey.darker(130), 1.5));
        p.setBrush(kGrey);
        p.drawRoundedRect(QRectF(7, 3, 18, 26), 2, 2);
        p.setBrush(QColor(0xCF, 0xE8, 0xCF));
        p.drawRect(QRectF(10, 6, 12, 6));
        p.setBrush(Qt::white);
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                p.drawRect(QRectF(10 + c * 4.5, 15 + r * 4.5, 3, 3));
        break;
    case 20: // statistics
        p.setPen(Qt::NoPen);
        p.setBrush(kBlue);
        p.drawRect(QRectF(5, 16, 5, 12));
        p.setBrush(kGreen);
        p.drawRect(QRectF(13, 8, 5, 20));
        p.setBrush(kOrange);
        p.drawRect(QRectF(21, 12, 5, 16));
        break;
    case 22: // chart
        p.setPen(QPen(Qt::white, 1));
        p.setBrush(kBlue);
        p.drawPie(QRectF(4, 4, 24, 24), 90 * 16, 250 * 16);
        p.setBrush(kOrange);
        p.drawPie(QRectF(4, 4, 24, 24), 340 * 16, 110 * 16);
        break;
    case 27: // clear
        p.setPen(QPen(kGrey.darker(130), 1.5));
        p.setBrush(kGrey);
        p.drawRect(QRectF(9, 9, 14, 19));
        p.drawRect(QRectF(6, 6, 20, 3));
        p.drawRect(QRectF(13, 3, 6, 3));
        break;
    case 28: { // configure
        p.setPen(Qt::NoPen);
        p.setBrush(kGrey);
        p.translate(16, 16);
        for (int i = 0; i < 8; ++i) {
            p.drawRect(QRectF(-2.5, -13, 5, 6));
            p.rotate(45);
        }
        p.drawEllipse(QRectF(-9, -9, 18, 18));
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(-4, -4, 8, 8));
        p.resetTransform();
        break;
    }
    case 29: { // collect money
        p.setPen(QPen(kOrange.darker(140), 1.5));
        p.setBrush(QColor(0xF5, 0xC2, 0x42));
        p.drawEllipse(QRectF(4, 4, 24, 24));
        QFont f;
        f.setPixelSize(16);
        f.setBold(true);
        p.setFont(f);
        p.setPen(kOrange.darker(160));
        p.drawText(QRectF(4, 4, 24, 24), Qt::AlignCenter, QStringLiteral("¥"));
        break;
    }
    case 31: // switch side
        arrow(p, QPointF(8, 11), QPointF(27, 11), kBlue, 3);
        arrow(p, QPointF(24, 21), QPointF(5, 21), kGreen, 3);
        break;
    case 33: // detail
        sheet(p, QRectF(5, 3, 22, 26), kGrey);
        break;
    case 36: // copy
        sheet(p, QRectF(4, 3, 16, 20), kBlue);
        sheet(p, QRectF(12, 9, 16, 20), kBlue);
        break;
    default: {
        p.setPen(QPen(kGrey, 1.5));
        p.setBrush(QColor(0xEE, 0xF2, 0xF7));
        p.drawRoundedRect(QRectF(5, 5, 22, 22), 4, 4);
        break;
    }
    }
    return pm;
}

} // namespace

const QList<QIcon> &toolImageList()
{
    static const QList<QIcon> list = [] {
        QList<QIcon> icons;
        for (int i = 0; i < 40; ++i)
            icons << QIcon(draw(i));
        return icons;
    }();
    return list;
}

QIcon toolImage(int index)
{
    const auto &list = toolImageList();
    return index >= 0 && index < list.size() ? list[index] : QIcon();
}

} // namespace tessera
