#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vantor {

// The folders that hold desktop entries, most personal first: $XDG_DATA_HOME/applications (or
// ~/.local/share/applications), then each absolute $XDG_DATA_DIRS entry + "/applications".
std::vector<std::string> applicationDirs();

// The Name of the [Desktop Entry] group of "<id>.desktop" in the first folder that has that file;
// absent when none has it or it names no Name.
std::optional<std::string> desktopEntryName(const std::string& id,
                                            const std::vector<std::string>& dirs);

} // namespace vantor
