#include "IconContrast.h"
#include "VantorWindows/AppIcon.h"
#include "VantorWindows/DrawnIcon.h"
#include "VantorWindows/MenuBarIcon.h"
#include "WindowTestApp.h"

#include <QApplication>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <vector>

using namespace vantor;

namespace {

// The box of the pixels that are not fully transparent.
QRect inkBox(const QImage& image) {
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) > 0) box |= QRect(x, y, 1, 1);
    return box;
}

} // namespace

TEST(MenuBarIcon, theTrayIconReadsOnLightAndDarkPanels) {
    windowTestApp();
    const testsupport::TrayIconDrawing draw = [](int pixels, const QColor& ink, bool dimmed) {
        return MenuBarIcon::trayIcon(ink, dimmed).pixmap(QSize(pixels, pixels)).toImage();
    };
    testsupport::expectStandsOut(draw, testsupport::panelCases());
    testsupport::writeIconSheets(draw, QStringLiteral("tray-icons"));
}

// The figure spans 0.625 x 0.541 projected units, so it is limited by its width: in 180 x 180 the
// margin is 7 % of 180 = 12.6 pixels left and right, and (180 - 134.1) / 2 = 23 above and below.
TEST(MenuBarIcon, fitsWithinTheMarginAndIsCentred) {
    windowTestApp();
    const struct {
        QSize size;
        QRect box; // the expected ink box, within a pixel of anti-aliasing
    } cases[] = {
        {QSize(180, 180), QRect(QPoint(12, 22), QPoint(167, 157))},
        // Wider than tall: limited by the height, margin 7 % of the width = 21 above and below.
        {QSize(300, 150), QRect(QPoint(87, 21), QPoint(212, 128))},
    };
    for (const auto& c : cases) {
        QImage image = MenuBarIcon::image(c.size);
        QRect box = inkBox(image);
        EXPECT_LE(std::abs(box.left() - c.box.left()), 1) << c.size.width();
        EXPECT_LE(std::abs(box.top() - c.box.top()), 1) << c.size.width();
        EXPECT_LE(std::abs(box.right() - c.box.right()), 1) << c.size.width();
        EXPECT_LE(std::abs(box.bottom() - c.box.bottom()), 1) << c.size.width();
    }
    // At 18 x 18 points, drawn at 2x: at least 1.26 points of margin left and right.
    QImage small = MenuBarIcon::image(QSize(18, 18), 2.0);
    EXPECT_EQ(small.size(), QSize(36, 36));
    QRect box = inkBox(small);
    EXPECT_GE(box.left(), 2);
    EXPECT_LE(box.right(), 33);
}

TEST(MenuBarIcon, halfToneBodyWithoutDarkOverlapsAClearedGapAndASolidTop) {
    windowTestApp();
    QImage image = MenuBarIcon::image(QSize(180, 180), 1.0, QColor(20, 40, 60));
    auto alpha = [&](int x, int y) { return qAlpha(image.pixel(x, y)); };
    EXPECT_EQ(alpha(90, 75), 255);       // the middle of the top face
    EXPECT_NEAR(alpha(115, 90), 128, 2); // the right shaft's front wall over the bottom face
    EXPECT_EQ(alpha(115, 85), 0);        // the gap just under the top face's edge
    EXPECT_EQ(alpha(90, 5), 0);          // above the figure
    EXPECT_EQ(QColor(image.pixel(90, 75)).rgb(), QColor(20, 40, 60).rgb());
}

TEST(AppIcon, theSvgCarriesTheSameFigureAsTheDrawnIcon) {
    windowTestApp();
    QImage image = AppIcon::image(512);
    EXPECT_EQ(qAlpha(image.pixel(4, 4)), 0);                     // outside the tile
    EXPECT_EQ(qAlpha(image.pixel(256, 40)), 255);                // the tile
    EXPECT_EQ(QColor(image.pixel(256, 256)), QColor(Qt::white)); // the top face's middle
    const QString svg = AppIcon::svg();
    EXPECT_TRUE(svg.startsWith("<?xml"));
    EXPECT_EQ(svg.count("<path"), 3);
    EXPECT_FALSE(svg.contains("nan"));
}

TEST(DrawnIcon, drawsEachSizeWhenFirstAskedForAndKeepsIt) {
    windowTestApp();
    std::vector<QSize> drawn;
    QIcon icon = drawnIcon([&drawn](QSize pixels) {
        drawn.push_back(pixels);
        QImage picture(pixels, QImage::Format_ARGB32_Premultiplied);
        picture.fill(Qt::red);
        return picture;
    });
    EXPECT_FALSE(icon.isNull());
    EXPECT_TRUE(icon.availableSizes().isEmpty()) << "Qt asks for the sizes it shows";
    EXPECT_TRUE(drawn.empty()) << "nothing is drawn before the icon shows";

    EXPECT_EQ(icon.pixmap(22, 22).size(), QSize(22, 22));
    EXPECT_EQ(icon.pixmap(22, 22).toImage().pixelColor(11, 11), QColor(Qt::red));
    const QIcon copy = icon;
    EXPECT_EQ(copy.pixmap(22, 22).size(), QSize(22, 22));
    const QPixmap sharp = icon.pixmap(QSize(22, 22), 2.0);
    EXPECT_EQ(sharp.size(), QSize(44, 44));
    EXPECT_EQ(sharp.devicePixelRatio(), 2.0);
    EXPECT_EQ(drawn, (std::vector<QSize>{QSize(22, 22), QSize(44, 44)}));

    // The disabled look is made from the same drawing, once.
    icon.pixmap(QSize(22, 22), QIcon::Disabled);
    icon.pixmap(QSize(22, 22), QIcon::Disabled);
    EXPECT_EQ(drawn.size(), 3u);
}

TEST(AppIcon, becomesTheWindowIconWhenTheFirstManagedWindowShows) {
    windowTestApp();
    QApplication::setWindowIcon(QIcon());
    AppIcon::becomeWindowIconWithFirstWindow();
    // The tray's own window, a menu and a tooltip-like window show no window icon.
    QWidget tray(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::BypassWindowManagerHint);
    tray.show();
    QWidget popup(nullptr, Qt::Popup);
    popup.show();
    QWidget tip(nullptr, Qt::ToolTip);
    tip.show();
    EXPECT_TRUE(QApplication::windowIcon().isNull());

    QWidget window;
    window.show();
    EXPECT_FALSE(QApplication::windowIcon().isNull());
    EXPECT_FALSE(window.windowIcon().isNull());
    const QImage shown = window.windowIcon().pixmap(64, 64).toImage();
    EXPECT_EQ(shown.size(), QSize(64, 64));
    EXPECT_GT(qAlpha(shown.pixel(32, 32)), 0) << "the icon is drawn";
    QApplication::setWindowIcon(QIcon());
}
