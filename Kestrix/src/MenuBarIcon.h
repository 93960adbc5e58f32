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

} // namespace MenuBarIcon
