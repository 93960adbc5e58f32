// The app in front on KDE Plasma, through a KWin script loaded over D-Bus that reports the
// activated window (KWinScriptFrontApp).
#include "KWinScriptFrontApp.h"
#include "Sources.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QStandardPaths>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kestrix::core {

namespace {

// The shipped script: share/vantor/kwin/front-app.js beside the installed programs
// (bin/vantor, libexec/vantor/kestrix) or in the build tree (<build>/Vantor/vantor,
// <build>/Kestrix/kestrix, <build>/share/vantor).
std::optional<std::string> shippedScript() {
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return std::nullopt;
    for (const char* up : {"..", "../.."}) {
        std::filesystem::path path = self.parent_path() / up / "share/vantor/kwin/front-app.js";
        std::ifstream in(path);
        if (!in) continue;
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    return std::nullopt;
}

} // namespace

FrontAppAttempt makeKWinFrontApp(MainLoop& loop, const FrontAppSession&,
                                 FrontAppIdentityRef identity, const FrontAppLog& log) {
    if (!QCoreApplication::instance())
        return {nullptr, "KWin is asked over D-Bus, which needs Qt's event loop."};
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return {nullptr, "KWin is asked over D-Bus, and there is no session bus."};
    if (!bus.interface()->isServiceRegistered(QStringLiteral("org.kde.KWin")))
        return {nullptr, "KWin is not on the session bus."};
    auto script = shippedScript();
    if (!script)
        return {nullptr, "The KWin script that tells which app is in front is missing "
                         "(share/vantor/kwin/front-app.js); reinstalling Vantor mends it."};
    KWinScriptFrontApp::Options options;
    options.script = std::move(*script);
    options.folder =
        QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation).toStdString() +
        "/vantor-front-app";
    options.program = QCoreApplication::applicationName().isEmpty()
                          ? std::string("program")
                          : QCoreApplication::applicationName().toStdString();
    return {std::make_unique<KWinScriptFrontApp>(loop, std::move(identity), bus, std::move(options),
                                                 log),
            {}};
}

} // namespace kestrix::core
