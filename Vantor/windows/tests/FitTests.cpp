// The windows at every size they allow: nothing of their content is cut off, it wraps or
// scrolls. Run under the screen offscreen gives, and (as its own test entry) on a 1366 x 768 one.
#include "FitTestSupport.h"
#include "MainViewHarness.h"
#include "VantorWindows/ReleaseNotesView.h"
#include "VantorWindows/WindowController.h"

#include <QScreen>
#include <QTabWidget>
#include <QWindow>
#include <gtest/gtest.h>

namespace vantor {
namespace {

using testing::Harness;

// Every row the settings window can show: the banner, an app with its own settings section,
// the driver row with a long reason and the approval row.
void showEverything(Harness& h) {
    scroll::ScrollSettings settings;
    settings.allowedApps = {"org.example.Maps"};
    h.model->setSettings(settings);
    h.model->setHasPermission(false);
    h.model->setSelectedApp("org.example.Maps");
    h.model->setLoginItemStatus(LoginItemStatus::requiresApproval);
    h.model->setDriverName(QString("spacenavd"));
    h.model->setFrontAppProblem(QString("No source of the app in front on this desktop session."));
}

TEST(Fit, everyTabOfTheSettingsWindowWrapsOrScrollsAtEverySizeItAllows) {
    const QSize sizes[] = {
        MainView::minimumSize,
        {456, 660},          // a third of a 1366-pixel screen, tiled
        {456, 1000},
        {560, 684},          // 768 high, less a panel, frame and menu bar
        MainView::idealSize, // as it opens
        {1200, 900},
    };
    for (const QSize size : sizes) {
        Harness h;
        showEverything(h);
        h.view->show();
        h.view->resize(size);
        QApplication::processEvents();
        EXPECT_EQ(h.view->size(), size) << "the window allows " << size.width() << " x "
                                        << size.height();
        auto* tabs = h.find<QTabWidget>("tabs");
        for (int tab = 0; tab < tabs->count(); ++tab) {
            tabs->setCurrentIndex(tab);
            QApplication::processEvents();
            EXPECT_EQ(testsupport::cutOff(h.view.get()).join("\n").toStdString(), "")
                << size.width() << " x " << size.height() << ", tab " << tab;
        }
    }
}

TEST(Fit, theSettingsWindowOpensWhollyOnItsScreenFrameIncluded) {
    windowTestApp();
    Harness h;
    showEverything(h);
    Harness* harness = &h;
    WindowController controller("Vantor", MainView::idealSize, [harness] {
        return new MainView(*harness->model, harness->updates, harness->canvas);
    });
    controller.show();
    QApplication::processEvents();
    QWidget* window = controller.window();
    const QRect available = window->screen()->availableGeometry();
    QMargins frame = window->windowHandle()->frameMargins();
    if (frame.isNull()) frame = WindowController::assumedFrame;
    EXPECT_TRUE(available.contains(window->geometry().marginsAdded(frame)))
        << "on a screen of " << available.width() << " x " << available.height();
    EXPECT_EQ(testsupport::cutOff(window).join("\n").toStdString(), "")
        << "on a screen of " << available.width() << " x " << available.height();
}

TEST(Fit, theReleaseNotesWrapAtEverySizeTheyAllow) {
    windowTestApp();
    for (const QSize size : {QSize(420, 360), QSize(520, 600)}) {
        std::unique_ptr<QWidget> view(ReleaseNotesView::load());
        view->show();
        view->resize(size);
        QApplication::processEvents();
        EXPECT_EQ(view->size(), size);
        EXPECT_EQ(testsupport::cutOff(view.get()).join("\n").toStdString(), "") << size.width();
    }
}

} // namespace
} // namespace vantor
