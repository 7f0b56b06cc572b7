#include "app/StatusFaces.h"

#include <QPainter>

namespace sondrel::app {

QPixmap drawFace(Face face)
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);

    painter.setPen(QPen(Qt::black, 1.5));
    painter.setBrush(QColor(255, 221, 0));
    painter.drawEllipse(QRectF(1.5, 1.5, 29, 29));

    painter.setBrush(Qt::black);
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QRectF(9.5, 9.5, 4, 5));
    painter.drawEllipse(QRectF(18.5, 9.5, 4, 5));

    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(Qt::black, 2, Qt::SolidLine, Qt::RoundCap));
    switch (face) {
    case Face::Smiling:
        painter.drawArc(QRectF(8, 10, 16, 13), 200 * 16, 140 * 16);
        break;
    case Face::Straight:
        painter.drawLine(QPointF(10, 22), QPointF(22, 22));
        break;
    case Face::Sad:
        painter.drawArc(QRectF(8, 19, 16, 11), 25 * 16, 130 * 16);
        break;
    }
    return pixmap;
}

} // namespace sondrel::app
