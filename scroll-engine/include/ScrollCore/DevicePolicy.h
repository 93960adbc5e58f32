#pragma once

#include <array>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace scroll::DevicePolicy {

// Whether the device is taken for an app: switched on, switched off, or not decided yet.
enum class AppChoice { on, off, unconfigured };

// Apps that do their own SpaceMouse handling and are left alone unless the user switches them on;
// the apps that exist on Linux also under their desktop-file ids there.
inline constexpr std::array<std::string_view, 8> defaultExcluded{"com.cockos.reaper",
                                                                 "org.blenderfoundation.blender",
                                                                 "com.autodesk.fusion360",
                                                                 "com.google.GoogleEarthPro",
                                                                 "blender",
                                                                 "org.blender.Blender",
                                                                 "google-earth-pro",
                                                                 "cockos-reaper"};

// off when excluded (this wins), on when allowed, else unconfigured.
AppChoice choice(const std::string& app, const std::set<std::string>& allowed,
                 const std::set<std::string>& excluded);
// Whether the device is taken while `frontmost` is in front: only for an allowed app that is
// not excluded; never without an app in front.
bool takesDevice(const std::optional<std::string>& frontmost, const std::set<std::string>& allowed,
                 const std::set<std::string>& excluded);

} // namespace scroll::DevicePolicy
