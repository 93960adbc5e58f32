// The broker program. Runs the election first; the winner serves the broker socket until no
// client that claims the device has been connected for 10 s (after the last one has gone, or
// since the start when none came), a newer broker takes over, or SIGTERM, SIGINT or SIGHUP comes;
// a start that fails (it cannot listen, the election failed) ends with status 1.
//
// Environment:
//   KESTRIX_HOME          the broker folder (socket, lock, log, newest-broker record)
//   KESTRIX_DEVICES       "sim:FILE" serves the simulated devices of a JSON file instead of hidraw
//   KESTRIX_TEST_VERSION  runs as this release number instead of the built one; only for tests of
//                         the hand-over between broker versions
//   KESTRIX_LOG_STDERR    "1" mirrors the broker log to standard error (also when it is a terminal)
//
// Command line: --help and --version answer and exit without starting anything; any other
// option or argument is a usage error (status 2), except Qt's own options (-platform, -display,
// ...), which the tray icon's QApplication takes as ever.
#include "AppDelegate.h"
#include "FrontApp/Display.h"
#include "FrontApp/FrontApp.h"
#include "KestrixCore/BrokerParts.h"
#include "KestrixProtocol/EndingSignals.h"
#include "KestrixProtocol/Kestrix.h"
#include "KestrixProtocol/QtMainLoop.h"
#include "KestrixProtocol/UserDefaults.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <unistd.h>

namespace {

std::int64_t versionToRun() {
    const char* text = std::getenv("KESTRIX_TEST_VERSION");
    if (text && *text) {
        char* end = nullptr;
        long long value = std::strtoll(text, &end, 10);
        if (end && *end == '\0' && value > 0) return value;
    }
    return kestrix::Kestrix::version;
}

// Reads the command line before any application object exists, so that --help neither reaches
// for a display nor runs the election. Returns the status to exit with, or nothing to go on.
std::optional<int> answerCommandLine(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "The SpaceMouse broker of Vantor: owns the devices and hands them to one client at a "
        "time. Vantor starts it when none answers; it leaves by itself once no client that asks "
        "for the device (Vantor does, while it runs) has been connected for 10 s.");
    // Qt's options are single-dash words; so is everything here.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    // Not addHelpOption(): its --help-all lists Qt's options, which needs an application object.
    QCommandLineOption help({"h", "help"}, "Displays this help.");
    parser.addOption(help);
    QCommandLineOption version = parser.addVersionOption();
    for (const char* name : {"platform", "platformpluginpath", "platformtheme", "plugin", "display",
                             "qwindowgeometry", "qwindowicon", "qwindowtitle", "geometry", "title",
                             "icon", "name", "session", "style", "stylesheet", "visual"}) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), "value");
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char* name : {"reverse", "widgetcount", "nograb", "dograb", "sync"}) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }

    auto usage = [&parser](std::FILE* to) {
        // Without an application object the parser does not know the program's name.
        QString text = parser.helpText().replace("<executable_name>", "kestrix");
        std::fputs(text.toLocal8Bit().constData(), to);
    };
    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "kestrix: %s\n\n", parser.errorText().toLocal8Bit().constData());
        usage(stderr);
        return 2;
    }
    if (parser.isSet(help)) {
        usage(stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("kestrix %s (release %lld)\n", VANTOR_VERSION,
                    static_cast<long long>(kestrix::Kestrix::version));
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "kestrix: unexpected argument '%s'\n\n",
                     parser.positionalArguments().first().toLocal8Bit().constData());
        usage(stderr);
        return 2;
    }
    return std::nullopt;
}

std::string ownExecutable() {
    char path[4096];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string("kestrix");
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication::setApplicationName("kestrix");
    QCoreApplication::setApplicationVersion(VANTOR_VERSION);
    if (auto status = answerCommandLine(argc, argv)) return *status;
    // A client that vanished must not end the broker through a write.
    std::signal(SIGPIPE, SIG_IGN);
    // kill, a service manager or a closed terminal end the broker as an idle exit does; the
    // signals wait for the loop, blocked before any thread starts.
    kestrix::EndingSignals ending;
    bool display = kestrix::hasDisplay();
    // Made when the tray icon is first shown; declared first so that it outlives the loop, whose
    // notifiers it serves.
    std::unique_ptr<QApplication> app;

    kestrix::BrokerPlace place = kestrix::BrokerPlace::standard();
    const char* stderrWanted = std::getenv("KESTRIX_LOG_STDERR");
    bool mirror = (stderrWanted && std::string(stderrWanted) == "1") || ::isatty(2);
    auto toStderr = [](const std::string& line) {
        std::fprintf(stderr, "kestrix: %s\n", kestrix::BrokerPlace::loggable(line).c_str());
    };
    auto log = [place, mirror, toStderr](const std::string& line) {
        place.appendLog(line);
        if (mirror) toStderr(line);
    };

    kestrix::UserDefaults settings(kestrix::UserDefaults::standardPath("kestrix"));
    settings.log = log;
    // The broker needs no Qt until it shows its tray icon: till then its loop waits on its own,
    // and a device report wakes nothing else.
    kestrix::QtMainLoop loop(kestrix::QtMainLoop::Drive::own);

    int status = 0;
    AppDelegate::Options options;
    options.version = versionToRun();
    options.executable = ownExecutable();
    options.hasDisplay = display;
    auto makeApplication = [&app, &loop, &argc, argv] {
        if (app) return;
        kestrix::QtDispatcherChoice qtDispatcher;
        app = std::make_unique<QApplication>(argc, argv);
        app->setQuitOnLastWindowClosed(false);
        loop.handOverToQt();
    };
    options.parts = [log, display, makeApplication](kestrix::MainLoop& l) {
        // On GNOME and KDE Plasma the app in front is asked over D-Bus, which runs on Qt's
        // event loop: the loop is handed to Qt from the start there. Elsewhere it goes on
        // waiting by itself.
        if (display && kestrix::core::frontAppNeedsQtEventLoop()) makeApplication();
        return kestrix::core::makeBrokerParts(l, std::getenv("KESTRIX_DEVICES"), log);
    };
    if (mirror) options.mirror = toStderr;
    options.terminate = [&status, &loop](int code) {
        status = code;
        loop.quit(code);
    };
    options.needsApplication = makeApplication;
    AppDelegate delegate(loop, place, settings, std::move(options));
    if (!delegate.launch()) return status;
    std::unique_ptr<kestrix::Watch> signals = ending.follow(loop, [&delegate](int signal) {
        delegate.broker()->quit(std::string(kestrix::EndingSignals::name(signal)) +
                                " received, leaving");
    });
    // The loop runs on its own until the tray icon first needs the application object (also
    // made during the launch, should it come that early), then Qt's event loop takes over.
    if (!app)
        if (auto ended = loop.run()) return *ended;
    return app->exec();
}
