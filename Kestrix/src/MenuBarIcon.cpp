#include "MenuBarIcon.h"

#include <QPainter>
#include <QPainterPath>

namespace MenuBarIcon {

QImage image(QSize size, QColor color) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    draw(painter, QRectF(0, 0, size.width(), size.height()), color);
    return image;
}

void draw(QPainter& painter, const QRectF& rect, const QColor& color) {
    const double u = rect.width() / 18.0;
    painter.save();
    // The shapes are given with y growing upwards from the lower-left corner.
    painter.translate(rect.x(), rect.y() + rect.height());
    painter.scale(1, -1);

    QPainterPath base;
    base.addEllipse(QRectF(u, 1.5 * u, 16 * u, 5 * u));
    QPainterPath middle;
    middle.addRect(QRectF(u, 4 * u, 16 * u, 2.5 * u));
    QPainterPath top;
    top.addEllipse(QRectF(u, 4 * u, 16 * u, 5 * u));
    base = base.united(middle).united(top);
    QColor faint = color;
    faint.setAlphaF(0.55f);
    painter.fillPath(base, faint);

    QPainterPath capBottom;
    capBottom.addEllipse(QRectF(4.75 * u, 5.2 * u, 8.5 * u, 3.2 * u));
    QPainterPath capSide;
    capSide.addRect(QRectF(4.75 * u, 6.8 * u, 8.5 * u, 6.0 * u));
    QPainterPath capTop;
    capTop.addEllipse(QRectF(4.75 * u, 11.2 * u, 8.5 * u, 3.2 * u));
    QPainterPath cap = capBottom.united(capSide).united(capTop);

    // Clearing a wide outline first cuts the gap between cap and base.
    painter.setCompositionMode(QPainter::CompositionMode_Clear);
    painter.strokePath(cap, QPen(Qt::black, 1.4 * u));
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    QColor solid = color;
    solid.setAlphaF(1.0f);
    painter.fillPath(cap, solid);

    // A thin gap line marks the top rim.
    painter.setCompositionMode(QPainter::CompositionMode_Clear);
    painter.strokePath(capTop, QPen(Qt::black, 0.8 * u));
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.restore();
}

} // namespace MenuBarIcon
