// The vantor program: the Scroller with the desktop's services, on Qt's event loop.
#include "KestrixClient/KestrixConnection.h"
#include "KestrixProtocol/BrokerPlace.h"
#include "KestrixProtocol/Kestrix.h"
#include "KestrixProtocol/QtMainLoop.h"
#include "KestrixProtocol/UserDefaults.h"
#include "Vantor/DispatchTicker.h"
#include "Vantor/Log.h"
#include "Vantor/RecordingPoster.h"
#include "Vantor/Scroller.h"
#include "Vantor/UinputPoster.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdlib>
#include <optional>
#include <sys/signalfd.h>
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

// SIGINT and SIGTERM end the event loop, so the Scroller stops cleanly.
int quitOnSignals(kestrix::MainLoop& loop, std::unique_ptr<kestrix::Watch>& watch) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    int fd = signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd >= 0)
        watch = loop.watchReadable(fd, [fd] {
            signalfd_siginfo info{};
            while (read(fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            }
            QCoreApplication::quit();
        });
    return fd;
}

} // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    auto qtDispatcher = std::make_optional<kestrix::QtDispatcherChoice>();
    QCoreApplication app(argc, argv);
    qtDispatcher.reset();
    kestrix::QtMainLoop loop;
    std::unique_ptr<kestrix::Watch> signalWatch;
    int signalFd = quitOnSignals(loop, signalWatch);

    kestrix::UserDefaults defaults(kestrix::UserDefaults::standardPath(bundleIdentifier));
    defaults.log = [](const std::string& line) { Log::error(line); };
    defaults.watch(loop);

    auto now = [&loop] { return loop.now(); };
    ScrollerSystem system;
    system.defaults = &defaults;
    system.now = now;
    system.makeTicker = [&loop] { return std::make_unique<DispatchTicker>(loop); };
    system.connect = [&loop](const kestrix::Claim& claim) -> std::unique_ptr<SpaceMouseInput> {
        auto connection = kestrix::client::KestrixConnection::create(
            loop, "Vantor", claim, kestrix::client::Launcher::bundled(),
            kestrix::BrokerPlace::standard(), kestrix::Kestrix::version);
        return std::make_unique<KestrixInput>(std::move(connection));
    };
    system.poster = makePoster(now);
    system.ownBundleID = bundleIdentifier;
    system.hasPermission = [] {
        return RecordingPoster::recordingPath(std::getenv("VANTOR_EVENTS")).has_value() ||
               SystemEventPoster::hasPermission();
    };
    system.workspace = makeDesktopWorkspace(loop);

    Scroller scroller(system);
    scroller.start();
    int status = app.exec();
    scroller.stop();
    signalWatch.reset();
    if (signalFd >= 0) close(signalFd);
    return status;
}
