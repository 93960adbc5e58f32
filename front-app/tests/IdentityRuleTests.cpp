#include "FrontApp/DesktopAppIndex.h"
#include "FrontApp/DesktopEntry.h"
#include "FrontApp/FrontAppIdentity.h"
#include "KestrixProtocol/VirtualMainLoop.h"
#include "TempFolder.h"

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace kestrix::core;
using testsupport::TempFolder;

namespace {

// The processes and installed apps the rule's table is read against.
struct Machine {
    TempFolder t;
    Machine() {
        t.write("proc/10/cgroup", "0::/app.slice/app-gnome-org.a.App-1.scope\n");
        t.write("proc/11/cgroup", "0::/user.slice/session-1.scope\n");
        t.write("proc/11/root/.flatpak-info", "[Application]\nname=org.b.App\n");
        t.write("proc/12/cgroup", "0::/user.slice/session-1.scope\n");
        t.write("proc/13/cgroup",
                "0::/app.slice/app-gnome-" + std::string(300, 'x') + "-1.scope\n");
        t.write("home/display-im6.q16.desktop", "[Desktop Entry]\nName=ImageMagick\n");
        t.write("home/code.desktop", "[Desktop Entry]\nName=Code\nStartupWMClass=Code-OSS\n");
        t.write("system/code-oss.desktop", "[Desktop Entry]\nName=Code OSS\n");
        t.write("system/org.gnome.Nautilus.desktop", "[Desktop Entry]\nName=Files\n");
        t.write("system/org.blender.Blender.desktop",
                "[Desktop Entry]\nName=Blender\nStartupWMClass=Blender\n");
        t.write("system/kde/org.kde.kate.desktop", "[Desktop Entry]\nName=Kate\n");
        t.write("system/az.desktop", "[Desktop Entry]\n");
        t.write("system/x@y.desktop", "[Desktop Entry]\n");
        t.write("system/x[y.desktop", "[Desktop Entry]\n");
        t.write("system/ghost.desktop", "[Desktop Entry]\nStartupWMClass=Phantom\n");
        t.write("home/ghost.desktop", "[Desktop Entry]\nHidden=true\n");
    }
    std::vector<std::string> dirs() const { return {t.path + "/home", t.path + "/system"}; }
};

} // namespace

// One rule names every window, whichever source reports it: the process's app unit, its
// Flatpak, the Wayland app_id, StartupWMClass, a desktop file named like the WM_CLASS, the class.
TEST(IdentityRule, namesEveryWindowTheSameWay) {
    Machine m;
    FrontAppIdentity identity(m.t.path + "/proc", m.dirs());
    const std::string longest(255, 'a');
    struct Row {
        FrontAppWindow window;
        std::optional<std::string> app;
    };
    const std::vector<Row> rows = {
        {{10, "org.x.Wayland", "blender", "Blender"}, "org.a.App"},
        {{11, "org.x.Wayland", "", ""}, "org.b.App"},
        {{12, "org.gnome.Nautilus", "", ""}, "org.gnome.Nautilus"},
        {{999, "firefox.desktop", "", ""}, "firefox"},
        {{std::nullopt, "org.x.Wayland", "", ""}, "org.x.Wayland"}, // installed or not
        // An XWayland window whose class the compositor gives as its app_id.
        {{std::nullopt, "Display-im6.q16", "", ""}, "display-im6.q16"},
        {{std::nullopt, "Code-OSS", "", ""}, "code"},
        {{std::nullopt, "code-oss", "", ""}, "code-oss"}, // an installed id stands as it is
        {{std::nullopt, "", "blender", "BLENDER"}, "org.blender.Blender"},
        {{std::nullopt, "", "code-oss", "Code-OSS"}, "code"}, // StartupWMClass before the id
        {{std::nullopt, "", "Code-OSS", "Editor"}, "code"},   // or the instance
        // ImageMagick: no StartupWMClass; the instance is the desktop file's id.
        {{std::nullopt, "", "display-im6.q16", "Display-im6.q16"}, "display-im6.q16"},
        {{std::nullopt, "", "nautilus", "Org.gnome.Nautilus"}, "org.gnome.Nautilus"},
        {{std::nullopt, "", "nautilus", "Nautilus"}, "org.gnome.Nautilus"}, // last part
        {{std::nullopt, "", "kate", "kate"}, "kde-org.kde.kate"},           // in a subfolder
        {{std::nullopt, "", "xterm", "XTerm"}, "XTerm"},
        {{std::nullopt, "", "", "AZ"}, "az"},   // the letters' ends, without case
        {{std::nullopt, "", "", "X`Y"}, "X`Y"}, // but not their neighbours
        {{std::nullopt, "", "", "X{Y"}, "X{Y"},
        {{std::nullopt, "", "phantom", "Phantom"}, "Phantom"}, // a hidden entry is deleted
        {{13, "", "", "Thirteen"}, "Thirteen"},                // the unit's id is too long
        {{std::nullopt, longest, "", ""}, longest},
        {{std::nullopt, longest + "a", "", "Long"}, "Long"},
        {{std::nullopt, "bad\nid", "", "Fine"}, "Fine"},
        {{std::nullopt, "", "x", "Tab\tbed"}, std::nullopt},
        {{std::nullopt, "", "del", "Del\x7F"}, std::nullopt},
        {{std::nullopt, "", "", ""}, std::nullopt},
        {{std::nullopt, "\xFF", "", ""}, "\uFFFD"},
    };
    for (const auto& [window, app] : rows)
        EXPECT_EQ(identity.ofWindow(window), app)
            << window.appID << "|" << window.instance << "|" << window.windowClass;
}

// A process with a root folder of its own puts what it likes at .flatpak-info: only a small
// regular file names an app, and nothing there makes the lookup wait or take memory.
TEST(IdentityRule, aFlatpakInfoThatIsNoSmallRegularFileNamesNoAppAndNeverWaits) {
    const std::string header = "[Application]\nname=org.b.App\n";
    const std::size_t bound = 64 * 1024;
    struct Row {
        const char* name;
        std::function<void(const std::string& path)> make;
        std::optional<std::string> app;
    };
    const std::vector<Row> rows = {
        {"a small file", [&](auto& p) { std::ofstream(p) << header; }, "org.b.App"},
        {"exactly the bound",
         [&](auto& p) { std::ofstream(p) << header << std::string(bound - header.size(), '#'); },
         "org.b.App"},
        {"one byte over the bound",
         [&](auto& p) { std::ofstream(p) << header << std::string(bound + 1 - header.size(), '#'); },
         std::nullopt},
        {"a FIFO", [](auto& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }, std::nullopt},
        {"an 8 GiB sparse file",
         [&](auto& p) {
             std::ofstream(p) << header;
             ASSERT_EQ(::truncate(p.c_str(), off_t(8) << 30), 0);
         },
         std::nullopt},
        {"a folder", [](auto& p) { std::filesystem::create_directory(p); }, std::nullopt},
        {"a link to a file of the reader",
         [&](auto& p) {
             std::ofstream(p + ".target") << header;
             std::filesystem::create_symlink(p + ".target", p);
         },
         std::nullopt},
    };
    for (const Row& row : rows) {
        TempFolder t;
        t.write("proc/11/cgroup", "0::/user.slice/session-1.scope\n");
        const std::string info = t.path + "/proc/11/root/.flatpak-info";
        std::filesystem::create_directories(t.path + "/proc/11/root");
        row.make(info);
        FrontAppIdentity identity(t.path + "/proc", std::vector<std::string>{});
        auto lookup = std::async(std::launch::async, [&] { return identity.ofProcess(11); });
        if (lookup.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            ADD_FAILURE() << row.name << ": the lookup waits";
            // Lets a lookup stuck opening the FIFO go on, so that the test can end.
            ::close(::open(info.c_str(), O_WRONLY | O_NONBLOCK));
        }
        EXPECT_EQ(lookup.get(), row.app) << row.name;
    }
}

// A process the program named is that app before its unit, its Flatpak or its windows say
// otherwise: the program's own windows from a build tree (class "vantor", no desktop entry) or
// started from a terminal's unit. Other processes keep the rule.
TEST(IdentityRule, aNamedProcessIsItsAppWhateverElseItsWindowsSay) {
    Machine m;
    FrontAppIdentity identity(m.t.path + "/proc", m.dirs());
    identity.nameProcess(10, "me.orvella.Vantor");
    struct Row {
        FrontAppWindow window;
        std::optional<std::string> app;
    };
    const std::vector<Row> rows = {
        {{10, "", "vantor", "vantor"}, "me.orvella.Vantor"}, // its unit is org.a.App
        {{10, "vantor", "", ""}, "me.orvella.Vantor"},
        {{10, "", "", ""}, "me.orvella.Vantor"},
        {{11, "", "vantor", "vantor"}, "org.b.App"},
        {{999, "", "vantor", "vantor"}, "vantor"},
        {{std::nullopt, "", "vantor", "vantor"}, "vantor"},
    };
    for (const auto& [window, app] : rows)
        EXPECT_EQ(identity.ofWindow(window), app) << window.processID.value_or(-1);
    EXPECT_EQ(identity.ofProcess(10), "me.orvella.Vantor");
    EXPECT_EQ(identity.ofProcess(12), std::nullopt);
}

// The Apps tab lists the desktop files by the same ids that name the app in front, so an app
// added from the chooser is the app found in front (and is listed once).
TEST(IdentityRule, theIndexUsesTheChoosersIds) {
    Machine m;
    std::vector<std::string> indexed;
    for (const auto& app : DesktopAppIndex::read(m.dirs()))
        indexed.push_back(app.id);
    std::vector<std::string> listed;
    for (const auto& [id, path] : desktopEntryFiles(m.dirs()))
        if (!DesktopEntry::read(path)->flag("Hidden")) listed.push_back(id);
    EXPECT_EQ(indexed, listed);
    EXPECT_NE(std::find(indexed.begin(), indexed.end(), "display-im6.q16"), indexed.end());
}

// A watched index reads on its worker and reads again when the folders change, including a
// personal folder made after the start.
TEST(DesktopAppIndex, followsTheApplicationFolders) {
    TempFolder t;
    t.write("system/org.a.App.desktop", "[Desktop Entry]\nStartupWMClass=A\n");
    kestrix::VirtualMainLoop loop;
    auto index = DesktopAppIndex::watched(loop, {t.path + "/home", t.path + "/system"});
    int updates = 0;
    index->onUpdate = [&] { ++updates; };
    auto ids = [&] {
        std::vector<std::string> out;
        for (const auto& app : *index->apps())
            out.push_back(app.id + "=" + app.startupWMClass);
        return out;
    };
    EXPECT_EQ(ids(), std::vector<std::string>{"org.a.App=A"});
    auto changesTo = [&](std::vector<std::string> expected) {
        return loop.runUntil([&] { return ids() == expected; });
    };
    t.write("system/org.b.App.desktop", "[Desktop Entry]\n");
    EXPECT_TRUE(changesTo({"org.a.App=A", "org.b.App="}));
    t.write("home/org.a.App.desktop", "[Desktop Entry]\nStartupWMClass=Mine\n");
    EXPECT_TRUE(changesTo({"org.a.App=Mine", "org.b.App="}));
    t.write("system/sub/c.desktop", "[Desktop Entry]\n");
    EXPECT_TRUE(changesTo({"org.a.App=Mine", "org.b.App=", "sub-c="}));
    std::filesystem::remove(t.path + "/system/sub/c.desktop");
    EXPECT_TRUE(changesTo({"org.a.App=Mine", "org.b.App="}));
    EXPECT_GT(updates, 0);
}

// On a new account the personal data folder may not exist yet, nor the folders above it: the
// index follows each level as it appears, however it is made, and then sees the desktop file.
TEST(DesktopAppIndex, seesAPersonalFolderWhoseLevelsAppearAfterTheStart) {
    namespace fs = std::filesystem;
    using Make = std::function<void(const TempFolder& t, const std::string& account)>;
    const std::string desktopFile = "[Desktop Entry]\nStartupWMClass=Editor\n";
    const struct {
        const char* name;
        Make make;
    } rows[] = {
        {"all at once",
         [&](const TempFolder& t, const std::string&) {
             t.write("home/new/.local/share/applications/org.x.Editor.desktop", desktopFile);
         }},
        {"level by level",
         [&](const TempFolder&, const std::string& account) {
             for (const char* level : {"", "/.local", "/.local/share", "/.local/share/applications"})
                 fs::create_directory(account + level);
             std::ofstream(account + "/.local/share/applications/org.x.Editor.desktop")
                 << desktopFile;
         }},
        {"moved in whole",
         [&](const TempFolder& t, const std::string& account) {
             t.write("home/new.made/.local/share/applications/org.x.Editor.desktop", desktopFile);
             fs::rename(account + ".made", account);
         }},
    };
    for (const auto& row : rows) {
        TempFolder t;
        t.write("system/org.a.App.desktop", "[Desktop Entry]\n");
        const std::string account = t.path + "/home/new";
        fs::create_directory(t.path + "/home");
        kestrix::VirtualMainLoop loop;
        auto index = DesktopAppIndex::watched(
            loop, {account + "/.local/share/applications", t.path + "/system"});
        auto ids = [&] {
            std::vector<std::string> out;
            for (const auto& app : *index->apps())
                out.push_back(app.id + "=" + app.startupWMClass);
            return out;
        };
        EXPECT_EQ(ids(), std::vector<std::string>{"org.a.App="}) << row.name;
        row.make(t, account);
        EXPECT_TRUE(loop.runUntil([&] {
            return ids() == std::vector<std::string>{"org.a.App=", "org.x.Editor=Editor"};
        })) << row.name;
    }
}
