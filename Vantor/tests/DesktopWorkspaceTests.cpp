// The desktop's app in front on a private X server, as the Scroller sees it.
#include "KestrixProtocol/VirtualMainLoop.h"
#include "Vantor/Workspace.h"
#include "X11TestDesktop.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace vantor {
namespace {

class DesktopWorkspaceTest : public ::testing::Test {
protected:
    DesktopWorkspaceTest() {
        folder_ = std::filesystem::temp_directory_path() /
                  ("vantor-workspace-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder_ / "applications");
        std::ofstream(folder_ / "applications" / "org.example.Editor.desktop")
            << "[Desktop Entry]\nName=Example Editor\nStartupWMClass=ExampleEditor\n";
        ::setenv("XDG_DATA_HOME", folder_.c_str(), 1);
        ::setenv("XDG_DATA_DIRS", folder_.c_str(), 1);
        if (!server_.display().empty()) ::setenv("DISPLAY", server_.display().c_str(), 1);
    }
    ~DesktopWorkspaceTest() override { std::filesystem::remove_all(folder_); }

    x11test::Xvfb server_;
    std::filesystem::path folder_;
    kestrix::VirtualMainLoop loop_;
};

TEST_F(DesktopWorkspaceTest, followsTheActiveWindowWithTheAppsDesktopName) {
    ASSERT_FALSE(server_.display().empty()) << "Xvfb did not start";
    x11test::FakeDesktop desktop(server_.display());
    auto editor = desktop.window(2000000001, "ExampleEditor");
    auto other = desktop.window(2000000002, "Other");

    auto workspace = makeDesktopWorkspace(loop_);
    std::vector<std::optional<RunningApp>> seen;
    workspace->onActivate = [&](const std::optional<RunningApp>& app) { seen.push_back(app); };
    EXPECT_FALSE(workspace->frontmost());

    desktop.activate(editor);
    ASSERT_TRUE(loop_.runUntil([&] { return seen.size() == 1; }));
    EXPECT_EQ(seen[0], (RunningApp{"org.example.Editor", "Example Editor"}));
    EXPECT_EQ(workspace->frontmost(), seen[0]);

    // An app without a desktop entry is named by its id.
    desktop.activate(other);
    ASSERT_TRUE(loop_.runUntil([&] { return seen.size() == 2; }));
    EXPECT_EQ(seen[1], (RunningApp{"Other", "Other"}));

    // Writing the same window again (X reports it as another change) may or may not count as an
    // activation, but it never names another app, and the next real change still arrives.
    desktop.activate(other);
    desktop.activate(editor);
    ASSERT_TRUE(loop_.runUntil([&] { return seen.back() == seen[0]; }));
    for (std::size_t i = 2; i + 1 < seen.size(); ++i)
        EXPECT_EQ(seen[i], seen[1]);
}

TEST_F(DesktopWorkspaceTest, activeWindowThatNoLongerExistsIsNoApp) {
    ASSERT_FALSE(server_.display().empty()) << "Xvfb did not start";
    x11test::FakeDesktop desktop(server_.display());
    auto gone = desktop.window(2000000003, "Gone");
    desktop.destroy(gone);

    auto workspace = makeDesktopWorkspace(loop_);
    int activations = 0;
    workspace->onActivate = [&](const std::optional<RunningApp>&) { ++activations; };
    desktop.activate(gone);
    ASSERT_TRUE(loop_.runUntil([&] { return activations == 1; }));
    auto front = workspace->frontmost();
    EXPECT_TRUE(!front || !front->bundleID) << "a destroyed window names no app";
}

TEST(DesktopWorkspace, withoutDisplayThereIsNoAppInFront) {
    ::setenv("DISPLAY", ":4099", 1);
    kestrix::VirtualMainLoop loop;
    auto workspace = makeDesktopWorkspace(loop);
    EXPECT_FALSE(workspace->frontmost());
}

} // namespace
} // namespace vantor
