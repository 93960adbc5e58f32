#include "ModelsTestSupport.h"
#include "VantorModels/ListedApp.h"
#include "VantorModels/SettingsModel.h"

#include <QImage>
#include <QLocale>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>

namespace vantor {
namespace {

using test::ScopedEnv;

// Application folders of a pretend desktop: "home" is $XDG_DATA_HOME, "a" and "b" are
// $XDG_DATA_DIRS.
class ApplicationFolders : public ::testing::Test {
protected:
    testsupport::TempFolder root;
    ScopedEnv dataHome{"XDG_DATA_HOME", root.path + "/home"};
    ScopedEnv dataDirs{"XDG_DATA_DIRS", root.path + "/a:" + root.path + "/b"};

    void entry(const std::string& where, const std::string& keys) {
        root.write(where, "[Desktop Entry]\nType=Application\n" + keys + "\n");
    }
};

TEST_F(ApplicationFolders, anAppIsFoundInTheFirstFolderThatHasIt) {
    QImage(16, 16, QImage::Format_ARGB32).save(QString::fromStdString(root.path + "/icon.png"));
    entry("b/applications/org.example.Editor.desktop", "Name=System Editor");
    entry("a/applications/org.example.Editor.desktop",
          "Name=Editor\nName[de]=Bearbeiter\nIcon=" + root.path + "/icon.png");
    entry("home/applications/kde/org.example.Viewer.desktop", "Name=Viewer");
    entry("home/applications/org.example.Deleted.desktop", "Name=Deleted\nHidden=true");
    entry("a/applications/org.example.Odd.desktop", "Name=Odd \xff name");

    ListedApp editor("org.example.Editor");
    EXPECT_EQ(editor.name, "Editor");
    EXPECT_TRUE(editor.isInstalled);
    EXPECT_FALSE(editor.icon.isNull());
    QLocale::setDefault(QLocale("de_DE"));
    EXPECT_EQ(ListedApp("org.example.Editor").name, "Bearbeiter");
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(ListedApp("kde-org.example.Viewer").name, "Viewer");
    EXPECT_EQ(ListedApp("org.example.Odd").name, QString::fromUtf8("Odd \uFFFD name"));

    entry("a/applications/org.example.Nameless.desktop", "Name=");
    ListedApp nameless("org.example.Nameless");
    EXPECT_EQ(nameless.name, "org.example.Nameless");
    EXPECT_TRUE(nameless.isInstalled);
    for (const char* id : {"org.example.Missing", "org.example.Deleted", ""}) {
        ListedApp missing(id);
        EXPECT_EQ(missing.name, id);
        EXPECT_FALSE(missing.isInstalled) << id;
    }
}

TEST_F(ApplicationFolders, installedAppsAreTheShownEntriesByName) {
    entry("home/applications/org.ten.desktop", "Name=App 10");
    entry("a/applications/org.nine.desktop", "Name=App 9");
    entry("a/applications/vendor/tool.desktop", "Name=Tool");
    entry("a/applications/org.settings.desktop", "Name=Settings Panel\nNoDisplay=true");
    entry("a/applications/org.masked.desktop", "Name=Masked");
    entry("home/applications/org.masked.desktop", "Name=Masked\nHidden=true");
    root.write("b/applications/org.link.desktop", "[Desktop Entry]\nType=Link\nName=Link\n");
    root.write("b/applications/notes.txt", "[Desktop Entry]\nName=Notes\n");
    // A file name that cannot be an app id is never the app in front: not offered either.
    entry("b/applications/bad\nname.desktop", "Name=Bad");

    std::vector<std::string> ids;
    for (const auto& app : ListedApp::installed())
        ids.push_back(app.bundleID);
    EXPECT_EQ(ids, (std::vector<std::string>{"org.nine", "org.ten", "vendor-tool"}));
}

TEST_F(ApplicationFolders, appsSharingAnIconFileShareOneIconUntilTheFileChanges) {
    const std::string file = root.path + "/icon.png";
    QImage picture(8, 8, QImage::Format_ARGB32);
    picture.fill(Qt::red);
    ASSERT_TRUE(picture.save(QString::fromStdString(file)));
    entry("a/applications/org.one.desktop", "Name=One\nIcon=" + file);
    entry("a/applications/org.two.desktop", "Name=Two\nIcon=" + file);
    const qint64 first = ListedApp("org.one").icon.cacheKey();
    EXPECT_EQ(ListedApp("org.two").icon.cacheKey(), first);
    std::filesystem::last_write_time(file, std::filesystem::last_write_time(file) -
                                               std::chrono::hours(1));
    EXPECT_NE(ListedApp("org.one").icon.cacheKey(), first);
}

TEST_F(ApplicationFolders, theModelLooksAnAppUpOnceUntilItsCacheIsEmptied) {
    SettingsModel model({});
    EXPECT_FALSE(model.app("org.later").isInstalled);
    entry("a/applications/org.later.desktop", "Name=Later");
    EXPECT_FALSE(model.app("org.later").isInstalled);
    model.apps.clear();
    EXPECT_EQ(model.app("org.later").name, "Later");
}

} // namespace
} // namespace vantor
