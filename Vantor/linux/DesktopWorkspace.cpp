#include "Vantor/Workspace.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>
#include <vector>

#include "DesktopEntry.h"
#include "KestrixCore/FrontApp.h"
#include "Vantor/Log.h"

namespace vantor {

std::vector<std::string> applicationDirs() {
    std::vector<std::string> dirs;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if (dataHome && *dataHome == '/')
        dirs.push_back(std::string(dataHome) + "/applications");
    else if (home)
        dirs.push_back(std::string(home) + "/.local/share/applications");
    const char* dataDirs = std::getenv("XDG_DATA_DIRS");
    std::string list = dataDirs && *dataDirs ? dataDirs : "/usr/local/share:/usr/share";
    std::stringstream stream(list);
    for (std::string dir; std::getline(stream, dir, ':');)
        if (!dir.empty() && dir.front() == '/')
            dirs.push_back(dir + "/applications");
    return dirs;
}

std::optional<std::string> desktopEntryName(const std::string& id,
                                            const std::vector<std::string>& dirs) {
    for (const auto& dir : dirs) {
        std::ifstream file(dir + "/" + id + ".desktop");
        if (!file)
            continue;
        bool inEntry = false;
        for (std::string line; std::getline(file, line);) {
            if (!line.empty() && line.front() == '[')
                inEntry = line == "[Desktop Entry]";
            else if (inEntry && line.rfind("Name=", 0) == 0)
                return line.substr(5);
        }
        return std::nullopt;
    }
    return std::nullopt;
}

