#include "app/Icons.h"

#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

// One stroke colour and one accent for the whole set, on a 48-unit grid.
const QColor kInk(0x2d, 0x4a, 0x6b);
const QColor kAccent(0x3c, 0x9a, 0x5f);

void drawArrow(QPainter& p, bool right)
{
    QPainterPath arrow;
    arrow.moveTo(8, 20);
    arrow.lineTo(26, 20);
    arrow.lineTo(26, 10);
    arrow.lineTo(42, 24);
    arrow.lineTo(26, 38);
    arrow.lineTo(26, 28);
    arrow.lineTo(8, 28);
    arrow.closeSubpath();
    if (!right)
        p.setTransform(QTransform(-1, 0, 0, 1, 48, 0), true);
    p.fillPath(arrow, kInk);
}

void drawIcon(QPainter& p, const QString& name)
{
    QPen pen(kInk, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    if (name == QLatin1String("home")) {
        p.drawPolyline(QPolygonF({{6, 24}, {24, 8}, {42, 24}}));
        p.drawPolyline(QPolygonF({{12, 20}, {12, 40}, {36, 40}, {36, 20}}));
        p.fillRect(QRectF(20, 28, 8, 12), kAccent);
    } else if (name == QLatin1String("next")) {
        drawArrow(p, true);
    } else if (name == QLatin1String("prev")) {
        drawArrow(p, false);
    } else if (name == QLatin1String("close")) {
        p.drawEllipse(QRectF(6, 6, 36, 36));
        pen.setColor(QColor(0xb0, 0x3a, 0x2e));
        p.setPen(pen);
        p.drawLine(QLineF(17, 17, 31, 31));
        p.drawLine(QLineF(31, 17, 17, 31));
    } else if (name == QLatin1String("pause")) {
        p.fillRect(QRectF(12, 8, 8, 32), kInk);
        p.fillRect(QRectF(28, 8, 8, 32), kInk);
    } else if (name == QLatin1String("play")) {
        p.setBrush(kInk);
        p.drawPolygon(QPolygonF({{14, 8}, {40, 24}, {14, 40}}));
    } else if (name == QLatin1String("export")) {
        p.drawPolyline(QPolygonF({{8, 26}, {8, 40}, {40, 40}, {40, 26}}));
        pen.setColor(kAccent);
        p.setPen(pen);
        p.drawLine(QLineF(24, 32, 24, 8));
        p.drawPolyline(QPolygonF({{15, 16}, {24, 7}, {33, 16}}));
    } else if (name == QLatin1String("wechat")) {
        p.setBrush(kAccent);
        p.setPen(Qt::NoPen);
        p.drawEllipse(QRectF(3, 7, 28, 22));
        QPainterPath tail;
        tail.moveTo(9, 25);
        tail.lineTo(7, 33);
        tail.lineTo(16, 27);
        p.drawPath(tail);
        p.setBrush(kInk);
        p.drawEllipse(QRectF(19, 19, 26, 20));
        QPainterPath tail2;
        tail2.moveTo(39, 35);
        tail2.lineTo(42, 42);
        tail2.lineTo(34, 37);
        p.drawPath(tail2);
        p.setBrush(Qt::white);
        for (const QPointF& eye :
             {QPointF(12, 16), QPointF(21, 16), QPointF(27, 27), QPointF(36, 27)})
            p.drawEllipse(eye, 2, 2);
    }
}

QIcon makeIcon(const QString& name)
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 48.0, size / 48.0);
        drawIcon(p, name);
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

QIcon ilMainIcon(const QString& name)
{
    static const QStringList names = {QStringLiteral("home"),   QStringLiteral("next"),
                                      QStringLiteral("prev"),   QStringLiteral("close"),
                                      QStringLiteral("pause"),  QStringLiteral("play"),
                                      QStringLiteral("export"), QStringLiteral("wechat")};
    static QHash<QString, QIcon> cache;
    if (!names.contains(name))
        return {};
    auto it = cache.find(name);
    if (it == cache.end())
        it = cache.insert(name, makeIcon(name));
    return *it;
}
