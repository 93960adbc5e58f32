// The vantor program: the tray app (or, with -snapshot and -snapshotWindow, the window-shot mode)
// on Qt's event loop.
//
// Environment:
//   VANTOR_EVENTS   "record:PATH" records the steps to PATH instead of posting them
//   XDG_RUNTIME_DIR where the lock and socket live that keep Vantor to one instance per session
#include "FrontApp/Display.h"
#include "KestrixClient/KestrixConnection.h"
#include "KestrixProtocol/BrokerPlace.h"
#include "KestrixProtocol/EndingSignals.h"
#include "KestrixProtocol/Kestrix.h"
#include "KestrixProtocol/QtMainLoop.h"
#include "KestrixProtocol/UserDefaults.h"
#include "Vantor/DispatchTicker.h"
#include "Vantor/Log.h"
#include "Vantor/RecordingPoster.h"
#include "Vantor/Scroller.h"
#include "Vantor/UinputPoster.h"
#include "VantorModels/LoginItem.h"
#include "VantorShell/AppDelegate.h"
#include "VantorShell/CommandLine.h"
#include "VantorShell/SingleInstance.h"
#include "VantorShell/WindowShot.h"
#include "VantorWindows/AppIcon.h"

#include <QApplication>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

using namespace vantor;

namespace {

constexpr const char* bundleIdentifier = "me.orvella.Vantor";

// The poster VANTOR_EVENTS asks for: "record:PATH" records the steps instead of posting them.
std::shared_ptr<EventPosting> makePoster(const std::function<double()>& now) {
    if (auto path = RecordingPoster::recordingPath(std::getenv("VANTOR_EVENTS"))) {
        std::string error;
        if (auto recorder = RecordingPoster::open(*path, now, error)) {
            Log::info("recording events to " + *path);
            return std::make_shared<RecordingPoster>(std::move(*recorder));
        }
        Log::error(error);
    }
    return std::make_shared<SystemEventPoster>(now);
}

class NoPoster final : public EventPosting {
public:
    void post(const scroll::ScrollStep&) override {}
    void post(const scroll::GestureStep&, scroll::GestureKind) override {}
};

} // namespace

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    CommandLine::Result command = CommandLine::parse(arguments);
    if (command.exitStatus) {
        std::fputs(command.output.toLocal8Bit().constData(),
                   command.toStandardError ? stderr : stdout);
        return *command.exitStatus;
    }
    const LaunchOptions& options = command.options;
    bool windowShot = WindowShot::scene(options).has_value();
    if (windowShot) Log::setCategory("snapshot");

    std::signal(SIGPIPE, SIG_IGN);
    // SIGINT, SIGTERM and SIGHUP end the event loop, so the Scroller stops cleanly. They are
    // blocked before Qt starts any thread (the display connection has one), so every thread
    // leaves them to the loop.
    kestrix::EndingSignals ending;
    if (!kestrix::hasDisplay()) {
        // A display that was named but cannot be reached (a closed session, a stale DISPLAY)
        // ends the start: running on without windows would look to the user like nothing at all.
        // Without any display the app runs offscreen (window shots, a machine without a desktop).
        std::string unreachable = kestrix::unreachableDisplay();
        if (!unreachable.empty() && !windowShot) {
            Log::error(unreachable);
            return 1;
        }
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // The X11 window class is the application's name: the id makes Vantor's windows Vantor to the
    // broker too when no desktop entry of it is installed (the instance stays "vantor", which the
    // entry's StartupWMClass names).
    QCoreApplication::setApplicationName(QString::fromLatin1(bundleIdentifier));
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QGuiApplication::setDesktopFileName(QString::fromLatin1(bundleIdentifier));
    AppIcon::becomeWindowIconWithFirstWindow();

    // One Vantor per session: a second start opens the running one's window and ends.
    SingleInstance instance(windowShot ? QString() : SingleInstance::standardFolder());
    if (!windowShot && instance.claim() == SingleInstance::Role::secondary) {
        if (options.loginItem) {
            Log::info("Vantor runs already");
            return 0;
        }
        if (instance.askToReopen()) return 0;
        Log::error("another Vantor holds the lock but does not answer at " +
                   instance.socketPath().toStdString());
        return 1;
    }

    kestrix::QtMainLoop loop;
    std::unique_ptr<kestrix::Watch> signalWatch =
        ending.follow(loop, [](int) { QCoreApplication::quit(); });

    kestrix::UserDefaults defaults(kestrix::UserDefaults::standardPath(bundleIdentifier));
    defaults.log = [](const std::string& line) { Log::error(line); };
    if (!windowShot) defaults.watch(loop);

    auto now = [&loop] { return loop.now(); };
    AppDelegate::Services services = AppDelegate::standardServices();
    ScrollerSystem& system = services.scroller;
    system.defaults = &defaults;
    system.now = now;
    system.makeTicker = [&loop] { return std::make_unique<DispatchTicker>(loop); };
    system.connect = [&loop](const kestrix::Claim& claim) -> std::unique_ptr<SpaceMouseInput> {
        auto connection = kestrix::client::KestrixConnection::create(
            loop, "Vantor", claim, kestrix::client::Launcher::bundled(),
            kestrix::BrokerPlace::standard(), kestrix::Kestrix::version);
        return std::make_unique<KestrixInput>(std::move(connection));
    };
    // The window-shot mode posts nothing.
    system.poster = windowShot ? std::make_shared<NoPoster>() : makePoster(now);
    system.ownBundleID = bundleIdentifier;
    system.hasPermission = [] {
        return RecordingPoster::recordingPath(std::getenv("VANTOR_EVENTS")).has_value() ||
               SystemEventPoster::hasPermission();
    };
    system.permissionAdvice = [] { return SystemEventPoster::permissionAdvice(); };
    if (!windowShot) system.workspace = makeDesktopWorkspace(loop, bundleIdentifier);
    services.options = options;
    services.updates.defaults = &defaults;
    services.updates.loop = &loop;
    services.loginItem = std::make_shared<AutostartLoginItem>();

    int status = 0;
    {
        AppDelegate delegate(std::move(services));
        instance.onReopen = [&delegate] { delegate.reopen(); };
        delegate.launch();
        status = app.exec();
        instance.onReopen = nullptr;
        delegate.terminate();
    }
    signalWatch.reset();
    return status;
}
