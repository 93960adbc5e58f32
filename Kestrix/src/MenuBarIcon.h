#pragma once

#include <QColor>
#include <QImage>
#include <QRectF>
#include <QSize>

class QPainter;

// The tray icon: a SpaceMouse seen from the side, a flat base with the cap standing on it, a thin
// gap cut between the two and along the cap's top rim.
namespace MenuBarIcon {

// An image of the given size drawn in black on a transparent ground.
QImage image(QSize size, QColor color = Qt::black);

// Draws into rect, in units of rect's width / 18, with the origin at the lower-left corner.
void draw(QPainter& painter, const QRectF& rect, const QColor& color);

// The colour of the halo round a figure in `ink`: white round a dark figure, near black round a
// light one.
QColor haloFor(const QColor& ink);

// Opacity of the tray icon while no client holds a device.
inline constexpr double dimmedOpacity = 0.43;

// The tray icon: the figure in `ink` on a silhouette in the halo colour a little larger than the
// figure, which also fills the gaps. A tray shows the panel's background, which need not match
// the text colour: the figure reads on a panel like its halo, the halo on a panel like the
// figure. Dimmed, the whole icon is drawn at dimmedOpacity.
QImage trayImage(QSize size, const QColor& ink, bool dimmed);

} // namespace MenuBarIcon
