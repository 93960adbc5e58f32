#include "VantorModels/SettingsModel.h"

#include "Vantor/Log.h"

#include <QCoreApplication>

namespace vantor {

using scroll::ScrollSettings;

SettingsModel::SettingsModel(ScrollSettings settings, std::shared_ptr<LoginItem> loginItem,
                             std::shared_ptr<AppChooser> chooser, QObject* parent)
    : QObject(parent)
    , settings_(std::move(settings))
    , loginItemStatus_(loginItem ? loginItem->status() : LoginItemStatus::notFound)
    , loginItem_(std::move(loginItem))
    , chooser_(std::move(chooser)) {}

SettingsModel::~SettingsModel() = default;

void SettingsModel::setSettings(const ScrollSettings& settings) {
    if (settings == settings_) return;
    settings_ = settings;
    Q_EMIT settingsChanged();
}

void SettingsModel::setDeviceName(const QString& name) {
    if (name == deviceName_) return;
    deviceName_ = name;
    Q_EMIT deviceNameChanged();
}

void SettingsModel::setDriverName(const std::optional<QString>& name) {
    if (name == driverName_) return;
    driverName_ = name;
    Q_EMIT driverNameChanged();
}

void SettingsModel::setDeviceProblem(const std::optional<QString>& problem) {
    if (problem == deviceProblem_) return;
    deviceProblem_ = problem;
    Q_EMIT deviceProblemChanged();
}

void SettingsModel::setSettingsFileProblem(const std::optional<QString>& problem) {
    if (problem == settingsFileProblem_) return;
    settingsFileProblem_ = problem;
    Q_EMIT settingsFileProblemChanged();
}

void SettingsModel::setFrontAppProblem(const std::optional<QString>& problem) {
    if (problem == frontAppProblem_) return;
    frontAppProblem_ = problem;
    Q_EMIT frontAppProblemChanged();
}

void SettingsModel::setHasPermission(bool hasPermission) {
    if (hasPermission == hasPermission_) return;
    hasPermission_ = hasPermission;
    Q_EMIT hasPermissionChanged();
}

void SettingsModel::setLoginItemStatus(LoginItemStatus status) {
    if (status == loginItemStatus_) return;
    loginItemStatus_ = status;
    Q_EMIT loginItemStatusChanged();
}

void SettingsModel::setTab(MainTab tab) {
    if (tab != tab_) {
        tab_ = tab;
        Q_EMIT tabChanged();
    }
    previewChanged();
}

void SettingsModel::setSelectedApp(const std::optional<std::string>& app) {
    if (app != selectedApp_) {
        selectedApp_ = app;
        Q_EMIT selectedAppChanged();
    }
    previewChanged();
}

void SettingsModel::previewChanged() {
    if (onPreviewChange) onPreviewChange(previewApp());
}

std::optional<std::string> SettingsModel::previewApp() const {
    return tab_ == MainTab::apps ? selectedApp_ : std::nullopt;
}

ListedApp SettingsModel::app(const std::string& bundleID) {
    auto found = apps.find(bundleID);
    if (found == apps.end()) found = apps.emplace(bundleID, ListedApp(bundleID)).first;
    return found->second;
}

std::vector<ListedApp> SettingsModel::listedApps() {
    std::vector<ListedApp> rows;
    for (const auto& id : settings_.allowedApps)
        rows.push_back(app(id));
    for (const auto& id : settings_.excludedApps) {
        // An app both allowed and excluded has its row already.
        if (settings_.allowedApps.count(id)) continue;
        if (auto listed = app(id); listed.isInstalled) rows.push_back(std::move(listed));
    }
    ListedApp::sortByName(rows);
    return rows;
}

void SettingsModel::edit(const std::function<void(ScrollSettings&)>& change) {
    change(settings_);
    Q_EMIT settingsChanged();
    if (onChange) onChange(settings_);
}

Binding<double> SettingsModel::speedPosition() {
    return {[this] { return ScrollSettings::sliderPosition(settings_.speed); },
            [this](const double& position) {
                edit([&](ScrollSettings& s) {
                    s.speed = ScrollSettings::speedAtSliderPosition(position);
                });
            }};
}

Binding<std::optional<SettingsModel::Role>> SettingsModel::assignment(Movement movement) {
    return {[this, movement] { return settings_.mapping.role(movement); },
            [this, movement](const std::optional<Role>& role) {
                edit([&](ScrollSettings& s) { s.mapping.assign(movement, role); });
            }};
}

Binding<bool> SettingsModel::inverted(Role role) {
    return {[this, role] { return settings_.mapping.invertedRoles.contains(role); },
            [this, role](const bool& on) {
                edit([&](ScrollSettings& s) { s.mapping.setInverted(on, role); });
            }};
}

Binding<bool> SettingsModel::isOn(const std::string& app) {
    return {
        [this, app] { return settings_.deviceChoice(app) == scroll::DevicePolicy::AppChoice::on; },
        [this, app](const bool& on) { edit([&](ScrollSettings& s) { s.setDevice(on, app); }); }};
}

Binding<double> SettingsModel::speedPosition(const std::string& app) {
    return {[this, app] { return ScrollSettings::sliderPosition(settings_.applied(app).speed); },
            [this, app](const double& position) {
                edit([&](ScrollSettings& s) {
                    s.setOwn(AppSetting::speed, app, [&](ScrollSettings& own) {
                        own.speed = ScrollSettings::speedAtSliderPosition(position);
                    });
                });
            }};
}

Binding<bool> SettingsModel::follows(AppSetting setting, const std::string& app) {
    return {[this, setting, app] { return settings_.follows(setting, app); },
            [this, setting, app](const bool& follow) {
                edit([&](ScrollSettings& s) {
                    if (follow)
                        s.follow(setting, app);
                    else
                        s.setOwn(setting, app, [](ScrollSettings&) {});
                });
            }};
}

bool SettingsModel::startAtLogin() const {
    return loginItemStatus_ == LoginItemStatus::enabled ||
           loginItemStatus_ == LoginItemStatus::requiresApproval;
}

void SettingsModel::setStartAtLogin(bool on) {
    std::string what = std::string("start at login ") + (on ? "on" : "off");
    std::optional<std::string> failure = "no login item";
    if (loginItem_) failure = on ? loginItem_->registerItem() : loginItem_->unregisterItem();
    if (failure)
        Log::error(what + " failed: " + *failure);
    else
        Log::info(what);
    setLoginItemStatus(loginItem_ ? loginItem_->status() : LoginItemStatus::notFound);
}

void SettingsModel::openLoginItemSettings() {
    if (loginItem_) loginItem_->openSystemSettings();
}

void SettingsModel::resetMovements() {
    edit([](ScrollSettings& s) { s.mapping = ScrollSettings().mapping; });
}

void SettingsModel::followDefaults(const std::string& app) {
    edit([&](ScrollSettings& s) { s.follow(std::nullopt, app); });
}

void SettingsModel::remove(const std::string& app) {
    edit([&](ScrollSettings& s) {
        s.allowedApps.erase(app);
        s.excludedApps.erase(app);
        s.appSettings.erase(app);
    });
    if (selectedApp_ == app) setSelectedApp(std::nullopt);
}

void SettingsModel::addApps() {
    if (!chooser_) return;
    auto chosen = chooser_->chooseApps(addAppsMessage());
    if (!chosen) return;
    edit([&](ScrollSettings& s) {
        for (const auto& id : *chosen)
            if (!id.empty()) s.setDevice(true, id);
    });
}

void SettingsModel::setAppChooser(std::shared_ptr<AppChooser> chooser) {
    chooser_ = std::move(chooser);
}

QString SettingsModel::addAppsMessage() {
    return QCoreApplication::translate(
        "Vantor", "Vantor takes the SpaceMouse while these apps are in front.");
}

} // namespace vantor
