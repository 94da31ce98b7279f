#include "app/LampImages.h"

#include <QPainter>
#include <QRadialGradient>

namespace {

enum class Look { Lit, Dark, Grey };

QPixmap DrawLamp(bool round, QColor colour, Look look) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);

    QColor base = colour;
    if (look == Look::Dark)
        base = colour.darker(260);
    else if (look == Look::Grey)
        base = QColor(150, 150, 150);
    QRadialGradient fill(QPointF(6, 6), 9);
    fill.setColorAt(0, look == Look::Lit ? QColor(255, 255, 255) : base.lighter(140));
    fill.setColorAt(look == Look::Lit ? 0.35 : 0.25, base);
    fill.setColorAt(1, base.darker(150));

    painter.setPen(QPen(QColor(60, 60, 60), 1));
    painter.setBrush(fill);
    const QRectF body(1.5, 1.5, 13, 13);
    if (round)
        painter.drawEllipse(body);
    else
        painter.drawRoundedRect(body, 2.5, 2.5);
    return pixmap;
}

} // namespace

QList<QPixmap> MakeLampImages() {
    const QColor colours[4] = {QColor(235, 30, 30), QColor(30, 200, 40), QColor(250, 210, 20),
                               QColor(40, 90, 240)};
    QList<QPixmap> images;
    for (bool round : {true, false})
        for (const QColor& colour : colours)
            for (Look look : {Look::Lit, Look::Dark, Look::Grey})
                images.append(DrawLamp(round, colour, look));
    return images;
}
