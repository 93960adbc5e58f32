#pragma once

#include <QIcon>
#include <QImage>
#include <QRectF>
#include <QString>

class QPainter;

namespace vantor {

// Vantor's app icon: the tray icon's figure in white on a blue rounded tile. The About window
// draws it; the build writes it as the SVG and PNGs of the desktop entry's icon theme entry.
namespace AppIcon {

// The icon's name in the icon theme, the same as the desktop entry's (the app's id).
inline constexpr const char* themeName = "me.orvella.Vantor";

// Draws the icon into the square `rect`.
void draw(QPainter& painter, const QRectF& rect);

// The icon as a square image of `pixels` device pixels.
QImage image(int pixels);

// The installed theme icon when the desktop has one, else the drawn icon; the theme is looked
// up and the icon drawn when it first shows, at the sizes it shows at.
QIcon icon();

// Makes icon() the application's window icon when the first window the window manager handles
// shows (not a menu, a tooltip or the tray's own window, which show no window icon): a run in
// the tray alone looks up and draws no app icon.
void becomeWindowIconWithFirstWindow();

// The icon as SVG text, 512 units square, drawn as draw() draws it.
QString svg();

} // namespace AppIcon
} // namespace vantor
