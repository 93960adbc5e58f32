#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vantor {

// The Name of the [Desktop Entry] group of "<id>.desktop" in the first folder that has that file;
// absent when none has it or it names no Name.
std::optional<std::string> desktopEntryName(const std::string& id,
                                            const std::vector<std::string>& dirs);

} // namespace vantor
