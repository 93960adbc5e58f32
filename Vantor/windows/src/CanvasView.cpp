#include "VantorWindows/CanvasView.h"

#include "PaintBands.h"

#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <cmath>

namespace vantor {

namespace {

// A coordinate taken to the repeat of the board (two tiles), where it draws the same: far out
// the transform keeps its precision, and a value that is not finite draws as the origin.
double withinRepeat(double value) {
    const double repeat = 2 * CanvasView::tileEdge;
    return std::isfinite(value) ? std::fmod(value, repeat) : 0.0;
}

} // namespace

CanvasView::CanvasView(CanvasModel& model, QWidget* parent)
    : QWidget(parent)
    , model_(model) {
    paintsEveryPixel();
    for (auto signal :
         {&CanvasModel::centerChanged, &CanvasModel::scaleChanged, &CanvasModel::rotationChanged})
        connect(&model_, signal, this, qOverload<>(&QWidget::update));
}

void CanvasView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) paintsEveryPixel();
}

void CanvasView::paintsEveryPixel() {
    // On an opaque base colour every pixel is painted: nothing beneath needs painting first.
    setAttribute(Qt::WA_OpaquePaintEvent, palette().color(QPalette::Base).alpha() == 255);
}

int CanvasView::textureTile(double pixels) {
    int tile = 4;
    while (tile < 256 && tile < pixels)
        tile *= 2;
    return tile;
}

const QBrush& CanvasView::texture(int tilePixels) {
    QColor base = palette().color(QPalette::Base);
    QColor ink = palette().color(QPalette::Text);
    ink.setAlphaF(static_cast<float>(ink.alphaF() * tileOpacity));
    if (tilePixels == textureTile_ && base.rgba() == textureBase_ && ink.rgba() == textureInk_)
        return texture_;
    QImage picture(2 * tilePixels, 2 * tilePixels, QImage::Format_ARGB32_Premultiplied);
    picture.fill(base);
    {
        QPainter painter(&picture);
        painter.fillRect(0, 0, tilePixels, tilePixels, ink);
        painter.fillRect(tilePixels, tilePixels, tilePixels, tilePixels, ink);
    }
    // Opaque pictures take the raster engine's quicker paths.
    if (base.alpha() == 255) picture = std::move(picture).convertToFormat(QImage::Format_RGB32);
    texture_ = QBrush(picture);
    textureTile_ = tilePixels;
    textureBase_ = base.rgba();
    textureInk_ = ink.rgba();
    return texture_;
}

void CanvasView::paintEvent(QPaintEvent* event) {
    const double scale = model_.scale();
    const int tile = textureTile(tileEdge * scale * devicePixelRatioF());
    // Canvas units to the view: the canvas point `center` at the view's middle, turned and
    // scaled about it. The texture's pixels are canvas units at the texture's tile size.
    QTransform place;
    place.translate(width() / 2.0, height() / 2.0);
    place.rotate(model_.rotation());
    place.scale(scale, scale);
    const CanvasPoint center = model_.center();
    place.translate(-withinRepeat(center.x), -withinRepeat(center.y));
    QBrush brush = texture(tile);
    brush.setTransform(QTransform::fromScale(tileEdge / tile, tileEdge / tile) * place);

    QPainter painter(this);
    // Turned or resized, the texture is sampled smoothly so that the tiles' edges stay clean;
    // moved only, it is copied.
    if (brush.transform().type() > QTransform::TxTranslate)
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
    inPaintBands(event->rect(), devicePixelRatioF(),
                 [&](const QRect& band) { painter.fillRect(band, brush); });
}

} // namespace vantor
