#include "VantorWindows/WindowController.h"
#include "WindowTestApp.h"

#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <gtest/gtest.h>

using namespace vantor;

TEST(WindowController, madeOnceOnFirstUseCentredAtItsSizeAndNotShown) {
    windowTestApp();
    int built = 0, configured = 0;
    QWidget* configuredWindow = nullptr;
    WindowController controller(
        "About Vantor", QSize(420, 510),
        [&] {
            ++built;
            return new QLabel("content");
        },
        [&](QWidget& window) {
            ++configured;
            configuredWindow = &window;
            EXPECT_EQ(window.size(), QSize(420, 510)); // configure sees the sized window
        });
    EXPECT_EQ(controller.window(), nullptr);
    EXPECT_EQ(built, 0);

    QWidget* window = controller.loadWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(controller.loadWindow(), window);
    EXPECT_EQ(controller.window(), window);
    EXPECT_EQ(built, 1);
    EXPECT_EQ(configured, 1);
    EXPECT_EQ(configuredWindow, window);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), "About Vantor");
    EXPECT_EQ(window->size(), QSize(420, 510));
    EXPECT_EQ(controller.content()->parentWidget(), window);
    EXPECT_EQ(controller.content()->size(), QSize(420, 510));
    QRect screen = window->screen()->availableGeometry();
    EXPECT_LE((window->geometry().center() - screen.center()).manhattanLength(), 1);
}

TEST(WindowController, closingKeepsTheWindowAndReportsItAndShowBringsItBack) {
    windowTestApp();
    int built = 0;
    std::vector<QWidget*> closed;
    WindowController controller("Vantor", QSize(300, 200), [&] {
        ++built;
        return new QLabel("content");
    });
    controller.onClose = [&](QWidget& window) { closed.push_back(&window); };

    controller.show();
    QWidget* window = controller.window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    window->move(window->pos() + QPoint(30, 20));
    window->resize(350, 250);
    const QRect left = window->geometry();

    EXPECT_TRUE(window->close());
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(closed, std::vector<QWidget*>{window});
    EXPECT_EQ(controller.window(), window); // kept, not deleted

    controller.show();
    EXPECT_EQ(controller.window(), window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->geometry(), left);
    EXPECT_EQ(built, 1);
    EXPECT_EQ(closed.size(), 1u);
}

TEST(WindowController, aWindowGoesWhollyOntoTheAvailableAreaShrinkingWhereItMust) {
    const QMargins frame{4, 40, 4, 4};
    struct Case {
        const char* name;
        QRect current, available;
        QSize size; // the placed window's size
    };
    for (const Case& c : std::initializer_list<Case>{
             // The settings window (839 high with its menu bar), centred on 1366 x 768 under a
             // 27-pixel top panel: 741 - 44 high.
             {"1366 x 768", {403, -35, 560, 839}, {0, 27, 1366, 741}, {560, 697}},
             // At 200 % a 2560 x 1600 screen is 1280 x 800 of the window's pixels.
             {"200 % of 1600", {360, -19, 560, 839}, {0, 32, 1280, 768}, {560, 724}},
             {"too wide", {-100, 50, 1000, 400}, {0, 0, 800, 600}, {792, 400}},
             {"fits", {100, 100, 560, 400}, {0, 0, 800, 600}, {560, 400}},
         }) {
        SCOPED_TRACE(c.name);
        const QRect placed = WindowController::placement(c.current, c.available, frame);
        EXPECT_EQ(placed.size(), c.size);
        EXPECT_TRUE(c.available.contains(placed.marginsAdded(frame)));
        if (c.available.contains(c.current.marginsAdded(frame))) {
            EXPECT_EQ(placed, c.current) << "a window that fits stays where it is";
        }
    }
}

TEST(WindowController, aWindowTallerThanItsScreenOpensOnItAndItsContentGivesWay) {
    windowTestApp();
    QScrollArea* area = nullptr;
    WindowController controller("Vantor", QSize(560, 839), [&] {
        auto* content = new QWidget;
        content->setMinimumSize(520, 640);
        auto* column = new QVBoxLayout(content);
        area = new QScrollArea;
        auto* tall = new QWidget;
        tall->setMinimumHeight(800);
        area->setWidget(tall);
        area->setWidgetResizable(true);
        column->addWidget(area);
        return content;
    });
    QWidget* window = controller.loadWindow();
    const QRect available = window->screen()->availableGeometry();
    ASSERT_LT(available.height(), 839 + 44) << "the test needs a screen shorter than the window";
    controller.show();
    EXPECT_TRUE(available.contains(window->geometry().marginsAdded(WindowController::assumedFrame)))
        << "on a screen of " << available.height();
    EXPECT_EQ(window->height(), available.height() - 44);
    EXPECT_EQ(controller.content()->height(), window->height()) << "the content follows";
    EXPECT_GT(area->verticalScrollBar()->maximum(), 0) << "and scrolls";
}

// fontconfig keeps a cache for the life of the process, which the test application outlives.
extern "C" __attribute__((weak)) const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
