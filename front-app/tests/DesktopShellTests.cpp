// The KDE Plasma and GNOME Shell sources under the real desktop shells: a headless KWin and a
// headless GNOME Shell, each on a private session bus, with two Wayland windows whose app ids are
// known, brought to the front by the shell itself. The script and the extension are the ones of
// the build tree.
#include "DesktopShells.h"
#include "QtWait.h"
#include "GnomeExtensionFrontApp.h"
#include "KWinScriptFrontApp.h"
#include "KestrixProtocol/QtMainLoop.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDeadlineTimer>
#include <QTimer>
#include <fstream>
#include <gtest/gtest.h>

using namespace kestrix::core;
using namespace qtwait;

namespace {

struct RealShellTest : WithApplication, ::testing::Test {
    shelltest::Session session;
    kestrix::QtMainLoop loop;
    // No cgroups to look at: the windows are known by what the shell says.
    FrontAppIdentityRef identity = std::make_shared<const FrontAppIdentity>(
        session.folder.path + "/proc", std::vector<std::string>{});
    QDBusConnection bus =
        QDBusConnection::connectToBus(QString::fromStdString(session.bus->address()), "session");
    ~RealShellTest() override { QDBusConnection::disconnectFromBus("session"); }
};

std::string shippedScript() {
    return testsupport::readFile(FRONT_APP_SHARE "/vantor/kwin/front-app.js");
}

TEST_F(RealShellTest, kwinsActiveWindowComesFromTheScript) {
    ASSERT_TRUE(shelltest::installed("/usr/bin/kwin_wayland")) << "kwin-wayland is not installed";
    shelltest::KWin kwin(session);
    ASSERT_TRUE(kwin.ready()) << testsupport::readFile(session.log);
    shelltest::Window modeller(session, shelltest::KWin::display, "org.example.Modeller");
    shelltest::Window editor(session, shelltest::KWin::display, "org.example.Editor");
    ASSERT_TRUE(modeller.shown() && editor.shown()) << testsupport::readFile(session.log);

    KWinScriptFrontApp::Options options{shippedScript(), session.runtime + "/vantor-front-app",
                                        "vantor", 10.0};
    auto source = std::make_unique<KWinScriptFrontApp>(loop, identity, bus, options, nullptr);
    // The script tells the window that is active when it starts: the last one shown.
    ASSERT_TRUE(waitFor([&] { return frontID(*source) == "org.example.Editor"; }))
        << testsupport::readFile(session.log);
    EXPECT_EQ(source->frontmost()->processID, editor.pid());

    for (auto* window : {&modeller, &editor, &modeller}) {
        std::string id = window == &modeller ? "org.example.Modeller" : "org.example.Editor";
        ASSERT_TRUE(kwin.activate(id));
        ASSERT_TRUE(waitFor([&] { return frontID(*source) == id; })) << id;
        EXPECT_EQ(source->frontmost()->processID, window->pid());
    }

    // KWin goes: no app in front, and the status says so. A new KWin gets the script again, which
    // tells the window that comes to the front there.
    kwin.stop();
    ASSERT_TRUE(waitFor([&] { return !source->status().working(); }));
    EXPECT_EQ(source->frontmost(), std::nullopt);
    shelltest::KWin again(session);
    ASSERT_TRUE(again.ready()) << testsupport::readFile(session.log);
    ASSERT_TRUE(waitFor([&] { return source->status().working(); })) << source->status().reason;
    shelltest::Window viewer(session, shelltest::KWin::display, "org.example.Viewer");
    ASSERT_TRUE(viewer.shown()) << testsupport::readFile(session.log);
    ASSERT_TRUE(waitFor([&] { return frontID(*source) == "org.example.Viewer"; }));

    // Leaving unloads the script: KWin no longer knows it.
    std::string plugin = source->pluginName();
    source.reset();
    std::string reply;
    ASSERT_TRUE(session.call("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting.isScriptLoaded",
                             {plugin}, &reply));
    EXPECT_EQ(reply, "(false,)\n");
}

TEST_F(RealShellTest, gnomeShellsFocusComesFromTheExtensionOnceTheUserEnablesIt) {
    ASSERT_TRUE(shelltest::installed("/usr/bin/gnome-shell")) << "gnome-shell is not installed";
    std::string share =
        shelltest::extensionsFolder(session, FRONT_APP_SHARE, FRONT_APP_TEST_EXTENSION);
    shelltest::GnomeShell shell(session, share, {"front-app-test@vantor.orvella.me"});
    ASSERT_TRUE(shell.ready()) << testsupport::readFile(session.log);

    auto source = std::make_unique<GnomeExtensionFrontApp>(loop, identity, bus, nullptr);
    ASSERT_TRUE(waitFor([&] { return source->status().action.has_value(); }))
        << source->status().reason;
    EXPECT_EQ(source->frontmost(), std::nullopt);
    source->status().action->perform();
    ASSERT_TRUE(waitFor([&] { return source->status().working(); })) << source->status().reason;

    shelltest::Window modeller(session, shelltest::GnomeShell::display, "org.example.Modeller");
    shelltest::Window editor(session, shelltest::GnomeShell::display, "org.example.Editor");
    ASSERT_TRUE(modeller.shown() && editor.shown()) << testsupport::readFile(session.log);
    for (auto* window : {&modeller, &editor, &modeller}) {
        std::string id = window == &modeller ? "org.example.Modeller" : "org.example.Editor";
        // A Shell just started may still move the focus by itself (its overview coming and
        // going), undoing an activation: activate again, a few times at most.
        bool inFront = false;
        for (int attempt = 0; attempt < 3 && !inFront; ++attempt) {
            ASSERT_TRUE(shelltest::activateInGnomeShell(session, id));
            inFront = waitFor([&] { return frontID(*source) == id; }, 4);
        }
        ASSERT_TRUE(inFront) << id << " in front, not " << frontID(*source).value_or("none")
                             << "\n"
                             << testsupport::readFile(session.log);
        EXPECT_EQ(source->frontmost()->processID, window->pid());
    }
}

// An extension made for other releases only: the real Shell holds it out of date, the status says
// so with its own advice, and the command it gives makes the Shell run the extension.
TEST_F(RealShellTest, gnomeShellsOutOfDateExtensionGetsAdviceThatWorks) {
    ASSERT_TRUE(shelltest::installed("/usr/bin/gnome-shell")) << "gnome-shell is not installed";
    std::string share =
        shelltest::extensionsFolder(session, FRONT_APP_SHARE, FRONT_APP_TEST_EXTENSION);
    std::string metadataPath =
        share + "/gnome-shell/extensions/" FRONT_APP_EXTENSION_UUID "/metadata.json";
    std::string metadata = testsupport::readFile(metadataPath);
    auto list = metadata.find("\"shell-version\": [");
    ASSERT_NE(list, std::string::npos) << metadata;
    auto end = metadata.find(']', list);
    metadata.replace(list, end + 1 - list, "\"shell-version\": [\"3.38\"]");
    std::ofstream(metadataPath) << metadata;
    shelltest::GnomeShell shell(session, share, {FRONT_APP_EXTENSION_UUID});
    ASSERT_TRUE(shell.ready()) << testsupport::readFile(session.log);

    auto source = std::make_unique<GnomeExtensionFrontApp>(loop, identity, bus, nullptr);
    ASSERT_TRUE(waitFor([&] {
        return source->status().reason.find("newer than this Vantor knows") != std::string::npos;
    })) << source->status().reason;
    const std::string command =
        "gsettings set org.gnome.shell disable-extension-version-validation true";
    ASSERT_NE(source->status().reason.find("\n    " + command), std::string::npos);

    ASSERT_EQ(shelltest::run({"/bin/sh", "-c", command}, shell.environment(share), session.log), 0)
        << testsupport::readFile(session.log);
    ASSERT_TRUE(waitFor([&] { return source->status().working(); })) << source->status().reason;
}

} // namespace
