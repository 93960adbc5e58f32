#include "VantorWindows/MenuBarIcon.h"

#include "VantorWindows/DrawnIcon.h"

#include <QPainter>
#include <QPen>
#include <QTransform>
#include <algorithm>
#include <array>
#include <cmath>

namespace vantor::MenuBarIcon {

namespace {

constexpr double cosTilt = 0.788010753606722; // 38 degrees
constexpr double sinTilt = 0.6156614753256582;
constexpr double distance = 3.2;
constexpr double thickness = 0.22;
constexpr int pointCount = 24;

// Four arrows, each the six points of the first rotated by a quarter turn more, counter-clockwise,
// so the 24 points run round one simple polygon: shaft, barb, tip, barb, shaft.
std::array<QPointF, pointCount> outline() {
    static constexpr std::array<QPointF, 6> arm{QPointF(0.15, -0.15), QPointF(0.52, -0.15),
                                                QPointF(0.52, -0.34), QPointF(1.0, 0.0),
                                                QPointF(0.52, 0.34),  QPointF(0.52, 0.15)};
    // cos and sin of 0, 90, 180 and 270 degrees, exact.
    static constexpr int cosines[] = {1, 0, -1, 0};
    static constexpr int sines[] = {0, 1, 0, -1};
    std::array<QPointF, pointCount> points;
    for (int quarter = 0; quarter < 4; ++quarter)
        for (int i = 0; i < 6; ++i) {
            const QPointF p = arm[static_cast<std::size_t>(i)];
            points[static_cast<std::size_t>(quarter * 6 + i)] =
                QPointF(p.x() * cosines[quarter] - p.y() * sines[quarter],
                        p.x() * sines[quarter] + p.y() * cosines[quarter]);
        }
    return points;
}

// The signed area's sign decides the direction; every part of the body runs the same way round,
// so that the non-zero rule fills their union instead of cancelling where they overlap.
QPolygonF counterClockwise(QPolygonF polygon) {
    double twiceArea = 0;
    for (qsizetype i = 0; i < polygon.size(); ++i) {
        const QPointF& a = polygon[i];
        const QPointF& b = polygon[(i + 1) % polygon.size()];
        twiceArea += a.x() * b.y() - b.x() * a.y();
    }
    if (twiceArea < 0) std::reverse(polygon.begin(), polygon.end());
    return polygon;
}

} // namespace

Figure fit(const QRectF& rect) {
    // Projection onto the picture plane, y up: the top face on the cap's surface, the bottom face
    // the slab's thickness below it.
    QPolygonF top, bottom;
    for (const QPointF& p : outline()) {
        const double d = p.y() * sinTilt + distance;
        top << QPointF(p.x() / d, p.y() * cosTilt / d);
        const double below = d + thickness * cosTilt;
        bottom << QPointF(p.x() / below, (p.y() * cosTilt - thickness * sinTilt) / below);
    }
    const QRectF box = top.boundingRect().united(bottom.boundingRect());
    const double margin = 0.07 * rect.width();
    const double scale = std::max(0.0, std::min((rect.width() - 2 * margin) / box.width(),
                                                (rect.height() - 2 * margin) / box.height()));
    // Centre on the rectangle, flipping y for the painter's downward axis.
    QTransform place;
    place.translate(rect.center().x(), rect.center().y());
    place.scale(scale, -scale);
    place.translate(-box.center().x(), -box.center().y());

    Figure figure;
    figure.top = place.map(top);
    const QPolygonF base = place.map(bottom);
    figure.body.setFillRule(Qt::WindingFill);
    figure.body.addPolygon(counterClockwise(base));
    figure.body.closeSubpath();
    for (int i = 0; i < pointCount; ++i) {
        const int next = (i + 1) % pointCount;
        QPolygonF wall;
        wall << figure.top[i] << figure.top[next] << base[next] << base[i];
        figure.body.addPolygon(counterClockwise(wall));
        figure.body.closeSubpath();
    }
    figure.gapWidth = rect.width() / 30.0;
    return figure;
}

void draw(QPainter& painter, const QRectF& rect, const QColor& color) {
    const Figure figure = fit(rect);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    QColor half = color;
    half.setAlphaF(color.alphaF() * 0.5f);
    painter.fillPath(figure.body, half);

    painter.setCompositionMode(QPainter::CompositionMode_Clear);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(Qt::black, figure.gapWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPolygon(figure.top);

    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawPolygon(figure.top, Qt::WindingFill);
    painter.restore();
}

QImage image(QSize size, qreal devicePixelRatio, const QColor& color) {
    QImage picture(size * devicePixelRatio, QImage::Format_ARGB32_Premultiplied);
    picture.setDevicePixelRatio(devicePixelRatio);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    draw(painter, QRectF(QPointF(0, 0), QSizeF(size)), color);
    return picture;
}

QColor haloFor(const QColor& ink) {
    return ink.lightnessF() < 0.5 ? QColor(Qt::white) : QColor(0x14, 0x14, 0x14);
}

QImage trayImage(QSize size, qreal devicePixelRatio, const QColor& ink, bool dimmed) {
    QImage picture(size * devicePixelRatio, QImage::Format_ARGB32_Premultiplied);
    picture.setDevicePixelRatio(devicePixelRatio);
    picture.fill(Qt::transparent);
    {
        const QRectF rect(QPointF(0, 0), QSizeF(size));
        const Figure figure = fit(rect);
        const QColor halo = haloFor(ink);
        QPainter painter(&picture);
        painter.setRenderHint(QPainter::Antialiasing);
        // The silhouette: body and top face, widened by the halo inside the figure's margin.
        QPainterPath silhouette = figure.body;
        silhouette.addPolygon(counterClockwise(figure.top));
        silhouette.closeSubpath();
        const double haloWidth = std::min(size.width(), size.height()) / 28.0;
        painter.setPen(QPen(halo, 2 * haloWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(halo);
        painter.drawPath(silhouette);

        painter.setPen(Qt::NoPen);
        QColor half = ink;
        half.setAlphaF(ink.alphaF() * 0.5f);
        painter.fillPath(figure.body, half);
        // The gap round the top face shows the halo, as the app icon's shows its tile.
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(halo, figure.gapWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPolygon(figure.top);
        painter.setPen(Qt::NoPen);
        painter.setBrush(ink);
        painter.drawPolygon(figure.top, Qt::WindingFill);
    }
    if (!dimmed) return picture;
    // Faded as one layer, so that the figure does not show through its halo.
    QImage faded(picture.size(), QImage::Format_ARGB32_Premultiplied);
    faded.setDevicePixelRatio(devicePixelRatio);
    faded.fill(Qt::transparent);
    QPainter painter(&faded);
    painter.setOpacity(dimmedOpacity);
    painter.drawImage(QPointF(0, 0), picture);
    return faded;
}

QIcon trayIcon(const QColor& ink, bool dimmed) {
    return drawnIcon([ink, dimmed](QSize pixels) { return trayImage(pixels, 1.0, ink, dimmed); });
}

} // namespace vantor::MenuBarIcon
