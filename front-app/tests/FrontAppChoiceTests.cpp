#include "FrontApp/Display.h"
#include "KestrixProtocol/VirtualMainLoop.h"
#include "Sources.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

using namespace kestrix::core;

namespace {

// Sources that serve when their name is in `serving`, and record that they were tried.
struct FakeSources {
    std::set<std::string> serving;
    std::vector<std::string> tried;
    std::map<const FrontApp*, std::string> made;

    FrontAppSources::Maker maker(const std::string& name) {
        return [this, name](kestrix::MainLoop&, const FrontAppSession&, FrontAppIdentityRef,
                            const FrontAppLog&) {
            tried.push_back(name);
            if (!serving.count(name)) return FrontAppAttempt{nullptr, name + " cannot serve."};
            auto source = std::make_unique<SimulatedFrontApp>();
            made[source.get()] = name;
            return FrontAppAttempt{std::move(source), {}};
        };
    }
    FrontAppSources sources() {
        return {maker("gnome"), maker("kwin"), maker("wlroots"), maker("x11")};
    }
};

} // namespace

// With a Wayland display the desktop's own source comes first, then the wlroots protocol, then
// X11 (XWayland); the first that serves is the one; with none, the reasons of all are the status.
TEST(FrontAppChoice, triesTheSessionsSourcesInOrderAndTellsWhyNoneServes) {
    struct Row {
        FrontAppSession session;
        std::set<std::string> serving;
        std::vector<std::string> tried;
        std::string chosen; // empty: none serves
    };
    const std::vector<Row> rows = {
        {{"wayland-0", "ubuntu:GNOME", ":0"}, {"gnome", "x11"}, {"gnome"}, "gnome"},
        {{"wayland-0", "gnome-classic:gnome", ""}, {"kwin"}, {"gnome", "wlroots", "x11"}, ""},
        {{"wayland-0", "KDE", ":1"}, {"kwin", "wlroots"}, {"kwin"}, "kwin"},
        {{"wayland-0", "KDE", ":1"}, {"wlroots", "x11"}, {"kwin", "wlroots"}, "wlroots"},
        {{"wayland-1", "sway", ""}, {"gnome", "kwin", "wlroots"}, {"wlroots"}, "wlroots"},
        {{"wayland-1", "", ":0"}, {"x11"}, {"wlroots", "x11"}, "x11"},
        {{"wayland-1", "KDEx:XGNOME", ""}, {"gnome", "kwin"}, {"wlroots", "x11"}, ""},
        {{"wayland-1", "XDE:ONOME", ""}, {"gnome", "kwin"}, {"wlroots", "x11"}, ""},
        {{"wayland-1", "Hyprland:kde", ""}, {"kwin"}, {"kwin"}, "kwin"},
        {{"", "GNOME", ":0"}, {"gnome", "wlroots", "x11"}, {"x11"}, "x11"},
        {{"", "", ""}, {}, {"x11"}, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.session.waylandDisplay + "|" + row.session.currentDesktop + "|" +
                     row.session.x11Display);
        kestrix::VirtualMainLoop loop;
        FakeSources fakes;
        fakes.serving = row.serving;
        std::vector<std::string> log;
        auto front = chooseFrontApp(loop, row.session, fakes.sources(), nullptr,
                                    [&](const std::string& line) { log.push_back(line); });
        ASSERT_TRUE(front);
        EXPECT_EQ(fakes.tried, row.tried);
        EXPECT_FALSE(front->frontmost());
        if (row.chosen.empty()) {
            EXPECT_FALSE(fakes.made.count(front.get()));
            EXPECT_FALSE(front->status().working());
            for (const auto& name : row.tried)
                EXPECT_NE(front->status().reason.find(name + " cannot serve."), std::string::npos);
            EXPECT_EQ(log.back(), "no app in front: " + front->status().reason);
        } else {
            EXPECT_EQ(fakes.made[front.get()], row.chosen);
            EXPECT_TRUE(front->status().working());
        }
    }
}

TEST(FrontAppChoice, theStatusOfNoSourceSaysThereIsNoAppInFront) {
    kestrix::VirtualMainLoop loop;
    auto front =
        chooseFrontApp(loop, {"", "", ""}, FrontAppSources{}, nullptr, [](const std::string&) {});
    EXPECT_EQ(front->status(),
              FrontAppStatus::unavailable("There is no X display (DISPLAY is not set)."));
}

namespace {

// Sets environment variables for one test and puts the old values back.
class Environment {
public:
    void set(const char* name, const char* value) {
        if (!saved_.count(name)) {
            const char* old = std::getenv(name);
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~Environment() {
        for (const auto& [name, value] : saved_)
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
    }

private:
    std::map<std::string, std::optional<std::string>> saved_;
};

} // namespace

// The application folders: the personal one (XDG_DATA_HOME only when absolute, else under HOME),
// then each entry of XDG_DATA_DIRS (the standard two when it is unset or empty).
TEST(FrontAppSession, applicationFoldersFollowTheXDGVariables) {
    struct Row {
        const char *dataHome, *home, *dataDirs;
        std::vector<std::string> dirs;
    };
    for (const auto& row : std::vector<Row>{
             {"/d", "/h", "/a:/b", {"/d/applications", "/a/applications", "/b/applications"}},
             {"relative",
              "/h",
              "",
              {"/h/.local/share/applications", "/usr/local/share/applications",
               "/usr/share/applications"}},
             {nullptr,
              "/h",
              nullptr,
              {"/h/.local/share/applications", "/usr/local/share/applications",
               "/usr/share/applications"}},
             {nullptr, nullptr, "/a::/b", {"/a/applications", "/b/applications"}},
         }) {
        Environment env;
        env.set("XDG_DATA_HOME", row.dataHome);
        env.set("HOME", row.home);
        env.set("XDG_DATA_DIRS", row.dataDirs);
        EXPECT_EQ(FrontAppIdentity::standardApplicationDirs(), row.dirs)
            << (row.dataHome ? row.dataHome : "-") << " " << (row.dataDirs ? row.dataDirs : "-");
    }
}

// The session's variables as the choice reads them; an empty one counts as unset.
TEST(FrontAppSession, readFromTheEnvironmentAndADisplayIsOnlyWhatCanBeReached) {
    Environment env;
    env.set("WAYLAND_DISPLAY", "wayland-9");
    env.set("XDG_CURRENT_DESKTOP", "sway");
    env.set("DISPLAY", ":77");
    auto session = FrontAppSession::fromEnvironment();
    EXPECT_EQ(session.waylandDisplay, "wayland-9");
    EXPECT_EQ(session.currentDesktop, "sway");
    EXPECT_EQ(session.x11Display, ":77");

    env.set("QT_QPA_PLATFORM", "");
    env.set("WAYLAND_DISPLAY", "");
    env.set("DISPLAY", "");
    EXPECT_FALSE(kestrix::hasDisplay());
    env.set("DISPLAY", ":4097"); // no such server
    EXPECT_FALSE(kestrix::hasDisplay());
    env.set("QT_QPA_PLATFORM", "offscreen");
    EXPECT_TRUE(kestrix::hasDisplay());
}
