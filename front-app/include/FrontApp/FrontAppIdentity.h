#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrix {
class MainLoop;
}

namespace kestrix::core {

class DesktopAppIndex;

// What a source knows of a window, as the desktop gave it (unchecked bytes). Empty when unknown.
struct FrontAppWindow {
    std::optional<std::int32_t> processID;
    std::string appID;       // Wayland app_id, or the desktop-file name the compositor reports
    std::string instance;    // WM_CLASS instance (X11 and XWayland windows)
    std::string windowClass; // WM_CLASS class
};

// Whether the texts are equal with ASCII letters compared without case, as desktop names and
// WM_CLASS values are.
bool equalWithoutCase(std::string_view a, std::string_view b);

// An installed app as the identity rule sees it: its desktop-file id and its StartupWMClass.
struct DesktopApp {
    std::string id;
    std::string startupWMClass; // empty when the entry has none
};

// The desktop-file part of the rule below: the app whose StartupWMClass is the window's class or
// instance (without case), else whose id or its last dot-separated part is the instance or class
// (without case). Earlier apps win (the most personal folder comes first).
std::optional<std::string> matchDesktopApp(const std::vector<DesktopApp>& apps,
                                           const FrontAppWindow& window);

// The application identifier of a process, the Linux counterpart of a bundle identifier: the app's
// desktop-file id without ".desktop" (the reverse-DNS id of modern apps). Tried in order: the
// systemd scope or service that desktops start apps in, the Flatpak id, the Wayland app_id, the
// desktop file whose StartupWMClass is the WM_CLASS class or instance (without case), the desktop
// file whose id or its last dot-separated part is the instance or class (without case), else the
// class itself. Every source names apps with this one rule. Before all of these, a process the
// program named with nameProcess() is that app, whatever its unit or windows say (the program's
// own process, run from a build tree without a desktop entry, or from a terminal's unit). An id is at most maxIDLength bytes of
// UTF-8 without control characters; anything else names no app.
class FrontAppIdentity {
public:
    // procRoot is normally "/proc"; applicationDirs are the folders holding desktop files
    // (normally $XDG_DATA_HOME/applications and each $XDG_DATA_DIRS entry + "/applications"),
    // read once when first needed.
    FrontAppIdentity(std::string procRoot, std::vector<std::string> applicationDirs);
    FrontAppIdentity(std::string procRoot, std::shared_ptr<DesktopAppIndex> installedApps);
    // /proc and the standard folders, kept up to date on a worker of the loop.
    static FrontAppIdentity standard(MainLoop& loop);
    // The folders that hold desktop files, most personal first: $XDG_DATA_HOME/applications (or
    // ~/.local/share/applications), then each $XDG_DATA_DIRS entry + "/applications".
    static std::vector<std::string> standardApplicationDirs();

    // Every window of the process is the app `id` (normally the program's own process and id).
    void nameProcess(std::int32_t processID, std::string id);

    // From the process alone (a named process, cgroup, then Flatpak); absent when none names an
    // app.
    std::optional<std::string> ofProcess(std::int32_t processID) const;

    // The app of a window, by the rule above; absent when nothing names one.
    std::optional<std::string> ofWindow(const FrontAppWindow& window) const;

    static constexpr std::size_t maxIDLength = 255;
    // Whether the text may stand as an app id: 1 to maxIDLength bytes, no control characters.
    static bool isID(std::string_view text);

    // "0::/user.slice/.../app-gnome-org.gnome.Terminal-4711.scope" -> "org.gnome.Terminal";
    // also app-<launcher>-<id>@<random>.service and the forms without a launcher. systemd writes
    // a "-" inside the id as "\x2d".
    static std::optional<std::string> fromCgroup(std::string_view cgroupFile);

    // The "name" of the [Application] group of a .flatpak-info file.
    static std::optional<std::string> fromFlatpakInfo(std::string_view info);

private:
    std::optional<std::string> desktopFileFor(const FrontAppWindow& window) const;

    std::string procRoot_;
    std::shared_ptr<DesktopAppIndex> installedApps_;
    std::optional<std::pair<std::int32_t, std::string>> namedProcess_;
};

} // namespace kestrix::core
