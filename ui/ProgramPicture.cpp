#include "ui/ProgramPicture.h"

#include <QPainter>
#include <QPainterPath>

QPixmap ProgramPicture(int side) {
    QPixmap picture(side, side);
    picture.fill(Qt::transparent);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal m = side / 16.0;
    const QRectF sheet(m, m, side - 2 * m, side - 2 * m);
    const qreal half = sheet.width() / 2;
    // Two fields, a wood and water, as the four tiles of a small grid.
    const QColor tiles[] = {QColor(0x9c, 0xc8, 0x6a), QColor(0xe8, 0xd8, 0x9a),
                            QColor(0x5f, 0x9e, 0x4a), QColor(0x7a, 0xb4, 0xe0)};
    for (int i = 0; i < 4; ++i) {
        const QRectF tile(sheet.left() + (i % 2) * half, sheet.top() + (i / 2) * half, half, half);
        p.fillRect(tile, tiles[i]);
    }
    QPainterPath road;
    road.moveTo(sheet.left(), sheet.bottom() - half * 0.4);
    road.cubicTo(sheet.left() + half * 0.8, sheet.top() + half * 0.6, sheet.right() - half,
                 sheet.bottom() - half * 0.2, sheet.right(), sheet.top() + half * 0.5);
    p.setPen(QPen(QColor(0xc0, 0x30, 0x20), m * 1.2));
    p.drawPath(road);
    p.setPen(QPen(QColor(0x40, 0x40, 0x40), m / 2));
    p.setBrush(Qt::NoBrush);
    p.drawRect(sheet);
    p.drawLine(QPointF(sheet.center().x(), sheet.top()),
               QPointF(sheet.center().x(), sheet.bottom()));
    p.drawLine(QPointF(sheet.left(), sheet.center().y()),
               QPointF(sheet.right(), sheet.center().y()));
    // The upper-left corner the user gives.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xd0, 0x10, 0x10));
    p.drawEllipse(sheet.topLeft(), m * 1.6, m * 1.6);
    return picture;
}
