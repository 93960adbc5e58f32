#include "VantorWindows/CanvasView.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace vantor {

CanvasView::CanvasView(CanvasModel& model, QWidget* parent)
    : QWidget(parent)
    , model_(model) {
    for (auto signal :
         {&CanvasModel::centerChanged, &CanvasModel::scaleChanged, &CanvasModel::rotationChanged})
        connect(&model_, signal, this, qOverload<>(&QWidget::update));
}

CanvasView::TileBounds CanvasView::tileBounds(CanvasPoint center, double scale, QSizeF size) {
    double radius = std::hypot(size.width(), size.height()) / 2.0 / scale;
    // The tile holding the coordinate. (Rounding toward zero would start one tile short on the
    // negative side, and a turned view's corner would show no tile there.) A canvas far out is
    // held to a range the loops can count through.
    auto tile = [](double unit) {
        double index = std::floor(unit / tileEdge);
        return static_cast<long long>(std::isfinite(index) ? std::clamp(index, -1e15, 1e15) : 0.0);
    };
    return {tile(center.x - radius), tile(center.x + radius), tile(center.y - radius),
            tile(center.y + radius)};
}

void CanvasView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Base));
    double w = width(), h = height();
    CanvasPoint center = model_.center();
    double scale = model_.scale();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(w / 2.0, h / 2.0);
    painter.rotate(model_.rotation());
    painter.scale(scale, scale);
    painter.translate(-center.x, -center.y);

    TileBounds bounds = tileBounds(center, scale, QSizeF(w, h));
    QPainterPath path;
    for (long long row = bounds.firstRow; row <= bounds.lastRow; ++row)
        for (long long column = bounds.firstColumn; column <= bounds.lastColumn; ++column)
            if ((column + row) % 2 == 0)
                path.addRect(static_cast<double>(column) * tileEdge,
                             static_cast<double>(row) * tileEdge, tileEdge, tileEdge);
    QColor fill = palette().color(QPalette::Text);
    fill.setAlphaF(static_cast<float>(fill.alphaF() * tileOpacity));
    painter.fillPath(path, fill);
}

} // namespace vantor
