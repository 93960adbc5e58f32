#include "KestrixProtocol/VirtualMainLoop.h"
#include "Sources.h"

#include <gtest/gtest.h>
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
        return [this, name](kestrix::MainLoop&, const FrontAppSession&, FrontAppIdentityRef) {
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
