#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix::core {

// The application identifier of a process, the Linux counterpart of a bundle identifier: the app's
// desktop-file id without ".desktop" (the reverse-DNS id of modern apps). Tried in order: the
// systemd scope or service that desktops start apps in, the Flatpak id, and for a window the
// desktop file naming its WM_CLASS, else the WM_CLASS class itself.
class FrontAppIdentity {
public:
    // procRoot is normally "/proc"; applicationDirs are the folders holding desktop files
    // (normally $XDG_DATA_HOME/applications and each $XDG_DATA_DIRS entry + "/applications").
    FrontAppIdentity(std::string procRoot, std::vector<std::string> applicationDirs);
    static FrontAppIdentity standard();
    // The folders that hold desktop files, most personal first: $XDG_DATA_HOME/applications (or
    // ~/.local/share/applications), then each $XDG_DATA_DIRS entry + "/applications".
    static std::vector<std::string> standardApplicationDirs();

    // From the process alone (cgroup, then Flatpak); absent when neither names an app.
    std::optional<std::string> ofProcess(std::int32_t processID) const;

    // From the process, else from the window's WM_CLASS class (may be empty).
    std::optional<std::string> ofWindow(std::optional<std::int32_t> processID,
                                        const std::string& windowClass) const;

    // "0::/user.slice/.../app-gnome-org.gnome.Terminal-4711.scope" -> "org.gnome.Terminal";
    // also app-<launcher>-<id>@<random>.service and the forms without a launcher. systemd writes
    // a "-" inside the id as "\x2d".
    static std::optional<std::string> fromCgroup(std::string_view cgroupFile);

    // The "name" of the [Application] group of a .flatpak-info file.
    static std::optional<std::string> fromFlatpakInfo(std::string_view info);

private:
    std::optional<std::string> desktopFileFor(const std::string& windowClass) const;

    std::string procRoot_;
    std::vector<std::string> applicationDirs_;
};

} // namespace kestrix::core
