#include "Vantor/DesktopEntry.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace vantor {
namespace {

class DesktopEntryFolders : public ::testing::Test {
protected:
    DesktopEntryFolders() {
        root_ = std::filesystem::temp_directory_path() /
                ("vantor-desktop-" + std::to_string(::getpid()));
        std::filesystem::create_directories(root_ / "home");
        std::filesystem::create_directories(root_ / "system");
    }
    ~DesktopEntryFolders() override { std::filesystem::remove_all(root_); }
    void write(const char* dir, const std::string& name, const std::string& content) {
        std::ofstream(root_ / dir / name) << content;
    }
    std::vector<std::string> dirs() const {
        return {(root_ / "home").string(), (root_ / "system").string()};
    }
    std::filesystem::path root_;
};

TEST_F(DesktopEntryFolders, nameOfTheFirstFolderHoldingTheEntry) {
    write("system", "org.example.Editor.desktop",
          "[Desktop Entry]\nType=Application\nName=Editor\nName[de]=Bearbeiter\n");
    EXPECT_EQ(desktopEntryName("org.example.Editor", dirs()), "Editor");
    write("home", "org.example.Editor.desktop", "[Desktop Entry]\nName=My Editor\n");
    EXPECT_EQ(desktopEntryName("org.example.Editor", dirs()), "My Editor");
}

TEST_F(DesktopEntryFolders, onlyTheDesktopEntryGroupCounts) {
    write("system", "org.a.desktop",
          "[Desktop Action new]\nName=New Window\n[Desktop Entry]\nName=A\n");
    EXPECT_EQ(desktopEntryName("org.a", dirs()), "A");
    write("system", "org.b.desktop", "[Desktop Action new]\nName=New Window\n");
    EXPECT_EQ(desktopEntryName("org.b", dirs()), std::nullopt);
    EXPECT_EQ(desktopEntryName("org.missing", dirs()), std::nullopt);
}

} // namespace
} // namespace vantor
