#pragma once

#include "VantorModels/CanvasModel.h"

#include <QBrush>
#include <QWidget>

namespace vantor {

// Draws a CanvasModel: an endless checkerboard of 32-unit tiles in the palette's text colour at
// 14 % opacity on its base colour, turned, scaled and centred as the model says. Repaints when
// the model changes, once for all the changes of one pass of the event loop.
//
// The board is one fill with a texture of two by two tiles, drawn once for the colours and the
// size on screen, whose transform turns, scales and moves it: painting costs a copy of the view's
// pixels, however many tiles show.
class CanvasView final : public QWidget {
    Q_OBJECT

public:
    static constexpr double tileEdge = 32.0;
    static constexpr double tileOpacity = 0.14;

    explicit CanvasView(CanvasModel& model, QWidget* parent = nullptr);

    CanvasModel& model() const { return model_; }

    // The edge in pixels of a tile of the texture drawn for tiles `pixels` device pixels wide on
    // screen: the power of two at or above it, from 4 up to 256, so the texture is reduced by
    // less than half (and enlarged only past 256 pixels).
    static int textureTile(double pixels);

protected:
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void paintsEveryPixel();
    const QBrush& texture(int tilePixels);

    CanvasModel& model_;
    QBrush texture_;
    int textureTile_ = 0;
    QRgb textureBase_ = 0, textureInk_ = 0;
};

} // namespace vantor
