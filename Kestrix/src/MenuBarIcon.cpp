#include "MenuBarIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QTransform>
#include <algorithm>

namespace MenuBarIcon {

namespace {

// The figure's shapes in rect's coordinates; u is a unit, rect's width / 18.
struct Figure {
    QPainterPath base;
    QPainterPath cap;
    QPainterPath capTop;
    double u = 0;
};

Figure fit(const QRectF& rect) {
    const double u = rect.width() / 18.0;
    // The shapes are given with y growing upwards from the lower-left corner.
    const QTransform up =
        QTransform::fromTranslate(rect.x(), rect.y() + rect.height()).scale(1, -1);

    QPainterPath base;
    base.addEllipse(QRectF(u, 1.5 * u, 16 * u, 5 * u));
    QPainterPath middle;
    middle.addRect(QRectF(u, 4 * u, 16 * u, 2.5 * u));
    QPainterPath top;
    top.addEllipse(QRectF(u, 4 * u, 16 * u, 5 * u));
    base = base.united(middle).united(top);

    QPainterPath capBottom;
    capBottom.addEllipse(QRectF(4.75 * u, 5.2 * u, 8.5 * u, 3.2 * u));
    QPainterPath capSide;
    capSide.addRect(QRectF(4.75 * u, 6.8 * u, 8.5 * u, 6.0 * u));
    QPainterPath capTop;
    capTop.addEllipse(QRectF(4.75 * u, 11.2 * u, 8.5 * u, 3.2 * u));
    QPainterPath cap = capBottom.united(capSide).united(capTop);
    return {up.map(base), up.map(cap), up.map(capTop), u};
}

} // namespace

QImage image(QSize size, QColor color) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    draw(painter, QRectF(0, 0, size.width(), size.height()), color);
    return image;
}

void draw(QPainter& painter, const QRectF& rect, const QColor& color) {
    const Figure figure = fit(rect);
    const double u = figure.u;
    painter.save();
    QColor faint = color;
    faint.setAlphaF(0.55f);
    painter.fillPath(figure.base, faint);

    // Clearing a wide outline first cuts the gap between cap and base.
    painter.setCompositionMode(QPainter::CompositionMode_Clear);
    painter.strokePath(figure.cap, QPen(Qt::black, 1.4 * u));
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    QColor solid = color;
    solid.setAlphaF(1.0f);
    painter.fillPath(figure.cap, solid);

    // A thin gap line marks the top rim.
    painter.setCompositionMode(QPainter::CompositionMode_Clear);
    painter.strokePath(figure.capTop, QPen(Qt::black, 0.8 * u));
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.restore();
}

QColor haloFor(const QColor& ink) {
    return ink.lightnessF() < 0.5 ? QColor(Qt::white) : QColor(0x14, 0x14, 0x14);
}

QImage trayImage(QSize size, const QColor& ink, bool dimmed) {
    QImage picture(size, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    {
        const QRectF rect(QPointF(0, 0), QSizeF(size));
        const Figure figure = fit(rect);
        const QColor halo = haloFor(ink);
        QPainter painter(&picture);
        painter.setRenderHint(QPainter::Antialiasing);
        // The silhouette of base and cap, widened a little, under the figure: it shows in the
        // figure's gaps and round its edge.
        const double haloWidth = std::max(1.0, std::min(size.width(), size.height()) / 24.0);
        painter.setPen(QPen(halo, 2 * haloWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(halo);
        painter.drawPath(figure.base.united(figure.cap));
        const QImage drawn = image(size, ink);
        painter.drawImage(QPointF(0, 0), drawn);
    }
    if (!dimmed) return picture;
    // Faded as one layer, so that the halo does not show through the figure.
    QImage faded(picture.size(), QImage::Format_ARGB32_Premultiplied);
    faded.fill(Qt::transparent);
    QPainter painter(&faded);
    painter.setOpacity(dimmedOpacity);
    painter.drawImage(QPointF(0, 0), picture);
    return faded;
}

} // namespace MenuBarIcon
