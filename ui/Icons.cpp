#include "Icons.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>

namespace {

// One computer: a monitor with a dark blue screen on a small stand, drawn in
// a box of the given size (in units of a 16-pixel grid).
void drawComputer(QPainter& p, const QPointF& origin)
{
    p.save();
    p.translate(origin);
    p.setPen(QPen(Qt::black, 0.6));
    p.setBrush(QColor(192, 192, 192));
    p.drawRect(QRectF(0, 0, 8, 6)); // monitor case
    p.setBrush(QColor(0, 0, 128));
    p.drawRect(QRectF(1, 1, 6, 4)); // screen
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 255, 255));
    p.drawRect(QRectF(1.8, 1.8, 2.2, 0.8)); // a line of text on the screen
    p.setPen(QPen(Qt::black, 0.6));
    p.setBrush(QColor(128, 128, 128));
    p.drawRect(QRectF(3, 6, 2, 1)); // stand
    p.setBrush(QColor(192, 192, 192));
    p.drawRect(QRectF(1, 7, 6, 1.2)); // base
    p.restore();
}

} // namespace

QPixmap NetworkPixmap(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing, size > 16);
    p.scale(size / 16.0, size / 16.0);
    // The cable first, so the computers stand over its ends.
    p.setPen(QPen(QColor(255, 255, 0), 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    QPainterPath cable;
    cable.moveTo(4, 8);
    cable.lineTo(4, 13.5);
    cable.lineTo(10, 13.5);
    cable.lineTo(12, 10);
    p.drawPath(cable);
    p.setPen(QPen(Qt::black, 0.4));
    p.setBrush(QColor(255, 0, 0));
    p.drawEllipse(QPointF(7, 13.5), 1, 1); // the hub on the cable
    drawComputer(p, QPointF(0.4, 0.4));
    drawComputer(p, QPointF(7.4, 6.6));
    return pixmap;
}

QIcon WindowIcon()
{
    QIcon icon;
    icon.addPixmap(NetworkPixmap(32));
    icon.addPixmap(NetworkPixmap(16));
    return icon;
}

QPixmap HelpPixmap()
{
    QPixmap pixmap(16, 16);
    pixmap.fill(QColor(192, 192, 192));
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(17);
    font.setBold(true);
    QPainterPath mark;
    mark.addText(0, 0, font, QStringLiteral("?"));
    // Centre the glyph in the square.
    const QRectF box = mark.boundingRect();
    mark.translate(8 - box.center().x(), 8 - box.center().y());
    // The outline first and the yellow over it, so the outline stays thin.
    p.setPen(QPen(Qt::black, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::black);
    p.drawPath(mark);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 0));
    p.drawPath(mark);
    return pixmap;
}
