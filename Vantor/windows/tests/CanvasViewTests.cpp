#include "CanvasBox.h"
#include "VantorWindows/CanvasView.h"

#include <QCoreApplication>
#include <QImage>
#include <cmath>
#include <gtest/gtest.h>

namespace vantor {
namespace {

TEST(CanvasView, textureTilesArePowersOfTwoNeverReducedByHalf) {
    const std::pair<double, int> cases[] = {
        {0, 4},   {1, 4},   {4, 4},   {4.5, 8},    {8, 8},     {24, 32},
        {32, 32}, {40, 64}, {64, 64}, {64.5, 128}, {256, 256}, {2048, 256},
    };
    for (const auto& [pixels, tile] : cases)
        EXPECT_EQ(CanvasView::textureTile(pixels), tile) << pixels;
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

// A 128-pixel view of black tiles at 14 % on white.
struct Board {
    CanvasModel canvas;
    CanvasView view{canvas};
    Board() {
        QPalette palette;
        palette.setColor(QPalette::Base, Qt::white);
        palette.setColor(QPalette::Text, Qt::black);
        view.setPalette(palette);
        view.resize(128, 128);
    }
    // Whether the point shows a tile (else the background).
    bool tileAt(int x, int y) {
        const QColor colour = view.grab().toImage().pixelColor(x, y);
        EXPECT_TRUE(std::abs(colour.red() - 219) <= 1 || colour.red() == 255)
            << x << "," << y << " is " << colour.red();
        return colour.red() < 240;
    }
};

TEST(CanvasView, tilesFollowTheScaleAndTheCentreFarOut) {
    struct Case {
        const char* what;
        double zoom;       // zoom step amount from scale 1
        std::int64_t move; // pixels of a scroll step to the right at scale 1, before the zoom
        QPoint point;
        bool tile;
    } cases[] = {
        {"scale 2: tile (0, 0) spans 64 pixels", 1.0, 0, {100, 100}, true},
        {"scale 2: tile (0, -1)", 1.0, 0, {100, 30}, false},
        {"scale 2: tile (-1, -1)", 1.0, 0, {30, 30}, true},
        {"scale 1/4: tile (0, 0) spans 8 pixels", -0.75, 0, {66, 66}, true},
        {"scale 1/4: tile (1, 0)", -0.75, 0, {74, 66}, false},
        {"scale 1/4: tile (2, 0)", -0.75, 0, {82, 66}, true},
        {"moved by one tile: (1, 0) in the middle", 0, 32, {80, 80}, false},
        {"moved by a whole number of repeats far out", 0, 64'000'000'000'000'000, {80, 80}, true},
        {"the same the other way", 0, -64'000'000'000'000'000, {48, 80}, false},
    };
    for (const auto& c : cases) {
        Board board;
        if (c.move) board.canvas.post(scroll::ScrollStep{scroll::ScrollPhase::changed, c.move, 0});
        if (c.zoom)
            board.canvas.post(scroll::GestureStep{scroll::GesturePhase::changed, c.zoom},
                              scroll::GestureKind::zoom);
        EXPECT_EQ(board.tileAt(c.point.x(), c.point.y()), c.tile) << c.what;
    }
}

TEST(CanvasView, paintsOnceForAllChangesOfOnePass) {
    Board board;
    int paints = 0;
    struct Counter : QObject {
        int& count;
        explicit Counter(int& c)
            : count(c) {}
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint) ++count;
            return false;
        }
    } counter(paints);
    board.view.installEventFilter(&counter);
    board.view.show();
    QCoreApplication::processEvents();
    ASSERT_GE(paints, 1);
    paints = 0;
    board.canvas.post(scroll::ScrollStep{scroll::ScrollPhase::changed, 3, 4});
    board.canvas.post(scroll::ScrollStep{scroll::ScrollPhase::changed, 5, 0});
    board.canvas.post(scroll::GestureStep{scroll::GesturePhase::changed, 0.1},
                      scroll::GestureKind::zoom);
    board.canvas.post(scroll::GestureStep{scroll::GesturePhase::changed, 2},
                      scroll::GestureKind::rotate);
    QCoreApplication::processEvents();
    EXPECT_EQ(paints, 1);
    QCoreApplication::processEvents();
    EXPECT_EQ(paints, 1); // and not again without a change
}

TEST(CanvasView, isOpaqueExactlyWhenItsBaseColourIs) {
    Board board;
    EXPECT_TRUE(board.view.testAttribute(Qt::WA_OpaquePaintEvent));
    QPalette palette = board.view.palette();
    palette.setColor(QPalette::Base, QColor(255, 255, 255, 128));
    board.view.setPalette(palette);
    EXPECT_FALSE(board.view.testAttribute(Qt::WA_OpaquePaintEvent)) << "what lies beneath shows";
}

TEST(CanvasBox, theFrameDrawnOnceTakesUpANewWindowColour) {
    CanvasModel canvas;
    CanvasBox box(new CanvasView(canvas));
    box.resize(200, CanvasBox::height);
    QPalette palette;
    palette.setColor(QPalette::Window, Qt::white);
    palette.setColor(QPalette::WindowText, Qt::black);
    palette.setColor(QPalette::Base, Qt::white);
    box.setPalette(palette);
    EXPECT_EQ(box.grab().toImage().pixelColor(0, 0), QColor(Qt::white)) << "outside the corner";
    // Only the window colour changes; the outline's colour stays.
    palette.setColor(QPalette::Window, Qt::blue);
    box.setPalette(palette);
    const QImage image = box.grab().toImage();
    EXPECT_EQ(image.pixelColor(0, 0), QColor(Qt::blue));
    EXPECT_EQ(image.pixelColor(100, 100), QColor(Qt::white)) << "the canvas's own base colour";
}

TEST(CanvasBox, theCaptionDrawnOnceShowsEachNewTextAndColour) {
    CaptionChip chip;
    chip.resize(160, 24);
    chip.setText("Default settings");
    const QImage first = chip.grab().toImage();
    chip.setText("Settings of Maps");
    const QImage renamed = chip.grab().toImage();
    EXPECT_NE(renamed, first);
    QPalette palette = chip.palette();
    palette.setColor(QPalette::WindowText, Qt::red);
    chip.setPalette(palette);
    const QImage recoloured = chip.grab().toImage();
    EXPECT_NE(recoloured, renamed);
    chip.setPalette(QPalette());
    chip.setText("Default settings");
    EXPECT_EQ(chip.grab().toImage(), first);
}

} // namespace
} // namespace vantor
