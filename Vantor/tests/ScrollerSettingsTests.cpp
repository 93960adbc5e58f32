#include "ScrollerTestSupport.h"
#include "FileReplacements.h"
#include "TempFolder.h"

namespace vantor::testing {
namespace {

using nlohmann::json;

TEST_F(ScrollerTest, retiredKeysAreRemovedEachWithItsLine) {
    defaults->set("deadzone", "0.2");
    defaults->set("phases", true);
    defaults->set("crosstalk", 3);
    make().start();
    EXPECT_FALSE(defaults->value("deadzone"));
    EXPECT_FALSE(defaults->value("phases"));
    EXPECT_FALSE(defaults->value("crosstalk"));
    EXPECT_TRUE(logged("removed retired setting deadzone"));
    EXPECT_TRUE(logged("removed retired setting phases"));
    EXPECT_TRUE(logged("removed retired setting crosstalk"));
    EXPECT_EQ(scroller->settings(), scroll::ScrollSettings());
    // In list order.
    auto first = std::find(logs.begin(), logs.end(), "removed retired setting deadzone");
    auto last = std::find(logs.begin(), logs.end(), "removed retired setting crosstalk");
    EXPECT_LT(first, last);
}

TEST_F(ScrollerTest, legacyMomentumAppsMoveIntoAppSettingsOnce) {
    defaults->set("momentum_apps", json{{"org.a", "long"}, {"org.b", "fast"}, {"org.c", 3}});
    defaults->set("app_settings", json{{"org.d", {{"speed", "2.0"}}}, {"org.e", {{"speed", 2}}}});
    const std::filesystem::path file = defaults->path();
    testsupport::FileReplacements replacements(file.parent_path().string());
    ASSERT_TRUE(replacements.ok());
    make().start();
    // The file was replaced once, and that one file already holds both changes: no stop of the
    // program can leave the key moved halfway.
    EXPECT_EQ(replacements.take(file.filename().string()), 1u);
    const json onDisk = json::parse(testsupport::readFile(file.string()));
    EXPECT_FALSE(onDisk.contains("momentum_apps"));
    EXPECT_EQ(onDisk["app_settings"],
              (json{{"org.a", {{"momentum_preset", "long"}}}, {"org.d", {{"speed", "2.0"}}}}));
    EXPECT_FALSE(defaults->value("momentum_apps"));
    EXPECT_EQ(*defaults->value("app_settings"),
              (json{{"org.a", {{"momentum_preset", "long"}}}, {"org.d", {{"speed", "2.0"}}}}));
    EXPECT_EQ(std::count(logs.begin(), logs.end(), "moved momentum_apps into app_settings"), 1);
    logs.clear();
    scroller->reloadSettings();
    EXPECT_EQ(std::count(logs.begin(), logs.end(), "moved momentum_apps into app_settings"), 0);
}

TEST_F(ScrollerTest, aMigrationThatDropsEntriesKeepsACopyOfTheFileBeforeIt) {
    struct Case {
        json momentumApps, appSettings;
        bool copied;
    };
    for (const Case& c : std::vector<Case>{
             {json{{"org.a", "long"}}, json{{"org.d", {{"speed", "2.0"}}}}, false},
             {json{{"org.a", 3}}, nullptr, true},
             {json{{"org.a", "fast"}}, nullptr, true},
             {json{{"org.a", "long"}}, json{{"org.e", {{"speed", 2}}}}, true},
             {json{{"org.a", "long"}}, json{{"org.e", "2.0"}}, true},
             {"garbage", nullptr, true},
         }) {
        std::string path = defaults->path();
        std::filesystem::remove(path + ".bak");
        defaults->set("momentum_apps", c.momentumApps);
        if (c.appSettings.is_null())
            defaults->remove("app_settings");
        else
            defaults->set("app_settings", c.appSettings);
        std::string before = testsupport::readFile(path);
        logs.clear();
        scroller.reset();
        make().start();
        ASSERT_FALSE(defaults->value("momentum_apps"));
        EXPECT_EQ(std::filesystem::exists(path + ".bak"), c.copied) << c.momentumApps;
        if (c.copied) {
            EXPECT_EQ(testsupport::readFile(path + ".bak"), before);
            EXPECT_TRUE(logged("settings migration drops unreadable entries; the file before it "
                               "is kept as " + path + ".bak"));
        }
    }
}

TEST_F(ScrollerTest, momentumAppsThatIsNotAMapIsStillRemoved) {
    defaults->set("momentum_apps", "garbage");
    make().start();
    EXPECT_FALSE(defaults->value("momentum_apps"));
    EXPECT_EQ(*defaults->value("app_settings"), json::object());
}

TEST_F(ScrollerTest, storedValuesOfOlderTypesAreReadAsText) {
    defaults->set("allowed_apps", json{"org.b", "org.a"});
    defaults->set("speed", 2);
    defaults->set("scroll_speed", 1500.5);
    defaults->set("diagonal", json::object());
    make().start();
    EXPECT_EQ(scroller->settings().allowedApps, (std::set<std::string>{"org.a", "org.b"}));
    EXPECT_EQ(scroller->settings().speed, 2.0);
    EXPECT_EQ(scroller->settings().scrollSpeed, 1500.5);
    EXPECT_TRUE(scroller->settings().diagonal);
}

TEST_F(ScrollerTest, trueAndFalseWrittenByHandReadAsFlags) {
    defaults->set("diagonal", false);
    defaults->set("new_apps_on", true);
    defaults->set("app_settings", json{{"org.a", {{"diagonal", true}, {"speed", "2.0"}}}});
    make().start();
    EXPECT_FALSE(scroller->settings().diagonal);
    EXPECT_TRUE(scroller->settings().newAppsOn);
    EXPECT_EQ(scroller->settings().appSettings.at("org.a"),
              (std::map<std::string, std::string>{{"diagonal", "1"}, {"speed", "2.0"}}));
}

TEST_F(ScrollerTest, updateStoresOnlyWhatDiffersFromTheDefaults) {
    make().start();
    auto settings = scroller->settings();
    settings.speed = 2.5;
    settings.setOwn(
        scroll::ScrollSettings::AppSetting::momentum, "org.a",
        [](scroll::ScrollSettings& s) { s.momentum = scroll::ScrollSettings::Momentum::long_; });
    scroller->update(settings);
    EXPECT_EQ(defaults->get<std::string>("speed"), "2.5");
    EXPECT_FALSE(defaults->value("response"));
    EXPECT_EQ(*defaults->value("app_settings"), (json{{"org.a", {{"momentum_preset", "long"}}}}));

    scroller->update(scroll::ScrollSettings());
    for (const auto& [key, value] : scroll::ScrollSettings().encoded())
        EXPECT_FALSE(defaults->value(key)) << key;
    EXPECT_FALSE(defaults->value("app_settings"));
}

// Switching the app in front on or off moves it between the allowed and the excluded apps: one
// replacement of the file holds both lists changed.
TEST_F(ScrollerTest, switchingTheAppInFrontWritesBothListsInOneReplacement) {
    const std::string editor = "org.example.Editor";
    defaults->set("excluded_apps", editor);
    workspace->activate(RunningApp{editor, "Editor"});
    make().start();
    const std::filesystem::path file = defaults->path();
    testsupport::FileReplacements replacements(file.parent_path().string());
    ASSERT_TRUE(replacements.ok());
    for (bool on : {true, false, true}) {
        scroller->setDeviceForFrontmostApp(on);
        EXPECT_EQ(replacements.take(file.filename().string()), 1u) << on;
        const json onDisk = json::parse(testsupport::readFile(file.string()));
        EXPECT_EQ(onDisk.value("allowed_apps", ""), on ? editor : "") << on;
        EXPECT_EQ(onDisk.value("excluded_apps", ""), on ? "" : editor) << on;
    }
}

TEST_F(ScrollerTest, updateRebuildsTheGlideOnlyWhenMomentumChanges) {
    running();
    sendAxes(0, 350);
    loop.advance(0.1);
    auto settings = scroller->settings();
    settings.speed = 2.0;
    scroller->update(settings); // no momentum change: the scroll goes on
    EXPECT_NE(poster->scrollPhases().back(), scroll::ScrollPhase::ended);
    settings.momentum = scroll::ScrollSettings::Momentum::long_;
    scroller->update(settings);
    EXPECT_EQ(poster->scrollPhases().back(), scroll::ScrollPhase::ended);
}

TEST_F(ScrollerTest, summaryListsAppsAndOverridesSorted) {
    defaults->set("app_settings", json{{"org.z", {{"speed", "2.0"}, {"momentum_preset", "long"}}},
                                       {"org.a", {{"response", "direct"}}}});
    defaults->set("allowed_apps", "org.y,org.x");
    defaults->set("excluded_apps", "");
    defaults->set("simultaneous", "rotate,scroll");
    defaults->set("new_apps_on", "yes");
    make().start();
    EXPECT_TRUE(logged("settings: speed 1.0, scroll 3000.0 px/s, response balanced, tick 120.0 Hz, "
                       "zoom ×10.0/s, rotate 180.0°/s, momentum medium, diagonal true, "
                       "simultaneous scroll,rotate, own settings org.a response=direct, "
                       "org.z momentum_preset=long speed=2.0, on in org.x org.y, excluded , "
                       "new apps on"));
}

TEST_F(ScrollerTest, appSettingsApplyToTheAppInFrontAndPreviewApp) {
    defaults->set("app_settings", json{{"org.a", {{"speed", "3.0"}}}});
    workspace->activate(RunningApp{"org.a", "A"});
    make().start();
    EXPECT_EQ(scroller->applied().speed, 3.0);
    workspace->activate(RunningApp{own, "Vantor"});
    EXPECT_EQ(scroller->applied().speed, 1.0);
    scroller->setPreview(std::make_shared<RecordingSink>(), "org.a");
    EXPECT_EQ(scroller->applied().speed, 3.0); // the preview shows the app's settings
}

} // namespace
} // namespace vantor::testing
