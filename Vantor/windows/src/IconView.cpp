#include "IconView.h"

#include <QImage>
#include <QPainter>

#include <algorithm>

namespace vantor {

IconView::IconView(QIcon icon, QSize size, Tint tint, QWidget* parent)
    : QWidget(parent)
    , icon_(std::move(icon))
    , tint_(std::move(tint)) {
    setFixedSize(size);
}

void IconView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!tint_) {
        icon_.paint(&painter, rect());
        return;
    }
    // Light parts take the colour and dark parts (the marks drawn on a symbol) become holes, as
    // in a filled symbol.
    QImage shape = icon_.pixmap(size(), devicePixelRatioF())
                       .toImage()
                       .convertToFormat(QImage::Format_ARGB32);
    const QColor colour = tint_(palette());
    for (int y = 0; y < shape.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(shape.scanLine(y));
        for (int x = 0; x < shape.width(); ++x) {
            const double light = std::min(1.0, qGray(line[x]) / 255.0 * 1.3);
            line[x] = qRgba(colour.red(), colour.green(), colour.blue(),
                            int(qAlpha(line[x]) * light));
        }
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(rect()), shape);
}

QColor warningRed(const QPalette& palette) {
    return palette.color(QPalette::Window).lightnessF() < 0.5 ? QColor(255, 105, 97)
                                                              : QColor(215, 0, 21);
}

} // namespace vantor
