#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vantor {

// Whether the app starts when the user logs in.
enum class LoginItemStatus {
    notRegistered,    // no entry: the app does not start at login
    enabled,          // the app starts at login
    requiresApproval, // registered, but the user still has to allow it (not on Linux)
    notFound,         // the program the entry would start cannot be found
};

// The app's entry among the programs started at login.
class LoginItem {
public:
    // On vantor's command line: this start is a start at login.
    static constexpr std::string_view launchFlag = "--login-item";

    virtual ~LoginItem() = default;
    virtual LoginItemStatus status() const = 0;
    // Each returns the reason when it fails, nothing when it succeeds.
    virtual std::optional<std::string> registerItem() = 0;
    virtual std::optional<std::string> unregisterItem() = 0;
    // Shows where the user approves login items (nothing to show on Linux).
    virtual void openSystemSettings() {}
};

// The XDG autostart entry: <autostart folder>/me.orvella.Vantor.desktop, starting the program
// with launchFlag. Enabled while the entry exists and is not switched off (Hidden=true or
// X-GNOME-Autostart-enabled=false).
class AutostartLoginItem final : public LoginItem {
public:
    static constexpr std::string_view fileName = "me.orvella.Vantor.desktop";

    // `executable`: the absolute path of vantor; `autostartFolder`: normally
    // standardAutostartFolder().
    AutostartLoginItem(std::string executable, std::string autostartFolder);
    // This program ($XDG_CONFIG_HOME/autostart, or ~/.config/autostart).
    AutostartLoginItem();

    static std::string standardAutostartFolder();
    std::string entryPath() const;

    LoginItemStatus status() const override;
    std::optional<std::string> registerItem() override;
    std::optional<std::string> unregisterItem() override;

private:
    std::string executable_;
    std::string folder_;
};

} // namespace vantor
