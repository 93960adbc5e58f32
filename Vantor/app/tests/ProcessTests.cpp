// The real vantor program: its command line, the window-shot mode on a machine without a display,
// the broker it starts from the build tree, and a second start that reaches the running one.
#include "AppTestSupport.h"
#include "KestrixProtocol/Kestrix.h"
#include "KestrixProtocol/LineCoding.h"
#include "KestrixProtocol/Messages.h"
#include "PrivateBus.h"
#include "TempFolder.h"
#include "VantorShell/SingleInstance.h"
#include "VantorRun.h"
#include "X11TestDesktop.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QImage>
#include <QLocalSocket>
#include <QProcess>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace vantor {
namespace {

TEST(VantorProcess, helpVersionAndBadOptionsAnswerWithoutStartingAnything) {
    struct Case {
        QStringList arguments;
        int status;
        const char* says;
        bool onStandardError;
    };
    for (const Case& c : std::initializer_list<Case>{
             {{"--help"}, 0, "-snapshotWindow", false},
             {{"--version"}, 0, "vantor 1.", false},
             {{"-h"}, 0, "--login-item", false},
             {{"--bogus-flag"}, 2, "vantor: unknown option: --bogus-flag\nTry 'vantor --help'.\n",
              true},
             {{"-bogus=1"}, 2, "vantor: unknown option: -bogus\n", true},
             {{"stray"}, 2, "Unexpected argument 'stray'", true},
             {{"-snapshotWindow"}, 2, "Missing value", true},
         }) {
        testsupport::TempFolder home;
        VantorRun run(home, c.arguments);
        run.finish(10);
        EXPECT_EQ(run.status, c.status) << c.says;
        EXPECT_TRUE((c.onStandardError ? run.err : run.out).contains(c.says))
            << run.out.toStdString() << run.err.toStdString();
        EXPECT_FALSE(run.err.contains("Usage:")) << "a mistake is answered without the usage";
        EXPECT_FALSE(QDir(QString::fromStdString(home.path) + "/kestrix").exists())
            << "no broker was started";
    }
}

// A display the session names but that cannot be reached ends the start at once with the reason,
// instead of an app that runs on without any window.
TEST(VantorProcess, aDisplayThatCannotBeReachedEndsTheStartWithTheReason) {
    struct Case {
        QStringList session;
        std::string says;
    };
    for (const Case& c : std::initializer_list<Case>{
             {{"DISPLAY=:4097"}, "cannot reach the X display :4097"},
             {{"WAYLAND_DISPLAY=wayland-none"},
              "cannot reach the Wayland display /run/wayland-none"},
             {{"WAYLAND_DISPLAY=wayland-none", "DISPLAY=:4097"},
              "cannot reach the Wayland display /run/wayland-none; cannot reach the X display "
              ":4097"},
         }) {
        testsupport::TempFolder home;
        VantorRun run(home, {}, c.session);
        run.finish(10);
        EXPECT_EQ(run.status, 1) << c.says;
        std::string expected = c.says;
        if (auto at = expected.find("/run/"); at != std::string::npos)
            expected.replace(at, 0, home.path);
        EXPECT_TRUE(run.err.contains(QString::fromStdString(expected))) << run.err.toStdString();
        EXPECT_FALSE(QDir(QString::fromStdString(home.path) + "/kestrix").exists())
            << "no broker was started";
    }
}

TEST(VantorProcess, windowShotsOfEverySceneWithoutADisplay) {
    struct Case {
        QString scene;
        QStringList more; // further arguments
        QStringList env;  // further environment
        QSize pixels;     // of the PNG
        QString line;     // the size part of the printed line
    };
    std::vector<Case> cases{
        {"main", {}, {}, {560, 820}, "560 × 820 pt"},
        {"defaults", {}, {}, {560, 820}, "560 × 820 pt"},
        {"movements", {"-snapshotSize", "800"}, {}, {560, 820}, "560 × 820 pt"},
        {"directions", {"-snapshotSize", "600x700"}, {}, {560, 820}, "560 × 820 pt"},
        {"apps", {"-snapshotSize", "600 x 700", "-snapshotDark"}, {}, {600, 700}, "600 × 700 pt"},
        {"settings",
         {"-snapshotSize", "600 700"},
         {"QT_SCALE_FACTOR=2"},
         {1200, 1400},
         "600 × 700 pt"},
        {"about", {"-snapshotDark"}, {}, {420, 510}, "420 × 510 pt"},
        {"releaseNotes", {}, {}, {520, 600}, "520 × 600 pt"},
    };
    testsupport::TempFolder home;
    QString root = QString::fromStdString(home.path);
    std::vector<std::unique_ptr<VantorRun>> runs;
    for (const Case& c : cases) {
        QString path = root + "/" + c.scene + ".png";
        runs.push_back(std::make_unique<VantorRun>(
            home, QStringList{"-snapshot", path, "-snapshotWindow", c.scene} + c.more, c.env));
    }
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        VantorRun& run = runs[i]->finish();
        QString path = root + "/" + c.scene + ".png";
        EXPECT_EQ(run.status, 0) << c.scene.toStdString() << run.err.toStdString();
        EXPECT_EQ(run.out, "window shot: " + path + ", " + c.line + "\n");
        EXPECT_EQ(QImage(path).size(), c.pixels) << c.scene.toStdString();
    }
    EXPECT_TRUE(QDir(root + "/config").isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot))
        << "the window-shot mode writes no settings";

    VantorRun nowhere(home, {"-snapshot", root + "/nowhere.png", "-snapshotWindow", "nowhere"});
    nowhere.finish();
    EXPECT_EQ(nowhere.out, "window shot: no window of scene nowhere\n");
    EXPECT_EQ(nowhere.status, 1);
    EXPECT_FALSE(QFile::exists(root + "/nowhere.png"));
}

// Runs the Qt event loop until the process ends.
void waitWithLoop(QProcess& process, int seconds) {
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    if (process.state() != QProcess::NotRunning) loop.exec();
}

TEST(VantorProcess, aSecondStartOpensTheRunningOnesWindow) {
    int argc = 1;
    char name[] = "VantorShellTests";
    char* argv[] = {name, nullptr};
    std::unique_ptr<QCoreApplication> app;
    if (!QCoreApplication::instance()) app = std::make_unique<QCoreApplication>(argc, argv);

    testsupport::TempFolder home;
    QString run = QString::fromStdString(home.path) + "/run";
    QDir().mkpath(run);
    SingleInstance first(run);
    // A socket left behind by a Vantor that is gone does not stop the next one.
    QFile(first.socketPath()).open(QIODevice::WriteOnly);
    ASSERT_EQ(first.claim(), SingleInstance::Role::primary);
    int reopened = 0;
    first.onReopen = [&] { ++reopened; };

    VantorRun second(home, {});
    waitWithLoop(*second.process, 20);
    second.finish(1);
    EXPECT_EQ(second.status, 0) << second.err.toStdString();
    EXPECT_EQ(reopened, 1);

    VantorRun atLogin(home, {"--login-item"});
    waitWithLoop(*atLogin.process, 20);
    atLogin.finish(1);
    EXPECT_EQ(atLogin.status, 0);
    EXPECT_EQ(reopened, 1) << "a start at login opens no window";

    // Other bytes on the socket open nothing; an endless line is cut off.
    QLocalSocket stranger;
    stranger.connectToServer(first.socketPath());
    ASSERT_TRUE(stranger.waitForConnected(1000));
    stranger.write(QByteArray(100, 'x'));
    stranger.flush();
    QEventLoop loop;
    QObject::connect(&stranger, &QLocalSocket::disconnected, &loop, &QEventLoop::quit);
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(stranger.state(), QLocalSocket::UnconnectedState);
    EXPECT_EQ(reopened, 1);
}

// Runs the Qt event loop until `done` holds, at most `seconds`; answers `done`.
bool loopUntil(const std::function<bool()>& done, int seconds) {
    QDeadlineTimer deadline(seconds * 1000);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return done();
}

int openDescriptors() {
    return static_cast<int>(
        QDir("/proc/self/fd").entryList(QDir::NoDotAndDotDot | QDir::System).size());
}

struct Primary {
    std::unique_ptr<QCoreApplication> app;
    testsupport::TempFolder home;
    QString run = QString::fromStdString(home.path) + "/run";
    std::unique_ptr<SingleInstance> instance;
    int reopened = 0;

    explicit Primary(int requestDeadlineMs = 2000, int checkIntervalMs = 5000) {
        static int argc = 1;
        static char name[] = "VantorShellTests";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance()) app = std::make_unique<QCoreApplication>(argc, argv);
        QDir().mkpath(run);
        instance = std::make_unique<SingleInstance>(run);
        instance->requestDeadlineMs = requestDeadlineMs;
        instance->checkIntervalMs = checkIntervalMs;
        EXPECT_EQ(instance->claim(), SingleInstance::Role::primary);
        instance->onReopen = [this] { ++reopened; };
    }
    // A second start of the real program; true when it reached this one.
    bool secondStartReaches() {
        const int before = reopened;
        VantorRun second(home, {});
        waitWithLoop(*second.process, 20);
        second.finish(1);
        return second.status == 0 && reopened == before + 1;
    }
};

TEST(VantorProcess, idleConnectionsBeyondWhatTheDescriptorsHoldLeaveTheSecondStartItsWay) {
    Primary primary;
    // Few descriptors to spare, as in a process that has many open: without a bound on the
    // connections the flood below would use them up and Qt's server would give up its socket.
    rlimit original{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &original), 0);
    rlimit low = original;
    low.rlim_cur = rlim_t(openDescriptors() + 60);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);

    // Another process opens 300 connections and leaves them idle until told to end.
    int connected[2], release[2];
    ASSERT_EQ(::pipe2(connected, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe2(release, O_CLOEXEC), 0);
    const QByteArray path = QFile::encodeName(primary.instance->socketPath());
    pid_t flood = ::fork();
    if (flood == 0) {
        ::close(connected[0]);
        ::close(release[1]);
        ::setrlimit(RLIMIT_NOFILE, &original);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
        for (int i = 0; i < 300; ++i) {
            int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        }
        char byte = 1;
        (void)!::write(connected[1], &byte, 1);
        (void)!::read(release[0], &byte, 1);
        ::_exit(0);
    }
    ASSERT_GT(flood, 0);
    ::close(connected[1]);
    ::close(release[0]);
    QSocketNotifier done(connected[0], QSocketNotifier::Read);
    bool allConnected = false;
    QObject::connect(&done, &QSocketNotifier::activated, [&] { allConnected = true; });
    EXPECT_TRUE(loopUntil([&] { return allConnected; }, 20));
    // Whatever arrived meanwhile is taken in.
    loopUntil([] { return false; }, 0);
    EXPECT_LE(primary.instance->openConnections(), SingleInstance::maxOpen);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &original), 0);

    EXPECT_TRUE(QFileInfo::exists(primary.instance->socketPath()));
    EXPECT_TRUE(primary.secondStartReaches());
    // Ended either way: a flood that could not finish still waits in connect().
    ::kill(flood, SIGKILL);
    ::close(release[1]);
    ::close(connected[0]);
    EXPECT_EQ(::waitpid(flood, nullptr, 0), flood);
}

TEST(VantorProcess, aConnectionThatSaysNothingIsClosedAfterItsDeadline) {
    Primary primary(200);
    QLocalSocket idle;
    idle.connectToServer(primary.instance->socketPath());
    ASSERT_TRUE(idle.waitForConnected(1000));
    EXPECT_TRUE(loopUntil([&] { return primary.instance->openConnections() == 1; }, 5));
    EXPECT_TRUE(loopUntil([&] { return idle.state() == QLocalSocket::UnconnectedState; }, 10));
    EXPECT_TRUE(loopUntil([&] { return primary.instance->openConnections() == 0; }, 5));
}

TEST(VantorProcess, aPrimaryWhoseSocketWasRemovedListensAgain) {
    Primary primary(2000, 100);
    const QString socket = primary.instance->socketPath();
    for (const char* what : {"removed", "replaced by a file"}) {
        ASSERT_TRUE(QFile::remove(socket)) << what;
        if (std::string(what) == "replaced by a file") QFile(socket).open(QIODevice::WriteOnly);
        EXPECT_TRUE(loopUntil(
            [&] {
                const QFileInfo info(socket);
                return info.exists() && !info.isFile();
            },
            10))
            << what;
        EXPECT_TRUE(primary.secondStartReaches()) << what;
    }
}

// Started from the build tree with no broker running, vantor starts the built broker itself and
// is served by it.
TEST(VantorProcess, startsTheBuiltBrokerWhenNoneRuns) {
    testsupport::TempFolder home;
    QString folder = QString::fromStdString(home.path) + "/kestrix";
    VantorRun run(home, {}, {"QT_QPA_PLATFORM=offscreen"});
    QString err;
    for (int i = 0; i < 300 && !err.contains("connected to Kestrix"); ++i) {
        run.process->waitForReadyRead(100);
        err += QString::fromUtf8(run.process->readAllStandardError());
    }
    EXPECT_TRUE(err.contains("connected to Kestrix " + QString::number(kestrix::Kestrix::version)))
        << err.toStdString();
    EXPECT_FALSE(err.contains("could not be reached")) << err.toStdString();

    std::optional<kestrix::BrokerStatus> status = brokerStatus(folder);
    ASSERT_TRUE(status) << "no broker serves " << folder.toStdString();
    // The broker is the one built beside this vantor, and vantor is its client.
    std::error_code error;
    EXPECT_EQ(
        std::filesystem::read_symlink("/proc/" + std::to_string(status->processID) + "/exe", error),
        std::filesystem::path(KESTRIX_EXECUTABLE));
    bool served = false;
    for (const auto& client : status->clients)
        served |= client.name == "Vantor" && client.processID == run.process->processId();
    EXPECT_TRUE(served);

    run.quit();
    EXPECT_EQ(run.status, 0);
    // A quit while the broker is still there says nothing of it going away, and vantor's log
    // lines start with its name (Qt's own warnings are not among them).
    err += run.err;
    EXPECT_FALSE(err.contains("Kestrix gone")) << err.toStdString();
    EXPECT_TRUE(err.contains(QRegularExpression("(^|\n)vantor: connected to Kestrix ")))
        << err.toStdString();
    EXPECT_FALSE(err.contains(QRegularExpression("(^|\n)scroll: "))) << err.toStdString();
    // The broker would leave by itself once idle; the test does not wait for that.
    endBroker(folder);
}

// On KDE Plasma with the folder of the KWin script's copies a link, both programs refuse it and
// say so, and that no app is in front, never that it comes from KWin.
TEST(VantorProcess, aKWinSourceThatCannotStartIsToldByBothPrograms) {
    testing::testApp();
    testing::PrivateBus bus;
    ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon did not start";
    QDBusConnection kwin = QDBusConnection::connectToBus(bus.address(), QStringLiteral("kwin"));
    ASSERT_TRUE(kwin.registerService(QStringLiteral("org.kde.KWin")));
    testsupport::TempFolder home;
    const QString root = QString::fromStdString(home.path);
    QDir().mkpath(root + "/run");
    ASSERT_TRUE(QFile::link(root, root + "/run/vantor-front-app"));
    VantorRun run(home, {},
                  {"QT_QPA_PLATFORM=offscreen", "WAYLAND_DISPLAY=wayland-none",
                   "XDG_CURRENT_DESKTOP=KDE", "DBUS_SESSION_BUS_ADDRESS=" + bus.address()});
    const QString told = "no app in front: The app in front cannot be followed on KDE Plasma: the "
                         "KWin script could not be written to " +
                         root + "/run/vantor-front-app/";
    QString err;
    for (int i = 0; i < 300 && !(err.contains(told) && err.contains("connected to Kestrix")); ++i) {
        run.process->waitForReadyRead(100);
        err += QString::fromUtf8(run.process->readAllStandardError());
    }
    EXPECT_TRUE(err.contains("the KWin script is not written: " + root +
                             "/run/vantor-front-app is not a folder (a link or a file is there)"))
        << err.toStdString();
    EXPECT_TRUE(err.contains(told)) << err.toStdString();
    EXPECT_FALSE(err.contains("comes from KWin")) << err.toStdString();
    const QString log =
        QString::fromStdString(testsupport::readFile(home.path + "/kestrix/broker.log"));
    EXPECT_TRUE(log.contains(told)) << log.toStdString();
    EXPECT_FALSE(log.contains("comes from KWin")) << log.toStdString();
    run.quit();
    EXPECT_EQ(run.status, 0);
    endBroker(root + "/kestrix");
}

// A window the X server shows: its title and where it lies (no window manager frames it).
struct ShownWindow {
    std::string title;
    QRect geometry;
};

// The display's top-level windows that are mapped, from the server itself.
std::vector<ShownWindow> shownWindows(const std::string& display) {
    std::vector<ShownWindow> shown;
    xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return shown;
    }
    auto atom = [c](const char* name) {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
        xcb_atom_t value = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return value;
    };
    const xcb_atom_t title = atom("_NET_WM_NAME"), utf8 = atom("UTF8_STRING");
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr);
    const xcb_window_t* children = tree ? xcb_query_tree_children(tree) : nullptr;
    for (int i = 0; tree && i < xcb_query_tree_children_length(tree); ++i) {
        xcb_window_t w = children[i];
        xcb_get_window_attributes_reply_t* attributes =
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr);
        const bool viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(attributes);
        if (!viewable) continue;
        xcb_get_geometry_reply_t* geometry =
            xcb_get_geometry_reply(c, xcb_get_geometry(c, w), nullptr);
        xcb_get_property_reply_t* name =
            xcb_get_property_reply(c, xcb_get_property(c, 0, w, title, utf8, 0, 256), nullptr);
        if (geometry && name)
            shown.push_back({std::string(static_cast<const char*>(xcb_get_property_value(name)),
                                         std::size_t(xcb_get_property_value_length(name))),
                             QRect(geometry->x, geometry->y, geometry->width, geometry->height)});
        std::free(geometry);
        std::free(name);
    }
    std::free(tree);
    xcb_disconnect(c);
    return shown;
}

// On a desktop without a tray, a start by hand opens the settings window, wholly on a short
// screen, and says that the tray is missing; with no window manager that tells the active
// window, it says why there is no app in front.
TEST(VantorProcess, withoutATrayAStartOpensTheSettingsWindowWhollyOnAShortScreen) {
    x11test::Xvfb server("1366x768x24");
    ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
    const QRect screen(0, 0, 1366, 768);
    testsupport::TempFolder home;
    home.write("config/me.orvella.Vantor.json", R"({"welcomed": true})");
    VantorRun run(home, {}, {"DISPLAY=" + QString::fromStdString(server.display())});
    std::vector<ShownWindow> windows;
    auto shows = [&windows](const std::string& title) {
        return std::find_if(windows.begin(), windows.end(),
                            [&](const ShownWindow& w) { return w.title == title; });
    };
    QString err;
    for (int i = 0;
         i < 200 && (shows("Vantor") == windows.end() || shows("No System Tray") == windows.end());
         ++i) {
        run.process->waitForReadyRead(100);
        err += QString::fromUtf8(run.process->readAllStandardError());
        windows = shownWindows(server.display());
    }
    EXPECT_EQ(err.count("no system tray"), 1) << err.toStdString();
    EXPECT_TRUE(err.contains("no app in front: The window manager of the X display " +
                             QString::fromStdString(server.display()) +
                             " does not tell which window is active"))
        << err.toStdString();
    EXPECT_FALSE(err.contains("the app in front comes from")) << err.toStdString();
    auto settings = shows("Vantor");
    ASSERT_NE(settings, windows.end()) << err.toStdString();
    EXPECT_TRUE(screen.contains(settings->geometry))
        << settings->geometry.y() << " + " << settings->geometry.height();
    EXPECT_GE(settings->geometry.height(), 640) << "as tall as the screen allows";
    EXPECT_NE(shows("No System Tray"), windows.end());

    run.quit();
    EXPECT_EQ(run.status, 0);
    endBroker(QString::fromStdString(home.path) + "/kestrix");
}

// On a display, where Qt runs a thread of its own, SIGTERM still ends the app cleanly.
TEST(VantorProcess, withHalfTheWindowShotArgumentsTheAppStartsNormally) {
    x11test::Xvfb server;
    ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
    testsupport::TempFolder home;
    QString root = QString::fromStdString(home.path);
    VantorRun run(home, {"-snapshot", root + "/half.png"},
                  {"DISPLAY=" + QString::fromStdString(server.display())});
    QString err;
    for (int i = 0; i < 200 && !err.contains("using Kestrix"); ++i) {
        run.process->waitForReadyRead(100);
        err += QString::fromUtf8(run.process->readAllStandardError());
    }
    EXPECT_TRUE(err.contains("using Kestrix")) << err.toStdString();
    run.quit();
    EXPECT_EQ(run.status, 0);
    EXPECT_FALSE(QFile::exists(root + "/half.png"));
}

} // namespace
} // namespace vantor
