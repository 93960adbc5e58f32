#include "ModelsTestSupport.h"
#include "Vantor/Log.h"
#include "VantorModels/SettingsModel.h"

#include <gtest/gtest.h>

namespace vantor {
namespace {

using scroll::ScrollSettings;
using AppSetting = ScrollSettings::AppSetting;
using Role = scroll::AxisMapping::Role;
using Movement = scroll::AxisMapping::Movement;
using test::SignalCount;

class FakeLoginItem : public LoginItem {
public:
    LoginItemStatus current = LoginItemStatus::notRegistered;
    LoginItemStatus afterChange = LoginItemStatus::enabled;
    std::optional<std::string> failure;
    std::vector<bool> calls;

    LoginItemStatus status() const override { return current; }
    std::optional<std::string> registerItem() override { return change(true); }
    std::optional<std::string> unregisterItem() override { return change(false); }

private:
    std::optional<std::string> change(bool on) {
        calls.push_back(on);
        current = afterChange;
        return failure;
    }
};

class FakeChooser : public AppChooser {
public:
    std::optional<std::vector<std::string>> answer;
    QString message;
    std::optional<std::vector<std::string>> chooseApps(const QString& text) override {
        message = text;
        return answer;
    }
};

// A model whose callbacks write what they get into `events`, in order.
struct Recorded {
    SettingsModel model;
    std::vector<std::string> events;
    explicit Recorded(ScrollSettings settings = {},
                      std::shared_ptr<LoginItem> login = std::make_shared<FakeLoginItem>(),
                      std::shared_ptr<AppChooser> chooser = nullptr)
        : model(std::move(settings), std::move(login), std::move(chooser)) {
        model.onChange = [this](const ScrollSettings&) { events.push_back("change"); };
        model.onPreviewChange = [this](const std::optional<std::string>& app) {
            events.push_back("preview " + app.value_or("-"));
        };
    }
};

ListedApp installedApp(const std::string& id, const char* name) {
    return ListedApp(id, name, QIcon(), true);
}

TEST(SettingsModel, plainFieldsSignalOnlyChangesAndCallNoCallback) {
    Recorded r;
    auto& m = r.model;
    SignalCount settings(&m, &SettingsModel::settingsChanged);
    SignalCount device(&m, &SettingsModel::deviceNameChanged);
    SignalCount driver(&m, &SettingsModel::driverNameChanged);
    SignalCount permission(&m, &SettingsModel::hasPermissionChanged);
    SignalCount frontApp(&m, &SettingsModel::frontAppProblemChanged);
    SignalCount login(&m, &SettingsModel::loginItemStatusChanged);
    for (int round = 0; round < 2; ++round) {
        m.setSettings(ScrollSettings());
        m.setDeviceName("SpaceMouse Compact");
        m.setDriverName(QString("spacenavd"));
        m.setHasPermission(false);
        m.setFrontAppProblem(QString("no source"));
        m.setLoginItemStatus(LoginItemStatus::enabled);
    }
    m.setFrontAppProblem(std::nullopt);
    ScrollSettings faster;
    faster.speed = 2;
    m.setSettings(faster);
    m.setDriverName(std::nullopt);
    EXPECT_EQ(settings.value, 1);
    EXPECT_EQ(device.value, 1);
    EXPECT_EQ(driver.value, 2);
    EXPECT_EQ(permission.value, 1);
    EXPECT_EQ(frontApp.value, 2);
    EXPECT_EQ(login.value, 1);
    EXPECT_TRUE(r.events.empty());
}

TEST(SettingsModel, everyEditSignalsAndReportsOnceEvenWithoutAChange) {
    auto chooser = std::make_shared<FakeChooser>();
    chooser->answer = std::vector<std::string>{};
    ScrollSettings start;
    start.setDevice(true, "org.a");
    Recorded r(start, std::make_shared<FakeLoginItem>(), chooser);
    auto& m = r.model;
    const std::pair<const char*, std::function<void()>> edits[] = {
        {"diagonal", [&] { m.binding(fields::diagonal).set(true); }},
        {"response", [&] { m.binding(fields::response).set(ScrollSettings::Response::balanced); }},
        {"scrollsWhileZooming", [&] { m.binding(fields::scrollsWhileZooming).set(false); }},
        {"speedPosition", [&] { m.speedPosition().set(0.5); }},
        {"assignment", [&] { m.assignment(Movement::twist).set(Role::rotate); }},
        {"inverted", [&] { m.inverted(Role::zoom).set(false); }},
        {"isOn", [&] { m.isOn("org.a").set(true); }},
        {"own", [&] { m.own(AppSetting::together, "org.a", fields::diagonal).set(true); }},
        {"ownOrDefault",
         [&] {
             m.ownOrDefault(AppSetting::momentum, "org.a", fields::momentum).set(std::nullopt);
         }},
        {"speedPosition app", [&] { m.speedPosition("org.a").set(0.5); }},
        {"follows", [&] { m.follows(AppSetting::speed, "org.a").set(true); }},
        {"resetMovements", [&] { m.resetMovements(); }},
        {"followDefaults", [&] { m.followDefaults("org.a"); }},
        {"remove", [&] { m.remove("org.gone"); }},
        {"addApps", [&] { m.addApps(); }},
    };
    for (const auto& [name, edit] : edits) {
        SignalCount signalled(&m, &SettingsModel::settingsChanged);
        r.events.clear();
        edit();
        EXPECT_EQ(signalled.value, 1) << name;
        EXPECT_EQ(r.events, std::vector<std::string>{"change"}) << name;
    }
}

TEST(SettingsModel, bindingsWriteTheDefaultsOrTheAppsOwnValues) {
    ScrollSettings start;
    start.diagonal = false;
    Recorded r(start);
    auto& m = r.model;
    const std::string app = "org.a";
    m.assignment(Movement::push).set(std::nullopt);
    EXPECT_EQ(m.assignment(Movement::push).get(), std::nullopt);
    m.inverted(Role::vertical).set(true);
    m.binding(fields::scrollsWhileZooming).set(true);
    m.resetMovements();
    EXPECT_EQ(m.settings().mapping, scroll::AxisMapping());
    EXPECT_TRUE(m.settings().scrollsWhileZooming());

    auto response = m.ownOrDefault(AppSetting::response, app, fields::response);
    response.set(ScrollSettings::Response::precise);
    EXPECT_EQ(response.get(), ScrollSettings::Response::precise);
    EXPECT_EQ(m.settings().response, ScrollSettings::Response::balanced);
    response.set(std::nullopt);
    EXPECT_FALSE(m.settings().hasOwnSettings(app));
    m.isOn(app).set(true);
    EXPECT_TRUE(m.isOn(app).get());
    m.isOn(app).set(false);
    EXPECT_FALSE(m.isOn(app).get());
    m.speedPosition(app).set(1.0);
    EXPECT_EQ(m.settings().applied(app).speed, 4.0);
    EXPECT_EQ(m.settings().speed, 1.0);

    // Switching the "together" default off copies what is in force; later default changes
    // leave the copy.
    m.follows(AppSetting::together, app).set(false);
    EXPECT_FALSE(m.follows(AppSetting::together, app).get());
    m.binding(fields::diagonal).set(true);
    m.binding(fields::scrollsWhileZooming).set(false);
    EXPECT_FALSE(m.own(AppSetting::together, app, fields::diagonal).get());
    EXPECT_TRUE(m.own(AppSetting::together, app, fields::scrollsWhileZooming).get());
    m.followDefaults(app);
    EXPECT_FALSE(m.settings().hasOwnSettings(app));
}

TEST(SettingsModel, tabAndSelectionReportThePreviewAppOnEveryAssignment) {
    Recorded r;
    auto& m = r.model;
    SignalCount tabs(&m, &SettingsModel::tabChanged);
    SignalCount selections(&m, &SettingsModel::selectedAppChanged);
    m.setSelectedApp("org.a");
    m.setTab(MainTab::defaults);
    m.setTab(MainTab::apps);
    m.setTab(MainTab::apps);
    m.setSelectedApp("org.a");
    m.setTab(MainTab::settings);
    m.setSelectedApp(std::nullopt);
    EXPECT_EQ(r.events,
              (std::vector<std::string>{"preview -", "preview -", "preview org.a", "preview org.a",
                                        "preview org.a", "preview -", "preview -"}));
    EXPECT_EQ(tabs.value, 2);
    EXPECT_EQ(selections.value, 2);
}

TEST(SettingsModel, removingTheSelectedAppReportsTheChangeBeforeThePreview) {
    ScrollSettings start;
    start.setDevice(true, "org.a");
    start.setOwn(AppSetting::speed, "org.a", [](ScrollSettings& s) { s.speed = 2; });
    start.setDevice(false, "org.b");
    Recorded r(start);
    auto& m = r.model;
    m.setTab(MainTab::apps);
    m.setSelectedApp("org.a");
    r.events.clear();
    m.remove("org.b");
    m.remove("org.a");
    EXPECT_EQ(r.events, (std::vector<std::string>{"change", "change", "preview -"}));
    EXPECT_EQ(m.selectedApp(), std::nullopt);
    EXPECT_FALSE(m.settings().allowedApps.count("org.a"));
    EXPECT_FALSE(m.settings().excludedApps.count("org.b"));
    EXPECT_TRUE(m.settings().appSettings.empty());
}

TEST(SettingsModel, listedAppsAreTheAllowedAndTheInstalledExcludedByName) {
    ScrollSettings start; // excludes a few apps by default
    for (const char* id : {"org.ten", "org.nine", "org.gone", "org.same.b", "org.same.a"})
        start.setDevice(true, id);
    start.setDevice(false, "org.off");
    Recorded r(start);
    auto& m = r.model;
    m.apps.emplace("org.ten", installedApp("org.ten", "App 10"));
    m.apps.emplace("org.nine", installedApp("org.nine", "App 9"));
    m.apps.emplace("org.same.a", installedApp("org.same.a", "Same"));
    m.apps.emplace("org.same.b", installedApp("org.same.b", "Same"));
    m.apps.emplace("org.off", installedApp("org.off", "Off"));
    m.apps.emplace("org.blenderfoundation.blender",
                   installedApp("org.blenderfoundation.blender", "Blender"));
    m.apps.emplace("org.gone", ListedApp("org.gone", "org.gone", QIcon(), false));
    for (const auto& id : scroll::DevicePolicy::defaultExcluded)
        m.apps.try_emplace(std::string(id), std::string(id), QString(), QIcon(), false);

    std::vector<std::string> ids;
    for (const auto& app : m.listedApps())
        ids.push_back(app.bundleID);
    EXPECT_EQ(ids, (std::vector<std::string>{"org.nine", "org.ten", "org.blenderfoundation.blender",
                                             "org.off", "org.gone", "org.same.a", "org.same.b"}));
}

TEST(SettingsModel, addAppsSwitchesTheChosenAppsOnAndNothingWhenCancelled) {
    auto chooser = std::make_shared<FakeChooser>();
    ScrollSettings start;
    start.setDevice(false, "org.b");
    Recorded r(start, std::make_shared<FakeLoginItem>(), chooser);
    r.model.addApps();
    EXPECT_TRUE(r.events.empty());
    EXPECT_EQ(chooser->message, "Vantor takes the SpaceMouse while these apps are in front.");
    chooser->answer = std::vector<std::string>{"org.a", "", "org.b"};
    r.model.addApps();
    EXPECT_EQ(r.events, std::vector<std::string>{"change"});
    EXPECT_EQ(r.model.settings().allowedApps, (std::set<std::string>{"org.a", "org.b"}));
    EXPECT_FALSE(r.model.settings().excludedApps.count("org.b"));
}

TEST(SettingsModel, startAtLoginRegistersLogsAndReadsTheStatusAgain) {
    std::vector<std::string> lines;
    Log::setSink([&](Log::Level level, std::string_view text) {
        lines.push_back((level == Log::Level::error ? "error " : "info ") + std::string(text));
    });
    auto login = std::make_shared<FakeLoginItem>();
    login->current = LoginItemStatus::requiresApproval;
    Recorded r({}, login);
    auto& m = r.model;
    EXPECT_EQ(m.loginItemStatus(), LoginItemStatus::requiresApproval);
    EXPECT_TRUE(m.startAtLogin());

    login->afterChange = LoginItemStatus::notRegistered;
    m.setStartAtLogin(false);
    EXPECT_FALSE(m.startAtLogin());
    login->afterChange = LoginItemStatus::enabled;
    m.setStartAtLogin(true);
    EXPECT_TRUE(m.startAtLogin());
    login->failure = "not allowed";
    login->afterChange = LoginItemStatus::requiresApproval;
    m.setStartAtLogin(false);
    EXPECT_EQ(m.loginItemStatus(), LoginItemStatus::requiresApproval);
    EXPECT_EQ(login->calls, (std::vector<bool>{false, true, false}));
    EXPECT_EQ(lines, (std::vector<std::string>{"info start at login off", "info start at login on",
                                               "error start at login off failed: not allowed"}));
    EXPECT_TRUE(r.events.empty());
    Log::setSink({});
}

TEST(MainTab, onlyTheExactRawValueNamesATab) {
    EXPECT_EQ(MainTab::fromRawValue("apps"), MainTab::apps);
    for (const char* raw : {"Apps", "", "apps ", "setting"})
        EXPECT_EQ(MainTab::fromRawValue(raw), std::nullopt) << raw;
    EXPECT_EQ(MainTab(MainTab::directions).title(), "Directions");
}

} // namespace
} // namespace vantor
