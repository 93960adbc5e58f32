#include "FrontApp/DesktopEntry.h"
#include "ModelsTestSupport.h"
#include "Vantor/Log.h"
#include "VantorModels/LoginItem.h"
#include "VantorModels/SettingsModel.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace vantor {

using kestrix::core::DesktopEntry;
namespace {

using test::ScopedEnv;

class Autostart : public ::testing::Test {
protected:
    testsupport::TempFolder root;
    std::string program = root.path + "/bin 5% $x/vantor";
    std::string folder = root.path + "/config/autostart";
    AutostartLoginItem item{program, folder};

    Autostart() {
        root.write("bin 5% $x/vantor", "#!/bin/sh\n");
        std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    }
    std::optional<DesktopEntry> written() const { return DesktopEntry::read(item.entryPath()); }
};

TEST_F(Autostart, registeringWritesAnEntryThatStartsVantorAsALoginItem) {
    EXPECT_EQ(item.status(), LoginItemStatus::notRegistered);
    EXPECT_EQ(item.registerItem(), std::nullopt);
    EXPECT_EQ(item.status(), LoginItemStatus::enabled);
    EXPECT_EQ(item.entryPath(), folder + "/me.orvella.Vantor.desktop");
    ASSERT_TRUE(written());
    EXPECT_EQ(written()->value("Exec"), "\"" + root.path + "/bin 5%% \\$x/vantor\" --login-item");
    EXPECT_EQ(written()->value("Type"), "Application");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);

    EXPECT_EQ(item.unregisterItem(), std::nullopt);
    EXPECT_EQ(item.status(), LoginItemStatus::notRegistered);
    EXPECT_EQ(item.unregisterItem(), std::nullopt);
}

TEST_F(Autostart, anEntryThatIsALinkIsReplacedItselfAndItsTargetKept) {
    // Entries kept elsewhere (a dotfiles folder, say) and linked into the autostart folder.
    for (const char* target : {"dotfiles/vantor.desktop", "dotfiles/missing.desktop"}) {
        SCOPED_TRACE(target);
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        std::filesystem::remove_all(root.path + "/dotfiles");
        root.write("dotfiles/vantor.desktop", "[Desktop Entry]\nType=Application\nHidden=true\n");
        std::filesystem::create_symlink(root.path + "/" + target, item.entryPath());
        EXPECT_EQ(item.registerItem(), std::nullopt);
        EXPECT_FALSE(std::filesystem::is_symlink(item.entryPath()));
        EXPECT_EQ(item.status(), LoginItemStatus::enabled);
        EXPECT_EQ(testsupport::readFile(root.path + "/dotfiles/vantor.desktop"),
                  "[Desktop Entry]\nType=Application\nHidden=true\n");
        EXPECT_FALSE(std::filesystem::exists(root.path + "/dotfiles/missing.desktop"));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);
    }
}

TEST_F(Autostart, anEntrySwitchedOffOrAMissingProgramIsNotEnabled) {
    struct Case {
        const char* keys;
        LoginItemStatus status;
    } cases[] = {
        {"Exec=vantor\n", LoginItemStatus::enabled},
        {"Hidden=true\n", LoginItemStatus::notRegistered},
        {"X-GNOME-Autostart-enabled=false\n", LoginItemStatus::notRegistered},
        {"X-GNOME-Autostart-enabled=true\nHidden=false\n", LoginItemStatus::enabled},
    };
    for (const auto& c : cases) {
        root.write("config/autostart/me.orvella.Vantor.desktop",
                   std::string("[Desktop Entry]\n") + c.keys);
        EXPECT_EQ(item.status(), c.status) << c.keys;
    }
    for (const std::string& missing :
         {root.path + "/nowhere/vantor", std::string("vantor"), std::string(), root.path}) {
        AutostartLoginItem lost(missing, folder);
        EXPECT_EQ(lost.status(), LoginItemStatus::notFound) << missing;
        EXPECT_NE(lost.registerItem(), std::nullopt) << missing;
    }
}

TEST_F(Autostart, theFolderFollowsXdgConfigHome) {
    ScopedEnv config("XDG_CONFIG_HOME", root.path + "/elsewhere");
    EXPECT_EQ(AutostartLoginItem::standardAutostartFolder(), root.path + "/elsewhere/autostart");
    ScopedEnv relative("XDG_CONFIG_HOME", "relative");
    ScopedEnv home("HOME", root.path);
    EXPECT_EQ(AutostartLoginItem::standardAutostartFolder(), root.path + "/.config/autostart");
}

TEST_F(Autostart, aFailedRegistrationIsLoggedAndTheSwitchFallsBack) {
    root.write("config/autostart", "a file where the folder should be");
    std::vector<std::string> lines;
    Log::setSink([&](Log::Level, std::string_view text) { lines.emplace_back(text); });
    SettingsModel model({}, std::make_shared<AutostartLoginItem>(program, folder));
    model.setStartAtLogin(true);
    Log::setSink({});
    EXPECT_FALSE(model.startAtLogin());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("start at login on failed: ", 0), 0u) << lines[0];
}

} // namespace
} // namespace vantor
