#include "Sources.h"

#include <cstdlib>
#include <unistd.h>

namespace kestrix::core {

namespace {

std::string variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

} // namespace

FrontAppSession FrontAppSession::fromEnvironment() {
    return {variable("WAYLAND_DISPLAY"), variable("XDG_CURRENT_DESKTOP"), variable("DISPLAY")};
}

bool FrontAppSession::names(std::string_view desktop) const {
    std::string_view list = currentDesktop;
    while (!list.empty()) {
        auto colon = list.find(':');
        if (equalWithoutCase(list.substr(0, colon), desktop)) return true;
        if (colon == std::string_view::npos) break;
        list.remove_prefix(colon + 1);
    }
    return false;
}

std::unique_ptr<FrontApp> chooseFrontApp(MainLoop& loop, const FrontAppSession& session,
                                         const FrontAppSources& sources,
                                         FrontAppIdentityRef identity, const FrontAppLog& log) {
    std::string reasons;
    auto attempt = [&](const FrontAppSources::Maker& make,
                       const std::string& what) -> std::unique_ptr<FrontApp> {
        auto tried = make(loop, session, identity, log);
        if (tried.source) {
            // A source that cannot serve yet says why, not that the app in front comes from it.
            FrontAppStatus status = tried.source->status();
            log(status.working() ? "the app in front comes from " + what : status.logLine());
            return std::move(tried.source);
        }
        log("the app in front cannot come from " + what + ": " + tried.reason);
        reasons += (reasons.empty() ? "" : " ") + tried.reason;
        return nullptr;
    };
    const bool wayland = !session.waylandDisplay.empty();
    if (wayland) {
        std::unique_ptr<FrontApp> source;
        if (session.names("GNOME"))
            source = attempt(sources.gnome, "GNOME Shell");
        else if (session.names("KDE"))
            source = attempt(sources.kwin, "KWin");
        if (!source) source = attempt(sources.wlroots, "the Wayland compositor");
        if (source) return source;
    }
    if (auto x11 = attempt(sources.x11, "the X display")) {
        if (wayland) log("only the apps that run under XWayland are seen in front");
        return x11;
    }
    auto status = FrontAppStatus::unavailable(reasons);
    log(status.logLine());
    return std::make_unique<SimulatedFrontApp>(std::move(status));
}

std::unique_ptr<FrontApp> makeFrontApp(MainLoop& loop, std::function<void(const std::string&)> log,
                                       std::optional<std::string> ownApp) {
    if (!log) log = [](const std::string&) {};
    auto identity = std::make_shared<FrontAppIdentity>(FrontAppIdentity::standard(loop));
    if (ownApp) identity->nameProcess(static_cast<std::int32_t>(::getpid()), std::move(*ownApp));
    return chooseFrontApp(loop, FrontAppSession::fromEnvironment(), FrontAppSources{}, identity,
                          log);
}

} // namespace kestrix::core
