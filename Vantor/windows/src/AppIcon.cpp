#include "VantorWindows/AppIcon.h"

#include "VantorWindows/DrawnIcon.h"
#include "VantorWindows/MenuBarIcon.h"

#include <QApplication>
#include <QEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QWidget>
#include <algorithm>
#include <memory>
#include <optional>

namespace vantor::AppIcon {

namespace {

constexpr double side = 512;
// The tile leaves the margin the desktop's icon themes leave around square icons.
const QRectF tile(32, 32, 448, 448);
constexpr double corner = 100;
const QRectF figureRect(84, 88, 344, 344);
const QColor light(0x4f, 0x9c, 0xff);
const QColor deep(0x23, 0x4b, 0xd6);

QLinearGradient tileGradient() {
    QLinearGradient gradient(tile.topLeft(), tile.bottomLeft());
    gradient.setColorAt(0, light);
    gradient.setColorAt(1, deep);
    return gradient;
}

QString number(double value) {
    return QString::number(value, 'f', 2);
}

QString svgPath(const QPainterPath& path) {
    QString d;
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPainterPath::Element e = path.elementAt(i);
        d += (e.isMoveTo() ? "M" : "L") + number(e.x) + " " + number(e.y) + " ";
        if (i + 1 == path.elementCount() || path.elementAt(i + 1).isMoveTo()) d += "Z ";
    }
    return d.trimmed();
}

QPainterPath polygonPath(const QPolygonF& polygon) {
    QPainterPath path;
    path.addPolygon(polygon);
    return path;
}

} // namespace

void draw(QPainter& painter, const QRectF& rect) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(rect.topLeft());
    painter.scale(rect.width() / side, rect.height() / side);
    painter.setPen(Qt::NoPen);
    const QBrush ground(tileGradient());
    painter.setBrush(ground);
    painter.drawRoundedRect(tile, corner, corner);

    // The tray icon clears its gap to transparency; on the tile the gap shows the tile, so it is
    // painted with the tile's own gradient.
    const MenuBarIcon::Figure figure = MenuBarIcon::fit(figureRect);
    painter.fillPath(figure.body, QColor(255, 255, 255, 128));
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(ground, figure.gapWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPolygon(figure.top);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawPolygon(figure.top, Qt::WindingFill);
    painter.restore();
}

QImage image(int pixels) {
    QImage picture(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    draw(painter, QRectF(0, 0, pixels, pixels));
    return picture;
}

QIcon icon() {
    // Both the theme's lookup and the drawing wait until the icon first shows.
    auto themed = std::make_shared<std::optional<QIcon>>();
    return drawnIcon([themed](QSize pixels) {
        if (!*themed) *themed = QIcon::fromTheme(QString::fromLatin1(themeName));
        if (!(*themed)->isNull()) {
            QPixmap picture = (*themed)->pixmap(pixels);
            if (!picture.isNull()) return picture.toImage();
        }
        return image(std::min(pixels.width(), pixels.height()));
    });
}

namespace {

// Watches the application's events until a window the window manager handles shows.
class FirstWindowWatch final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Show || !watched->isWidgetType()) return false;
        const auto* widget = static_cast<QWidget*>(watched);
        const Qt::WindowFlags flags = widget->windowFlags();
        const Qt::WindowType type = widget->windowType();
        if (!widget->isWindow() || (type != Qt::Window && type != Qt::Dialog) ||
            flags.testFlag(Qt::BypassWindowManagerHint))
            return false;
        // Windows that exist already (this one among them) take the icon up as it changes.
        QApplication::setWindowIcon(icon());
        qApp->removeEventFilter(this);
        deleteLater();
        return false;
    }
};

} // namespace

void becomeWindowIconWithFirstWindow() {
    if (!qApp) return;
    qApp->installEventFilter(new FirstWindowWatch(qApp));
}

QString svg() {
    const MenuBarIcon::Figure figure = MenuBarIcon::fit(figureRect);
    const QString top = svgPath(polygonPath(figure.top));
    return QString(R"svg(<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" width="512" height="512" viewBox="0 0 512 512">
  <defs>
    <linearGradient id="tile" gradientUnits="userSpaceOnUse" x1="0" y1="%1" x2="0" y2="%2">
      <stop offset="0" stop-color="%3"/>
      <stop offset="1" stop-color="%4"/>
    </linearGradient>
  </defs>
  <rect x="%5" y="%1" width="%6" height="%7" rx="%8" fill="url(#tile)"/>
  <path d="%9" fill="#ffffff" fill-opacity="0.5" fill-rule="nonzero"/>
  <path d="%10" fill="none" stroke="url(#tile)" stroke-width="%11" stroke-linejoin="round"/>
  <path d="%10" fill="#ffffff" fill-rule="nonzero"/>
</svg>
)svg")
        .arg(number(tile.top()), number(tile.bottom()), light.name(), deep.name(),
             number(tile.left()), number(tile.width()), number(tile.height()), number(corner),
             svgPath(figure.body), top, number(figure.gapWidth));
}

} // namespace vantor::AppIcon
