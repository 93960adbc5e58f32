#include "VantorWindows/WindowController.h"
#include "WindowTestApp.h"

#include <QLabel>
#include <QScreen>
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

// fontconfig keeps a cache for the life of the process, which the test application outlives.
extern "C" __attribute__((weak)) const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
