#pragma once

#include "ScrollCore/AxisMapping.h"
#include "ScrollCore/ScrollSettings.h"
#include "VantorModels/AppChooser.h"
#include "VantorModels/ListedApp.h"
#include "VantorModels/LoginItem.h"
#include "VantorModels/MainTab.h"

#include <QObject>
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantor {

// A two-way binding a control reads and writes: `set` goes through the model's edit path. A
// binding refers to its model and must not outlive it.
template <class T> struct Binding {
    std::function<T()> get;
    std::function<void(const T&)> set;
};

// One field of ScrollSettings, read and written; a stored member or a computed pair.
template <class T> struct SettingsField {
    std::function<T(const scroll::ScrollSettings&)> get;
    std::function<void(scroll::ScrollSettings&, const T&)> set;

    SettingsField(T scroll::ScrollSettings::*member)
        : get([member](const scroll::ScrollSettings& s) { return s.*member; })
        , set([member](scroll::ScrollSettings& s, const T& value) { s.*member = value; }) {}
    SettingsField(T (scroll::ScrollSettings::*getter)() const,
                  void (scroll::ScrollSettings::*setter)(T))
        : get([getter](const scroll::ScrollSettings& s) { return (s.*getter)(); })
        , set([setter](scroll::ScrollSettings& s, const T& value) { (s.*setter)(value); }) {}
};

// The fields the windows bind to.
namespace fields {
inline const SettingsField<double> speed{&scroll::ScrollSettings::speed};
inline const SettingsField<scroll::ScrollSettings::Response> response{
    &scroll::ScrollSettings::response};
inline const SettingsField<scroll::ScrollSettings::Momentum> momentum{
    &scroll::ScrollSettings::momentum};
inline const SettingsField<bool> diagonal{&scroll::ScrollSettings::diagonal};
inline const SettingsField<bool> scrollsWhileZooming{
    &scroll::ScrollSettings::scrollsWhileZooming, &scroll::ScrollSettings::setScrollsWhileZooming};
inline const SettingsField<bool> rotatesWhileZooming{
    &scroll::ScrollSettings::rotatesWhileZooming, &scroll::ScrollSettings::setRotatesWhileZooming};
inline const SettingsField<bool> newAppsOn{&scroll::ScrollSettings::newAppsOn};
} // namespace fields

// What the settings window shows and edits: a working copy of the settings, a few facts about
// the system, the open tab and the selected app. Every edit made in the window goes through one
// path: the settings change in place, observers hear settingsChanged, then onChange gets the
// whole new settings (always, even when nothing changed). The model stores nothing itself.
class SettingsModel final : public QObject {
    Q_OBJECT

public:
    using AppSetting = scroll::ScrollSettings::AppSetting;
    using Role = scroll::AxisMapping::Role;
    using Movement = scroll::AxisMapping::Movement;

    // The login item gives the status at construction and performs "start at login"; without
    // one the status is notFound. The chooser answers addApps; without one addApps does
    // nothing.
    explicit SettingsModel(scroll::ScrollSettings settings,
                           std::shared_ptr<LoginItem> loginItem = nullptr,
                           std::shared_ptr<AppChooser> chooser = nullptr,
                           QObject* parent = nullptr);
    ~SettingsModel() override;

    // Called with the new settings after every edit made in the window.
    std::function<void(const scroll::ScrollSettings&)> onChange;
    // The permission banner's "Allow Device Access…" action.
    std::function<void()> onOpenAccessibility;
    // Called with previewApp() after every assignment of the tab or the selected app.
    std::function<void(const std::optional<std::string>&)> onPreviewChange;

    // Plain fields: each assignment notifies only when the value differs, and calls no callback.
    const scroll::ScrollSettings& settings() const { return settings_; }
    void setSettings(const scroll::ScrollSettings& settings);
    const QString& deviceName() const { return deviceName_; }
    void setDeviceName(const QString& name);
    // Absent hides the driver line.
    const std::optional<QString>& driverName() const { return driverName_; }
    void setDriverName(const std::optional<QString>& name);
    // Why no app in front can be seen, shown with the driver line; absent while it can.
    const std::optional<QString>& frontAppProblem() const { return frontAppProblem_; }
    void setFrontAppProblem(const std::optional<QString>& problem);
    // Why the SpaceMouse is not available (what to do about it), shown with the device line.
    const std::optional<QString>& deviceProblem() const { return deviceProblem_; }
    void setDeviceProblem(const std::optional<QString>& problem);
    // Why the stored settings are not in use (and where a broken file's copy is); absent while
    // they are.
    const std::optional<QString>& settingsFileProblem() const { return settingsFileProblem_; }
    void setSettingsFileProblem(const std::optional<QString>& problem);
    bool hasPermission() const { return hasPermission_; }
    void setHasPermission(bool hasPermission);
    LoginItemStatus loginItemStatus() const { return loginItemStatus_; }
    void setLoginItemStatus(LoginItemStatus status);

    // Each assignment stores the value (notifying only when it differs) and then, always, calls
    // onPreviewChange(previewApp()).
    MainTab tab() const { return tab_; }
    void setTab(MainTab tab);
    const std::optional<std::string>& selectedApp() const { return selectedApp_; }
    void setSelectedApp(const std::optional<std::string>& app);

    // The selected app while the Apps tab is open, else absent (the defaults).
    std::optional<std::string> previewApp() const;

    // Names and icons of apps by id, looked up on first use. Not observed; emptying it makes
    // the next use look the apps up afresh.
    std::map<std::string, ListedApp> apps;
    ListedApp app(const std::string& bundleID);

    // The rows of the Apps tab: the allowed apps and the installed excluded apps, by name
    // (numbers in names compare as numbers; equal names keep their order).
    std::vector<ListedApp> listedApps();

    // The one edit path.
    void edit(const std::function<void(scroll::ScrollSettings&)>& change);

    // Bindings.
    template <class T> Binding<T> binding(const SettingsField<T>& field) {
        return {[this, field] { return field.get(settings_); },
                [this, field](const T& value) {
                    edit([&](scroll::ScrollSettings& s) { field.set(s, value); });
                }};
    }
    // The default speed as a slider position 0...1.
    Binding<double> speedPosition();
    // The role a cap movement drives, absent for none.
    Binding<std::optional<Role>> assignment(Movement movement);
    Binding<bool> inverted(Role role);
    // The app's switch: on exactly while its device choice is on.
    Binding<bool> isOn(const std::string& app);
    // One app's value of a field in a setting group; writing makes the group the app's own.
    template <class T>
    Binding<T> own(AppSetting setting, const std::string& app, const SettingsField<T>& field) {
        return {[this, app, field] { return field.get(settings_.applied(app)); },
                [this, setting, app, field](const T& value) {
                    edit([&](scroll::ScrollSettings& s) {
                        s.setOwn(setting, app,
                                 [&](scroll::ScrollSettings& own) { field.set(own, value); });
                    });
                }};
    }
    // Like own, but absent while the app follows the default; writing absent follows it again.
    template <class T>
    Binding<std::optional<T>> ownOrDefault(AppSetting setting, const std::string& app,
                                           const SettingsField<T>& field) {
        return {[this, setting, app, field]() -> std::optional<T> {
                    if (settings_.follows(setting, app)) return std::nullopt;
                    return field.get(settings_.applied(app));
                },
                [this, setting, app, field](const std::optional<T>& value) {
                    edit([&](scroll::ScrollSettings& s) {
                        if (!value)
                            s.follow(setting, app);
                        else
                            s.setOwn(setting, app,
                                     [&](scroll::ScrollSettings& own) { field.set(own, *value); });
                    });
                }};
    }
    // The app's speed as a slider position; writing makes the speed its own.
    Binding<double> speedPosition(const std::string& app);
    // The "Default" switch of a setting group: switching it off makes the app's current values
    // its own.
    Binding<bool> follows(AppSetting setting, const std::string& app);

    // True while the login item is enabled or waiting for approval. Switching registers or
    // unregisters it, logs the outcome and reads the status again.
    bool startAtLogin() const;
    void setStartAtLogin(bool on);
    // Shows where the user approves login items.
    void openLoginItemSettings();

    // Operations, each ending with onChange.
    // The movements and inversions of default settings.
    void resetMovements();
    // The app follows the defaults for every setting.
    void followDefaults(const std::string& app);
    // The app loses its choice and its own settings; a selected app is deselected afterwards.
    void remove(const std::string& app);
    // Asks the chooser for apps and switches each one on; nothing when the user cancels.
    void addApps();
    void setAppChooser(std::shared_ptr<AppChooser> chooser);

    // The chooser's message.
    static QString addAppsMessage();

Q_SIGNALS:
    void settingsChanged();
    void deviceNameChanged();
    void driverNameChanged();
    void frontAppProblemChanged();
    void deviceProblemChanged();
    void settingsFileProblemChanged();
    void hasPermissionChanged();
    void loginItemStatusChanged();
    void tabChanged();
    void selectedAppChanged();

private:
    void previewChanged();

    scroll::ScrollSettings settings_;
    QString deviceName_;
    std::optional<QString> driverName_;
    std::optional<QString> frontAppProblem_;
    std::optional<QString> deviceProblem_;
    std::optional<QString> settingsFileProblem_;
    bool hasPermission_ = true;
    LoginItemStatus loginItemStatus_ = LoginItemStatus::notFound;
    MainTab tab_ = MainTab::defaults;
    std::optional<std::string> selectedApp_;
    std::shared_ptr<LoginItem> loginItem_;
    std::shared_ptr<AppChooser> chooser_;
};

} // namespace vantor
