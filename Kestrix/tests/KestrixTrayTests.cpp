// The broker's tray icon on light and dark panels, and "Show Log" where nothing opens files.
#include "AppDelegate.h"
#include "IconContrast.h"
#include "KestrixProtocol/VirtualMainLoop.h"
#include "MenuBarIcon.h"
#include "TempFolder.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPainter>
#include <gtest/gtest.h>

using namespace kestrix;
using testsupport::readFile;
using testsupport::shareStandingOut;
using testsupport::TempFolder;

namespace {

void ensureApplication() {
    static int argc = 1;
    static char name[] = "KestrixTrayTests", *argv[] = {name, nullptr};
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (!QApplication::instance()) new QApplication(argc, argv); // kept to the end of the process
}

} // namespace

// The icon is drawn in the desktop's text colour, dark or light, and the panel may be either:
// each way enough of it stands out (3:1 lit, half that dimmed, as Vantor's icon).
TEST(KestrixTrayIcon, readsOnLightAndDarkPanels) {
    ensureApplication();
    const QColor lightPanel(0xF0, 0xF0, 0xF0), darkPanel(0x2A, 0x2A, 0x2A);
    const QColor darkText(0x14, 0x14, 0x14), lightText(0xE8, 0xE8, 0xE8);
    const struct {
        const char* what;
        QColor ink;
        bool dimmed;
        QColor panel;
        double ratio; // the contrast that at least a third of the icon's pixels reach
    } cases[] = {
        {"dark text, light panel", darkText, false, lightPanel, 3.0},
        {"dark text, dark panel", darkText, false, darkPanel, 3.0},
        {"light text, light panel", lightText, false, lightPanel, 3.0},
        {"light text, dark panel", lightText, false, darkPanel, 3.0},
        {"black text, dark panel", Qt::black, false, darkPanel, 3.0},
        {"dimmed, dark text, light panel", darkText, true, lightPanel, 1.5},
        {"dimmed, dark text, dark panel", darkText, true, darkPanel, 1.5},
        {"dimmed, light text, light panel", lightText, true, lightPanel, 1.5},
        {"dimmed, light text, dark panel", lightText, true, darkPanel, 1.5},
    };
    for (const auto& c : cases)
        for (int pixels : {16, 22, 36, 44}) {
            const QImage icon = MenuBarIcon::trayImage(QSize(pixels, pixels), c.ink, c.dimmed);
            EXPECT_GE(shareStandingOut(icon, c.panel, c.ratio), 1.0 / 3)
                << c.what << ", " << pixels;
        }

    // With VANTOR_WINDOW_PICTURES naming a folder, the icons on both panels, as a 22-pixel tray
    // shows them at 1x and 2x, are written there for looking at (and eight times larger).
    const QString folder = qEnvironmentVariable("VANTOR_WINDOW_PICTURES");
    if (folder.isEmpty()) return;
    QDir().mkpath(folder);
    for (int ratio : {1, 2}) {
        const int cell = 30 * ratio, icon = 22 * ratio;
        QImage sheet(4 * cell, 2 * cell, QImage::Format_RGB32);
        QPainter painter(&sheet);
        for (int row = 0; row < 2; ++row) {
            painter.fillRect(0, row * cell, 4 * cell, cell, row ? darkPanel : lightPanel);
            int column = 0;
            for (const QColor& ink : {darkText, lightText})
                for (bool dimmed : {false, true})
                    painter.drawImage((column++) * cell + (cell - icon) / 2,
                                      row * cell + (cell - icon) / 2,
                                      MenuBarIcon::trayImage(QSize(icon, icon), ink, dimmed));
        }
        painter.end();
        const QString name = folder + QStringLiteral("/kestrix-tray-icons-%1x").arg(ratio);
        sheet.save(name + ".png");
        sheet.scaled(sheet.size() * 8 / ratio).save(name + "-enlarged.png");
    }
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
