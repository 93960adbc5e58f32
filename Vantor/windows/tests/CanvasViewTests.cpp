#include "VantorWindows/CanvasView.h"

#include <QImage>
#include <gtest/gtest.h>

namespace vantor {
namespace {

TEST(CanvasView, tilesCoverTheViewsCircleOnBothSides) {
    struct Case {
        CanvasPoint center;
        double scale;
        QSizeF size;
        CanvasView::TileBounds bounds;
    } cases[] = {
        {{0, 0}, 1, {100, 0}, {-2, 1, -2, 1}},  // radius 50: -50 lies in tile -2
        {{0, 0}, 2, {100, 0}, {-1, 0, -1, 0}},  // radius 25
        {{40, -40}, 1, {0, 0}, {1, 1, -2, -2}}, // zero size: the one tile under the centre
        {{0, 0}, 1, {60, 80}, {-2, 1, -2, 1}},  // radius 50
        {{64, 0}, 0.5, {64, 0}, {0, 4, -2, 2}}, // radius 64
    };
    for (const auto& c : cases)
        EXPECT_EQ(CanvasView::tileBounds(c.center, c.scale, c.size), c.bounds)
            << c.center.x << "," << c.center.y << " scale " << c.scale;
}

// The colour at a point of the drawn view, as the tile or the background.
QColor pixel(const QImage& image, int x, int y) {
    return image.pixelColor(x, y);
}

TEST(CanvasView, drawsTheCheckerboardTurnedAndRepaintsOnChanges) {
    CanvasModel canvas;
    CanvasView view(canvas);
    QPalette palette;
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::Text, Qt::black);
    view.setPalette(palette);
    view.resize(128, 128);
    const QColor tile(219, 219, 219); // black at 14 % over white: 255 × 0.86
    auto image = view.grab().toImage();
    // Tile (0, 0) lies right of and below the centre; tile (-1, 0) left of it is empty.
    EXPECT_NEAR(pixel(image, 80, 80).red(), tile.red(), 1);
    EXPECT_EQ(pixel(image, 48, 80), QColor(Qt::white));
    EXPECT_NEAR(pixel(image, 48, 48).red(), tile.red(), 1);
    // The view's corners are covered too.
    EXPECT_NEAR(pixel(image, 1, 1).red(), tile.red(), 1);
    EXPECT_EQ(pixel(image, 126, 1), QColor(Qt::white));

    canvas.post(scroll::GestureStep{scroll::GesturePhase::changed, 90},
                scroll::GestureKind::rotate);
    image = view.grab().toImage();
    EXPECT_EQ(pixel(image, 80, 80), QColor(Qt::white));
    EXPECT_NEAR(pixel(image, 48, 80).red(), tile.red(), 1);
}

} // namespace
} // namespace vantor
