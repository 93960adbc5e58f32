// The broker's tray icon on light and dark panels, and "Show Log" where nothing opens files.
#include "AppDelegate.h"
#include "IconContrast.h"
#include "KestrixProtocol/VirtualMainLoop.h"
#include "MenuBarIcon.h"
#include "ShellTestApp.h"
#include "TempFolder.h"

#include <QApplication>
#include <QMessageBox>
#include <gtest/gtest.h>

using namespace kestrix;
using testsupport::readFile;
using testsupport::TempFolder;

// The icon is drawn in the desktop's text colour, dark or light, and the panel may be either:
// each way enough of it stands out (3:1 lit, half that dimmed, as Vantor's icon).
TEST(KestrixTrayIcon, readsOnLightAndDarkPanels) {
    ensureApplication();
    const testsupport::TrayIconDrawing draw = [](int pixels, const QColor& ink, bool dimmed) {
        return MenuBarIcon::trayImage(QSize(pixels, pixels), ink, dimmed);
    };
    std::vector<testsupport::PanelCase> cases = testsupport::panelCases();
    cases.push_back({"black text, dark panel", Qt::black, false, testsupport::darkPanel, 3.0});
    testsupport::expectStandsOut(draw, cases);
    testsupport::writeIconSheets(draw, QStringLiteral("kestrix-tray-icons"));
}

// Offscreen nothing opens files, as on a machine without xdg-open: "Show Log" says so in the
// log and in a message that gives the log's path.
TEST(KestrixTrayMenu, showLogWithNothingToOpenItSaysWhereTheLogIs) {
    ensureApplication();
    TempFolder t;
    VirtualMainLoop loop;
    UserDefaults settings{t.path + "/kestrix.json"};
    BrokerPlace place{t.path + "/home"};
    AppDelegate::Options options;
    options.executable = "/opt/kestrix";
    options.usesDevices = false;
    options.terminate = [](int) {};
    AppDelegate delegate(loop, place, settings, options);
    ASSERT_TRUE(delegate.launch());
    loop.runPending();

    delegate.showLog();
    const std::string path = place.log().string();
    EXPECT_NE(readFile(path).find("cannot open the log: no program here opens it; it is " + path),
              std::string::npos)
        << readFile(path);
    QMessageBox* shown = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == "kestrix.logUnopened" && w->isVisible())
            shown = qobject_cast<QMessageBox*>(w);
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->text(), "No program here opens the log. It is at:");
    EXPECT_EQ(shown->informativeText().toStdString(), path);
    if (const QString folder = qEnvironmentVariable("VANTOR_WINDOW_PICTURES"); !folder.isEmpty())
        shown->grab().save(folder + "/kestrix-log-unopened.png");
    shown->close();
}
