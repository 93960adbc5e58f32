#include "VantorModels/Updates.h"
#include "VantorWindows/AboutView.h"
#include "VantorWindows/WindowController.h"
#include "WindowTestApp.h"

#include <QLabel>
#include <QPushButton>
#include <QKeyEvent>
#include <gtest/gtest.h>

using namespace vantor;

namespace {

void press(QWidget* widget, int key) {
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

} // namespace

TEST(AboutView, versionLineShowsAnEnDashForEachMissingValue) {
    windowTestApp();
    const struct {
        QString version, build, line;
    } cases[] = {
        {"1.0.0", "15", "Version 1.0.0 (15)"},
        {"", "15", "Version \u2013 (15)"},
        {"1.0.0", "", "Version 1.0.0 (\u2013)"},
        {"", "", "Version \u2013 (\u2013)"},
    };
    for (const auto& c : cases) {
        AboutView::Info info{c.version, c.build, "", QUrl("https://orvella.me/vantor/")};
        EXPECT_EQ(AboutView::versionLine(info), c.line);
        AboutView view({}, {}, info);
        EXPECT_EQ(view.findChild<QLabel*>("aboutVersion")->text(), c.line);
        EXPECT_EQ(view.findChild<QLabel*>("aboutAuthor")->text(), "By ");
    }
}

TEST(AboutView, buttonsRunTheirActionsAndReturnOpensTheSettings) {
    windowTestApp();
    int notes = 0, settings = 0;
    AboutView view([&] { ++notes; }, [&] { ++settings; },
                   {"1.0.0", "15", "© Someone", QUrl("https://orvella.me/vantor/")});
    EXPECT_EQ(view.findChild<QLabel*>("aboutAuthor")->text(), "By © Someone");
    EXPECT_TRUE(view.findChild<QLabel*>("aboutWebsite")->text().contains(">orvella.me/vantor/<"));
    view.findChild<QPushButton*>("aboutReleaseNotes")->click();
    EXPECT_EQ(notes, 1);
    EXPECT_EQ(settings, 0);
    auto* settingsButton = view.findChild<QPushButton*>("aboutSettings");
    EXPECT_TRUE(settingsButton->isDefault());
    press(&view, Qt::Key_Return);
    EXPECT_EQ(settings, 1);
    // Also while the other button has the focus.
    press(view.findChild<QPushButton*>("aboutReleaseNotes"), Qt::Key_Enter);
    EXPECT_EQ(settings, 2);
    EXPECT_EQ(notes, 1);
}

TEST(AboutView, showsTheAppsOwnVersionAndTheBuildNumberTheUpdateCheckCompares) {
    windowTestApp();
    const BuildInfo running = BuildInfo::running();
    const AboutView::Info info = AboutView::Info::current();
    EXPECT_EQ(info.build, QString::fromStdString(running.buildText));
    EXPECT_EQ(info.build.toLongLong(), running.build());
    EXPECT_EQ(info.version, QString::fromStdString(running.version));
    EXPECT_FALSE(info.version.isEmpty());
    AboutView view({}, {});
    EXPECT_EQ(view.findChild<QLabel*>("aboutVersion")->text(),
              "Version " + info.version + " (" + info.build + ")");
}

TEST(AboutView, escapeClosesTheWindowWhereverTheFocusIs) {
    windowTestApp();
    for (const char* focus : {"", "aboutReleaseNotes", "aboutSettings"}) {
        SCOPED_TRACE(focus);
        int settings = 0;
        WindowController controller(AboutView::title(), QSize(AboutView::width, AboutView::height),
                                    [&] { return new AboutView({}, [&] { ++settings; }); });
        controller.show();
        QWidget* window = controller.window();
        ASSERT_TRUE(window->isVisible());
        QWidget* target = controller.content();
        if (*focus) target = target->findChild<QPushButton*>(focus);
        press(target, Qt::Key_Escape);
        EXPECT_FALSE(window->isVisible());
        EXPECT_EQ(settings, 0);
    }
}
