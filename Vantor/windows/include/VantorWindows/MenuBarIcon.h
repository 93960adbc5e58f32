#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QPainterPath>
#include <QPolygonF>
#include <QRectF>
#include <QSize>

class QPainter;

namespace vantor {

// Vantor's tray icon: a four-way arrow lying on a slab, seen in perspective from the front and
// above, so that it reads as a tilted cap that moves in every direction. The same figure, in
// colour, makes the app icon (AppIcon).
namespace MenuBarIcon {

// The figure fitted into a rectangle: the arrow's top face, and its body (the bottom face and the
// side walls as one area, so that filling it at half opacity does not darken where they overlap).
struct Figure {
    QPolygonF top;
    QPainterPath body;
    double gapWidth = 0; // the band cleared around the top face, separating it from the body
};

// The figure centred in `rect` with 7 % of the rectangle's width as margin, in its proportions.
Figure fit(const QRectF& rect);

// Draws the icon into `rect` in `color`: the body at half the colour's opacity, a transparent gap
// around the top face, the top face opaque. The gap is cleared, so draw on a device with alpha
// (an image) and composite that.
void draw(QPainter& painter, const QRectF& rect, const QColor& color);

// The icon as an image of `size` device-independent pixels at the given pixel ratio.
QImage image(QSize size, qreal devicePixelRatio = 1.0, const QColor& color = Qt::black);

// The colour of the tray icon's halo around a figure in `ink`: white round a dark figure, near
// black round a light one.
QColor haloFor(const QColor& ink);

// Opacity of the tray icon while Vantor does not take the device.
inline constexpr double dimmedOpacity = 0.4;

// The tray icon: the figure in `ink` on a silhouette in the halo colour a little larger than the
// figure, which also fills the gap round the top face. The tray shows the panel's background,
// not the app's: the figure reads on a panel like its halo, the halo on a panel like the figure.
// Dimmed, the whole icon is drawn at dimmedOpacity.
QImage trayImage(QSize size, qreal devicePixelRatio, const QColor& ink, bool dimmed);

// The tray icon (trayImage) drawn when it first shows, at the sizes it shows at.
QIcon trayIcon(const QColor& ink, bool dimmed);

} // namespace MenuBarIcon
} // namespace vantor
